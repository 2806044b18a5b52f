// TIFF pictures (format id 6) on libtiff: the reader in PxImageTIF.cpp (its
// row helpers in PxImageTIFRows.cpp), the writer in PxImageTIFWrite.cpp, and
// the libtiff handle over a PxFile that both use in PxImageTIFClient.cpp, so
// TIFF data can live in any PxFile (a stream or a memory buffer).
//
// A strip or tile that cannot be read whole is a damaged decode: what was
// read stays, the rest of the picture is black, the decode succeeds with
// info.bDamaged set and the last-error text saying what was wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"

typedef struct tiff TIFF;

class PxFile;

class PxImageTIF : public PxImage {
 public:
  PxImageTIF();
  ~PxImageTIF() override;

  PxImageTIF(const PxImageTIF&) = delete;
  PxImageTIF& operator=(const PxImageTIF&) = delete;

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);

 private:
  bool EncodePage(TIFF* handle);
  void CloseHandle();
  // How the strip and tile loops turn a pixel of three or more samples into
  // colour: CIELab, RGB or CMYK; the first extra sample may be alpha, stored
  // straight or premultiplied.
  struct ColourRows {
    enum Model { kLab, kRgb, kCmyk } model = kLab;
    int alphaSample = -1;  // index of the alpha sample, -1 none
    bool premultiplied = false;
  };
  // How the samples lie in the strips and tiles: one plane per sample
  // (interleaved by the row loop before a pixel is made), and whether they
  // are floating-point values (grey or RGB, 32 or 64 bits).
  struct SampleLayout {
    bool separatePlanes = false;
    bool floating = false;
  };
  void ReadRgbaPage(TIFF* tif, bool withAlpha);
  // Returns how many rows from the top it may have written; the others are
  // still as Create handed them over (cleared).
  uint32_t ReadStripPage(TIFF* tif, uint16_t samples, uint16_t bits, uint16_t photometric,
                         uint32_t rowsPerStrip, ColourRows colour, SampleLayout layout);
  // Floating-point samples of the rows read, to 8 bits: values that all lie
  // in 0..1 are read as that range, others are stretched from their lowest
  // to their highest value.
  void StoreFloatRows(const std::vector<float>& values, uint16_t samples, uint32_t rows);
  // Puts the page upright by its Orientation tag, moving only the rows the
  // data reached (`rowsReached` from the top).
  void ApplyOrientation(uint16_t orientation, uint32_t rowsReached);

  TIFF* m_writeHandle = nullptr;
  int m_multiPage = 0;
  int m_pageCount = 0;
};

// Row helpers of the reader, exposed for the tests.
namespace pxtiff {

// ORs `bits` bits of `src` (most significant first) into `dst` from bit
// `at` on; nothing is written at or past `dstBytes`.
void OrBits(uint8_t* dst, size_t dstBytes, uint64_t at, const uint8_t* src, uint64_t bits);

// Copies `rows` rows of `rowBytes` each; after each row the destination
// advances by rowBytes + destSkip and the source by rowBytes + srcSkip.
void CopyTileRows(uint8_t* dest, const uint8_t* src, uint32_t rows, size_t rowBytes,
                  size_t destSkip, size_t srcSkip);

// Turns `count` samples of `bits` bits of one row into one byte each. Samples
// that are not byte-aligned come from a big-endian bit stream (top 8 bits
// kept); 24- and 32-bit samples are in host order, as libtiff hands them
// over. `srcBytes` bounds every read: samples past it become 0. Returns false
// for a sample width this reader does not handle (0 or above 32 bits).
bool UnpackSamplesToBytes(uint8_t* dest, const uint8_t* src, size_t srcBytes, uint32_t count,
                          uint32_t bits);

// Writes blue, green, red of palette[index] for each of `count` samples of
// `bits` bits (9 to 24). Indices at or past `paletteSize` give black.
bool ExpandPaletteSamples(uint8_t* dest, const uint8_t* src, size_t srcBytes, uint32_t count,
                          uint32_t bits, const uint8_t* paletteBGRA, size_t paletteSize);

}  // namespace pxtiff
