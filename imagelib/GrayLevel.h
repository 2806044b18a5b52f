// The one luminance weighting of the library (0.299, 0.587, 0.114 in
// tenths of a per-mille): grey conversion and every codec that must tell a
// palette's dark entry from its light one use it, so they agree.
#pragma once

#include <cstdint>

#include "imagelib/PxImage.h"

inline uint8_t GrayLevel(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>((red * 306u + green * 601u + blue * 117u) >> 10);
}

inline uint8_t GrayLevel(const RGBQUAD& c) { return GrayLevel(c.rgbRed, c.rgbGreen, c.rgbBlue); }
