// Builds small JPEG files around hand-made TIFF structures for the tests
// that need exact control over the bytes of an EXIF segment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exiftest {

// A growing byte buffer that writes 16/32-bit values in one byte order.
class TiffBytes {
 public:
  explicit TiffBytes(bool bigEndian) : big_(bigEndian) {}
  void U8(uint8_t v) { b_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Bytes(const std::vector<uint8_t>& v) { b_.insert(b_.end(), v.begin(), v.end()); }
  void Text(const std::string& s) { b_.insert(b_.end(), s.begin(), s.end()); }
  void Patch32(size_t at, uint32_t v);
  size_t Size() const { return b_.size(); }
  bool Big() const { return big_; }
  const std::vector<uint8_t>& Data() const { return b_; }
  // Header "II"/"MM", 42 and the first directory offset.
  void Header(uint32_t firstOffset);
  // One 12-byte entry with an inline value field (raw 4 bytes or a value).
  void Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t valueOrOffset);
  void EntryInline(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& bytes);

 private:
  bool big_;
  std::vector<uint8_t> b_;
};

// SOI, an APP1 "Exif\0\0" segment holding tiff, then `tail` (the bytes of a
// real JPEG from its first DQT on).
std::vector<uint8_t> JpegWithExif(const std::vector<uint8_t>& tiff, const std::vector<uint8_t>& tail);
// A whole APPn segment (marker, length, body).
std::vector<uint8_t> Segment(uint8_t marker, const std::vector<uint8_t>& body);

}  // namespace exiftest
