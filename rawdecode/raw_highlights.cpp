// Median filtering of the colour differences, and the two highlight
// stages: blending clipped pixels and rebuilding clipped colours.
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawdemosaic;

void median_filter_passes(raw_decode_context* ctx) {
  if (!raw_pixels_hold_full_image(ctx)) return;
  static const uint8_t network[] = {1, 2, 4, 5, 7, 8, 0, 1, 3, 4, 6, 7, 1, 2, 4, 5, 7, 8,
                                    0, 3, 5, 8, 4, 7, 3, 6, 1, 4, 2, 5, 4, 7, 4, 2, 6, 4, 4, 2};
  const int height = ctx->image_height, width = ctx->image_width;
  const size_t total = size_t(height) * width;
  raw_pixel* image = ctx->pixels.get();
  for (int pass = 1; pass <= ctx->options.median_pass_count; ++pass) {
    raw_verbose(ctx, "Median filter pass %d...\n", pass);
    for (int c = 0; c < 3; c += 2) {
      for (size_t i = 0; i < total; ++i) image[i][3] = image[i][c];
      for (int row = 1; row < height - 1; ++row) {
        for (int col = 1; col < width - 1; ++col) {
          raw_pixel* pix = image + size_t(row) * width + col;
          int med[9], k = 0;
          for (int i = -1; i <= 1; ++i)
            for (int j = -1; j <= 1; ++j) med[k++] = pix[i * width + j][3] - pix[i * width + j][1];
          for (size_t i = 0; i < sizeof network; i += 2)
            if (med[network[i]] > med[network[i + 1]]) std::swap(med[network[i]], med[network[i + 1]]);
          pix[0][c] = clip(med[4] + pix[0][1]);
        }
      }
    }
  }
}

void blend_clipped_highlights(raw_decode_context* ctx) {
  const int colours = ctx->colour_count;
  if (colours != 3 && colours != 4) return;
  if (!raw_pixels_hold_full_image(ctx)) return;
  static const float trans[2][4][4] = {
      {{1, 1, 1}, {1.7320508f, -1.7320508f, 0}, {-1, -1, 2}},
      {{1, 1, 1, 1}, {1, -1, 1, -1}, {1, 1, -1, -1}, {1, -1, -1, 1}}};
  static const float itrans[2][4][4] = {
      {{1, 0.8660254f, -0.5f}, {1, -0.8660254f, -0.5f}, {1, 0, 1}},
      {{1, 1, 1, 1}, {1, -1, 1, -1}, {1, 1, -1, -1}, {1, -1, -1, 1}}};
  raw_verbose(ctx, "Blending highlights...\n");
  int clip_level = 65535;
  for (int c = 0; c < colours; ++c) {
    double v = 65535.0 * ctx->pre_multipliers[c];
    int level = !(v > 0) ? 0 : v >= 65535 ? 65535 : int(v);
    clip_level = std::min(clip_level, level);
  }
  const size_t total = size_t(ctx->image_height) * ctx->image_width;
  for (size_t p = 0; p < total; ++p) {
    raw_pixel& pix = ctx->pixels[p];
    int c = 0;
    while (c < colours && pix[c] <= clip_level) ++c;
    if (c == colours) continue;
    float cam[2][4], lab[2][4], sum[2];
    for (c = 0; c < colours; ++c) {
      cam[0][c] = pix[c];
      cam[1][c] = std::min<float>(cam[0][c], float(clip_level));
    }
    for (int i = 0; i < 2; ++i) {
      for (c = 0; c < colours; ++c) {
        lab[i][c] = 0;
        for (int j = 0; j < colours; ++j) lab[i][c] += trans[colours - 3][c][j] * cam[i][j];
      }
      sum[i] = 0;
      for (c = 1; c < colours; ++c) sum[i] += lab[i][c] * lab[i][c];
    }
    // A clipped neutral pixel has no chroma to scale: ratio 1.
    float ratio = sum[0] > 0 ? std::sqrt(sum[1] / sum[0]) : 1.0f;
    for (c = 1; c < colours; ++c) lab[0][c] *= ratio;
    for (c = 0; c < colours; ++c) {
      cam[0][c] = 0;
      for (int j = 0; j < colours; ++j) cam[0][c] += itrans[colours - 3][c][j] * lab[0][j];
    }
    for (c = 0; c < colours; ++c) pix[c] = clip(std::trunc(double(cam[0][c]) / colours));
  }
}

