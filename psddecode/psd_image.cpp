// The merged image at the end of the file (with the extra-channel planes
// and, for a file without layers, a synthesised layer), and the channel
// image data of each layer.
#include <algorithm>

#include "psddecode/psd_internal.h"

int64_t psd_plane_bytes(int32_t width, int32_t height, int32_t depth) {
  if (width <= 0 || height <= 0) return 0;
  if (depth == 1) return int64_t(height) * ((int64_t(width) + 7) / 8);
  return int64_t(width) * height * (depth == 16 ? 2 : 1);
}

namespace {

// Decodes one compression method's data into out (out_length bytes).
psd_status decode_planes(int32_t method, const uint8_t* in, int64_t in_length, uint8_t* out,
                         int64_t out_length, int64_t rows, int32_t row_width, int32_t depth) {
  switch (method) {
    case 0:
      std::memcpy(out, in, size_t(std::min(in_length, out_length)));
      return 0;
    case 1: psd_unpack_rows(in, in_length, out, out_length, rows); return 0;
    case 2: return psd_inflate(in, in_length, out, out_length);
    case 3: return psd_inflate_predicted(in, in_length, out, out_length, row_width, depth);
    default: return psd_status_unsupported_compression;
  }
}

psd_status synthesise_layer(psd_file_context* c) {
  c->layers = static_cast<psd_layer_record*>(psd_alloc(1, sizeof(psd_layer_record)));
  if (!c->layers) return psd_status_malloc_failed;
  psd_layer_record* l = c->layers;
  c->layer_count = 1;
  l->bottom = l->height = c->height;
  l->right = l->width = c->width;
  l->opacity = 255;
  l->fill_opacity = 255;
  l->visible = true;
  l->blend_clipped = true;
  l->transparency_shapes = true;
  l->mask_disabled = true;
  l->mask_default_color = 255;
  l->divider_blend_mode = psd_blend_pass_through;
  l->gray_source_white = l->gray_dest_white = 0xFFFF;
  const int32_t n = std::max<int32_t>(c->first_extra_channel, 0);
  l->channel_count = int16_t(n);
  l->channel_infos = static_cast<psd_channel_info*>(psd_alloc(n, sizeof(psd_channel_info)));
  l->blend_range_count = n;
  l->source_black = static_cast<uint16_t*>(psd_alloc(n, 2));
  l->source_white = static_cast<uint16_t*>(psd_alloc(n, 2));
  l->dest_black = static_cast<uint16_t*>(psd_alloc(n, 2));
  l->dest_white = static_cast<uint16_t*>(psd_alloc(n, 2));
  if (!l->channel_infos || !l->source_black || !l->source_white || !l->dest_black ||
      !l->dest_white)
    return psd_status_malloc_failed;
  // Colour channels first, then the transparency, in the order the planes
  // are stored.
  const bool alpha = psd_merged_has_alpha(c);
  for (int32_t k = 0; k < n; ++k) {
    l->channel_infos[k].id = int16_t(alpha && k == n - 1 ? -1 : k);
    l->source_white[k] = l->dest_white[k] = 0xFFFF;
  }
  if (c->load_mode == psd_load_layers) {
    l->pixels = c->merged_image;
    c->merged_image = nullptr;
  } else {
    int64_t count = int64_t(c->width) * c->height;
    l->pixels = static_cast<psd_argb*>(psd_alloc(count, sizeof(psd_argb)));
    if (!l->pixels) return psd_status_malloc_failed;
    std::memcpy(l->pixels, c->merged_image, size_t(count) * sizeof(psd_argb));
  }
  return 0;
}

}  // namespace

