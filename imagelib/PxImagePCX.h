// ZSoft PCX pictures (format id 8): run-length encoded rows, planar (up to
// four planes) or packed pixels, with the 16-entry header palette or the
// 256-entry palette after the image data.
#pragma once

#include <cstdint>

#include "imagelib/PxImage.h"

struct PcxHeader {
  uint8_t manufacturer;   // 10
  uint8_t version;
  uint8_t encoding;       // 1 = RLE
  uint8_t bitsPerPixel;   // per plane
  uint16_t xMin, yMin, xMax, yMax;
  uint16_t hRes, vRes;
  uint8_t palette[48];    // 16 entries of red, green, blue
  uint8_t reserved;
  uint8_t planes;
  uint16_t bytesPerLine;  // per plane
  uint16_t paletteInfo;
};

constexpr size_t kPcxHeaderBytes = 128;

void LoadPcxHeader(const uint8_t* bytes, PcxHeader* out);  // 128 bytes in, little-endian
void StorePcxHeader(const PcxHeader& in, uint8_t* bytes);  // 128 bytes out, filler zeroed

class PxImagePCX : public PxImage {
 public:
  PxImagePCX() { InitDefaults(kFormatPcx); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);
};

// Planes of one bit per pixel to one index byte per pixel: bit p of pixel x
// comes from plane p. `pixels` holds bytesPerLine * 8 bytes. False for more
// than four planes or more than one bit per pixel.
bool PCX_PlanesToPixels(uint8_t* pixels, const uint8_t* planes, uint32_t bytesPerLine, uint32_t planeCount,
                        uint32_t bitsPerPixel);
// Packed pixels of one plane (1, 2, 4 or 8 bits, leftmost in the high bits)
// to one index byte per pixel. `pixels` holds bytesPerLine * 8 bytes. False
// unless there is exactly one plane.
bool PCX_UnpackPixels(uint8_t* pixels, const uint8_t* data, uint32_t bytesPerLine, uint32_t planeCount,
                      uint32_t bitsPerPixel);
