// WBMP reader and writer. The header's integers are read at most five bytes
// long and never above INT32_MAX; the rows must all be in the file.
#include "imagelib/PxImageWBMP.h"

#include <cstring>
#include <vector>

#include "imagelib/CodecFileIo.h"
#include "imagelib/GrayLevel.h"

namespace {

enum class MultiByte { kOk, kEnd, kTooLong };

// Five 7-bit groups hold every 32-bit value; a longer number, or one above
// INT32_MAX, is no size a picture can have.
MultiByte ReadMultiByteInteger(PxFile* file, uint32_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < 5; ++i) {
    const int32_t b = file->GetByte();
    if (b < 0) return MultiByte::kEnd;
    v = (v << 7) | static_cast<uint32_t>(b & 0x7F);
    if ((b & 0x80) == 0) {
      if (v > INT32_MAX) return MultiByte::kTooLong;
      *value = static_cast<uint32_t>(v);
      return MultiByte::kOk;
    }
  }
  return MultiByte::kTooLong;
}

}  // namespace

bool WriteMultiByteInteger(PxFile* file, uint32_t value) {
  if (value > 127) {
    int shift = 7;
    while (shift < 28 && (value >> (shift + 7)) != 0) shift += 7;
    for (; shift > 0; shift -= 7) {
      if (!file->PutByte(static_cast<uint8_t>(((value >> shift) & 0x7F) | 0x80))) return false;
    }
  }
  return file->PutByte(static_cast<uint8_t>(value & 0x7F));
}

bool PxImageWBMP::Decode(PxFile* file) {
  if (!file) return false;
  uint32_t type = 0;
  const MultiByte typeRead = ReadMultiByteInteger(file, &type);
  if (typeRead == MultiByte::kEnd) return Fail("Not a WBMP");
  if (typeRead == MultiByte::kTooLong || type != 0) return Fail("Unsupported WBMP type");
  // The fixed header: bytes with bit 7 set continue it.
  for (;;) {
    const int32_t b = file->GetByte();
    if (b < 0) return Fail("Not a WBMP");
    if ((b & 0x80) == 0) break;
  }
  uint32_t width = 0, height = 0;
  const MultiByte w = ReadMultiByteInteger(file, &width);
  const MultiByte h = w == MultiByte::kOk ? ReadMultiByteInteger(file, &height) : w;
  if (w == MultiByte::kEnd || h == MultiByte::kEnd) return Fail("Not a WBMP");
  if (w != MultiByte::kOk || h != MultiByte::kOk) return Fail("Corrupted WBMP");
  header.biWidth = static_cast<int32_t>(width);
  header.biHeight = static_cast<int32_t>(height);
  if (width < 1 || height < 1) return Fail("Corrupted WBMP");

  if (info.escape == -1) {
    info.formatId = kFormatWbmp;
    return true;
  }

  const uint64_t rowBytes = (uint64_t{width} + 7) / 8;
  // Every row must be in the file before any pixel block is made for it.
  const int64_t left = pxio::BytesLeft(file);
  if (left >= 0 && rowBytes * height > static_cast<uint64_t>(left)) return Fail("Corrupted WBMP");
  if (!Create(width, height, 1, kFormatWbmp)) return Fail("WBMP Create failed");
  MakeGrayPalette();
  for (uint32_t row = 0; row < height; ++row) {
    if (!pxio::ReadExactly(file, RowAt(height - 1 - row), rowBytes)) return Fail("Corrupted WBMP");
  }
  info.formatId = kFormatWbmp;
  return true;
}

bool PxImageWBMP::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  if (Bpp() != 1) {
    SetLastError("Can't save this image as WBMP");
    return false;
  }
  auto fail = [this]() {
    SetLastError("error writing WBMP file");
    return false;
  };
  const uint32_t width = Width(), height = Height();
  if (!file->PutByte(0) || !file->PutByte(0) || !WriteMultiByteInteger(file, width) ||
      !WriteMultiByteInteger(file, height)) {
    return fail();
  }
  // The file's 0 is black: a palette whose first entry is the lighter one is
  // written with its bits inverted, so the picture looks as it does here.
  const RGBQUAD* pal = PaletteData();
  const bool invert = pal && GrayLevel(pal[0]) > GrayLevel(pal[1]);
  const size_t rowBytes = (size_t{width} + 7) / 8;
  const uint8_t lastMask = static_cast<uint8_t>(0xFF << ((8 - width % 8) % 8));
  std::vector<uint8_t> row(rowBytes);
  for (uint32_t y = height; y-- > 0;) {
    std::memcpy(row.data(), RowAt(y), rowBytes);
    if (invert) {
      for (uint8_t& b : row) b = static_cast<uint8_t>(~b);
    }
    row[rowBytes - 1] &= lastMask;  // the bits after the last pixel are 0
    if (!pxio::WriteExactly(file, row.data(), rowBytes)) return fail();
  }
  return pxio::Flushed(file) || fail();
}
