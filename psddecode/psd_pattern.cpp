// Patterns of the global "Patt" and "Pat2" blocks: a small image each, with
// its own mode, size, name and channels.
#include <algorithm>

#include "psddecode/psd_internal.h"

namespace {

// Planes a pattern's mode allocates, and so the most channels it decodes.
int32_t planes_for_mode(int32_t mode) {
  switch (mode) {
    case psd_color_grayscale: case psd_color_duotone: return 2;
    case psd_color_rgb: case psd_color_multichannel: case psd_color_lab: return 4;
    case psd_color_cmyk: return 5;
    default: return 1;
  }
}

bool valid_mode(int32_t mode) {
  return (mode >= 0 && mode <= 4) || (mode >= 7 && mode <= 9);
}

}  // namespace

psd_status psd_read_pattern(psd_file_context* c, int64_t section_end) {
  int64_t length = psd_get_be32(c);
  length = (length + 3) & ~int64_t(3);
  const int64_t start = c->consumed;
  const int64_t end = std::min(start + length, section_end);
  if (psd_get_be32(c) != 1) {
    psd_skip_to(c, end);
    return psd_status_pattern_version_mismatch;
  }
  if (c->pattern_count >= c->pattern_capacity) {
    int32_t capacity = c->pattern_capacity <= 2 ? 4 : 2 * c->pattern_capacity;
    auto* grown = static_cast<psd_pattern*>(psd_alloc(capacity, sizeof(psd_pattern)));
    if (!grown) return psd_status_malloc_failed;
    if (c->patterns) std::memcpy(grown, c->patterns, sizeof(psd_pattern) * c->pattern_capacity);
    psd_free(c->patterns);
    c->patterns = grown;
    c->pattern_capacity = capacity;
  }
  psd_pattern* p = &c->patterns[c->pattern_count];
  psd_free(p->name);
  psd_free(p->pixels);
  *p = psd_pattern{};
  p->image_mode = psd_get_s32(c);
  if (!valid_mode(p->image_mode)) {
    psd_skip_to(c, end);
    return psd_status_unsupported_color_mode;
  }
  p->height = psd_get_s16(c);
  p->width = psd_get_s16(c);
  psd_status s = psd_read_unicode_string(c, end, &p->name_length, &p->name);
  if (s != 0) return s;
  uint8_t id_length = psd_get_u8(c);
  psd_stream_read(c, p->identifier, id_length);
  psd_argb table[256];
  const bool indexed = p->image_mode == psd_color_indexed;
  if (indexed) {
    uint8_t rgb[768] = {};
    psd_stream_read(c, rgb, 768);
    for (int i = 0; i < 256; ++i)
      table[i] = 0xFF000000u | uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 |
                 rgb[3 * i + 2];
  }
  p->version = psd_get_s32(c);
  psd_stream_skip(c, 4);
  p->top = int16_t(psd_get_be32(c));
  p->left = int16_t(psd_get_be32(c));
  p->bottom = int16_t(psd_get_be32(c));
  p->right = int16_t(psd_get_be32(c));
  const int64_t channel_count = psd_bound_count(psd_get_s32(c), 8, psd_bytes_left_until(c, end));
  // Damaged sizes give a pattern without pixels rather than a huge buffer.
  const int32_t max_planes = planes_for_mode(p->image_mode);
  const bool sized = p->width > 0 && p->height > 0 && p->width <= psd_max_dimension &&
                     p->height <= psd_max_dimension &&
                     psd_plausible_size(int64_t(p->width) * p->height * (2 * max_planes + 4), length);
  int32_t pixel_depth = -1;
  for (int64_t k = 0; k < channel_count; ++k) {
    const bool written = (psd_get_be32(c) & 0xFF) == 1;
    const int64_t channel_length = psd_get_be32(c);
    if (channel_length >= 23) {
      int32_t depth = psd_get_s32(c);
      psd_stream_skip(c, 18);
      int32_t compression = psd_get_u8(c);
      const int64_t data_length = channel_length - 23;
      if (written && pixel_depth < 0) pixel_depth = depth;
      if (written && sized && p->channels_read < max_planes) {
        if (p->channels_read == 0) {
          c->plane_size = int32_t(psd_plane_bytes(p->width, p->height, c->depth));
          if (!psd_reserve(&c->channel_data, &c->channel_data_size,
                           int64_t(c->plane_size) * max_planes, 0))
            return psd_status_malloc_failed;
          std::memset(c->channel_data, 0, size_t(c->channel_data_size));
        }
        if (data_length > psd_bytes_left(c)) return psd_status_no_data;
        if (!psd_reserve(&c->packed_data, &c->packed_data_size, data_length, 0))
          return psd_status_malloc_failed;
        if (psd_stream_read(c, c->packed_data, int32_t(data_length)) != data_length)
          return psd_status_no_data;
        uint8_t* out = c->channel_data + int64_t(p->channels_read) * c->plane_size;
        int64_t limit = int64_t(p->width) * p->height * (c->depth == 16 ? 2 : 1);
        limit = std::min<int64_t>(limit, c->plane_size);
        switch (compression) {
          case 0: std::memcpy(out, c->packed_data, size_t(std::min(limit, data_length))); break;
          case 1: psd_unpack_rows(c->packed_data, data_length, out, limit, p->height); break;
          case 2: s = psd_inflate(c->packed_data, data_length, out, limit); break;
          case 3:
            s = psd_inflate_predicted(c->packed_data, data_length, out, limit, p->width, c->depth);
            break;
          default: s = psd_status_unsupported_compression; break;
        }
        if (s != 0) return s;
        ++p->channels_read;
      } else {
        psd_skip_to(c, int64_t(c->consumed) + data_length);
      }
    }
    if (end - c->consumed <= 12) break;
  }
  if (sized && p->channels_read > 0) {
    p->pixels = static_cast<psd_argb*>(psd_alloc(int64_t(p->width) * p->height, sizeof(psd_argb)));
    if (!p->pixels) return psd_status_malloc_failed;
    s = psd_convert_pattern(c, p, p->channels_read, pixel_depth, indexed ? table : nullptr);
    if (s != 0) return s;
  }
  ++c->pattern_count;
  psd_skip_to(c, end);
  return 0;
}
