// VNG demosaicing: threshold-based variable number of gradients over the
// bilinear result.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawdemosaic;

namespace {

// y1, x1, y2, x2, weight (a shift), gradient mask.
const short vng_terms[64][6] = {
    {-2, -2, +0, -1, 0, 0x01}, {-2, -2, +0, +0, 1, 0x01}, {-2, -1, -1, +0, 0, 0x01},
    {-2, -1, +0, -1, 0, 0x02}, {-2, -1, +0, +0, 0, 0x03}, {-2, -1, +0, +1, 1, 0x01},
    {-2, +0, +0, -1, 0, 0x06}, {-2, +0, +0, +0, 1, 0x02}, {-2, +0, +0, +1, 0, 0x03},
    {-2, +1, -1, +0, 0, 0x04}, {-2, +1, +0, -1, 1, 0x04}, {-2, +1, +0, +0, 0, 0x06},
    {-2, +1, +0, +1, 0, 0x02}, {-2, +2, +0, +0, 1, 0x04}, {-2, +2, +0, +1, 0, 0x04},
    {-1, -2, -1, +0, 0, 0x80}, {-1, -2, +0, -1, 0, 0x01}, {-1, -2, +1, -1, 0, 0x01},
    {-1, -2, +1, +0, 1, 0x01}, {-1, -1, -1, +1, 0, 0x88}, {-1, -1, +1, -2, 0, 0x40},
    {-1, -1, +1, -1, 0, 0x22}, {-1, -1, +1, +0, 0, 0x33}, {-1, -1, +1, +1, 1, 0x11},
    {-1, +0, -1, +2, 0, 0x08}, {-1, +0, +0, -1, 0, 0x44}, {-1, +0, +0, +1, 0, 0x11},
    {-1, +0, +1, -2, 1, 0x40}, {-1, +0, +1, -1, 0, 0x66}, {-1, +0, +1, +0, 1, 0x22},
    {-1, +0, +1, +1, 0, 0x33}, {-1, +0, +1, +2, 1, 0x10}, {-1, +1, +1, -1, 1, 0x44},
    {-1, +1, +1, +0, 0, 0x66}, {-1, +1, +1, +1, 0, 0x22}, {-1, +1, +1, +2, 0, 0x10},
    {-1, +2, +0, +1, 0, 0x04}, {-1, +2, +1, +0, 1, 0x04}, {-1, +2, +1, +1, 0, 0x04},
    {+0, -2, +0, +0, 1, 0x80}, {+0, -1, +0, +1, 1, 0x88}, {+0, -1, +1, -2, 0, 0x40},
    {+0, -1, +1, +0, 0, 0x11}, {+0, -1, +2, -2, 0, 0x40}, {+0, -1, +2, -1, 0, 0x20},
    {+0, -1, +2, +0, 0, 0x30}, {+0, -1, +2, +1, 1, 0x10}, {+0, +0, +0, +2, 1, 0x08},
    {+0, +0, +2, -2, 1, 0x40}, {+0, +0, +2, -1, 0, 0x60}, {+0, +0, +2, +0, 1, 0x20},
    {+0, +0, +2, +1, 0, 0x30}, {+0, +0, +2, +2, 1, 0x10}, {+0, +1, +1, +0, 0, 0x44},
    {+0, +1, +1, +2, 0, 0x10}, {+0, +1, +2, -1, 1, 0x40}, {+0, +1, +2, +0, 0, 0x60},
    {+0, +1, +2, +1, 0, 0x20}, {+0, +1, +2, +2, 0, 0x10}, {+1, -2, +1, +0, 0, 0x80},
    {+1, -1, +1, +1, 0, 0x88}, {+1, +0, +1, +2, 0, 0x08}, {+1, +0, +2, -1, 0, 0x40},
    {+1, +0, +2, +1, 0, 0x10},
};

const signed char vng_neighbours[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, 1},
                                          {1, 1},   {1, 0},  {1, -1}, {0, -1}};

struct Term {
  int offset1, offset2, weight, mask;
};
struct Direction {
  int offset, second;
};
struct Phase {
  std::vector<Term> terms;
  Direction dir[8];
};

}  // namespace

