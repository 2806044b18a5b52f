// Fill, adjustment and type layers: each block of additional layer
// information becomes an adjustment entry with its settings record.
#include <algorithm>

#include "psddecode/psd_internal.h"

namespace {

template <typename T>
psd_status append(psd_layer_record* l, int32_t type, T** record) {
  void* r = nullptr;
  psd_status s = psd_append_adjustment(l, type, sizeof(T), &r);
  *record = static_cast<T*>(r);
  return s;
}

void set_adjustment_kind(psd_layer_record* l, int32_t kind) {
  l->layer_kind = kind;
  l->is_adjustment = true;
}


void read_levels_entry(psd_file_context* c, psd_levels_entry* e) {
  e->input_floor = psd_get_s16(c);
  e->input_ceiling = psd_get_s16(c);
  e->output_floor = psd_get_s16(c);
  e->output_ceiling = psd_get_s16(c);
  e->gamma = float(psd_get_s16(c)) / 100.0f;
}

psd_status read_levels(psd_file_context* c, psd_layer_record* l, int32_t length) {
  psd_levels* r;
  psd_status s = append(l, psd_adjust_levels, &r);
  if (s != 0) return s;
  int64_t start = c->consumed;
  set_adjustment_kind(l, psd_layer_levels);
  if (psd_get_s16(c) != 2) return psd_status_levels_version_mismatch;
  for (auto& e : r->entries) read_levels_entry(c, &e);
  if (length - (c->consumed - start) > 4) {
    if (!psd_read_signature(c, "Lvls")) return psd_status_levels_extra_signature_mismatch;
    if (psd_get_s16(c) != 3) return psd_status_levels_extra_version_mismatch;
    int32_t total = psd_get_be16(c);
    int64_t extra = psd_bound_count(total - 29, 10, psd_bytes_left(c));
    r->extra_entries = static_cast<psd_levels_entry*>(psd_alloc(extra, sizeof(psd_levels_entry)));
    if (!r->extra_entries) return psd_status_malloc_failed;
    r->extra_count = uint16_t(extra);
    for (int64_t i = 0; i < extra; ++i) read_levels_entry(c, &r->extra_entries[i]);
  }
  if (c->consumed - start != length) return psd_status_levels_length_mismatch;
  return 0;
}

void read_points(psd_file_context* c, psd_curve* curve, int32_t count) {
  for (int32_t k = 0; k < count && psd_bytes_left(c) > 0; ++k) {
    int16_t out = psd_get_s16(c), in = psd_get_s16(c);
    // The record holds a fixed number of points; the rest are passed over.
    if (k < psd_max_curve_points) {
      curve->output_value[k] = out;
      curve->input_value[k] = in;
    }
  }
}

psd_status read_curves(psd_file_context* c, psd_layer_record* l, int32_t length) {
  psd_curves* r;
  psd_status s = append(l, psd_adjust_curves, &r);
  if (s != 0) return s;
  int64_t start = c->consumed;
  l->layer_kind = psd_layer_curves;
  psd_stream_skip(c, 1);
  int16_t version = psd_get_s16(c);
  if (version != 1 && version != 4) return psd_status_curves_version_mismatch;
  uint32_t map = psd_get_be32(c);
  int32_t count = std::popcount(map);
  r->curves = static_cast<psd_curve*>(psd_alloc(count, sizeof(psd_curve)));
  if (!r->curves) return psd_status_malloc_failed;
  r->curve_count = uint16_t(count);
  int32_t index = 0;
  for (int32_t bit = 0; bit < 32; ++bit) {
    if (!(map & (1u << bit))) continue;
    psd_curve& curve = r->curves[index++];
    curve.channel_index = int16_t(bit);
    curve.point_count = psd_get_s16(c);
    read_points(c, &curve, curve.point_count);
  }
  if (length - (c->consumed - start) > 4) {
    if (!psd_read_signature(c, "Crv ")) return psd_status_curves_extra_signature_mismatch;
    if (psd_get_s16(c) != 4) return psd_status_curves_extra_version_mismatch;
    uint32_t second_count = psd_get_be32(c);
    if (second_count != uint32_t(count)) return 0;
    for (int32_t i = 0; i < count; ++i) {
      psd_curve& curve = r->curves[i];
      curve.channel_index = psd_get_s16(c);
      int16_t points = psd_get_s16(c);
      if (points != curve.point_count) return 0;
      for (int32_t k = 0; k < points && psd_bytes_left(c) > 0; ++k) {
        int16_t out = psd_get_s16(c), in = psd_get_s16(c);
        if (k < psd_max_curve_points &&
            (out != curve.output_value[k] || in != curve.input_value[k]))
          return 0;
      }
    }
  }
  l->is_adjustment = true;
  return 0;
}

psd_status read_brightness_contrast(psd_file_context* c, psd_layer_record* l) {
  psd_brightness_contrast* r;
  psd_status s = append(l, psd_adjust_brightness_contrast, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_brightness_contrast);
  r->brightness = psd_get_s16(c);
  r->contrast = psd_get_s16(c);
  r->mean_value = psd_get_s16(c);
  r->lab_only = psd_get_bool(c);
  return 0;
}

psd_status read_color_balance(psd_file_context* c, psd_layer_record* l) {
  psd_color_balance* r;
  psd_status s = append(l, psd_adjust_color_balance, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_color_balance);
  for (int32_t i = 0; i < 3; ++i) {
    r->cyan_red[i] = psd_get_s16(c);
    r->magenta_green[i] = psd_get_s16(c);
    r->yellow_blue[i] = psd_get_s16(c);
  }
  psd_get_u8(c);
  r->preserve_luminosity = psd_get_bool(c);
  return 0;
}

psd_status read_hue_saturation(psd_file_context* c, psd_layer_record* l) {
  psd_hue_saturation* r;
  psd_status s = append(l, psd_adjust_hue_saturation, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_hue_saturation);
  if (psd_get_s16(c) != 2) return psd_status_hue_saturation_version_mismatch;
  r->colorize = psd_get_bool(c);
  psd_get_u8(c);
  r->colorization_hue = psd_get_s16(c);
  r->colorization_saturation = psd_get_s16(c);
  r->colorization_lightness = psd_get_s16(c);
  r->master_hue = psd_get_s16(c);
  r->master_saturation = psd_get_s16(c);
  r->master_lightness = psd_get_s16(c);
  for (int32_t i = 0; i < 6; ++i) {
    for (int32_t k = 0; k < 4; ++k) r->ranges[4 * i + k] = psd_get_s16(c);
    for (int32_t k = 0; k < 3; ++k) r->settings[3 * i + k] = psd_get_s16(c);
  }
  return 0;
}

psd_status read_selective_color(psd_file_context* c, psd_layer_record* l) {
  psd_selective_color* r;
  psd_status s = append(l, psd_adjust_selective_color, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_selective_color);
  if (psd_get_s16(c) != 1) return psd_status_selective_color_version_mismatch;
  r->correction_method = psd_get_s16(c);
  for (int32_t i = 0; i < 10; ++i) {
    r->cyan[i] = psd_get_s16(c);
    r->magenta[i] = psd_get_s16(c);
    r->yellow[i] = psd_get_s16(c);
    r->black[i] = psd_get_s16(c);
  }
  return 0;
}

psd_status read_threshold(psd_file_context* c, psd_layer_record* l) {
  psd_threshold* r;
  psd_status s = append(l, psd_adjust_threshold, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_threshold);
  r->level = psd_get_s16(c);
  psd_stream_skip(c, 2);
  return 0;
}

psd_status read_posterize(psd_file_context* c, psd_layer_record* l) {
  psd_posterize* r;
  psd_status s = append(l, psd_adjust_posterize, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_posterize);
  r->levels = psd_get_s16(c);
  psd_stream_skip(c, 2);
  return 0;
}

psd_status read_channel_mixer(psd_file_context* c, psd_layer_record* l) {
  psd_channel_mixer* r;
  psd_status s = append(l, psd_adjust_channel_mixer, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_channel_mixer);
  if (psd_get_s16(c) != 1) return psd_status_channel_mixer_version_mismatch;
  psd_get_u8(c);
  r->monochrome = psd_get_bool(c);
  for (int32_t i = 0; i < 4; ++i)
    for (int32_t k = 0; k < 5; ++k) r->values[4 * k + i] = psd_get_s16(c);
  return 0;
}

psd_status read_gradient_map(psd_file_context* c, psd_layer_record* l, int64_t end) {
  psd_gradient_map* r;
  psd_status s = append(l, psd_adjust_gradient_map, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_gradient_map);
  if (psd_get_s16(c) != 1) return psd_status_gradient_map_version_mismatch;
  r->reversed = psd_get_bool(c);
  r->dithered = psd_get_bool(c);
  s = psd_read_unicode_string(c, end, &r->name_length, &r->name);
  if (s != 0) return s;
  int64_t stops = psd_bound_count(psd_get_be16(c), 20, psd_bytes_left_until(c, end));
  r->color_stops = static_cast<psd_color_stop*>(psd_alloc(stops, sizeof(psd_color_stop)));
  if (!r->color_stops) return psd_status_malloc_failed;
  r->color_stop_count = int16_t(stops);
  for (int64_t i = 0; i < stops; ++i) {
    psd_color_stop& st = r->color_stops[i];
    st.location = psd_get_s32(c);
    st.midpoint = psd_get_s32(c);
    st.color = psd_get_color(c);
    st.kind = 2;
    psd_stream_skip(c, 2);
  }
  stops = psd_bound_count(psd_get_be16(c), 10, psd_bytes_left_until(c, end));
  r->transparency_stops =
      static_cast<psd_transparency_stop*>(psd_alloc(stops, sizeof(psd_transparency_stop)));
  if (!r->transparency_stops) return psd_status_malloc_failed;
  r->transparency_stop_count = int16_t(stops);
  for (int64_t i = 0; i < stops; ++i) {
    psd_transparency_stop& st = r->transparency_stops[i];
    st.location = psd_get_s32(c);
    st.midpoint = psd_get_s32(c);
    st.opacity = psd_get_s16(c);
  }
  r->expansion_count = psd_get_s16(c);
  if (r->expansion_count > 0) {
    r->interpolation = psd_get_s16(c);
    r->length = psd_get_s16(c);
    if (r->length >= 32) {
      r->mode = psd_get_s16(c);
      r->random_seed = psd_get_s32(c);
      r->show_transparency = psd_get_s16(c);
      r->use_vector_color = psd_get_s16(c);
      r->roughness = psd_get_s32(c);
      r->color_model = psd_get_s16(c);
      r->minimum_color = psd_get_color(c);
      r->maximum_color = psd_get_color(c);
    }
  }
  return 0;
}

psd_status read_photo_filter(psd_file_context* c, psd_layer_record* l) {
  psd_photo_filter* r;
  psd_status s = append(l, psd_adjust_photo_filter, &r);
  if (s != 0) return s;
  set_adjustment_kind(l, psd_layer_photo_filter);
  if (psd_get_s16(c) != 3) return psd_status_photo_filter_version_mismatch;
  r->x = psd_get_s32(c) >> 8;
  r->y = psd_get_s32(c) >> 8;
  r->z = psd_get_s32(c) >> 8;
  r->density = psd_get_s32(c);
  r->preserve_luminosity = psd_get_bool(c);
  psd_get_u8(c);
  return 0;
}

// Reads the descriptor version and class of a fill; the class key is kept
// when the class ID is a 4-byte key.
bool read_fill_header(psd_file_context* c, uint32_t* class_key) {
  if (psd_get_be32(c) != 16) return false;
  psd_skip_unicode(c);
  uint32_t n = psd_get_be32(c);
  if (n == 0) *class_key = psd_get_be32(c);
  else psd_skip_to(c, int64_t(c->consumed) + n);
  return true;
}

psd_status read_solid_fill(psd_file_context* c, psd_layer_record* l) {
  psd_solid_fill* r;
  psd_status s = append(l, psd_adjust_solid_fill, &r);
  if (s != 0) return s;
  l->layer_kind = psd_layer_solid_color;
  if (!read_fill_header(c, &r->class_key)) return psd_status_solid_fill_version_mismatch;
  psd_stream_skip(c, 16);
  r->color = psd_read_rgb_color(c);
  return 0;
}

double read_unit_double(psd_file_context* c) {
  psd_stream_skip(c, 4);
  return psd_get_be_double(c);
}

psd_status read_gradient_fill(psd_file_context* c, psd_layer_record* l) {
  psd_gradient_fill* r;
  psd_status s = append(l, psd_adjust_gradient_fill, &r);
  if (s != 0) return s;
  l->layer_kind = psd_layer_gradient_fill;
  r->scale = 100;
  r->align = true;
  if (!read_fill_header(c, &r->class_key)) return psd_status_gradient_fill_version_mismatch;
  int64_t items = psd_get_be32(c);
  char text[256];
  for (int64_t i = 0; i < items && psd_bytes_left(c) > 0; ++i) {
    uint32_t key = psd_read_id(c, text);
    uint32_t type = psd_get_be32(c);
    switch (key) {
      case psd_key("Algn"): r->align = psd_get_bool(c); break;
      case psd_key("Angl"): r->angle = read_unit_double(c); break;
      case psd_key("Dthr"): r->dither = psd_get_bool(c); break;
      case psd_key("Grad"):
        psd_release_gradient(&r->gradient);
        psd_read_gradient(&r->gradient, c);
        break;
      case psd_key("Rvrs"): r->reverse = psd_get_bool(c); break;
      case psd_key("Scl "): r->scale = psd_saturate_int32(read_unit_double(c)); break;
      case psd_key("Type"):
        psd_stream_skip(c, 8);
        r->gradient_type = psd_read_gradient_type_enum(c);
        break;
      default: psd_skip_item(type, c); break;
    }
  }
  return 0;
}

psd_status read_pattern_fill(psd_file_context* c, psd_layer_record* l) {
  psd_pattern_fill* r;
  psd_status s = append(l, psd_adjust_pattern_fill, &r);
  if (s != 0) return s;
  l->layer_kind = psd_layer_pattern_fill;
  if (!read_fill_header(c, &r->class_key)) return psd_status_pattern_fill_version_mismatch;
  int64_t items = psd_get_be32(c);
  char text[256];
  for (int64_t i = 0; i < items && psd_bytes_left(c) > 0; ++i) {
    uint32_t key = psd_read_id(c, text);
    uint32_t type = psd_get_be32(c);
    if (key == psd_key("Ptrn")) {
      psd_release_pattern_ref(&r->pattern);
      psd_read_pattern_ref(&r->pattern, c);
    } else if (key == psd_key("Scl ")) {
      r->scale = psd_saturate_int32(read_unit_double(c));
    } else {
      psd_skip_item(type, c);
    }
  }
  return 0;
}

void read_byte_string(psd_file_context* c, char out[256]) {
  uint8_t n = psd_get_u8(c);
  std::memset(out, 0, 256);
  psd_stream_read(c, out, n);
}

psd_status read_type_tool(psd_file_context* c, psd_layer_record* l, int64_t end) {
  psd_type_tool* r;
  psd_status s = append(l, psd_adjust_type_tool, &r);
  if (s != 0) return s;
  psd_stream_skip(c, 2);
  r->transform_xx = psd_get_be_double(c);
  r->transform_xy = psd_get_be_double(c);
  r->transform_yx = psd_get_be_double(c);
  r->transform_yy = psd_get_be_double(c);
  r->transform_tx = psd_get_be_double(c);
  r->transform_ty = psd_get_be_double(c);
  psd_stream_skip(c, 2);
  int64_t faces = psd_bound_count(psd_get_s16(c), 16, psd_bytes_left_until(c, end));
  r->faces = static_cast<psd_type_face*>(psd_alloc(faces, sizeof(psd_type_face)));
  if (!r->faces) return psd_status_malloc_failed;
  r->face_count = int16_t(faces);
  for (int64_t i = 0; i < faces; ++i) {
    psd_type_face& f = r->faces[i];
    f.mark = psd_get_s16(c);
    f.font_type = psd_get_s32(c);
    read_byte_string(c, f.font_name);
    read_byte_string(c, f.font_family_name);
    read_byte_string(c, f.font_style_name);
    f.script = psd_get_s16(c);
    int64_t axes = psd_bound_count(psd_get_s32(c), 4, psd_bytes_left_until(c, end));
    f.design_vector = static_cast<int32_t*>(psd_alloc(axes, 4));
    if (!f.design_vector) return psd_status_malloc_failed;
    f.design_axes_count = int32_t(axes);
    for (int64_t k = 0; k < axes; ++k) f.design_vector[k] = psd_get_s32(c);
  }
  psd_stream_skip(c, 2);
  int64_t styles = psd_bound_count(psd_get_s16(c), 27, psd_bytes_left_until(c, end));
  r->styles = static_cast<psd_type_style*>(psd_alloc(styles, sizeof(psd_type_style)));
  if (!r->styles) return psd_status_malloc_failed;
  r->style_count = int16_t(styles);
  for (int64_t i = 0; i < styles; ++i) {
    psd_type_style& st = r->styles[i];
    st.mark = psd_get_s16(c);
    st.face_mark = psd_get_s16(c);
    st.size = psd_get_s32(c);
    st.tracking = psd_get_s32(c);
    st.kerning = psd_get_s32(c);
    st.leading = psd_get_s32(c);
    st.base_shift = psd_get_s32(c);
    st.auto_kern = psd_get_bool(c);
    psd_get_u8(c);
    st.rotate = psd_get_bool(c);
  }
  r->type = psd_get_s16(c);
  r->scaling_factor = psd_get_s32(c);
  r->character_count = psd_get_s32(c);
  r->horz_place = psd_get_s32(c);
  r->vert_place = psd_get_s32(c);
  r->select_start = psd_get_s32(c);
  r->select_end = psd_get_s32(c);
  int64_t lines = psd_bound_count(psd_get_s16(c), 12, psd_bytes_left_until(c, end));
  r->lines = static_cast<psd_type_line*>(psd_alloc(lines, sizeof(psd_type_line)));
  if (!r->lines) return psd_status_malloc_failed;
  r->line_count = int16_t(lines);
  for (int64_t i = 0; i < lines; ++i) {
    psd_type_line& ln = r->lines[i];
    ln.char_count = psd_get_s32(c);
    ln.orientation = psd_get_s16(c);
    ln.alignment = psd_get_s16(c);
    ln.actual_char = psd_get_s16(c);
    ln.style = psd_get_s16(c);
  }
  r->color = psd_get_color(c);
  r->anti_alias = psd_get_bool(c);
  return 0;
}

}  // namespace

