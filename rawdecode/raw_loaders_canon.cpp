// Canon loaders: the PowerShot 600 (with its own white balance and colour
// matrices), the 10-bit packed models, lossless-JPEG raw data with CR2
// slices, and sRAW.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_segments.h"

namespace {

const int16_t canon_600_gains[4][2] = {{1141, 1145}, {1128, 1109}, {1178, 1149}, {1128, 1109}};
const int16_t canon_600_daylight[4][5] = {
    {667, 358, 397, 565, 452}, {731, 390, 367, 499, 517}, {1119, 396, 348, 448, 537}, {1399, 485, 431, 508, 688}};
const int16_t canon_600_matrices[6][12] = {
    {-190, 702, -1878, 2390, 1861, -1349, 905, -393, -432, 944, 2617, -2105},
    {-1203, 1715, -1136, 1648, 1388, -876, 267, 245, -1641, 2153, 3921, -3409},
    {-615, 1127, -1563, 2075, 1437, -925, 509, 3, -756, 1268, 2519, -2007},
    {-190, 702, -1886, 2398, 2153, -1641, 763, -251, -452, 964, 3040, -2528},
    {-190, 702, -1878, 2390, 1861, -1349, 905, -393, -432, 944, 2617, -2105},
    {-807, 1319, -1785, 2297, 1388, -876, 769, -257, -230, 742, 2067, -1555}};

}  // namespace

// ---- PowerShot 600 -----------------------------------------------------------

void canon_600_fixed_wb(raw_decode_context* ctx, int temperature) {
  int lo, hi;
  for (lo = 4; --lo;)
    if (canon_600_daylight[lo][0] <= temperature) break;
  for (hi = 0; hi < 3; ++hi)
    if (canon_600_daylight[hi][0] >= temperature) break;
  float frac = 0;
  if (lo != hi)
    frac = float(temperature - canon_600_daylight[lo][0]) / float(canon_600_daylight[hi][0] - canon_600_daylight[lo][0]);
  for (int i = 0; i < 4; ++i)
    ctx->pre_multipliers[i] =
        1.0f / (frac * canon_600_daylight[hi][i + 1] + (1 - frac) * canon_600_daylight[lo][i + 1]);
}

int canon_600_check_ratio(raw_decode_context* ctx, int* ratio, int margin) {
  int clipped = 0;
  if (ctx->flash_fired != 0) {
    if (ratio[1] < -104) ratio[1] = -104, clipped = 1;
    if (ratio[1] > 12) ratio[1] = 12, clipped = 1;
  } else {
    if (ratio[1] < -264 || ratio[1] > 461) return 2;
    if (ratio[1] < -50) ratio[1] = -50, clipped = 1;
    if (ratio[1] > 307) ratio[1] = 307, clipped = 1;
  }
  int target = ctx->flash_fired != 0 || ratio[1] < 197 ? -38 - (398 * ratio[1] >> 10)
                                                       : -123 + (48 * ratio[1] >> 10);
  if (target - margin <= ratio[0] && target + 20 >= ratio[0] && !clipped) return 0;
  int miss = target - ratio[0];
  if (std::abs(miss) >= margin * 4) return 2;
  if (miss < -20) miss = -20;
  if (miss > margin) miss = margin;
  ratio[0] = target - miss;
  return 1;
}

