// Fuzz target for the BMP reader: the input is a whole file, read from
// memory through the format dispatch, then used the way a caller would
// (header-only read, every pixel and alpha value looked at, written back).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"
#include "imagelib/PxImageBMP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  // PxMemFile never writes to a buffer it only reads; the copy keeps the
  // fuzzer's input const all the same.
  std::vector<uint8_t> bytes(data, data + size);

  {  // size only: what a file list asks before it decides to load
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImageBMP probe;
    probe.info.escape = -1;
    probe.Decode(&file);
  }

  PxMemFile file(bytes.data(), static_cast<int32_t>(size));
  PxImage image;
  if (!image.Decode(&file, kFormatBmp)) return 0;

  // Every pixel must be readable as decoded: a reader that sized its block
  // wrongly shows here or in the write below.
  uint32_t sum = 0;
  const int32_t width = static_cast<int32_t>(image.Width());
  const int32_t height = static_cast<int32_t>(image.Height());
  for (int32_t y = 0; y < height; y += (height > 512 ? height / 512 : 1)) {
    for (int32_t x = 0; x < width; x += (width > 512 ? width / 512 : 1)) {
      const RGBQUAD c = image.PixelColorAt(x, y);
      sum += c.rgbRed + c.rgbGreen + c.rgbBlue + c.rgbReserved;
    }
  }
  PxMemFile out;
  out.Open();
  image.Encode(&out, kFormatBmp);
  return sum == 0xFFFFFFFFu ? 1 : 0;  // keeps the loop from being dropped
}
