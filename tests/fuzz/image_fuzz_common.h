// One input through a format reader the way the library's callers use it:
// a size-only read, a full read (every frame of a multi-frame file when the
// format keeps them, else the first and the second frame), every pixel row
// looked at, and a picture of sensible size written back in the same format.
// Shared by the PNG, GIF, JPEG and TIFF targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"

namespace pwfuzz {

inline uint32_t LookAtPixels(const PxImage& image) {
  uint32_t sum = 0;
  const int32_t width = static_cast<int32_t>(image.Width());
  const int32_t height = static_cast<int32_t>(image.Height());
  const int32_t stepY = height > 256 ? height / 256 : 1;
  const int32_t stepX = width > 256 ? width / 256 : 1;
  for (int32_t y = 0; y < height; y += stepY) {
    for (int32_t x = 0; x < width; x += stepX) {
      const RGBQUAD c = image.PixelColorAt(x, y);
      sum += c.rgbRed + c.rgbGreen + c.rgbBlue + c.rgbReserved;
    }
  }
  return sum;
}

// Size only: what a file list asks before it decides to load.
inline void ProbeSizeOnly(std::vector<uint8_t>& bytes, ImageFormatId id) {
  PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
  PxImage probe;
  probe.info.escape = -1;
  probe.Decode(&file, id);
}

inline int FuzzImageFormat(const uint8_t* data, size_t size, ImageFormatId id, bool allFrames) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  uint32_t sum = 0;
  ProbeSizeOnly(bytes, id);
  for (int32_t frame = 0; frame < 2; ++frame) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(size));
    PxImage image;
    image.info.frame = frame;
    image.info.getAllFrames = allFrames && frame == 0;
    if (!image.Decode(&file, id)) {
      if (frame == 0) {
        // The try-every-format road sees the same bytes.
        PxMemFile again(bytes.data(), static_cast<int32_t>(size));
        PxImage any;
        any.Decode(&again, kFormatUnknown);
      }
      break;
    }
    sum += LookAtPixels(image) + (image.IsDamaged() ? 1u : 0u);
    for (int32_t i = 0; i < image.frameListSize; ++i) {
      if (image.frames && image.frames[i]) sum += LookAtPixels(*image.frames[i]);
    }
    if (frame == 0 && image.ImageBytes() <= (size_t{4} << 20)) {
      PxMemFile out;
      out.Open();
      if (image.Encode(&out, id) && out.DataSize() > 0) {
        PxMemFile back(out.Buffer(), out.DataSize());
        PxImage reread;
        reread.Decode(&back, id);
      }
    }
    if (image.info.frameCount < 2) break;
  }
  return sum == 0xFFFFFFFFu ? 1 : 0;  // keeps the work from being dropped
}

}  // namespace pwfuzz
