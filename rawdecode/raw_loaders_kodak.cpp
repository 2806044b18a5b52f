// Kodak loaders: RADC (tree-coded bands), DC120, 8-bit curve data, YRGB,
// 262 (two-tree chessboard prediction), and the 65000 block coding with its
// CFA, YCbCr and RGB layouts; and the thumbnail-format image loader.
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

// (code length, value) pairs of the 18 RADC trees, one tree after another,
// each in code order.
const int8_t kodak_radc_source[] = {
    1, 1, 2, 3, 3, 4, 4, 2, 5, 7, 6, 5, 7, 6, 7, 8,                   // 0
    1, 0, 2, 1, 3, 3, 4, 4, 5, 2, 6, 7, 7, 6, 8, 5, 8, 8,             // 1
    2, 1, 2, 3, 3, 0, 3, 2, 3, 4, 4, 6, 5, 5, 6, 7, 6, 8,             // 2
    2, 0, 2, 1, 2, 3, 3, 2, 4, 4, 5, 6, 6, 7, 7, 5, 7, 8,             // 3
    2, 1, 2, 4, 3, 0, 3, 2, 3, 3, 4, 7, 5, 5, 6, 6, 6, 8,             // 4
    2, 3, 3, 1, 3, 2, 3, 4, 3, 5, 3, 6, 4, 7, 5, 0, 5, 8,             // 5
    2, 3, 2, 6, 3, 0, 3, 1, 4, 4, 4, 5, 4, 7, 5, 2, 5, 8,             // 6
    2, 4, 2, 7, 3, 3, 3, 6, 4, 1, 4, 2, 4, 5, 5, 0, 5, 8,             // 7
    2, 6, 3, 1, 3, 3, 3, 5, 3, 7, 3, 8, 4, 0, 5, 2, 5, 4,             // 8
    2, 0, 2, 1, 3, 2, 3, 3, 4, 4, 4, 5, 5, 6, 5, 7, 4, 8,             // 9
    1, 0, 2, 2, 2, -2,                                                // 10
    1, -3, 1, 3,                                                      // 11
    2, -17, 2, -5, 2, 5, 2, 17,                                       // 12
    2, -7, 2, 2, 2, 9, 2, 18,                                         // 13
    2, -18, 2, -9, 2, -2, 2, 7,                                       // 14
    2, -28, 2, 28, 3, -49, 3, -9, 3, 9, 4, 49, 5, -79, 5, 79,         // 15
    2, -1, 2, 13, 2, 26, 3, 39, 4, -16, 5, 55, 6, -37, 6, 76,         // 16
    2, -26, 2, -13, 2, 1, 3, -39, 4, 16, 5, -55, 6, -76, 6, 37,       // 17
};

int radc_build_tree(raw_decode_context* ctx, int position, int level) {
  if (ctx->huff_next_free >= raw_huff_pool_size || level > 16) report_table_overflow(ctx);
  huff_node* node = &ctx->huff_pool[ctx->huff_next_free++];
  const int size = int(sizeof kodak_radc_source);
  int length = position + 1 < size ? kodak_radc_source[position] : 0;
  if (level < length) {
    node->branch[0] = huff_next_node(ctx);
    position = radc_build_tree(ctx, position, level + 1);
    node->branch[1] = huff_next_node(ctx);
    position = radc_build_tree(ctx, position, level + 1);
  } else {
    node->leaf = position + 1 < size ? kodak_radc_source[position + 1] : 0;
    position += 2;
  }
  return position;
}

int radc_read_token(raw_decode_context* ctx, int tree) {
  if (ctx->huff_next_free == 0) {
    ctx->radc_source_position = 0;
    for (int t = 0; t < 18; ++t) {
      ctx->radc_roots[t] = huff_next_node(ctx);
      ctx->radc_source_position = radc_build_tree(ctx, ctx->radc_source_position, 0);
    }
  }
  if (tree == 18) {
    if (ctx->kodak_bit_code == 243) return int(read_bits(ctx, 6) << 2) + 2;
    return int(read_bits(ctx, 5) << 3) + 4;
  }
  if (tree < 0 || tree > 18) {
    report_data_error(ctx);
    return 0;
  }
  for (ctx->radc_current_node = ctx->radc_roots[tree]; ctx->radc_current_node->branch[0];)
    ctx->radc_current_node = ctx->radc_current_node->branch[read_bits(ctx, 1)];
  return ctx->radc_current_node->leaf;
}

