// Small mosaicked images for the pipeline tests.
#pragma once

#include <functional>
#include <memory>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

namespace rawtest {

// Rows alternate R G / G B: colours 0 1 / 1 2, both greens colour 1.
constexpr uint32_t kBayer = 0x94949494;

// A context with an image_height x image_width CFA image, shrink 0, whose
// sample at (row, col) of colour c is value(row, col, c).
inline std::unique_ptr<raw_decode_context> MosaicContext(
    int height, int width, const std::function<int(int, int, int)>& value, uint32_t pattern = kBayer,
    int colours = 3) {
  auto ctx = raw_context_create();
  ctx->image_height = uint16_t(height);
  ctx->image_width = uint16_t(width);
  ctx->cfa_pattern = pattern;
  ctx->colour_count = colours;
  ctx->white_level = 65535;
  for (int i = 0; i < 3; ++i) ctx->rgb_from_camera[i][i] = 1;
  for (float& m : ctx->pre_multipliers) m = 1;
  raw_allocate_pixels(ctx.get(), "test");
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) {
      int colour = cfa_colour_at(ctx.get(), r, c);
      ctx->pixels[size_t(r) * width + c][colour] = uint16_t(value(r, c, colour));
    }
  return ctx;
}

inline raw_pixel& At(raw_decode_context* ctx, int row, int col) {
  return ctx->pixels[size_t(row) * ctx->image_width + col];
}

}  // namespace rawtest
