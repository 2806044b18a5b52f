// Colour-mode data (the palette) and the image resources, with the three
// resources that describe extra channels.
#include <algorithm>

#include "platform/byteorder.h"
#include "psddecode/psd_internal.h"

psd_status psd_stage_color_data(psd_file_context* c) {
  int32_t length = psd_get_s32(c);
  c->palette_count = length;
  if (length <= 0) {
    c->palette_count = 0;
    return 0;
  }
  int64_t section_end = int64_t(c->consumed) + length;
  // A length beyond the file cannot be a colour table: take what is there.
  int64_t n = psd_bound_count(length / 3, 3, psd_bytes_left(c));
  c->palette_count = int32_t(n);
  if (n > 0) {
    c->palette = static_cast<psd_argb*>(psd_alloc(n, sizeof(psd_argb)));
    auto* bytes = static_cast<uint8_t*>(psd_alloc(n, 3));
    if (!c->palette || !bytes) {
      psd_free(c->palette);
      psd_free(bytes);
      c->palette = nullptr;
      c->palette_count = 0;
      return psd_status_malloc_failed;
    }
    psd_stream_read(c, bytes, int32_t(3 * n));
    for (int64_t i = 0; i < n; ++i)
      c->palette[i] = 0xFF000000u | uint32_t(bytes[i]) << 16 | uint32_t(bytes[n + i]) << 8 |
                      bytes[2 * n + i];
    psd_free(bytes);
  }
  psd_skip_to(c, section_end);
  return 0;
}

