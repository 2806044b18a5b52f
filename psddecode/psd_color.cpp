// Decoded channel planes to ARGB for every colour mode and depth, in the
// three families (merged image, layers, patterns), and the conversions of
// the 10-byte colour record.
#include <cmath>

#include "psddecode/psd_internal.h"

namespace {

// The planes one conversion reads, already located. A missing plane reads
// as zero; a missing alpha plane means opaque.
struct plane_set {
  const uint8_t* colour[4];
  const uint8_t* alpha;
  int32_t width, height;
  int32_t depth;  // 1, 8 or 16 (samples of 2 bytes, high byte used)
  uint32_t mode;
  int32_t colour_count;  // colour planes the image has (multichannel rule)
  bool layer_multichannel_black;  // layer with a channel -1: it is the black
};

struct index_rules {
  const psd_argb* table;
  int64_t defined;  // entries that may be used
  int32_t transparent;  // -1 when none
};

inline uint8_t sample(const uint8_t* plane, int64_t i, int32_t bytes) {
  return plane ? plane[i * bytes] : 0;
}

inline uint32_t cmyk_component(uint32_t x, uint32_t k) { return (k * (x + 1) + 255) >> 8; }

void convert(const plane_set& p, const index_rules* rules, psd_argb* out) {
  const int64_t w = p.width, h = p.height;
  if (p.depth == 1) {
    const int64_t row_bytes = (w + 7) / 8;
    for (int64_t y = 0; y < h; ++y)
      for (int64_t x = 0; x < w; ++x) {
        uint8_t byte = sample(p.colour[0], y * row_bytes + x / 8, 1);
        out[y * w + x] = (byte & (0x80 >> (x & 7))) ? 0xFF000000u : 0xFFFFFFFFu;
      }
    return;
  }
  const int32_t bytes = p.depth == 16 ? 2 : 1;
  const int64_t n = w * h;
  for (int64_t i = 0; i < n; ++i) {
    uint32_t a = p.alpha ? sample(p.alpha, i, bytes) : 0xFF;
    uint32_t c0 = sample(p.colour[0], i, bytes);
    uint32_t v = 0;
    switch (p.mode) {
      case psd_color_grayscale:
      case psd_color_duotone: v = a << 24 | c0 * 0x010101u; break;
      case psd_color_indexed: {
        bool ok = int64_t(c0) < rules->defined && int32_t(c0) != rules->transparent;
        v = ok ? rules->table[c0] : 0x00FFFFFFu;
        break;
      }
      case psd_color_rgb:
        v = a << 24 | c0 << 16 | uint32_t(sample(p.colour[1], i, bytes)) << 8 |
            sample(p.colour[2], i, bytes);
        break;
      case psd_color_cmyk: {
        uint32_t k = sample(p.colour[3], i, bytes);
        v = a << 24 | cmyk_component(c0, k) << 16 |
            cmyk_component(sample(p.colour[1], i, bytes), k) << 8 |
            cmyk_component(sample(p.colour[2], i, bytes), k);
        break;
      }
      case psd_color_multichannel: {
        uint32_t c1 = sample(p.colour[1], i, bytes), c2 = sample(p.colour[2], i, bytes);
        if (p.colour_count == 4 || p.layer_multichannel_black) {
          uint32_t k = sample(p.colour[3], i, bytes);
          v = 0xFF000000u | cmyk_component(c0, k) << 16 | cmyk_component(c1, k) << 8 |
              cmyk_component(c2, k);
        } else {
          v = 0xFF000000u | (((c0 + 2) * 255) >> 8) << 16 | (((c1 + 2) * 255) >> 8) << 8 |
              (((c2 + 2) * 255) >> 8);
        }
        break;
      }
      case psd_color_lab:
        v = psd_lab_to_argb(a, double((c0 * 100) >> 8),
                            double(int32_t(sample(p.colour[1], i, bytes)) - 128),
                            double(int32_t(sample(p.colour[2], i, bytes)) - 128));
        break;
      default: v = 0; break;
    }
    out[i] = v;
  }
}

// Colour planes a mode's conversion reads before an optional alpha plane.
int32_t base_colour_planes(uint32_t mode) {
  switch (mode) {
    case psd_color_grayscale: case psd_color_duotone: return 1;
    case psd_color_rgb: case psd_color_lab: return 3;
    case psd_color_cmyk: return 4;
    case psd_color_multichannel: return 4;
    default: return 1;
  }
}

bool mode_has_alpha(uint32_t mode, int32_t colour_count) {
  switch (mode) {
    case psd_color_grayscale: case psd_color_duotone: return colour_count == 2;
    case psd_color_rgb: case psd_color_lab: return colour_count == 4;
    case psd_color_cmyk: return colour_count == 5;
    default: return false;
  }
}

// Planes stored one after another: colour planes first, then the alpha
// plane (as the file stores them).
plane_set positional(const uint8_t* data, int64_t plane_bytes, int32_t planes_present,
                     int32_t colour_count, uint32_t mode, int32_t width, int32_t height,
                     int32_t depth) {
  plane_set p{};
  p.width = width;
  p.height = height;
  p.depth = depth;
  p.mode = mode;
  p.colour_count = colour_count;
  int32_t base = base_colour_planes(mode);
  for (int32_t k = 0; k < 4 && k < base; ++k)
    if (k < planes_present && k < colour_count) p.colour[k] = data + k * plane_bytes;
  if (mode_has_alpha(mode, colour_count) && base < planes_present)
    p.alpha = data + base * plane_bytes;
  return p;
}

}  // namespace