void canon_600_auto_wb(raw_decode_context* ctx) {
  float ev = ctx->canon_exposure_value + 0.5f;
  int e = ev > 1000 ? 1000 : ev < -1000 ? -1000 : int(ev);
  int margin = e < 10 ? 150 : e > 12 ? 20 : 280 - 20 * e;
  if (ctx->flash_fired != 0) margin = 80;
  int64_t total[2][8] = {};
  int count[2] = {0, 0};
  const int height = ctx->image_height, width = ctx->image_width;
  for (int row = 14; row < height - 14; row += 4) {
    for (int col = 10; col < width; col += 2) {
      int test[8] = {};
      for (int i = 0; i < 8; ++i) {
        int r = row + (i >> 1), c = col + (i & 1);
        test[(i & 4) + cfa_fc(ctx, unsigned(r), unsigned(c))] = cfa_read(ctx, r, c);
      }
      bool reject = false;
      for (int i = 0; i < 8; ++i)
        if (test[i] < 150 || test[i] > 1500) reject = true;
      for (int i = 0; i < 4 && !reject; ++i)
        if (std::abs(test[i] - test[i + 4]) > 50) reject = true;
      if (reject) continue;
      int ratio[2][2], status[2];
      for (int h = 0; h < 2; ++h) {
        for (int j = 0; j < 2; ++j)
          ratio[h][j] = ((test[h * 4 + j * 2 + 1] - test[h * 4 + j * 2]) * 1024) / test[h * 4 + j * 2];
        status[h] = canon_600_check_ratio(ctx, ratio[h], margin);
      }
      int st = status[0] | status[1];
      if (st > 1) continue;
      for (int h = 0; h < 2; ++h)
        if (status[h])
          for (int j = 0; j < 2; ++j)
            test[h * 4 + j * 2 + 1] = test[h * 4 + j * 2] * (1024 + ratio[h][j]) >> 10;
      for (int i = 0; i < 8; ++i) total[st][i] += test[i];
      ++count[st];
    }
  }
  if (count[0] | count[1]) {
    int st = count[0] * 200 < count[1];
    for (int i = 0; i < 4; ++i) {
      int64_t sum = total[st][i] + total[st][i + 4];
      if (sum > 0) ctx->pre_multipliers[i] = 1.0f / float(sum);
    }
  }
}

void canon_600_coefficients(raw_decode_context* ctx) {
  int t = 0;
  const float* pre = ctx->pre_multipliers;
  if (pre[2] != 0) {
    float mc = pre[1] / pre[2], yc = pre[3] / pre[2];
    if (mc > 1 && mc <= 1.28f && yc < 0.8789f) t = 1;
    if (mc > 1.28f && mc <= 2) {
      if (yc < 0.8789f) t = 3;
      else if (yc <= 2) t = 4;
    }
  }
  if (ctx->flash_fired != 0) t = 5;
  ctx->raw_colour_flag = 0;
  int colours = ctx->colour_count < 0 ? 0 : ctx->colour_count > 4 ? 4 : ctx->colour_count;
  for (int i = 0; i < 3; ++i)
    for (int c = 0; c < colours; ++c) ctx->rgb_from_camera[i][c] = canon_600_matrices[t][i * 4 + c] / 1024.0f;
}

void canon_600_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const unsigned sensor_width = ctx->sensor_width, height = ctx->image_height, width = ctx->image_width;
  // The row buffer follows the sensor width (whole 10-byte groups), not a
  // fixed 896 samples.
  const size_t row_bytes = size_t(sensor_width) * 5 / 4;
  const size_t groups = (row_bytes + 9) / 10;
  auto data = raw_alloc<uint8_t>(ctx, groups * 10, "canon_600_load_raw()");
  auto pixel = raw_alloc<uint16_t>(ctx, groups * 8 + 1, "canon_600_load_raw()");
  int64_t black_sum = 0;
  unsigned irow = 0;
  for (unsigned row = 0; row < height; ++row) {
    loader_read_bytes(ctx, data.get(), row_bytes);
    memset(data.get() + row_bytes, 0, groups * 10 - row_bytes);
    const uint8_t* d = data.get();
    uint16_t* p = pixel.get();
    for (size_t g = 0; g < groups; ++g, d += 10, p += 8) {
      p[0] = uint16_t(d[0] << 2 | d[1] >> 6);
      p[1] = uint16_t(d[2] << 2 | (d[1] >> 4 & 3));
      p[2] = uint16_t(d[3] << 2 | (d[1] >> 2 & 3));
      p[3] = uint16_t(d[4] << 2 | (d[1] & 3));
      p[4] = uint16_t(d[5] << 2 | (d[9] & 3));
      p[5] = uint16_t(d[6] << 2 | (d[9] >> 2 & 3));
      p[6] = uint16_t(d[7] << 2 | (d[9] >> 4 & 3));
      p[7] = uint16_t(d[8] << 2 | d[9] >> 6);
    }
    for (unsigned col = 0; col < width && col < groups * 8; ++col) cfa_sample(ctx, irow, col) = pixel[col];
    for (unsigned col = width; col < sensor_width; ++col) black_sum += pixel[col];
    if ((irow += 2) >= height) irow = 1;
    if (loader_data_ended(ctx)) break;
  }
  int64_t black = 0;
  if (sensor_width > width && height) {
    black = black_sum / (int64_t(sensor_width - width) * height) - 4;
    if (black < 0) black = 0;  // the mean less 4 may go below zero
  }
  for (unsigned row = 0; row < height; ++row)
    for (unsigned col = 0; col < width; ++col) {
      uint16_t& s = cfa_sample(ctx, row, col);
      int64_t v = s - black;
      if (v < 0) v = 0;
      s = clamp16(v * canon_600_gains[row & 3][col & 1] >> 9);
    }
  canon_600_fixed_wb(ctx, 1311);
  canon_600_auto_wb(ctx);
  canon_600_coefficients(ctx);
  int64_t white = (1023 - black) * 1109 >> 9;
  ctx->white_level = uint32_t(white < 0 ? 0 : white);
  ctx->black_level = 0;
}

