// ICO reader and writer. An entry is a PNG stream when the PNG signature
// stands at its offset (whatever its size bytes say); a bitmap entry takes
// its size from its own info header. Every read is checked against the
// file, and a bitmap entry with a bit count other than 1, 4, 8, 24 or 32 is
// refused. A 32-bit entry's alpha is its transparency; in every other
// entry the AND mask becomes it: an alpha plane for true colour, a
// transparent palette index for palette entries where one can be found.
#include "imagelib/PxImageICO.h"

#include <cstring>
#include <new>
#include <vector>

#include "imagelib/CodecFileIo.h"
#include "platform/byteorder.h"

namespace {

constexpr size_t kDirectoryHeaderBytes = 6;
constexpr size_t kDirectoryEntryBytes = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct IcoEntry {
  uint8_t width;
  uint8_t height;
  uint8_t colorCount;
  uint16_t planes;
  uint16_t bitCount;
  uint32_t bytes;
  uint32_t offset;
};

IcoEntry LoadEntry(const uint8_t* b) {
  return IcoEntry{b[0], b[1], b[2], pw::LoadLE16(b + 4), pw::LoadLE16(b + 6), pw::LoadLE32(b + 8),
                  pw::LoadLE32(b + 12)};
}

bool ValidBitCount(uint32_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

}  // namespace

bool PxImageICO::Decode(PxFile* file) {
  if (!file) return false;
  const int64_t start = file->Position();
  uint8_t head[kDirectoryHeaderBytes];
  if (start < 0 || !pxio::ReadExactly(file, head, sizeof head)) return Fail("Not an ICO file");
  const uint16_t reserved = pw::LoadLE16(head), type = pw::LoadLE16(head + 2);
  const uint16_t count = pw::LoadLE16(head + 4);
  if (reserved != 0 || (type != 1 && type != 2)) return Fail("Not an ICO file");
  info.frameCount = count;

  std::vector<uint8_t> directory(size_t{count} * kDirectoryEntryBytes);
  const int64_t left = pxio::BytesLeft(file);
  if ((left >= 0 && directory.size() > static_cast<uint64_t>(left)) ||
      !pxio::ReadExactly(file, directory.data(), directory.size())) {
    return Fail("corrupted ICO");
  }
  if (info.frame < 0 || info.frame >= count) return Fail("ICO frame not present in file");
  const IcoEntry entry = LoadEntry(directory.data() + size_t(info.frame) * kDirectoryEntryBytes);

  const int64_t at = start + entry.offset;
  uint8_t signature[sizeof kPngSignature];
  if (at > INT32_MAX || !file->SeekTo(static_cast<int32_t>(at), 0) ||
      !pxio::ReadExactly(file, signature, sizeof signature) || !file->SeekTo(static_cast<int32_t>(at), 0)) {
    return Fail("corrupted ICO");
  }
  const bool png = std::memcmp(signature, kPngSignature, sizeof signature) == 0;
  const bool ok = png ? DecodePngEntry(file) : DecodeBitmapEntry(file);
  if (!ok) return false;
  info.frameCount = count;
  info.formatId = kFormatIco;
  return true;
}

bool PxImageICO::DecodePngEntry(PxFile* file) {
  PxImage entry;
  entry.info.escape = info.escape;
  if (!entry.Decode(file, kFormatPng)) {
    SetLastError(entry.LastError()[0] != '\0' ? entry.LastError() : "ICO: the PNG entry cannot be read");
    return false;
  }
  if (info.escape == -1) {
    header.biWidth = entry.header.biWidth;
    header.biHeight = entry.header.biHeight;
    return true;
  }
  const int32_t frame = info.frame;
  if (!AdoptFrom(entry, true)) return false;
  info.frame = frame;
  return true;
}

bool PxImageICO::DecodeBitmapEntry(PxFile* file) {
  uint8_t raw[kInfoHeaderBytes];
  if (!pxio::ReadExactly(file, raw, sizeof raw)) return Fail("corrupted ICO");
  BITMAPINFOHEADER bih;
  LoadInfoHeader(raw, &bih);
  HeaderToHostOrder(&bih);
  // Colour rows and mask rows share the height.
  if (bih.biSize < kInfoHeaderBytes || bih.biSize > 1024 || bih.biWidth <= 0 || bih.biHeight < 2) {
    return Fail("corrupted ICO");
  }
  if (!ValidBitCount(bih.biBitCount)) return Fail("ICO bit count not supported");
  const uint32_t width = static_cast<uint32_t>(bih.biWidth);
  const uint32_t height = static_cast<uint32_t>(bih.biHeight) / 2;
  if (info.escape == -1) {
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    return true;
  }
  if (!pxio::Skip(file, bih.biSize - kInfoHeaderBytes)) return Fail("corrupted ICO");

  const uint32_t bits = bih.biBitCount;
  const uint64_t colours = bih.biClrUsed != 0 ? bih.biClrUsed : (bits <= 8 ? (1u << bits) : 0);
  if (colours > 256) return Fail("corrupted ICO");
  const uint64_t stride = (uint64_t{width} * bits + 31) / 32 * 4;
  const uint64_t pixelBytes = bits == 32 ? uint64_t{width} * 4 * height : stride * height;
  const int64_t left = pxio::BytesLeft(file);
  if (left >= 0 && colours * 4 + pixelBytes > static_cast<uint64_t>(left)) return Fail("corrupted ICO");

  if (!Create(width, height, bits, kFormatIco)) return false;  // Create's own text

  if (colours > 0) {
    uint8_t palette[256 * 4];
    if (!pxio::ReadExactly(file, palette, colours * 4)) return Fail("corrupted ICO");
    RGBQUAD* pal = PaletteData();
    const uint32_t copied = colours < PaletteSize() ? static_cast<uint32_t>(colours) : PaletteSize();
    for (uint32_t i = 0; i < copied; ++i) pal[i] = RGBQUAD{palette[4 * i], palette[4 * i + 1], palette[4 * i + 2], 0};
    info.lastColorValid = false;
  }

  bool storedAlpha = false;  // a 32-bit entry with any alpha byte other than 0
  if (bits == 32) {
    if (!alpha && !CreateAlphaPlane()) return Fail("can't allocate memory");
    std::vector<uint8_t> row(size_t{width} * 4);
    for (uint32_t y = 0; y < height; ++y) {
      if (!pxio::ReadExactly(file, row.data(), row.size())) return Fail("corrupted ICO");
      uint8_t* dst = RowAt(y);
      uint8_t* a = alpha + size_t{y} * width;
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(dst + 3 * size_t{x}, &row[4 * size_t{x}], 3);
        a[x] = row[4 * size_t{x} + 3];
        storedAlpha = storedAlpha || a[x] != 0;
      }
    }
    // An entry's own alpha is its transparency: the AND mask is only what
    // older readers fall back on, and writers do not always keep it in step
    // (applied on top, it hid pixels other programs show, and an all-ones
    // mask inverted the picture). An alpha channel of zeros is an old
    // 32-bit entry without alpha: its mask is all it has.
    if (storedAlpha) return true;
    DeleteAlphaPlane();
  } else if (!pxio::ReadExactly(file, info.pixels, ImageBytes())) {
    return Fail("corrupted ICO");
  }

