// The sample helpers of the TIFF reader's row loops: bit streams, wide
// samples, large palettes and CIELab.
#include <cmath>
#include <cstring>

#include "imagelib/PxImageTIF.h"
#include "imagelib/PxImageTIFWork.h"

namespace {

uint8_t ClampByte(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(v);
}

}  // namespace

namespace pxtiff {

uint32_t BitStreamSample(const uint8_t* src, size_t bytes, uint64_t index, uint32_t bits) {
  uint64_t bitPos = index * bits;
  uint32_t value = 0;
  for (uint32_t i = 0; i < bits; ++i, ++bitPos) {
    const uint64_t byte = bitPos >> 3;
    const uint32_t bit = byte < bytes ? (src[byte] >> (7 - (bitPos & 7))) & 1u : 0u;
    value = (value << 1) | bit;
  }
  return value;
}

uint32_t LoadHost(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

int LeadingZeros8(uint32_t v) {
  int n = 0;
  for (uint32_t mask = 0x80; mask && !(v & mask); mask >>= 1) ++n;
  return n;
}


void LabToBGR(const uint8_t* lab, uint8_t* bgr) {
  const double L = lab[0] / 2.55;
  const double a = static_cast<int8_t>(lab[1]);
  const double b = static_cast<int8_t>(lab[2]);
  const double fy = (L + 16.0) / 116.0;
  const double fx = fy + 0.002 * a;
  const double fz = fy - 0.005 * b;
  const double X = 0.95047 * fx * fx * fx;
  const double Y = fy * fy * fy;
  const double Z = 1.0883 * fz * fz * fz;
  double rgb[3] = {3.240479 * X - 1.53715 * Y - 0.498535 * Z,
                   -0.969256 * X + 1.875992 * Y + 0.041556 * Z,
                   0.055648 * X - 0.204043 * Y + 1.057311 * Z};
  for (double& c : rgb) {
    c = c > 0.00304 ? 1.055 * std::pow(c, 0.41667) - 0.055 : 12.92 * c;
    c *= 255.0;
  }
  bgr[0] = ClampByte(rgb[2]);
  bgr[1] = ClampByte(rgb[1]);
  bgr[2] = ClampByte(rgb[0]);
}

void CopyTileRows(uint8_t* dest, const uint8_t* src, uint32_t rows, size_t rowBytes,
                  size_t destSkip, size_t srcSkip) {
  for (uint32_t r = 0; r < rows; ++r) {
    std::memcpy(dest, src, rowBytes);
    dest += rowBytes + destSkip;
    src += rowBytes + srcSkip;
  }
}

bool UnpackSamplesToBytes(uint8_t* dest, const uint8_t* src, size_t srcBytes, uint32_t count,
                          uint32_t bits) {
  if (bits == 0 || bits > 32) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (bits <= 8) {
      dest[i] = static_cast<uint8_t>(BitStreamSample(src, srcBytes, i, bits));
    } else if (bits == 24 || bits == 32) {
      // Byte-aligned wide samples come in host (little-endian) order.
      const size_t width = bits / 8;
      const size_t at = static_cast<size_t>(i) * width;
      dest[i] = at + width <= srcBytes ? src[at + width - 1] : 0;
    } else if (bits == 16) {
      const size_t at = static_cast<size_t>(i) * 2;
      dest[i] = at + 2 <= srcBytes ? src[at + 1] : 0;
    } else {
      dest[i] = static_cast<uint8_t>(BitStreamSample(src, srcBytes, i, bits) >> (bits - 8));
    }
  }
  return true;
}

bool ExpandPaletteSamples(uint8_t* dest, const uint8_t* src, size_t srcBytes, uint32_t count,
                          uint32_t bits, const uint8_t* paletteBGRA, size_t paletteSize) {
  if (bits < 9 || bits > 24) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t index;
    if (bits == 16 || bits == 24) {
      const size_t width = bits / 8;
      const size_t at = static_cast<size_t>(i) * width;
      index = at + width <= srcBytes ? LoadHost(src + at, width) : 0;
    } else {
      index = BitStreamSample(src, srcBytes, i, bits);
    }
    uint8_t* out = dest + static_cast<size_t>(i) * 3;
    if (index < paletteSize) {
      std::memcpy(out, paletteBGRA + static_cast<size_t>(index) * 4, 3);
    } else {
      out[0] = out[1] = out[2] = 0;
    }
  }
  return true;
}

}  // namespace pxtiff