// ---- 10-bit packed -------------------------------------------------------------

void canon_10bit_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  ctx->byte_order = 0x4949;
  const unsigned sensor_width = ctx->sensor_width;
  const size_t stored_words = size_t(sensor_width) * 10 / 16;
  const size_t words = (size_t(sensor_width) * 10 + 15) / 16;  // rounded up, zero-padded
  auto data = raw_alloc<uint16_t>(ctx, words + 1, "canon_10bit_load_raw()");
  uint64_t black_sum = 0, black_count = 0;
  for (unsigned row = 0; row < ctx->sensor_height; ++row) {
    read_u16_array(ctx, data.get(), stored_words);
    for (size_t i = stored_words; i <= words; ++i) data[i] = 0;
    int64_t irow = int64_t(row) - ctx->top_margin;
    uint32_t buffer = 0;
    int bits = 0;
    size_t w = 0;
    for (unsigned col = 0; col < sensor_width; ++col) {
      if ((bits -= 10) < 0) {
        bits += 16;
        buffer = buffer << 16 | data[w < words ? w : words];
        ++w;
      }
      unsigned value = buffer >> bits & 0x3FF;
      // The masked rows above and below the picture are black as much as
      // the masked columns beside it.
      const bool visible_row = irow >= 0 && irow < ctx->image_height;
      int64_t x = int64_t(col) - ctx->left_margin;
      if (visible_row && x >= 0 && x < ctx->image_width) {
        cfa_sample(ctx, unsigned(irow), unsigned(x)) = uint16_t(value);
      } else if (x > 1 - int64_t(ctx->left_margin) && x != ctx->image_width) {
        black_sum += value;
        ++black_count;
      }
    }
    if (loader_data_ended(ctx)) break;
  }
  if (black_count) ctx->black_level = uint32_t(black_sum / black_count);
  ctx->white_level = 1023;
  if (sensor_width > 1600) fill_zero_samples(ctx);
}

// ---- lossless JPEG ---------------------------------------------------------------

