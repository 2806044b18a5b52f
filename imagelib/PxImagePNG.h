// PNG pictures (format id 4) through libpng. The class owns only the glue:
// data callbacks on PxFile, the error trap, the mapping between PNG colour
// types and the container's depths, transparency, resolution and the row
// loops, including the seven passes of interlaced files.
#pragma once

#include <cstdint>

#include "imagelib/PxImage.h"

class PxImagePNG : public PxImage {
 public:
  PxImagePNG();
  ~PxImagePNG() override;

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);
};

// Spreads the width's 2-bit pixels of a row into 4-bit pixels in place, from
// the last pixel to the first.
void ExpandTwoBitRow(uint8_t* row, uint32_t width);
