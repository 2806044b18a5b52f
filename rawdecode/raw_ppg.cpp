// PPG demosaicing: pattern-directed green, then red and blue from colour
// differences.
#include <cstdlib>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawdemosaic;

void ppg_demosaic(raw_decode_context* ctx) {
  if (!green_chessboard_pattern(ctx)) {  // written for green on a chessboard only
    vng_interpolate(ctx);
    return;
  }
  if (!raw_pixels_hold_full_image(ctx)) return;
  fill_border_colours(ctx, 3);
  raw_verbose(ctx, "PPG interpolation...\n");
  const int height = ctx->image_height, width = ctx->image_width;
  const int dir[5] = {1, width, -1, -width, 1};
  raw_pixel* image = ctx->pixels.get();

  // Green at red and blue positions, along the direction of least change.
  for (int row = 3; row < height - 3; ++row) {
    int col = 3 + (cfa_colour_at(ctx, row, 3) & 1);
    const int c = cfa_colour_at(ctx, row, col);
    for (; col < width - 3; col += 2) {
      raw_pixel* pix = image + size_t(row) * width + col;
      int guess[2], diff[2];
      for (int i = 0; i < 2; ++i) {
        const int d = dir[i];
        guess[i] = (pix[-d][1] + pix[0][c] + pix[d][1]) * 2 - pix[-2 * d][c] - pix[2 * d][c];
        diff[i] = (std::abs(pix[-2 * d][c] - pix[0][c]) + std::abs(pix[2 * d][c] - pix[0][c]) +
                   std::abs(pix[-d][1] - pix[d][1])) * 3 +
                  (std::abs(pix[3 * d][1] - pix[d][1]) + std::abs(pix[-3 * d][1] - pix[-d][1])) * 2;
      }
      const int i = diff[0] > diff[1];
      const int d = dir[i];
      pix[0][1] = uint16_t(limit_between(guess[i] >> 2, pix[d][1], pix[-d][1]));
    }
  }
  // Red and blue at green positions.
  for (int row = 1; row < height - 1; ++row) {
    int col = 1 + (cfa_colour_at(ctx, row, 2) & 1);
    int c = cfa_colour_at(ctx, row, col + 1);
    for (; col < width - 1; col += 2) {
      raw_pixel* pix = image + size_t(row) * width + col;
      int cc = c;
      for (int i = 0; i < 2; ++i, cc = 2 - cc) {
        const int d = dir[i];
        pix[0][cc] = clip((pix[-d][cc] + pix[d][cc] + 2 * pix[0][1] - pix[-d][1] - pix[d][1]) >> 1);
      }
    }
  }
  // Blue at red positions and red at blue ones, along the better diagonal.
  for (int row = 1; row < height - 1; ++row) {
    int col = 1 + (cfa_colour_at(ctx, row, 1) & 1);
    const int c = 2 - cfa_colour_at(ctx, row, col);
    for (; col < width - 1; col += 2) {
      raw_pixel* pix = image + size_t(row) * width + col;
      int guess[2], diff[2];
      for (int i = 0; i < 2; ++i) {
        const int d = dir[i] + dir[i + 1];
        diff[i] = std::abs(pix[-d][c] - pix[d][c]) + std::abs(pix[-d][1] - pix[0][1]) +
                  std::abs(pix[d][1] - pix[0][1]);
        guess[i] = pix[-d][c] + pix[d][c] + 2 * pix[0][1] - pix[-d][1] - pix[d][1];
      }
      if (diff[0] != diff[1])
        pix[0][c] = clip(guess[diff[0] > diff[1]] >> 1);
      else
        pix[0][c] = clip((guess[0] + guess[1]) >> 2);
    }
  }
}
