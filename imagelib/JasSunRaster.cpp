// Sun raster files: depths 1, 8, 24 and 32; the standard, byte-run (RLE)
// and RGB-ordered types; colour maps; rows padded to 16 bits. Read and
// written by our own code.
#include <cstring>
#include <new>
#include <string>

#include "imagelib/JasAdapter.h"
#include "imagelib/JasByteReader.h"
#include "platform/byteorder.h"

namespace jas {

namespace {

using pw::LoadBE32;
using pw::StoreBE32;

constexpr uint32_t kMagic = 0x59A66A95u;
constexpr uint32_t kTypeOld = 0, kTypeStandard = 1, kTypeRle = 2, kTypeRgb = 3;
constexpr uint32_t kMapNone = 0, kMapRgb = 1;

bool Fail(std::string* error, const char* text) {
  *error = text;
  return false;
}

// The byte stream of the pixel data, plain or run-length coded: 0x80 0 is
// one 0x80, 0x80 n v is n + 1 bytes v, any other byte stands for itself.
class RasData {
 public:
  RasData(ByteReader& in, bool rle) : in_(in), rle_(rle) {}
  bool Read(uint8_t* out, size_t n) {
    if (!rle_) return in_.Read(out, n);
    while (n > 0) {
      if (run_ == 0) {
        const int c = in_.Get();
        if (c < 0) return false;
        if (c != 0x80) {
          value_ = static_cast<uint8_t>(c);
          run_ = 1;
        } else {
          const int count = in_.Get();
          if (count < 0) return false;
          if (count == 0) {
            value_ = 0x80;
            run_ = 1;
          } else {
            const int v = in_.Get();
            if (v < 0) return false;
            value_ = static_cast<uint8_t>(v);
            run_ = static_cast<uint32_t>(count) + 1;
          }
        }
      }
      const size_t take = n < run_ ? n : run_;
      std::memset(out, value_, take);
      out += take;
      n -= take;
      run_ -= static_cast<uint32_t>(take);
    }
    return true;
  }

 private:
  ByteReader& in_;
  bool rle_;
  uint32_t run_ = 0;
  uint8_t value_ = 0;
};

}  // namespace

bool DecodeRas(PxFile* file, bool headerOnly, Image* image, std::string* error) {
  ByteReader in(file);
  uint8_t head[32];
  if (!in.Read(head, sizeof head) || LoadBE32(head) != kMagic) return Fail(error, "error: unknowm format");
  const uint32_t width = LoadBE32(head + 4), height = LoadBE32(head + 8), depth = LoadBE32(head + 12);
  const uint32_t type = LoadBE32(head + 20), mapType = LoadBE32(head + 24), mapLength = LoadBE32(head + 28);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX ||
      (depth != 1 && depth != 8 && depth != 24 && depth != 32) ||
      (type != kTypeOld && type != kTypeStandard && type != kTypeRle && type != kTypeRgb) ||
      (mapType != kMapNone && mapType != kMapRgb && mapType != 2))
    return Fail(error, "error: cannot load image data");

  // A colour map is three planes (red, green, blue) of mapLength / 3 bytes.
  std::vector<uint8_t> map;
  if (mapLength > 0) {
    if (mapLength > 3 * 256 || mapLength > in.Left()) return Fail(error, "error: cannot load image data");
    map.resize(mapLength);
    if (!in.Read(map.data(), map.size())) return Fail(error, "error: cannot load image data");
  }
  const uint32_t entries = mapType == kMapRgb ? mapLength / 3 : 0;
  const uint8_t* mapR = map.data();
  const uint8_t* mapG = mapR + entries;
  const uint8_t* mapB = mapG + entries;
  bool greyMap = true;
  for (uint32_t i = 0; i < entries; ++i)
    if (mapR[i] != mapG[i] || mapG[i] != mapB[i]) greyMap = false;
  const bool mapped = entries > 0 && depth <= 8;
  const uint32_t count = depth >= 24 || (mapped && !greyMap) ? 3 : 1;
  if (uint64_t{width} * height * count > kMaxSamples) return Fail(error, "PXIMAGE_MAX_MEMORY exceeded");

