// Layer effects: the fixed-layout "lrFX" block of older files and the
// descriptor-based "lfx2" block, both into one psd_layer_effects record.
#include <cmath>

#include "platform/byteorder.h"
#include "psddecode/psd_internal.h"

namespace {


void default_shadow(psd_shadow_effect* e) {
  *e = psd_shadow_effect{};
  e->blend_mode = psd_blend_multiply;
  e->color = e->native_color = 0xFF000000u;
  e->opacity = 191;
  e->angle = 120;
  e->use_global_light = true;
  e->distance = 5;
  e->size = 5;
  psd_init_contour(e->contour);
}

template <typename Glow>
void default_glow(Glow* e) {
  e->enabled = false;
  e->blend_mode = psd_blend_screen;
  e->opacity = 191;
  e->noise = 0;
  e->uses_gradient = false;
  e->color = e->native_color = 0xFFFFFFBEu;
  e->technique = 0;
  e->spread = 0;
  e->size = 5;
  psd_init_contour(e->contour);
  e->anti_aliased = false;
  e->range = 50;
  e->jitter = 0;
}

void default_inner_glow(psd_inner_glow_effect* e) {
  default_glow(e);
  e->source = 1;
}

void default_bevel(psd_bevel_effect* e) {
  e->enabled = false;
  e->style = 1;
  e->technique = 2;
  e->depth = 100;
  e->direction = 0;
  e->size = 5;
  e->soften = 0;
  e->angle = 120;
  e->use_global_light = true;
  e->altitude = 30;
  psd_init_contour(e->gloss_contour);
  e->highlight_blend_mode = psd_blend_screen;
  e->highlight_color = e->highlight_native_color = 0xFFFFFFFFu;
  e->highlight_opacity = 191;
  e->shadow_blend_mode = psd_blend_screen;
  e->shadow_color = e->shadow_native_color = 0xFF000000u;
  e->shadow_opacity = 191;
  psd_init_contour(e->contour);
  e->range = 50;
  e->texture_scale = 100;
  e->texture_depth = 100;
  e->align_with_layer = true;
}

void default_satin(psd_satin_effect* e) {
  e->enabled = false;
  e->blend_mode = psd_blend_multiply;
  e->color = 0xFF000000u;
  e->opacity = 128;
  e->angle = 19;
  e->distance = 11;
  e->size = 14;
  psd_init_contour(e->contour);
  e->invert = true;
}

void default_color_fill(psd_color_fill_effect* e) {
  e->enabled = false;
  e->blend_mode = psd_blend_normal;
  e->color = 0xFFFF0000u;
  e->opacity = 255;
}

void default_gradient_overlay(psd_gradient_overlay_effect* e) {
  e->enabled = false;
  e->blend_mode = psd_blend_normal;
  e->opacity = 255;
  e->align = true;
  e->angle = 90;
  e->scale = 100;
}

void default_pattern_overlay(psd_pattern_overlay_effect* e) {
  e->enabled = false;
  e->blend_mode = psd_blend_normal;
  e->opacity = 255;
  e->scale = 100;
  e->align = true;
}

void default_stroke(psd_stroke_effect* e) {
  e->enabled = false;
  e->size = 3;
  e->blend_mode = psd_blend_normal;
  e->opacity = 255;
  e->color = 0xFFFF0000u;
  e->align = true;
  e->angle = 90;
  e->gradient_scale = 100;
  e->pattern_scale = 100;
  e->linked = true;
}

void mark(psd_layer_effects* fx, psd_effect_index i) {
  fx->present[i] = true;
  fx->read[i] = true;
}

// ---- fixed layout ---------------------------------------------------------

bool read_blend(psd_file_context* c, int32_t* mode) {
  if (!psd_read_signature(c, "8BIM")) return false;
  *mode = psd_get_blend_key(c);
  return true;
}

void read_lrfx_shadow(psd_file_context* c, psd_shadow_effect* e) {
  default_shadow(e);
  psd_stream_skip(c, 4);
  int32_t version = psd_get_s32(c);
  if (version != 0 && version != 2) return;
  e->size = psd_get_s32(c);
  e->spread = psd_get_s32(c);
  e->angle = psd_get_s32(c);
  e->distance = psd_get_s32(c);
  e->color = psd_get_color(c);
  if (!read_blend(c, &e->blend_mode)) return;
  e->enabled = psd_get_bool(c);
  e->use_global_light = psd_get_bool(c);
  e->opacity = psd_get_u8(c);
  if (version == 2) e->native_color = psd_get_color(c);
}

template <typename Glow>
bool read_lrfx_glow_common(psd_file_context* c, Glow* e, int32_t* version) {
  psd_stream_skip(c, 4);
  *version = psd_get_s32(c);
  if (*version != 0 && *version != 2) return false;
  e->size = psd_get_s32(c);
  e->spread = psd_get_s32(c);
  e->color = psd_get_color(c);
  if (!read_blend(c, &e->blend_mode)) return false;
  e->enabled = psd_get_bool(c);
  e->opacity = psd_get_u8(c);
  return true;
}

void read_lrfx_outer_glow(psd_file_context* c, psd_glow_effect* e) {
  default_glow(e);
  int32_t version = 0;
  if (!read_lrfx_glow_common(c, e, &version)) return;
  if (version == 2) e->native_color = psd_get_color(c);
}

void read_lrfx_inner_glow(psd_file_context* c, psd_inner_glow_effect* e) {
  default_inner_glow(e);
  int32_t version = 0;
  if (!read_lrfx_glow_common(c, e, &version)) return;
  if (version == 2) {
    if (psd_get_u8(c) != 0) e->source = 0;
    e->native_color = psd_get_color(c);
  }
}

void read_lrfx_bevel(psd_file_context* c, psd_bevel_effect* e) {
  default_bevel(e);
  psd_stream_skip(c, 4);
  int32_t version = psd_get_s32(c);
  if (version != 0 && version != 2) return;
  e->angle = psd_get_s32(c);
  e->size = psd_get_s32(c);
  e->soften = psd_get_s32(c);
  if (!read_blend(c, &e->highlight_blend_mode)) return;
  if (!read_blend(c, &e->shadow_blend_mode)) return;
  e->highlight_color = psd_get_color(c);
  e->shadow_color = psd_get_color(c);
  e->style = psd_get_u8(c);
  e->highlight_opacity = psd_get_u8(c);
  e->shadow_opacity = psd_get_u8(c);
  e->enabled = psd_get_bool(c);
  e->use_global_light = psd_get_bool(c);
  e->direction = psd_get_u8(c);
  if (version == 2) {
    e->highlight_native_color = psd_get_color(c);
    e->shadow_native_color = psd_get_color(c);
  }
}

void read_lrfx_fill(psd_file_context* c, psd_color_fill_effect* e) {
  default_color_fill(e);
  psd_stream_skip(c, 4);
  if (psd_get_s32(c) != 2) return;
  if (!read_blend(c, &e->blend_mode)) return;
  e->color = psd_get_color(c);
  e->opacity = psd_get_u8(c);
  e->enabled = psd_get_bool(c);
  e->native_color = psd_get_color(c);
}

// ---- descriptor layout ----------------------------------------------------

int32_t read_unit_double(psd_file_context* c) {
  psd_stream_skip(c, 4);
  return psd_saturate_int32(psd_get_be_double(c));
}

int32_t read_opacity(psd_file_context* c) {
  psd_stream_skip(c, 4);
  return psd_saturate_int32(psd_get_be_double(c) * 2.55 + 0.5);
}

int32_t read_enum_blend(psd_file_context* c) {
  psd_stream_skip(c, 8);
  return psd_read_blend_enum(c);
}

int32_t read_enum_technique(psd_file_context* c) {
  psd_stream_skip(c, 8);
  return psd_read_technique_enum(c);
}

int32_t read_enum_gradient_type(psd_file_context* c) {
  psd_stream_skip(c, 8);
  return psd_read_gradient_type_enum(c);
}

// Reads an enumeration value after its 8-byte type; text values give 0 and
// leave *text set.
uint32_t read_enum_key(psd_file_context* c, char text[256]) {
  psd_stream_skip(c, 8);
  return psd_read_id(c, text);
}

// Walks one effect descriptor, calling on_item(key, text, type) for each
// item; the callback returns false for an item it does not read.
template <typename F>
void walk(psd_file_context* c, F on_item) {
  psd_skip_unicode(c);
  psd_skip_id(c);
  int64_t items = psd_get_be32(c);
  char text[256];
  for (int64_t i = 0; i < items && psd_bytes_left(c) > 0; ++i) {
    uint32_t key = psd_read_id(c, text);
    uint32_t type = psd_get_be32(c);
    if (!on_item(key, text, type)) psd_skip_item(type, c);
  }
}

void read_shadow(psd_file_context* c, psd_shadow_effect* e, bool drop) {
  default_shadow(e);
  walk(c, [&](uint32_t key, const char* text, uint32_t) {
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
      case psd_key("Clr "): e->color = e->native_color = psd_read_rgb_color(c); return true;
      case psd_key("Opct"): e->opacity = read_opacity(c); return true;
      case psd_key("uglg"): e->use_global_light = psd_get_bool(c); return true;
      case psd_key("lagl"): e->angle = read_unit_double(c); return true;
      case psd_key("Dstn"): e->distance = read_unit_double(c); return true;
      case psd_key("Ckmt"): e->spread = read_unit_double(c); return true;
      case psd_key("blur"): e->size = read_unit_double(c); return true;
      case psd_key("Nose"): e->noise = read_unit_double(c); return true;
      case psd_key("AntA"): e->anti_aliased = psd_get_bool(c); return true;
      case psd_key("TrnS"): psd_read_contour(e->contour, c); return true;
      case 0:
        if (drop && !std::strcmp(text, "layerConceals")) {
          e->layer_conceals = psd_get_bool(c);
          return true;
        }
        return false;
      default: return false;
    }
  });
}

