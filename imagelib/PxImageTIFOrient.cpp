// The TIFF reader's last step: a strip-read page put upright by its
// Orientation tag. A damaged page whose data ended early holds its rows
// only at the top; the rest is still the cleared block Create handed over.
// Turning or mirroring the whole picture would bring all of that memory in
// (on a tiny hostile file claiming gigapixels, most of the time the read
// takes), so only the rows the data reached are moved.
#include <cstring>

#include "imagelib/PxImageTIF.h"
#include "imagelib/PxImageTIFWork.h"
#include "imagelib/TransformSupport.h"

namespace {

// TIFF Orientation values: where row 0 and column 0 of the stored picture lie.
enum : uint16_t {
  kTopLeft = 1, kTopRight, kBottomRight, kBottomLeft, kLeftTop, kRightTop, kRightBottom, kLeftBottom
};

bool AllZero(const uint8_t* p, size_t n) { return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0); }

// The orientation's transforms. Orientation 6 turns clockwise and 8
// counter-clockwise, as the EXIF orientation fix-up does. 5 is a clockwise
// turn then a left-right mirror, the same as a top-bottom mirror (in place)
// then the turn; likewise 7: no orientation costs more than one turn.
void Upright(PxImage& image, uint16_t orientation) {
  switch (orientation) {
    case kTopRight:
      image.FlipHorizontal();
      break;
    case kBottomRight:
      image.FlipVertical();
      image.FlipHorizontal();
      break;
    case kBottomLeft:
      image.FlipVertical();
      break;
    case kLeftTop:
      image.FlipVertical();
      image.TurnRight();
      break;
    case kRightTop:
      image.TurnRight();
      break;
    case kRightBottom:
      image.FlipVertical();
      image.TurnLeft();
      break;
    case kLeftBottom:
      image.TurnLeft();
      break;
    default:
      break;
  }
}

}  // namespace

// ORs `bits` bits of `src` (most significant first) into `dst` from bit
// `at` on; nothing is written at or past `dstBytes`.
void pxtiff::OrBits(uint8_t* dst, size_t dstBytes, uint64_t at, const uint8_t* src, uint64_t bits) {
  const size_t first = static_cast<size_t>(at / 8);
  const unsigned shift = static_cast<unsigned>(at % 8);
  const size_t n = static_cast<size_t>((bits + 7) / 8);
  for (size_t i = 0; i < n && first + i < dstBytes; ++i) {
    if (src[i] == 0) continue;
    dst[first + i] |= static_cast<uint8_t>(src[i] >> shift);
    if (shift != 0 && first + i + 1 < dstBytes) dst[first + i + 1] |= static_cast<uint8_t>(src[i] << (8 - shift));
  }
}

void PxImageTIF::ApplyOrientation(uint16_t orientation, uint32_t rowsReached) {
  const uint32_t w = Width(), h = Height(), bpp = Bpp();
  if (orientation < kTopRight || orientation > kLeftBottom) return;
  // An alpha plane starts opaque, not cleared: the whole picture moves.
  if (rowsReached >= h || alpha) {
    Upright(*this, orientation);
    return;
  }
  const size_t rowBytes = (size_t{w} * bpp + 7) / 8;
  // The reached rows (top first) as a picture of their own, put upright.
  PxImage part;
  if (rowsReached > 0) {
    if (!StartTemporary(part, *this, w, rowsReached, bpp)) return;
    CopyPaletteInto(part, *this);
    for (uint32_t t = 0; t < rowsReached; ++t)
      std::memcpy(part.RowAt(rowsReached - 1 - t), RowAt(h - 1 - t), rowBytes);
    Upright(part, orientation);
  }

  if (orientation <= kBottomLeft) {
    // Same size: the part goes back at the top (2) or the bottom (3, 4).
    for (uint32_t t = 0; t < rowsReached; ++t) std::memset(RowAt(h - 1 - t), 0, rowBytes);
    for (uint32_t r = 0; r < rowsReached; ++r) {
      // Container rows count from the bottom: the part's row r lands on
      // row r of the picture's bottom rows, or on the top rows' row.
      const uint32_t y = orientation == kTopRight ? h - rowsReached + r : r;
      std::memcpy(RowAt(y), part.RowAt(r), rowBytes);
    }
    return;
  }

  // Turned: the part's columns are the new picture's leftmost (5, 8) or
  // rightmost (6, 7) columns; everything else stays cleared.
  PxImage turned;
  if (!StartTemporary(turned, *this, h, w, bpp)) return;
  CopyPaletteInto(turned, *this);
  const uint64_t firstBit =
      (orientation == kRightTop || orientation == kRightBottom) ? uint64_t{h - rowsReached} * bpp : 0;
  const uint64_t partBits = uint64_t{rowsReached} * bpp;
  const size_t partBytes = static_cast<size_t>((partBits + 7) / 8);
  for (uint32_t y = 0; y < w && rowsReached > 0; ++y) {
    const uint8_t* src = part.RowAt(y);
    if (AllZero(src, partBytes)) continue;  // the new row is clear already
    pxtiff::OrBits(turned.RowAt(y), turned.RowStride(), firstBit, src, partBits);
  }
  turned.info.progress = info.progress;
  AdoptFrom(turned, false);
}