psd_status psd_stage_image_data(psd_file_context* c) {
  if (c->load_mode == psd_load_thumbnail || c->load_mode == psd_load_exif_and_xmp) return 0;
  if (c->load_mode == psd_load_layers && c->layer_count > 0) return 0;
  const int64_t plane = psd_plane_bytes(c->width, c->height, c->depth);
  c->plane_size = int32_t(plane);
  const int32_t method = psd_get_be16(c);
  const int64_t total = plane * c->channels;
  if (!psd_plausible_size(total + int64_t(c->width) * c->height * 4, psd_bytes_left(c)))
    return psd_status_no_data;
  psd_free(c->channel_data);
  c->channel_data = static_cast<uint8_t*>(psd_alloc(total, 1));
  c->channel_data_size = c->channel_data ? total : 0;
  if (!c->channel_data) return psd_status_malloc_failed;
  psd_status s = 0;
  c->merged_image_short = false;
  if (method == 0) {
    // Short data leaves the rest of the planes zeroed.
    int64_t done = 0;
    while (done < total) {
      int32_t step = int32_t(std::min<int64_t>(total - done, INT32_MAX));
      int32_t got = psd_stream_read(c, c->channel_data + done, step);
      if (got <= 0) break;
      done += got;
    }
    c->merged_image_short = done < total;
  } else if (method >= 1 && method <= 3) {
    int64_t rest = std::max<int64_t>(psd_bytes_left(c), 0);
    auto* packed = static_cast<uint8_t*>(psd_alloc(rest, 1));
    if (!packed) {
      psd_free(c->channel_data);
      c->channel_data = nullptr;
      c->channel_data_size = 0;
      return psd_status_malloc_failed;
    }
    int64_t got = rest > 0 ? psd_stream_read(c, packed, int32_t(rest)) : 0;
    if (method == 1) {
      // Run-length rows that stop before the planes are full: the file was cut.
      c->merged_image_short =
          psd_unpack_rows(packed, got, c->channel_data, total, int64_t(c->channels) * c->height) < total;
    } else {
      s = decode_planes(method, packed, got, c->channel_data, total,
                        int64_t(c->channels) * c->height, c->width, c->depth);
    }
    psd_free(packed);
  } else {
    s = psd_status_unsupported_compression;
  }
  if (s == 0) {
    c->merged_image =
        static_cast<psd_argb*>(psd_alloc(int64_t(c->width) * c->height, sizeof(psd_argb)));
    if (!c->merged_image) s = psd_status_malloc_failed;
  }
  // A mode and depth without a conversion is an error; the image stays zeroed.
  if (s == 0) s = psd_convert_merged(c);
  if (s == 0 && c->depth != 1) {
    for (int32_t i = std::max<int32_t>(c->first_extra_channel, 0);
         i < c->channels && s == 0; ++i) {
      int32_t r = i - c->first_extra_channel;
      if (!c->extra_channels || r >= c->extra_channel_count) break;
      int64_t count = int64_t(c->width) * c->height;
      auto* out = static_cast<uint8_t*>(psd_alloc(count, 1));
      if (!out) {
        s = psd_status_malloc_failed;
        break;
      }
      const uint8_t* src = c->channel_data + int64_t(i) * plane;
      const int32_t step = c->depth == 16 ? 2 : 1;
      for (int64_t k = 0; k < count; ++k) out[k] = src[k * step];
      psd_free(c->extra_channels[r].plane);
      c->extra_channels[r].plane = out;
    }
  }
  psd_free(c->channel_data);
  c->channel_data = nullptr;
  c->channel_data_size = 0;
  if (s != 0) return s;
  if (c->layer_count == 0 &&
      (c->load_mode == psd_load_everything || c->load_mode == psd_load_layers))
    return synthesise_layer(c);
  return 0;
}

psd_status psd_copy_mask_plane(psd_file_context* c, psd_layer_record* layer) {
  for (int32_t k = 0; k < layer->channel_count; ++k) {
    if (layer->channel_infos[k].id != -2) continue;
    int64_t count = int64_t(layer->mask_width) * layer->mask_height;
    layer->mask_pixels = static_cast<uint8_t*>(psd_alloc(count, 1));
    if (!layer->mask_pixels) return psd_status_malloc_failed;
    std::memcpy(layer->mask_pixels, c->channel_data + int64_t(k) * c->plane_stride, size_t(count));
    return 0;
  }
  return 0;
}

