// Mirrors, quarter and half turns, and colour inversion.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "imagelib/PxImage.h"
#include "imagelib/TransformSupport.h"

namespace {

// Whether n bytes are all 0. The transforms leave such runs alone: a
// picture's rows start cleared, and the rows a damaged file never reached
// are still untouched memory that writing zeros over would only bring in.
bool AllZero(const uint8_t* p, size_t n) { return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0); }

}  // namespace

bool PxImage::FlipVertical() {
  if (!dib) return false;
  const size_t stride = info.rowStride;
  uint8_t* scratch = static_cast<uint8_t*>(std::malloc(stride));
  if (!scratch) return false;
  const uint32_t height = Height();
  for (uint32_t k = 0; k < height / 2; ++k) {
    uint8_t* a = RowAt(k);
    uint8_t* b = RowAt(height - 1 - k);
    if (AllZero(a, stride) && AllZero(b, stride)) continue;
    std::memcpy(scratch, a, stride);
    std::memcpy(a, b, stride);
    std::memcpy(b, scratch, stride);
  }
  std::free(scratch);
  FlipAlphaVertical();
  return true;
}

namespace {

// The pixel order of one byte of 1- or 4-bit pixels reversed.
uint8_t ReversePixelsInByte(uint8_t b, uint32_t bpp) {
  if (bpp == 4) return static_cast<uint8_t>((b << 4) | (b >> 4));
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Mirrors a row of packed 1- or 4-bit pixels in place: the bytes in
// reverse order, each byte's pixels reversed, then the row moved left over
// the padding bits that have come to its front.
void MirrorPackedRow(uint8_t* row, uint32_t width, uint32_t bpp) {
  const size_t bits = size_t{width} * bpp;
  const size_t bytes = (bits + 7) / 8;
  std::reverse(row, row + bytes);
  for (size_t i = 0; i < bytes; ++i) row[i] = ReversePixelsInByte(row[i], bpp);
  const uint32_t shift = static_cast<uint32_t>(bytes * 8 - bits);
  if (shift == 0) return;
  for (size_t i = 0; i + 1 < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] << shift | row[i + 1] >> (8 - shift));
  row[bytes - 1] = static_cast<uint8_t>(row[bytes - 1] << shift);
}

}  // namespace

// In place, row by row: a mirrored copy would double the memory a large
// picture needs (and a bit at a time, a large bilevel scan took seconds).
bool PxImage::FlipHorizontal() {
  if (!dib) return false;
  // The shared pixels of a borrowed image belong to its lender.
  if (IsBorrowed()) return false;
  const uint32_t width = Width();
  const uint32_t height = Height();
  const uint32_t bpp = Bpp();
  const size_t rowBytes = (size_t{width} * bpp + 7) / 8;
  for (uint32_t y = 0; y < height; ++y) {
    if (alpha) std::reverse(alpha + size_t{y} * width, alpha + size_t{y} * width + width);
    uint8_t* row = RowAt(y);
    if (AllZero(row, rowBytes)) continue;  // its mirror image is itself
    if (bpp == 8) {
      std::reverse(row, row + width);
    } else if (bpp == 24) {
      for (uint32_t a = 0; a < width / 2; ++a) {
        uint8_t* p = row + 3 * size_t{a};
        std::swap_ranges(p, p + 3, row + 3 * size_t{width - 1 - a});
      }
    } else {
      MirrorPackedRow(row, width, bpp);
    }
  }
  return true;
}

