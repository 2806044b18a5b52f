// The Windows bitmap records the image library exchanges with files and keeps
// in its pixel blocks. They are our own structs: on disk and inside a DIB
// block they are always serialised field by field in little-endian order, so
// nothing depends on the host's struct layout or byte order.
#pragma once

#include <cstdint>

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD must be 4 bytes");

struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must be 40 bytes");

// The 14-byte file header. Its stored form has no padding; the struct may,
// so it is only ever read and written through the functions below.
struct BITMAPFILEHEADER {
  uint16_t bfType;
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;
};

constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint16_t kBitmapFileType = 0x4D42;  // "BM"

// Colour comparisons treat the four bytes as one value.
inline uint32_t QuadValue(const RGBQUAD& q) {
  return uint32_t(q.rgbBlue) | (uint32_t(q.rgbGreen) << 8) | (uint32_t(q.rgbRed) << 16) |
         (uint32_t(q.rgbReserved) << 24);
}
inline bool SameQuad(const RGBQUAD& a, const RGBQUAD& b) { return QuadValue(a) == QuadValue(b); }

void LoadInfoHeader(const uint8_t* bytes, BITMAPINFOHEADER* out);   // 40 bytes in
void StoreInfoHeader(const BITMAPINFOHEADER& in, uint8_t* bytes);   // 40 bytes out
void LoadFileHeader(const uint8_t* bytes, BITMAPFILEHEADER* out);   // 14 bytes in
void StoreFileHeader(const BITMAPFILEHEADER& in, uint8_t* bytes);   // 14 bytes out
