#include "imagelib/FormatSignature.h"

#include <cstring>

namespace {

struct Signature {
  ImageFormatId id;
  const char* bytes;
  size_t size;
};

constexpr Signature kSignatures[] = {
    {kFormatPng, "\x89PNG\r\n\x1a\n", 8},
    {kFormatGif, "GIF8", 4},  // as the GIF reader checks it
    {kFormatJpg, "\xFF\xD8\xFF", 3},
    {kFormatTif, "II*\0", 4},
    {kFormatTif, "MM\0*", 4},
    {kFormatTif, "II+\0", 4},  // BigTIFF
    {kFormatTif, "MM\0+", 4},
    {kFormatPsd, "8BPS", 4},
    {kFormatBmp, "BM", 2},
};

}  // namespace

ImageFormatId FormatBySignature(const uint8_t* head, size_t size) {
  for (const Signature& s : kSignatures) {
    if (size >= s.size && std::memcmp(head, s.bytes, s.size) == 0) return s.id;
  }
  return kFormatUnknown;
}