namespace {

// Copies one pixel between images of the same depth, by coordinates.
template <int kBpp>
inline void CopyPixel(const PxImage& from, uint32_t sx, uint32_t sy, PxImage& to, uint32_t dx, uint32_t dy) {
  const uint8_t* s = from.RowAt(sy);
  uint8_t* d = to.RowAt(dy);
  if constexpr (kBpp == 24) {
    std::memcpy(d + 3 * size_t{dx}, s + 3 * size_t{sx}, 3);
  } else if constexpr (kBpp == 8) {
    d[dx] = s[sx];
  } else if constexpr (kBpp == 4) {
    uint8_t v = (sx & 1) ? (s[sx >> 1] & 0x0F) : (s[sx >> 1] >> 4);
    uint8_t& b = d[dx >> 1];
    b = (dx & 1) ? static_cast<uint8_t>((b & 0xF0) | v) : static_cast<uint8_t>((b & 0x0F) | (v << 4));
  } else {
    // The destination block starts cleared, so set bits are all that need writing.
    if ((s[sx >> 3] >> (7 - (sx & 7))) & 1) d[dx >> 3] |= static_cast<uint8_t>(0x80 >> (dx & 7));
  }
}

// Walks the destination in 64 x 64 tiles so both images are touched in small
// blocks; `map` gives the source coordinates of a destination pixel.
template <int kBpp, class Map>
bool TurnTiles(const PxImage& from, PxImage& to, Map map, int32_t* progress, const int32_t* escape,
               bool progressByColumn) {
  const uint32_t newW = to.Width(), newH = to.Height();
  for (uint32_t bx = 0; bx < newW; bx += 64) {
    const uint32_t ex = bx + 64 < newW ? bx + 64 : newW;
    for (uint32_t by = 0; by < newH; by += 64) {
      if (*escape != 0) return false;
      *progress = static_cast<int32_t>(progressByColumn ? uint64_t{bx} * 100 / newW : uint64_t{by} * 100 / newH);
      const uint32_t ey = by + 64 < newH ? by + 64 : newH;
      for (uint32_t y = by; y < ey; ++y) {
        for (uint32_t x = bx; x < ex; ++x) {
          uint32_t sx, sy;
          map(x, y, &sx, &sy);
          CopyPixel<kBpp>(from, sx, sy, to, x, y);
        }
      }
    }
  }
  return true;
}

// Eight pixels of a 1-bit row from column p on, the leftmost in the high
// bit; columns outside 0..width-1 read as 0.
inline uint32_t EightBits(const uint8_t* row, int64_t p, uint32_t width) {
  if (p >= 0 && p + 8 <= width) {
    const size_t q = static_cast<size_t>(p >> 3);
    const uint32_t r = static_cast<uint32_t>(p & 7);
    if (r == 0) return row[q];
    return ((uint32_t{row[q]} << 8 | row[q + 1]) >> (8 - r)) & 0xFF;
  }
  uint32_t v = 0;
  for (int64_t c = p; c < p + 8; ++c) {
    v <<= 1;
    if (c >= 0 && c < width) v |= (row[c >> 3] >> (7 - (c & 7))) & 1u;
  }
  return v;
}

// Transposes an 8 x 8 bit block held one row per byte, the first row in the
// high byte and each row's first pixel in its high bit.
inline uint64_t TransposeBits(uint64_t x) {
  uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
  x = x ^ t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
  x = x ^ t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
  return x ^ t ^ (t << 28);
}

// A quarter turn of a 1-bit picture, eight rows by eight pixels at a time:
// a bit at a time a large bilevel scan takes seconds. The destination
// starts cleared and its row padding stays so.
bool TurnBits(const PxImage& from, PxImage& to, bool left, int32_t* progress, const int32_t* escape) {
  const uint32_t W = from.Width(), H = from.Height();
  const uint32_t newW = H, newH = W;
  const uint32_t blockColumns = (newW + 7) / 8;
  const size_t sourceBytes = (size_t{W} + 7) / 8;
  // Work goes in bands of 64 blocks (512 source rows) by 512 destination
  // rows. The band's source bytes are first copied side by side: rows of a
  // power-of-two stride would all fall into the same few cache sets.
  constexpr uint32_t kBand = 64;
  constexpr uint32_t kChunkBytes = 64;
  constexpr size_t kScratchStride = kChunkBytes + 2;
  std::vector<uint8_t> scratch;
  try {
    scratch.resize(8 * kBand * kScratchStride);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t band = 0; band < blockColumns; band += kBand) {
    if (*escape != 0) return false;
    *progress = static_cast<int32_t>(uint64_t{band} * 100 / blockColumns);
    const uint32_t bandEnd = std::min(blockColumns, band + kBand);
    for (uint32_t chunk = 0; chunk < newH; chunk += 8 * kChunkBytes) {
      const uint32_t chunkEnd = std::min(newH, chunk + 8 * kChunkBytes);
      // Source columns of destination rows chunk..chunkEnd-1.
      const int64_t firstColumn = left ? int64_t{chunk} : int64_t{W} - chunkEnd;
      const size_t firstByte = static_cast<size_t>(std::max<int64_t>(0, firstColumn - 8) / 8);
      const size_t copyBytes = std::min(sourceBytes - firstByte, kScratchStride);
      bool anySet = false;
      for (uint32_t x = 8 * band; x < 8 * bandEnd && x < newW; ++x) {
        const uint8_t* row = from.RowAt(left ? H - 1 - x : x);
        std::memcpy(&scratch[(x - 8 * band) * kScratchStride], row + firstByte, copyBytes);
        anySet = anySet || !AllZero(row + firstByte, copyBytes);
      }
      if (!anySet) continue;  // the destination is clear already
      const int64_t shift = int64_t(8 * firstByte);
      const uint32_t width = static_cast<uint32_t>(std::min<int64_t>(int64_t{W} - shift, 8 * int64_t(copyBytes)));
      const uint32_t bandRows = std::min(8 * bandEnd, newW) - 8 * band;
      for (uint32_t by = chunk; by < chunkEnd; by += 8) {
        // Destination rows by..by+7 (counted as the container counts them)
        // come from source columns by..by+7 (left turn) or W-8-by..W-1-by.
        const int64_t column = (left ? int64_t{by} : int64_t{W} - 8 - by) - shift;
        uint8_t* dest[8] = {};
        for (uint32_t j = 0; j < 8 && by + j < newH; ++j) dest[left ? j : 7 - j] = to.RowAt(by + j);
        const uint8_t* source = scratch.data();
        for (uint32_t bx = band; bx < bandEnd; ++bx, source += 8 * kScratchStride) {
          uint64_t block = 0;
          for (uint32_t k = 0; k < 8; ++k) {
            // Destination column 8 * bx + k: a source row.
            const uint32_t bits = 8 * (bx - band) + k < bandRows
                                      ? EightBits(source + k * kScratchStride, column, width)
                                      : 0;
            block = block << 8 | bits;
          }
          if (block == 0) continue;  // the destination is clear already
          block = TransposeBits(block);
          for (uint32_t row = 0; row < 8; ++row)
            if (dest[row]) dest[row][bx] = static_cast<uint8_t>(block >> (8 * (7 - row)));
        }
      }
    }
  }
  return true;
}

}  // namespace