  // A file that ends before its mask still gives its pixels, opaque as
  // stored; it is marked damaged, so nothing overwrites the original with it.
  const uint32_t maskRowBytes = (width + 31) / 32 * 4;
  std::vector<uint8_t> mask(size_t{maskRowBytes} * height);
  if (!pxio::ReadExactly(file, mask.data(), mask.size())) {
    info.bDamaged = true;
    return true;
  }
  ApplyAndMask(mask.data(), maskRowBytes, bits);
  return true;
}

void PxImageICO::ApplyAndMask(const uint8_t* mask, uint32_t maskRowBytes, uint32_t bitCount) {
  const uint32_t width = Width(), height = Height();
  const size_t maskBytes = size_t{maskRowBytes} * height;
  bool allSet = true;
  for (size_t i = 0; i < maskBytes && allSet; ++i) allSet = mask[i] == 255;
  if (allSet) {
    info.backgroundIndex = 0;
    InvertColors();
    return;
  }
  auto masked = [&](uint32_t x, uint32_t y) {
    return (mask[size_t{y} * maskRowBytes + x / 8] & (0x80 >> (x & 7))) != 0;
  };
  uint64_t maskedCount = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) maskedCount += masked(x, y) ? 1 : 0;
  if (maskedCount == 0) return;  // nothing is transparent

  if (!alpha && !CreateAlphaPlane()) return;
  bool first = true, oneColour = true;
  RGBQUAD v{};
  uint8_t u = 0;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (!masked(x, y)) continue;
      alpha[size_t{y} * width + x] = 0;
      const RGBQUAD c = PixelColorAt(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
      if (first) {
        v = c;
        u = PixelIndexAt(static_cast<int32_t>(x), static_cast<int32_t>(y));
        first = false;
      } else if (!SameQuad(c, v)) {
        oneColour = false;
      }
    }
  }
  if (oneColour) {
    if (bitCount > 8) return;  // the alpha plane says it all
    info.backgroundColor = v;
    info.backgroundIndex = u < PaletteSize() ? u : 0;
    DeleteAlphaPlane();
  }
  if (bitCount > 8) return;

  // A palette index no pixel uses can stand for the masked pixels alone.
  bool used[256] = {};
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      used[PixelIndexAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(y))] = true;
  int32_t unused = -1;
  for (int32_t k = static_cast<int32_t>(PaletteSize()) - 1; k >= 0; --k) {
    if (!used[k]) {
      unused = k;
      break;
    }
  }
  if (unused < 0) return;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      if (masked(x, y)) StorePixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<uint8_t>(unused));
  info.backgroundIndex = unused;
  DeleteAlphaPlane();
}

