// Huffman-coded difference formats of Pentax and Nikon, Nikon's E900 bit
// stream, and Fuji's 45-degree sensor layout.
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

const uint8_t nikon_tree_sources[6][32] = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 0, 0, 0},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0x39, 0x5a, 0x38, 0x27, 0x16, 5, 4, 3, 2, 1, 0, 11, 12, 12, 0, 0},
    {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 4, 6, 3, 7, 2, 8, 1, 9, 0, 10, 11, 12, 0, 0, 0},
    {0, 1, 4, 3, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 6, 4, 7, 8, 3, 9, 2, 1, 0, 10, 11, 12, 13, 14, 0},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 8, 0x5c, 0x4b, 0x3a, 0x29, 7, 6, 5, 4, 3, 2, 1, 0, 13, 14, 0},
    {0, 1, 4, 2, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 8, 5, 9, 4, 10, 3, 11, 12, 2, 0, 1, 13, 14, 0},
};

// ---- Pentax -----------------------------------------------------------------------

void pentax_build_tree(raw_decode_context* ctx) {
  huff_pool_clear(ctx);
  uint16_t codes[13];
  int lengths[13];
  for (uint16_t& c : codes) c = read_u16(ctx);
  for (int& l : lengths) l = raw_getc(ctx) & 15;
  ctx->huff_next_free = 1;  // node 0 is the root
  for (int k = 0; k < 13; ++k) {
    huff_node* node = &ctx->huff_pool[0];
    int length = lengths[k] > 12 ? 12 : lengths[k];  // the code holds 12 bits
    for (int i = 0; i < length; ++i) {
      int bit = codes[k] >> (11 - i) & 1;
      if (!node->branch[0]) {  // a node gets both branches at once: no walk meets a missing one
        if (ctx->huff_next_free + 2 > raw_huff_pool_size) report_table_overflow(ctx);
        node->branch[0] = &ctx->huff_pool[ctx->huff_next_free++];
        node->branch[1] = &ctx->huff_pool[ctx->huff_next_free++];
      }
      node = node->branch[bit];
    }
    node->leaf = k;
  }
}

void pentax_k10_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  reset_bit_reader(ctx);
  int64_t vpred[2][2] = {{0, 0}, {0, 0}}, hpred[2] = {0, 0};  // hostile runs of differences stay representable
  const huff_node* root = &ctx->huff_pool[0];
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    for (unsigned col = 0; col < ctx->sensor_width; ++col) {
      int diff = ljpeg_read_difference(ctx, root);
      if (col < 2)
        hpred[col] = vpred[row & 1][col] += diff;
      else
        hpred[col & 1] += diff;
      int64_t v = hpred[col & 1];
      if (col < ctx->image_width) cfa_sample(ctx, row, col) = uint16_t(v);
      if (v < 0 || v > 4095) report_data_error(ctx);
    }
    if (loader_data_ended(ctx)) break;
  }
}

// ---- Nikon compressed NEF ---------------------------------------------------------------

