// Fuzz target for the metafile reader: the input is a whole file, read
// through the format dispatch from memory for its size only and in full.
// What passes the header checks is played by the metafile player, a process
// of its own (libwmf, or libemf2svg and librsvg): a fault there shows here as
// a failed decode, not as a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"
#include "tests/fuzz/image_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  pwfuzz::ProbeSizeOnly(bytes, kFormatWmf);
  PxMemFile file(bytes.data(), static_cast<int32_t>(size));
  PxImage image;
  if (!image.Decode(&file, kFormatWmf)) return 0;
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); y += 1 + image.Height() / 64)
    for (uint32_t x = 0; x < image.Width(); x += 1 + image.Width() / 64)
      sum += image.PixelColorAt(static_cast<int32_t>(x), static_cast<int32_t>(y)).rgbGreen;
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
