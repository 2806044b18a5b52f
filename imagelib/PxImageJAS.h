// The JPEG-2000 family: JP2 files (format id 11), J2K code streams (12),
// PGX (13), PNM (14) and Sun raster (15), all through the codec layer of
// JasAdapter.h. Reading detects the format from the file's signature;
// writing is told which of the five to write.
#pragma once

#include "imagelib/PxImage.h"

class PxImageJAS : public PxImage {
 public:
  PxImageJAS() { InitDefaults(kFormatUnknown); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file, ImageFormatId id);

 private:
  // Every palette entry is a grey (any count, in any order): the picture
  // can be written as one grey component of its entries' levels.
  bool HasGreyEntriesOnly() const;
};
