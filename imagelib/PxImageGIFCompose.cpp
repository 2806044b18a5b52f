// Composing a frame whose colour table differs from the one the screen's
// earlier pixels were drawn with.
//
// Frames are normally composed on one palette canvas that takes each
// frame's palette. That is right as long as every pixel left from earlier
// frames reads the same colour through the new palette. A frame with its
// own colour table that leaves earlier pixels visible (a partial frame, or
// transparent holes) would show them in the wrong colours, so such a frame
// and every frame drawn over it are composed in true colour instead.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
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
  for (int32_t y = 0; y < h && !clash; ++y) {
    const uint8_t* p = screen.RowAt(static_cast<uint32_t>(y));
    const uint8_t* clear = &transparent[size_t(y) * size_t(w)];
    for (int32_t x = 0; x < w && !clash; ++x, p += 3)
      clash = !clear[x] && p[0] == preferred.rgbBlue && p[1] == preferred.rgbGreen && p[2] == preferred.rgbRed;
  }
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
// Looking at the whole screen counts as screen work: when the budget refuses
// it, the answer is false and the refusal is left for the caller to see.
bool PxImageGIF::PaletteOverlayKeepsColours(const PxImage& canvas, int32_t left, int32_t top) {
  const uint32_t size = canvas.PaletteSize();
  const uint32_t entries = PaletteSize() < size ? PaletteSize() : size;
  const int32_t background = m_fillIndex < static_cast<int32_t>(size) ? m_fillIndex : 0;
  const int32_t fw = static_cast<int32_t>(Width()), fh = static_cast<int32_t>(Height());
  // The screen's transparent index stays transparent on the canvas: a frame
  // whose own table gives that index an opaque colour (it has no
  // transparency, or another transparent index) cannot be drawn with it.
  if (background >= 0 && background != info.backgroundIndex) {
    for (int32_t r = 0; r < fh; ++r) {
      if (!FrameRowDrawn(r)) continue;
      for (int32_t x = 0; x < fw; ++x)
        if (PixelIndexAtUnchecked(x, fh - 1 - r) == background) return false;
    }
  }
  bool recoloured[256] = {};
  bool any = false;
  for (uint32_t i = 0; i < entries; ++i) {
    // Pixels of the transparent index stay transparent whatever its colour.
    if (static_cast<int32_t>(i) == background) continue;
    recoloured[i] = !SameRgb(canvas.PaletteData()[i], PaletteData()[i]);
    any = any || recoloured[i];
  }
  if (!any) return true;
  if (!SpendScreenWork(static_cast<double>(canvas.ImageBytes()))) return false;

  const int32_t sw = static_cast<int32_t>(canvas.Width()), sh = static_cast<int32_t>(canvas.Height());
  // Whether a pixel of the canvas would change colour: not when the frame
  // covers it with an opaque pixel, or when its index keeps its colour.
  auto changes = [&](int32_t x, int32_t r) {
    const bool inside = x >= left && x < left + fw && r >= top && r < top + fh && FrameRowDrawn(r - top);
    if (inside && PixelIndexAtUnchecked(x - left, fh - 1 - (r - top)) != info.backgroundIndex) return false;
    return recoloured[canvas.PixelIndexAtUnchecked(x, sh - 1 - r)];
  };
  // The screen is scanned a byte at a time: a byte none of whose pixels has
  // a recoloured index needs no closer look, so a large screen costs little.
  const uint32_t bpp = canvas.Bpp();
  const int32_t perByte = static_cast<int32_t>(8 / bpp);
  bool byteMayChange[256];
  for (uint32_t v = 0; v < 256; ++v) {
    bool hit = false;
    for (uint32_t shift = 0; shift < 8; shift += bpp) hit = hit || recoloured[(v >> shift) & ((1u << bpp) - 1)];
    byteMayChange[v] = hit;
  }
  const int32_t wholeBytes = sw / perByte;
  for (int32_t r = 0; r < sh; ++r) {
    const uint8_t* row = canvas.RowAt(static_cast<uint32_t>(sh - 1 - r));
    for (int32_t i = 0; i < wholeBytes; ++i) {
      if (!byteMayChange[row[i]]) continue;
      for (int32_t x = i * perByte; x < (i + 1) * perByte; ++x)
        if (changes(x, r)) return false;
    }
    for (int32_t x = wholeBytes * perByte; x < sw; ++x)
      if (changes(x, r)) return false;
  }
  return true;
}

