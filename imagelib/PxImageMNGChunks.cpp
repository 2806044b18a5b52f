#include "imagelib/PxImageMNGChunks.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace mngchunks {

namespace {

constexpr uint8_t kMngSignature[8] = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kJngSignature[8] = {0x8B, 'J', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool Is(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// How far the images reach on the canvas, from their sizes and places.
struct Reach {
  int64_t x = 0, y = 0;          // place of the next image (its DEFI)
  uint64_t width = 0, height = 0;
  bool images = false;
  bool unknown = false;          // a chunk moves, copies or magnifies objects
  void Image(uint32_t w, uint32_t h) {
    width = std::max<uint64_t>(width, static_cast<uint64_t>(std::max<int64_t>(0, x + int64_t{w})));
    height = std::max<uint64_t>(height, static_cast<uint64_t>(std::max<int64_t>(0, y + int64_t{h})));
    images = true;
    x = y = 0;
  }
};

}  // namespace

bool HasSignature(const uint8_t* data, size_t size) {
  return size >= 8 && (std::memcmp(data, kMngSignature, 8) == 0 || std::memcmp(data, kJngSignature, 8) == 0 ||
                       std::memcmp(data, kPngSignature, 8) == 0);
}

Prepared PrepareStream(const uint8_t* data, size_t size) {
  Prepared out;
  const bool mng = size >= 8 && std::memcmp(data, kMngSignature, 8) == 0;
  if (!HasSignature(data, size)) {
    out.bytes.assign(data, data + size);
    return out;
  }
  out.bytes.reserve(size);
  out.bytes.insert(out.bytes.end(), data, data + 8);
  size_t mhdrAt = 0;  // offset of MHDR's data in the copy, 0 when none
  Reach reach;
  size_t at = 8;
  while (at + 12 <= size) {
    const uint32_t length = Be32(data + at);
    if (length > size - at - 12) break;  // damaged: the rest goes as it is
    const uint8_t* type = data + at + 4;
    const uint8_t* body = data + at + 8;
    const size_t whole = size_t{length} + 12;
    if (mng && (Is(type, "LOOP") || Is(type, "ENDL"))) {
      at += whole;
      continue;
    }
    if (Is(type, "MHDR") && length >= 8 && mhdrAt == 0) mhdrAt = out.bytes.size() + 8;
    if ((Is(type, "IHDR") || Is(type, "JHDR") || Is(type, "BASI")) && length >= 8)
      reach.Image(Be32(body), Be32(body + 4));
    if (Is(type, "DEFI") && length >= 12) {
      reach.x = static_cast<int32_t>(Be32(body + 4));
      reach.y = static_cast<int32_t>(Be32(body + 8));
    }
    if (Is(type, "MAGN") || Is(type, "PAST") || Is(type, "MOVE") || Is(type, "CLON") || Is(type, "DHDR"))
      reach.unknown = true;
    out.bytes.insert(out.bytes.end(), data + at, data + at + whole);
    at += whole;
  }
  out.bytes.insert(out.bytes.end(), data + at, data + size);

  if (mhdrAt == 0 || !reach.images || reach.unknown || reach.width == 0 || reach.height == 0) return out;
  uint8_t* mhdr = out.bytes.data() + mhdrAt;
  const uint32_t width = Be32(mhdr), height = Be32(mhdr + 4);
  if (width == 0 || height == 0 || (reach.width >= width && reach.height >= height)) return out;
  PutBe32(mhdr, static_cast<uint32_t>(std::min<uint64_t>(width, reach.width)));
  PutBe32(mhdr + 4, static_cast<uint32_t>(std::min<uint64_t>(height, reach.height)));
  const uint32_t length = Be32(mhdr - 8);
  PutBe32(mhdr + length, static_cast<uint32_t>(crc32(0, mhdr - 4, length + 4)));
  return out;
}

}  // namespace mngchunks
