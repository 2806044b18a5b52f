// Output conversion: gamma parameters, colour space, ICC profile, histograms,
// the Fuji rotation, stretching and the output table.
#include "rawdecode/raw_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_piece_threads.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_stream.h"

namespace {

const char* const output_space_names[] = {"sRGB", "Adobe RGB (1998)", "WideGamut D65",
                                          "ProPhoto D65", "XYZ"};

const double output_space_matrices[5][3][3] = {
    {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    {{0.715146, 0.284856, 0.000000}, {0.000000, 1.000000, 0.000000}, {0.000000, 0.041166, 0.958839}},
    {{0.593087, 0.404710, 0.002206}, {0.095413, 0.843149, 0.061439}, {0.011621, 0.069091, 0.919288}},
    {{0.529317, 0.330092, 0.140588}, {0.098368, 0.873465, 0.028169}, {0.016879, 0.117663, 0.865457}},
    {{0.412453, 0.357580, 0.180423}, {0.212671, 0.715160, 0.072169}, {0.019334, 0.119193, 0.950227}},
};

const double rgb_from_xyz_d50[3][3] = {{0.436083, 0.385083, 0.143055},
                                       {0.222507, 0.716888, 0.060608},
                                       {0.013930, 0.097097, 0.714022}};

constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

// A float sample clamped to 0..65535 before it becomes an integer (NaN gives 0).
uint16_t clamp_sample(float v) {
  if (!(v > 0)) return 0;
  if (v >= 65535.f) return 65535;
  return uint16_t(v);
}

// Four-colour complementary sensors (letters "GMCY") of cameras without a
// colour matrix cannot be shown with three of their colours as red, green
// and blue. Taking cyan = G + B, magenta = R + B, yellow = R + G and green
// as halves of what they add (so that grey gives four equal values after
// white balance), red, green and blue are the least-squares solution of
// those four equations: a fixed approximation, not any camera's calibration.
const float complementary_rgb[3][4] = {  // columns: G, M, C, Y
    {-0.25f, 0.75f, -0.75f, 1.25f},
    {0.75f, -0.25f, 0.25f, 0.25f},
    {-0.25f, 0.75f, 1.25f, -0.75f}};

void derive_gamma(double* g) {
  double bounds[2] = {0, 0};
  bounds[g[1] >= 1] = 1;
  if (g[1] != 0 && (g[1] - 1) * (g[0] - 1) <= 0) {
    double m = 0;
    for (int i = 0; i < 36; ++i) {
      m = (bounds[0] + bounds[1]) / 2;
      if ((std::pow(m / g[1], -g[0]) - 1) / g[0] - 1 / m > -1)
        bounds[1] = m;
      else
        bounds[0] = m;
    }
    g[2] = m / g[1];
    g[3] = m * (1 / g[0] - 1);
  }
  const double t = g[2], o = g[3], p = g[0], s = g[1];
  g[4] = 1 / (s * t * t / 2 - o * (1 - t) + (1 - std::pow(t, 1 + p)) * (1 + o) / (1 + p)) - 1;
}

// The profile of the output space, as 256 big-endian words with the two
// texts copied in afterwards.
void build_profile(raw_decode_context* ctx, const double (*matrix)[3], const char* name) {
  auto block = raw_alloc<uint8_t>(ctx, raw_icc_block_size, "convert_to_rgb()");
  uint32_t w[raw_icc_block_size / 4] = {};
  w[0] = 0;  // set once the tags are laid out
  w[2] = 0x02100000;
  w[3] = fourcc("mntr");
  w[4] = ctx->options.output_space == 5 ? fourcc("XYZ ") : fourcc("RGB ");
  w[5] = fourcc("XYZ ");
  w[9] = fourcc("acsp");
  w[12] = fourcc("none");
  w[17] = 0xF6D6;
  w[18] = 0x10000;
  w[19] = 0xD32D;
  static const char* const tags[10] = {"cprt", "desc", "wtpt", "bkpt", "rTRC",
                                       "gTRC", "bTRC", "rXYZ", "gXYZ", "bXYZ"};
  static const uint32_t sizes[10] = {36, 40, 20, 20, 14, 14, 14, 20, 20, 20};
  w[32] = 10;
  uint32_t size = 252;
  for (int i = 0; i < 10; ++i) {
    const char* t = tags[i];
    w[33 + 3 * i] = uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 |
                    uint32_t(uint8_t(t[2])) << 8 | uint32_t(uint8_t(t[3]));
    w[34 + 3 * i] = size;
    w[35 + 3 * i] = sizes[i];
    size += (sizes[i] + 3) & ~3u;
  }
  w[0] = size;  // 476
  auto at = [&](int tag) { return w + w[34 + 3 * tag] / 4; };
  at(0)[0] = fourcc("text");
  at(1)[0] = fourcc("desc");
  at(1)[2] = uint32_t(strlen(name) + 1);
  for (int i = 2; i < 10; ++i) at(i)[0] = fourcc("XYZ ");
  at(2)[2] = 0xF351;
  at(2)[3] = 0x10000;
  at(2)[4] = 0x116CC;
  uint32_t gamma_word = 0x01000000;
  if (ctx->options.output_bits == 8) {
    double v = 256 / ctx->options.gamma_params[4] + 0.5;
    uint32_t n = std::isfinite(v) && v > 0 ? (v >= 65535 ? 65535u : uint32_t(v)) : 0u;
    gamma_word = (n & 0xFFFF) << 16;
  }
  for (int i = 4; i < 7; ++i) {
    at(i)[0] = fourcc("curv");
    at(i)[2] = 1;
    at(i)[3] = gamma_word;
  }
  double inverse[3][3];
  if (!pseudo_inverse(matrix, inverse, 3)) memset(inverse, 0, sizeof inverse);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      double num = 0;
      for (int k = 0; k < 3; ++k) num += rgb_from_xyz_d50[i][k] * inverse[j][k];
      at(7 + j)[2 + i] = uint32_t(int32_t(num * 65536 + 0.5));
    }
  uint8_t* out = block.get();
  for (int i = 0; i < raw_icc_block_size / 4; ++i) {
    out[4 * i] = uint8_t(w[i] >> 24);
    out[4 * i + 1] = uint8_t(w[i] >> 16);
    out[4 * i + 2] = uint8_t(w[i] >> 8);
    out[4 * i + 3] = uint8_t(w[i]);
  }
  static const char copyright[] = "auto-generated by quarn";
  memcpy(out + w[34] + 8, copyright, sizeof copyright - 1);
  memcpy(out + w[37] + 12, name, strlen(name));
  ctx->output_icc_profile = std::move(block);
}

}  // namespace