bool PxImageICO::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  if (Bpp() <= 8 && PaletteSize() == 0) return false;
  const uint32_t width = Width(), height = Height();
  const uint32_t paletteSize = PaletteSize();
  const bool withAlpha = Bpp() == 24 && alpha != nullptr;
  const uint32_t bitCount = withAlpha ? 32 : Bpp();
  const uint32_t maskRowBytes = (width + 31) / 32 * 4;
  const uint64_t maskBytes = uint64_t{maskRowBytes} * height;
  const uint64_t imageBytes = withAlpha ? uint64_t{width} * height * 4 : ImageBytes();
  uint64_t entryBytes = imageBytes + 4 * uint64_t{paletteSize} + maskBytes + kInfoHeaderBytes;
  if (entryBytes > UINT32_MAX - 22) return Fail("ICO Images must be smaller than 4 GB");

  // Sides above 255 do not fit the entry's size bytes: such a picture is
  // stored as a PNG stream.
  const bool png = width > 255 || height > 255;
  PxMemFile pngData;
  if (png) {
    if (!pngData.Open()) return Fail("can't allocate memory");
    if (!PxImage::Encode(&pngData, kFormatPng)) return Fail("ICO: the PNG entry cannot be written");
    if (!pngData.Buffer()) return Fail("can't allocate memory");
    entryBytes = static_cast<uint32_t>(pngData.DataSize());
  }

  uint8_t head[kDirectoryHeaderBytes + kDirectoryEntryBytes] = {};
  pw::StoreLE16(head + 2, 1);
  pw::StoreLE16(head + 4, 1);
  uint8_t* e = head + kDirectoryHeaderBytes;
  e[0] = png ? 0 : static_cast<uint8_t>(width);
  e[1] = png ? 0 : static_cast<uint8_t>(height);
  e[2] = static_cast<uint8_t>(paletteSize);
  pw::StoreLE16(e + 4, 0);
  pw::StoreLE16(e + 6, static_cast<uint16_t>(bitCount));
  pw::StoreLE32(e + 8, static_cast<uint32_t>(entryBytes));
  pw::StoreLE32(e + 12, sizeof head);
  if (!pxio::WriteExactly(file, head, sizeof head)) return Fail("error writing ICO file");
  dataOffset_ = static_cast<uint32_t>(sizeof head + entryBytes);

  if (png) {
    if (!pxio::WriteExactly(file, pngData.Buffer(), static_cast<size_t>(pngData.DataSize()))) {
      return Fail("error writing ICO file");
    }
    return pxio::Flushed(file) || Fail("error writing ICO file");
  }

  BITMAPINFOHEADER bih{};
  bih.biSize = kInfoHeaderBytes;
  bih.biWidth = static_cast<int32_t>(width);
  bih.biHeight = static_cast<int32_t>(height * 2);
  bih.biPlanes = 1;
  bih.biBitCount = static_cast<uint16_t>(bitCount);
  bih.biSizeImage = static_cast<uint32_t>(imageBytes);
  uint8_t infoBytes[kInfoHeaderBytes];
  StoreInfoHeader(bih, infoBytes);
  if (!pxio::WriteExactly(file, infoBytes, sizeof infoBytes)) return Fail("error writing ICO file");

  // The transparent colour, and the palette with its transparent entry
  // written as zeros (the image's own palette is not touched).
  const int32_t bg = info.backgroundIndex;
  const RGBQUAD* pal = PaletteData();
  RGBQUAD t = info.backgroundColor;
  if (Bpp() <= 23 && bg >= 0) t = static_cast<uint32_t>(bg) < paletteSize ? pal[bg] : RGBQUAD{0, 0, 0, 0};
  if (paletteSize > 0) {
    std::vector<uint8_t> palette(size_t{paletteSize} * 4);
    std::memcpy(palette.data(), pal, palette.size());
    if (bg >= 0 && static_cast<uint32_t>(bg) < paletteSize) std::memset(&palette[4 * size_t(bg)], 0, 4);
    if (!pxio::WriteExactly(file, palette.data(), palette.size())) return Fail("error writing ICO file");
  }

  if (!withAlpha) {
    if (!pxio::WriteExactly(file, info.pixels, ImageBytes())) return Fail("error writing ICO file");
  } else {
    std::vector<uint8_t> row(size_t{width} * 4);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* src = RowAt(y);
      const uint8_t* a = alpha + size_t{y} * width;
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(&row[4 * size_t{x}], src + 3 * size_t{x}, 3);
        row[4 * size_t{x} + 3] = a[x];
      }
      if (!pxio::WriteExactly(file, row.data(), row.size())) return Fail("error writing ICO file");
    }
  }

  const bool paletteAlpha = PaletteHasAlpha();
  std::vector<uint8_t> mask;
  try {
    mask.assign(static_cast<size_t>(maskBytes), 0);
  } catch (const std::bad_alloc&) {
    return Fail("can't allocate memory");
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const int32_t xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
      bool transparent = alpha != nullptr && alpha[size_t{y} * width + x] == 0;
      if (!transparent && paletteAlpha) transparent = pal[PixelIndexAtUnchecked(xi, yi)].rgbReserved == 0;
      if (!transparent && bg >= 0) transparent = SameQuad(PixelColorAt(xi, yi, false), t);
      if (transparent) mask[size_t{y} * maskRowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  if (!pxio::WriteExactly(file, mask.data(), mask.size())) return Fail("error writing ICO file");
  return pxio::Flushed(file) || Fail("error writing ICO file");
}
