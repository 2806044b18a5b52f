// Shared by the transforms: the temporary image that carries a picture's
// record across a transform and is then moved back into it.
#pragma once

#include <cstring>

#include "imagelib/GrayLevel.h"
#include "imagelib/PxImage.h"

// Gives `temp` (fresh, InitDefaults(0)) the source's whole info record and a
// new pixel block of the given size and depth. The record's buffer pointers
// are not the temporary's to keep; the resolution travels with it.
inline bool StartTemporary(PxImage& temp, const PxImage& source, uint32_t width, uint32_t height,
                           uint32_t bpp) {
  std::memcpy(&temp.info, &source.info, sizeof temp.info);
  temp.info.owner = nullptr;
  temp.info.pixels = nullptr;
  // The temporary gets a palette of its own: an index cached for the
  // source's palette would answer for the wrong colours.
  temp.info.lastColorValid = false;
  temp.header.biXPelsPerMeter = source.header.biXPelsPerMeter;
  temp.header.biYPelsPerMeter = source.header.biYPelsPerMeter;
  return temp.Create(width, height, bpp, source.info.formatId) != nullptr;
}

// Copies as much of the source palette as both palettes hold.
inline void CopyPaletteInto(PxImage& temp, const PxImage& source) {
  RGBQUAD* to = temp.PaletteData();
  const RGBQUAD* from = source.PaletteData();
  if (!to || !from) return;
  uint32_t n = temp.PaletteSize() < source.PaletteSize() ? temp.PaletteSize() : source.PaletteSize();
  std::memcpy(to, from, size_t{4} * n);
  temp.info.lastColorValid = false;
}

// Cubic B-spline kernel of the bicubic resampling.
float CubicBSpline(float x);
