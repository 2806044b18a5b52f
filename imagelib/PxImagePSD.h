// Photoshop documents, read only: the merged picture as 24 bits with the
// first extra channel (or the picture's own transparency) as alpha.
#pragma once

#include "imagelib/PxImage.h"

class PxImagePSD : public PxImage {
 public:
  PxImagePSD() { InitDefaults(kFormatPsd); }
  ~PxImagePSD() override = default;

  bool Decode(PxFile* file);
};
