// SMaL loaders: an adaptive binary-arithmetic-like coding of 8-bit
// differences in segments, with optional hole rows filled afterwards.
#include <climits>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

namespace {

// After the data has ended a segment decodes at most this many more pixels.
constexpr uint32_t smal_pixels_after_end = 1024;

bool smal_hole(const raw_decode_context* ctx, unsigned holes, unsigned row) {
  return holes >> ((row - ctx->sensor_height) & 7) & 1;
}

int median4(const int* p) {
  int min = p[0], max = p[0], sum = p[0];
  for (int i = 1; i < 4; ++i) {
    sum += p[i];
    if (min > p[i]) min = p[i];
    if (max < p[i]) max = p[i];
  }
  return (sum - min - max) >> 1;
}

}  // namespace

void smal_decode_segment(raw_decode_context* ctx, const smal_segment* seg, unsigned holes) {
  if (!loader_cfa_ready(ctx)) return;
  const uint64_t sensor_width = ctx->sensor_width;
  if (sensor_width == 0) {  // no pixel can be placed
    report_data_error(ctx);
    return;
  }
  uint8_t hist[3][13] = {{7, 7, 0, 0, 63, 55, 47, 39, 31, 23, 15, 7, 0},
                         {7, 7, 0, 0, 63, 55, 47, 39, 31, 23, 15, 7, 0},
                         {3, 3, 0, 0, 63, 47, 31, 15, 0}};
  const int last_bin[3] = {7, 7, 3};  // the bin whose lower threshold is the final 0
  int high = 0xFF, carry = 0, nbits = 8;
  uint16_t data = 0, range = 0;
  uint8_t pred[2] = {0, 0};
  raw_seek(ctx, int64_t(seg[0].file_offset) + 1, 0);
  reset_bit_reader(ctx);
  const uint64_t total = sensor_width * ctx->sensor_height;
  const uint64_t end = seg[1].first_pixel < total ? seg[1].first_pixel : total;
  uint32_t after_end = 0;
  for (uint64_t pix = seg[0].first_pixel; pix < end; ++pix) {
    int sym[3];
    for (int s = 0; s < 3; ++s) {
      data = uint16_t(data << nbits | read_bits(ctx, nbits));
      if (carry < 0) carry = (nbits += carry + 1) < 1 ? nbits - 1 : 0;
      while (--nbits >= 0)
        if ((data >> nbits & 0xFF) == 0xFF) break;
      if (nbits > 0)
        data = uint16_t(((data & ((1 << (nbits - 1)) - 1)) << 1) |
                        ((data + ((data & (1 << (nbits - 1))) << 1)) & (-1 << nbits)));
      if (nbits >= 0) {
        data = uint16_t(data + read_bits(ctx, 1));
        carry = nbits - 8;
      }
      int count = ((((data - range + 1) & 0xFFFF) << 2) - 1) / (high >> 4);
      int bin = 0;
      while (bin < last_bin[s] && hist[s][bin + 5] > count) ++bin;
      int low = hist[s][bin + 5] * (high >> 4) >> 2;
      if (bin) high = hist[s][bin + 4] * (high >> 4) >> 2;
      high -= low;
      if (high <= 0) {  // a damaged model cannot narrow further: the segment ends
        report_data_error(ctx);
        return;
      }
      for (nbits = 0; high << nbits < 128; ++nbits) {
      }
      range = uint16_t((range + low) << nbits);
      high <<= nbits;
      int next = hist[s][1];
      if (++hist[s][2] > hist[s][3]) {
        next = (next + 1) & hist[s][0];
        hist[s][3] = uint8_t((hist[s][next + 4] - hist[s][next + 5]) >> 2);
        hist[s][2] = 1;
      }
      if (hist[s][hist[s][1] + 4] - hist[s][hist[s][1] + 5] > 1) {
        if (bin < hist[s][1]) {
          for (int i = bin; i < hist[s][1]; ++i) --hist[s][i + 5];
        } else if (next <= bin) {
          for (int i = hist[s][1]; i < bin; ++i) ++hist[s][i + 5];
        }
      }
      hist[s][1] = uint8_t(next);
      sym[s] = bin;
    }
    uint8_t diff = uint8_t(sym[2] << 5 | sym[1] << 2 | (sym[0] & 3));
    if (sym[0] & 4) diff = diff ? uint8_t(-diff) : 0x80;
    if (raw_tell(ctx) + 12 >= int64_t(seg[1].file_offset)) diff = 0;
    pred[pix & 1] = uint8_t(pred[pix & 1] + diff);
    unsigned row = unsigned(pix / sensor_width - ctx->top_margin);
    unsigned col = unsigned(pix % sensor_width - ctx->left_margin);
    if (row < ctx->image_height && col < ctx->image_width) cfa_sample(ctx, row, col) = pred[pix & 1];
    if (!(pix & 1) && smal_hole(ctx, holes, row)) pix += 2;
    if (loader_data_ended(ctx) && ++after_end > smal_pixels_after_end) break;
  }
  ctx->white_level = 0xFF;
}

