// White balance and scaling to the full 16-bit range, with the chromatic
// aberration correction that rides on it.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_stream.h"

namespace {

// Grey-box average: each colour's multiplier becomes count / sum over the
// 8 x 8 blocks of the box that hold no sample near saturation.
void grey_box_multipliers(raw_decode_context* ctx) {
  const uint32_t* box = ctx->options.grey_box;
  uint64_t bottom = std::min<uint64_t>(uint64_t(box[1]) + box[3], ctx->image_height);
  uint64_t right = std::min<uint64_t>(uint64_t(box[0]) + box[2], ctx->image_width);
  const int64_t limit = int64_t(ctx->white_level) - 25;
  const int64_t black = ctx->black_level;
  double dsum[8] = {};
  for (uint64_t row = box[1]; row < bottom; row += 8) {
    for (uint64_t col = box[0]; col < right; col += 8) {
      uint64_t sum[8] = {};
      bool skip = false;
      for (uint64_t y = row; y < row + 8 && y < bottom && !skip; ++y) {
        for (uint64_t x = col; x < col + 8 && x < right && !skip; ++x) {
          for (int c = 0; c < 4; ++c) {
            // With a CFA each position gives its CFA sample; without one
            // every pixel holds all its colours.
            const raw_pixel& pixel = ctx->pixels[(y >> ctx->shrink_factor) * ctx->buffer_width +
                                                 (x >> ctx->shrink_factor)];
            int colour = ctx->cfa_pattern ? cfa_colour_at(ctx, int(y), int(x)) : c;
            int64_t val = ctx->cfa_pattern ? pixel[cfa_fc(ctx, unsigned(y), unsigned(x))] : pixel[c];
            if (val > limit) {
              skip = true;
              break;
            }
            val -= black;
            if (val < 0) val = 0;
            sum[colour] += uint64_t(val);
            sum[colour + 4]++;
            if (ctx->cfa_pattern) break;
          }
        }
      }
      if (skip) continue;
      for (int c = 0; c < 8; ++c) dsum[c] += double(sum[c]);
    }
  }
  for (int c = 0; c < 4; ++c)
    if (dsum[c] != 0) ctx->pre_multipliers[c] = float(dsum[c + 4] / dsum[c]);
}

void camera_multipliers_from_patch(raw_decode_context* ctx) {
  unsigned sum[8] = {};
  for (unsigned row = 0; row < 8; ++row) {
    for (unsigned col = 0; col < 8; ++col) {
      int c = cfa_fc(ctx, row, col);
      int val = int(ctx->white_patch[row][col]) - int(ctx->black_level);
      if (val > 0) sum[c] += unsigned(val);
      sum[c + 4]++;
    }
  }
  if (sum[0] && sum[1] && sum[2] && sum[3]) {
    for (int c = 0; c < 4; ++c) ctx->pre_multipliers[c] = float(sum[c + 4]) / float(sum[c]);
  } else if (ctx->camera_multipliers[0] != 0 && ctx->camera_multipliers[2] != 0) {
    memcpy(ctx->pre_multipliers, ctx->camera_multipliers, sizeof ctx->pre_multipliers);
  } else {
    raw_message(ctx, "%s: Cannot use camera p->white balance.\n", ctx->message_name);
  }
}

void correct_aberration(raw_decode_context* ctx) {
  raw_verbose(ctx, "Correcting chromatic aberration...\n");
  const int h = ctx->buffer_height, w = ctx->buffer_width;
  const uint64_t size = uint64_t(h) * w;
  for (int c = 0; c < 4; c += 2) {
    const double scale = ctx->options.aberration_scale[c];
    if (scale == 1 || !std::isfinite(scale)) continue;
    auto copy = raw_alloc<uint16_t>(ctx, size, "scale_colors()");
    for (uint64_t i = 0; i < size; ++i) copy[i] = ctx->pixels[i][c];
    for (int row = 0; row < h; ++row) {
      double y = (row - h * 0.5) * scale + h * 0.5;
      double iy = std::floor(y);
      if (!(iy >= 0 && iy <= h - 2)) continue;
      double fy = y - iy;
      for (int col = 0; col < w; ++col) {
        double x = (col - w * 0.5) * scale + w * 0.5;
        double ix = std::floor(x);
        if (!(ix >= 0 && ix <= w - 2)) continue;
        double fx = x - ix;
        const uint16_t* p = &copy[size_t(iy) * w + size_t(ix)];
        double v = (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[w] * (1 - fx) + p[w + 1] * fx) * fy;
        ctx->pixels[size_t(row) * w + col][c] = rawdemosaic::clip(v);
      }
    }
  }
}

}  // namespace

void scale_colors(raw_decode_context* ctx) {
  if (!raw_pixels_cover_image(ctx)) return;
  float* pre = ctx->pre_multipliers;
  if (ctx->options.user_wb_multipliers[0] != 0)
    memcpy(pre, ctx->options.user_wb_multipliers, sizeof ctx->pre_multipliers);
  if (ctx->options.auto_white_balance ||
      (ctx->options.camera_white_balance && ctx->camera_multipliers[0] == -1))
    grey_box_multipliers(ctx);
  if (ctx->options.camera_white_balance && ctx->camera_multipliers[0] != -1)
    camera_multipliers_from_patch(ctx);
  if (pre[3] == 0) pre[3] = ctx->colour_count > 3 ? 1 : pre[1];
  for (int c = 0; c < 4; ++c)  // a multiplier that is no positive number scales by 1
    if (!(std::isfinite(pre[c]) && pre[c] > 0)) pre[c] = 1;

  if (ctx->white_level <= ctx->black_level) {
    raw_message(ctx, "%s: saturation %u is not above darkness %u; colours left unscaled\n",
                ctx->message_name, ctx->white_level, ctx->black_level);
    return;
  }
  const unsigned noted_black = ctx->black_level, noted_white = ctx->white_level;
  if (ctx->options.denoise_threshold != 0) wavelet_denoise(ctx);
  ctx->white_level -= ctx->black_level;
  double dmin = DBL_MAX, dmax = 0;
  for (int c = 0; c < 4; ++c) {
    dmin = std::min<double>(dmin, pre[c]);
    dmax = std::max<double>(dmax, pre[c]);
  }
  if (!ctx->options.highlight_mode) dmax = dmin;
  float scale[4];
  for (int c = 0; c < 4; ++c) {
    pre[c] = float(pre[c] / dmax);
    scale[c] = pre[c] * 65535.0f / float(ctx->white_level);
  }
  raw_verbose(ctx, "Scaling with darkness %d, saturation %d, and\nmultipliers", int(noted_black),
              int(noted_white));
  for (int c = 0; c < 4; ++c) raw_verbose(ctx, " %f", pre[c]);
  raw_verbose(ctx, "\n");

  const int black = int(ctx->black_level);
  const uint64_t size = uint64_t(ctx->buffer_height) * ctx->buffer_width;
  for (uint64_t i = 0; i < size; ++i) {
    for (int c = 0; c < 4; ++c) {
      int v = ctx->pixels[i][c];
      if (!v) continue;
      ctx->pixels[i][c] = rawdemosaic::clip(std::trunc(float(v - black) * scale[c]));
    }
  }
  if (ctx->colour_count == 3 &&
      (ctx->options.aberration_scale[0] != 1 || ctx->options.aberration_scale[2] != 1))
    correct_aberration(ctx);
}
