// Descriptors: the self-describing key/type/value trees of newer blocks.
// No general tree is built; readers keep the keys they know and skip the
// rest. Every loop is bounded by the bytes left and every nesting by a
// depth limit, so a damaged descriptor cannot hang or exhaust the stack.
#include <cmath>

#include "psddecode/psd_internal.h"

namespace {

bool has_bytes(psd_file_context* c) { return psd_bytes_left(c) > 0; }

// Skips n bytes where n comes from the file (never backwards).
void skip_counted(psd_file_context* c, int64_t n) {
  if (n > 0) psd_skip_to(c, int64_t(c->consumed) + n);
}

struct depth_guard {
  psd_file_context* c;
  bool ok;
  explicit depth_guard(psd_file_context* ctx) : c(ctx), ok(++ctx->descriptor_depth <= psd_max_descriptor_depth) {}
  ~depth_guard() { --c->descriptor_depth; }
};


}  // namespace

uint32_t psd_read_id(psd_file_context* c, char text[256]) {
  uint32_t n = psd_get_be32(c);
  if (text) text[0] = 0;
  if (n == 0) return psd_get_be32(c);
  int64_t keep = n > 255 ? 255 : n;
  char buffer[256] = {};
  psd_stream_read(c, buffer, int32_t(keep));
  if (text) std::memcpy(text, buffer, 256);
  skip_counted(c, int64_t(n) - keep);
  return 0;
}

void psd_skip_id(psd_file_context* c) { psd_read_id(c, nullptr); }

void psd_skip_unicode(psd_file_context* c) {
  skip_counted(c, 2 * int64_t(psd_get_be32(c)));
}

void psd_skip_class(psd_file_context* c) {
  psd_skip_unicode(c);
  psd_skip_id(c);
}

void psd_skip_alias(psd_file_context* c) { skip_counted(c, psd_get_be32(c)); }

void psd_skip_reference(psd_file_context* c) {
  int64_t count = psd_get_be32(c);
  for (int64_t i = 0; i < count && has_bytes(c); ++i) {
    switch (psd_get_be32(c)) {
      case psd_key("Clss"): psd_skip_class(c); break;
      case psd_key("Enmr"):
        psd_skip_unicode(c);
        psd_skip_id(c);
        psd_skip_id(c);
        psd_skip_id(c);
        break;
      case psd_key("Idnt"):
      case psd_key("indx"): psd_stream_skip(c, 4); break;
      case psd_key("name"): psd_skip_unicode(c); break;
      case psd_key("prop"):
        psd_skip_unicode(c);
        psd_skip_id(c);
        psd_skip_id(c);
        break;
      case psd_key("rele"):
        psd_skip_unicode(c);
        psd_skip_id(c);
        psd_stream_skip(c, 4);
        break;
      default: break;
    }
  }
}

void psd_skip_list(psd_file_context* c) {
  depth_guard guard(c);
  if (!guard.ok) return;
  int64_t count = psd_get_be32(c);
  for (int64_t i = 0; i < count && has_bytes(c); ++i) psd_skip_item(psd_get_be32(c), c);
}

void psd_skip_descriptor(psd_file_context* c) {
  depth_guard guard(c);
  if (!guard.ok) return;
  psd_skip_class(c);
  int64_t count = psd_get_be32(c);
  for (int64_t i = 0; i < count && has_bytes(c); ++i) {
    psd_skip_id(c);
    psd_skip_item(psd_get_be32(c), c);
  }
}

void psd_skip_item(uint32_t type, psd_file_context* c) {
  switch (type) {
    case psd_key("bool"): psd_stream_skip(c, 1); break;
    case psd_key("doub"): psd_stream_skip(c, 8); break;
    case psd_key("long"): psd_stream_skip(c, 4); break;
    case psd_key("UntF"): psd_stream_skip(c, 12); break;
    case psd_key("enum"):
      psd_skip_id(c);
      psd_skip_id(c);
      break;
    case psd_key("TEXT"): psd_skip_unicode(c); break;
    case psd_key("alis"): psd_skip_alias(c); break;
    case psd_key("type"):
    case psd_key("GlbC"): psd_skip_class(c); break;
    case psd_key("Objc"):
    case psd_key("GlbO"): psd_skip_descriptor(c); break;
    case psd_key("VlLs"): psd_skip_list(c); break;
    case psd_key("obj "): psd_skip_reference(c); break;
    default: break;  // not recognised: its bytes stay in the stream
  }
}

