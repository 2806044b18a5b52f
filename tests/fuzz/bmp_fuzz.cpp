// Fuzz target for the BMP reader: the input is a whole file, read through
// the format dispatch from a C stream and from memory, then used the way a
// caller would (header-only read, pixels looked at, written back).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "imagelib/PxImage.h"
#include "imagelib/PxImageBMP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  // PxMemFile never writes to a buffer it only reads; the copy keeps the
  // fuzzer's input const all the same.
  std::vector<uint8_t> bytes(data, data + size);

  uint64_t claimedPixels = 0;
  {  // size only: what a file list asks before it decides to load
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImageBMP probe;
    probe.info.escape = -1;
    if (probe.Decode(&file)) {
      claimedPixels = uint64_t{static_cast<uint32_t>(probe.header.biWidth)} *
                      static_cast<uint32_t>(probe.header.biHeight);
    }
  }

  // The road of a file opened by name: a C stream, which may seek past its
  // end. Pictures near the memory limit take it only through memory below,
  // as each read of one costs a good part of a second.
  if (claimedPixels <= (uint64_t{1} << 22)) {
    const int fd = memfd_create("bmp_fuzz", 0);
    FILE* stream = fd >= 0 ? fdopen(fd, "w+b") : nullptr;
    if (stream && std::fwrite(data, 1, size, stream) == size && std::fseek(stream, 0, SEEK_SET) == 0) {
      PxImage fromStream;
      fromStream.DecodeFileHandle(stream, kFormatBmp);
    }
    if (stream) std::fclose(stream);
    else if (fd >= 0) close(fd);
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
  // Writing back a picture near the memory limit costs seconds and finds
  // nothing a small one would not: big ones are only read.
  if (image.ImageBytes() <= (size_t{16} << 20)) {
    PxMemFile out;
    out.Open();
    image.Encode(&out, kFormatBmp);
  }
  return sum == 0xFFFFFFFFu ? 1 : 0;  // keeps the loop from being dropped
}
