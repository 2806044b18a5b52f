// Alpha and selection planes (one byte per pixel, rows of exactly the width,
// bottom-up like the pixels) and pasting one image into another.
#include <cstdlib>
#include <cstring>

#include "imagelib/PxImage.h"

bool PxImage::CreateAlphaPlane() {
  size_t bytes = size_t{Width()} * Height();
  if (!dib || bytes == 0) return false;
  uint8_t* plane = static_cast<uint8_t*>(std::malloc(bytes));
  if (!plane) return false;
  std::memset(plane, 255, bytes);
  std::free(alpha);
  alpha = plane;
  return true;
}

void PxImage::DeleteAlphaPlane() {
  std::free(alpha);
  alpha = nullptr;
}

bool PxImage::CopyAlphaFrom(const PxImage& source) {
  if (Width() != source.Width() || Height() != source.Height() || !source.alpha) return false;
  size_t bytes = size_t{Width()} * Height();
  if (!alpha) {
    alpha = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!alpha) return false;
  }
  std::memcpy(alpha, source.alpha, bytes);
  info.alphaMax = source.info.alphaMax;
  return true;
}

bool PxImage::AlphaFromGrayImage(const PxImage& source) {
  // Only an 8-bit grey ramp has one byte per pixel to take over.
  if (!source.dib || source.Bpp() != 8 || !source.HasGrayPalette()) return false;
  if (Width() != source.Width() || Height() != source.Height()) return false;
  size_t bytes = size_t{Width()} * Height();
  if (!alpha) {
    alpha = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!alpha) return false;
  }
  for (uint32_t y = 0; y < Height(); ++y) {
    std::memcpy(alpha + size_t{y} * Width(), source.RowAt(y), Width());
  }
  return true;
}

bool PxImage::AlphaToGrayImage(PxImage* target) const {
  if (!target || !alpha) return false;
  PxImage gray;
  if (!gray.Create(Width(), Height(), 8, kFormatUnknown)) {
    const_cast<PxImage*>(this)->SetLastError(gray.LastError());
    return false;
  }
  for (uint32_t y = 0; y < Height(); ++y) {
    std::memcpy(gray.RowAt(y), alpha + size_t{y} * Width(), Width());
  }
  gray.MakeGrayPalette();
  return target->AdoptFrom(gray, false);
}

bool PxImage::FlipAlphaVertical() {
  if (!alpha) return false;
  const size_t width = Width();
  uint8_t* scratch = static_cast<uint8_t*>(std::malloc(width ? width : 1));
  if (!scratch) return false;
  for (uint32_t k = 0; k < Height() / 2; ++k) {
    uint8_t* a = alpha + size_t{k} * width;
    uint8_t* b = alpha + size_t{Height() - 1 - k} * width;
    std::memcpy(scratch, a, width);
    std::memcpy(a, b, width);
    std::memcpy(b, scratch, width);
  }
  std::free(scratch);
  return true;
}

bool PxImage::FlipAlphaHorizontal() {
  if (!alpha) return false;
  const size_t width = Width();
  size_t bytes = width * Height();
  uint8_t* plane = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  if (!plane) return false;
  for (uint32_t y = 0; y < Height(); ++y) {
    const uint8_t* src = alpha + size_t{y} * width;
    uint8_t* dst = plane + size_t{y} * width;
    for (size_t x = 0; x < width; ++x) dst[x] = src[width - 1 - x];
  }
  std::free(alpha);
  alpha = plane;
  return true;
}

bool PxImage::DeleteSelection() {
  std::free(selection);
  selection = nullptr;
  info.selectionLeft = static_cast<int32_t>(Width());
  info.selectionTop = 0;
  info.selectionRight = 0;
  info.selectionBottom = static_cast<int32_t>(Height());
  return true;
}

bool PxImage::CopySelectionFrom(const PxImage& source) {
  if (Width() != source.Width() || Height() != source.Height() || !source.selection) return false;
  size_t bytes = size_t{Width()} * Height();
  if (!selection) {
    selection = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!selection) return false;
  }
  std::memcpy(selection, source.selection, bytes);
  info.selectionLeft = source.info.selectionLeft;
  info.selectionTop = source.info.selectionTop;
  info.selectionRight = source.info.selectionRight;
  info.selectionBottom = source.info.selectionBottom;
  return true;
}

void PxImage::PasteImage(const PxImage& source, int32_t x, int32_t y) {
  if (!source.dib || !dib) return;
  const bool skipTransparent = source.info.backgroundIndex >= 0;
  const int32_t width = static_cast<int32_t>(source.Width());
  const int32_t height = static_cast<int32_t>(source.Height());
  for (int32_t j = 0; j < height; ++j) {
    int64_t ty = int64_t{y} + j;
    if (ty < 0 || ty >= int64_t{Height()}) continue;  // the whole row falls outside
    for (int32_t i = 0; i < width; ++i) {
      int64_t tx = int64_t{x} + i;
      if (tx < 0 || tx >= int64_t{Width()}) continue;
      if (skipTransparent && source.IsPixelTransparent(i, j)) continue;
      StorePixelColor(static_cast<int32_t>(tx), static_cast<int32_t>(ty), source.PixelColorAtUnchecked(i, j));
    }
  }
}
