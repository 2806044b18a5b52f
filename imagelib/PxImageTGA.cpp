// TGA reader and writer. Colour-map entries are read at their stored size
// and placed from the map's first index on; run-length packets may cross
// rows and are carried from one row to the next; every read is checked, so
// a short file fails with "corrupted TGA" instead of leaving rows unread.
#include "imagelib/PxImageTGA.h"

#include <cstring>
#include <vector>

#include "imagelib/CodecFileIo.h"
#include "platform/byteorder.h"

void LoadTgaHeader(const uint8_t* b, TgaHeader* out) {
  out->idLength = b[0];
  out->colorMapType = b[1];
  out->imageType = b[2];
  out->colorMapFirst = pw::LoadLE16(b + 3);
  out->colorMapLength = pw::LoadLE16(b + 5);
  out->colorMapEntrySize = b[7];
  out->xOrigin = pw::LoadLE16(b + 8);
  out->yOrigin = pw::LoadLE16(b + 10);
  out->width = pw::LoadLE16(b + 12);
  out->height = pw::LoadLE16(b + 14);
  out->pixelDepth = b[16];
  out->descriptor = b[17];
}

void StoreTgaHeader(const TgaHeader& in, uint8_t* b) {
  b[0] = in.idLength;
  b[1] = in.colorMapType;
  b[2] = in.imageType;
  pw::StoreLE16(b + 3, in.colorMapFirst);
  pw::StoreLE16(b + 5, in.colorMapLength);
  b[7] = in.colorMapEntrySize;
  pw::StoreLE16(b + 8, in.xOrigin);
  pw::StoreLE16(b + 10, in.yOrigin);
  pw::StoreLE16(b + 12, in.width);
  pw::StoreLE16(b + 14, in.height);
  b[16] = in.pixelDepth;
  b[17] = in.descriptor;
}

namespace {

uint32_t BytesPerPixel(uint8_t depth) { return (depth + 7u) / 8u; }

// A 15- or 16-bit value as blue, green, red; the top bit is not colour.
// Each 5-bit channel is scaled to 0..255 (rounded down, as the peers read
// these files): 31 is 255.
uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>((v & 0x1F) * 255 / 31); }
void Unpack555(uint16_t v, uint8_t* bgr) {
  bgr[0] = Widen5(v);
  bgr[1] = Widen5(v >> 5);
  bgr[2] = Widen5(v >> 10);
}

