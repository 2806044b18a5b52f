// Pre-interpolation: back to one pixel per position, and the second green
// of a CFA folded into colour 1 unless four-colour demosaicing is asked for.
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_stream.h"

void pre_interpolate(raw_decode_context* ctx) {
  if (!raw_pixels_cover_image(ctx)) return;
  if (ctx->shrink_factor) {
    if (ctx->options.half_size_output) {
      ctx->image_height = ctx->buffer_height;
      ctx->image_width = ctx->buffer_width;
    } else {
      const unsigned height = ctx->image_height, width = ctx->image_width;
      auto img = raw_alloc_pixels(ctx, uint64_t(height) * width, "pre_interpolate()");
      for (unsigned row = 0; row < height; ++row) {
        for (unsigned col = 0; col < width; ++col) {
          int c = cfa_colour_at(ctx, int(row), int(col));
          img[size_t(row) * width + col][c] =
              ctx->pixels[size_t(row >> 1) * ctx->buffer_width + (col >> 1)][c];
        }
      }
      ctx->pixels = std::move(img);
      ctx->pixel_count = uint64_t(height) * width;
      ctx->shrink_factor = 0;
      // The buffer now holds the whole image.
      ctx->buffer_height = ctx->image_height;
      ctx->buffer_width = ctx->image_width;
    }
  }
  if (!raw_pixels_hold_full_image(ctx)) return;
  if (ctx->cfa_pattern && ctx->colour_count == 3) {
    ctx->mixed_green = ctx->options.four_colour_demosaic;
    if (ctx->mixed_green) {
      ctx->colour_count = 4;
    } else if (ctx->cfa_pattern & (ctx->cfa_pattern >> 1) & 0x55555555u) {
      // The second green (colour 3) goes back to colour 1. A plane order
      // that puts no colour 1 beside colour 2 made no colour 3, and then
      // there is nothing to fold.
      // From here on the buffer is addressed as image_height x image_width
      // (a half-size buffer is the image).
      const unsigned height = ctx->image_height, width = ctx->image_width;
      for (unsigned row = cfa_fc(ctx, 1, 0) >> 1; row < height; row += 2)
        for (unsigned col = cfa_fc(ctx, row, 1) & 1; col < width; col += 2)
          ctx->pixels[size_t(row) * width + col][1] = ctx->pixels[size_t(row) * width + col][3];
      ctx->cfa_pattern &= ~((ctx->cfa_pattern & 0x55555555u) << 1);
    }
  }
  if (ctx->options.half_size_output) ctx->cfa_pattern = 0;
}
