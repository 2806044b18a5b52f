// Phase One backs (keyed uncompressed and compressed data, with the sensor
// corrections stored in the file's metadata) and Hasselblad, which share
// the 64-bit bit reader.
#include <cmath>
#include <cstdlib>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

namespace {

const int8_t ph1_directions[12][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-2, 0}, {0, -2},
                                      {0, 2},   {2, 0},  {-2, -2}, {-2, 2}, {2, -2}, {2, 2}};
const int ph1_lengths[10] = {8, 7, 6, 9, 11, 10, 5, 12, 14, 13};

}  // namespace

void ph1_reset_bits(raw_decode_context* ctx) {
  ctx->ph1_bit_buffer = 0;
  ctx->ph1_bit_count = 0;
}

unsigned ph1_read_bits(raw_decode_context* ctx, int n) {
  if (n <= 0) return 0;
  if (n > 32) {  // more than one refill word
    report_data_error(ctx);
    return 0;
  }
  if ((ctx->ph1_bit_count -= n) < 0) {
    ctx->ph1_bit_buffer = ctx->ph1_bit_buffer << 32 | read_u32(ctx);
    ctx->ph1_bit_count += 32;
  }
  return unsigned(ctx->ph1_bit_buffer << (64 - n - ctx->ph1_bit_count) >> (64 - n));
}

uint16_t bayer_sample_or_zero(raw_decode_context* ctx, int row, int column) {
  if (unsigned(row) < ctx->image_height && unsigned(column) < ctx->image_width)
    return cfa_sample(ctx, unsigned(row), unsigned(column));
  return 0;
}

void phase_one_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  raw_seek(ctx, ctx->phase_one_params.key_offset, 0);
  const unsigned akey = read_u16(ctx), bkey = read_u16(ctx);
  const unsigned mask = ctx->phase_one_params.format == 1 ? 0x5555 : 0x1354;
  const unsigned sensor_width = ctx->sensor_width;
  raw_seek(ctx, int64_t(ctx->raw_data_offset) + int64_t(ctx->top_margin) * sensor_width * 2, 0);
  auto pixel = raw_alloc<uint16_t>(ctx, sensor_width, "phase_one_load_raw()");
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    read_u16_array(ctx, pixel.get(), sensor_width);
    for (unsigned col = 0; col + 1 < sensor_width; col += 2) {
      unsigned a = pixel[col] ^ akey, b = pixel[col + 1] ^ bkey;
      pixel[col] = uint16_t((a & mask) | (b & ~mask));
      pixel[col + 1] = uint16_t((b & mask) | (a & ~mask));
    }
    for (unsigned col = 0; col < ctx->image_width && col + ctx->left_margin < sensor_width; ++col)
      cfa_sample(ctx, row, col) = pixel[col + ctx->left_margin];
    if (loader_data_ended(ctx)) break;
  }
  pixel.reset();
  phase_one_correct(ctx);
}

void phase_one_load_raw_c(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const unsigned sensor_width = ctx->sensor_width, sensor_height = ctx->sensor_height;
  const phase_one_info& ph1 = ctx->phase_one_params;
  auto pixel = raw_alloc<uint16_t>(ctx, sensor_width, "phase_one_load_raw_c()");
  auto offset = raw_alloc<uint32_t>(ctx, sensor_height, "phase_one_load_raw_c()");
  auto row_black = raw_alloc<uint16_t>(ctx, uint64_t(sensor_height) * 2, "phase_one_load_raw_c()");
  raw_seek(ctx, ctx->strip_offset, 0);
  for (unsigned i = 0; i < sensor_height; ++i) offset[i] = read_u32(ctx);
  if (ph1.black_offset) {
    raw_seek(ctx, ph1.black_offset, 0);
    read_u16_array(ctx, row_black.get(), uint64_t(sensor_height) * 2);
  }
  for (int i = 0; i < 256; ++i) ctx->tone_curve[i] = uint16_t(i * i / 3.969 + 0.5);
  int len[2] = {14, 14};  // defined before the first length code is read
  for (unsigned row = 0; row < sensor_height; ++row) {
    raw_seek(ctx, int64_t(ctx->raw_data_offset) + offset[row], 0);
    ph1_reset_bits(ctx);
    int pred[2] = {0, 0};
    for (unsigned col = 0; col < sensor_width; ++col) {
      if (col >= (sensor_width & ~7u)) {
        len[0] = len[1] = 14;
      } else if ((col & 7) == 0) {
        for (int i = 0; i < 2; ++i) {
          int j = 0;
          while (j < 5 && !ph1_read_bits(ctx, 1)) ++j;
          if (j--) len[i] = ph1_lengths[j * 2 + int(ph1_read_bits(ctx, 1))];
        }
      }
      int l = len[col & 1];
      if (l == 14)
        pred[col & 1] = int(ph1_read_bits(ctx, 16));
      else
        pred[col & 1] += int(ph1_read_bits(ctx, l)) + 1 - (1 << (l - 1));
      if (unsigned(pred[col & 1]) >> 16) report_data_error(ctx);
      pixel[col] = uint16_t(pred[col & 1]);
      if (ph1.format == 5 && pixel[col] < 256) pixel[col] = ctx->tone_curve[pixel[col]];
    }
    int64_t irow = int64_t(row) - ctx->top_margin;
    if (irow >= 0 && irow < ctx->image_height) {
      for (unsigned col = 0; col < ctx->image_width && col + ctx->left_margin < sensor_width; ++col) {
        int64_t v = int64_t(pixel[col + ctx->left_margin]) * 4 - ph1.black_level +
                    int16_t(row_black[row * 2 + (int64_t(col) >= ph1.split_column ? 1 : 0)]);
        if (v > 0) cfa_sample(ctx, unsigned(irow), col) = clamp16(v);
      }
    }
    if (loader_data_ended(ctx)) break;
  }
  pixel.reset();
  offset.reset();
  row_black.reset();
  phase_one_correct(ctx);
  int64_t white = 0xFFFC - int64_t(ph1.black_level);
  ctx->white_level = uint32_t(white < 0 ? 0 : white);
}

