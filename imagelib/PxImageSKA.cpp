// SKA reader and writer. The reader puts each file row straight into its
// place (the file's first row is the top), so no row is moved twice; the
// writer writes every pixel's index itself, whatever the depth below 8, and
// never changes the image it is given.
#include "imagelib/PxImageSKA.h"

#include <cstring>
#include <vector>

#include "imagelib/CodecFileIo.h"
#include "platform/byteorder.h"

namespace {

constexpr size_t kHeaderBytes = 9;
constexpr size_t kPaletteBytes = 256 * 3;
constexpr uint8_t kMagic[4] = {0, 0, 0, 1};

}  // namespace

bool PxImageSKA::Decode(PxFile* file) {
  if (!file) return false;
  uint8_t head[kHeaderBytes];
  // A header that is not an SKA header is said so: the caller that named
  // this format learns why it failed.
  if (!pxio::ReadExactly(file, head, sizeof head)) {
    SetLastError("Not an SKA file");
    return false;
  }
  const uint32_t width = pw::LoadLE16(head), height = pw::LoadLE16(head + 2);
  if (std::memcmp(head + 5, kMagic, sizeof kMagic) != 0 || (width & 0x8000) || (height & 0x8000) ||
      head[4] != 3) {
    SetLastError("Not an SKA file");
    return false;
  }
  if (info.escape == -1) {
    info.formatId = kFormatSka;
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    return true;
  }
  auto fail = [this]() {
    SetLastError("corrupted SKA");
    return false;
  };
  const int64_t left = pxio::BytesLeft(file);
  if (left >= 0 && kPaletteBytes + uint64_t{width} * height > static_cast<uint64_t>(left)) return fail();
  if (!Create(width, height, 8, kFormatSka)) return false;
  uint8_t palette[kPaletteBytes];
  if (!pxio::ReadExactly(file, palette, sizeof palette)) return fail();
  LoadPaletteFromTriples(palette, 256);
  for (uint32_t row = 0; row < height; ++row) {
    if (!pxio::ReadExactly(file, RowAt(height - 1 - row), width)) return fail();
  }
  return true;
}

bool PxImageSKA::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  if (Bpp() > 8) {
    SetLastError("SKA Images must be 8 bit or less");
    return false;
  }
  const uint32_t width = Width(), height = Height();
  if (width >= 0x8000 || height >= 0x8000) {
    SetLastError("SKA Images must be less than 32768 pixels wide and high");
    return false;
  }
  auto fail = [this]() {
    SetLastError("error writing SKA file");
    return false;
  };
  uint8_t head[kHeaderBytes];
  pw::StoreLE16(head, static_cast<uint16_t>(width));
  pw::StoreLE16(head + 2, static_cast<uint16_t>(height));
  head[4] = 3;
  std::memcpy(head + 5, kMagic, sizeof kMagic);
  if (!pxio::WriteExactly(file, head, sizeof head)) return fail();

  // A smaller palette fills the first entries; the rest stay black.
  uint8_t palette[kPaletteBytes] = {};
  const RGBQUAD* pal = PaletteData();
  for (uint32_t i = 0; i < PaletteSize() && i < 256; ++i) {
    palette[3 * i] = pal[i].rgbRed;
    palette[3 * i + 1] = pal[i].rgbGreen;
    palette[3 * i + 2] = pal[i].rgbBlue;
  }
  if (!pxio::WriteExactly(file, palette, sizeof palette)) return fail();

  std::vector<uint8_t> row(width);
  for (uint32_t y = height; y-- > 0;) {
    if (Bpp() == 8) {
      std::memcpy(row.data(), RowAt(y), width);
    } else {
      for (uint32_t x = 0; x < width; ++x) {
        row[x] = PixelIndexAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(y));
      }
    }
    if (!pxio::WriteExactly(file, row.data(), width)) return fail();
  }
  return pxio::Flushed(file) || fail();
}
