// Wavelet denoising (a trous, five levels, soft thresholds) on the square
// roots of the samples, then the two greens of a CFA pulled together.
#include <cmath>
#include <vector>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_stream.h"

namespace {

const float noise_weight[] = {0.8002f, 0.2735f, 0.1202f, 0.0585f, 0.0291f, 0.0152f, 0.0080f, 0.0044f};

// Index k mirrored into 0..n-1 (the edge sample itself is not repeated).
int mirror(int k, int n) {
  if (n == 1) return 0;
  int period = 2 * (n - 1);
  k %= period;
  if (k < 0) k += period;
  return k < n ? k : period - k;
}

}  // namespace

void hat_transform_line(float* t, const float* b, int st, int n, int s) {
  if (n < 2 * s) {  // a line shorter than the filter: mirror at both ends
    for (int i = 0; i < n; ++i)
      t[i] = 2 * b[st * i] + b[st * mirror(i - s, n)] + b[st * mirror(i + s, n)];
    return;
  }
  int i = 0;
  for (; i < s; ++i) t[i] = 2 * b[st * i] + b[st * (s - i)] + b[st * (i + s)];
  for (; i + s < n; ++i) t[i] = 2 * b[st * i] + b[st * (i - s)] + b[st * (i + s)];
  for (; i < n; ++i) t[i] = 2 * b[st * i] + b[st * (i - s)] + b[st * (2 * n - 2 - (i + s))];
}

void wavelet_denoise(raw_decode_context* ctx) {
  if (!raw_pixels_cover_image(ctx)) return;
  if (ctx->white_level == 0) {  // nothing to scale to
    raw_message(ctx, "%s: saturation 0, wavelet denoising skipped\n", ctx->message_name);
    return;
  }
  raw_verbose(ctx, "Wavelet denoising...\n");
  int scale = 1;
  while ((uint64_t(ctx->white_level) << scale) < 0x10000) ++scale;
  --scale;
  ctx->white_level <<= scale;
  ctx->black_level <<= scale;

  const int ih = ctx->buffer_height, iw = ctx->buffer_width;
  const uint64_t size = uint64_t(ih) * iw;
  if (size >= 0x15550000) report_out_of_memory(ctx, nullptr, "wavelet_denoise()");
  auto fimg = raw_alloc<float>(ctx, size * 3 + ih + iw, "wavelet_denoise()");
  float* temp = fimg.get() + size * 3;
  const float threshold = ctx->options.denoise_threshold;
  int nc = ctx->colour_count;
  if (nc == 3 && ctx->cfa_pattern) ++nc;
  if (nc > 4) nc = 4;
  for (int c = 0; c < nc; ++c) {
    for (uint64_t i = 0; i < size; ++i) fimg[i] = 256 * std::sqrt(float(uint32_t(ctx->pixels[i][c]) << scale));
    uint64_t hpass = 0, lpass = 0;
    for (int lev = 0; lev < 5; ++lev) {
      lpass = size * ((lev & 1) + 1);
      for (int row = 0; row < ih; ++row) {
        hat_transform_line(temp, &fimg[hpass + uint64_t(row) * iw], 1, iw, 1 << lev);
        for (int col = 0; col < iw; ++col) fimg[lpass + uint64_t(row) * iw + col] = temp[col] * 0.25f;
      }
      for (int col = 0; col < iw; ++col) {
        hat_transform_line(temp, &fimg[lpass + col], iw, ih, 1 << lev);
        for (int row = 0; row < ih; ++row) fimg[lpass + uint64_t(row) * iw + col] = temp[row] * 0.25f;
      }
      const float thold = threshold * noise_weight[lev];
      for (uint64_t i = 0; i < size; ++i) {
        float& hp = fimg[hpass + i];
        hp -= fimg[lpass + i];
        if (hp < -thold) hp += thold;
        else if (hp > thold) hp -= thold;
        else hp = 0;
        if (hpass) fimg[i] += hp;
      }
      hpass = lpass;
    }
    for (uint64_t i = 0; i < size; ++i) {
      float v = fimg[i] + fimg[lpass + i];
      ctx->pixels[i][c] = rawdemosaic::clip(v * v / 0x10000);
    }
  }
  if (!(ctx->cfa_pattern && ctx->colour_count == 3)) return;

  // Pull the two greens together: each green sample moves toward the mean
  // of its green neighbours, the diagonal ones weighted by the ratio of the
  // two greens' multipliers, as long as the move exceeds the threshold.
  const int height = ctx->image_height, width = ctx->image_width;
  if (height < 3 || width < 3) return;
  const float* pre = ctx->pre_multipliers;
  float mul[2];
  for (int row = 0; row < 2; ++row) {
    float num = pre[cfa_fc(ctx, row + 1, 0) | 1], den = pre[cfa_fc(ctx, row, 0) | 1];
    mul[row] = den != 0 ? 0.125f * num / den : 0.125f;
  }
  std::vector<uint16_t> rows(size_t(width) * 3);
  uint16_t* window[3] = {&rows[0], &rows[size_t(width)], &rows[size_t(width) * 2]};
  const float black = float(ctx->black_level);
  const float thold = threshold / 512;
  int wlast = -1;
  for (int row = 1; row < height - 1; ++row) {
    while (wlast < row + 1) {
      ++wlast;
      uint16_t* oldest = window[0];
      window[0] = window[1];
      window[1] = window[2];
      window[2] = oldest;
      for (int col = cfa_fc(ctx, wlast, 1) & 1; col < width; col += 2)
        window[2][col] = cfa_sample(ctx, wlast, col);
    }
    for (int col = (cfa_fc(ctx, row, 0) & 1) + 1; col < width - 1; col += 2) {
      float avg = (window[0][col - 1] + window[0][col + 1] + window[2][col - 1] + window[2][col + 1] -
                   black * 4) * mul[row & 1] + (window[1][col] - black) * 0.5f + black;
      avg = avg < 0 ? 0 : std::sqrt(avg);
      uint16_t& sample = cfa_sample(ctx, row, col);
      float diff = std::sqrt(float(sample)) - avg;
      if (diff < -thold) diff += thold;
      else if (diff > thold) diff -= thold;
      else diff = 0;
      sample = rawdemosaic::clip((avg + diff) * (avg + diff) + 0.5f);
    }
  }
}
