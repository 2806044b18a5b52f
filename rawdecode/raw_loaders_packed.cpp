// Generic packed 12-bit and unpacked 16-bit data, and the small makers'
// packings: Nokia, Olympus E-300, Minolta RD175 and Casio QV-5700.
#include <cstring>

#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

void packed_12bit_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  int remainder_bits = 0;
  if (2 * uint32_t(ctx->sensor_width) >= 3 * uint32_t(ctx->image_width)) {
    // The stored width counts bytes.
    int bytes = ctx->sensor_width;
    ctx->sensor_width = uint16_t(bytes * 2 / 3);
    remainder_bits = bytes * 8 - ctx->sensor_width * 12;
  }
  ctx->byte_order = (ctx->loader_flags & 1) ? 0x4949 : 0x4D4D;
  uint64_t buffer = 0;
  int bits = 0;
  const unsigned height = ctx->image_height, half = height / 2;
  for (unsigned irow = 0; irow < height; ++irow) {
    unsigned row = irow;
    if ((ctx->loader_flags & 2) && half) {
      row = irow % half * 2 + irow / half;
      if (row == 1 && (ctx->loader_flags & 4)) {
        bits = 0;
        if (ctx->compression_code) {
          int64_t field = int64_t(ctx->image_width) * height * 3 / 4;
          raw_seek(ctx, int64_t(ctx->raw_data_offset) - (-field & -2048), 0);
        } else {
          raw_seek(ctx, (ctx->stream_size < 0 ? 0 : ctx->stream_size) / 2, 0);
        }
      }
    }
    for (unsigned col = 0; col < ctx->sensor_width; ++col) {
      bits -= 12;
      while (bits < 0) {
        buffer = buffer << 32 | read_u32(ctx);
        bits += 32;
      }
      int64_t x = int64_t(col) - ctx->left_margin;
      if (x >= 0 && x < ctx->image_width && row < height)
        cfa_sample(ctx, row, unsigned(x)) = uint16_t(buffer << (52 - bits) >> 52);
      if ((ctx->loader_flags & 8) && col % 10 == 9) {
        bits = 0;
        if (buffer & 255) report_data_error(ctx);
      }
    }
    bits -= remainder_bits;
    if (loader_data_ended(ctx)) break;
  }
  if (!strcmp(ctx->camera_make, "OLYMPUS")) ctx->black_level >>= 4;
}

void unpacked_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  int bits = 0;
  while (bits < 16 && (1u << ++bits) < ctx->white_level) {
  }
  const unsigned width = ctx->image_width;
  raw_seek(ctx, (int64_t(ctx->top_margin) * ctx->sensor_width + ctx->left_margin) * 2, 1);
  auto pixel = raw_alloc<uint16_t>(ctx, width, "unpacked_load_raw()");
  const unsigned s = ctx->shrink_factor;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    read_u16_array(ctx, pixel.get(), width);
    raw_seek(ctx, 2 * (int64_t(ctx->sensor_width) - width), 1);
    for (unsigned col = 0; col < width; ++col) {
      ctx->pixels[size_t(row >> s) * ctx->buffer_width + (col >> s)][cfa_colour_at(ctx, int(row), int(col))] = pixel[col];
      if (bits < 16 && pixel[col] >> bits) report_data_error(ctx);
    }
    if (loader_data_ended(ctx)) break;
  }
}

void nokia_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const size_t dwide = size_t(ctx->sensor_width) * 5 / 4;
  const size_t groups = (dwide + 4) / 5;  // rounded up, the rest zero
  auto data = raw_alloc<uint8_t>(ctx, groups * 5, "nokia_load_raw()");
  auto pixel = raw_alloc<uint16_t>(ctx, groups * 4, "nokia_load_raw()");
  const unsigned width = ctx->image_width;
  const size_t used = width < groups * 4 ? width : groups * 4;
  uint64_t black = 0;
  for (unsigned row = 0; row < ctx->sensor_height; ++row) {
    loader_read_bytes(ctx, data.get(), dwide);
    memset(data.get() + dwide, 0, groups * 5 - dwide);
    for (size_t g = 0; g < groups; ++g) {
      const uint8_t* d = data.get() + g * 5;
      for (int i = 0; i < 4; ++i) pixel[g * 4 + i] = uint16_t(d[i] << 2 | (d[4] >> (i << 1) & 3));
    }
    if (row < ctx->top_margin) {
      for (size_t col = 0; col < used; ++col) black += pixel[col];
    } else if (row - ctx->top_margin < ctx->image_height) {
      for (size_t col = 0; col < used; ++col) cfa_sample(ctx, row - ctx->top_margin, unsigned(col)) = pixel[col];
    }
    if (loader_data_ended(ctx)) break;
  }
  if (ctx->top_margin && width) ctx->black_level = uint32_t(black / (uint64_t(ctx->top_margin) * width));
  ctx->white_level = 0x3FF;
}