void vng_interpolate(raw_decode_context* ctx) {
  bilinear_demosaic(ctx);
  if (!raw_pixels_hold_full_image(ctx)) return;
  raw_verbose(ctx, "VNG interpolation...\n");
  const int height = ctx->image_height, width = ctx->image_width, colours = colours_of(ctx);
  if (height < 5 || width < 5) return;  // no position has its 5 x 5 window

  const int prow = ctx->cfa_pattern == 1 ? 15 : 7, pcol = ctx->cfa_pattern == 1 ? 15 : 1;
  std::vector<Phase> code(size_t(prow + 1) * (pcol + 1));
  for (int row = 0; row <= prow; ++row) {
    for (int col = 0; col <= pcol; ++col) {
      Phase& ph = code[size_t(row) * (pcol + 1) + col];
      for (const auto& t : vng_terms) {
        int y1 = t[0], x1 = t[1], y2 = t[2], x2 = t[3];
        int colour = cfa_colour_at(ctx, row + y1, col + x1);
        if (cfa_colour_at(ctx, row + y2, col + x2) != colour) continue;
        int diag = (cfa_colour_at(ctx, row, col + 1) == colour && cfa_colour_at(ctx, row + 1, col) == colour) ? 2 : 1;
        if (std::abs(y1 - y2) == diag && std::abs(x1 - x2) == diag) continue;
        ph.terms.push_back({(y1 * width + x1) * 4 + colour, (y2 * width + x2) * 4 + colour, t[4], t[5]});
      }
      int colour = cfa_colour_at(ctx, row, col);
      for (int g = 0; g < 8; ++g) {
        int y = vng_neighbours[g][0], x = vng_neighbours[g][1];
        ph.dir[g].offset = (y * width + x) * 4;
        ph.dir[g].second = (cfa_colour_at(ctx, row + y, col + x) != colour &&
                            cfa_colour_at(ctx, row + 2 * y, col + 2 * x) == colour)
                               ? (y * width + x) * 8 + colour
                               : 0;
      }
    }
  }
  // Three rows of results; each is written back two rows later, when no
  // gradient reads it any more.
  auto rows = raw_alloc<raw_pixel>(ctx, uint64_t(width) * 3, "vng_interpolate()");
  raw_pixel* brow[3] = {&rows[0], &rows[size_t(width)], &rows[size_t(width) * 2]};
  uint16_t* image = &ctx->pixels[0][0];
  auto write_back = [&](int row, const raw_pixel* from) {
    memcpy(&ctx->pixels[size_t(row) * width + 2], from + 2, size_t(width - 4) * sizeof(raw_pixel));
  };
  int row;
  for (row = 2; row < height - 2; ++row) {
    for (int col = 2; col < width - 2; ++col) {
      uint16_t* pix = image + (size_t(row) * width + col) * 4;
      const Phase& ph = code[size_t(row & prow) * (pcol + 1) + (col & pcol)];
      int gval[8] = {};
      for (const Term& t : ph.terms) {
        int diff = std::abs(pix[t.offset1] - pix[t.offset2]) << t.weight;
        for (unsigned m = unsigned(t.mask); m; m &= m - 1) gval[__builtin_ctz(m)] += diff;
      }
      int gmin = gval[0], gmax = gval[0];
      for (int g = 1; g < 8; ++g) {
        gmin = std::min(gmin, gval[g]);
        gmax = std::max(gmax, gval[g]);
      }
      if (gmax == 0) {
        memcpy(&brow[2][col], pix, sizeof(raw_pixel));
        continue;
      }
      int thold = gmin + (gmax >> 1);
      int sum[4] = {};
      int colour = cfa_colour_at(ctx, row, col);
      int num = 0;
      for (int g = 0; g < 8; ++g) {
        if (gval[g] > thold) continue;
        for (int c = 0; c < colours; ++c) {
          if (c == colour && ph.dir[g].second)
            sum[c] += (pix[c] + pix[ph.dir[g].second]) >> 1;
          else
            sum[c] += pix[ph.dir[g].offset + c];
        }
        ++num;
      }
      for (int c = 0; c < colours; ++c) {
        int t = pix[colour];
        if (c != colour) t += (sum[c] - sum[colour]) / num;
        brow[2][col][c] = clip(t);
      }
    }
    if (row > 3) write_back(row - 2, brow[0]);
    raw_pixel* oldest = brow[0];
    brow[0] = brow[1];
    brow[1] = brow[2];
    brow[2] = oldest;
  }
  // The last two rows computed; rows never computed (images of five rows)
  // are not written.
  if (row - 2 >= 2) write_back(row - 2, brow[0]);
  if (row - 1 >= 2) write_back(row - 1, brow[1]);
}
