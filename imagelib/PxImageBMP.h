// Windows device-independent bitmaps: files with the 14-byte "BM" header and
// bare bitmaps that start with an info header.
#pragma once

#include "imagelib/PxImage.h"

class PxImageBMP : public PxImage {
 public:
  PxImageBMP() { InitDefaults(kFormatBmp); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);

  // Reads an info header of any supported size into the 40-byte form and
  // leaves the file right after the header as stored (or, for a header that
  // does not hold its own colour masks, where those masks begin). When the
  // header holds colour masks (52 bytes and more), they are returned in
  // `masks` (red, green, blue, then alpha or 0) and `hasMasks` is set.
  bool ReadInfoHeader(PxFile* file, BITMAPINFOHEADER* out, uint32_t masks[4], bool* hasMasks);
};
