// The layer and mask information section: layer records with their
// channels, masks, blending ranges and names, the additional-information
// blocks with simple keys, the global mask, global blocks ("Lr16", patterns)
// and the grouping of layers into folders.
#include <algorithm>

#include "platform/byteorder.h"
#include "psddecode/psd_internal.h"

void psd_release_layer(psd_layer_record* l) {
  for (int32_t i = 0; i < l->adjustment_count && i < psd_max_adjustments; ++i)
    psd_release_adjustment(&l->adjustments[i]);
  l->adjustment_count = 0;
  psd_free(l->channel_infos);
  psd_free(l->unicode_name);
  psd_free(l->pixels);
  psd_free(l->mask_pixels);
  psd_free(l->source_black);
  psd_free(l->source_white);
  psd_free(l->dest_black);
  psd_free(l->dest_white);
  l->channel_infos = nullptr;
  l->channel_count = 0;
  l->unicode_name = nullptr;
  l->pixels = nullptr;
  l->mask_pixels = nullptr;
  l->source_black = l->source_white = l->dest_black = l->dest_white = nullptr;
  l->blend_range_count = 0;
}

void psd_release_layers(psd_file_context* c) {
  if (c->layers)
    for (int32_t i = 0; i < c->layer_count; ++i) psd_release_layer(&c->layers[i]);
  psd_free(c->layers);
  c->layers = nullptr;
  c->layer_count = 0;
  psd_free(c->packed_data);
  c->packed_data = nullptr;
  c->packed_data_size = 0;
  if (c->patterns)
    for (int32_t i = 0; i < c->pattern_capacity; ++i) {
      psd_free(c->patterns[i].name);
      psd_free(c->patterns[i].pixels);
    }
  psd_free(c->patterns);
  c->patterns = nullptr;
  c->pattern_count = c->pattern_capacity = 0;
}

psd_status psd_append_adjustment(psd_layer_record* layer, int32_t type, int64_t size,
                                 void** record) {
  if (record) *record = nullptr;
  // The record holds a fixed number of entries; further blocks are skipped.
  if (layer->adjustment_count >= psd_max_adjustments) return 1;
  void* r = nullptr;
  if (size > 0) {
    r = psd_alloc(1, size);
    if (!r) return psd_status_malloc_failed;
  }
  layer->adjustments[layer->adjustment_count].type = type;
  layer->adjustments[layer->adjustment_count].record = r;
  ++layer->adjustment_count;
  if (record) *record = r;
  return 0;
}

