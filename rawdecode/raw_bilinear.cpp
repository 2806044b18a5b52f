// Border fill and bilinear demosaicing.
#include <algorithm>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_piece_threads.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawdemosaic;

void fill_border_colours(raw_decode_context* ctx, int border) {
  if (!raw_pixels_hold_full_image(ctx)) return;
  const int height = ctx->image_height, width = ctx->image_width, colours = colours_of(ctx);
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      // Inside rows skip their middle; on narrow images the jump never goes back.
      if (col == border && row >= border && row < height - border)
        col = std::max(border, width - border);
      if (col >= width) break;
      unsigned sum[8] = {};
      for (int y = row - 1; y <= row + 1; ++y)
        for (int x = col - 1; x <= col + 1; ++x)
          if (y >= 0 && y < height && x >= 0 && x < width) {
            int f = cfa_colour_at(ctx, y, x);
            sum[f] += ctx->pixels[size_t(y) * width + x][f];
            sum[f + 4]++;
          }
      int f = cfa_colour_at(ctx, row, col);
      for (int c = 0; c < colours; ++c)
        if (c != f && sum[c + 4]) ctx->pixels[size_t(row) * width + col][c] = uint16_t(sum[c] / sum[c + 4]);
    }
  }
}

void bilinear_demosaic(raw_decode_context* ctx) {
  if (!raw_pixels_hold_full_image(ctx)) return;
  raw_verbose(ctx, "Bilinear interpolation...\n");
  fill_border_colours(ctx, 1);
  const int height = ctx->image_height, width = ctx->image_width, colours = colours_of(ctx);
  // Per pattern phase: the 8 neighbours (sample offset, shift, colour), then
  // the colours to fill with their factor 256 / weight.
  struct Phase {
    int neighbour[8][3];
    int fill[4][2];
    int fills;
  };
  auto code = raw_alloc<Phase>(ctx, 16 * 16, "bilinear_demosaic()");
  for (int row = 0; row < 16; ++row) {
    for (int col = 0; col < 16; ++col) {
      Phase& ph = code[row * 16 + col];
      int weight[4] = {};
      int n = 0;
      for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x) {
          int shift = (y == 0) + (x == 0);
          if (shift == 2) continue;
          int colour = cfa_colour_at(ctx, row + y, col + x);
          ph.neighbour[n][0] = (width * y + x) * 4 + colour;
          ph.neighbour[n][1] = shift;
          ph.neighbour[n][2] = colour;
          ++n;
          weight[colour] += 1 << shift;
        }
      ph.fills = 0;
      int own = cfa_colour_at(ctx, row, col);
      for (int c = 0; c < colours; ++c) {
        if (c == own || weight[c] == 0) continue;  // a colour with no neighbour stays
        ph.fill[ph.fills][0] = c;
        ph.fill[ph.fills][1] = 256 / weight[c];
        ++ph.fills;
      }
    }
  }
  uint16_t* image = &ctx->pixels[0][0];
  // A pixel reads only its neighbours' own colours, which no pixel writes:
  // bands of rows can be filled at once.
  const int inner = height - 2;
  raw_run_row_bands(ctx, inner, raw_row_band_count(ctx, inner), "bilinear_demosaic()", [&](int first, int end, int) {
    for (int row = first + 1; row < end + 1; ++row) {
      const Phase* phases = &code[(row & 15) * 16];
      uint16_t* pix = image + (size_t(row) * width + 1) * 4;
      for (int col = 1; col < width - 1; ++col, pix += 4) {
        const Phase& ph = phases[col & 15];
        int sum[4] = {};
        for (int i = 0; i < 8; ++i) sum[ph.neighbour[i][2]] += pix[ph.neighbour[i][0]] << ph.neighbour[i][1];
        for (int i = 0; i < ph.fills; ++i) pix[ph.fill[i][0]] = uint16_t(sum[ph.fill[i][0]] * ph.fill[i][1] >> 8);
      }
    }
  });
}