template <typename Glow>
bool glow_item(psd_file_context* c, Glow* e, uint32_t key) {
  switch (key) {
    case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
    case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
    case psd_key("Clr "):
      e->color = e->native_color = psd_read_rgb_color(c);
      e->uses_gradient = false;
      return true;
    case psd_key("Opct"): e->opacity = read_opacity(c); return true;
    case psd_key("Ckmt"): e->spread = read_unit_double(c); return true;
    case psd_key("blur"): e->size = read_unit_double(c); return true;
    case psd_key("Nose"): e->noise = read_unit_double(c); return true;
    case psd_key("AntA"): e->anti_aliased = psd_get_bool(c); return true;
    case psd_key("TrnS"): psd_read_contour(e->contour, c); return true;
    case psd_key("Grad"):
      psd_release_gradient(&e->gradient);
      psd_read_gradient(&e->gradient, c);
      e->uses_gradient = true;
      return true;
    case psd_key("GlwT"): e->technique = read_enum_technique(c); return true;
    case psd_key("Inpr"): e->range = read_unit_double(c); return true;
    case psd_key("ShdN"): e->jitter = read_unit_double(c); return true;
    default: return false;
  }
}

void read_outer_glow(psd_file_context* c, psd_glow_effect* e) {
  default_glow(e);
  walk(c, [&](uint32_t key, const char*, uint32_t) { return glow_item(c, e, key); });
}

