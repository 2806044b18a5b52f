// Digital backs: Leaf (tiled layers), Sinar four-shot, Imacon RGB, and
// Rollei's split 10-bit packing.
#include <algorithm>

#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

void leaf_hdr_load_raw(raw_decode_context* ctx) {
  const bool cfa = ctx->cfa_pattern != 0;
  if (cfa ? !loader_cfa_ready(ctx) : !loader_rgb_ready(ctx)) return;
  const unsigned sensor_width = ctx->sensor_width;
  // A tile height of 0 is one tile of the whole frame.
  const uint32_t tile_height = ctx->tile_height ? ctx->tile_height : 0xFFFFFFFFu;
  auto pixel = raw_alloc<uint16_t>(ctx, sensor_width, "leaf_hdr_load_raw()");
  uint64_t tile = 0;
  // Layers after the one kept (a CFA's shot, or the fourth colour) are not read.
  const int layers = cfa ? std::min(ctx->samples_per_pixel, ctx->options.shot_index + 1) : std::min(ctx->samples_per_pixel, 4);
  for (int c = 0; c < layers; ++c) {
    for (unsigned r = 0; r < ctx->sensor_height; ++r) {
      if (r % tile_height == 0) {
        raw_seek(ctx, int64_t(ctx->raw_data_offset) + 4 * int64_t(tile++), 0);
        raw_seek(ctx, int64_t(read_u32(ctx)) + 2 * int64_t(ctx->left_margin), 0);
      }
      if (cfa && c != ctx->options.shot_index) continue;
      read_u16_array(ctx, pixel.get(), sensor_width);
      int64_t row = int64_t(r) - ctx->top_margin;
      if (row >= 0 && row < ctx->image_height)
        for (unsigned col = 0; col < ctx->image_width && col < sensor_width; ++col) {
          if (cfa) {
            cfa_sample(ctx, unsigned(row), col) = pixel[col];
          } else if (c < 4) {
            if (raw_pixel* p = image_pixel(ctx, row, col)) (*p)[c] = pixel[col];
          }
        }
      if (loader_data_ended(ctx)) return;
    }
  }
  if (!cfa) {
    ctx->white_level = 0xFFFF;
    ctx->raw_colour_flag = 1;
  }
}

void sinar_4shot_load_raw(raw_decode_context* ctx) {
  if (ctx->options.shot_index || ctx->options.half_size_output) {
    int shot = ctx->options.shot_index ? ctx->options.shot_index - 1 : 0;
    if (shot > 3) shot = 3;
    if (shot < 0) shot = 0;
    raw_seek(ctx, int64_t(ctx->raw_data_offset) + 4 * shot, 0);
    raw_seek(ctx, read_u32(ctx), 0);
    unpacked_load_raw(ctx);
    return;
  }
  const unsigned height = ctx->image_height, width = ctx->image_width, sensor_width = ctx->sensor_width;
  ctx->pixels.reset();
  ctx->pixel_count = 0;
  ctx->pixels = raw_alloc_pixels(ctx, uint64_t(height) * width, "sinar_4shot_load_raw()");
  ctx->pixel_count = uint64_t(height) * width;
  ctx->buffer_height = uint16_t(height);
  ctx->buffer_width = uint16_t(width);
  auto pixel = raw_alloc<uint16_t>(ctx, sensor_width, "sinar_4shot_load_raw()");
  for (int shot = 0; shot < 4; ++shot) {
    raw_seek(ctx, int64_t(ctx->raw_data_offset) + 4 * shot, 0);
    raw_seek(ctx, read_u32(ctx), 0);
    for (unsigned row = 0; row < ctx->sensor_height; ++row) {
      read_u16_array(ctx, pixel.get(), sensor_width);
      // Each shot is displaced by one row and/or column: the first row and
      // column of the later shots fall outside the image.
      int64_t r = int64_t(row) - ctx->top_margin - (shot >> 1 & 1);
      if (r < 0 || r >= height) continue;
      for (unsigned col = 0; col < sensor_width; ++col) {
        int64_t c = int64_t(col) - ctx->left_margin - (shot & 1);
        if (c < 0 || c >= width) continue;
        ctx->pixels[uint64_t(r) * width + uint64_t(c)][cfa_fc(ctx, row, col)] = pixel[col];
      }
      if (loader_data_ended(ctx)) break;
    }
  }
  ctx->cfa_pattern = 0;
  ctx->shrink_factor = 0;
}

void imacon_rgb_load_raw(raw_decode_context* ctx) {
  if (!loader_rgb_ready(ctx)) return;
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    for (unsigned col = 0; col < ctx->image_width; ++col)
      read_u16_array(ctx, ctx->pixels[size_t(row) * ctx->image_width + col].sample, 3);
    if (loader_data_ended(ctx)) break;
  }
}

void rollei_load_raw(raw_decode_context* ctx) {
  if (!loader_cfa_ready(ctx)) return;
  const uint64_t sensor_width = ctx->sensor_width;
  if (sensor_width == 0) {
    report_data_error(ctx);
    return;
  }
  uint64_t p = 0, q = sensor_width * ctx->sensor_height * 5 / 8;
  uint32_t a = 0;
  uint8_t d[10];
  auto store = [&](uint64_t position, unsigned value) {
    int64_t row = int64_t(position / sensor_width) - ctx->top_margin;
    int64_t col = int64_t(position % sensor_width) - ctx->left_margin;
    cfa_store_signed(ctx, row, col, value & 0x3FF);
  };
  while (raw_read(ctx, d, 1, 10) == 10) {
    for (int i = 0; i < 10; i += 2) {
      store(p++, unsigned(d[i]) << 8 | d[i + 1]);
      a = a << 6 | d[i] >> 2;
    }
    for (int i = 10; i < 16; i += 2) store(q++, a >> (14 - i) * 5);
  }
  ctx->white_level = 0x3FF;
}