void psd_release_type_tool(psd_type_tool* r) {
  if (!r) return;
  if (r->faces)
    for (int32_t i = 0; i < r->face_count; ++i) psd_free(r->faces[i].design_vector);
  psd_free(r->faces);
  psd_free(r->styles);
  psd_free(r->lines);
  psd_free(r);
}

void psd_release_adjustment(psd_adjustment* entry) {
  void* r = entry->record;
  entry->record = nullptr;
  if (!r) return;
  switch (entry->type) {
    case psd_adjust_levels: psd_free(static_cast<psd_levels*>(r)->extra_entries); break;
    case psd_adjust_curves: psd_free(static_cast<psd_curves*>(r)->curves); break;
    case psd_adjust_gradient_map: {
      auto* g = static_cast<psd_gradient_map*>(r);
      psd_free(g->name);
      psd_free(g->color_stops);
      psd_free(g->transparency_stops);
      break;
    }
    case psd_adjust_type_tool: psd_release_type_tool(static_cast<psd_type_tool*>(r)); return;
    case psd_adjust_lrfx:
    case psd_adjust_lfx2: psd_release_effects(static_cast<psd_layer_effects*>(r)); return;
    case psd_adjust_gradient_fill:
      psd_release_gradient(&static_cast<psd_gradient_fill*>(r)->gradient);
      break;
    case psd_adjust_pattern_fill:
      psd_release_pattern_ref(&static_cast<psd_pattern_fill*>(r)->pattern);
      break;
    default: break;
  }
  psd_free(r);
}

