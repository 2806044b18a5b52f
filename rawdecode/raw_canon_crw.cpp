// Canon CRW compressed data: blocks of 64 differences coded with two trees,
// two low bits per sample stored apart.
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

extern const uint8_t canon_crw_first_tree[3][29];
extern const uint8_t canon_crw_second_tree[3][180];

void canon_compressed_init_tables(raw_decode_context* ctx, unsigned set) {
  if (set > 2) set = 2;
  huff_pool_clear(ctx);
  build_huffman_tree(ctx, canon_crw_first_tree[set], sizeof canon_crw_first_tree[set], 0);
  ctx->huff_second_tree = huff_next_node(ctx);
  build_huffman_tree(ctx, canon_crw_second_tree[set], sizeof canon_crw_second_tree[set], 0);
}

int canon_has_low_bits(raw_decode_context* ctx) {
  uint8_t test[0x4000] = {};  // a short file leaves zeros: a defined answer
  raw_seek(ctx, 0, 0);
  raw_read(ctx, test, 1, sizeof test);
  int result = 1;
  for (int i = 540; i < int(sizeof test) - 1; ++i) {
    if (test[i] == 0xFF) {
      if (test[i + 1]) return 1;
      result = 0;
    }
  }
  return result;
}

void canon_black_from_margins(raw_decode_context* ctx, double dark[2]) {
  int64_t divisor = (int64_t(ctx->sensor_width) - ctx->image_width - 2) * ctx->image_height >> 1;
  if (divisor <= 0 || !raw_pixels_cover_image(ctx)) return;
  dark[0] /= double(divisor);
  dark[1] /= double(divisor);
  double d = dark[0] - dark[1];
  int diff = d > 1e9 ? 1000000000 : d < -1e9 ? -1000000000 : int(d);
  if (diff) {
    for (unsigned row = 0; row < ctx->image_height; ++row) {
      for (unsigned col = 1; col < ctx->image_width; col += 2) {
        uint16_t& s = cfa_sample(ctx, row, col);
        int v = s + diff;
        s = uint16_t(v < 0 ? 0 : v > 65535 ? 65535 : v);
      }
    }
  }
  dark[1] += diff;
  double black = (dark[0] + dark[1] + 1) / 2;
  ctx->black_level = black <= 0 ? 0 : black >= 65535 ? 65535 : unsigned(black);
}

void canon_compressed_load_raw(raw_decode_context* ctx) {
  const unsigned raw_width = ctx->sensor_width, raw_height = ctx->sensor_height;
  canon_compressed_init_tables(ctx, unsigned(ctx->compression_code));
  if (raw_width == 0 || raw_height == 0 || !raw_pixels_cover_image(ctx)) {
    report_data_error(ctx);
    return;
  }
  auto pixel = raw_alloc<uint16_t>(ctx, uint64_t(raw_width) * 8, "canon_compressed_load_raw()");
  int lowbits = canon_has_low_bits(ctx);
  if (!lowbits) ctx->white_level = 0x3FF;
  raw_seek(ctx, 540 + int64_t(lowbits) * raw_height * raw_width / 4, 0);
  ctx->ff00_stuffing = 1;
  reset_bit_reader(ctx);
  int carry = 0, base[2] = {0, 0};
  uint64_t pnum = 0;
  double dark[2] = {0, 0};
  for (unsigned row = 0; row < raw_height; row += 8) {
    unsigned band_rows = raw_height - row < 8 ? raw_height - row : 8;
    unsigned nblocks = band_rows * raw_width >> 6;
    for (unsigned block = 0; block < nblocks; ++block) {
      int diffbuf[64] = {};
      const huff_node* tree = ctx->huff_pool;
      for (int i = 0; i < 64; ++i) {
        int leaf = huff_decode_symbol(ctx, tree);
        tree = ctx->huff_second_tree;
        if (leaf == 0 && i) break;
        if (leaf == 0xFF) continue;
        i += leaf >> 4;
        int len = leaf & 15;
        if (len == 0) continue;
        int diff = int(read_bits(ctx, len));
        if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
        if (i < 64) diffbuf[i] = diff;
      }
      diffbuf[0] += carry;
      carry = diffbuf[0];
      for (int i = 0; i < 64; ++i) {
        if (pnum++ % raw_width == 0) base[0] = base[1] = 512;
        base[i & 1] = (base[i & 1] + diffbuf[i]) & 0xFFFF;  // the stored sample is 16 bits
        uint16_t v = uint16_t(base[i & 1]);
        pixel[(block << 6) + i] = v;
        if (v >> 10) report_data_error(ctx);
      }
    }
    if (lowbits) {
      int64_t save = raw_tell(ctx);
      raw_seek(ctx, 26 + int64_t(row) * raw_width / 4, 0);
      uint16_t* prow = pixel.get();
      for (unsigned i = 0; i < raw_width * 2; ++i) {
        int c = raw_getc(ctx);
        if (c < 0) c = 0;
        for (int r = 0; r < 8; r += 2, ++prow) {
          unsigned val = (unsigned(*prow) << 2) + ((c >> r) & 3);
          if (raw_width == 2672 && val < 512) val += 2;
          *prow = uint16_t(val);
        }
      }
      raw_seek(ctx, save, 0);
    }
    for (unsigned r = 0; r < band_rows; ++r) {
      unsigned irow = row + r - ctx->top_margin;
      if (row + r < ctx->top_margin || irow >= ctx->image_height) continue;
      for (unsigned col = 0; col < raw_width; ++col) {
        unsigned icol = col - ctx->left_margin;
        unsigned value = pixel[r * raw_width + col];
        if (col >= ctx->left_margin && icol < ctx->image_width)
          cfa_sample(ctx, irow, icol) = uint16_t(value);
        else if (col > 1)
          dark[icol & 1] += value;
      }
    }
  }
  if (ctx->sensor_width >= ctx->image_width + 4) canon_black_from_margins(ctx, dark);
}
