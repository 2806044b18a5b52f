// Playback of metafiles into pixels, standing in for the system's metafile
// functions: 16-bit metafiles through libwmf's gd device, enhanced
// metafiles through libemf2svg and librsvg on a cairo surface. Both start
// from white and hand width x height pixels, top row first, to `write` as
// 32-bit 0x??RRGGBB (the top byte is not colour), where the library drew
// them; the result is false when playback or `write` fails.
//
// These run only inside the metafile player process (one metafile per
// process), never in the program itself: the parsers are not known to be
// safe on several threads at once, and their work on hostile records is
// bounded only by the limits of the process they run in. Callers check the
// headers before they hand bytes over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace metafile {

// The frame of a placeable metafile, in points (1/72 inch), counted from
// the frame's own top left corner as libwmf counts its coordinates.
struct Frame {
  float left, top, right, bottom;
};

using PixelWriter = std::function<bool(const uint32_t* pixels, size_t count)>;

// `data` is the whole placeable file, the 22-byte header included.
bool RenderWmf(const uint8_t* data, size_t size, const Frame& frame, uint32_t width, uint32_t height,
               const PixelWriter& write);

// `data` is the enhanced metafile from its header record on.
bool RenderEmf(const uint8_t* data, size_t size, uint32_t width, uint32_t height, const PixelWriter& write);

}  // namespace metafile
