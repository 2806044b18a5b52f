// Fuzz target for the RAW format as a whole: the input is a camera file,
// identified, loaded, developed and converted by PxImageRAW from memory,
// first asked for its size only, then (when that size is small, so that one
// input stays quick) decoded for each demosaic quality in turn.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageRAW.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  uint64_t pixels = 0;
  {
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImageRAW probe;
    probe.info.escape = -1;
    if (!probe.Decode(&file)) return 0;
    pixels = uint64_t{probe.Width()} * probe.Height();
  }
  if (pixels > (uint64_t{1} << 20)) return 0;
  for (uint32_t quality = 0; quality < 4; ++quality) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImageRAW image;
    image.info.codecOptions[PxImage::FormatIndexFromId(kFormatRaw)] = quality;
    if (image.Decode(&file)) {
      volatile uint8_t sink = 0;
      for (uint32_t y = 0; y < image.Height(); ++y) sink = sink ^ image.RowAt(y)[0];
    }
  }
  return 0;
}
