#include "rawdecode/raw_context.h"

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

std::unique_ptr<raw_decode_context> raw_context_create() {
  auto ctx = std::make_unique<raw_decode_context>();
  ctx->ops = &raw_stdio_ops;
  return ctx;
}

void raw_set_stream(raw_decode_context* ctx, const raw_stream_ops* ops, void* handle) {
  ctx->ops = ops;
  ctx->stream = handle;
  ctx->stream_size = -1;
  if (!ops || !handle) return;
  if (ops->seek(handle, 0, 2) == 0) {
    int32_t end = ops->tell(handle);
    if (end >= 0) ctx->stream_size = end;
  }
  ops->seek(handle, 0, 0);
}

void raw_allocate_pixels(raw_decode_context* ctx, const char* place) {
  unsigned s = ctx->shrink_factor ? 1 : 0;
  ctx->shrink_factor = s;
  ctx->buffer_height = (ctx->image_height + s) >> s;
  ctx->buffer_width = (ctx->image_width + s) >> s;
  uint64_t count = uint64_t{ctx->buffer_height} * ctx->buffer_width;
  ctx->pixels.reset();
  ctx->pixel_count = 0;
  ctx->pixels = raw_alloc_pixels(ctx, count, place);
  ctx->pixel_count = count;
}

bool raw_pixels_cover_image(const raw_decode_context* ctx) {
  if (!ctx->pixels || ctx->shrink_factor > 1) return false;
  unsigned s = ctx->shrink_factor;
  uint64_t need_h = (uint64_t{ctx->image_height} + s) >> s;
  uint64_t need_w = (uint64_t{ctx->image_width} + s) >> s;
  return ctx->buffer_width >= need_w && ctx->buffer_height >= need_h &&
         uint64_t{ctx->buffer_height} * ctx->buffer_width <= ctx->pixel_count;
}

bool raw_pixels_hold_full_image(const raw_decode_context* ctx) {
  return ctx->pixels && ctx->buffer_width == ctx->image_width &&
         uint64_t{ctx->image_height} * ctx->image_width <= ctx->pixel_count;
}
