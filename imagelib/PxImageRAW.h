// Camera raw files, read only: identified, loaded and developed by the raw
// decoder into a 24-bit picture in the orientation the file asks for.
#pragma once

#include "imagelib/PxImage.h"

class PxImageRAW : public PxImage {
 public:
  PxImageRAW() { InitDefaults(kFormatRaw); }
  ~PxImageRAW() override = default;

  bool Decode(PxFile* file);
};
