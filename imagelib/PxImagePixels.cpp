// Pixel and palette access on the bottom-up rows of the DIB block.
#include <cstdlib>
#include <cstring>

#include "imagelib/PxImage.h"
#include "imagelib/StandardPalette.h"

RGBQUAD* PxImage::PaletteData() const {
  if (!dib || PaletteSize() == 0) return nullptr;
  return reinterpret_cast<RGBQUAD*>(dib + kInfoHeaderBytes);
}

// ---------------------------------------------------------------- pixels

uint8_t PxImage::PixelIndexAtUnchecked(int32_t x, int32_t y) const {
  const uint8_t* row = RowAt(static_cast<uint32_t>(y));
  switch (Bpp()) {
    case 8: return row[x];
    case 4: {
      uint8_t b = row[x >> 1];
      return (x & 1) ? (b & 0x0F) : (b >> 4);
    }
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default: return 0;
  }
}

uint8_t PxImage::PixelIndexAt(int32_t x, int32_t y) const {
  if (!dib || PaletteSize() == 0) return 0;
  if (!InBounds(x, y)) {
    if (info.backgroundIndex >= 0) return static_cast<uint8_t>(info.backgroundIndex & 0xFF);
    return info.pixels[0];
  }
  return PixelIndexAtUnchecked(x, y);
}

RGBQUAD PxImage::PixelColorAtUnchecked(int32_t x, int32_t y) const {
  RGBQUAD c{0, 0, 0, 0};
  if (PaletteSize() > 0) {
    uint8_t index = PixelIndexAtUnchecked(x, y);
    if (index < PaletteSize()) c = PaletteData()[index];
  } else {
    const uint8_t* px = RowAt(static_cast<uint32_t>(y)) + 3 * size_t(x);
    c.rgbBlue = px[0];
    c.rgbGreen = px[1];
    c.rgbRed = px[2];
  }
  if (alpha) c.rgbReserved = alpha[size_t(y) * Width() + size_t(x)];
  return c;
}

RGBQUAD PxImage::PixelColorAt(int32_t x, int32_t y, bool withAlpha) const {
  if (dib && InBounds(x, y)) {
    RGBQUAD c{0, 0, 0, 0};
    if (PaletteSize() > 0) {
      uint8_t index = PixelIndexAtUnchecked(x, y);
      if (index < PaletteSize()) c = PaletteData()[index];
    } else {
      const uint8_t* px = RowAt(static_cast<uint32_t>(y)) + 3 * size_t(x);
      c.rgbBlue = px[0];
      c.rgbGreen = px[1];
      c.rgbRed = px[2];
      c.rgbReserved = info.backgroundColor.rgbReserved;
    }
    if (alpha && withAlpha) c.rgbReserved = alpha[size_t(y) * Width() + size_t(x)];
    return c;
  }
  if (info.backgroundIndex < 0) {
    if (dib) return PixelColorAt(0, 0, true);
    return info.backgroundColor;
  }
  if (Bpp() == 24) return info.backgroundColor;
  uint8_t index = static_cast<uint8_t>(info.backgroundIndex & 0xFF);
  if (dib && index < PaletteSize()) return PaletteData()[index];
  return RGBQUAD{0, 0, 0, 0};
}

