// Playback of metafiles into pixels, standing in for the system's metafile
// functions: 16-bit metafiles through libwmf's gd device, enhanced
// metafiles through libemf2svg and librsvg on a cairo surface. Both start
// from white and give width x height pixels, top row first, as 0x00RRGGBB.
//
// Neither parser is known to be safe on several threads at once: every
// call takes one lock for the whole playback. Callers check the headers
// before they hand bytes over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace metafile {

// The frame of a placeable metafile, in points (1/72 inch), counted from
// the frame's own top left corner as libwmf counts its coordinates.
struct Frame {
  float left, top, right, bottom;
};

// `data` is the whole placeable file, the 22-byte header included.
bool RenderWmf(const uint8_t* data, size_t size, const Frame& frame, uint32_t width, uint32_t height,
               std::vector<uint32_t>* pixels);

// `data` is the enhanced metafile from its header record on.
bool RenderEmf(const uint8_t* data, size_t size, uint32_t width, uint32_t height, std::vector<uint32_t>* pixels);

}  // namespace metafile