bool psd_has_conversion(uint32_t mode, int32_t depth) {
  switch (mode) {
    case psd_color_bitmap: return depth == 1;
    case psd_color_indexed: case psd_color_multichannel: return depth == 8;
    case psd_color_grayscale: case psd_color_duotone: case psd_color_rgb: case psd_color_cmyk:
    case psd_color_lab: return depth == 8 || depth == 16;
    default: return false;
  }
}

bool psd_merged_has_alpha(const psd_file_context* c) {
  return c && c->merged_image && mode_has_alpha(c->color_mode, c->first_extra_channel) &&
         base_colour_planes(c->color_mode) < c->channels;
}

psd_status psd_convert_merged(psd_file_context* c) {
  if (!psd_has_conversion(c->color_mode, c->depth)) return psd_status_unsupported_depth;
  plane_set p = positional(c->channel_data, c->plane_size, c->channels, c->first_extra_channel,
                           c->color_mode, c->width, c->height, c->depth);
  index_rules rules{c->palette, c->palette_count, -1};
  if (c->has_index_color_count && c->index_color_count < rules.defined)
    rules.defined = c->index_color_count < 0 ? 0 : c->index_color_count;
  if (c->has_transparent_index) rules.transparent = c->transparent_index;
  if (!c->palette) rules.defined = 0;
  convert(p, &rules, c->merged_image);
  return 0;
}

psd_status psd_convert_layer(psd_file_context* c, psd_layer_record* layer) {
  if (!psd_has_conversion(c->color_mode, c->depth)) return psd_status_unsupported_depth;
  plane_set p{};
  p.width = layer->width;
  p.height = layer->height;
  p.depth = c->depth;
  p.mode = c->color_mode;
  p.colour_count = -1;
  for (int32_t k = 0; k < layer->channel_count; ++k) {
    int16_t id = layer->channel_infos[k].id;
    const uint8_t* plane = c->channel_data + int64_t(k) * c->plane_stride;
    if (id >= 0 && id < 4 && !p.colour[id]) p.colour[id] = plane;
    if (id == -1 && !p.alpha) p.alpha = plane;
  }
  if (c->color_mode == psd_color_multichannel && p.alpha) {
    p.colour[3] = p.alpha;
    p.layer_multichannel_black = true;
    p.alpha = nullptr;
  }
  if (c->color_mode == psd_color_bitmap || c->color_mode == psd_color_indexed) p.alpha = nullptr;
  index_rules rules{c->palette, c->palette ? c->palette_count : 0, -1};
  if (c->has_index_color_count && c->index_color_count < rules.defined)
    rules.defined = c->index_color_count < 0 ? 0 : c->index_color_count;
  if (c->has_transparent_index) rules.transparent = c->transparent_index;
  convert(p, &rules, layer->pixels);
  return 0;
}

psd_status psd_convert_pattern(psd_file_context* c, psd_pattern* pattern, int32_t channel_count,
                               int32_t pixel_depth, const psd_argb* table) {
  int32_t depth = pixel_depth == 1 ? 1 : c->depth;
  uint32_t mode = uint32_t(pattern->image_mode);
  if (pixel_depth == 1) mode = psd_color_bitmap;
  if (!psd_has_conversion(mode, depth)) return psd_status_unsupported_depth;
  plane_set p = positional(c->channel_data, c->plane_size, channel_count, channel_count, mode,
                           pattern->width, pattern->height, depth);
  index_rules rules{table, table ? 256 : 0, -1};
  convert(p, &rules, pattern->pixels);
  return 0;
}