void kodak_radc_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const int height = ctx->image_height, width = ctx->image_width;
  if (width / 2 > 384) {  // the work lines hold 386 entries
    report_data_error(ctx);
    return;
  }
  huff_pool_clear(ctx);
  reset_bit_reader(ctx);
  int last[3] = {16, 16, 16}, mul[3];
  int16_t buf[3][3][386];
  for (auto& colour : buf)
    for (auto& line : colour)
      for (int16_t& v : line) v = 2048;
  const int half = width / 2;
  auto predictor = [&](int c, int y, int x) -> int {
    if (c) return (buf[c][y - 1][x] + buf[c][y][x + 1]) / 2;
    return (buf[c][y - 1][x + 1] + 2 * buf[c][y - 1][x] + buf[c][y][x + 1]) / 4;
  };
  for (int row = 0; row < height; row += 4) {
    for (int c = 0; c < 3; ++c) {
      mul[c] = int(read_bits(ctx, 6));
      if (mul[c] == 0) mul[c] = 1;  // a zero gain would divide by zero below
    }
    for (int c = 0; c < 3; ++c) {
      int64_t val = ((0x1000000 / last[c] + 0x7FF) >> 12) * mul[c];
      int s = val > 65564 ? 10 : 12;
      int64_t x = (1 << (s - 1)) - 1;
      val <<= 12 - s;
      for (auto& line : buf[c])
        for (int16_t& v : line) v = int16_t((v * val + x) >> s);
      last[c] = mul[c];
      for (int r = 0; r <= !c; ++r) {
        buf[c][1][half] = buf[c][2][half] = int16_t(mul[c] << 7);
        int tree = 1, col = half;
        while (col > 0) {
          if ((tree = radc_read_token(ctx, tree))) {
            col -= 2;
            for (int y = 1; y < 3; ++y)
              for (int xx = col + 1; xx >= col && xx >= 0; --xx)
                buf[c][y][xx] = int16_t(tree == 8 ? (radc_read_token(ctx, 18) & 0xFF) * mul[c]
                                                  : radc_read_token(ctx, tree + 10) * 16 + predictor(c, y, xx));
          } else {
            int nreps;
            do {
              nreps = col > 2 ? radc_read_token(ctx, 9) + 1 : 1;
              for (int rep = 0; rep < 8 && rep < nreps && col > 0; ++rep) {
                col -= 2;
                for (int y = 1; y < 3; ++y)
                  for (int xx = col + 1; xx >= col && xx >= 0; --xx) buf[c][y][xx] = int16_t(predictor(c, y, xx));
                if (rep & 1) {
                  int step = radc_read_token(ctx, 10) << 4;
                  for (int y = 1; y < 3; ++y)
                    for (int xx = col + 1; xx >= col && xx >= 0; --xx) buf[c][y][xx] = int16_t(buf[c][y][xx] + step);
                }
              }
            } while (nreps == 9);
          }
          if (loader_data_ended(ctx)) col = 0;
        }
        for (int y = 0; y < 2; ++y)
          for (int xx = 0; xx < half; ++xx) {
            int v = (buf[c][y + 1][xx] << 4) / mul[c];
            if (v < 0) v = 0;
            if (c)
              cfa_store_signed(ctx, row + y * 2 + c - 1, xx * 2 + 2 - c, v);
            else
              cfa_store_signed(ctx, row + r * 2 + y, xx * 2 + y, v);
          }
        memmove(buf[c][0] + !c, buf[c][2], sizeof buf[c][0] - 2 * !c);
      }
    }
    for (int y = row; y < row + 4 && y < height; ++y)
      for (int x = 0; x < width; ++x)
        if ((x + y) & 1) {
          int left = x ? x - 1 : x + 1;
          int right = x + 1 < width ? x + 1 : x - 1;
          int v = (cfa_read(ctx, y, x) - 2048) * 2 + (cfa_read(ctx, y, left) + cfa_read(ctx, y, right)) / 2;
          cfa_store_signed(ctx, y, x, v < 0 ? 0 : v);
        }
  }
  ctx->apply_gamma = 0;
  ctx->white_level = 4095;
}