void PxImage::StorePixelIndexUnchecked(int32_t x, int32_t y, uint8_t index) {
  uint8_t* row = RowAt(static_cast<uint32_t>(y));
  switch (Bpp()) {
    case 8: row[x] = index; break;
    case 4: {
      uint8_t& b = row[x >> 1];
      if (x & 1) b = static_cast<uint8_t>((b & 0xF0) | (index & 0x0F));
      else b = static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    case 1: {
      uint8_t& b = row[x >> 3];
      uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
      b = (index & 1) ? (b | mask) : (b & ~mask);
      break;
    }
    default: break;
  }
}

void PxImage::StorePixelIndex(int32_t x, int32_t y, uint8_t index) {
  if (!dib || PaletteSize() == 0 || !InBounds(x, y)) return;
  StorePixelIndexUnchecked(x, y, index);
}

void PxImage::StorePixelColor(int32_t x, int32_t y, RGBQUAD color) {
  if (!dib || !InBounds(x, y)) return;
  if (PaletteSize() > 0) {
    StorePixelIndexUnchecked(x, y, NearestPaletteIndex(color));
  } else {
    uint8_t* px = RowAt(static_cast<uint32_t>(y)) + 3 * size_t(x);
    px[0] = color.rgbBlue;
    px[1] = color.rgbGreen;
    px[2] = color.rgbRed;
  }
}

bool PxImage::IsPixelTransparent(int32_t x, int32_t y) const {
  if (!dib) return false;
  if (info.backgroundIndex >= 0) {
    if (PaletteSize() > 0) {
      if (PixelIndexAt(x, y) == static_cast<uint8_t>(info.backgroundIndex)) return true;
    } else if (SameQuad(PixelColorAt(x, y, false), info.backgroundColor)) {
      return true;
    }
  }
  if (alpha) return !InBounds(x, y) || alpha[size_t(y) * Width() + size_t(x)] == 0;
  return false;
}

void PxImage::SwapRedBlue(uint8_t* row, int64_t length) const {
  if (!row || PaletteSize() > 0 || length <= 0) return;
  int64_t limit = length;
  if (limit > int64_t{info.rowStride}) limit = info.rowStride;
  if (limit > 3 * int64_t{Width()}) limit = 3 * int64_t{Width()};
  for (int64_t i = 0; i + 2 < limit; i += 3) {
    uint8_t t = row[i];
    row[i] = row[i + 2];
    row[i + 2] = t;
  }
}

void PxImage::SwapRedBlueAll() {
  if (!dib) return;
  if (PaletteSize() > 0) {
    RGBQUAD* pal = PaletteData();
    for (uint32_t i = 0; i < PaletteSize(); ++i) {
      uint8_t t = pal[i].rgbBlue;
      pal[i].rgbBlue = pal[i].rgbRed;
      pal[i].rgbRed = t;
    }
    return;
  }
  for (uint32_t y = 0; y < Height(); ++y) SwapRedBlue(RowAt(y), info.rowStride);
}

// ---------------------------------------------------------------- palette

void PxImage::StorePaletteEntry(uint8_t index, uint8_t red, uint8_t green, uint8_t blue) {
  if (!dib || index >= PaletteSize()) return;
  PaletteData()[index] = RGBQUAD{blue, green, red, 0};
  ResetNearestCache();
}

void PxImage::StorePaletteQuad(uint8_t index, uint8_t blue, uint8_t green, uint8_t red, uint8_t reserved) {
  if (!dib || index >= PaletteSize()) return;
  PaletteData()[index] = RGBQUAD{blue, green, red, reserved};
  ResetNearestCache();
}

void PxImage::LoadPaletteFromArrays(uint32_t count, const uint8_t* red, const uint8_t* green,
                                    const uint8_t* blue) {
  if (!red || !dib || PaletteSize() == 0) return;
  if (!green) green = red;
  if (!blue) blue = green;
  RGBQUAD* pal = PaletteData();
  for (uint32_t i = 0; i < count && i < PaletteSize(); ++i) {
    pal[i].rgbRed = red[i];
    pal[i].rgbGreen = green[i];
    pal[i].rgbBlue = blue[i];
  }
  ResetNearestCache();
}

void PxImage::LoadPaletteFromTriples(const uint8_t* triples, uint32_t count) {
  if (!triples || !dib || PaletteSize() == 0) return;
  RGBQUAD* pal = PaletteData();
  for (uint32_t i = 0; i < count && i < PaletteSize(); ++i) {
    pal[i].rgbRed = triples[3 * i];
    pal[i].rgbGreen = triples[3 * i + 1];
    pal[i].rgbBlue = triples[3 * i + 2];
  }
  ResetNearestCache();
}

void PxImage::LoadPalette(const RGBQUAD* palette, uint32_t count) {
  if (!palette || !dib || PaletteSize() == 0) return;
  uint32_t entries = count < PaletteSize() ? count : PaletteSize();
  std::memcpy(PaletteData(), palette, size_t{4} * entries);
  ResetNearestCache();
}

void PxImage::MakeGrayPalette() {
  if (!dib || PaletteSize() == 0) return;
  RGBQUAD* pal = PaletteData();
  uint32_t step = 255 / (PaletteSize() - 1);
  for (uint32_t i = 0; i < PaletteSize(); ++i) {
    uint8_t v = static_cast<uint8_t>(i * step);
    pal[i].rgbBlue = pal[i].rgbGreen = pal[i].rgbRed = v;
  }
}

bool PxImage::HasGrayPalette() const {
  const RGBQUAD* pal = PaletteData();
  if (!pal) return false;
  for (uint32_t i = 0; i < PaletteSize(); ++i) {
    if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i) return false;
  }
  return true;
}

