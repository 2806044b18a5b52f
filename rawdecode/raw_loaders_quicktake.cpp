// Apple QuickTake 100: a 4-bit green and 2-bit red/blue step coding on a
// work area with a two-sample border, then sharpening and a 10-bit curve.
#include <cstdlib>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

namespace {

const int16_t quicktake_green_steps[16] = {-89, -60, -44, -32, -22, -15, -8, -2, 2, 8, 15, 22, 32, 44, 60, 89};
const int16_t quicktake_rb_steps[6][4] = {{-3, -1, 1, 3},     {-5, -1, 1, 5},     {-8, -2, 2, 8},
                                          {-13, -3, 3, 13}, {-19, -4, 4, 19}, {-28, -6, 6, 28}};
const uint16_t quicktake_curve[256] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,
    23,  24,  25,  26,  27,  28,  29,  30,  32,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,  45,
    46,  47,  48,  49,  50,  51,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  64,  65,  66,  67,  68,
    69,  70,  71,  72,  74,  75,  76,  77,  78,  79,  80,  81,  82,  83,  84,  86,  88,  90,  92,  94,  97,  99,
    101, 103, 105, 107, 110, 112, 114, 116, 118, 120, 123, 125, 127, 129, 131, 134, 136, 138, 140, 142, 144, 147,
    149, 151, 153, 155, 158, 160, 162, 164, 166, 168, 171, 173, 175, 177, 179, 181, 184, 186, 188, 190, 192, 195,
    197, 199, 201, 203, 205, 208, 210, 212, 214, 216, 218, 221, 223, 226, 230, 235, 239, 244, 248, 252, 257, 261,
    265, 270, 274, 278, 283, 287, 291, 296, 300, 305, 309, 313, 318, 322, 326, 331, 335, 339, 344, 348, 352, 357,
    361, 365, 370, 374, 379, 383, 387, 392, 396, 400, 405, 409, 413, 418, 422, 426, 431, 435, 440, 444, 448, 453,
    457, 461, 466, 470, 474, 479, 483, 487, 492, 496, 500, 508, 519, 531, 542, 553, 564, 575, 587, 598, 609, 620,
    631, 643, 654, 665, 676, 687, 698, 710, 721, 732, 743, 754, 766, 777, 788, 799, 810, 822, 833, 844, 855, 866,
    878, 889, 900, 911, 922, 933, 945, 956, 967, 978, 989, 1001, 1012, 1023};

constexpr int work_rows = 484, work_cols = 644;

int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

}  // namespace

void quicktake_100_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const int height = ctx->image_height, width = ctx->image_width;
  // The work area holds a 480 x 640 picture with its border; nothing larger exists.
  if (height > work_rows - 4 || width > work_cols - 4) {
    report_data_error(ctx);
    return;
  }
  auto area = raw_alloc<uint8_t>(ctx, work_rows * work_cols, "quicktake_100_load_raw()");
  for (int i = 0; i < work_rows * work_cols; ++i) area[i] = 0x80;
  auto p = [&](int r, int c) -> uint8_t& { return area[r * work_cols + c]; };
  reset_bit_reader(ctx);
  int val = 0;
  for (int row = 2; row < height + 2; ++row) {
    int col;
    for (col = 2 + (row & 1); col < width + 2; col += 2) {
      val = ((p(row - 1, col - 1) + 2 * p(row - 1, col + 1) + p(row, col - 2)) >> 2) +
            quicktake_green_steps[read_bits(ctx, 4)];
      p(row, col) = uint8_t(val = clamp255(val));
      if (col < 4) p(row, col - 2) = p(row + 1, ~row & 1) = uint8_t(val);
      if (row == 2) p(row - 1, col + 1) = p(row - 1, col + 3) = uint8_t(val);
    }
    p(row, col) = uint8_t(val);
  }
  for (int rb = 0; rb < 2; ++rb)
    for (int row = 2 + rb; row < height + 2; row += 2)
      for (int col = 3 - (row & 1); col < width + 2; col += 2) {
        int sharp;
        if (row < 4 || col < 4) {
          sharp = 2;
        } else {
          int s = std::abs(p(row - 2, col) - p(row, col - 2)) + std::abs(p(row - 2, col) - p(row - 2, col - 2)) +
                  std::abs(p(row, col - 2) - p(row - 2, col - 2));
          sharp = s < 4 ? 0 : s < 8 ? 1 : s < 16 ? 2 : s < 32 ? 3 : s < 48 ? 4 : 5;
        }
        val = ((p(row - 2, col) + p(row, col - 2)) >> 1) + quicktake_rb_steps[sharp][read_bits(ctx, 2)];
        p(row, col) = uint8_t(val = clamp255(val));
        if (row < 4) p(row - 2, col + 2) = uint8_t(val);
        if (col < 4) p(row + 2, col - 2) = uint8_t(val);
      }
  for (int row = 2; row < height + 2; ++row)
    for (int col = 3 - (row & 1); col < width + 2; col += 2) {
      val = ((p(row, col - 1) + (p(row, col) << 2) + p(row, col + 1)) >> 1) - 0x100;
      p(row, col) = uint8_t(clamp255(val));
    }
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col)
      cfa_sample(ctx, unsigned(row), unsigned(col)) = quicktake_curve[p(row + 2, col + 2)];
  ctx->white_level = 0x3FF;
}