void phase_one_flat_field(raw_decode_context* ctx, int is_float, int nc) {
  uint16_t head[8];
  read_u16_array(ctx, head, 8);
  if (head[4] == 0 || head[5] == 0 || nc < 1 || nc > 4) {  // a step of 0 divides by zero
    report_data_error(ctx);
    return;
  }
  const int wide = head[2] / head[4];
  if (wide == 0) return;
  auto mrow = raw_alloc<float>(ctx, uint64_t(nc) * wide, "phase_one_flat_field()");
  const int ysteps = head[3] / head[5];
  for (int y = 0; y < ysteps; ++y) {
    for (int x = 0; x < wide; ++x)
      for (int c = 0; c < nc; c += 2) {
        float num = is_float ? float(read_real(ctx, 11)) : read_u16(ctx) / 32768.0f;
        if (!std::isfinite(num)) num = 0;
        if (y == 0)
          mrow[c * wide + x] = num;
        else if (c + 1 < nc)
          mrow[(c + 1) * wide + x] = (num - mrow[c * wide + x]) / head[5];
      }
    if (loader_data_ended(ctx)) break;
    if (y == 0) continue;
    const int rend = head[1] - ctx->top_margin + y * head[5];
    for (int row = rend - head[5]; row < ctx->image_height && row < rend; ++row) {
      for (int x = 1; x < wide; ++x) {
        float mult[4] = {0, 0, 0, 0};
        for (int c = 0; c < nc; c += 2) {
          mult[c] = mrow[c * wide + x - 1];
          if (c + 1 < nc) mult[c + 1] = (mrow[c * wide + x] - mult[c]) / head[4];
        }
        const int cend = head[0] - ctx->left_margin + x * head[4];
        for (int col = cend - head[4]; col < ctx->image_width && col < cend; ++col) {
          int colour = nc > 2 ? cfa_fc(ctx, unsigned(row), unsigned(col)) : 0;
          if (!(colour & 1) && row >= 0 && col >= 0) {
            uint16_t& s = cfa_sample(ctx, unsigned(row), unsigned(col));
            s = clamp16(double(s) * mult[colour]);
          }
          for (int c = 0; c + 1 < nc; c += 2) mult[c] += mult[c + 1];
        }
      }
      for (int x = 0; x < wide; ++x)
        for (int c = 0; c + 1 < nc; c += 2) mrow[c * wide + x] += mrow[(c + 1) * wide + x];
    }
  }
}