psd_status psd_copy_mask_plane16(psd_file_context* c, psd_layer_record* layer) {
  for (int32_t k = 0; k < layer->channel_count; ++k) {
    if (layer->channel_infos[k].id != -2) continue;
    int64_t count = int64_t(layer->mask_width) * layer->mask_height;
    layer->mask_pixels = static_cast<uint8_t*>(psd_alloc(count, 1));
    if (!layer->mask_pixels) return psd_status_malloc_failed;
    const uint8_t* src = c->channel_data + int64_t(k) * c->plane_stride;
    for (int64_t i = 0; i < count; ++i) layer->mask_pixels[i] = src[2 * i];
    return 0;
  }
  return 0;
}

namespace {
bool sane_size(int32_t w, int32_t h) {
  return w > 0 && h > 0 && w <= psd_max_dimension && h <= psd_max_dimension;
}
}  // namespace

psd_status psd_read_layer_channels(psd_file_context* c, psd_layer_record* layer) {
  // Rectangles beyond the format's limits (damaged files) get no pixels.
  const bool has_pixels = sane_size(layer->width, layer->height);
  const bool has_mask = c->depth != 1 && sane_size(layer->mask_width, layer->mask_height);
  const int64_t p = has_pixels ? psd_plane_bytes(layer->width, layer->height, c->depth) : 0;
  const int64_t q = has_mask ? int64_t(layer->mask_width) * layer->mask_height *
                                   (c->depth == 16 ? 2 : 1)
                             : 0;
  int64_t s = std::max(p, q);
  int64_t stored = 0;
  for (int32_t k = 0; k < layer->channel_count; ++k)
    stored += std::max(layer->channel_infos[k].length, 0);
  if (!psd_plausible_size(s * layer->channel_count + (has_pixels ? p * 4 : 0), stored)) s = 0;
  if (s <= 0) {
    for (int32_t k = 0; k < layer->channel_count; ++k)
      psd_skip_to(c, int64_t(c->consumed) + std::max(layer->channel_infos[k].length, 0));
    return 0;
  }
  c->plane_size = int32_t(p);
  c->plane_stride = int32_t(s);
  const int64_t needed = s * layer->channel_count;
  if (!psd_reserve(&c->channel_data, &c->channel_data_size, needed, 12288))
    return psd_status_malloc_failed;
  // Planes a channel leaves unfilled read as zero, not as an earlier layer.
  std::memset(c->channel_data, 0, size_t(needed));
  for (int32_t k = 0; k < layer->channel_count; ++k) {
    const psd_channel_info& info = layer->channel_infos[k];
    const bool is_mask = info.id == -2;
    int32_t method = psd_get_be16(c);
    if (info.length < 3) continue;
    const int64_t data_length = int64_t(info.length) - 2;
    if (data_length > psd_bytes_left(c)) return psd_status_no_data;
    if (!psd_reserve(&c->packed_data, &c->packed_data_size, data_length, 4096))
      return psd_status_malloc_failed;
    if (psd_stream_read(c, c->packed_data, int32_t(data_length)) != data_length)
      return psd_status_no_data;
    const int64_t limit = is_mask ? q : p;
    psd_status st = decode_planes(method, c->packed_data, data_length,
                                  c->channel_data + int64_t(k) * s, limit,
                                  is_mask ? layer->mask_height : layer->height,
                                  is_mask ? layer->mask_width : layer->width, c->depth);
    if (st != 0) return st;
  }
  if (has_pixels) {
    layer->pixels = static_cast<psd_argb*>(
        psd_alloc(int64_t(layer->width) * layer->height, sizeof(psd_argb)));
    if (!layer->pixels) return psd_status_malloc_failed;
    psd_status st = psd_convert_layer(c, layer);
    if (st != 0) return st;
  }
  if (has_mask) {
    psd_free(layer->mask_pixels);
    layer->mask_pixels = nullptr;
    return c->depth == 16 ? psd_copy_mask_plane16(c, layer) : psd_copy_mask_plane(c, layer);
  }
  return 0;
}
