// Wireless bitmaps (format id 9): type 0, one bit per pixel, rows from the
// top, 0 black and 1 white.
#pragma once

#include <cstdint>

#include "imagelib/PxImage.h"

class PxImageWBMP : public PxImage {
 public:
  PxImageWBMP() { InitDefaults(kFormatWbmp); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);
};

// Writes `value` as a multi-byte integer: groups of 7 bits, most significant
// first, bit 7 set on every byte but the last. False when a byte cannot be
// written.
bool WriteMultiByteInteger(PxFile* file, uint32_t value);
