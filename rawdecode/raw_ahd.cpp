// AHD demosaicing: green interpolated horizontally and vertically, both
// results taken to CIELab, and per pixel the more homogeneous one kept.
// Works in 256 x 256 tiles overlapping by 6.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rawdecode/raw_demosaic_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawdemosaic;

namespace {

constexpr int TS = 256;
const double d65_white[3] = {0.950456, 1, 1.088754};

}  // namespace

void ahd_interpolate(raw_decode_context* ctx) {
  if (!green_chessboard_pattern(ctx)) {  // written for green on a chessboard only
    vng_interpolate(ctx);
    return;
  }
  if (!raw_pixels_hold_full_image(ctx)) return;
  raw_verbose(ctx, "AHD interpolation...\n");
  const int height = ctx->image_height, width = ctx->image_width, colours = 3;

  std::vector<float> cbrt_table(0x10000);
  for (int i = 0; i < 0x10000; ++i) {
    double r = i / 65535.0;
    cbrt_table[i] = float(r > 0.008856 ? std::pow(r, 1 / 3.0) : 7.787 * r + 16 / 116.0);
  }
  float xyz_cam[3][4] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < colours; ++j) {
      double v = 0;
      for (int k = 0; k < 3; ++k) v += raw_xyz_from_srgb[i][k] * ctx->rgb_from_camera[k][j] / d65_white[i];
      xyz_cam[i][j] = float(v);
    }
  fill_border_colours(ctx, 5);

  // Two RGB tiles, two CIELab tiles, two homogeneity maps (zeroed: positions
  // a tile never fills read as 0).
  auto buffer = raw_alloc<uint8_t>(ctx, 26 * TS * TS, "ahd_interpolate()");
  auto rgb = reinterpret_cast<uint16_t(*)[TS][TS][3]>(buffer.get());
  auto lab = reinterpret_cast<int16_t(*)[TS][TS][3]>(buffer.get() + 12 * TS * TS);
  auto homo = reinterpret_cast<uint8_t(*)[TS][TS]>(buffer.get() + 24 * TS * TS);
  const int tdir[4] = {-1, 1, -TS, TS};
  raw_pixel* image = ctx->pixels.get();

  for (int top = 2; top < height - 5; top += TS - 6) {
    for (int left = 2; left < width - 5; left += TS - 6) {
      // Green, horizontally into tile 0 and vertically into tile 1.
      for (int row = top; row < top + TS && row < height - 2; ++row) {
        int col = left + (cfa_colour_at(ctx, row, left) & 1);
        const int c = cfa_colour_at(ctx, row, col);
        for (; col < left + TS && col < width - 2; col += 2) {
          raw_pixel* pix = image + size_t(row) * width + col;
          int val = ((pix[-1][1] + pix[0][c] + pix[1][1]) * 2 - pix[-2][c] - pix[2][c]) >> 2;
          rgb[0][row - top][col - left][1] = uint16_t(limit_between(val, pix[-1][1], pix[1][1]));
          val = ((pix[-width][1] + pix[0][c] + pix[width][1]) * 2 - pix[-2 * width][c] - pix[2 * width][c]) >> 2;
          rgb[1][row - top][col - left][1] = uint16_t(limit_between(val, pix[-width][1], pix[width][1]));
        }
      }
      // Red and blue from colour differences, then CIELab.
      for (int d = 0; d < 2; ++d) {
        for (int row = top + 1; row < top + TS - 1 && row < height - 3; ++row) {
          for (int col = left + 1; col < left + TS - 1 && col < width - 3; ++col) {
            raw_pixel* pix = image + size_t(row) * width + col;
            uint16_t(*rix)[3] = &rgb[d][row - top][col - left];
            int16_t(*lix)[3] = &lab[d][row - top][col - left];
            int c = 2 - cfa_colour_at(ctx, row, col);
            int val;
            if (c == 1) {
              c = cfa_colour_at(ctx, row + 1, col);
              val = pix[0][1] + ((pix[-1][2 - c] + pix[1][2 - c] - rix[-1][1] - rix[1][1]) >> 1);
              rix[0][2 - c] = clip(val);
              val = pix[0][1] + ((pix[-width][c] + pix[width][c] - rix[-TS][1] - rix[TS][1]) >> 1);
            } else {
              val = rix[0][1] + ((pix[-width - 1][c] + pix[-width + 1][c] + pix[width - 1][c] +
                                  pix[width + 1][c] - rix[-TS - 1][1] - rix[-TS + 1][1] -
                                  rix[TS - 1][1] - rix[TS + 1][1] + 1) >> 2);
            }
            rix[0][c] = clip(val);
            c = cfa_colour_at(ctx, row, col);
            rix[0][c] = pix[0][c];
            float xyz[3] = {0.5f, 0.5f, 0.5f};
            for (int k = 0; k < colours; ++k) {
              xyz[0] += xyz_cam[0][k] * rix[0][k];
              xyz[1] += xyz_cam[1][k] * rix[0][k];
              xyz[2] += xyz_cam[2][k] * rix[0][k];
            }
            for (float& v : xyz) v = cbrt_table[clip(double(v))];
            lix[0][0] = int16_t(64 * (116 * xyz[1] - 16));
            lix[0][1] = int16_t(64 * 500 * (xyz[0] - xyz[1]));
            lix[0][2] = int16_t(64 * 200 * (xyz[1] - xyz[2]));
          }
        }
      }
      // Homogeneity: neighbours close to the pixel in lightness and colour.
      memset(homo, 0, 2 * TS * TS);
      for (int row = top + 2; row < top + TS - 2 && row < height - 4; ++row) {
        const int tr = row - top;
        for (int col = left + 2; col < left + TS - 2 && col < width - 4; ++col) {
          const int tc = col - left;
          uint32_t ldiff[2][4], abdiff[2][4];
          for (int d = 0; d < 2; ++d) {
            int16_t(*lix)[3] = &lab[d][tr][tc];
            for (int i = 0; i < 4; ++i) {
              uint32_t dl = uint32_t(std::abs(lix[0][0] - lix[tdir[i]][0]));
              uint32_t da = uint32_t(std::abs(lix[0][1] - lix[tdir[i]][1]));
              uint32_t db = uint32_t(std::abs(lix[0][2] - lix[tdir[i]][2]));
              ldiff[d][i] = dl;
              abdiff[d][i] = da * da + db * db;  // unsigned: no overflow into a sign
            }
          }
          uint32_t leps = std::min(std::max(ldiff[0][0], ldiff[0][1]), std::max(ldiff[1][2], ldiff[1][3]));
          uint32_t abeps = std::min(std::max(abdiff[0][0], abdiff[0][1]), std::max(abdiff[1][2], abdiff[1][3]));
          for (int d = 0; d < 2; ++d)
            for (int i = 0; i < 4; ++i)
              if (ldiff[d][i] <= leps && abdiff[d][i] <= abeps) homo[d][tr][tc]++;
        }
      }
      // The more homogeneous direction wins; a tie averages both.
      for (int row = top + 3; row < top + TS - 3 && row < height - 5; ++row) {
        const int tr = row - top;
        for (int col = left + 3; col < left + TS - 3 && col < width - 5; ++col) {
          const int tc = col - left;
          int hm[2];
          for (int d = 0; d < 2; ++d) {
            hm[d] = 0;
            for (int i = tr - 1; i <= tr + 1; ++i)
              for (int j = tc - 1; j <= tc + 1; ++j) hm[d] += homo[d][i][j];
          }
          raw_pixel& out = image[size_t(row) * width + col];
          if (hm[0] != hm[1]) {
            for (int c = 0; c < 3; ++c) out[c] = rgb[hm[1] > hm[0]][tr][tc][c];
          } else {
            for (int c = 0; c < 3; ++c) out[c] = uint16_t((rgb[0][tr][tc][c] + rgb[1][tr][tc][c]) >> 1);
          }
        }
      }
    }
  }
}
