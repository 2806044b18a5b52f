// Composing a frame whose colour table differs from the one the screen's
// earlier pixels were drawn with.
//
// Frames are normally composed on one palette canvas that takes each
// frame's palette. That is right as long as every pixel left from earlier
// frames reads the same colour through the new palette. A frame with its
// own colour table that leaves earlier pixels visible (a partial frame, or
// transparent holes) would show them in the wrong colours, so such a frame
// and every frame drawn over it are composed in true colour instead.
#include <cstring>
#include <vector>

#include "imagelib/PxImageGIF.h"

namespace {

bool SameRgb(const RGBQUAD& a, const RGBQUAD& b) {
  return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

uint32_t RgbKey(const RGBQUAD& c) {
  return (uint32_t{c.rgbRed} << 16) | (uint32_t{c.rgbGreen} << 8) | c.rgbBlue;
}

// The transparent pixels of a true-colour screen are those of its
// transparent colour, so that colour must not be one an opaque pixel shows.
// Returns `preferred` when it is free, else the next colour no opaque pixel
// uses (a screen has fewer pixels than there are colours).
RGBQUAD FreeColour(const PxImage& screen, const std::vector<uint8_t>& transparent, RGBQUAD preferred) {
  const int32_t w = static_cast<int32_t>(screen.Width()), h = static_cast<int32_t>(screen.Height());
  bool clash = false;
  for (int32_t y = 0; y < h && !clash; ++y)
    for (int32_t x = 0; x < w && !clash; ++x)
      clash = !transparent[size_t(y) * size_t(w) + size_t(x)] && SameRgb(screen.PixelColorAt(x, y, false), preferred);
  if (!clash) return preferred;
  std::vector<bool> used(size_t{1} << 24);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if (!transparent[size_t(y) * size_t(w) + size_t(x)]) used[RgbKey(screen.PixelColorAt(x, y, false))] = true;
  uint32_t key = RgbKey(preferred);
  while (used[key]) key = (key + 1) & 0xFFFFFF;
  return RGBQUAD{uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16), 0};
}

}  // namespace

// This object holds the decoded frame; `canvas` is the palette screen it is
// about to be drawn on, already at least as deep as the frame.
bool PxImageGIF::PaletteOverlayKeepsColours(const PxImage& canvas, int32_t left, int32_t top) const {
  const uint32_t size = canvas.PaletteSize();
  const uint32_t entries = PaletteSize() < size ? PaletteSize() : size;
  const int32_t background = m_fillIndex < static_cast<int32_t>(size) ? m_fillIndex : 0;
  bool recoloured[256] = {};
  bool any = false;
  for (uint32_t i = 0; i < entries; ++i) {
    // Pixels of the transparent index stay transparent whatever its colour.
    if (static_cast<int32_t>(i) == background) continue;
    recoloured[i] = !SameRgb(canvas.PaletteData()[i], PaletteData()[i]);
    any = any || recoloured[i];
  }
  if (!any) return true;

  const int32_t fw = static_cast<int32_t>(Width()), fh = static_cast<int32_t>(Height());
  const int32_t sw = static_cast<int32_t>(canvas.Width()), sh = static_cast<int32_t>(canvas.Height());
  for (int32_t r = 0; r < sh; ++r) {
    for (int32_t x = 0; x < sw; ++x) {
      const bool inside = x >= left && x < left + fw && r >= top && r < top + fh;
      if (inside && PixelIndexAtUnchecked(x - left, fh - 1 - (r - top)) != info.backgroundIndex) continue;
      if (recoloured[canvas.PixelIndexAtUnchecked(x, sh - 1 - r)]) return false;
    }
  }
  return true;
}

// Draws this frame's opaque pixels on `canvas` (palette or true colour) in
// true colour and moves the resulting 24-bit screen into this object.
// Transparent pixels of the screen keep one transparent colour.
bool PxImageGIF::ComposeTrueColour(PxImage& canvas, int32_t left, int32_t top) {
  const int32_t sw = static_cast<int32_t>(canvas.Width()), sh = static_cast<int32_t>(canvas.Height());
  std::vector<uint8_t> transparent(size_t(sw) * size_t(sh));
  PxImage screen;
  int32_t background = -1;
  RGBQUAD preferred{0, 0, 0, 0};
  if (canvas.PaletteSize() > 0) {
    const int32_t size = static_cast<int32_t>(canvas.PaletteSize());
    background = m_fillIndex < size ? m_fillIndex : 0;
    if (background >= 0) preferred = canvas.PaletteData()[background];
    if (!screen.Create(canvas.Width(), canvas.Height(), 24, kFormatGif)) {
      SetLastError(screen.LastError());
      return false;
    }
    for (int32_t y = 0; y < sh; ++y) {
      for (int32_t x = 0; x < sw; ++x) {
        const uint8_t index = canvas.PixelIndexAtUnchecked(x, y);
        transparent[size_t(y) * size_t(sw) + size_t(x)] = background >= 0 && index == background;
        screen.StorePixelColor(x, y, canvas.PixelColorAt(x, y, false));
      }
    }
  } else {
    background = canvas.info.backgroundIndex >= 0 ? 0 : -1;
    preferred = canvas.info.backgroundColor;
    for (int32_t y = 0; y < sh; ++y)
      for (int32_t x = 0; x < sw; ++x)
        transparent[size_t(y) * size_t(sw) + size_t(x)] = background >= 0 && canvas.IsPixelTransparent(x, y);
    if (!screen.AdoptFrom(canvas, false)) {
      SetLastError(screen.LastError());
      return false;
    }
  }
  preferred.rgbReserved = 0;

  const int32_t fw = static_cast<int32_t>(Width()), fh = static_cast<int32_t>(Height());
  for (int32_t r = 0; r < fh; ++r) {
    for (int32_t x = 0; x < fw; ++x) {
      const int32_t y = fh - 1 - r;
      if (PixelIndexAtUnchecked(x, y) == info.backgroundIndex) continue;
      const int32_t sy = sh - 1 - (top + r);
      screen.StorePixelColor(left + x, sy, PixelColorAt(x, y, false));
      transparent[size_t(sy) * size_t(sw) + size_t(left + x)] = 0;
    }
  }

  RGBQUAD clear{0, 0, 0, 0};
  if (background >= 0) {
    clear = FreeColour(screen, transparent, preferred);
    for (int32_t y = 0; y < sh; ++y)
      for (int32_t x = 0; x < sw; ++x)
        if (transparent[size_t(y) * size_t(sw) + size_t(x)]) screen.StorePixelColor(x, y, clear);
  }

  const ImageInfoBlock kept = info;
  if (!AdoptFrom(screen, false)) return false;
  const uint32_t stride = info.rowStride;
  uint8_t* pixels = info.pixels;
  info = kept;
  info.rowStride = stride;
  info.pixels = pixels;
  info.backgroundIndex = background >= 0 ? 0 : -1;
  info.backgroundColor = clear;
  info.lastColorValid = false;
  return true;
}