void read_inner_glow(psd_file_context* c, psd_inner_glow_effect* e) {
  default_inner_glow(e);
  walk(c, [&](uint32_t key, const char*, uint32_t) {
    if (key == psd_key("glwS")) {
      char text[256];
      uint32_t v = read_enum_key(c, text);
      if (v == psd_key("SrcC")) e->source = 0;
      else if (v == psd_key("SrcE")) e->source = 1;
      return true;
    }
    return glow_item(c, e, key);
  });
}

void read_bevel(psd_file_context* c, psd_bevel_effect* e) {
  default_bevel(e);
  walk(c, [&](uint32_t key, const char* text, uint32_t) {
    char value_text[256];
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("uglg"): e->use_global_light = psd_get_bool(c); return true;
      case psd_key("lagl"): e->angle = read_unit_double(c); return true;
      case psd_key("blur"): e->size = read_unit_double(c); return true;
      case psd_key("AntA"): e->anti_aliased = psd_get_bool(c); return true;
      case psd_key("TrnS"): psd_read_contour(e->gloss_contour, c); return true;
      case psd_key("Inpr"): e->range = read_unit_double(c); return true;
      case psd_key("hglM"): e->highlight_blend_mode = read_enum_blend(c); return true;
      case psd_key("sdwM"): e->shadow_blend_mode = read_enum_blend(c); return true;
      case psd_key("hglC"):
        e->highlight_color = e->highlight_native_color = psd_read_rgb_color(c);
        return true;
      case psd_key("sdwC"):
        e->shadow_color = e->shadow_native_color = psd_read_rgb_color(c);
        return true;
      case psd_key("hglO"): e->highlight_opacity = read_opacity(c); return true;
      case psd_key("sdwO"): e->shadow_opacity = read_opacity(c); return true;
      case psd_key("bvlT"): e->technique = read_enum_technique(c); return true;
      case psd_key("bvlS"): {
        uint32_t v = read_enum_key(c, value_text);
        if (v == psd_key("OtrB")) e->style = 0;
        else if (v == psd_key("InrB")) e->style = 1;
        else if (v == psd_key("Embs")) e->style = 2;
        else if (v == psd_key("PlEb")) e->style = 3;
        else if (v == 0 && !std::strcmp(value_text, "strokeEmboss")) e->style = 4;
        return true;
      }
      case psd_key("bvlD"): {
        uint32_t v = read_enum_key(c, value_text);
        if (v == psd_key("In  ")) e->direction = 0;
        else if (v == psd_key("Out ")) e->direction = 1;
        return true;
      }
      case psd_key("Lald"): e->altitude = read_unit_double(c); return true;
      case psd_key("srgR"): e->depth = read_unit_double(c); return true;
      case psd_key("Sftn"): e->soften = read_unit_double(c); return true;
      case psd_key("Scl "): e->texture_scale = read_unit_double(c); return true;
      case psd_key("InvT"): e->invert_texture = psd_get_bool(c); return true;
      case psd_key("Algn"): e->align_with_layer = psd_get_bool(c); return true;
      case psd_key("MpgS"): psd_read_contour(e->contour, c); return true;
      case psd_key("Ptrn"):
        psd_release_pattern_ref(&e->texture_pattern);
        psd_read_pattern_ref(&e->texture_pattern, c);
        return true;
      case 0:
        if (!std::strcmp(text, "textureDepth")) e->texture_depth = read_unit_double(c);
        else if (!std::strcmp(text, "antialiasGloss")) e->anti_aliased_gloss = psd_get_bool(c);
        else if (!std::strcmp(text, "useShape")) e->use_shape = psd_get_bool(c);
        else if (!std::strcmp(text, "useTexture")) e->use_texture = psd_get_bool(c);
        else if (!std::strcmp(text, "phase")) psd_read_point(&e->phase_x, &e->phase_y, c);
        else return false;
        return true;
      default: return false;
    }
  });
}