void smal_v6_load_raw(raw_decode_context* ctx) {
  smal_segment seg[2];
  raw_seek(ctx, 16, 0);
  seg[0].first_pixel = 0;
  seg[0].file_offset = read_u16(ctx);
  seg[1].first_pixel = uint32_t(ctx->sensor_width) * ctx->sensor_height;
  seg[1].file_offset = INT_MAX;
  smal_decode_segment(ctx, seg, 0);
  ctx->apply_gamma = 0;
}

void smal_v9_load_raw(raw_decode_context* ctx) {
  smal_segment seg[256];
  raw_seek(ctx, 67, 0);
  uint32_t offset = read_u32(ctx);
  int count = raw_getc(ctx);
  if (count < 0) count = 0;
  if (count > 255) count = 255;
  raw_seek(ctx, offset, 0);
  for (int i = 0; i < count; ++i) {
    seg[i].first_pixel = read_u32(ctx);
    seg[i].file_offset = read_u32(ctx) + ctx->raw_data_offset;
  }
  raw_seek(ctx, 78, 0);
  int holes = raw_getc(ctx);
  if (holes < 0) holes = 0;
  raw_seek(ctx, 88, 0);
  seg[count].first_pixel = uint32_t(ctx->sensor_width) * ctx->sensor_height;
  seg[count].file_offset = read_u32(ctx) + ctx->raw_data_offset;
  for (int i = 0; i < count; ++i) smal_decode_segment(ctx, seg + i, unsigned(holes));
  if (holes) smal_fill_holes(ctx, unsigned(holes));
}

void smal_fill_holes(raw_decode_context* ctx, unsigned holes) {
  if (!raw_pixels_cover_image(ctx)) return;
  const int height = ctx->image_height, width = ctx->image_width;
  for (int row = 2; row < height - 2; ++row) {
    if (!smal_hole(ctx, holes, unsigned(row))) continue;
    for (int col = 1; col < width - 1; col += 4) {
      int val[4] = {cfa_read(ctx, row - 1, col - 1), cfa_read(ctx, row - 1, col + 1), cfa_read(ctx, row + 1, col - 1),
                    cfa_read(ctx, row + 1, col + 1)};
      cfa_store_signed(ctx, row, col, median4(val));
    }
    for (int col = 2; col < width - 2; col += 4) {
      if (smal_hole(ctx, holes, unsigned(row - 2)) || smal_hole(ctx, holes, unsigned(row + 2))) {
        cfa_store_signed(ctx, row, col, (cfa_read(ctx, row, col - 2) + cfa_read(ctx, row, col + 2)) >> 1);
      } else {
        int val[4] = {cfa_read(ctx, row, col - 2), cfa_read(ctx, row, col + 2), cfa_read(ctx, row - 2, col),
                      cfa_read(ctx, row + 2, col)};
        cfa_store_signed(ctx, row, col, median4(val));
      }
    }
  }
}
