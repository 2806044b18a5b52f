// JPEG pictures (format id 3) through libjpeg: 8-bit grey, 8-bit palette
// (quantised) or 24-bit on reading, grey-ramp and true-colour images on
// writing. Before decoding, the file's marker sections are read to fill the
// EXIF summary, which gives the tools orientation and shooting time.
#pragma once

#include <cstdint>
#include <memory>

#include "imagelib/ExifSectionReader.h"
#include "imagelib/PxImage.h"

// Sets the picture's density from the EXIF resolution the summary states
// (rounded to whole dpi; a metric unit keeps its exact pixels per metre).
// False, and nothing set, when it states none. The JPEG reader takes it
// before the JFIF density; the PNG reader from an eXIf chunk where the file
// has no pHYs chunk.
bool ApplyExifDensity(PxImage& image, const ExifSummary& exif);

class PxImageJPG : public PxImage {
 public:
  PxImageJPG();
  ~PxImageJPG() override;

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);
  // Reads the marker sections in front of the scan into the EXIF summary and
  // puts the file back where it was; true when an EXIF block was digested.
  bool LoadExifSummary(PxFile* file);

  ExifSectionReader* SectionReader() const { return m_sectionReader.get(); }

  int32_t smoothingFactor = 0;  // used with encode option 0x40
  int32_t ditherMode = 0;       // used with decode option 0x200

 private:
  void ForgetThumbnail();

  std::unique_ptr<ExifSectionReader> m_sectionReader;
};