bool PxImage::PaletteHasAlpha() const {
  const RGBQUAD* pal = PaletteData();
  if (!pal) return false;
  for (uint32_t i = 0; i < PaletteSize(); ++i) {
    if (pal[i].rgbReserved != 0) return true;
  }
  return false;
}

void PxImage::MakeStandardPalette() {
  ResetNearestCache();
  RGBQUAD* pal = PaletteData();
  if (!pal) return;
  const uint8_t(*table)[3] = Bpp() == 1 ? kStandardPalette1 : Bpp() == 4 ? kStandardPalette4 : kStandardPalette8;
  for (uint32_t i = 0; i < PaletteSize(); ++i) {
    pal[i] = RGBQUAD{table[i][2], table[i][1], table[i][0], 0};
  }
}

void PxImage::SetImportantColors(uint32_t count) {
  if (count >= 257) {
    header.biClrImportant = 0;
    return;
  }
  switch (Bpp()) {
    case 1: header.biClrImportant = count < 2 ? count : 2; break;
    case 4: header.biClrImportant = count < 16 ? count : 16; break;
    case 8: header.biClrImportant = count; break;
    default: break;
  }
}

uint8_t PxImage::NearestPaletteIndex(RGBQUAD color) {
  const RGBQUAD* pal = PaletteData();
  if (!pal) return 0;
  if (info.lastColorValid && SameQuad(info.lastColor, color)) return info.lastColorIndex;
  info.lastColor = color;
  info.lastColorValid = true;
  uint32_t n = PaletteSize();
  if (header.biClrImportant != 0 && header.biClrImportant < n) n = header.biClrImportant;
  int64_t best = 200000;
  uint8_t bestIndex = 0;
  for (uint32_t i = 0; i < n; ++i) {
    int64_t db = int64_t{pal[i].rgbBlue} - color.rgbBlue;
    int64_t dg = int64_t{pal[i].rgbGreen} - color.rgbGreen;
    int64_t dr = int64_t{pal[i].rgbRed} - color.rgbRed;
    int64_t d = db * db + dg * dg + dr * dr;
    if (d == 0) {
      bestIndex = static_cast<uint8_t>(i);
      break;
    }
    if (d < best) {
      best = d;
      bestIndex = static_cast<uint8_t>(i);
    }
  }
  info.lastColorIndex = bestIndex;
  return bestIndex;
}

void PxImage::SwapPaletteIndices(uint8_t a, uint8_t b) {
  RGBQUAD* pal = PaletteData();
  if (!pal) return;
  RGBQUAD zero{0, 0, 0, 0};
  RGBQUAD ca = a < PaletteSize() ? pal[a] : zero;
  RGBQUAD cb = b < PaletteSize() ? pal[b] : zero;
  if (a < PaletteSize()) pal[a] = cb;
  if (b < PaletteSize()) pal[b] = ca;
  ResetNearestCache();
  const int32_t width = static_cast<int32_t>(Width());
  for (uint32_t y = 0; y < Height(); ++y) {
    if (Bpp() == 8) {
      uint8_t* row = RowAt(y);
      for (int32_t x = 0; x < width; ++x) {
        if (row[x] == a) row[x] = b;
        else if (row[x] == b) row[x] = a;
      }
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      uint8_t v = PixelIndexAtUnchecked(x, static_cast<int32_t>(y));
      if (v == a) StorePixelIndexUnchecked(x, static_cast<int32_t>(y), b);
      else if (v == b) StorePixelIndexUnchecked(x, static_cast<int32_t>(y), a);
    }
  }
}