void convert_to_rgb(raw_decode_context* ctx) {
  derive_gamma(ctx->options.gamma_params);
  const int space = ctx->options.output_space;
  ctx->raw_colour_flag |= ctx->colour_count == 1 || ctx->options.document_mode_level != 0 ||
                          space < 1 || space > 5;
  const int colours = std::clamp(ctx->colour_count, 1, 4);
  float out_cam[3][4] = {};
  if (!ctx->raw_colour_flag) {
    const double (*matrix)[3] = output_space_matrices[space - 1];
    build_profile(ctx, matrix, output_space_names[space - 1]);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < colours; ++j) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) sum += matrix[i][k] * ctx->rgb_from_camera[k][j];
        out_cam[i][j] = float(sum);
      }
  }
  if (ctx->raw_colour_flag)
    raw_verbose(ctx, "Building histograms...\n");
  else
    raw_verbose(ctx, "Converting to %s colorspace...\n", output_space_names[space - 1]);

  memset(ctx->output_histogram, 0, sizeof ctx->output_histogram);
  if (!raw_pixels_hold_full_image(ctx)) return;
  const bool from_complementary = ctx->raw_colour_flag && !ctx->options.document_mode_level &&
                                  space >= 1 && space <= 5 && ctx->colour_count == 4 &&
                                  strcmp(ctx->colour_letters, "GMCY") == 0;
  // Rows convert independently; each band counts its own histogram, added
  // up afterwards (counts, so the sum does not depend on the bands).
  const int rows = ctx->image_height;
  const unsigned width = ctx->image_width;
  const int bands = raw_row_band_count(ctx, rows);
  std::vector<std::vector<int32_t>> band_histograms(size_t(bands > 1 ? bands - 1 : 0),
                                                    std::vector<int32_t>(4 * 0x2000, 0));
  raw_run_row_bands(ctx, rows, bands, "convert_to_rgb()", [&](int first, int end, int band) {
    int32_t* histogram = band ? band_histograms[size_t(band) - 1].data() : &ctx->output_histogram[0][0];
    raw_pixel* pixel = ctx->pixels.get() + size_t(first) * width;
    for (unsigned row = unsigned(first); row < unsigned(end); ++row)
      for (unsigned col = 0; col < width; ++col, ++pixel) {
        if (from_complementary) {
          float out[3] = {0, 0, 0};
          for (int i = 0; i < 3; ++i)
            for (int c = 0; c < 4; ++c) out[i] += complementary_rgb[i][c] * float((*pixel)[c]);
          for (int i = 0; i < 3; ++i) (*pixel)[i] = clamp_sample(out[i]);
        } else if (!ctx->raw_colour_flag) {
          float out[3] = {0, 0, 0};
          for (int i = 0; i < 3; ++i)
            for (int c = 0; c < colours; ++c) out[i] += out_cam[i][c] * float((*pixel)[c]);
          for (int i = 0; i < 3; ++i) (*pixel)[i] = clamp_sample(out[i]);
        } else if (ctx->options.document_mode_level) {
          (*pixel)[0] = (*pixel)[cfa_fc(ctx, row, col)];
        }
        for (int c = 0; c < colours; ++c) histogram[c * 0x2000 + ((*pixel)[c] >> 3)]++;
      }
  });
  for (const auto& h : band_histograms)
    for (size_t i = 0; i < h.size(); ++i) (&ctx->output_histogram[0][0])[i] += h[i];
  if (ctx->colour_count == 4 && space != 0) ctx->colour_count = 3;
  if (ctx->options.document_mode_level && ctx->cfa_pattern) ctx->colour_count = 1;
}