namespace {

// A marker other than a restart met inside the data: nothing more follows.
bool ljpeg_stream_ended(const raw_decode_context* ctx) {
  int m = ctx->bit_marker;
  return m && !(m >= 0xD0 && m <= 0xD7);
}

// Where the next decoded value of the frame goes, and what the margins and
// the smallest value added up to so far.
struct ljpeg_placement {
  int64_t min = 0x7FFFFFFF, row = 0, col = 0;
  double dark[2] = {0, 0};
};

// Decodes one scan whose header was read into the frame, from the running
// position on; a strip's scan stops at `stop_row`.
void ljpeg_decode_scan(raw_decode_context* ctx, ljpeg_header& jh, ljpeg_placement& at, int64_t stop_row) {
  const int64_t jwide = int64_t(jh.wide) * jh.clrs;
  const int64_t sensor_width = ctx->sensor_width;
  const int64_t slices = ctx->canon_slices[0], slice_w = ctx->canon_slices[1], last_w = ctx->canon_slices[2];
  for (int jrow = 0; jrow < jh.high && at.row < stop_row; ++jrow) {
    if (ljpeg_stream_ended(ctx)) {
      report_data_error(ctx);
      break;
    }
    const uint16_t* rp = ljpeg_decode_row(ctx, jrow, &jh);
    for (int64_t jcol = 0; jcol < jwide; ++jcol) {
      unsigned val = rp[jcol];
      if (jh.bits <= 12) val = ctx->tone_curve[val & 0xFFF];
      if (slices) {
        int64_t jidx = jrow * jwide + jcol;
        int64_t i = jidx / (slice_w * jh.high);
        int64_t width = slice_w;
        if (i >= slices) i = slices, width = last_w;
        jidx -= i * slice_w * jh.high;
        at.row = jidx / width;
        at.col = jidx % width + i * slice_w;
      }
      // These frames start each row two values early. The shift applies to
      // where the value is placed, not to the running position (which would
      // otherwise walk backwards when there are no slices to recompute it).
      int64_t prow = at.row, pcol = at.col;
      if (sensor_width == 3984 && (pcol -= 2) < 0) pcol += sensor_width, --prow;
      int64_t irow = prow - ctx->top_margin, icol = pcol - ctx->left_margin;
      if (irow >= 0 && irow < ctx->image_height) {
        if (icol >= 0 && icol < ctx->image_width) {
          cfa_sample(ctx, unsigned(irow), unsigned(icol)) = uint16_t(val);
          if (val < at.min) at.min = val;
        } else if (pcol > 1) {
          at.dark[icol & 1] += val;
        }
      }
      if (++at.col >= sensor_width) at.col = 0, ++at.row;
    }
  }
}

void ljpeg_finish(raw_decode_context* ctx, ljpeg_placement& at) {
  if (ctx->sensor_width >= ctx->image_width + 4) canon_black_from_margins(ctx, at.dark);
  if (!strcasecmp(ctx->camera_make, "KODAK") && at.min != 0x7FFFFFFF) ctx->black_level = uint32_t(at.min);
}

// Lossless JPEG in several strips of a TIFF directory, each its own scan
// read from its own offset; a strip that is damaged or missing costs only
// its own rows.
void ljpeg_load_strips(raw_decode_context* ctx, raw_segment_plan& plan) {
  if (!loader_cfa_ready(ctx)) return;
  ljpeg_placement at;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < plan.offsets.size(); ++i) {
    at.row = int64_t(raw_segment_row(plan, i));
    at.col = 0;
    if (!raw_segment_bytes(ctx, plan, i, UINT64_MAX, &bytes)) continue;
    raw_piece_reader reader(ctx, bytes, plan.offsets[i]);
    reset_bit_reader(ctx);
    ljpeg_header jh;
    if (!quarn_ljpeg_start(ctx, &jh, 0)) {
      report_data_error(ctx);
      continue;
    }
    ljpeg_decode_scan(ctx, jh, at, at.row + plan.height);
  }
  ljpeg_finish(ctx, at);
}

}  // namespace

void ljpeg_load_raw(raw_decode_context* ctx) {
  raw_segment_plan plan;
  const raw_ifd_layout& layout = ctx->raw_layout;
  if (!ctx->canon_slices[0] && layout.offsets.count > 1 && !layout.tiled &&
      raw_segment_plan_read(ctx, &plan, false) && plan.offsets.size() > 1)
    return ljpeg_load_strips(ctx, plan);
  ljpeg_header jh;
  if (!quarn_ljpeg_start(ctx, &jh, 0)) {  // no lossless JPEG where the data should start
    report_data_error(ctx);
    return;
  }
  if (!loader_cfa_ready(ctx)) return;
  const int64_t slice_w = ctx->canon_slices[1], last_w = ctx->canon_slices[2];
  if (ctx->canon_slices[0] && (slice_w == 0 || last_w == 0)) {  // a slice of no width cannot place a sample
    report_data_error(ctx);
    return;
  }
  ljpeg_placement at;
  ljpeg_decode_scan(ctx, jh, at, INT64_MAX);
  jh.row.reset();
  ljpeg_finish(ctx, at);
}

// ---- sRAW ---------------------------------------------------------------------------

namespace {

// "a.b.c" after the first digit of the text, as (a x 1000 + b) x 1000 + c;
// missing numbers are 0. Numbers are read digit by digit and capped, so a
// damaged text cannot overflow.
int firmware_version(const char* text, size_t size) {
  size_t i = 0;
  while (i < size && text[i] && !isdigit(static_cast<unsigned char>(text[i]))) ++i;
  int64_t v[3] = {0, 0, 0};
  for (int k = 0; k < 3; ++k) {
    if (k && !(i + 1 < size && text[i] == '.' && isdigit(static_cast<unsigned char>(text[i + 1])))) break;
    if (k) ++i;
    while (i < size && isdigit(static_cast<unsigned char>(text[i]))) {
      v[k] = std::min<int64_t>(v[k] * 10 + (text[i] - '0'), 1000000);
      ++i;
    }
  }
  int64_t ver = (v[0] * 1000 + v[1]) * 1000 + v[2];
  return int(std::min<int64_t>(ver, INT32_MAX));
}

}  // namespace

