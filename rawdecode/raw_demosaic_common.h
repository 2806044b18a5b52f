// Helpers shared by the demosaicers and the highlight stages.
#pragma once

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_stream.h"

namespace rawdemosaic {

inline uint16_t clip(int v) { return uint16_t(v < 0 ? 0 : v > 65535 ? 65535 : v); }
inline uint16_t clip(double v) { return !(v > 0) ? 0 : v >= 65535 ? 65535 : uint16_t(v); }

// v limited to the range between a and b, in either order.
inline int limit_between(int v, int a, int b) {
  int lo = a < b ? a : b, hi = a < b ? b : a;
  return v < lo ? lo : v > hi ? hi : v;
}

// The number of colours the demosaicers work on (1..4).
inline int colours_of(const raw_decode_context* ctx) {
  return ctx->colour_count < 1 ? 1 : ctx->colour_count > 4 ? 4 : ctx->colour_count;
}

// True for the layout PPG and AHD are written for: three colours, colour 1
// (green) on every other position like the squares of a chessboard, colours
// 0 and 2 between. A file whose plane order puts green elsewhere
// (CFAPlaneColor 1,0,2) does not have it.
inline bool green_chessboard_pattern(const raw_decode_context* ctx) {
  if (ctx->colour_count != 3) return false;
  const int green_parity = cfa_colour_at(ctx, 0, 0) == 1 ? 0 : 1;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) {
      const int colour = cfa_colour_at(ctx, r, c);
      if (colour > 2 || (colour == 1) != (((r + c) & 1) == green_parity)) return false;
    }
  return true;
}

}  // namespace rawdemosaic