void read_satin(psd_file_context* c, psd_satin_effect* e) {
  default_satin(e);
  walk(c, [&](uint32_t key, const char*, uint32_t) {
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
      case psd_key("Clr "): e->color = psd_read_rgb_color(c); return true;
      case psd_key("Opct"): e->opacity = read_opacity(c); return true;
      case psd_key("lagl"): e->angle = read_unit_double(c); return true;
      case psd_key("Dstn"): e->distance = read_unit_double(c); return true;
      case psd_key("blur"): e->size = read_unit_double(c); return true;
      case psd_key("AntA"): e->anti_aliased = psd_get_bool(c); return true;
      case psd_key("Invr"): e->invert = psd_get_bool(c); return true;
      case psd_key("MpgS"): psd_read_contour(e->contour, c); return true;
      default: return false;
    }
  });
}

void read_color_fill(psd_file_context* c, psd_color_fill_effect* e) {
  default_color_fill(e);
  walk(c, [&](uint32_t key, const char*, uint32_t) {
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
      case psd_key("Clr "): e->color = e->native_color = psd_read_rgb_color(c); return true;
      case psd_key("Opct"): e->opacity = read_opacity(c); return true;
      default: return false;
    }
  });
}

void read_gradient_overlay(psd_file_context* c, psd_gradient_overlay_effect* e) {
  default_gradient_overlay(e);
  walk(c, [&](uint32_t key, const char*, uint32_t) {
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
      case psd_key("Opct"): e->opacity = read_opacity(c); return true;
      case psd_key("Grad"):
        psd_release_gradient(&e->gradient);
        psd_read_gradient(&e->gradient, c);
        return true;
      case psd_key("Rvrs"): e->reverse = psd_get_bool(c); return true;
      case psd_key("Algn"): e->align = psd_get_bool(c); return true;
      case psd_key("Angl"): e->angle = read_unit_double(c); return true;
      case psd_key("Scl "): e->scale = read_unit_double(c); return true;
      case psd_key("Type"): e->gradient_type = read_enum_gradient_type(c); return true;
      case psd_key("Ofst"): psd_read_point(&e->offset_x, &e->offset_y, c); return true;
      default: return false;
    }
  });
}

