#include "jpeg_builder.h"

namespace exiftest {

void TiffBytes::U16(uint16_t v) {
  if (big_) { U8(uint8_t(v >> 8)); U8(uint8_t(v)); }
  else { U8(uint8_t(v)); U8(uint8_t(v >> 8)); }
}

void TiffBytes::U32(uint32_t v) {
  if (big_) { U16(uint16_t(v >> 16)); U16(uint16_t(v)); }
  else { U16(uint16_t(v)); U16(uint16_t(v >> 16)); }
}

void TiffBytes::Patch32(size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big_ ? 24 - 8 * i : 8 * i;
    b_[at + i] = uint8_t(v >> shift);
  }
}

void TiffBytes::Header(uint32_t firstOffset) {
  Text(big_ ? "MM" : "II");
  U16(42);
  U32(firstOffset);
}

void TiffBytes::Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t valueOrOffset) {
  U16(tag);
  U16(type);
  U32(count);
  U32(valueOrOffset);
}

void TiffBytes::EntryInline(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& bytes) {
  U16(tag);
  U16(type);
  U32(count);
  for (size_t i = 0; i < 4; ++i) U8(i < bytes.size() ? bytes[i] : 0);
}

std::vector<uint8_t> Segment(uint8_t marker, const std::vector<uint8_t>& body) {
  const size_t len = body.size() + 2;
  std::vector<uint8_t> s = {0xFF, marker, uint8_t(len >> 8), uint8_t(len)};
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

std::vector<uint8_t> JpegWithExif(const std::vector<uint8_t>& tiff, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> body = {'E', 'x', 'i', 'f', 0, 0};
  body.insert(body.end(), tiff.begin(), tiff.end());
  std::vector<uint8_t> j = {0xFF, 0xD8};
  const std::vector<uint8_t> seg = Segment(0xE1, body);
  j.insert(j.end(), seg.begin(), seg.end());
  j.insert(j.end(), tail.begin(), tail.end());
  return j;
}

}  // namespace exiftest
