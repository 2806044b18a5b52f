// Windows icons and cursors (format id 5): one entry of the file is read,
// a device-independent bitmap with its AND mask or an embedded PNG stream;
// a single-entry icon is written (PNG for sides above 255).
#pragma once

#include <cstdint>

#include "imagelib/PxImage.h"

class PxImageICO : public PxImage {
 public:
  PxImageICO() : dataOffset_(0) { InitDefaults(kFormatIco); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);

  // 22 plus the size of the entry written by the last Encode; 0 before.
  uint32_t DataOffset() const { return dataOffset_; }

 private:
  bool DecodePngEntry(PxFile* file);
  bool DecodeBitmapEntry(PxFile* file);
  void ApplyAndMask(const uint8_t* mask, uint32_t maskRowBytes, uint32_t bitCount);

  uint32_t dataOffset_;
};