psd_argb psd_read_rgb_color(psd_file_context* c) {
  psd_skip_unicode(c);
  psd_stream_skip(c, 24);
  uint32_t r = uint32_t(psd_saturate_int32(psd_get_be_double(c))) & 0xFF;
  psd_stream_skip(c, 12);
  uint32_t g = uint32_t(psd_saturate_int32(psd_get_be_double(c))) & 0xFF;
  psd_stream_skip(c, 12);
  uint32_t b = uint32_t(psd_saturate_int32(psd_get_be_double(c))) & 0xFF;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

void psd_release_gradient(psd_gradient* g) {
  psd_free(g->name);
  psd_free(g->color_stops);
  psd_free(g->transparency_stops);
  g->name = nullptr;
  g->color_stops = nullptr;
  g->transparency_stops = nullptr;
  g->name_length = 0;
  g->color_stop_count = g->transparency_stop_count = 0;
}

void psd_release_pattern_ref(psd_pattern_ref* r) {
  psd_free(r->name);
  r->name = nullptr;
  r->name_length = 0;
}

void psd_read_gradient(psd_gradient* g, psd_file_context* c) {
  depth_guard guard(c);
  if (!guard.ok) return;
  psd_skip_unicode(c);
  psd_stream_skip(c, 8);
  int64_t items = psd_get_be32(c);
  char text[256];
  for (int64_t i = 0; i < items && has_bytes(c); ++i) {
    uint32_t key = psd_read_id(c, text);
    uint32_t type = psd_get_be32(c);
    switch (key) {
      case psd_key("Clrs"): {
        // Each stop takes well over 60 bytes; a count beyond that is damage.
        int64_t count = psd_bound_count(psd_get_be32(c) & 0xFFFF, 60, psd_bytes_left(c));
        psd_free(g->color_stops);
        g->color_stop_count = 0;
        g->color_stops = static_cast<psd_color_stop*>(psd_alloc(count, sizeof(psd_color_stop)));
        if (!g->color_stops) return;
        g->color_stop_count = int16_t(count);
        for (int64_t k = 0; k < count; ++k) {
          psd_color_stop& s = g->color_stops[k];
          psd_stream_skip(c, 4);
          psd_skip_unicode(c);
          psd_stream_skip(c, 24);
          s.color = psd_read_rgb_color(c);
          psd_stream_skip(c, 24);
          uint32_t kind = psd_get_be32(c);
          s.kind = kind == psd_key("BckC") ? 1 : kind == psd_key("FrgC") ? 0
                 : kind == psd_key("UsrS") ? 2 : 0;
          psd_stream_skip(c, 12);
          s.location = psd_get_s32(c);
          psd_stream_skip(c, 12);
          s.midpoint = psd_get_s32(c);
        }
        break;
      }
      case psd_key("GrdF"): psd_stream_skip(c, 16); break;
      case psd_key("Intr"): g->interpolation = psd_saturate_int32(psd_get_be_double(c)); break;
      case psd_key("Nm  "):
        if (psd_read_unicode_string(c, int64_t(c->file_length), &g->name_length, &g->name) != 0)
          return;
        break;
      case psd_key("Trns"): {
        int64_t count = psd_bound_count(psd_get_be32(c) & 0xFFFF, 60, psd_bytes_left(c));
        psd_free(g->transparency_stops);
        g->transparency_stop_count = 0;
        g->transparency_stops =
            static_cast<psd_transparency_stop*>(psd_alloc(count, sizeof(psd_transparency_stop)));
        if (!g->transparency_stops) return;
        g->transparency_stop_count = int16_t(count);
        for (int64_t k = 0; k < count; ++k) {
          psd_transparency_stop& s = g->transparency_stops[k];
          psd_stream_skip(c, 4);
          psd_skip_unicode(c);
          psd_stream_skip(c, 24);
          psd_stream_skip(c, 4);
          s.opacity = int16_t(psd_saturate_int32(psd_get_be_double(c)));
          psd_stream_skip(c, 12);
          s.location = psd_get_s32(c);
          psd_stream_skip(c, 12);
          s.midpoint = psd_get_s32(c);
        }
        break;
      }
      default: psd_skip_item(type, c); break;
    }
  }
}

void psd_read_pattern_ref(psd_pattern_ref* r, psd_file_context* c) {
  psd_skip_unicode(c);
  psd_stream_skip(c, 8);
  int64_t items = psd_get_be32(c);
  char text[256];
  for (int64_t i = 0; i < items && has_bytes(c); ++i) {
    uint32_t key = psd_read_id(c, text);
    uint32_t type = psd_get_be32(c);
    if (key == psd_key("Idnt")) {
      int64_t count = psd_get_be32(c);
      std::memset(r->identifier, 0, sizeof r->identifier);
      for (int64_t k = 0; k < count && has_bytes(c); ++k) {
        uint8_t ch[2] = {0, 0};
        psd_stream_read(c, ch, 2);
        if (k < 255) r->identifier[k] = char(ch[1]);
      }
    } else if (key == psd_key("Nm  ")) {
      if (psd_read_unicode_string(c, int64_t(c->file_length), &r->name_length, &r->name) != 0)
        return;
    } else {
      psd_skip_item(type, c);
    }
  }
}

void psd_read_point(int32_t* x, int32_t* y, psd_file_context* c) {
  psd_skip_unicode(c);
  psd_stream_skip(c, 8);
  int64_t items = psd_get_be32(c);
  for (int64_t i = 0; i < items && has_bytes(c); ++i) {
    psd_stream_skip(c, 4);
    uint32_t key = psd_get_be32(c);
    uint32_t type = psd_get_be32(c);
    if (key == psd_key("Hrzn") || key == psd_key("Vrtc")) {
      if (type == psd_key("UntF")) psd_stream_skip(c, 4);
      int32_t v = psd_saturate_int32(psd_get_be_double(c));
      (key == psd_key("Hrzn") ? *x : *y) = v;
    } else {
      psd_skip_item(type, c);
    }
  }
}

void psd_init_contour(uint8_t* table) {
  for (int i = 0; i < 256; ++i) table[i] = uint8_t(i);
}

void psd_matrix_multiply(double* result, const double* a, const double* b, int rows, int inner,
                         int cols) {
  for (int r = 0; r < rows; ++r)
    for (int col = 0; col < cols; ++col) {
      double sum = 0;
      for (int k = 0; k < inner; ++k) sum += a[r * inner + k] * b[k * cols + col];
      result[r * cols + col] = sum;
    }
}

namespace {
int32_t clamp_byte_index(double v) {
  int32_t i = psd_saturate_int32(v);
  return i < 0 ? 0 : i > 255 ? 255 : i;
}
int32_t round_sample(double v) {
  int32_t i = psd_saturate_int32(v + 0.5);
  return i < 1 ? 0 : i > 255 ? 255 : i;
}
}  // namespace

void psd_contour_segment(uint8_t* table, const double px[4], const double py[4]) {
  static const double basis[16] = {-0.5, 1.5, -1.5, 0.5, 1, -2.5, 2, -0.5,
                                   -0.5, 0,   0.5,  0,   0, 1,    0, 0};
  const double d = 1.0 / 512.0;
  const double forward[16] = {0, 0, 0, 1, d * d * d, d * d, d, 0,
                              6 * d * d * d, 2 * d * d, 0, 0, 6 * d * d * d, 0, 0, 0};
  double points[8];
  for (int i = 0; i < 4; ++i) {
    points[2 * i] = px[i];
    points[2 * i + 1] = py[i];
  }
  double coefficients[8], differences[8];
  psd_matrix_multiply(coefficients, basis, points, 4, 4, 2);
  psd_matrix_multiply(differences, forward, coefficients, 4, 4, 2);
  double x = differences[0], y = differences[1];
  table[clamp_byte_index(x)] = uint8_t(clamp_byte_index(y));
  double dx = differences[2], dy = differences[3];
  double ddx = differences[4], ddy = differences[5];
  double dddx = differences[6], dddy = differences[7];
  int32_t last_x = clamp_byte_index(x), last_y = clamp_byte_index(y);
  for (int step = 0; step < 512; ++step) {
    x += dx;
    y += dy;
    dx += ddx;
    dy += ddy;
    ddx += dddx;
    ddy += dddy;
    int32_t rx = round_sample(x), ry = round_sample(y);
    if (rx != last_x || ry != last_y) {
      table[rx] = uint8_t(ry);
      last_x = rx;
      last_y = ry;
    }
  }
}

void psd_read_contour(uint8_t* table, psd_file_context* c) {
  psd_skip_unicode(c);
  psd_stream_skip(c, 8);
  int64_t items = psd_get_be32(c);
  if (items == 2) {
    psd_stream_skip(c, 12);
    psd_skip_unicode(c);
  }
  psd_stream_skip(c, 12);
  int64_t count = psd_get_be32(c);
  if (count > 255) count = 255;
  struct point { int32_t x, y; bool corner; };
  point pts[255];
  int32_t n = 0;
  for (int64_t i = 0; i < count && has_bytes(c); ++i) {
    point p{0, 0, true};
    psd_stream_skip(c, 4);
    psd_skip_unicode(c);
    psd_stream_skip(c, 8);
    int64_t point_items = psd_get_be32(c);
    for (int64_t k = 0; k < point_items && has_bytes(c); ++k) {
      psd_stream_skip(c, 4);
      uint32_t key = psd_get_be32(c);
      uint32_t type = psd_get_be32(c);
      if (key == psd_key("Hrzn")) p.x = clamp_byte_index(psd_get_be_double(c));
      else if (key == psd_key("Vrtc")) p.y = clamp_byte_index(psd_get_be_double(c));
      else if (key == psd_key("Cnty")) p.corner = !psd_get_bool(c);
      else psd_skip_item(type, c);
    }
    pts[n++] = p;
  }
  // Without points the table keeps what it held (the identity by default).
  if (n == 0) return;
  for (int32_t x = 0; x < pts[0].x; ++x) table[x] = uint8_t(pts[0].y);
  for (int32_t x = pts[n - 1].x; x < 256; ++x) table[x] = uint8_t(pts[n - 1].y);
  for (int32_t i = 0; i + 1 < n; ++i) {
    const point& p1 = pts[i];
    const point& p2 = pts[i + 1];
    const point& prev = i > 0 ? pts[i - 1] : pts[i];
    const point& next = i + 2 < n ? pts[i + 2] : pts[n - 1];
    const point& p0 = p1.corner ? p1 : prev;
    const point& p3 = p2.corner ? p2 : next;
    double px[4] = {double(p0.x), double(p1.x), double(p2.x), double(p3.x)};
    double py[4] = {double(p0.y), double(p1.y), double(p2.y), double(p3.y)};
    psd_contour_segment(table, px, py);
  }
  for (int32_t i = 0; i < n; ++i) table[pts[i].x] = uint8_t(pts[i].y);
}

int32_t psd_read_blend_enum(psd_file_context* c) {
  char text[256];
  uint32_t key = psd_read_id(c, text);
  if (key == 0) {
    if (!std::strcmp(text, "linearBurn")) return psd_blend_linear_burn;
    if (!std::strcmp(text, "linearDodge")) return psd_blend_linear_dodge;
    if (!std::strcmp(text, "vividLight")) return psd_blend_vivid_light;
    if (!std::strcmp(text, "linearLight")) return psd_blend_linear_light;
    if (!std::strcmp(text, "pinLight")) return psd_blend_pin_light;
    if (!std::strcmp(text, "hardMix")) return psd_blend_hard_mix;
    return psd_blend_normal;
  }
  switch (key) {
    case psd_key("Dslv"): return psd_blend_dissolve;
    case psd_key("Drkn"): return psd_blend_darken;
    case psd_key("Mltp"): return psd_blend_multiply;
    case psd_key("CBrn"): return psd_blend_color_burn;
    case psd_key("Lghn"): return psd_blend_lighten;
    case psd_key("Scrn"): return psd_blend_screen;
    case psd_key("CDdg"): return psd_blend_color_dodge;
    case psd_key("Ovrl"): return psd_blend_overlay;
    case psd_key("SftL"): return psd_blend_soft_light;
    case psd_key("HrdL"): return psd_blend_hard_light;
    case psd_key("Dfrn"): return psd_blend_difference;
    case psd_key("Xclu"): return psd_blend_exclusion;
    case psd_key("H   "): return psd_blend_hue;
    case psd_key("Strt"): return psd_blend_saturation;
    case psd_key("Clr "): return psd_blend_color;
    case psd_key("Lmns"): return psd_blend_luminosity;
    default: return psd_blend_normal;
  }
}

int32_t psd_read_technique_enum(psd_file_context* c) {
  uint32_t n = psd_get_be32(c);
  if (n != 0) {
    skip_counted(c, n);  // a text value: softer
    return 0;
  }
  switch (psd_get_be32(c)) {
    case psd_key("PrBL"): return 1;
    case psd_key("Slmt"): return 2;
    default: return 0;
  }
}

int32_t psd_read_gradient_type_enum(psd_file_context* c) {
  psd_stream_skip(c, 4);
  switch (psd_get_be32(c)) {
    case psd_key("Rdl "): return 1;
    case psd_key("Angl"): return 2;
    case psd_key("Rflc"): return 3;
    case psd_key("Dmnd"): return 4;
    default: return 0;
  }
}
