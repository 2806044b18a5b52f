// The one entry shared by the fuzz targets of the ICO, TGA, PCX, WBMP and
// SKA readers: the input is a whole file, read for its size only and then
// whole through the format dispatch from memory, its pixels looked at, and
// written back in the same format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"
#include "tests/fuzz/image_fuzz_common.h"

inline int FuzzOneFormat(const uint8_t* data, size_t size, ImageFormatId id) {
  if (size > 0x7FFF0000u) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  pwfuzz::ProbeSizeOnly(bytes, id);
  uint32_t sum = 0;
  // An icon's second frame takes the reader down the directory once more.
  for (int32_t frame = 0; frame < 2; ++frame) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImage image;
    image.info.frame = frame;
    if (!image.Decode(&file, id)) continue;
    sum += pwfuzz::LookAtPixels(image);
    if (image.ImageBytes() <= (size_t{4} << 20)) {
      PxMemFile out;
      out.Open();
      image.Encode(&out, id);
    }
    if (id != kFormatIco) break;
  }
  return sum == 0xFFFFFFFFu ? 1 : 0;  // keeps the loops from being dropped
}