namespace {

psd_status create_extra_channels(psd_file_context* c, int64_t count) {
  if (c->extra_channels || count <= 0) return 0;
  // More extra channels than the header's channels have no planes to fill.
  count = std::min<int64_t>(count, c->channels);
  c->extra_channels = static_cast<psd_extra_channel*>(psd_alloc(count, sizeof(psd_extra_channel)));
  if (!c->extra_channels) return psd_status_malloc_failed;
  c->extra_channel_count = int16_t(count);
  c->first_extra_channel = int16_t(c->channels - count);
  return 0;
}

uint8_t* read_whole(psd_file_context* c, int32_t size) {
  auto* data = static_cast<uint8_t*>(psd_alloc(size, 1));
  if (data) psd_stream_read(c, data, size);
  return data;
}

psd_status read_channel_names(psd_file_context* c, int32_t size) {
  int64_t count = 0;
  // Each name is a length byte and its bytes; the walk moves at least one.
  uint8_t* data = read_whole(c, size);
  if (!data) return psd_status_malloc_failed;
  for (int64_t pos = 0; pos + 1 < size; pos += 1 + data[pos]) ++count;
  psd_status s = create_extra_channels(c, count);
  if (s == 0) {
    int64_t pos = 0;
    for (int32_t i = 0; i < c->extra_channel_count && pos < size; ++i) {
      int64_t len = std::min<int64_t>(data[pos], size - pos - 1);
      std::memcpy(c->extra_channels[i].name, data + pos + 1, size_t(len));
      pos += 1 + data[pos];
    }
    c->has_extra_channels = true;
  }
  psd_free(data);
  return s;
}

psd_status read_channel_unicode_names(psd_file_context* c, int32_t size) {
  uint8_t* data = read_whole(c, size);
  if (!data) return psd_status_malloc_failed;
  int64_t count = 0;
  for (int64_t pos = 0; pos < size;) {
    ++count;
    uint32_t chars = pos + 4 <= size ? pw::LoadBE32(data + pos) : 0;
    pos += 4 + 2 * int64_t(chars);
  }
  psd_status s = create_extra_channels(c, count);
  int64_t pos = 0;
  for (int32_t i = 0; s == 0 && i < c->extra_channel_count && pos + 4 <= size; ++i) {
    int64_t chars = pw::LoadBE32(data + pos);
    int64_t have = std::min<int64_t>(chars, (size - pos - 4) / 2);
    psd_extra_channel& ch = c->extra_channels[i];
    // A second 1045 resource replaces the names of the first.
    psd_free(ch.unicode_name);
    ch.unicode_name = nullptr;
    ch.unicode_name_length = 0;
    if (have > 0) {
      ch.unicode_name = static_cast<uint16_t*>(psd_alloc(have, 2));
      if (!ch.unicode_name) {
        s = psd_status_malloc_failed;
        break;
      }
      std::memcpy(ch.unicode_name, data + pos + 4, size_t(2 * have));
      ch.unicode_name_length = int32_t(have);
    }
    pos += 4 + 2 * chars;
  }
  if (s == 0) c->has_extra_channels = true;
  psd_free(data);
  return s;
}

psd_status read_channel_ids(psd_file_context* c, int32_t size) {
  psd_status s = create_extra_channels(c, size / 4);
  if (s != 0) return s;
  for (int32_t i = 0; i < c->extra_channel_count && 4 * (i + 1) <= size; ++i)
    c->extra_channels[i].channel_id = psd_get_s32(c);
  c->has_extra_channels = true;
  return 0;
}

psd_status read_thumbnail(psd_file_context* c, int32_t size) {
  // Too small to hold the fixed fields: nothing to keep, the block is skipped.
  if (size < 28) return 0;
  c->thumb_format = psd_get_s32(c);
  c->thumb_width = psd_get_s32(c);
  c->thumb_height = psd_get_s32(c);
  c->thumb_row_bytes = psd_get_s32(c);
  c->thumb_total_size = psd_get_s32(c);
  c->thumb_compressed_size = psd_get_s32(c);
  c->thumb_bits_per_pixel = psd_get_s16(c);
  c->thumb_planes = psd_get_s16(c);
  psd_free(c->thumb_data);
  c->thumb_data = static_cast<uint8_t*>(psd_alloc(size - 28, 1));
  if (!c->thumb_data) return psd_status_malloc_failed;
  psd_stream_read(c, c->thumb_data, size - 28);
  c->has_thumbnail = true;
  return 0;
}

psd_status read_version_info(psd_file_context* c, int64_t end) {
  c->version = psd_get_s32(c);
  c->has_real_merged_data = psd_get_bool(c);
  psd_status s = psd_read_unicode_string(c, end, &c->writer_name_length, &c->writer_name);
  if (s == 0) s = psd_read_unicode_string(c, end, &c->reader_name_length, &c->reader_name);
  if (s != 0) return s;
  c->file_version = psd_get_s32(c);
  c->has_version_info = true;
  return 0;
}

void read_pascal_string(psd_file_context* c, char out[256]) {
  uint8_t len = psd_get_u8(c);
  std::memset(out, 0, 256);
  psd_stream_read(c, out, len);
}

bool handled_in_mode(int32_t mode, int32_t id) {
  switch (mode) {
    case psd_load_merged_and_extra_channels: return id == 1006 || id == 1045 || id == 1053;
    case psd_load_thumbnail: return id == 1033 || id == 1036;
    case psd_load_exif_and_xmp: return id == 1058 || id == 1059;
    case psd_load_layers: return id != 1033 && id != 1036;
    default: return true;
  }
}

psd_status handle_resource(psd_file_context* c, int32_t id, int32_t size, int64_t end) {
  switch (id) {
    case 1005:
      c->h_resolution = float(psd_get_s32(c)) / 65536.0f;
      c->h_resolution_unit = psd_get_s16(c);
      c->width_unit = psd_get_s16(c);
      c->v_resolution = float(psd_get_s32(c)) / 65536.0f;
      c->v_resolution_unit = psd_get_s16(c);
      c->height_unit = psd_get_s16(c);
      c->has_resolution = true;
      return 0;
    case 1006: return read_channel_names(c, size);
    case 1007:
      c->display_color = psd_get_color(c);
      c->display_opacity = psd_get_s16(c);
      c->display_kind = psd_get_u8(c);
      psd_get_u8(c);
      c->has_display_info = true;
      return 0;
    case 1008: read_pascal_string(c, c->caption); return 0;
    case 1024: c->target_layer = psd_get_s16(c); return 0;
    case 1026: {
      int64_t n = size / 2;
      psd_free(c->layer_group_ids);
      c->layer_group_ids = static_cast<int16_t*>(psd_alloc(n, 2));
      if (!c->layer_group_ids) {
        c->layer_group_count = 0;
        return psd_status_malloc_failed;
      }
      c->layer_group_count = int32_t(n);
      for (int64_t i = 0; i < n; ++i) c->layer_group_ids[i] = psd_get_s16(c);
      c->has_layer_groups = true;
      return 0;
    }
    case 1033:
    case 1036: return read_thumbnail(c, size);
    case 1034: c->rights_flag = psd_get_bool(c); return 0;
    case 1037: c->global_angle = psd_get_s32(c); return 0;
    case 1042: c->effects_visible = psd_get_bool(c); return 0;
    case 1045: return read_channel_unicode_names(c, size);
    case 1046:
      c->index_color_count = psd_get_s16(c);
      c->has_index_color_count = true;
      return 0;
    case 1047:
      c->transparent_index = psd_get_s16(c);
      c->has_transparent_index = true;
      return 0;
    case 1049: c->global_altitude = psd_get_s32(c); return 0;
    case 1053: return read_channel_ids(c, size);
    case 1057: return read_version_info(c, end);
    default: return 0;
  }
}

}  // namespace

psd_status psd_stage_resources(psd_file_context* c) {
  int32_t length = psd_get_s32(c);
  if (length < 1) return 0;
  c->global_angle = 30;
  c->global_altitude = 30;
  int64_t section_end = int64_t(c->consumed) + length;
  int64_t remaining = length;
  while (remaining > 0) {
    if (!psd_read_signature(c, "8BIM")) return psd_status_resource_signature_mismatch;
    int32_t id = psd_get_be16(c);
    int32_t name_length = psd_get_u8(c);
    int32_t name_skip = (name_length & 1) ? name_length : name_length + 1;
    psd_stream_skip(c, name_skip);
    int64_t size = psd_get_be32(c);
    int64_t padded = size + (size & 1);
    remaining -= 4 + 2 + 1 + name_skip + 4 + padded;
    // A block claiming more than its section holds is cut at the section end.
    int64_t room = psd_bytes_left_until(c, section_end);
    if (padded > room) padded = size = room > 0 ? room : 0;
    int64_t start = c->consumed;
    if (padded <= 0) continue;
    if (handled_in_mode(c->load_mode, id)) {
      psd_status s = handle_resource(c, id, int32_t(size), start + padded);
      if (s != 0) return s;
    }
    psd_skip_to(c, start + padded);
  }
  psd_skip_to(c, section_end);
  return 0;
}
