// Sony loaders: SRF (deciphered with a keystream), ARW (column-wise
// variable-length differences) and ARW2 (8-bit delta blocks or 12-bit packing).
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

namespace {

// The word whose bytes in memory are the big-endian bytes of `v`.
uint32_t big_endian_word(uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  uint32_t w;
  memcpy(&w, b, 4);
  return w;
}

}  // namespace

void sony_keystream_apply(raw_decode_context* ctx, uint32_t* words, size_t count, int restart, uint32_t key) {
  uint32_t* pad = ctx->sony_keystream;
  if (restart) {
    for (int p = 0; p < 4; ++p) pad[p] = key = key * 48828125u + 1;
    pad[3] = pad[3] << 1 | (pad[0] ^ pad[2]) >> 31;
    for (int p = 4; p < 127; ++p) pad[p] = (pad[p - 4] ^ pad[p - 2]) << 1 | (pad[p - 3] ^ pad[p - 1]) >> 31;
    for (int p = 0; p < 127; ++p) pad[p] = big_endian_word(pad[p]);
    ctx->sony_key_position = 127;
  }
  for (size_t i = 0; i < count; ++i) {
    uint32_t p = ctx->sony_key_position;
    uint32_t w = pad[(p + 1) & 127] ^ pad[(p + 65) & 127];
    pad[p & 127] = w;
    words[i] ^= w;
    ctx->sony_key_position = p + 1;
  }
}

void sony_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  raw_seek(ctx, 200896, 0);
  int skip = raw_getc(ctx);
  if (skip < 0) {
    report_data_error(ctx);
    skip = 0;
  }
  raw_seek(ctx, int64_t(skip) * 4 - 1, 1);
  ctx->byte_order = 0x4D4D;
  uint32_t key = read_u32(ctx);
  uint32_t head[10] = {};
  raw_seek(ctx, 164600, 0);
  raw_read(ctx, head, 1, 40);
  sony_keystream_apply(ctx, head, 10, 1, key);
  uint8_t h[40];
  memcpy(h, head, 40);
  key = uint32_t(h[25]) << 24 | uint32_t(h[24]) << 16 | uint32_t(h[23]) << 8 | h[22];
  raw_seek(ctx, ctx->raw_data_offset, 0);
  const size_t sensor_width = ctx->sensor_width;
  auto words = raw_alloc<uint32_t>(ctx, (sensor_width + 1) / 2, "sony_load_raw()");
  uint8_t* bytes = reinterpret_cast<uint8_t*>(words.get());
  uint64_t black = 0;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    if (raw_read(ctx, bytes, 2, sensor_width) < sensor_width) report_data_error(ctx);
    sony_keystream_apply(ctx, words.get(), sensor_width / 2, row == 0, key);
    auto value = [&](size_t col) -> unsigned { return unsigned(bytes[2 * col]) << 8 | bytes[2 * col + 1]; };
    for (size_t col = 9; col < ctx->left_margin && col < sensor_width; ++col) black += value(col);
    for (unsigned col = 0; col < ctx->image_width && col + ctx->left_margin < sensor_width; ++col) {
      unsigned v = value(col + ctx->left_margin);
      cfa_sample(ctx, row, col) = uint16_t(v);
      if (v >> 14) report_data_error(ctx);
    }
    if (loader_data_ended(ctx)) break;
  }
  if (ctx->left_margin > 9 && ctx->image_height)
    ctx->black_level = uint32_t(black / (uint64_t(ctx->left_margin - 9) * ctx->image_height));
  ctx->white_level = 0x3FF0;
}

void sony_arw_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  reset_bit_reader(ctx);
  int64_t sum = 0;  // wide enough for any run of hostile differences
  const int sensor_height = ctx->sensor_height;
  for (int col = ctx->sensor_width; col--;) {
    for (int row = 0; row < sensor_height + 1; row += 2) {
      if (row == sensor_height) row = 1;
      int len = 4 - int(read_bits(ctx, 2));
      if (len == 3 && read_bits(ctx, 1)) len = 0;
      if (len == 4)
        while (len < 17 && !read_bits(ctx, 1)) ++len;
      int diff = 0;
      if (len) {
        diff = int(read_bits(ctx, len));
        if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
      }
      sum += diff;
      if (sum < 0 || sum > 4095) report_data_error(ctx);
      // Columns of the stored frame beyond the image width are dropped.
      if (row < ctx->image_height) cfa_store_signed(ctx, row, col, uint16_t(sum));
    }
    if (loader_data_ended(ctx)) break;
  }
}

void sony_arw2_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const size_t row_bytes = size_t(ctx->sensor_width) * (ctx->bits_per_sample > 0 ? ctx->bits_per_sample : 0) / 8;
  // Room for one more whole group, zeroed: the last group's bit fields may
  // reach a byte past it.
  auto data = raw_alloc<uint8_t>(ctx, row_bytes + 32, "sony_arw2_load_raw()");
  const int width = ctx->image_width;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    loader_read_bytes(ctx, data.get(), row_bytes);
    if (ctx->bits_per_sample == 8) {
      const uint8_t* dp = data.get();
      for (int col = 0; col < width - 30 && dp + 16 <= data.get() + row_bytes; dp += 16) {
        uint32_t val = u32_in_file_order(ctx, dp);
        int max = val & 0x7FF, min = val >> 11 & 0x7FF, imax = val >> 22 & 15, imin = val >> 26 & 15;
        int sh = 0;
        while (sh < 4 && (0x80 << sh) <= max - min) ++sh;
        int pix[16];
        for (int i = 0, bit = 30; i < 16; ++i) {
          if (i == imax) {
            pix[i] = max;
          } else if (i == imin) {
            pix[i] = min;
          } else {
            pix[i] = int((u16_in_file_order(ctx, dp + (bit >> 3)) >> (bit & 7) & 0x7F) << sh) + min;
            if (pix[i] > 0x7FF) pix[i] = 0x7FF;
            bit += 7;
          }
        }
        for (int i = 0; i < 16; ++i, col += 2) cfa_store_signed(ctx, row, col, ctx->tone_curve[pix[i] << 1] >> 1);
        col -= col & 1 ? 1 : 31;
      }
    } else if (ctx->bits_per_sample == 12) {
      const uint8_t* dp = data.get();
      for (int col = 0; col < width && size_t(dp - data.get()) + 3 <= row_bytes + 32; col += 2, dp += 3) {
        cfa_store_signed(ctx, row, col, ((dp[1] << 8 | dp[0]) & 0xFFF) << 1);
        cfa_store_signed(ctx, row, col + 1, ((dp[1] >> 4) + (dp[2] << 4)) << 1);  // odd widths: dropped
      }
    }
    if (loader_data_ended(ctx)) break;
  }
}
