// Splits a JPEG stream into its marker sections and digests the EXIF block
// of the APP1 section and the first comment into an ExifSummary. It is a
// forgiving reader: damaged EXIF data leaves a text here and the summary's
// present flag false, and never fails the picture's decode.
//
// It walks the markers itself instead of using the EXIF library's walker
// (exif/JpegMarkers.h) because its rules differ: it reads through the
// decoder's PxFile as the decode goes on, keeps every section in memory
// (at most kMaxSections) for the JPEG writer to put back, allows at most
// six fill bytes before a marker, and refuses a section it cannot hold,
// while the EXIF library edits a file in place and must find exactly where
// the image data starts. The image library also sits beside the EXIF
// library, not above it.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "imagelib/ExifSummary.h"

class PxFile;

struct JpegSection {
  std::vector<uint8_t> data;  // starts with the two length bytes as stored
  int32_t marker = 0;         // byte after 0xFF, or kImageDataMarker
  int32_t size = 0;           // the length field's value (length bytes included)
};

class ExifSectionReader {
 public:
  static constexpr int kMaxSections = 20;
  // Pseudo-section holding everything after the start of scan.
  static constexpr int32_t kImageDataMarker = 0x123;
  // ReadSections flags.
  static constexpr int kDigestExif = 1;
  static constexpr int kReadImageData = 2;

  // Binds the given summary, or owns a zeroed one when none is given.
  explicit ExifSectionReader(ExifSummary* summary = nullptr);
  ExifSectionReader(const ExifSectionReader&) = delete;
  ExifSectionReader& operator=(const ExifSectionReader&) = delete;

  bool ReadSections(PxFile* file, int flags);
  bool ParseExif(uint8_t* data, uint32_t length);
  void ProcessComment(const uint8_t* data, int32_t length);
  void KeepExifAndComment();
  bool WriteSections(PxFile* file);

  const char* LastError() const { return m_lastError; }
  ExifSummary* Summary() { return m_summary; }
  int SectionCount() const { return m_sectionCount; }
  const JpegSection& Section(int i) const { return m_sections[i]; }

 private:
  bool ProcessDirectory(uint32_t dirOffset, int depth, bool thumbnailSide);
  bool FollowLink(uint32_t offset, int depth, bool thumbnailSide);
  void ApplyTag(uint32_t tag, uint32_t format, const uint8_t* value, uint64_t byteCount,
                uint32_t& thumbOffset, uint32_t& thumbLength);
  double ConvertValue(const uint8_t* value, uint32_t format) const;
  uint32_t Read32(const uint8_t* p) const;
  uint16_t Read16(const uint8_t* p) const;
  void SetError(const char* text);
  bool HoldSection(std::vector<uint8_t>&& data, int32_t marker, int32_t size);

  ExifSummary* m_summary;
  ExifSummary m_ownSummary{};
  char m_lastError[256] = {};
  int32_t m_exifImageWidth = 0;
  int32_t m_motorolaOrder = 0;
  JpegSection m_sections[kMaxSections];
  int32_t m_sectionCount = 0;
  bool m_ownsSummary = false;

  // The TIFF data being walked: bounds for every offset read from it, and
  // the directories already visited so that looping links end the walk.
  const uint8_t* m_tiffBase = nullptr;
  uint32_t m_tiffLength = 0;
  std::set<uint32_t> m_visitedDirs;
};