psd_status psd_dispatch_fill_adjustment(psd_file_context* c, psd_layer_record* l, uint32_t key,
                                        int32_t length, bool* handled) {
  *handled = true;
  const int64_t end = int64_t(c->consumed) + length;
  psd_status s;
  switch (key) {
    case psd_key("levl"): s = read_levels(c, l, length); break;
    case psd_key("curv"): s = read_curves(c, l, length); break;
    case psd_key("brit"): s = read_brightness_contrast(c, l); break;
    case psd_key("blnc"): s = read_color_balance(c, l); break;
    case psd_key("hue2"): s = read_hue_saturation(c, l); break;
    case psd_key("selc"): s = read_selective_color(c, l); break;
    case psd_key("thrs"): s = read_threshold(c, l); break;
    case psd_key("post"): s = read_posterize(c, l); break;
    case psd_key("mixr"): s = read_channel_mixer(c, l); break;
    case psd_key("grdm"): s = read_gradient_map(c, l, end); break;
    case psd_key("phfl"): s = read_photo_filter(c, l); break;
    case psd_key("SoCo"): s = read_solid_fill(c, l); break;
    case psd_key("GdFl"): s = read_gradient_fill(c, l); break;
    case psd_key("PtFl"): s = read_pattern_fill(c, l); break;
    case psd_key("tySh"): s = read_type_tool(c, l, end); break;
    default: *handled = false; return 0;
  }
  // 1: the layer's adjustment list is full; the block is skipped.
  return s > 0 ? 0 : s;
}