void fuji_rotate(raw_decode_context* ctx) {
  if (!ctx->fuji_diagonal_width || !raw_pixels_hold_full_image(ctx)) return;
  raw_verbose(ctx, "Rotating image 45 degrees...\n");
  const unsigned shrink = ctx->shrink_factor;
  const unsigned f = (unsigned(ctx->fuji_diagonal_width) + shrink - 1) >> shrink;
  ctx->fuji_diagonal_width = uint16_t(f);
  const double step = std::sqrt(0.5);
  const unsigned height = ctx->image_height, width = ctx->image_width;
  if (f >= height) {  // the diagonal cannot lie outside the picture
    report_data_error(ctx);
    ctx->fuji_diagonal_width = 0;
    return;
  }
  const unsigned wide = unsigned(f / step) & 0xFFFF, high = unsigned((height - f) / step) & 0xFFFF;
  auto fresh = raw_alloc_pixels(ctx, uint64_t{wide} * high, "fuji_rotate()");
  const int colours = std::clamp(ctx->colour_count, 1, 4);
  const raw_pixel* old = ctx->pixels.get();
  for (unsigned row = 0; row < high; ++row)
    for (unsigned col = 0; col < wide; ++col) {
      float y = float(f + (double(row) - double(col)) * step);
      float x = float((double(row) + col) * step);
      if (!(y >= 0) || !(x >= 0)) continue;
      unsigned ur = unsigned(y), uc = unsigned(x);
      if (ur + 2 > height || uc + 2 > width) continue;
      float fy = y - float(ur), fx = x - float(uc);
      const raw_pixel* p = old + size_t(ur) * width + uc;
      raw_pixel& out = fresh[size_t(row) * wide + col];
      for (int k = 0; k < colours; ++k) {
        float v = (p[0][k] * (1 - fx) + p[1][k] * fx) * (1 - fy) +
                  (p[width][k] * (1 - fx) + p[width + 1][k] * fx) * fy;
        out[k] = clamp_sample(v);
      }
    }
  ctx->pixels = std::move(fresh);
  ctx->pixel_count = uint64_t{wide} * high;
  ctx->image_width = ctx->buffer_width = uint16_t(wide);
  ctx->image_height = ctx->buffer_height = uint16_t(high);
  ctx->fuji_diagonal_width = 0;
}