bool PxImage::TurnQuarter(bool left) {
  if (!dib) return false;
  const uint32_t W = Width(), H = Height();
  PxImage temp;
  if (!StartTemporary(temp, *this, H, W, Bpp())) {
    SetLastError(temp.LastError());
    return false;
  }
  CopyPaletteInto(temp, *this);
  if (alpha) temp.CreateAlphaPlane();
  if (selection) {
    temp.selection = static_cast<uint8_t*>(std::calloc(size_t{W} * H, 1));
  }
  // Destination (x', y') from source: left (y', H-1-x'), right (W-1-y', x').
  auto map = [left, W, H](uint32_t x, uint32_t y, uint32_t* sx, uint32_t* sy) {
    if (left) {
      *sx = y;
      *sy = H - 1 - x;
    } else {
      *sx = W - 1 - y;
      *sy = x;
    }
  };
  switch (Bpp()) {
    case 24: TurnTiles<24>(*this, temp, map, &info.progress, &info.escape, left); break;
    case 8: TurnTiles<8>(*this, temp, map, &info.progress, &info.escape, left); break;
    case 4: TurnTiles<4>(*this, temp, map, &info.progress, &info.escape, left); break;
    default: TurnBits(*this, temp, left, &info.progress, &info.escape); break;
  }
  for (uint32_t y = 0; y < W && (alpha || selection); ++y) {
    for (uint32_t x = 0; x < H; ++x) {
      uint32_t sx, sy;
      map(x, y, &sx, &sy);
      const size_t from = size_t{sy} * W + sx, to = size_t{y} * H + x;
      if (alpha && temp.alpha) temp.alpha[to] = alpha[from];
      if (selection && temp.selection) temp.selection[to] = selection[from];
    }
  }
  const int32_t l = info.selectionLeft, t = info.selectionTop, r = info.selectionRight, b = info.selectionBottom;
  if (left) {
    temp.info.selectionLeft = static_cast<int32_t>(H) - t;
    temp.info.selectionRight = static_cast<int32_t>(H) - b;
    temp.info.selectionBottom = l;
    temp.info.selectionTop = r;
  } else {
    temp.info.selectionLeft = b;
    temp.info.selectionRight = t;
    temp.info.selectionBottom = static_cast<int32_t>(W) - r;
    temp.info.selectionTop = static_cast<int32_t>(W) - l;
  }
  temp.info.progress = info.progress;
  return AdoptFrom(temp, false);
}

bool PxImage::TurnLeft() { return TurnQuarter(true); }
bool PxImage::TurnRight() { return TurnQuarter(false); }