void olympus_e300_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const size_t sensor_width = ctx->sensor_width;
  const size_t dwide = sensor_width * 16 / 10;
  // Every 16 bytes give 10 samples (five triples and a skipped byte);
  // the buffers reach one whole group past the stored row.
  const size_t data_size = (sensor_width / 10 + 2) * 16;
  auto data = raw_alloc<uint8_t>(ctx, data_size, "olympus_e300_load_raw()");
  auto pixel = raw_alloc<uint16_t>(ctx, sensor_width + 2, "olympus_e300_load_raw()");
  raw_seek(ctx, int64_t(dwide) * ctx->top_margin, 1);
  const size_t limit = size_t(ctx->image_width) + ctx->left_margin;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    memset(data.get(), 0, data_size);
    loader_read_bytes(ctx, data.get(), dwide);
    size_t d = 0, n = 0;
    while (n < sensor_width && d + 3 < data_size) {
      if ((d & 15) == 15) {
        if (data[d] && n < limit) report_data_error(ctx);
        ++d;
      }
      const uint8_t* b = data.get() + d;
      pixel[n++] = uint16_t(b[1] << 8 | b[0]);
      pixel[n++] = uint16_t(b[2] << 4 | b[1] >> 4);
      d += 3;
    }
    for (unsigned col = 0; col < ctx->image_width && col + ctx->left_margin < sensor_width + 2; ++col)
      cfa_sample(ctx, row, col) = pixel[col + ctx->left_margin] & 0xFFF;
    if (loader_data_ended(ctx)) break;
  }
  ctx->white_level >>= 4;
  ctx->black_level >>= 4;
}

void minolta_rd175_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  uint8_t pixel[768];
  for (int irow = 0; irow < 1481; ++irow) {
    loader_read_bytes(ctx, pixel, 768);
    int box = irow / 82;
    int row = irow % 82 * 12 + (box < 12 ? box | 1 : (box - 12) * 2);
    switch (irow) {
      case 1477:
      case 1479: continue;
      case 1476: row = 984; break;
      case 1480: row = 985; break;
      case 1478: row = 985, box = 1; break;
      default: break;
    }
    if (box < 12 && (box & 1)) {
      for (int col = 0; col < 1533; ++col, row ^= 1)
        if (col != 1)
          cfa_store_signed(ctx, row, col,
                           (col + 1) & 2 ? pixel[col / 2 - 1] + pixel[col / 2 + 1] : pixel[col / 2] << 1);
      cfa_store_signed(ctx, row, 1, pixel[1] << 1);
      cfa_store_signed(ctx, row, 1533, pixel[765] << 1);
    } else {
      for (int col = row & 1; col < 1534; col += 2) cfa_store_signed(ctx, row, col, pixel[col / 2] << 1);
    }
  }
  ctx->white_level = 510;
}

void casio_qv5700_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  uint8_t data[3232];
  uint16_t pixel[2576];
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    loader_read_bytes(ctx, data, sizeof data);
    for (int g = 0; g < 644; ++g) {
      const uint8_t* d = data + g * 5;
      pixel[g * 4] = uint16_t(d[0] << 2 | d[1] >> 6);
      pixel[g * 4 + 1] = uint16_t(d[1] << 4 | d[2] >> 4);
      pixel[g * 4 + 2] = uint16_t(d[2] << 6 | d[3] >> 2);
      pixel[g * 4 + 3] = uint16_t(d[3] << 8 | d[4]);
    }
    for (unsigned col = 0; col < ctx->image_width && col < 2576; ++col) cfa_sample(ctx, row, col) = pixel[col] & 0x3FF;
    if (loader_data_ended(ctx)) break;
  }
  ctx->white_level = 0x3FC;
}
