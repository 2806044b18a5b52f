// Checking a Huffman table read from a DHT segment the way a decoder would
// build its lookup from it, so that a table no decoder could use is
// refused when the file is opened.
#include "exif/ExifJpegCodec.h"

ExifResult DeriveHuffmanLookup(const uint8_t counts[16], const uint8_t* values, bool isDc,
                               HuffmanLookup* out) {
  uint8_t sizes[257];
  uint32_t codes[257];
  int total = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < counts[len - 1]; ++i) {
      if (total >= 256) return kExifBadHuffman;
      sizes[total++] = static_cast<uint8_t>(len);
    }
  }
  // Canonical codes: consecutive within a length, doubled for the next.
  // A code that no longer fits its length means the counts overflow the
  // code space, which a lookup table built from them would overrun.
  uint32_t code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    while (k < total && sizes[k] == len) codes[k++] = code++;
    if (code >= (1u << len)) return kExifBadHuffman;  // the all-ones code is reserved too
    code <<= 1;
  }
  k = 0;
  for (int len = 1; len <= 16; ++len) {
    if (counts[len - 1]) {
      out->valueOffset[len] = k - static_cast<int32_t>(codes[k]);
      k += counts[len - 1];
      out->maxCode[len] = static_cast<int32_t>(codes[k - 1]);
    } else {
      out->maxCode[len] = -1;
    }
  }
  out->maxCode[17] = -1;  // sentinel: no code is longer than 16 bits
  k = 0;
  for (int len = 1; len <= 8; ++len) {
    for (int i = 0; i < counts[len - 1]; ++i, ++k) {
      const uint32_t first = codes[k] << (8 - len);
      for (uint32_t j = 0; j < (1u << (8 - len)); ++j) {
        out->lookLength[first + j] = static_cast<uint8_t>(len);
        out->lookValue[first + j] = values[k];
      }
    }
  }
  if (isDc) {
    for (int i = 0; i < total; ++i) {
      if (values[i] > 15) return kExifBadHuffman;
    }
  }
  return kExifOk;
}
