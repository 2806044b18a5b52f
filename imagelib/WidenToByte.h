// Samples of fewer than 8 bits (5-bit BMP and TGA channels, the short
// fields of bitfield masks) made 8 bits wide.
#pragma once

#include <cstdint>

// `value` of `bits` bits (1 to 8) with its bits repeated down the byte, as
// the peers widen them: the field's full value is 255 and 0 stays 0.
inline uint8_t WidenToByte(uint32_t value, int bits) {
  uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << bits) | value;
    filled += bits;
  }
  return static_cast<uint8_t>(out >> (filled - 8));
}
