// Panasonic's block-scrambled bit stream and Olympus E-410's adaptive
// Golomb-like coding.
#include <cstdlib>
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

unsigned panasonic_read_bits(raw_decode_context* ctx, int n) {
  if (n <= 0) return ctx->panasonic_position = 0;
  uint8_t* block = ctx->panasonic_block;
  const size_t size = sizeof ctx->panasonic_block;
  if (!ctx->panasonic_position) {
    size_t split = ctx->loader_flags < 0 ? 0 : size_t(ctx->loader_flags) > size ? size : size_t(ctx->loader_flags);
    // The block is stored rotated: its part from `split` on comes first.
    size_t first = raw_read(ctx, block + split, 1, size - split);
    size_t second = first == size - split ? raw_read(ctx, block, 1, split) : 0;
    if (first + second < size) {
      report_data_error(ctx);  // nothing of an earlier block is kept
      memset(block + split + first, 0, size - split - first);
      memset(block + second, 0, split - second);
    }
  }
  ctx->panasonic_position = (ctx->panasonic_position - unsigned(n)) & 0x1FFFF;
  const unsigned position = ctx->panasonic_position;
  const unsigned byte = (position >> 3) ^ 0x3FF0;
  // The pair may start at the last byte of the block; the byte after it reads as 0.
  unsigned word = block[byte] | unsigned(byte + 1 < size ? block[byte + 1] : 0) << 8;
  return (word >> (position & 7)) & ((1u << n) - 1);
}

void panasonic_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  panasonic_read_bits(ctx, 0);
  int pred[2] = {0, 0}, nonzero[2] = {0, 0}, sh = 0;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    for (unsigned col = 0; col < ctx->sensor_width; ++col) {
      const unsigned i = col % 14;
      if (i == 0) pred[0] = pred[1] = nonzero[0] = nonzero[1] = 0;
      if (i % 3 == 2) sh = 4 >> (3 - panasonic_read_bits(ctx, 2));
      int& p = pred[i & 1];
      if (nonzero[i & 1]) {
        int j = int(panasonic_read_bits(ctx, 8));
        if (j) {
          if ((p -= 0x80 << sh) < 0 || sh == 4) p &= (1 << sh) - 1;
          p += j << sh;
        }
      } else if ((nonzero[i & 1] = int(panasonic_read_bits(ctx, 8))) || i > 11) {
        p = nonzero[i & 1] << 4 | int(panasonic_read_bits(ctx, 4));
      }
      int64_t x = int64_t(col) - ctx->left_margin;
      if (x >= 0 && x < ctx->image_width) {
        int v = pred[col & 1];
        cfa_sample(ctx, row, unsigned(x)) = uint16_t(v);
        if (v > 4098 || v < 0) report_data_error(ctx);
      }
    }
    if (loader_data_ended(ctx)) break;
  }
}

void olympus_e410_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  raw_seek(ctx, 7, 1);
  reset_bit_reader(ctx);
  for (int row = 0; row < ctx->image_height; ++row) {
    int carry_by_parity[2][3] = {};
    for (int col = 0; col < ctx->image_width; ++col) {
      int* carry = carry_by_parity[col & 1];
      int i = carry[2] < 3 ? 2 : 0;
      int nbits = 2 + i;
      while (nbits + i < 16 && uint16_t(carry[0]) >> (nbits + i)) ++nbits;
      int sign = -int(read_bits(ctx, 1));
      int low = int(read_bits(ctx, 2));
      int high = 0;
      while (high < 12 && !read_bits(ctx, 1)) ++high;
      if (high == 12) high = int(read_bits(ctx, 16 - nbits) >> 1);
      carry[0] = (high << nbits) | int(read_bits(ctx, nbits));
      int diff = (carry[0] ^ sign) + carry[1];
      carry[1] = (diff * 3 + carry[1]) >> 5;
      carry[2] = carry[0] > 16 ? 0 : carry[2] + 1;
      int pred;
      if (row < 2 && col < 2) {
        pred = 0;
      } else if (row < 2) {
        pred = cfa_read(ctx, row, col - 2);
      } else if (col < 2) {
        pred = cfa_read(ctx, row - 2, col);
      } else {
        int w = cfa_read(ctx, row, col - 2), n = cfa_read(ctx, row - 2, col), nw = cfa_read(ctx, row - 2, col - 2);
        if ((w < nw && nw < n) || (n < nw && nw < w)) {
          pred = std::abs(w - nw) > 32 || std::abs(n - nw) > 32 ? w + n - nw : (w + n) >> 1;
        } else {
          pred = std::abs(w - nw) > std::abs(n - nw) ? w : n;
        }
      }
      int v = pred + (diff * 4 | low);
      cfa_sample(ctx, unsigned(row), unsigned(col)) = uint16_t(v);
      if (v < 0 || v > 4095) report_data_error(ctx);
    }
    if (loader_data_ended(ctx)) break;
  }
}