void recover_highlights(raw_decode_context* ctx) {
  if (!raw_pixels_hold_full_image(ctx)) return;
  static const signed char dir[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, 1},
                                        {1, 1},   {1, 0},  {1, -1}, {0, -1}};
  raw_verbose(ctx, "Rebuilding highlights...\n");
  const int colours = colours_of(ctx);
  const float grow = float(std::pow(2.0, 4 - ctx->options.highlight_mode));
  int hsat[4];
  for (int c = 0; c < colours; ++c) {
    double v = 32000.0 * ctx->pre_multipliers[c];
    hsat[c] = !(v > 0) ? 0 : v >= 65535 ? 65535 : int(v);
  }
  int kc = 0;
  for (int c = 1; c < colours; ++c)
    if (ctx->pre_multipliers[kc] < ctx->pre_multipliers[c]) kc = c;
  const int scale = 4 >> (ctx->shrink_factor ? 1 : 0);
  const int height = ctx->image_height, width = ctx->image_width;
  const int high = height / scale, wide = width / scale;
  if (high == 0 || wide == 0) return;
  auto map = raw_alloc<float>(ctx, uint64_t(high) * wide, "recover_highlights()");
  const size_t cells = size_t(high) * wide;
  // Spreading rounds: 32 / grow, bounded for absurd modes.
  const double round_limit = 32.0 / grow;
  const long rounds = !(round_limit > 0) ? 0 : round_limit > 1e6 ? 1000000 : long(round_limit);
  raw_pixel* image = ctx->pixels.get();
  for (int c = 0; c < colours; ++c) {
    if (c == kc || hsat[c] == 0) continue;  // a colour that never saturates is left alone
    std::fill(map.get(), map.get() + cells, 0.0f);
    for (int mrow = 0; mrow < high; ++mrow)
      for (int mcol = 0; mcol < wide; ++mcol) {
        float sum = 0, wgt = 0;
        int count = 0;
        for (int row = mrow * scale; row < (mrow + 1) * scale; ++row)
          for (int col = mcol * scale; col < (mcol + 1) * scale; ++col) {
            const raw_pixel& pixel = image[size_t(row) * width + col];
            if (pixel[c] / hsat[c] == 1 && pixel[kc] > 24000) {
              sum += pixel[c];
              wgt += pixel[kc];
              ++count;
            }
          }
        if (count == scale * scale) map[size_t(mrow) * wide + mcol] = sum / wgt;
      }
    for (long spread = rounds; spread-- > 0;) {
      for (int mrow = 0; mrow < high; ++mrow)
        for (int mcol = 0; mcol < wide; ++mcol) {
          float& cell = map[size_t(mrow) * wide + mcol];
          if (cell != 0) continue;
          float sum = 0;
          int count = 0;
          for (int d = 0; d < 8; ++d) {
            int y = mrow + dir[d][0], x = mcol + dir[d][1];
            if (y >= 0 && y < high && x >= 0 && x < wide && map[size_t(y) * wide + x] > 0) {
              sum += float(1 + (d & 1)) * map[size_t(y) * wide + x];
              count += 1 + (d & 1);
            }
          }
          if (count > 3) cell = -(sum + grow) / (float(count) + grow);
        }
      bool change = false;
      for (size_t i = 0; i < cells; ++i)
        if (map[i] < 0) {
          map[i] = -map[i];
          change = true;
        }
      if (!change) break;
    }
    for (size_t i = 0; i < cells; ++i)
      if (map[i] == 0) map[i] = 1;
    for (int mrow = 0; mrow < high; ++mrow)
      for (int mcol = 0; mcol < wide; ++mcol)
        for (int row = mrow * scale; row < (mrow + 1) * scale; ++row)
          for (int col = mcol * scale; col < (mcol + 1) * scale; ++col) {
            raw_pixel& pixel = image[size_t(row) * width + col];
            if (pixel[c] / hsat[c] > 1) {
              double val = double(pixel[kc]) * map[size_t(mrow) * wide + mcol];
              val = !(val > 0) ? 0 : val > 1e9 ? 1e9 : std::trunc(val);
              if (pixel[c] < val) pixel[c] = clip(val);
            }
          }
  }
}