void read_pattern_overlay(psd_file_context* c, psd_pattern_overlay_effect* e) {
  default_pattern_overlay(e);
  walk(c, [&](uint32_t key, const char* text, uint32_t) {
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
      case psd_key("Opct"): e->opacity = read_opacity(c); return true;
      case psd_key("Ptrn"):
        psd_release_pattern_ref(&e->pattern);
        psd_read_pattern_ref(&e->pattern, c);
        return true;
      case psd_key("Scl "): e->scale = read_unit_double(c); return true;
      case psd_key("Algn"): e->align = psd_get_bool(c); return true;
      case 0:
        if (!std::strcmp(text, "phase")) {
          psd_read_point(&e->phase_x, &e->phase_y, c);
          return true;
        }
        return false;
      default: return false;
    }
  });
}

void read_stroke(psd_file_context* c, psd_stroke_effect* e) {
  default_stroke(e);
  walk(c, [&](uint32_t key, const char* text, uint32_t) {
    char value_text[256];
    switch (key) {
      case psd_key("enab"): e->enabled = psd_get_bool(c); return true;
      case psd_key("Md  "): e->blend_mode = read_enum_blend(c); return true;
      case psd_key("Clr "): e->color = psd_read_rgb_color(c); return true;
      case psd_key("Opct"): e->opacity = read_opacity(c); return true;
      case psd_key("Grad"):
        psd_release_gradient(&e->gradient);
        psd_read_gradient(&e->gradient, c);
        return true;
      case psd_key("Styl"): {
        uint32_t v = read_enum_key(c, value_text);
        if (v == psd_key("OutF")) e->position = 0;
        else if (v == psd_key("InsF")) e->position = 1;
        else if (v == psd_key("CtrF")) e->position = 2;
        return true;
      }
      case psd_key("PntT"): {
        uint32_t v = read_enum_key(c, value_text);
        if (v == psd_key("SClr")) e->fill_type = 0;
        else if (v == psd_key("GrFl")) e->fill_type = 1;
        else if (v == psd_key("Ptrn")) e->fill_type = 2;
        return true;
      }
      case psd_key("Sz  "): e->size = read_unit_double(c); return true;
      case psd_key("Lnkd"): e->linked = psd_get_bool(c); return true;
      case psd_key("Rvrs"): e->reverse = psd_get_bool(c); return true;
      case psd_key("Algn"): e->align = psd_get_bool(c); return true;
      case psd_key("Angl"): e->angle = read_unit_double(c); return true;
      case psd_key("Type"): e->gradient_type = read_enum_gradient_type(c); return true;
      case psd_key("Ofst"): psd_read_point(&e->offset_x, &e->offset_y, c); return true;
      case psd_key("Ptrn"):
        psd_release_pattern_ref(&e->pattern);
        psd_read_pattern_ref(&e->pattern, c);
        return true;
      case psd_key("Scl "): {
        int32_t v = read_unit_double(c);
        if (e->fill_type == 1) e->gradient_scale = v;
        else if (e->fill_type == 2) e->pattern_scale = v;
        return true;
      }
      case 0:
        if (!std::strcmp(text, "phase")) {
          psd_read_point(&e->phase_x, &e->phase_y, c);
          return true;
        }
        return false;
      default: return false;
    }
  });
}

}  // namespace

