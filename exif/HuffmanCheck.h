// Checking a Huffman table read from a DHT segment the way a decoder would
// build its lookup from it, so that a table no decoder could use is
// refused when the file is opened.
#pragma once

#include <cstdint>

#include "exif/ExifResult.h"

struct HuffmanLookup {
  int32_t valueOffset[17] = {};  // index of the first value of each length minus its first code
  int32_t maxCode[18] = {};      // largest code of each length, -1 for none; [17] is the sentinel
  uint8_t lookLength[256] = {};  // 8-bit lookahead: code length, 0 when longer than 8
  uint8_t lookValue[256] = {};
};

// counts: the 16 code counts; values: their symbols (sum of counts of them).
// 23 when the codes do not fit their lengths, there are more than 256, or
// a DC table holds a value above 15.
ExifResult DeriveHuffmanLookup(const uint8_t counts[16], const uint8_t* values, bool isDc,
                               HuffmanLookup* out);
