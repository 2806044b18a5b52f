// Writers of embedded thumbnails as PNM: plain RGB, colour layers stored one
// after another, and Rollei's 16-bit 5-6-5 pixels.
#include <cstring>

#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"

namespace {

// Bytes a thumbnail claims, refused (data error, 0) when the data cannot
// hold them, so a damaged size never makes a huge allocation or a picture
// of stale bytes.
uint64_t thumb_bytes_available(raw_decode_context* ctx, uint64_t bytes) {
  int64_t left = ctx->stream_size < 0 ? INT64_MAX : ctx->stream_size - raw_tell(ctx);
  if (bytes == 0 || bytes > 0xFFFFFFFFu || int64_t(bytes) > left) {
    report_data_error(ctx);
    return 0;
  }
  return bytes;
}

}  // namespace

void ppm_thumb(raw_decode_context* ctx, FILE* out) {
  uint64_t length = thumb_bytes_available(ctx, uint64_t(ctx->thumb_width) * ctx->thumb_height * 3);
  if (!length) return;
  ctx->thumb_data_length = uint32_t(length);
  auto thumb = raw_alloc<uint8_t>(ctx, length, "ppm_thumb()");
  fprintf(out, "P6\n%d %d\n255\n", ctx->thumb_width, ctx->thumb_height);
  loader_read_bytes(ctx, thumb.get(), length);
  fwrite(thumb.get(), 1, length, out);
}

void layer_thumb(raw_decode_context* ctx, FILE* out) {
  static const char map[2][4] = {"012", "102"};
  const int colours = ctx->thumb_format_info >> 5 & 7;
  ctx->colour_count = colours;
  const uint64_t pixels = uint64_t(ctx->thumb_width) * ctx->thumb_height;
  if (!thumb_bytes_available(ctx, pixels * (colours ? colours : 1))) return;
  ctx->thumb_data_length = uint32_t(pixels);
  // Only maps 0 and 1 are defined; any other number keeps the stored order.
  const unsigned which = ctx->thumb_format_info >> 8;
  auto thumb = raw_alloc<uint8_t>(ctx, pixels * colours, "layer_thumb()");
  fprintf(out, "P%d\n%d %d\n255\n", 5 + (colours >> 1), ctx->thumb_width, ctx->thumb_height);
  loader_read_bytes(ctx, thumb.get(), pixels * colours);
  for (uint64_t i = 0; i < pixels; ++i)
    for (int c = 0; c < colours; ++c) {
      int layer = which <= 1 && c < 3 ? map[which][c] - '0' : c;
      putc(thumb[i + pixels * layer], out);
    }
}

void rollei_thumb(raw_decode_context* ctx, FILE* out) {
  const uint64_t pixels = uint64_t(ctx->thumb_width) * ctx->thumb_height;
  if (!thumb_bytes_available(ctx, pixels * 2)) return;
  ctx->thumb_data_length = uint32_t(pixels);
  auto thumb = raw_alloc<uint16_t>(ctx, pixels, "rollei_thumb()");
  fprintf(out, "P6\n%d %d\n255\n", ctx->thumb_width, ctx->thumb_height);
  read_u16_array(ctx, thumb.get(), pixels);
  for (uint64_t i = 0; i < pixels; ++i) {
    putc(uint8_t(thumb[i] << 3), out);
    putc(uint8_t(thumb[i] >> 5 << 2), out);
    putc(uint8_t(thumb[i] >> 11 << 3), out);
  }
}