void stretch(raw_decode_context* ctx) {
  const double a = ctx->pixel_aspect_ratio;
  if (a == 1 || !raw_pixels_hold_full_image(ctx)) return;
  if (!std::isfinite(a) || a < 0.25 || a > 4) {
    raw_message(ctx, "%s: pixel aspect ratio %g left unstretched\n", ctx->message_name, a);
    return;
  }
  raw_verbose(ctx, "Stretching the image...\n");
  const unsigned height = ctx->image_height, width = ctx->image_width;
  const int colours = std::clamp(ctx->colour_count, 1, 4);
  const raw_pixel* old = ctx->pixels.get();
  if (a < 1) {
    const unsigned n = unsigned(height / a + 0.5);
    if (n > 0xFFFF) report_out_of_memory(ctx, nullptr, "stretch()");
    auto fresh = raw_alloc_pixels(ctx, uint64_t{width} * n, "stretch()");
    double rc = 0;
    for (unsigned row = 0; row < n; ++row, rc += a) {
      unsigned c = unsigned(rc);
      if (c >= height) c = height - 1;
      const double frac = rc - c;
      const raw_pixel* p0 = old + size_t(c) * width;
      const raw_pixel* p1 = c + 1 < height ? p0 + width : p0;
      raw_pixel* q = fresh.get() + size_t(row) * width;
      for (unsigned col = 0; col < width; ++col)
        for (int k = 0; k < colours; ++k)
          q[col][k] = clamp_sample(float(p0[col][k] * (1 - frac) + p1[col][k] * frac + 0.5));
    }
    ctx->pixels = std::move(fresh);
    ctx->pixel_count = uint64_t{width} * n;
    ctx->image_height = ctx->buffer_height = uint16_t(n);
  } else {
    const unsigned n = unsigned(width * a + 0.5);
    if (n > 0xFFFF) report_out_of_memory(ctx, nullptr, "stretch()");
    auto fresh = raw_alloc_pixels(ctx, uint64_t{height} * n, "stretch()");
    double rc = 0;
    for (unsigned col = 0; col < n; ++col, rc += 1 / a) {
      unsigned c = unsigned(rc);
      if (c >= width) c = width - 1;
      const double frac = rc - c;
      const unsigned c1 = c + 1 < width ? c + 1 : c;
      for (unsigned row = 0; row < height; ++row) {
        const raw_pixel* p = old + size_t(row) * width;
        raw_pixel& q = fresh[size_t(row) * n + col];
        for (int k = 0; k < colours; ++k)
          q[k] = clamp_sample(float(p[c][k] * (1 - frac) + p[c1][k] * frac + 0.5));
      }
    }
    ctx->pixels = std::move(fresh);
    ctx->pixel_count = uint64_t{height} * n;
    ctx->image_width = ctx->buffer_width = uint16_t(n);
  }
}

void build_output_lut(raw_decode_context* ctx, uint8_t* table) {
  const raw_decode_options& o = ctx->options;
  int perc = -1;
  if ((o.highlight_mode == 0 || o.highlight_mode == 2) && !o.disable_auto_bright) {
    perc = int(ctx->image_width * ctx->image_height * 0.01);
    if (ctx->fuji_diagonal_width) perc /= 2;
  }
  int white = 0;
  const int colours = std::clamp(ctx->colour_count, 1, 4);
  for (int c = 0; c < colours; ++c) {
    int v = 8191, total = 0;
    for (;;) {
      total += ctx->output_histogram[c][v];
      if (total > perc) break;
      if (--v <= 32) break;
    }
    white = std::max(white, v);
  }
  const float brightness = std::isfinite(o.brightness) && o.brightness > 0 ? o.brightness : 1.0f;
  const float scale = 8 / brightness * float(white);
  const double p = o.gamma_params[0], s = o.gamma_params[1], t = o.gamma_params[2],
               off = o.gamma_params[3];
  for (int i = 0; i < 0x10000; ++i) {
    double r = double(float(i) / scale);
    if (ctx->apply_gamma) r = r <= t ? r * s : std::pow(r, p) * (1 + off) - off;
    double v = r * 256;
    table[i] = !(v > 0) ? 0 : v >= 255 ? 255 : uint8_t(v);
  }
}

bool raw_output_size(const raw_decode_context* ctx, uint32_t* width, uint32_t* height) {
  double h = ctx->image_height, w = ctx->image_width;
  if (ctx->options.rotate_fuji_layout && ctx->fuji_diagonal_width) {
    const unsigned shrink = ctx->shrink_factor;
    const unsigned f = (unsigned(ctx->fuji_diagonal_width) + shrink - 1) >> shrink;
    if (f >= ctx->image_height) return false;
    const double step = std::sqrt(0.5);
    w = unsigned(f / step) & 0xFFFF;
    h = unsigned((ctx->image_height - f) / step) & 0xFFFF;
  }
  const double a = ctx->pixel_aspect_ratio;
  if (ctx->options.rotate_fuji_layout && a != 1 && std::isfinite(a) && a >= 0.25 && a <= 4) {
    if (a < 1)
      h = unsigned(h / a + 0.5);
    else
      w = unsigned(w * a + 0.5);
  }
  if (h > 0xFFFF || w > 0xFFFF || h < 1 || w < 1) return false;
  *width = uint32_t(w);
  *height = uint32_t(h);
  if (ctx->orientation_flags & 4) std::swap(*width, *height);
  return true;
}