bool PxImage::Turn180() {
  if (!dib) return false;
  const uint32_t W = Width(), H = Height();
  PxImage temp;
  if (!StartTemporary(temp, *this, W, H, Bpp())) {
    SetLastError(temp.LastError());
    return false;
  }
  CopyPaletteInto(temp, *this);
  if (alpha) temp.CreateAlphaPlane();
  for (uint32_t y = 0; y < H && info.escape == 0; ++y) {
    info.progress = static_cast<int32_t>(uint64_t{y} * 100 / H);
    const uint32_t dy = H - 1 - y;
    for (uint32_t x = 0; x < W; ++x) {
      const uint32_t dx = W - 1 - x;
      switch (Bpp()) {
        case 24: CopyPixel<24>(*this, x, y, temp, dx, dy); break;
        case 8: CopyPixel<8>(*this, x, y, temp, dx, dy); break;
        case 4: CopyPixel<4>(*this, x, y, temp, dx, dy); break;
        default: CopyPixel<1>(*this, x, y, temp, dx, dy); break;
      }
    }
    if (alpha && temp.alpha) {
      const uint8_t* src = alpha + size_t{y} * W;
      uint8_t* dst = temp.alpha + size_t{dy} * W;
      for (uint32_t x = 0; x < W; ++x) dst[W - 1 - x] = src[x];
    }
  }
  // The turned picture carries no selection.
  std::free(temp.selection);
  temp.selection = nullptr;
  temp.info.progress = info.progress;
  return AdoptFrom(temp, false);
}

bool PxImage::InvertColors() {
  if (!dib) return false;
  const int32_t W = static_cast<int32_t>(Width()), H = static_cast<int32_t>(Height());
  auto clampX = [W](int32_t v) { return v < 0 ? 0 : v > W ? W : v; };
  auto clampY = [H](int32_t v) { return v < 0 ? 0 : v > H ? H : v; };
  const int32_t x0 = clampX(info.selectionLeft), x1 = clampX(info.selectionRight);
  const int32_t y0 = clampY(info.selectionBottom), y1 = clampY(info.selectionTop);

  if (Bpp() == 24) {
    if (selection) {
      for (int32_t y = y0; y < y1; ++y) {
        uint8_t* row = RowAt(static_cast<uint32_t>(y));
        const uint8_t* sel = selection + size_t(y) * size_t(W);
        for (int32_t x = x0; x < x1; ++x) {
          if (!sel[x]) continue;
          uint8_t* px = row + 3 * size_t(x);
          px[0] = static_cast<uint8_t>(255 - px[0]);
          px[1] = static_cast<uint8_t>(255 - px[1]);
          px[2] = static_cast<uint8_t>(255 - px[2]);
        }
      }
    } else {
      uint8_t* rows = info.pixels;
      const size_t bytes = ImageBytes();
      for (size_t i = 0; i < bytes; ++i) rows[i] = static_cast<uint8_t>(255 - rows[i]);
    }
    RGBQUAD& bg = info.backgroundColor;
    bg.rgbBlue = static_cast<uint8_t>(255 - bg.rgbBlue);
    bg.rgbGreen = static_cast<uint8_t>(255 - bg.rgbGreen);
    bg.rgbRed = static_cast<uint8_t>(255 - bg.rgbRed);
    return true;
  }
  if (!HasGrayPalette()) {
    RGBQUAD* pal = PaletteData();
    for (uint32_t i = 0; pal && i < PaletteSize(); ++i) {
      pal[i].rgbBlue = static_cast<uint8_t>(255 - pal[i].rgbBlue);
      pal[i].rgbGreen = static_cast<uint8_t>(255 - pal[i].rgbGreen);
      pal[i].rgbRed = static_cast<uint8_t>(255 - pal[i].rgbRed);
    }
    info.lastColorValid = false;
    return true;
  }
  // Identity grey ramp: complementing each index inverts the picture.
  if (selection) {
    const uint8_t top = static_cast<uint8_t>(PaletteSize() - 1);
    for (int32_t y = y0; y < y1; ++y) {
      const uint8_t* sel = selection + size_t(y) * size_t(W);
      for (int32_t x = x0; x < x1; ++x) {
        if (sel[x]) StorePixelIndexUnchecked(x, y, static_cast<uint8_t>(top - PixelIndexAtUnchecked(x, y)));
      }
    }
  } else {
    uint8_t* rows = info.pixels;
    const size_t bytes = ImageBytes();
    for (size_t i = 0; i < bytes; ++i) rows[i] = static_cast<uint8_t>(~rows[i]);
  }
  return true;
}