void nikon_compressed_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const int bits = ctx->bits_per_sample;
  if (bits != 12 && bits != 14) {  // the only depths with trees
    report_data_error(ctx);
    return;
  }
  raw_seek(ctx, ctx->meta_data_offset, 0);
  int ver0 = raw_getc(ctx), ver1 = raw_getc(ctx);
  if (ver0 == 0x49 || ver1 == 0x58) raw_seek(ctx, 2110, 1);
  int tree = ver0 == 0x46 ? 2 : 0;
  if (bits == 14) tree += 3;
  uint16_t vpred[2][2];
  read_u16_array(ctx, &vpred[0][0], 4);
  int max = (1 << bits) & 0x7FFF;
  int csize = read_u16(ctx);
  int step = csize > 1 ? max / (csize - 1) : 0;
  uint16_t* curve = ctx->tone_curve;
  const int curve_size = raw_tone_curve_size;
  int split = 0;
  if (ver0 == 0x44 && ver1 == 0x20 && step > 0) {
    for (int i = 0; i < csize; ++i) curve[i * step] = read_u16(ctx);
    // Where the knots do not divide the range evenly the last interval
    // reaches past the curve; the missing knot reads as 0.
    auto knot = [&](int i) -> int { return i < curve_size ? curve[i] : 0; };
    for (int i = 0; i < max; ++i) {
      int base = i - i % step;
      curve[i] = uint16_t((knot(base) * (step - i % step) + knot(base + step) * (i % step)) / step);
    }
    raw_seek(ctx, int64_t(ctx->meta_data_offset) + 562, 0);
    split = read_u16(ctx);
  } else if (ver0 != 0x46 && csize <= 0x4001) {
    read_u16_array(ctx, curve, size_t(csize));
    max = csize;
  }
  while (max > 2 && curve[max - 2] == curve[max - 1]) --max;  // flat tail; never below 2
  huff_pool_clear(ctx);
  build_huffman_tree(ctx, nikon_tree_sources[tree], 32, 0);
  raw_seek(ctx, ctx->raw_data_offset, 0);
  reset_bit_reader(ctx);
  int min = 0;
  uint16_t hpred[2] = {0, 0};
  for (int row = 0; row < ctx->image_height; ++row) {
    if (split && row == split && tree + 1 < 6) {
      huff_pool_clear(ctx);
      build_huffman_tree(ctx, nikon_tree_sources[tree + 1], 32, 0);
      min = 16;
      max += 32;
    }
    for (int col = 0; col < ctx->sensor_width; ++col) {
      int symbol = huff_decode_symbol(ctx, ctx->huff_pool);
      int len = symbol & 15, shl = symbol >> 4;
      int diff = 0;
      if (len) {
        diff = int(((read_bits(ctx, len - shl) << 1) + 1) << shl >> 1);
        if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - !shl;
      }
      uint16_t& h = col < 2 ? hpred[col] : hpred[col & 1];
      if (col < 2) {
        vpred[row & 1][col] = uint16_t(vpred[row & 1][col] + diff);
        h = vpred[row & 1][col];
      } else {
        h = uint16_t(h + diff);
      }
      if (uint16_t(h + min) >= max) report_data_error(ctx);
      int64_t x = int64_t(col) - ctx->left_margin;
      if (x >= 0 && x < ctx->image_width) {
        int v = int16_t(h);
        cfa_sample(ctx, unsigned(row), unsigned(x)) = curve[v < 0 ? 0 : v > 0x3FFF ? 0x3FFF : v];
      }
    }
    if (loader_data_ended(ctx)) break;
  }
}

// ---- Nikon E900 ------------------------------------------------------------------------

void nikon_e900_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const unsigned height = ctx->image_height;
  int64_t offset = 0;
  for (unsigned irow = 0; irow < height; ++irow) {
    unsigned row = irow * 2 % height;
    if (row == 1) offset = (offset + 4095) & ~int64_t(4095);
    raw_seek(ctx, offset, 0);
    offset += ctx->sensor_width;
    reset_bit_reader(ctx);
    for (unsigned col = 0; col < ctx->image_width; ++col) cfa_sample(ctx, row, col) = uint16_t(read_bits(ctx, 10));
  }
}

// ---- Fuji RAF ------------------------------------------------------------------------------

void fuji_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  raw_seek(ctx, (int64_t(ctx->top_margin) * ctx->sensor_width + ctx->left_margin) * 2, 1);
  const int64_t fw = ctx->fuji_diagonal_width;
  const int64_t wide = ctx->fuji_layout_flag ? fw : fw * 2;
  auto pixel = raw_alloc<uint16_t>(ctx, uint64_t(wide), "fuji_load_raw()");
  for (int64_t row = 0; row < ctx->sensor_height; ++row) {
    read_u16_array(ctx, pixel.get(), size_t(wide));
    raw_seek(ctx, 2 * (int64_t(ctx->sensor_width) - wide), 1);
    for (int64_t col = 0; col < wide; ++col) {
      int64_t r, c;
      if (ctx->fuji_layout_flag) {
        r = fw - 1 - col + (row >> 1);
        c = col + ((row + 1) >> 1);
      } else {
        r = fw - 1 + row - (col >> 1);
        c = row + ((col + 1) >> 1);
      }
      cfa_store_signed(ctx, r, c, pixel[col]);  // positions outside the image are dropped
    }
    if (loader_data_ended(ctx)) break;
  }
}
