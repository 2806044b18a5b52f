// Truevision TGA pictures (format id 7): colour-mapped, true-colour and grey,
// uncompressed or run-length encoded, are read; uncompressed files are
// written.
#pragma once

#include <cstdint>

#include "imagelib/PxImage.h"

struct TgaHeader {
  uint8_t idLength;
  uint8_t colorMapType;
  uint8_t imageType;         // 1 mapped, 2 true colour, 3 grey; 9, 10, 11 the same RLE
  uint16_t colorMapFirst;
  uint16_t colorMapLength;
  uint8_t colorMapEntrySize;
  uint16_t xOrigin;
  uint16_t yOrigin;
  uint16_t width;
  uint16_t height;
  uint8_t pixelDepth;
  uint8_t descriptor;        // bit 4 right-to-left, bit 5 top-to-bottom
};

constexpr size_t kTgaHeaderBytes = 18;

void LoadTgaHeader(const uint8_t* bytes, TgaHeader* out);   // 18 bytes in, little-endian
void StoreTgaHeader(const TgaHeader& in, uint8_t* bytes);   // 18 bytes out

// Where a run-length packet stands between rows: a packet may reach into
// the next row, which then goes on with it.
struct TgaRleState {
  uint32_t left = 0;         // pixels of the current packet still to come
  bool run = false;          // a run repeats `value`; a raw packet reads each pixel
  uint8_t value[4] = {0, 0, 0, 0};
};

class PxImageTGA : public PxImage {
 public:
  PxImageTGA() { InitDefaults(kFormatTga); }

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);

  // Reads `count` stored pixels into container row `row` from column
  // `first` on (alpha of 32-bit pixels into the alpha plane). False when the
  // file ends first.
  bool ReadTgaRawRow(const TgaHeader& head, PxFile* file, uint32_t count, uint32_t row, uint32_t first);
  // Fills container row `row` from run-length packets, carrying a packet
  // that does not end with the row in `state`. False when the file ends
  // first.
  bool ReadTgaRleRow(const TgaHeader& head, PxFile* file, uint32_t row, TgaRleState* state);

 private:
  void StoreTgaPixel(const TgaHeader& head, const uint8_t* value, uint32_t x, uint32_t row);
};