bool ValidEntrySize(uint8_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

void PxImageTGA::StoreTgaPixel(const TgaHeader& head, const uint8_t* value, uint32_t x, uint32_t row) {
  uint8_t* dst = RowAt(row);
  switch (head.pixelDepth) {
    case 8:
      dst[x] = value[0];
      break;
    case 15:
    case 16:
      Unpack555(pw::LoadLE16(value), dst + 3 * size_t{x});
      break;
    case 24:
      std::memcpy(dst + 3 * size_t{x}, value, 3);
      break;
    default:  // 32
      std::memcpy(dst + 3 * size_t{x}, value, 3);
      if (alpha) alpha[size_t{row} * Width() + x] = value[3];
      break;
  }
}

bool PxImageTGA::ReadTgaRawRow(const TgaHeader& head, PxFile* file, uint32_t count, uint32_t row,
                               uint32_t first) {
  const uint32_t bpp = BytesPerPixel(head.pixelDepth);
  uint8_t buffer[4 * 256];
  while (count > 0) {
    const uint32_t n = count < 256 ? count : 256;
    if (!pxio::ReadExactly(file, buffer, size_t{n} * bpp)) return false;
    for (uint32_t i = 0; i < n; ++i) StoreTgaPixel(head, buffer + size_t{i} * bpp, first + i, row);
    first += n;
    count -= n;
  }
  return true;
}

bool PxImageTGA::ReadTgaRleRow(const TgaHeader& head, PxFile* file, uint32_t row, TgaRleState* state) {
  const uint32_t width = Width();
  const uint32_t bpp = BytesPerPixel(head.pixelDepth);
  uint32_t x = 0;
  while (x < width) {
    if (state->left == 0) {
      const int32_t h = file->GetByte();
      if (h < 0) return false;
      state->run = h >= 128;
      state->left = state->run ? static_cast<uint32_t>(h) - 127 : static_cast<uint32_t>(h) + 1;
      if (state->run && !pxio::ReadExactly(file, state->value, bpp)) return false;
    }
    const uint32_t n = state->left < width - x ? state->left : width - x;
    if (state->run) {
      for (uint32_t i = 0; i < n; ++i) StoreTgaPixel(head, state->value, x + i, row);
    } else if (!ReadTgaRawRow(head, file, n, row, x)) {
      return false;
    }
    state->left -= n;
    x += n;
  }
  return true;
}

bool PxImageTGA::Decode(PxFile* file) {
  if (!file) return false;
  uint8_t raw[kTgaHeaderBytes];
  if (!pxio::ReadExactly(file, raw, sizeof raw)) return Fail("Not a TGA");
  TgaHeader head;
  LoadTgaHeader(raw, &head);

  bool rle = false;
  switch (head.imageType) {
    case 1: case 2: case 3: break;
    case 9: case 10: case 11: rle = true; break;
    default: return Fail("Unknown TGA image type");
  }
  const bool mapped = head.imageType == 1 || head.imageType == 9;
  const bool grey = head.imageType == 3 || head.imageType == 11;
  const uint8_t depth = head.pixelDepth;
  if (head.width == 0 || head.height == 0 || depth == 0 || head.colorMapLength > 256 ||
      (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)) {
    return Fail("bad TGA header");
  }
  // Indices and grey values are bytes; a map must say how big its entries are.
  if ((mapped || grey) && depth != 8) return Fail("bad TGA header");
  if (head.colorMapType > 1) return Fail("bad TGA header");
  if (head.colorMapType == 1 && head.colorMapLength > 0 && !ValidEntrySize(head.colorMapEntrySize)) {
    return Fail("bad TGA header");
  }
  // A colour-mapped picture without its map has no colours at all: decoding
  // it would give a black picture, and try-all would never reach the format
  // the bytes really are (a WBMP of width 9 reads as such a header).
  if (mapped && (head.colorMapType != 1 || head.colorMapLength == 0)) {
    return Fail("TGA colour map missing");
  }
  // Every stored map entry must land on an index a byte can name.
  if (mapped && uint32_t{head.colorMapFirst} + head.colorMapLength > 256) return Fail("bad TGA header");

  if (info.escape == -1) {
    header.biWidth = head.width;
    header.biHeight = head.height;
    info.formatId = kFormatTga;
    return true;
  }

  if (!pxio::Skip(file, head.idLength)) return Fail("corrupted TGA");
  const uint32_t mapEntries = head.colorMapType == 1 ? head.colorMapLength : 0;
  const uint32_t mapEntryBytes = BytesPerPixel(head.colorMapEntrySize);

  // The file must be able to hold the picture before its block is made:
  // stored pixels for an uncompressed file, at least one packet per 128
  // pixels for a run-length one.
  const uint32_t bpp = BytesPerPixel(depth);
  const uint64_t pixels = uint64_t{head.width} * head.height;
  const uint64_t needed =
      uint64_t{mapEntries} * mapEntryBytes + (rle ? (pixels + 127) / 128 * (1 + bpp) : pixels * bpp);
  const int64_t left = pxio::BytesLeft(file);
  if (left >= 0 && needed > static_cast<uint64_t>(left)) return Fail("corrupted TGA");

  if (!Create(head.width, head.height, depth, kFormatTga)) return Fail("TGA Create failed");
  if (depth == 32 && !CreateAlphaPlane()) return Fail("TGA Create failed");
  if (info.escape != 0) return Fail("Cancelled");

  if (mapEntries > 0) {
    std::vector<uint8_t> map(size_t{mapEntries} * mapEntryBytes);
    if (!pxio::ReadExactly(file, map.data(), map.size())) return Fail("corrupted TGA");
    if (mapped) {
      for (uint32_t i = 0; i < mapEntries; ++i) {
        const uint32_t index = uint32_t{head.colorMapFirst} + i;
        if (index >= 256) break;
        const uint8_t* e = map.data() + size_t{i} * mapEntryBytes;
        uint8_t bgr[3];
        if (mapEntryBytes == 2) Unpack555(pw::LoadLE16(e), bgr);
        else std::memcpy(bgr, e, 3);
        StorePaletteEntry(static_cast<uint8_t>(index), bgr[2], bgr[1], bgr[0]);
      }
    }
  }
  if (grey) MakeGrayPalette();

  const bool topDown = (head.descriptor & 0x20) != 0;
  TgaRleState state;
  for (uint32_t i = 0; i < head.height; ++i) {
    if (info.escape != 0) return Fail("Cancelled");
    const uint32_t row = topDown ? head.height - 1 - i : i;
    const bool ok = rle ? ReadTgaRleRow(head, file, row, &state) : ReadTgaRawRow(head, file, head.width, row, 0);
    if (!ok) return Fail("corrupted TGA");
  }
  if ((head.descriptor & 0x10) != 0 && !FlipHorizontal()) return Fail("TGA Create failed");
  return true;
}

bool PxImageTGA::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  if (Bpp() < 8) {
    SetLastError("Bit depth must be 8 or 24");
    return false;
  }
  const uint32_t width = Width(), height = Height();
  if (width > 0xFFFF || height > 0xFFFF) {
    SetLastError("TGA Images must be at most 65535 pixels wide and high");
    return false;
  }
  auto fail = [this]() {
    SetLastError("error writing TGA file");
    return false;
  };
  const bool palette = PaletteSize() > 0;
  const bool withAlpha = !palette && alpha != nullptr;
  TgaHeader head{};
  head.colorMapType = palette ? 1 : 0;
  head.imageType = Bpp() == 8 ? 1 : 2;
  head.colorMapLength = Bpp() == 8 ? 256 : 0;
  head.colorMapEntrySize = Bpp() == 8 ? 24 : 0;
  head.width = static_cast<uint16_t>(width);
  head.height = static_cast<uint16_t>(height);
  head.pixelDepth = static_cast<uint8_t>(withAlpha ? 32 : Bpp());
  head.descriptor = withAlpha ? 8 : 0;  // bottom-left origin; 8 alpha bits when there are any
  uint8_t raw[kTgaHeaderBytes];
  StoreTgaHeader(head, raw);
  if (!pxio::WriteExactly(file, raw, sizeof raw)) return fail();

  if (Bpp() == 8) {
    uint8_t map[256 * 3];
    const RGBQUAD* pal = PaletteData();
    for (uint32_t i = 0; i < 256; ++i) {
      map[3 * i] = pal[i].rgbBlue;
      map[3 * i + 1] = pal[i].rgbGreen;
      map[3 * i + 2] = pal[i].rgbRed;
    }
    if (!pxio::WriteExactly(file, map, sizeof map)) return fail();
  }

  if (!withAlpha) {
    const size_t rowBytes = size_t{Bpp() / 8} * width;
    for (uint32_t y = 0; y < height; ++y) {
      if (!pxio::WriteExactly(file, RowAt(y), rowBytes)) return fail();
    }
  } else {
    std::vector<uint8_t> row(size_t{width} * 4);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* src = RowAt(y);
      const uint8_t* a = alpha + size_t{y} * width;
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(&row[4 * size_t{x}], src + 3 * size_t{x}, 3);
        row[4 * size_t{x} + 3] = a[x];
      }
      if (!pxio::WriteExactly(file, row.data(), row.size())) return fail();
    }
  }
  return pxio::Flushed(file) || fail();
}
