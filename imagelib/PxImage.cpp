// Container core: construction, creation within the memory limit, copying,
// adopting and borrowing, release, resolution and header helpers.
#include "imagelib/PxImage.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagelib/WidenToByte.h"
#include "platform/byteorder.h"

namespace {

uint32_t RoundDepth(uint32_t bpp) {
  if (bpp <= 1) return 1;
  if (bpp <= 4) return 4;
  if (bpp <= 8) return 8;
  return 24;
}

uint32_t PaletteSizeForDepth(uint32_t bpp) {
  switch (bpp) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

// A file may claim any resolution; what does not fit the signed header
// field is capped instead of converted out of range.
int32_t PelsPerMeter(int32_t dpi) {
  const double ppm = std::floor(dpi * 10000.0 / 254.0 + 0.5);
  return ppm >= double{INT32_MAX} ? INT32_MAX : static_cast<int32_t>(ppm);
}

uint8_t* CopyPlane(const uint8_t* plane, size_t bytes) {
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  if (copy && bytes) std::memcpy(copy, plane, bytes);
  return copy;
}

}  // namespace

PxImage::PxImage() { InitDefaults(kFormatUnknown); }

PxImage::PxImage(uint32_t width, uint32_t height, uint32_t bpp, ImageFormatId formatId) {
  InitDefaults(formatId);
  Create(width, height, bpp, formatId);
}

PxImage::PxImage(const PxImage& source, bool copyPixels) {
  InitDefaults(source.info.formatId);
  CopyFrom(source, copyPixels, true, true);
}

PxImage::~PxImage() {
  ReleaseFrames();
  ReleaseBuffers();
}

bool PxImage::StopRequested() const {
  if (info.escape > 0 || info.escape < -1) return true;
  if (!callerEscape) return false;
  const int32_t escape = std::atomic_ref<int32_t>(*callerEscape).load(std::memory_order_relaxed);
  return escape > 0 || escape < -1;
}

void PxImage::InitDefaults(ImageFormatId formatId) {
  dib = nullptr;
  selection = nullptr;
  alpha = nullptr;
  frames = nullptr;
  frameListSize = 0;
  std::memset(&header, 0, sizeof header);
  std::memset(&info, 0, sizeof info);
  info.formatId = formatId;
  info.jpegQuality = 90.0f;
  info.alphaMax = 255;
  info.backgroundIndex = -1;
  info.jpegScale = 1;
  info.xDpi = 96;
  info.yDpi = 96;
  header.biXPelsPerMeter = PelsPerMeter(96);
  header.biYPelsPerMeter = PelsPerMeter(96);
  info.littleEndianHost = true;
}

void PxImage::SetLastError(const char* text) {
  if (!text || !*text || text == info.lastError) return;
  std::strncpy(info.lastError, text, kLastErrorSize - 1);
  info.lastError[kLastErrorSize - 1] = '\0';
}

bool PxImage::CanEncodeTo(const PxFile* file) {
  if (!file) {
    SetLastError("null file handler");
    return false;
  }
  if (!HasPixels()) {
    SetLastError("null image!!!");
    return false;
  }
  return true;
}

uint32_t PxImage::PaletteSize() const { return PaletteSizeForDepth(header.biBitCount); }

bool PxImage::FitsMemoryLimit(uint32_t width, uint32_t height, uint32_t bpp) {
  bpp = RoundDepth(bpp);
  // The limit is judged in single precision, as it always was; the exact
  // 64-bit block size is checked as well so no rounding lets a larger block
  // (or a size that does not fit the 32-bit header fields) through.
  const float estimate = static_cast<float>(width) * static_cast<float>(height) * static_cast<float>(bpp) * 0.125f;
  const uint64_t stride64 = ((uint64_t{width} * bpp + 31) / 32) * 4;
  const uint64_t bytes64 = stride64 * height;
  return !(estimate > kPxImageMaxMemory || bytes64 > kPxImageMaxBytes || width > INT32_MAX || height > INT32_MAX);
}

uint8_t* PxImage::Create(uint32_t width, uint32_t height, uint32_t bpp, ImageFormatId formatId) {
  if (!ReleaseBuffers()) return nullptr;
  if (width == 0 || height == 0) {
    SetLastError("PxImage::Create : width and height must be greater than zero");
    return nullptr;
  }
  bpp = RoundDepth(bpp);
  if (!FitsMemoryLimit(width, height, bpp)) {
    SetLastError("PXIMAGE_MAX_MEMORY exceeded");
    return nullptr;
  }
  const uint64_t stride64 = ((uint64_t{width} * bpp + 31) / 32) * 4;
  const uint64_t bytes64 = stride64 * height;
  uint32_t paletteSize = PaletteSizeForDepth(bpp);
  header.biClrUsed = paletteSize;
  header.biHeight = static_cast<int32_t>(height);
  info.formatId = formatId;
  header.biWidth = static_cast<int32_t>(width);
  header.biSize = kInfoHeaderBytes;
  header.biPlanes = 1;
  header.biBitCount = static_cast<uint16_t>(bpp);
  header.biCompression = 0;
  info.rowStride = static_cast<uint32_t>(stride64);
  header.biSizeImage = static_cast<uint32_t>(bytes64);
  info.pixels = nullptr;

  // Zeroed, so rows a reader never fills are black rather than leftover memory.
  size_t total = kInfoHeaderBytes + size_t{4} * paletteSize + static_cast<size_t>(bytes64);
  dib = static_cast<uint8_t*>(std::calloc(total, 1));
  if (!dib) {
    SetLastError("PxImage::Create can't allocate memory");
    return nullptr;
  }
  StoreInfoHeader(header, dib);
  info.pixels = dib + kInfoHeaderBytes + size_t{4} * paletteSize;
  return dib;
}

bool PxImage::ReleaseBuffers() {
  if (IsBorrowed()) return false;
  std::free(selection);
  std::free(alpha);
  std::free(dib);
  selection = nullptr;
  alpha = nullptr;
  dib = nullptr;
  info.pixels = nullptr;
  return true;
}

bool PxImage::ReleaseFrames() {
  if (IsBorrowed()) return false;
  if (!frames) return true;
  for (int32_t i = 0; i < frameListSize; ++i) delete frames[i];
  delete[] frames;
  frames = nullptr;
  frameListSize = 0;
  info.frameCount = 0;
  return true;
}

void PxImage::CopyFrom(const PxImage& source, bool copyPixels, bool copySelection, bool copyAlpha) {
  if (&source == this) return;
  if (source.IsBorrowed()) {
    BorrowFrom(const_cast<PxImage&>(source));
    return;
  }
  // A borrowed image cannot take a copy: taking over the source's record would
  // make it believe it owns its owner's buffers.
  if (IsBorrowed()) return;
  std::memcpy(&info, &source.info, sizeof info);
  header = source.header;
  info.pixels = nullptr;
  Create(source.Width(), source.Height(), source.Bpp(), source.info.formatId);

  if (copyPixels && dib && source.dib) {
    std::memcpy(dib, source.dib, kInfoHeaderBytes + size_t{4} * PaletteSize() + ImageBytes());
  } else if (dib && source.dib && source.PaletteSize() > 0) {
    uint32_t entries = PaletteSize() < source.PaletteSize() ? PaletteSize() : source.PaletteSize();
    std::memcpy(PaletteData(), source.PaletteData(), size_t{4} * entries);
    ResetNearestCache();
  }
  size_t planeBytes = size_t{Width()} * Height();
  if (copySelection && source.selection && dib) {
    std::free(selection);
    selection = CopyPlane(source.selection, planeBytes);
  }
  if (copyAlpha && source.alpha && dib) {
    std::free(alpha);
    alpha = CopyPlane(source.alpha, planeBytes);
  }
}

bool PxImage::AdoptFrom(PxImage& source, bool takeFrames) {
  if (&source == this) return true;
  // Taking buffers from a borrowed image would free its owner's memory twice.
  if (source.IsBorrowed()) return false;
  if (!ReleaseBuffers()) return false;
  header = source.header;
  std::memcpy(&info, &source.info, sizeof info);
  dib = source.dib;
  selection = source.selection;
  alpha = source.alpha;
  std::memset(&source.header, 0, sizeof source.header);
  std::memset(&source.info, 0, sizeof source.info);
  source.dib = nullptr;
  source.selection = nullptr;
  source.alpha = nullptr;
  if (takeFrames) {
    if (frames) ReleaseFrames();
    frames = source.frames;
    frameListSize = source.frameListSize;
    source.frames = nullptr;
    source.frameListSize = 0;
  }
  return true;
}

void PxImage::BorrowFrom(PxImage& source) {
  if (&source == this) return;
  // What this image owned would otherwise leak: a borrower keeps nothing of its own.
  ReleaseFrames();
  ReleaseBuffers();
  header = source.header;
  std::memcpy(&info, &source.info, sizeof info);
  dib = source.dib;
  selection = source.selection;
  alpha = source.alpha;
  frames = source.frames;
  frameListSize = source.frameListSize;
  info.owner = &source;
}

void PxImage::SetHorizontalDpi(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info.xDpi = dpi;
  header.biXPelsPerMeter = PelsPerMeter(dpi);
  if (dib) pw::StoreLE32(dib + 24, static_cast<uint32_t>(header.biXPelsPerMeter));
}

void PxImage::SetVerticalDpi(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info.yDpi = dpi;
  header.biYPelsPerMeter = PelsPerMeter(dpi);
  if (dib) pw::StoreLE32(dib + 28, static_cast<uint32_t>(header.biYPelsPerMeter));
}

namespace {

// The dpi of a density per metre, rounded; 0 (the default) for a value
// beyond the field or not a number.
int32_t DpiFromPelsPerMeter(double perMetre) {
  const double dpi = perMetre * 0.0254;
  if (!(dpi >= 0.0 && dpi < 2147483647.0)) return 0;
  return static_cast<int32_t>(std::floor(dpi + 0.5));
}

// The stated pixels per metre as the header stores them; 0 when they do not
// fit (then the dpi's own value stands).
int32_t ExactPelsPerMeter(double perMetre) {
  const double rounded = std::floor(perMetre + 0.5);
  return rounded >= 1.0 && rounded < 2147483647.0 ? static_cast<int32_t>(rounded) : 0;
}

}  // namespace

void PxImage::SetHorizontalPelsPerMeter(double perMetre) {
  const int32_t dpi = DpiFromPelsPerMeter(perMetre);
  SetHorizontalDpi(dpi);
  const int32_t exact = ExactPelsPerMeter(perMetre);
  if (dpi <= 0 || exact == 0) return;
  header.biXPelsPerMeter = exact;
  if (dib) pw::StoreLE32(dib + 24, static_cast<uint32_t>(exact));
}

void PxImage::SetVerticalPelsPerMeter(double perMetre) {
  const int32_t dpi = DpiFromPelsPerMeter(perMetre);
  SetVerticalDpi(dpi);
  const int32_t exact = ExactPelsPerMeter(perMetre);
  if (dpi <= 0 || exact == 0) return;
  header.biYPelsPerMeter = exact;
  if (dib) pw::StoreLE32(dib + 28, static_cast<uint32_t>(exact));
}

RGBQUAD PxImage::TransparentColor() const {
  if (info.backgroundIndex < 0) return info.backgroundColor;
  uint8_t index = static_cast<uint8_t>(info.backgroundIndex & 0xFF);
  if (dib && index < PaletteSize()) return PaletteData()[index];
  return RGBQUAD{0, 0, 0, 0};
}

namespace {

// One colour field of a bit-field pixel: where its lowest bit is and how
// many bits it spans.
struct BitField {
  uint32_t mask = 0;
  int low = 0;
  int bits = 0;
};

BitField FieldOf(uint32_t mask) {
  BitField f;
  f.mask = mask;
  if (mask == 0) return f;
  f.low = __builtin_ctz(mask);
  f.bits = 32 - __builtin_clz(mask) - f.low;
  return f;
}

// The field's value as 8 bits: its top 8 bits, or, when it has fewer, its
// bits repeated down the byte (5 bits 10110 give 10110101), so that the
// field's full value is full 255.
uint8_t FieldByte(uint32_t pixel, const BitField& f) {
  if (f.bits == 0) return 0;
  const uint32_t v = (pixel & f.mask) >> f.low;
  if (f.bits >= 8) return static_cast<uint8_t>(v >> (f.bits - 8));
  return WidenToByte(v, f.bits);
}

}  // namespace

// Works from the last row and pixel to the first, so the 16-bit rows may lie
// in this image's own pixel block: each 24-bit pixel lands at or after the
// bytes it was read from.
void PxImage::UnpackBitfields(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                              uint32_t blueMask, uint8_t sourceBpp) {
  if (!dib || !source || Bpp() != 24 || (sourceBpp != 16 && sourceBpp != 32)) return;
  const uint32_t width = Width();
  const uint32_t height = Height();
  // Each field is found by its own mask, whatever its width and place:
  // 5-5-5, 5-6-5, 4-4-4-4, 10-10-10 or bytes in any order.
  const uint32_t pixelMask = sourceBpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
  const BitField red = FieldOf(redMask & pixelMask);
  const BitField green = FieldOf(greenMask & pixelMask);
  const BitField blue = FieldOf(blueMask & pixelMask);
  const size_t pixelBytes = sourceBpp / 8;
  const size_t sourceStride = sourceBpp == 16 ? size_t{(width + 1) / 2} * 4 : size_t{width} * 4;
  for (uint32_t y = height; y-- > 0;) {
    const uint8_t* src = source + y * sourceStride;
    uint8_t* dst = RowAt(y);
    for (uint32_t x = width; x-- > 0;) {
      const uint8_t* s = src + pixelBytes * x;
      const uint32_t pixel = sourceBpp == 16 ? pw::LoadLE16(s) : pw::LoadLE32(s);
      uint8_t* px = dst + 3 * size_t{x};
      px[0] = FieldByte(pixel, blue);
      px[1] = FieldByte(pixel, green);
      px[2] = FieldByte(pixel, red);
    }
  }
}

void PxImage::HeaderToHostOrder(BITMAPINFOHEADER* h) const {
  if (info.littleEndianHost || !h) return;
  h->biSize = pw::Swap32(h->biSize);
  h->biWidth = static_cast<int32_t>(pw::Swap32(static_cast<uint32_t>(h->biWidth)));
  h->biHeight = static_cast<int32_t>(pw::Swap32(static_cast<uint32_t>(h->biHeight)));
  h->biPlanes = pw::Swap16(h->biPlanes);
  h->biBitCount = pw::Swap16(h->biBitCount);
  h->biCompression = pw::Swap32(h->biCompression);
  h->biSizeImage = pw::Swap32(h->biSizeImage);
  h->biXPelsPerMeter = static_cast<int32_t>(pw::Swap32(static_cast<uint32_t>(h->biXPelsPerMeter)));
  h->biYPelsPerMeter = static_cast<int32_t>(pw::Swap32(static_cast<uint32_t>(h->biYPelsPerMeter)));
  h->biClrUsed = pw::Swap32(h->biClrUsed);
  h->biClrImportant = pw::Swap32(h->biClrImportant);
}
