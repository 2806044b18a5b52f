// Fuzz target for the JPEG-2000 family reader (JP2, J2K, PGX, PNM, Sun
// raster): the input is a whole file, read through the format dispatch from
// memory for its size only and in full (every frame of a multi-component
// file up to four), pixels looked at, and small pictures written back in
// each of the five formats.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"
#include "tests/fuzz/image_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  pwfuzz::ProbeSizeOnly(bytes, kFormatJp2);
  uint32_t sum = 0;
  int32_t frames = 1;
  for (int32_t frame = 0; frame < frames && frame < 4; ++frame) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImage image;
    image.info.frame = frame;
    if (!image.Decode(&file, kFormatJp2)) return 0;
    if (image.info.frameCount > frames) frames = image.info.frameCount;
    const int32_t width = static_cast<int32_t>(image.Width());
    const int32_t height = static_cast<int32_t>(image.Height());
    for (int32_t y = 0; y < height; y += (height > 256 ? height / 256 : 1))
      for (int32_t x = 0; x < width; x += (width > 256 ? width / 256 : 1)) {
        const RGBQUAD c = image.PixelColorAt(x, y);
        sum += c.rgbRed + c.rgbGreen + c.rgbBlue;
      }
    if (frame == 0 && image.ImageBytes() <= (size_t{1} << 16)) {
      for (ImageFormatId id : {kFormatJp2, kFormatJpc, kFormatPgx, kFormatPnm, kFormatRas}) {
        PxMemFile out;
        out.Open();
        image.Encode(&out, id);
      }
    }
  }
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