void canon_sraw_load_raw(raw_decode_context* ctx) {
  ljpeg_header jh;
  if (!quarn_ljpeg_start(ctx, &jh, 0)) return;
  if (!loader_rgb_ready(ctx)) return;
  if (jh.clrs != 4 && jh.clrs != 6) {  // only Y Y Cb Cr and Y Y Y Y Cb Cr groups exist
    report_data_error(ctx);
    return;
  }
  jh.wide >>= 1;
  const int clrs = jh.clrs;
  const int64_t jwide = int64_t(jh.wide) * clrs;
  if (jwide == 0) {
    report_data_error(ctx);
    return;
  }
  const int height = ctx->image_height, width = ctx->image_width;
  auto put = [&](int64_t r, int64_t c, int colour, int value) {
    if (raw_pixel* p = image_pixel(ctx, r, c)) (*p)[colour] = uint16_t(int16_t(value));
  };
  const uint16_t* rp = nullptr;
  int jrow = 0;
  int64_t jcol = 0, ecol = 0;
  for (int slice = 0; slice <= ctx->canon_slices[0]; ++slice) {
    int64_t scol = ecol;
    ecol += int64_t(ctx->canon_slices[1]) * 2 / clrs;
    if (!ctx->canon_slices[0] || ecol > int64_t(ctx->sensor_width) - 1) ecol = ctx->sensor_width & ~1;
    for (int row = 0; row < height; row += (clrs >> 1) - 1) {
      for (int64_t col = scol; col < ecol; col += 2, jcol += clrs) {
        if ((jcol %= jwide) == 0) {
          if (ljpeg_stream_ended(ctx)) {
            report_data_error(ctx);
            goto decoded;
          }
          rp = ljpeg_decode_row(ctx, jrow++, &jh);
        }
        if (col >= width) continue;
        for (int c = 0; c < clrs - 2; ++c) put(row + (c >> 1), col + (c & 1), 0, int16_t(rp[jcol + c]));
        put(row, col, 1, int16_t(rp[jcol + clrs - 2]) - 16384);
        put(row, col, 2, int16_t(rp[jcol + clrs - 1]) - 16384);
      }
    }
  }
decoded:
  jh.row.reset();
  const int ver = firmware_version(ctx->camera_model_extra, sizeof ctx->camera_model_extra);
  int hue = (jh.sraw + 1) << 2;
  if (ctx->camera_id == 0x80000218 && ver > 1000006 && ver < 3000000) hue = jh.sraw << 1;
  auto sample = [&](int r, int c, int colour) -> int { return int16_t(ctx->pixels[size_t(r) * width + c][colour]); };
  auto set = [&](int r, int c, int colour, int v) { ctx->pixels[size_t(r) * width + c][colour] = uint16_t(int16_t(v)); };
  for (int row = 0; row < height; ++row) {
    if (row & (jh.sraw >> 1))
      for (int col = 0; col < width; col += 2)
        for (int c = 1; c < 3; ++c)
          set(row, col, c, row == height - 1 ? sample(row - 1, col, c)
                                             : (sample(row - 1, col, c) + sample(row + 1, col, c) + 1) >> 1);
    for (int col = 1; col < width; col += 2)
      for (int c = 1; c < 3; ++c)
        set(row, col, c, col == width - 1 ? sample(row, col - 1, c)
                                          : (sample(row, col - 1, c) + sample(row, col + 1, c) + 1) >> 1);
  }
  for (size_t i = 0; i < size_t(height) * width; ++i) {
    raw_pixel& p = ctx->pixels[i];
    int y = int16_t(p[0]), cb = int16_t(p[1]), cr = int16_t(p[2]);
    int64_t rgb[3];
    if (ctx->camera_id <= 0x800001FF) {
      rgb[0] = y + cr - 512;
      rgb[2] = y + cb - 512;
      rgb[1] = y + ((-778 * cb - cr * 2048) >> 12) - 512;
    } else {
      cb = cb * 4 + hue;
      cr = cr * 4 + hue;
      rgb[0] = y + ((200 * int64_t(cb) + 22929 * int64_t(cr)) >> 14);
      rgb[1] = y + ((-5640 * int64_t(cb) - 11751 * int64_t(cr)) >> 14);
      rgb[2] = y + ((29040 * int64_t(cb) - 101 * int64_t(cr)) >> 14);
    }
    for (int c = 0; c < 3; ++c) p[c] = clamp16(rgb[c] * ctx->sraw_multipliers[c] >> 10);
  }
  ctx->white_level = 0x3FFF;
}
