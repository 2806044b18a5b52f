// Parsing and writing TIFF segments in memory for the directory and
// segment tests, and reading back the raw entries the writer produced.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "exif/ExifAppSegment.h"

namespace exiftest {

// Reads a TIFF structure (header first) as an APP1 "Exif" segment body.
std::unique_ptr<ExifTiffAppSeg> ParseTiff(const std::vector<uint8_t>& tiff, ExifResult* status = nullptr);
// Writes a segment into memory: marker, length, identifier, TIFF structure.
std::vector<uint8_t> WriteSegmentBytes(ExifAppSegment& seg, ExifResult* status = nullptr);
// The TIFF part of a written APP1 "Exif" segment.
std::vector<uint8_t> TiffOf(const std::vector<uint8_t>& segment);

struct RawEntry {
  uint16_t tag, type;
  uint32_t count, field;
  size_t fieldPos;  // offset of the value field in the TIFF
};
struct RawIfd {
  uint32_t offset = 0;
  std::vector<RawEntry> entries;
  uint32_t next = 0;
  const RawEntry* Find(uint16_t tag) const;
};
// The directory at `offset` of a TIFF structure (header byte order).
RawIfd ReadRawIfd(const std::vector<uint8_t>& tiff, uint32_t offset);
uint32_t FirstIfdOffset(const std::vector<uint8_t>& tiff);
uint32_t U32(const std::vector<uint8_t>& tiff, size_t at);
uint16_t U16(const std::vector<uint8_t>& tiff, size_t at);

}  // namespace exiftest
