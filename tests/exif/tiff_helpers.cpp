#include "tiff_helpers.h"

namespace exiftest {

std::unique_ptr<ExifTiffAppSeg> ParseTiff(const std::vector<uint8_t>& tiff, ExifResult* status) {
  std::vector<uint8_t> buf = tiff;
  ExifResult st = kExifOk;
  ExifStream mem(&st, buf.data(), static_cast<int64_t>(buf.size()), "r+");
  auto seg = std::make_unique<ExifTiffAppSeg>(0xFFE1, "Exif");
  st = seg->Read(&mem, static_cast<uint16_t>(std::min<size_t>(buf.size(), 0xFFFF)), 0);
  if (status) *status = st;
  return seg;
}

std::vector<uint8_t> WriteSegmentBytes(ExifAppSegment& seg, ExifResult* status) {
  std::vector<uint8_t> buf(0x10002);
  ExifResult st = kExifOk;
  ExifStream mem(&st, buf.data(), static_cast<int64_t>(buf.size()), "r+", 0);
  mem.SetByteOrder(true);
  st = seg.Write(&mem);
  if (status) *status = st;
  buf.resize(static_cast<size_t>(mem.SizeOf()));
  return buf;
}

std::vector<uint8_t> TiffOf(const std::vector<uint8_t>& segment) {
  if (segment.size() < 10) return {};
  return std::vector<uint8_t>(segment.begin() + 10, segment.end());
}

static bool Big(const std::vector<uint8_t>& t) { return t.size() >= 2 && t[0] == 'M'; }

uint16_t U16(const std::vector<uint8_t>& t, size_t at) {
  if (at + 2 > t.size()) return 0;
  return Big(t) ? uint16_t(t[at] << 8 | t[at + 1]) : uint16_t(t[at] | t[at + 1] << 8);
}

uint32_t U32(const std::vector<uint8_t>& t, size_t at) {
  if (at + 4 > t.size()) return 0;
  return Big(t) ? (uint32_t(U16(t, at)) << 16 | U16(t, at + 2)) : (U16(t, at) | uint32_t(U16(t, at + 2)) << 16);
}

uint32_t FirstIfdOffset(const std::vector<uint8_t>& t) { return U32(t, 4); }

RawIfd ReadRawIfd(const std::vector<uint8_t>& t, uint32_t offset) {
  RawIfd ifd;
  ifd.offset = offset;
  const uint16_t n = U16(t, offset);
  for (uint16_t i = 0; i < n; ++i) {
    const size_t at = offset + 2 + 12u * i;
    ifd.entries.push_back({U16(t, at), U16(t, at + 2), U32(t, at + 4), U32(t, at + 8), at + 8});
  }
  ifd.next = U32(t, offset + 2 + 12u * n);
  return ifd;
}

const RawEntry* RawIfd::Find(uint16_t tag) const {
  for (const RawEntry& e : entries) {
    if (e.tag == tag) return &e;
  }
  return nullptr;
}

}  // namespace exiftest