void psd_release_effects(psd_layer_effects* fx) {
  if (!fx) return;
  psd_release_gradient(&fx->outer_glow.gradient);
  psd_release_gradient(&fx->inner_glow.gradient);
  psd_release_gradient(&fx->gradient_overlay.gradient);
  psd_release_gradient(&fx->stroke.gradient);
  psd_release_pattern_ref(&fx->bevel.texture_pattern);
  psd_release_pattern_ref(&fx->pattern_overlay.pattern);
  psd_release_pattern_ref(&fx->stroke.pattern);
  psd_free(fx);
}

psd_status psd_read_lrfx(psd_file_context* c, psd_layer_record* layer, int64_t end) {
  void* record = nullptr;
  psd_status s = psd_append_adjustment(layer, psd_adjust_lrfx, sizeof(psd_layer_effects), &record);
  if (s != 0) return s < 0 ? s : 0;
  auto* fx = static_cast<psd_layer_effects*>(record);
  uint8_t v[2];
  if (psd_stream_read(c, v, 2) == 2 && (v[0] | v[1]) != 0) return psd_status_effects_version_mismatch;
  fx->effect_count = psd_get_s16(c);
  if (fx->effect_count < 1) return 0;
  for (int32_t handled = 0;;) {
    // The block's own end bounds the walk whatever the count says.
    if (c->consumed >= end || !psd_read_signature(c, "8BIM"))
      return psd_status_effects_signature_mismatch;
    uint8_t k[4];
    if (psd_stream_read(c, k, 4) != 4) return psd_status_unknown_effect_key;
    uint32_t key = pw::LoadBE32(k);
    switch (key) {
      case psd_key("cmnS"):
        psd_stream_skip(c, 4);
        if (psd_get_s32(c) != 0) return psd_status_common_state_version_mismatch;
        fx->visible = psd_get_bool(c);
        psd_stream_skip(c, 2);
        break;
      case psd_key("dsdw"):
        read_lrfx_shadow(c, &fx->drop_shadow);
        mark(fx, psd_effect_drop_shadow);
        break;
      case psd_key("isdw"):
        read_lrfx_shadow(c, &fx->inner_shadow);
        mark(fx, psd_effect_inner_shadow);
        break;
      case psd_key("oglw"):
        read_lrfx_outer_glow(c, &fx->outer_glow);
        mark(fx, psd_effect_outer_glow);
        break;
      case psd_key("iglw"):
        read_lrfx_inner_glow(c, &fx->inner_glow);
        mark(fx, psd_effect_inner_glow);
        break;
      case psd_key("bevl"):
        read_lrfx_bevel(c, &fx->bevel);
        mark(fx, psd_effect_bevel);
        break;
      case psd_key("sofi"):
        read_lrfx_fill(c, &fx->color_overlay);
        mark(fx, psd_effect_color_overlay);
        break;
      default: return psd_status_unknown_effect_key;
    }
    if (++handled >= fx->effect_count) return 0;
  }
}