namespace {

// Rebuilds the samples the file's defect list names.
void phase_one_defects(raw_decode_context* ctx, int64_t length) {
  while ((length -= 8) >= 0) {
    int col = int(read_u16(ctx)) - ctx->left_margin;
    int row = int(read_u16(ctx)) - ctx->top_margin;
    int type = read_u16(ctx);
    read_u16(ctx);
    if (loader_data_ended(ctx)) break;
    if (unsigned(col) >= ctx->image_width) continue;
    if (type == 131) {  // a bad column
      for (row = 0; row < ctx->image_height; ++row) {
        if (cfa_fc(ctx, unsigned(row), unsigned(col)) == 1) {
          int val[4], sum = 0;
          for (int i = 0; i < 4; ++i)
            sum += val[i] = bayer_sample_or_zero(ctx, row + ph1_directions[i][0], col + ph1_directions[i][1]);
          int max = 0;
          for (int i = 1; i < 4; ++i)
            if (std::abs(4 * val[i] - sum) > std::abs(4 * val[max] - sum)) max = i;
          cfa_sample(ctx, unsigned(row), unsigned(col)) = clamp16((sum - val[max]) / 3.0 + 0.5);
        } else {
          int sum = 0;
          for (int i = 8; i < 12; ++i)
            sum += bayer_sample_or_zero(ctx, row + ph1_directions[i][0], col + ph1_directions[i][1]);
          double v = 0.5 + sum * 0.0732233 +
                     (bayer_sample_or_zero(ctx, row, col - 2) + bayer_sample_or_zero(ctx, row, col + 2)) * 0.3535534;
          cfa_sample(ctx, unsigned(row), unsigned(col)) = clamp16(v);
        }
      }
    } else if (type == 129) {  // a bad pixel
      if (unsigned(row) >= ctx->image_height) continue;
      int j = cfa_fc(ctx, unsigned(row), unsigned(col)) != 1 ? 4 : 0, sum = 0;
      for (int i = j; i < j + 8; ++i)
        sum += bayer_sample_or_zero(ctx, row + ph1_directions[i][0], col + ph1_directions[i][1]);
      cfa_sample(ctx, unsigned(row), unsigned(col)) = uint16_t((sum + 4) >> 3);
    }
  }
}

void apply_curve_from(raw_decode_context* ctx, const uint16_t* curve, int first_column) {
  for (unsigned row = 0; row < ctx->image_height; ++row)
    for (unsigned col = first_column < 0 ? 0 : unsigned(first_column); col < ctx->image_width; ++col) {
      uint16_t& s = cfa_sample(ctx, row, col);
      s = curve[s];
    }
}

// The sensor's column-wise gain correction (0x412 block), read at `position`.
void phase_one_column_gains(raw_decode_context* ctx, int64_t position) {
  raw_seek(ctx, position, 0);
  uint32_t head[9];
  for (uint32_t& h : head) h = read_u32(ctx) & 0x7FFF;
  const uint64_t n0 = uint64_t(head[1]) * head[3], n1 = uint64_t(head[2]) * head[4];
  // Tables larger than the data could hold, or empty ones, are refused.
  if (!head[1] || !head[3] || (ctx->stream_size >= 0 && (n0 + n1) * 6 > uint64_t(ctx->stream_size))) {
    report_data_error(ctx);
    return;
  }
  auto yval0 = raw_alloc<float>(ctx, n0, "phase_one_correct()");
  auto yval1 = raw_alloc<float>(ctx, n1, "phase_one_correct()");
  auto xval0 = raw_alloc<uint16_t>(ctx, n0, "phase_one_correct()");
  auto xval1 = raw_alloc<uint16_t>(ctx, n1, "phase_one_correct()");
  read_u16(ctx);
  for (uint64_t j = 0; j < n0; ++j) yval0[j] = float(read_real(ctx, 11));
  for (uint64_t j = 0; j < n1; ++j) yval1[j] = float(read_real(ctx, 11));
  for (uint64_t j = 0; j < n0; ++j) xval0[j] = read_u16(ctx);
  for (uint64_t j = 0; j < n1; ++j) xval1[j] = read_u16(ctx);
  const unsigned h1 = head[1], h3 = head[3];
  for (unsigned row = 0; row < ctx->image_height; ++row)
    for (unsigned col = 0; col < ctx->image_width; ++col) {
      float cf = ctx->sensor_width ? float(col) * h3 / ctx->sensor_width : 0;
      unsigned ci = unsigned(cf);
      cf -= float(ci);
      uint16_t& s = cfa_sample(ctx, row, col);
      float num = s * 0.5f;
      float mult[2];
      for (unsigned i = ci; i < ci + 2; ++i) {
        unsigned band = i < h3 ? i : h3 - 1;  // the last column band has no right neighbour
        unsigned j = 0;
        uint64_t k = uint64_t(h1) * band;
        for (; j < h1; ++j)
          if (num < xval0[k = uint64_t(h1) * band + j]) break;
        float frac = (j == 0 || j == h1) ? 0 : (xval0[k] - num) / float(xval0[k] - xval0[k - 1]);
        // With frac 0 the value below is not needed (and for k = 0 not there).
        mult[i - ci] = (frac != 0 ? yval0[k - 1] * frac : 0) + yval0[k] * (1 - frac);
      }
      double v = ((mult[0] * (1 - cf) + mult[1] * cf) * (row + ctx->top_margin) + num) * 2;
      s = clamp16(v);
    }
}

}  // namespace

