// Depth transforms: raising and lowering the bit depth, and turning to grey.
#include <cstdlib>
#include <cstring>

#include "imagelib/PxImage.h"
#include "imagelib/TransformSupport.h"

namespace {
uint8_t ClampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
}  // namespace

bool PxImage::RaiseBitDepth(uint32_t target) {
  const uint32_t bpp = Bpp();
  if (target == 4) {
    if (bpp == 4) return true;
    if (bpp > 4) return false;
  } else if (target == 8) {
    if (bpp == 8) return true;
    if (bpp == 24) return false;
  } else if (target == 24) {
    if (bpp == 24) return true;
  } else {
    return false;
  }
  if (!dib) return false;
  PxImage temp;
  if (!StartTemporary(temp, *this, Width(), Height(), target)) {
    SetLastError(temp.LastError());
    return false;
  }
  const int32_t width = static_cast<int32_t>(Width());
  const int32_t height = static_cast<int32_t>(Height());
  if (target != 24) {
    CopyPaletteInto(temp, *this);
    if (selection) temp.CopySelectionFrom(*this);
    if (alpha) temp.CopyAlphaFrom(*this);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) temp.StorePixelIndexUnchecked(x, y, PixelIndexAtUnchecked(x, y));
    }
  } else {
    if (info.backgroundIndex >= 0) {
      uint8_t index = static_cast<uint8_t>(info.backgroundIndex & 0xFF);
      temp.info.backgroundColor = index < PaletteSize() ? PaletteData()[index] : RGBQUAD{0, 0, 0, 0};
    }
    if (selection) temp.CopySelectionFrom(*this);
    if (alpha) temp.CopyAlphaFrom(*this);
    if (PaletteHasAlpha() && !alpha && !temp.alpha) temp.CreateAlphaPlane();
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* dst = temp.RowAt(static_cast<uint32_t>(y));
      uint8_t* alphaRow = temp.alpha ? temp.alpha + size_t(y) * size_t(width) : nullptr;
      for (int32_t x = 0; x < width; ++x) {
        RGBQUAD c = PixelColorAtUnchecked(x, y);
        dst[3 * x] = c.rgbBlue;
        dst[3 * x + 1] = c.rgbGreen;
        dst[3 * x + 2] = c.rgbRed;
        if (alphaRow) alphaRow[x] = c.rgbReserved;
      }
    }
  }
  return AdoptFrom(temp, false);
}

bool PxImage::DecreaseBpp(uint32_t target, bool errorDiffusion) {
  if (!dib) return false;
  if (target > Bpp()) {
    SetLastError("DecreaseBpp: target BPP greater than source BPP");
    return false;
  }
  if (target == Bpp()) return true;
  if (target != 1 && target != 4 && target != 8) return false;
  PxImage temp;
  if (!StartTemporary(temp, *this, Width(), Height(), target)) {
    SetLastError(temp.LastError());
    return false;
  }
  if (selection) temp.CopySelectionFrom(*this);
  if (alpha) temp.CopyAlphaFrom(*this);
  temp.MakeStandardPalette();

  const int32_t width = static_cast<int32_t>(Width());
  const int32_t height = static_cast<int32_t>(Height());
  for (int32_t y = 0; y < height && info.escape == 0; ++y) {
    UpdateProgress(static_cast<int32_t>(int64_t{y} * 100 / height));
    for (int32_t x = 0; x < width; ++x) {
      RGBQUAD c = PixelColorAtUnchecked(x, y);
      uint8_t index = temp.NearestPaletteIndex(c);
      temp.StorePixelIndexUnchecked(x, y, index);
      if (!errorDiffusion) continue;
      RGBQUAD q = temp.PixelColorAtUnchecked(x, y);
      const int eR = int(c.rgbRed) - q.rgbRed;
      const int eG = int(c.rgbGreen) - q.rgbGreen;
      const int eB = int(c.rgbBlue) - q.rgbBlue;
      // The weights sum to 14/16: the spread was always a little damped.
      static const int kSpread[4][3] = {{1, 0, 7}, {-1, 1, 2}, {0, 1, 4}, {1, 1, 1}};
      for (const auto& s : kSpread) {
        const int32_t nx = x + s[0], ny = y + s[1];
        if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
        RGBQUAD n = PixelColorAt(nx, ny, true);
        n.rgbRed = ClampByte(n.rgbRed + s[2] * eR / 16);
        n.rgbGreen = ClampByte(n.rgbGreen + s[2] * eG / 16);
        n.rgbBlue = ClampByte(n.rgbBlue + s[2] * eB / 16);
        StorePixelColor(nx, ny, n);
      }
    }
  }
  return AdoptFrom(temp, false);
}

bool PxImage::ConvertToGray() {
  if (!dib) return false;
  const uint32_t width = Width();
  const uint32_t height = Height();
  if (Bpp() == 24) {
    PxImage temp;
    if (!StartTemporary(temp, *this, width, height, 8)) return false;
    temp.MakeGrayPalette();
    if (info.backgroundIndex >= 0) {
      const RGBQUAD& b = info.backgroundColor;
      temp.info.backgroundIndex = GrayLevel(b.rgbRed, b.rgbGreen, b.rgbBlue);
    }
    if (selection) temp.CopySelectionFrom(*this);
    if (alpha) temp.CopyAlphaFrom(*this);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* src = RowAt(y);
      uint8_t* dst = temp.RowAt(y);
      for (uint32_t x = 0; x < width; ++x, src += 3) dst[x] = GrayLevel(src[2], src[1], src[0]);
    }
    return AdoptFrom(temp, false);
  }

  RGBQUAD* pal = PaletteData();
  if (!pal) return false;
  uint8_t grey[256] = {};
  for (uint32_t i = 0; i < PaletteSize(); ++i) grey[i] = GrayLevel(pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue);
  // 1 and 4 bits need the 8-bit temporary first: a failure leaves the picture as it was.
  PxImage temp;
  if (Bpp() != 8 && !StartTemporary(temp, *this, width, height, 8)) return false;
  for (uint32_t i = 0; i < PaletteSize(); ++i) pal[i].rgbBlue = grey[i];
  if (info.backgroundIndex >= 0) {
    uint8_t index = static_cast<uint8_t>(info.backgroundIndex & 0xFF);
    if (index < PaletteSize()) info.backgroundIndex = grey[index];
  }
  if (Bpp() == 8) {
    uint8_t* rows = info.pixels;
    const size_t bytes = ImageBytes();
    for (size_t i = 0; i < bytes; ++i) rows[i] = grey[rows[i]];
    MakeGrayPalette();
    ResetNearestCache();  // the cached index belonged to the colour palette
    // Every level of the ramp is in use now, not just the colour palette's
    // first few entries; the nearest-colour search must see them all.
    SetImportantColors(0);
    return true;
  }
  temp.info.backgroundIndex = info.backgroundIndex;
  temp.MakeGrayPalette();
  if (selection) temp.CopySelectionFrom(*this);
  if (alpha) temp.CopyAlphaFrom(*this);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = temp.RowAt(y);
    for (uint32_t x = 0; x < width; ++x) {
      dst[x] = grey[PixelIndexAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(y))];
    }
  }
  return AdoptFrom(temp, false);
}