void kodak_dc120_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  static const int mul[4] = {162, 192, 187, 92};
  static const int add[4] = {0, 636, 424, 212};
  uint8_t pixel[848];
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    loader_read_bytes(ctx, pixel, sizeof pixel);
    unsigned shift = row * mul[row & 3] + add[row & 3];
    for (unsigned col = 0; col < ctx->image_width; ++col) cfa_sample(ctx, row, col) = pixel[(col + shift) % 848];
  }
  ctx->white_level = 0xFF;
}

void eight_bit_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const unsigned sensor_width = ctx->sensor_width;
  auto pixel = raw_alloc<uint8_t>(ctx, sensor_width, "eight_bit_load_raw()");
  raw_seek(ctx, int64_t(sensor_width) * ctx->top_margin, 1);
  uint64_t black = 0;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    loader_read_bytes(ctx, pixel.get(), sensor_width);
    for (unsigned col = 0; col < sensor_width; ++col) {
      unsigned val = ctx->tone_curve[pixel[col]];
      int64_t x = int64_t(col) - ctx->left_margin;
      if (x >= 0 && x < ctx->image_width)
        cfa_sample(ctx, row, unsigned(x)) = uint16_t(val);
      else
        black += val;
    }
    if (loader_data_ended(ctx)) break;
  }
  if (sensor_width > ctx->image_width + 1u && ctx->image_height)
    ctx->black_level = uint32_t(black / (uint64_t(sensor_width - ctx->image_width) * ctx->image_height));
  if (!strncmp(ctx->camera_model, "DC2", 3)) ctx->black_level = 0;
  ctx->white_level = ctx->tone_curve[0xFF];
}

void kodak_yrgb_load_raw(raw_decode_context* ctx) {
  if (!loader_rgb_ready(ctx)) return;
  const size_t sensor_width = ctx->sensor_width, width = ctx->image_width;
  // Room for the image width too, should the stored rows be narrower.
  const size_t size = 3 * (sensor_width > width ? sensor_width : width) + 2;
  auto pixel = raw_alloc<uint8_t>(ctx, size, "kodak_yrgb_load_raw()");
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    if (~row & 1) {
      if (raw_read(ctx, pixel.get(), sensor_width, 3) < 3) report_data_error(ctx);
    }
    for (size_t col = 0; col < width; ++col) {
      int y = pixel[width * 2 * (row & 1) + col];
      int cb = pixel[width + (col & ~size_t(1))] - 128;
      int cr = pixel[width + (col & ~size_t(1)) + 1] - 128;
      int rgb[3];
      rgb[1] = y - ((cb + cr + 2) >> 2);
      rgb[2] = rgb[1] + cb;
      rgb[0] = rgb[1] + cr;
      raw_pixel& p = ctx->pixels[row * width + col];
      for (int c = 0; c < 3; ++c) p[c] = uint16_t(rgb[c] < 0 ? 0 : rgb[c] > 255 ? 255 : rgb[c]);
    }
  }
  ctx->apply_gamma = 0;
}