void phase_one_correct(raw_decode_context* ctx) {
  if (ctx->options.half_size_output || !ctx->meta_data_length) return;
  if (!raw_pixels_cover_image(ctx)) return;
  raw_verbose(ctx, "Phase One correction...\n");
  const int64_t meta = ctx->meta_data_offset;
  raw_seek(ctx, meta, 0);
  ctx->byte_order = read_u16(ctx);
  raw_seek(ctx, 6, 1);
  raw_seek(ctx, meta + read_u32(ctx), 0);
  uint32_t entries = read_u32(ctx);
  raw_seek(ctx, 4, 1);
  int64_t gains_position = 0;
  unsigned mindiff = 0xFFFFFFFFu;
  // Each entry takes 12 bytes: no more entries than the data can hold (the
  // seeks below would otherwise hide the end of the data from the loop).
  if (ctx->stream_size >= 0 && entries > uint64_t(ctx->stream_size) / 12) entries = uint32_t(ctx->stream_size / 12);
  while (entries--) {
    uint32_t tag = read_u32(ctx), length = read_u32(ctx), data = read_u32(ctx);
    if (loader_data_ended(ctx)) break;
    int64_t save = raw_tell(ctx);
    raw_seek(ctx, meta + data, 0);
    switch (tag) {
      case 0x400: phase_one_defects(ctx, length); break;
      case 0x401: phase_one_flat_field(ctx, 1, 2); break;
      case 0x410:
      case 0x416: phase_one_flat_field(ctx, 0, 2); break;
      case 0x40B: phase_one_flat_field(ctx, 0, 4); break;
      case 0x412: {
        raw_seek(ctx, 36, 1);
        unsigned diff = unsigned(std::abs(int(read_u16(ctx)) - ctx->phase_one_params.tag_21a));
        if (diff < mindiff) {
          mindiff = diff;
          gains_position = raw_tell(ctx) - 38;
        }
        break;
      }
      case 0x419: {
        raw_seek(ctx, 4, 1);
        double poly[8];
        for (double& p : poly) p = read_real(ctx, 11);
        poly[3] += (ctx->phase_one_params.tag_210 - poly[7]) * poly[6] + 1;
        auto curve = raw_alloc<uint16_t>(ctx, 0x10000, "phase_one_correct()");
        for (int i = 0; i < 0x10000; ++i) curve[i] = clamp16((poly[5] * i + poly[3]) * i + poly[1]);
        apply_curve_from(ctx, curve.get(), ctx->phase_one_params.split_column);
        break;
      }
      case 0x41A: {
        double poly[4];
        for (double& p : poly) p = read_real(ctx, 11);
        auto curve = raw_alloc<uint16_t>(ctx, 0x10000, "phase_one_correct()");
        for (int i = 0; i < 0x10000; ++i) curve[i] = clamp16(i + ((poly[3] * i + poly[2]) * i + poly[1]) * i + poly[0]);
        apply_curve_from(ctx, curve.get(), 0);
        break;
      }
      default: break;
    }
    raw_seek(ctx, save, 0);
  }
  if (gains_position > 0) phase_one_column_gains(ctx, gains_position);
}

void hasselblad_load_raw(raw_decode_context* ctx) {
  ljpeg_header jh;
  if (!quarn_ljpeg_start(ctx, &jh, 0)) return;
  jh.row.reset();
  if (!loader_cfa_ready(ctx)) return;
  ctx->byte_order = 0x4949;
  ph1_reset_bits(ctx);
  const huff_node* tree = jh.huff[0];
  const int top = ctx->top_margin, left = ctx->left_margin;
  for (int row = -top; row < ctx->image_height; ++row) {
    int64_t pred[2] = {0x8000, 0x8000};
    for (int col = -left; col < int(ctx->sensor_width) - left; col += 2) {
      int len[2];
      for (int& l : len) {
        const huff_node* node = tree;
        while (node->branch[0]) node = node->branch[ph1_read_bits(ctx, 1)];
        l = node->leaf;
      }
      for (int i = 0; i < 2; ++i) {
        int diff = 0;
        if (len[i] > 16) {
          report_data_error(ctx);
        } else if (len[i] > 0) {
          diff = int(ph1_read_bits(ctx, len[i]));
          if ((diff & (1 << (len[i] - 1))) == 0) diff -= (1 << len[i]) - 1;
          if (diff == 65535) diff = -32768;
        }
        pred[i] += diff;
        if (row >= 0 && col + i >= 0 && col + i < ctx->image_width)
          cfa_sample(ctx, unsigned(row), unsigned(col + i)) = uint16_t(pred[i]);
      }
    }
    if (loader_data_ended(ctx)) break;
  }
  ctx->white_level = 0xFFFF;
}