// Draws this frame's opaque pixels on `canvas` (palette or true colour) in
// true colour and moves the resulting 24-bit screen into this object.
// Transparent pixels of the screen keep one transparent colour.
bool PxImageGIF::ComposeTrueColour(PxImage& canvas, int32_t left, int32_t top) {
  const int32_t sw = static_cast<int32_t>(canvas.Width()), sh = static_cast<int32_t>(canvas.Height());
  // A palette screen may be too large to hold in true colour: the picture
  // limit refuses it before anything the size of the screen is allocated.
  if (canvas.Bpp() != 24 && 3.0 * sw * sh > kPxImageMaxMemory) {
    SetLastError("PXIMAGE_MAX_MEMORY exceeded");
    return false;
  }
  // The screen in true colour and its map of transparent pixels, passed
  // over three times (made, searched for a free colour, cleared).
  if (!SpendScreenWork(12.0 * sw * sh)) return false;
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
    // Row by row through a colour table: a large screen must not cost a
    // checked pixel read and write per pixel for every frame.
    RGBQUAD colours[256] = {};
    for (int32_t i = 0; i < size && i < 256; ++i) colours[i] = canvas.PaletteData()[i];
    const uint32_t bpp = canvas.Bpp();
    for (int32_t y = 0; y < sh; ++y) {
      const uint8_t* src = canvas.RowAt(static_cast<uint32_t>(y));
      uint8_t* dst = screen.RowAt(static_cast<uint32_t>(y));
      uint8_t* clear = &transparent[size_t(y) * size_t(sw)];
      for (int32_t x = 0; x < sw; ++x) {
        const uint8_t index = bpp == 8   ? src[x]
                              : bpp == 4 ? static_cast<uint8_t>((x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4)
                                         : static_cast<uint8_t>((src[x >> 3] >> (7 - (x & 7))) & 1);
        clear[x] = background >= 0 && index == background;
        const RGBQUAD& c = colours[index];
        dst[3 * x] = c.rgbBlue;
        dst[3 * x + 1] = c.rgbGreen;
        dst[3 * x + 2] = c.rgbRed;
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
    if (!FrameRowDrawn(r)) continue;
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
    for (int32_t y = 0; y < sh; ++y) {
      uint8_t* p = screen.RowAt(static_cast<uint32_t>(y));
      const uint8_t* cleared = &transparent[size_t(y) * size_t(sw)];
      for (int32_t x = 0; x < sw; ++x, p += 3) {
        if (!cleared[x]) continue;
        p[0] = clear.rgbBlue;
        p[1] = clear.rgbGreen;
        p[2] = clear.rgbRed;
      }
    }
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

// ---- the true-colour screen of a file without a global colour table

// Applies the last frame's disposal to the screen before frame n is drawn,
// and keeps what frame n will cover when its own disposal restores it.
bool PxImageGIF::PrepareTrueColourScreen(int32_t n) {
  const int32_t sw = m_screenWidth, sh = m_screenHeight;
  if (n == 0 || !m_canvas24) {
    m_canvas24.reset(new (std::nothrow) PxImage());
    if (!m_canvas24) return false;
    if (!m_canvas24->Create(static_cast<uint32_t>(sw), static_cast<uint32_t>(sh), 24, kFormatGif)) {
      SetLastError(m_canvas24->LastError());
      return false;
    }
    if (!SpendScreenWork(4.0 * sw * sh)) return false;
    std::memset(m_canvas24->PixelRows(), 0, m_canvas24->ImageBytes());
    // As on a palette screen, the background is transparent when the first
    // frame has a transparent index, else black.
    m_clearIsTransparent = info.backgroundIndex >= 0;
    m_clear24.assign(size_t(sw) * size_t(sh), m_clearIsTransparent ? 1 : 0);
  } else if (m_previousDisposal == 2 || m_previousDisposal == 3) {
    const bool restore = m_previousDisposal == 3 && !m_saved24.empty();
    if (!SpendScreenWork(4.0 * m_lastWidth * m_lastHeight)) return false;
    const size_t rowBytes = 3 * size_t(m_lastWidth);
    for (int32_t r = 0; r < m_lastHeight; ++r) {
      const int32_t y = sh - 1 - (m_lastTop + r);
      uint8_t* pixels = m_canvas24->RowAt(static_cast<uint32_t>(y)) + 3 * size_t(m_lastLeft);
      uint8_t* clear = &m_clear24[size_t(y) * size_t(sw) + size_t(m_lastLeft)];
      if (restore) {
        std::memcpy(pixels, &m_saved24[size_t(r) * rowBytes], rowBytes);
        std::memcpy(clear, &m_savedClear24[size_t(r) * size_t(m_lastWidth)], size_t(m_lastWidth));
      } else {
        std::memset(pixels, 0, rowBytes);
        std::memset(clear, m_clearIsTransparent ? 1 : 0, size_t(m_lastWidth));
      }
    }
  }
  m_saved24.clear();
  m_savedClear24.clear();
  return true;
}

// Draws the opaque pixels of the rows this frame's data reached; before
// that, keeps what they cover when the frame's disposal will restore it.
bool PxImageGIF::DrawOnTrueColourScreen(int32_t left, int32_t top) {
  const int32_t fw = static_cast<int32_t>(Width()), fh = static_cast<int32_t>(Height());
  const int32_t sw = m_screenWidth, sh = m_screenHeight;
  if (info.disposal == 3) {
    if (!SpendScreenWork(4.0 * fw * fh)) return false;
    const size_t rowBytes = 3 * size_t(fw);
    m_saved24.resize(rowBytes * size_t(fh));
    m_savedClear24.resize(size_t(fw) * size_t(fh));
    for (int32_t r = 0; r < fh; ++r) {
      const int32_t y = sh - 1 - (top + r);
      std::memcpy(&m_saved24[size_t(r) * rowBytes], m_canvas24->RowAt(static_cast<uint32_t>(y)) + 3 * size_t(left),
                  rowBytes);
      std::memcpy(&m_savedClear24[size_t(r) * size_t(fw)], &m_clear24[size_t(y) * size_t(sw) + size_t(left)],
                  size_t(fw));
    }
  }
  for (int32_t r = 0; r < fh; ++r) {
    if (!FrameRowDrawn(r)) continue;
    const int32_t y = fh - 1 - r, sy = sh - 1 - (top + r);
    uint8_t* clear = &m_clear24[size_t(sy) * size_t(sw) + size_t(left)];
    for (int32_t x = 0; x < fw; ++x) {
      if (PixelIndexAtUnchecked(x, y) == info.backgroundIndex) continue;
      m_canvas24->StorePixelColor(left + x, sy, PixelColorAt(x, y, false));
      clear[x] = 0;
    }
  }
  return true;
}

// A copy of the true-colour screen whose transparent pixels all show one
// colour no opaque pixel has: the screen's transparent colour.
bool PxImageGIF::FinishTrueColourScreen(PxImage& out) const {
  if (!m_canvas24 || !out.AdoptFrom(*std::make_unique<PxImage>(*m_canvas24, true), false) || !out.HasPixels()) {
    return false;
  }
  out.info.backgroundIndex = -1;
  out.info.backgroundColor = RGBQUAD{0, 0, 0, 0};
  if (std::find(m_clear24.begin(), m_clear24.end(), 1) == m_clear24.end()) return true;
  RGBQUAD preferred{0, 0, 0, 0};
  if (info.backgroundIndex >= 0 && static_cast<uint32_t>(info.backgroundIndex) < PaletteSize()) {
    preferred = PaletteData()[info.backgroundIndex];
  }
  preferred.rgbReserved = 0;
  const RGBQUAD clear = FreeColour(out, m_clear24, preferred);
  const int32_t sw = static_cast<int32_t>(out.Width()), sh = static_cast<int32_t>(out.Height());
  for (int32_t y = 0; y < sh; ++y)
    for (int32_t x = 0; x < sw; ++x)
      if (m_clear24[size_t(y) * size_t(sw) + size_t(x)]) out.StorePixelColor(x, y, clear);
  out.info.backgroundIndex = 0;
  out.info.backgroundColor = clear;
  out.info.lastColorValid = false;
  return true;
}