  image->width = width;
  image->height = height;
  image->space = count == 3 ? ColorSpace::kSrgb : ColorSpace::kGrey;
  image->comps.resize(count);
  for (Component& c : image->comps) {
    c.width = width;
    c.height = height;
    c.precision = (depth == 1 && !mapped) ? 1 : 8;
    c.maxValue = (depth == 1 && !mapped) ? 1 : 255;
  }
  if (headerOnly) return true;

  const uint64_t bits = uint64_t{width} * depth;
  const uint64_t rowBytes = ((bits + 15) / 16) * 2;  // rows end on 16 bits
  const bool rle = type == kTypeRle;
  // Each three bytes of a run make at most 256: the data must be there.
  const uint64_t need = rowBytes * height;
  if (rle ? in.Left() * 86 < need : need > in.Left()) return Fail(error, "error: cannot load image data");
  if (!AllocateSamples(image, error)) return false;

  std::vector<uint8_t> row(rowBytes);
  RasData data(in, rle);
  const bool rgbOrder = type == kTypeRgb;
  for (uint32_t y = 0; y < height; ++y) {
    if (!data.Read(row.data(), row.size())) return Fail(error, "error: cannot load image data");
    for (uint32_t x = 0; x < width; ++x) {
      const size_t at = size_t{y} * width + x;
      uint8_t r, g, b;
      if (depth <= 8) {
        uint32_t v = depth == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1u;
        if (mapped) {
          if (v >= entries) v = 0;
          r = mapR[v];
          g = mapG[v];
          b = mapB[v];
          if (count == 1) {
            image->comps[0].samples[at] = r;
            continue;
          }
        } else {
          // Without a map a set bit is black; bytes are grey levels.
          image->comps[0].samples[at] = depth == 1 ? static_cast<int32_t>(1 - v) : static_cast<int32_t>(v);
          continue;
        }
      } else {
        const uint8_t* p = &row[size_t{x} * (depth / 8) + (depth == 32 ? 1 : 0)];
        r = rgbOrder ? p[0] : p[2];
        g = p[1];
        b = rgbOrder ? p[2] : p[0];
      }
      image->comps[0].samples[at] = r;
      image->comps[1].samples[at] = g;
      image->comps[2].samples[at] = b;
    }
  }
  return true;
}

bool EncodeRas(PxFile* file, const Image& image, std::string* error) {
  const size_t count = image.comps.size();
  if (count != 1 && count != 3) return Fail(error, "error: cannot encode image");
  const uint32_t depth = count == 3 ? 24 : 8;
  const uint64_t rowBytes = ((uint64_t{image.width} * depth + 15) / 16) * 2;
  if (rowBytes * image.height > UINT32_MAX) return Fail(error, "error: cannot encode image");
  uint8_t head[32] = {};
  StoreBE32(head, kMagic);
  StoreBE32(head + 4, image.width);
  StoreBE32(head + 8, image.height);
  StoreBE32(head + 12, depth);
  StoreBE32(head + 16, static_cast<uint32_t>(rowBytes * image.height));
  StoreBE32(head + 20, kTypeStandard);
  StoreBE32(head + 24, kMapNone);
  if (file->WriteBlock(head, 1, sizeof head) != sizeof head) return Fail(error, "error: cannot encode image");
  std::vector<uint8_t> row(rowBytes, 0);
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      const size_t at = size_t{y} * image.width + x;
      if (count == 1) {
        row[x] = ToByte(image.comps[0], image.comps[0].samples[at]);
      } else {  // blue, green, red
        row[3 * size_t{x}] = ToByte(image.comps[2], image.comps[2].samples[at]);
        row[3 * size_t{x} + 1] = ToByte(image.comps[1], image.comps[1].samples[at]);
        row[3 * size_t{x} + 2] = ToByte(image.comps[0], image.comps[0].samples[at]);
      }
    }
    if (file->WriteBlock(row.data(), 1, row.size()) != row.size()) return Fail(error, "error: cannot encode image");
  }
  return true;
}

}  // namespace jas