// The descriptor-based effects block, read inside its block's window.
static psd_status read_lfx2_block(psd_file_context* c, psd_layer_record* layer) {
  void* record = nullptr;
  psd_status s = psd_append_adjustment(layer, psd_adjust_lfx2, sizeof(psd_layer_effects), &record);
  if (s != 0) return s < 0 ? s : 0;
  auto* fx = static_cast<psd_layer_effects*>(record);
  uint8_t v[4];
  if (psd_stream_read(c, v, 4) == 4 && (v[0] | v[1] | v[2] | v[3]) != 0)
    return psd_status_effects_version_mismatch;
  if (psd_get_be32(c) != 16) return psd_status_effects_version_mismatch;
  psd_skip_unicode(c);
  psd_skip_id(c);
  int64_t n = psd_get_be32(c);
  char text[256];
  while (n > 0 && psd_bytes_left(c) > 0) {
    uint32_t key = psd_read_id(c, text);
    uint32_t type = psd_get_be32(c);
    switch (key) {
      case psd_key("Scl "):
        psd_stream_skip(c, 4);
        psd_get_be_double(c);
        psd_read_id(c, text);
        psd_get_be32(c);
        fx->visible = psd_get_bool(c);
        --n;
        break;
      case psd_key("DrSh"): read_shadow(c, &fx->drop_shadow, true); mark(fx, psd_effect_drop_shadow); ++fx->effect_count; break;
      case psd_key("IrSh"): read_shadow(c, &fx->inner_shadow, false); mark(fx, psd_effect_inner_shadow); ++fx->effect_count; break;
      case psd_key("OrGl"): read_outer_glow(c, &fx->outer_glow); mark(fx, psd_effect_outer_glow); ++fx->effect_count; break;
      case psd_key("IrGl"): read_inner_glow(c, &fx->inner_glow); mark(fx, psd_effect_inner_glow); ++fx->effect_count; break;
      case psd_key("ebbl"): read_bevel(c, &fx->bevel); mark(fx, psd_effect_bevel); ++fx->effect_count; break;
      case psd_key("ChFX"): read_satin(c, &fx->satin); mark(fx, psd_effect_satin); ++fx->effect_count; break;
      case psd_key("SoFi"): read_color_fill(c, &fx->color_overlay); mark(fx, psd_effect_color_overlay); ++fx->effect_count; break;
      case psd_key("GrFl"): read_gradient_overlay(c, &fx->gradient_overlay); mark(fx, psd_effect_gradient_overlay); ++fx->effect_count; break;
      case psd_key("FrFX"): read_stroke(c, &fx->stroke); mark(fx, psd_effect_stroke); ++fx->effect_count; break;
      case 0:
        if (!std::strcmp(text, "patternFill")) {
          read_pattern_overlay(c, &fx->pattern_overlay);
          mark(fx, psd_effect_pattern_overlay);
          ++fx->effect_count;
          break;
        }
        psd_skip_item(type, c);
        break;
      default: psd_skip_item(type, c); break;
    }
    --n;
  }
  return 0;
}

psd_status psd_read_lfx2(psd_file_context* c, psd_layer_record* layer, int64_t end) {
  psd_status s = 0;
  {
    // However malformed a descriptor is, it cannot take bytes of the
    // blocks and layer records after this one.
    psd_read_window window(c, end);
    s = read_lfx2_block(c, layer);
  }
  psd_skip_to(c, end);
  return s;
}