const uint8_t kodak_262_trees[2][26] = {
    {0, 1, 5, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
    {0, 3, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
};

void kodak_262_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  huff_pool_clear(ctx);
  const huff_node* trees[2];
  for (int i = 0; i < 2; ++i) {
    trees[i] = huff_next_node(ctx);
    build_huffman_tree(ctx, kodak_262_trees[i], sizeof kodak_262_trees[i], 0);
  }
  const int64_t sensor_width = ctx->sensor_width;
  const unsigned strips = (unsigned(ctx->sensor_height) + 63) >> 5;
  auto pixel = raw_alloc<uint8_t>(ctx, uint64_t(sensor_width) * 32, "kodak_262_load_raw()");
  auto strip = raw_alloc<uint32_t>(ctx, strips, "kodak_262_load_raw()");
  ctx->byte_order = 0x4D4D;
  for (unsigned i = 0; i < strips; ++i) strip[i] = read_u32(ctx);
  uint64_t black = 0;
  int64_t pi = 0;
  for (unsigned row = 0; row < ctx->sensor_height; ++row) {
    if ((row & 31) == 0) {
      raw_seek(ctx, strip[row >> 5], 0);
      reset_bit_reader(ctx);
      pi = 0;
    }
    for (int64_t col = 0; col < sensor_width; ++col) {
      int chess = (row + col) & 1;
      int64_t pi1 = chess ? pi - 2 : pi - sensor_width - 1;
      int64_t pi2 = chess ? pi - 2 * sensor_width : pi - sensor_width + 1;
      if (col <= chess) pi1 = -1;
      if (pi1 < 0) pi1 = pi2;
      if (pi2 < 0) pi2 = pi1;
      if (pi1 < 0 && col > 1) pi1 = pi2 = pi - 2;
      int pred = pi1 < 0 ? 0 : (pixel[pi1] + pixel[pi2]) >> 1;
      int val = pred + ljpeg_read_difference(ctx, trees[chess]);
      if (val >> 8) report_data_error(ctx);
      pixel[pi] = uint8_t(val);
      unsigned v = ctx->tone_curve[pixel[pi++]];
      // Only rows of the image count towards the black level, so that the
      // sum matches the divisor below.
      int64_t irow = int64_t(row) - ctx->top_margin, x = col - ctx->left_margin;
      if (irow < 0 || irow >= ctx->image_height) continue;
      if (x >= 0 && x < ctx->image_width)
        cfa_sample(ctx, unsigned(irow), unsigned(x)) = uint16_t(v);
      else
        black += v;
    }
    if (loader_data_ended(ctx)) break;
  }
  if (sensor_width > ctx->image_width && ctx->image_height)
    ctx->black_level = uint32_t(black / (uint64_t(sensor_width - ctx->image_width) * ctx->image_height));
}

int kodak_65000_decode_block(raw_decode_context* ctx, int16_t* out, int count) {
  uint8_t blen[768 + 8];
  const int64_t save = raw_tell(ctx);
  count = (count + 3) & ~3;
  if (count > 768) count = 768;
  auto next_byte = [&]() -> unsigned {
    int c = raw_getc(ctx);
    if (c < 0) {
      report_data_error(ctx);
      return 0xFF;
    }
    return unsigned(c);
  };
  for (int i = 0; i < count; i += 2) {
    unsigned c = next_byte();
    blen[i] = uint8_t(c & 15);
    blen[i + 1] = uint8_t(c >> 4);
    if (blen[i] > 12 || blen[i + 1] > 12) {  // the block is plain 12-bit samples
      raw_seek(ctx, save, 0);
      for (int k = 0; k < count; k += 8) {
        uint16_t raw[6];
        read_u16_array(ctx, raw, 6);
        out[k] = int16_t(raw[0] >> 12 << 8 | raw[2] >> 12 << 4 | raw[4] >> 12);
        out[k + 1] = int16_t(raw[1] >> 12 << 8 | raw[3] >> 12 << 4 | raw[5] >> 12);
        for (int j = 0; j < 6; ++j) out[k + 2 + j] = int16_t(raw[j] & 0xFFF);
      }
      return 1;
    }
  }
  uint64_t bitbuf = 0;
  int bits = 0;
  if ((count & 7) == 4) {
    bitbuf = next_byte() << 8;
    bitbuf += next_byte();
    bits = 16;
  }
  for (int i = 0; i < count; ++i) {
    int len = blen[i];
    if (bits < len) {
      for (int j = 0; j < 32; j += 8) bitbuf += uint64_t(next_byte()) << (bits + (j ^ 8));
      bits += 32;
    }
    int diff = int(bitbuf & (0xFFFFu >> (16 - len)));
    bitbuf >>= len;
    bits -= len;
    if (len && (diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
    out[i] = int16_t(diff);
  }
  return 0;
}

namespace {

// Curve lookup for decoded 65000 values: an index beyond the curve is a
// data error and reads the curve's end.
unsigned kodak_curve(raw_decode_context* ctx, int index) {
  if (index < 0 || index >= raw_tone_curve_size) {
    report_data_error(ctx);
    index = index < 0 ? 0 : raw_tone_curve_size - 1;
  }
  return ctx->tone_curve[index];
}

}  // namespace

void kodak_65000_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  int16_t buf[256 + 8];
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    for (unsigned col = 0; col < ctx->image_width; col += 256) {
      int pred[2] = {0, 0};
      int len = ctx->image_width - col < 256 ? int(ctx->image_width - col) : 256;
      int plain = kodak_65000_decode_block(ctx, buf, len);
      for (int i = 0; i < len; ++i) {
        unsigned v = kodak_curve(ctx, plain ? buf[i] : (pred[i & 1] += buf[i]));
        cfa_sample(ctx, row, col + i) = uint16_t(v);
        if (v >> 12) report_data_error(ctx);
      }
    }
    if (loader_data_ended(ctx)) break;
  }
}

void kodak_ycbcr_load_raw(raw_decode_context* ctx) {
  if (!loader_rgb_ready(ctx)) return;
  int16_t buf[384 + 8];
  const unsigned height = ctx->image_height, width = ctx->image_width;
  for (unsigned row = 0; row < height; row += 2) {
    for (unsigned col = 0; col < width; col += 128) {
      int len = width - col < 128 ? int(width - col) : 128;
      kodak_65000_decode_block(ctx, buf, len * 3);
      int y[2][2] = {{0, 0}, {0, 0}}, cb = 0, cr = 0;
      const int16_t* bp = buf;
      for (int i = 0; i < len; i += 2, bp += 2) {
        cb += bp[4];
        cr += bp[5];
        int base = -((cb + cr + 2) >> 2);
        for (int j = 0; j < 2; ++j)
          for (int k = 0; k < 2; ++k) {
            y[j][k] = y[j][k ^ 1] + *bp++;
            if (y[j][k] >> 10) report_data_error(ctx);
            if (raw_pixel* p = image_pixel(ctx, row + j, col + i + k)) {
              int v[3] = {y[j][k] + cr + base, y[j][k] + base, y[j][k] + cb + base};
              for (int c = 0; c < 3; ++c) (*p)[c] = ctx->tone_curve[v[c] < 0 ? 0 : v[c] > 0xFFF ? 0xFFF : v[c]];
            }
          }
      }
    }
    if (loader_data_ended(ctx)) break;
  }
}

void kodak_rgb_load_raw(raw_decode_context* ctx) {
  if (!loader_rgb_ready(ctx)) return;
  int16_t buf[768 + 8];
  uint64_t index = 0;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    for (unsigned col = 0; col < ctx->image_width; col += 256) {
      int len = ctx->image_width - col < 256 ? int(ctx->image_width - col) : 256;
      kodak_65000_decode_block(ctx, buf, len * 3);
      int rgb[3] = {0, 0, 0};
      const int16_t* bp = buf;
      for (int i = 0; i < len; ++i, ++index)
        for (int c = 0; c < 3; ++c) {
          rgb[c] += *bp++;
          if (index < ctx->pixel_count) ctx->pixels[index][c] = uint16_t(rgb[c]);
          if (rgb[c] >> 12) report_data_error(ctx);
        }
    }
    if (loader_data_ended(ctx)) break;
  }
}

void kodak_thumb_load_raw(raw_decode_context* ctx) {
  const unsigned colours = ctx->thumb_format_info >> 5;
  if (colours < 1 || colours > 4) {  // a pixel holds at most four colours
    report_data_error(ctx);
    return;
  }
  if (!loader_rgb_ready(ctx)) return;
  ctx->colour_count = int(colours);
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    for (unsigned col = 0; col < ctx->image_width; ++col)
      read_u16_array(ctx, ctx->pixels[size_t(row) * ctx->image_width + col].sample, colours);
    if (loader_data_ended(ctx)) break;
  }
  ctx->white_level = (1u << (ctx->thumb_format_info & 31)) - 1;
}
