// What the TIFF reader and writer share, and only they: the libtiff handle
// over a PxFile and the sample helpers behind the reader's row loops.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>

class PxFile;

namespace pxtiff {

// A libtiff handle whose reads, writes and seeks go to `file`; libtiff's
// own messages are swallowed, but each error message adds one to
// `*errorCount` when it is given (it must outlive the handle). Null when
// libtiff refuses.
TIFF* OpenClient(PxFile* file, const char* mode, int* errorCount = nullptr);

// Closes the handle it holds when it goes.
struct TiffCloser {
  TIFF* tif = nullptr;
  ~TiffCloser() {
    if (tif) TIFFClose(tif);
  }
};

// The sample at `index` of `bits` bits from a big-endian bit stream of
// `bytes` bytes; bits past the end read as 0.
uint32_t BitStreamSample(const uint8_t* src, size_t bytes, uint64_t index, uint32_t bits);
// `n` bytes in host (little-endian) order.
uint32_t LoadHost(const uint8_t* p, size_t n);
// Leading zero bits of the low byte of v (8 for 0).
int LeadingZeros8(uint32_t v);
// CIELab (8-bit L*, signed a* and b*) to sRGB blue, green, red, D65 white.
void LabToBGR(const uint8_t* lab, uint8_t* bgr);
// 8-bit cyan, magenta, yellow, black to blue, green, red, as libtiff's RGBA
// reader converts them.
void CmykToBGR(const uint8_t* cmyk, uint8_t* bgr);
// Three colour bytes premultiplied by `alpha` made straight again (left as
// they are at alpha 0, which shows no colour).
void Unpremultiply(uint8_t* colour, uint8_t alpha);

}  // namespace pxtiff