namespace {

void set_defaults(psd_layer_record* l) {
  l->layer_kind = psd_layer_normal;
  l->blend_mode = psd_blend_normal;
  l->opacity = 255;
  l->fill_opacity = 255;
  l->blend_clipped = true;
  l->transparency_shapes = true;
  l->divider_blend_mode = psd_blend_pass_through;
  l->mask_default_color = 255;
  l->mask_disabled = true;
}

void read_rect(psd_file_context* c, int32_t* top, int32_t* left, int32_t* bottom, int32_t* right,
               int32_t* width, int32_t* height) {
  *top = psd_get_s32(c);
  *left = psd_get_s32(c);
  *bottom = psd_get_s32(c);
  *right = psd_get_s32(c);
  // Differences of damaged values must not overflow.
  int64_t w = int64_t(*right) - *left, h = int64_t(*bottom) - *top;
  *width = int32_t(std::clamp<int64_t>(w, INT32_MIN, INT32_MAX));
  *height = int32_t(std::clamp<int64_t>(h, INT32_MIN, INT32_MAX));
}

void read_mask(psd_file_context* c, psd_layer_record* l) {
  int64_t length = psd_get_s32(c);
  int64_t start = c->consumed;
  if (length <= 0) return;
  read_rect(c, &l->mask_top, &l->mask_left, &l->mask_bottom, &l->mask_right, &l->mask_width,
            &l->mask_height);
  l->mask_default_color = psd_get_u8(c);
  uint8_t flags = psd_get_u8(c);
  l->mask_relative = (flags & 1) != 0;
  l->mask_disabled = (flags & 2) != 0;
  l->mask_invert = (flags & 4) != 0;
  if (length == 20) {
    psd_stream_skip(c, 2);
  } else {
    flags = psd_get_u8(c);
    l->mask_relative = (flags & 1) != 0;
    l->mask_disabled = (flags & 2) != 0;
    l->mask_invert = (flags & 4) != 0;
    l->mask_default_color = psd_get_u8(c);
    read_rect(c, &l->mask_top, &l->mask_left, &l->mask_bottom, &l->mask_right, &l->mask_width,
              &l->mask_height);
  }
  psd_skip_to(c, start + length);
}

psd_status read_blending_ranges(psd_file_context* c, psd_layer_record* l, int64_t end) {
  int64_t length = psd_get_s32(c);
  // An empty block means no ranges at all (writers leave it so).
  if (length == 0) return 0;
  int64_t start = c->consumed;
  l->gray_source_black = psd_get_be16(c);
  l->gray_source_white = psd_get_be16(c);
  l->gray_dest_black = psd_get_be16(c);
  l->gray_dest_white = psd_get_be16(c);
  int64_t count = (length - 8) / 8;
  if (count < 1) return psd_status_invalid_blending_channels;
  count = psd_bound_count(count, 8, psd_bytes_left_until(c, end));
  l->blend_range_count = int32_t(count);
  l->source_black = static_cast<uint16_t*>(psd_alloc(count, 2));
  l->source_white = static_cast<uint16_t*>(psd_alloc(count, 2));
  l->dest_black = static_cast<uint16_t*>(psd_alloc(count, 2));
  l->dest_white = static_cast<uint16_t*>(psd_alloc(count, 2));
  if (!l->source_black || !l->source_white || !l->dest_black || !l->dest_white)
    return psd_status_malloc_failed;
  for (int64_t i = 0; i < count; ++i) {
    l->source_black[i] = psd_get_be16(c);
    l->source_white[i] = psd_get_be16(c);
    l->dest_black[i] = psd_get_be16(c);
    l->dest_white[i] = psd_get_be16(c);
  }
  psd_skip_to(c, start + length);
  return 0;
}

psd_status read_unicode_name(psd_file_context* c, psd_layer_record* l, int64_t end) {
  return psd_read_unicode_string(c, end, &l->unicode_name_length, &l->unicode_name);
}

void read_sheet_color(psd_file_context* c, psd_layer_record* l) {
  uint8_t b[4] = {0, 0, 0, 0};
  psd_stream_read(c, b, 4);
  psd_stream_skip(c, 4);
  l->sheet_color = 0xFF000000u | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

psd_status read_section_divider(psd_file_context* c, psd_layer_record* l, int32_t length) {
  l->divider_type = psd_get_s32(c);
  if (l->divider_type == 1 || l->divider_type == 2) l->layer_kind = psd_layer_folder;
  else if (l->divider_type == 3) l->layer_kind = psd_layer_hidden;
  if (length == 12) {
    if (!psd_read_signature(c, "8BIM")) return psd_status_divider_signature_mismatch;
    l->divider_blend_mode = psd_get_blend_key(c);
  }
  return 0;
}

void read_blend_restrictions(psd_file_context* c, psd_layer_record* l, int32_t length) {
  for (int32_t i = 0; i < length / 4; ++i) {
    int32_t id = psd_get_s32(c);
    for (int32_t k = 0; k < l->channel_count; ++k)
      if (l->channel_infos[k].id == id) {
        l->channel_infos[k].blend_restricted = true;
        break;
      }
  }
}

bool read_flag_word(psd_file_context* c) {
  bool v = psd_get_bool(c);
  psd_stream_skip(c, 3);
  return v;
}

psd_status handle_block(psd_file_context* c, psd_layer_record* l, uint32_t key, int32_t length,
                        int64_t end) {
  switch (key) {
    case psd_key("luni"): return read_unicode_name(c, l, end);
    case psd_key("lclr"): read_sheet_color(c, l); return 0;
    case psd_key("lsct"): return read_section_divider(c, l, length);
    case psd_key("brst"): read_blend_restrictions(c, l, length); return 0;
    case psd_key("clbl"): l->blend_clipped = read_flag_word(c); return 0;
    case psd_key("infx"): l->blend_interior = read_flag_word(c); return 0;
    case psd_key("knko"): l->knockout = read_flag_word(c); return 0;
    case psd_key("lmgm"): l->mask_as_global = read_flag_word(c); return 0;
    case psd_key("tsly"): l->transparency_shapes = read_flag_word(c); return 0;
    case psd_key("vmgm"): l->vector_mask_as_global = read_flag_word(c); return 0;
    case psd_key("iOpa"):
      l->fill_opacity = psd_get_u8(c);
      psd_stream_skip(c, 3);
      return 0;
    case psd_key("lspf"): {
      uint32_t flags = psd_get_be32(c);
      l->protect_transparency = (flags & 1) != 0;
      l->protect_composite = (flags & 2) != 0;
      l->protect_position = (flags & 4) != 0;
      return 0;
    }
    case psd_key("lnsr"): l->name_source = psd_get_s32(c); return 0;
    case psd_key("lyid"): l->layer_id = psd_get_s32(c); return 0;
    case psd_key("lyvr"): l->layer_version = psd_get_s32(c); return 0;
    case psd_key("fxrp"): {
      double x = psd_get_be_double(c), y = psd_get_be_double(c);
      l->reference_x = psd_saturate_int32(x);
      l->reference_y = psd_saturate_int32(y);
      return 0;
    }
    case psd_key("nvrt"): {
      psd_status s = psd_append_adjustment(l, psd_adjust_invert, 0, nullptr);
      if (s < 0) return s;
      l->layer_kind = psd_layer_invert;
      l->is_adjustment = true;
      return 0;
    }
    case psd_key("lrFX"): return psd_read_lrfx(c, l, end);
    case psd_key("lfx2"): return psd_read_lfx2(c, l, end);
    default: {
      bool handled = false;
      return psd_dispatch_fill_adjustment(c, l, key, length, &handled);
    }
  }
}

psd_status read_record(psd_file_context* c, psd_layer_record* l, int64_t info_end) {
  set_defaults(l);
  read_rect(c, &l->top, &l->left, &l->bottom, &l->right, &l->width, &l->height);
  int64_t count = psd_bound_count(psd_get_s16(c), 6, psd_bytes_left_until(c, info_end));
  l->channel_count = int16_t(count);
  l->channel_infos = static_cast<psd_channel_info*>(psd_alloc(count, sizeof(psd_channel_info)));
  if (!l->channel_infos) return psd_status_malloc_failed;
  for (int64_t k = 0; k < count; ++k) {
    l->channel_infos[k].id = psd_get_s16(c);
    l->channel_infos[k].length = psd_get_s32(c);
  }
  if (!psd_read_signature(c, "8BIM")) return psd_status_blend_signature_mismatch;
  l->blend_mode = psd_get_blend_key(c);
  l->opacity = psd_get_u8(c);
  l->clipping = psd_get_bool(c);
  uint8_t flags = psd_get_u8(c);
  l->transparency_protected = (flags & 1) != 0;
  l->visible = (flags & 2) == 0;
  l->obsolete_flag = (flags & 4) != 0;
  if (flags & 8) l->pixels_irrelevant = (flags & 16) != 0;
  psd_get_u8(c);
  int64_t extra = psd_get_be32(c);
  int64_t q = c->consumed;
  int64_t extra_end = std::min(q + extra, info_end);
  read_mask(c, l);
  psd_status s = read_blending_ranges(c, l, extra_end);
  if (s != 0) return s;
  uint8_t n = psd_get_u8(c);
  int32_t name_bytes = ((n + 4) & ~3) - 1;
  char name[256] = {};
  psd_stream_read(c, name, std::min(name_bytes, 255));
  if (name_bytes > 255) psd_stream_skip(c, name_bytes - 255);
  std::memcpy(l->name, name, std::min<size_t>(n, 255));
  while (c->consumed < extra_end) {
    if (!psd_read_signature(c, "8BIM"))
      return psd_status_additional_signature_mismatch;
    uint32_t key = psd_get_be32(c);
    int64_t length = psd_get_be32(c);
    length += length & 1;
    int64_t start = c->consumed;
    int64_t block_end = std::min(start + length, extra_end);
    s = handle_block(c, l, key, int32_t(block_end - start), block_end);
    if (s != 0) return s;
    psd_skip_to(c, start + length);
  }
  psd_skip_to(c, extra_end);
  return 0;
}

void group_layers(psd_file_context* c) {
  psd_layer_record* folder = nullptr;
  for (int32_t i = c->layer_count - 1; i >= 0; --i) {
    psd_layer_record* l = &c->layers[i];
    if (l->layer_kind == psd_layer_normal) l->group = folder;
    else if (l->layer_kind == psd_layer_hidden) folder = nullptr;
    else if (l->layer_kind == psd_layer_folder) folder = l;
  }
}

}  // namespace

psd_status psd_read_layer_info(psd_file_context* c, int64_t section_end) {
  int64_t length = psd_get_s32(c);
  length += length & 1;
  if (length <= 0) return 0;
  int64_t p = c->consumed;
  int64_t info_end = std::min(p + length, section_end);
  int32_t stored = psd_get_s16(c);
  int64_t count = stored < 0 ? -int64_t(stored) : stored;
  // A record takes at least 34 bytes: more records cannot be in the file.
  count = psd_bound_count(count, 34, psd_bytes_left_until(c, info_end));
  // -32768 stands for 32768 layers, one more than the count field holds.
  count = std::min<int64_t>(count, INT16_MAX);
  // A second layer list (a 16-bit "Lr16" after the section's own) replaces
  // the first.
  if (c->layers) {
    for (int32_t i = 0; i < c->layer_count; ++i) psd_release_layer(&c->layers[i]);
    psd_free(c->layers);
    c->layers = nullptr;
    c->layer_count = 0;
  }
  if (count == 0) {
    psd_skip_to(c, p + length);
    return 0;
  }
  c->layers = static_cast<psd_layer_record*>(psd_alloc(count, sizeof(psd_layer_record)));
  if (!c->layers) return psd_status_malloc_failed;
  c->layer_count = int16_t(count);
  for (int64_t i = 0; i < count; ++i) {
    psd_status s = read_record(c, &c->layers[i], info_end);
    if (s != 0) {
      psd_release_layer(&c->layers[i]);
      return s;
    }
  }
  for (int64_t i = 0; i < count; ++i) {
    psd_status s = psd_read_layer_channels(c, &c->layers[i]);
    if (s != 0) {
      psd_release_layer(&c->layers[i]);
      return s;
    }
  }
  psd_skip_to(c, p + length);
  group_layers(c);
  return 0;
}

psd_status psd_read_global_mask(psd_file_context* c, int64_t section_end) {
  // Some writers fill the whole section with the layer info; what follows
  // the section is the image data, not a mask.
  if (psd_bytes_left_until(c, section_end) < 4) return 0;
  int64_t length = psd_get_be32(c);
  if (length == 0) return 0;
  int64_t start = c->consumed;
  c->mask_overlay_color = psd_get_color(c);
  c->mask_opacity = psd_get_s16(c);
  c->mask_kind = psd_get_u8(c);
  psd_skip_to(c, std::min(start + length, section_end));
  return 0;
}

psd_status psd_stage_layer_mask(psd_file_context* c) {
  uint8_t b[4];
  if (psd_stream_read(c, b, 4) != 4) return 0;
  uint32_t e = pw::LoadBE32(b);
  if (e == 0 || (e & 0x80000000u)) return 0;
  int64_t s = c->consumed;
  int64_t end = s + e;
  if (c->load_mode == psd_load_merged_and_extra_channels || c->load_mode == psd_load_thumbnail ||
      c->load_mode == psd_load_exif_and_xmp) {
    psd_skip_to(c, end);
    return 0;
  }
  psd_status r = psd_read_layer_info(c, end);
  auto release_scratch = [c] {
    psd_free(c->channel_data);
    c->channel_data = nullptr;
    c->channel_data_size = 0;
    psd_free(c->packed_data);
    c->packed_data = nullptr;
    c->packed_data_size = 0;
  };
  release_scratch();
  if (r != 0) return r;
  psd_status result = psd_read_global_mask(c, end);
  while (end - c->consumed > 12 && psd_bytes_left(c) > 0) {
    if (!psd_read_signature(c, "8BIM")) break;
    uint32_t key = psd_get_be32(c);
    if (key == psd_key("Lr16")) {
      result = psd_read_layer_info(c, end);
      release_scratch();
      continue;
    }
    int64_t n = psd_get_be32(c);
    int64_t block_start = c->consumed;
    if ((key == psd_key("Patt") || key == psd_key("Pat2")) && n > 3) {
      int64_t block_end = std::min(block_start + n, end);
      while (block_end - c->consumed >= 4) {
        int64_t before = c->consumed;
        result = psd_read_pattern(c, block_end);
        if (c->consumed <= before) break;  // no progress: the data has ended
      }
      release_scratch();
    }
    psd_skip_to(c, block_start + n);
  }
  psd_skip_to(c, end);
  return result;
}
