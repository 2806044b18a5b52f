// SKA pictures (format id 18): a 9-byte header, a 256-entry palette and one
// byte per pixel, rows from the top.
#pragma once

#include "imagelib/PxImage.h"

class PxImageSKA : public PxImage {
 public:
  PxImageSKA() { InitDefaults(kFormatSka); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);
};
