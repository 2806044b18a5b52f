// Small helpers every loader shares: checking the frame before storing,
// bounded whole-pixel access, clamping, and noticing the end of the data so
// that a loader given a short file does not go on decoding nothing for
// billions of samples.
#pragma once

#include <cstdint>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

// True when the pixel buffer covers the visible image for CFA stores;
// otherwise a data error (a loader run on a frame it cannot fill).
inline bool loader_cfa_ready(raw_decode_context* ctx) {
  if (raw_pixels_cover_image(ctx)) return true;
  report_data_error(ctx);
  return false;
}

// The same for loaders that store whole pixels at [row x image_width + column].
inline bool loader_rgb_ready(raw_decode_context* ctx) {
  if (raw_pixels_hold_full_image(ctx)) return true;
  report_data_error(ctx);
  return false;
}

// The whole pixel at a visible position, or null outside the image.
inline raw_pixel* image_pixel(raw_decode_context* ctx, int64_t row, int64_t column) {
  if (row < 0 || column < 0 || row >= ctx->image_height || column >= ctx->image_width) return nullptr;
  uint64_t i = uint64_t(row) * ctx->image_width + uint64_t(column);
  return i < ctx->pixel_count ? &ctx->pixels[i] : nullptr;
}

// Stores at a visible CFA position given as signed numbers; outside is dropped.
inline void cfa_store_signed(raw_decode_context* ctx, int64_t row, int64_t column, int64_t value) {
  if (row < 0 || column < 0) return;
  if (row >= ctx->image_height || column >= ctx->image_width) return;
  cfa_sample(ctx, unsigned(row), unsigned(column)) =
      uint16_t(value < 0 ? 0 : value > 65535 ? 65535 : value);
}

// The CFA sample at a visible position, 0 outside.
inline int cfa_read(raw_decode_context* ctx, int64_t row, int64_t column) {
  if (row < 0 || column < 0 || row >= ctx->image_height || column >= ctx->image_width) return 0;
  return cfa_sample(ctx, unsigned(row), unsigned(column));
}

inline uint16_t clamp16(int64_t v) { return uint16_t(v < 0 ? 0 : v > 65535 ? 65535 : v); }
inline uint16_t clamp16(double v) {
  if (!(v > 0)) return 0;  // NaN too
  return v >= 65535 ? 65535 : uint16_t(v);
}

// True once a read has run past the end of the data.
inline bool loader_data_ended(raw_decode_context* ctx) {
  return ctx->ops && ctx->stream && ctx->ops->eof(ctx->stream);
}

// Reads `count` bytes; a short read is a data error and leaves zeros.
size_t loader_read_bytes(raw_decode_context* ctx, uint8_t* buffer, size_t count);
