// Fuzz target for the MNG and JNG reader: the input is a whole file, read
// through the format dispatch from memory for its size only, for its first
// frame and for its last one (which walks the whole animation), and the
// first frame written back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"
#include "tests/fuzz/image_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  pwfuzz::ProbeSizeOnly(bytes, kFormatMng);
  PxMemFile file(bytes.data(), static_cast<int32_t>(size));
  PxImage first;
  if (!first.Decode(&file, kFormatMng)) return 0;
  uint32_t sum = 0;
  for (uint32_t y = 0; y < first.Height(); y += 1 + first.Height() / 64)
    for (uint32_t x = 0; x < first.Width(); x += 1 + first.Width() / 64) {
      const RGBQUAD c = first.PixelColorAt(static_cast<int32_t>(x), static_cast<int32_t>(y));
      sum += c.rgbRed + c.rgbReserved;
    }
  if (first.info.frameCount > 1) {
    PxMemFile again(bytes.data(), static_cast<int32_t>(size));
    PxImage last;
    last.info.frame = first.info.frameCount - 1;
    last.Decode(&again, kFormatMng);
  }
  if (first.ImageBytes() <= (size_t{1} << 20)) {
    PxMemFile out;
    out.Open();
    first.Encode(&out, kFormatMng);
  }
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
