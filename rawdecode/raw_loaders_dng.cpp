// DNG loaders: lossless-JPEG tiles or strips, and uncompressed rows of any
// bit depth from 1 to 16, both placed through dng_copy_pixel.
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

namespace {

unsigned through_curve(const raw_decode_context* ctx, unsigned value) {
  return value < 0x1000 ? ctx->tone_curve[value] : value;
}

}  // namespace

void dng_copy_pixel(raw_decode_context* ctx, int row, int column, const uint16_t*& p, const uint16_t* end) {
  const bool second_shot = ctx->raw_image_count == 2 && ctx->options.shot_index;
  if (second_shot) ++p;
  const int64_t r = int64_t(row) - ctx->top_margin, c = int64_t(column) - ctx->left_margin;
  if (ctx->cfa_pattern) {
    int64_t tr = r, tc = c;
    if (ctx->fuji_diagonal_width) {
      tr = r + ctx->fuji_diagonal_width - 1 - (c >> 1);
      tc = r + ((c + 1) >> 1);
    }
    if (p < end) cfa_store_signed(ctx, tr, tc, through_curve(ctx, *p));
    p += ctx->raw_image_count > 1 ? ctx->raw_image_count : 1;
  } else {
    // At most four colours are kept, and never a value beyond the row.
    const int samples = ctx->samples_per_pixel > 1 ? ctx->samples_per_pixel : 1;
    if (raw_pixel* pixel = image_pixel(ctx, r, c))
      for (int k = 0; k < samples && k < 4 && p + k < end; ++k) (*pixel)[k] = uint16_t(through_curve(ctx, p[k]));
    p += samples;
  }
  if (second_shot) --p;
}

namespace {

bool dng_frame_ready(raw_decode_context* ctx) {
  return ctx->cfa_pattern ? loader_cfa_ready(ctx) : loader_rgb_ready(ctx);
}

}  // namespace

void dng_lossless_load_raw(raw_decode_context* ctx) {
  if (!dng_frame_ready(ctx)) return;
  // A tile size of 0 means one tile across (or down) the whole frame.
  const uint64_t tile_w = ctx->tile_width ? ctx->tile_width : ctx->sensor_width ? ctx->sensor_width : 1;
  const uint64_t tile_h = ctx->tile_height ? ctx->tile_height : ctx->sensor_height ? ctx->sensor_height : 1;
  const int images = ctx->raw_image_count > 1 ? ctx->raw_image_count : 1;
  uint64_t t = 0, u = 0;
  while (t < ctx->sensor_height) {
    int64_t save = raw_tell(ctx);
    if (ctx->tile_height < 0x7FFFFFFF) raw_seek(ctx, read_u32(ctx), 0);
    ljpeg_header jh;
    if (!quarn_ljpeg_start(ctx, &jh, 0)) break;
    int64_t jwide = jh.wide;
    if (ctx->cfa_pattern) jwide *= jh.clrs;
    jwide /= images;
    uint64_t row = 0, col = 0;
    for (int jrow = 0; jrow < jh.high; ++jrow) {
      if (ctx->bit_marker && !(ctx->bit_marker >= 0xD0 && ctx->bit_marker <= 0xD7)) break;
      const uint16_t* rp = ljpeg_decode_row(ctx, jrow, &jh);
      const uint16_t* end = rp + size_t(jh.wide) * jh.clrs;
      for (int64_t jcol = 0; jcol < jwide; ++jcol) {
        if (t + row < 0x7FFFFFFF && u + col < 0x7FFFFFFF) dng_copy_pixel(ctx, int(t + row), int(u + col), rp, end);
        if (++col >= tile_w || col >= ctx->sensor_width) row += 1 + (col = 0);
      }
    }
    raw_seek(ctx, save + 4, 0);
    if ((u += tile_w) >= ctx->sensor_width) u = 0, t += tile_h;
  }
}

void adobe_dng_load_raw_nc(raw_decode_context* ctx) {
  if (!dng_frame_ready(ctx)) return;
  const int bits = ctx->bits_per_sample;
  if (bits < 1 || bits > 16) {
    report_data_error(ctx);
    return;
  }
  const uint64_t samples = ctx->samples_per_pixel > 1 ? uint64_t(ctx->samples_per_pixel) : 1;
  const uint64_t count = uint64_t(ctx->sensor_width) * samples;
  auto pixel = raw_alloc<uint16_t>(ctx, count, "adobe_dng_load_raw_nc()");
  for (unsigned row = 0; row < ctx->sensor_height; ++row) {
    if (bits == 16) {
      read_u16_array(ctx, pixel.get(), count);
    } else {
      reset_bit_reader(ctx);
      for (uint64_t i = 0; i < count; ++i) pixel[i] = uint16_t(read_bits(ctx, bits));
    }
    const uint16_t* rp = pixel.get();
    const uint16_t* end = rp + count;
    for (unsigned col = 0; col < ctx->sensor_width; ++col) dng_copy_pixel(ctx, int(row), int(col), rp, end);
    if (loader_data_ended(ctx)) break;
  }
}