// ---- colour records ------------------------------------------------------

psd_argb psd_xyz_to_argb(uint32_t alpha, double x, double y, double z) {
  x /= 100.0;
  y /= 100.0;
  z /= 100.0;
  double rgb[3] = {3.2406 * x - 1.5372 * y - 0.4986 * z, -0.9689 * x + 1.8758 * y + 0.0415 * z,
                   0.0557 * x - 0.2040 * y + 1.0570 * z};
  uint32_t out[3];
  for (int i = 0; i < 3; ++i) {
    double v = rgb[i];
    v = v > 0.0031308 ? 1.055 * std::pow(v, 1.0 / 2.4) - 0.055 : 12.92 * v;
    double s = std::trunc(v * 256.0);
    out[i] = s < 0 ? 0 : s > 255 ? 255 : uint32_t(s);
  }
  return (alpha & 0xFF) << 24 | out[0] << 16 | out[1] << 8 | out[2];
}

psd_argb psd_lab_to_argb(uint32_t alpha, double l, double a, double b) {
  double fy = (l + 16.0) / 116.0;
  double f[3] = {fy + a / 500.0, fy, fy - b / 200.0};
  double t[3];
  for (int i = 0; i < 3; ++i) {
    double cube = f[i] * f[i] * f[i];
    t[i] = cube > 0.008856 ? cube : (f[i] - 16.0 / 116.0) / 7.787;
  }
  return psd_xyz_to_argb(alpha, 95.047 * t[0], 100.0 * t[1], 108.883 * t[2]);
}

static uint32_t clamp_byte(double v) {
  double s = std::trunc(v);
  return s < 0 ? 0 : s > 255 ? 255 : uint32_t(s);
}

psd_argb psd_cmyk_to_argb(double c, double m, double y, double k) {
  double in[3] = {c, m, y};
  uint32_t out[3];
  for (int i = 0; i < 3; ++i) out[i] = clamp_byte((1.0 - (in[i] * (1.0 - k) + k)) * 255.0);
  return 0xFF000000u | out[0] << 16 | out[1] << 8 | out[2];
}

int32_t psd_hue_component(double x, double m1, double m2) {
  x = std::fmod(x, 360.0);
  if (x < 0) x += 360.0;
  double v;
  if (x < 60) v = m1 + (m2 - m1) * x / 60.0;
  else if (x < 180) v = m2;
  else if (x < 240) v = m1 + (m2 - m1) * (240.0 - x) / 60.0;
  else v = m1;
  double s = std::trunc(v * 255.0);
  // Out-of-range inputs are composed as they come; keep the integer sane.
  return s > 1e9 ? 1000000000 : s < -1e9 ? -1000000000 : int32_t(s);
}

psd_argb psd_hsl_to_argb(double h, double s, double l) {
  uint32_t r, g, b;
  if (s == 0.0) {
    double v = std::trunc(l * 255.0);
    r = g = b = v > 1e9 ? 0 : v < -1e9 ? 0 : uint32_t(int64_t(v));
  } else {
    double m2 = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
    double m1 = 2.0 * l - m2;
    r = uint32_t(psd_hue_component(h + 120.0, m1, m2));
    g = uint32_t(psd_hue_component(h, m1, m2));
    b = uint32_t(psd_hue_component(h - 120.0, m1, m2));
  }
  return 0xFF000000u | r << 16 | g << 8 | b;
}

psd_status psd_color_to_argb(psd_argb* result, int16_t space, const int16_t components[4]) {
  uint32_t u = uint16_t(components[0]), v = uint16_t(components[1]),
           w = uint16_t(components[2]), z = uint16_t(components[3]);
  switch (space) {
    case 0: *result = 0xFF000000u | (u & 0xFF) << 16 | (v & 0xFF) << 8 | (w & 0xFF); return 0;
    case 1: *result = psd_hsl_to_argb(u, v / 100.0, w / 100.0); return 0;
    case 2: *result = psd_cmyk_to_argb(u / 100.0, v / 100.0, w / 100.0, z / 100.0); return 0;
    case 7: *result = psd_lab_to_argb(0xFF, u, double(v), double(w)); return 0;
    default: *result = 0x00FFFFFF; return psd_status_unknown_color_space;
  }
}
