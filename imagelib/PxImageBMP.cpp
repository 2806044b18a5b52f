// BMP reader and writer. Every read is bounded by what the file holds and by
// the pixel block: palettes are capped at their size, RLE runs at their row
// and the image, and a file that ends early fails with a text.
#include "imagelib/PxImageBMP.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imagelib/CodecFileIo.h"
#include "platform/byteorder.h"

namespace {

constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitfields = 3;
constexpr uint32_t kCompressionJpeg = 4;
constexpr uint32_t kCompressionPng = 5;

using pxio::Flushed;
using pxio::ReadExactly;
using pxio::Skip;
using pxio::WriteExactly;

// Bytes of uncompressed pixel data Decode reads for this header, or 0 when
// the amount is not known up front (run-length data).
uint64_t StoredPixelBytes(const BITMAPINFOHEADER& bih, uint64_t height) {
  const uint64_t width = static_cast<uint32_t>(bih.biWidth);
  const bool plain = bih.biCompression == kCompressionNone;
  uint64_t rowBytes = 0;
  switch (bih.biBitCount) {
    case 1: case 2: case 4: case 8:
      rowBytes = plain ? ((width * bih.biBitCount + 31) / 32) * 4 : 0;
      break;
    case 16: rowBytes = ((width + 1) / 2) * 4; break;
    case 24: rowBytes = plain ? ((width * 24 + 31) / 32) * 4 : 0; break;
    case 32: rowBytes = plain || bih.biCompression == kCompressionBitfields ? width * 4 : 0; break;
    default: return 0;
  }
  // A header's claim can pass 64 bits; no file holds that much.
  if (rowBytes != 0 && height > UINT64_MAX / rowBytes) return UINT64_MAX;
  return rowBytes * height;
}

// The alpha plane from the field under `mask` of each 32-bit pixel, scaled
// from the field's range to 0..255.
void UnpackAlphaMask(const uint8_t* source, uint32_t mask, size_t width, size_t height, uint8_t* alpha) {
  const int low = __builtin_ctz(mask);
  const uint64_t top = mask >> low;
  for (size_t i = 0; i < width * height; ++i) {
    const uint64_t v = (pw::LoadLE32(source + 4 * i) & mask) >> low;
    alpha[i] = static_cast<uint8_t>((v * 255 + top / 2) / top);
  }
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

bool PxImageBMP::ReadInfoHeader(PxFile* file, BITMAPINFOHEADER* out, uint32_t masks[4], bool* hasMasks) {
  *hasMasks = false;
  masks[3] = 0;
  uint8_t raw[kInfoHeaderBytes] = {};
  // The size comes first: a 12-byte core header may be followed by less than
  // 28 bytes in a tiny file, so the rest is read by what the size says.
  if (!ReadExactly(file, raw, 4)) return false;
  const uint32_t size = pw::LoadLE32(raw);
  const uint32_t storedSize = info.littleEndianHost ? size : pw::Swap32(size);
  if (storedSize == 12) {
    if (!ReadExactly(file, raw + 4, 8)) return false;
    std::memset(out, 0, sizeof *out);
    out->biSize = 12;
    out->biWidth = pw::LoadLE16(raw + 4);
    out->biHeight = pw::LoadLE16(raw + 6);
    out->biPlanes = pw::LoadLE16(raw + 8);
    out->biBitCount = pw::LoadLE16(raw + 10);
  } else {
    if (!ReadExactly(file, raw + 4, kInfoHeaderBytes - 4)) return false;
    LoadInfoHeader(raw, out);
    HeaderToHostOrder(out);
    if (out->biSize == 40) {
      // nothing more
    } else if (out->biSize == 64) {
      if (!Skip(file, 24)) return false;
    } else if (out->biSize == 52 || out->biSize == 56 || out->biSize == 108 || out->biSize == 124) {
      // These headers hold their colour masks in bytes 40 to 51, and all
      // but the 52-byte one the alpha mask in bytes 52 to 55.
      uint8_t m[16];
      const uint32_t maskBytes = out->biSize == 52 ? 12 : 16;
      if (!ReadExactly(file, m, maskBytes)) return false;
      masks[0] = pw::LoadLE32(m);
      masks[1] = pw::LoadLE32(m + 4);
      masks[2] = pw::LoadLE32(m + 8);
      if (maskBytes == 16) masks[3] = pw::LoadLE32(m + 12);
      *hasMasks = true;
      if (!Skip(file, out->biSize - 40 - maskBytes)) return false;
    } else {
      int64_t needed = 0;
      const bool huge = __builtin_mul_overflow(((int64_t{out->biBitCount} * out->biWidth + 31) / 32) * 4,
                                               int64_t{out->biHeight}, &needed);
      if (out->biSize <= 40 || huge || int64_t{out->biSizeImage} < needed || out->biPlanes != 1 || out->biClrUsed != 0) {
        return false;
      }
      if (out->biCompression == kCompressionNone && !Skip(file, out->biSize - 40)) return false;
    }
  }
  if (out->biSizeImage == 0) {
    int64_t row = ((int64_t{out->biBitCount} * out->biWidth + 31) / 8) & ~int64_t{3};
    int64_t total = 0;
    const bool huge = __builtin_mul_overflow(row, int64_t{out->biHeight}, &total);
    out->biSizeImage = (!huge && total > 0 && total <= UINT32_MAX) ? static_cast<uint32_t>(total) : 0;
  }
  if (out->biClrUsed == 0 && out->biBitCount <= 8) out->biClrUsed = 1u << out->biBitCount;
  return true;
}

namespace {

// Decoders of the run-length encodings. Each step consumes at least two
// bytes, so a hostile stream always ends; nothing is written outside the row
// the cursor is on or outside the image. They return whether the stream
// reached its end-of-bitmap code; a stream cut before it leaves the rest of
// the picture as created.
bool DecodeRle8(PxImage& image, PxFile* file) {
  const uint64_t height = image.Height();
  const uint64_t rowBytes = image.Bpp() == 8 ? image.Width() : image.RowStride();
  uint64_t row = 0, col = 0;
  auto put = [&](uint8_t v) {
    if (row < height && col < rowBytes) image.RowAt(static_cast<uint32_t>(row))[col] = v;
    ++col;
  };
  for (;;) {
    const int32_t n = file->GetByte();
    const int32_t c = file->GetByte();
    if (n < 0 || c < 0) return false;
    if (n > 0) {
      for (int32_t k = 0; k < n; ++k) put(static_cast<uint8_t>(c));
    } else if (c == 0) {
      col = 0;
      ++row;
    } else if (c == 1) {
      return true;
    } else if (c == 2) {
      const int32_t dx = file->GetByte(), dy = file->GetByte();
      if (dx < 0 || dy < 0) return false;
      col += static_cast<uint64_t>(dx);
      row += static_cast<uint64_t>(dy);
    } else {
      for (int32_t k = 0; k < c; ++k) {
        const int32_t b = file->GetByte();
        if (b < 0) return false;
        put(static_cast<uint8_t>(b));
      }
      if (c & 1) file->GetByte();
    }
  }
}

bool DecodeRle4(PxImage& image, PxFile* file) {
  const uint64_t height = image.Height();
  const uint64_t width = image.Bpp() == 4 ? image.Width() : uint64_t{image.RowStride()} * 2;
  uint64_t row = 0, px = 0;  // px: pixel column; its low bit is the half-byte flag
  auto put = [&](uint8_t nibble) {
    if (row < height && px < width) {
      uint8_t& b = image.RowAt(static_cast<uint32_t>(row))[px >> 1];
      b = (px & 1) ? static_cast<uint8_t>(b | nibble) : static_cast<uint8_t>(nibble << 4);
    }
    ++px;
  };
  for (;;) {
    const int32_t n = file->GetByte();
    const int32_t c = file->GetByte();
    if (n < 0 || c < 0) return false;
    if (n > 0) {
      for (int32_t k = 0; k < n; ++k) put(static_cast<uint8_t>((k & 1) ? (c & 0x0F) : (c >> 4)));
    } else if (c == 0) {
      px = 0;
      ++row;
    } else if (c == 1) {
      return true;
    } else if (c == 2) {
      const int32_t dx = file->GetByte(), dy = file->GetByte();
      if (dx < 0 || dy < 0) return false;
      px += static_cast<uint64_t>(dx);
      row += static_cast<uint64_t>(dy);
    } else {
      int32_t b = file->GetByte();
      if (b < 0) return false;
      for (int32_t k = 0; k < c; ++k) {
        put(static_cast<uint8_t>((k & 1) ? (b & 0x0F) : (b >> 4)));
        if ((k & 1) && k + 1 < c) {
          b = file->GetByte();
          if (b < 0) return false;
        }
      }
      if ((c + 1) & 2) file->GetByte();
    }
  }
}

}  // namespace

bool PxImageBMP::Decode(PxFile* file) {
  if (!file) return false;

  const int64_t start = file->Position();
  uint8_t fileHeaderBytes[kFileHeaderBytes];
  if (start < 0 || !ReadExactly(file, fileHeaderBytes, sizeof fileHeaderBytes)) return Fail("Not a BMP");
  BITMAPFILEHEADER fileHeader;
  LoadFileHeader(fileHeaderBytes, &fileHeader);
  if (!info.littleEndianHost) {
    fileHeader.bfType = pw::Swap16(fileHeader.bfType);
    fileHeader.bfSize = pw::Swap32(fileHeader.bfSize);
    fileHeader.bfOffBits = pw::Swap32(fileHeader.bfOffBits);
  }
  if (fileHeader.bfType != kBitmapFileType) {
    fileHeader.bfOffBits = 0;
    if (!file->SeekTo(static_cast<int32_t>(start), 0)) return Fail("Not a BMP");
  }

  BITMAPINFOHEADER bih;
  uint32_t masks[4] = {0, 0, 0, 0};
  bool headerMasks = false;
  if (!ReadInfoHeader(file, &bih, masks, &headerMasks)) return Fail("Error reading BMP info");
  const bool coreHeader = bih.biSize == 12;
  // Only these depths have pixels this reader can read. Any other count
  // (a damaged header byte, or data this reader does not hold, such as the
  // JPEG or PNG streams that compressions 4 and 5 carry at depth 0) is
  // refused before anything is allocated: "nothing read" would be a flat
  // picture reported as a success, at whatever size the header claims.
  switch (bih.biBitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32:
      break;
    default: {
      char text[80];
      if (bih.biBitCount == 0 && (bih.biCompression == kCompressionJpeg || bih.biCompression == kCompressionPng)) {
        std::snprintf(text, sizeof text, "BMP: embedded %s data is not supported",
                      bih.biCompression == kCompressionJpeg ? "JPEG" : "PNG");
      } else {
        std::snprintf(text, sizeof text, "BMP: unsupported bit depth %u", unsigned{bih.biBitCount});
      }
      return Fail(text);
    }
  }

  const bool topDown = bih.biHeight < 0;
  const int64_t height = topDown ? -int64_t{bih.biHeight} : bih.biHeight;
  const uint32_t height32 = height > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(height);

  if (info.escape == -1) {
    header.biWidth = bih.biWidth;
    header.biHeight = static_cast<int32_t>(height > INT32_MAX ? INT32_MAX : height);
    info.formatId = kFormatBmp;
    SetLastError("output dimensions returned");
    return true;
  }

  // A header may claim any size within the memory limit; before the picture,
  // the scratch block of 32-bit data or an alpha plane is allocated, or any byte is
  // read, the file must hold the pixels it stores uncompressed. A stream
  // whose size is unknown is read as before. (A claim over the memory limit
  // is refused by Create, with that reason.)
  const bool fitsMemory = FitsMemoryLimit(static_cast<uint32_t>(bih.biWidth), height32, bih.biBitCount);
  if (const int64_t total = file->TotalSize(); fitsMemory && total >= 0) {
    const int64_t pixelsAt = fileHeader.bfOffBits != 0 ? start + fileHeader.bfOffBits : file->Position();
    const uint64_t needed = StoredPixelBytes(bih, static_cast<uint64_t>(height));
    if (needed > 0 && (pixelsAt < 0 || pixelsAt > total || needed > static_cast<uint64_t>(total - pixelsAt))) {
      return Fail("Error reading BMP info");
    }
  }
  // (Create holds a 2-bit picture at four bits a pixel.)
  if (!Create(static_cast<uint32_t>(bih.biWidth), height32, bih.biBitCount, kFormatBmp)) return false;
  SetHorizontalPelsPerMeter(bih.biXPelsPerMeter);
  SetVerticalPelsPerMeter(bih.biYPelsPerMeter);
  if (info.escape != 0) return Fail("Cancelled");

  if (PaletteSize() > 0) {
    uint64_t entries = bih.biClrUsed;
    if (entries == 0) entries = bih.biBitCount <= 8 ? (1u << bih.biBitCount) : 1;
    const uint32_t entryBytes = coreHeader ? 3 : 4;
    // "Colours used" may claim more than the palette holds: keep what fits,
    // step over the rest.
    const uint32_t stored = entries < PaletteSize() ? static_cast<uint32_t>(entries) : PaletteSize();
    uint8_t raw[256 * 4];
    if (!ReadExactly(file, raw, size_t{stored} * entryBytes)) return Fail("Error reading BMP info");
    if (!Skip(file, (entries - stored) * entryBytes)) return Fail("Error reading BMP info");
    RGBQUAD* pal = PaletteData();
    for (uint32_t i = 0; i < stored; ++i) {
      const uint8_t* e = raw + size_t{i} * entryBytes;
      pal[i] = RGBQUAD{e[0], e[1], e[2], 0};
    }
    for (uint32_t i = stored; i < PaletteSize(); ++i) pal[i].rgbReserved = 0;
  }
  if (info.escape != 0) return Fail("Cancelled");

  auto seekToPixels = [&]() {
    if (fileHeader.bfOffBits == 0) return true;
    const int64_t target = start + fileHeader.bfOffBits;
    return target <= INT32_MAX && file->SeekTo(static_cast<int32_t>(target), 0);
  };
  auto markRleCut = [this]() {
    info.bDamaged = true;
    SetLastError("RLE data ends early");
  };
  auto readMasks = [&]() {
    if (headerMasks) return true;
    uint8_t m[12];
    if (!ReadExactly(file, m, sizeof m)) return false;
    masks[0] = pw::LoadLE32(m);
    masks[1] = pw::LoadLE32(m + 4);
    masks[2] = pw::LoadLE32(m + 8);
    return true;
  };

  switch (bih.biBitCount) {
    case 2: {
      if (bih.biCompression != kCompressionNone) return Fail("compression type not supported");
      const size_t stored = (size_t{Width()} * 2 + 31) / 32 * 4;
      std::vector<uint8_t> rows;
      try {
        rows.resize(stored * Height());
      } catch (const std::bad_alloc&) {
        return Fail("can't allocate memory");
      }
      if (!seekToPixels() || !ReadExactly(file, rows.data(), rows.size())) return Fail("Error reading BMP info");
      for (uint32_t y = 0; y < Height(); ++y) {
        const uint8_t* src = rows.data() + stored * y;
        uint8_t* dst = RowAt(y);
        for (uint32_t x = 0; x < Width(); ++x) {
          const auto index = static_cast<uint8_t>((src[x / 4] >> (6 - 2 * (x % 4))) & 3);
          dst[x / 2] = static_cast<uint8_t>((x & 1) ? (dst[x / 2] | index) : (index << 4));
        }
      }
      break;
    }
    case 1:
    case 4:
    case 8:
      if (bih.biCompression == kCompressionNone) {
        if (!seekToPixels() || !ReadExactly(file, info.pixels, ImageBytes())) return Fail("Error reading BMP info");
      } else if (bih.biCompression == kCompressionRle8) {
        if (!seekToPixels()) return Fail("Error reading BMP info");
        if (!DecodeRle8(*this, file)) markRleCut();
      } else if (bih.biCompression == kCompressionRle4) {
        if (!seekToPixels()) return Fail("Error reading BMP info");
        if (!DecodeRle4(*this, file)) markRleCut();
      } else {
        return Fail("compression type not supported");
      }
      break;
    case 16: {
      if (bih.biCompression == kCompressionBitfields) {
        if (!readMasks()) return Fail("Error reading BMP info");
      } else {
        masks[0] = 0x7C00;
        masks[1] = 0x3E0;
        masks[2] = 0x1F;
      }
      const size_t bytes = size_t{(Width() + 1) / 2} * Height() * 4;
      if (!seekToPixels() || !ReadExactly(file, info.pixels, bytes)) return Fail("Error reading BMP info");
      UnpackBitfields(info.pixels, masks[0], masks[1], masks[2], 16);
      break;
    }
    case 24:
      if (bih.biCompression != kCompressionNone) return Fail("unknown compression");
      if (!seekToPixels() || !ReadExactly(file, info.pixels, ImageBytes())) return Fail("Error reading BMP info");
      break;
    case 32: {
      if (bih.biCompression == kCompressionBitfields) {
        if (!readMasks()) return Fail("Error reading BMP info");
      } else {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
      }
      if (bih.biCompression != kCompressionNone && bih.biCompression != kCompressionBitfields) {
        return Fail("unknown compression");
      }
      const size_t width = Width();
      const size_t bytes = width * Height() * 4;
      std::unique_ptr<uint8_t, FreeDeleter> buffer(static_cast<uint8_t*>(std::malloc(bytes)));
      if (!buffer) return Fail("can't allocate memory");
      if (!seekToPixels() || !ReadExactly(file, buffer.get(), bytes)) return Fail("Error reading BMP info");
      if (bih.biCompression == kCompressionNone) {
        if (!alpha && !CreateAlphaPlane()) return Fail("can't allocate memory");
        bool anyAlpha = false;
        for (uint32_t y = 0; y < Height(); ++y) {
          const uint8_t* src = buffer.get() + size_t{y} * width * 4;
          uint8_t* dst = alpha + size_t{y} * width;
          for (size_t x = 0; x < width; ++x) {
            dst[x] = src[4 * x + 3];
            anyAlpha |= dst[x] != 0;
          }
        }
        // A file that leaves the fourth bytes at zero means no alpha at all.
        if (!anyAlpha) std::memset(alpha, 255, width * Height());
      } else if (masks[3] != 0) {
        if (!alpha && !CreateAlphaPlane()) return Fail("can't allocate memory");
        UnpackAlphaMask(buffer.get(), masks[3], width, Height(), alpha);
      }
      UnpackBitfields(buffer.get(), masks[0], masks[1], masks[2], 32);
      break;
    }
    default:
      return Fail("BMP: unsupported bit depth");  // refused above, before Create
  }
  if (topDown && !FlipVertical()) return Fail("can't allocate memory");
  return true;
}

bool PxImageBMP::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  auto fail = [this]() {
    SetLastError("error writing BMP file");
    return false;
  };
  // The header written always describes the block as it lies in memory.
  header.biSize = kInfoHeaderBytes;
  header.biClrUsed = PaletteSize();
  header.biSizeImage = static_cast<uint32_t>(ImageBytes());
  const uint32_t paletteBytes = 4 * PaletteSize();

  BITMAPFILEHEADER fh{};
  fh.bfType = kBitmapFileType;
  fh.bfOffBits = kInfoHeaderBytes + paletteBytes + kFileHeaderBytes;
  fh.bfSize = kInfoHeaderBytes + header.biSizeImage + paletteBytes + kFileHeaderBytes;
  uint8_t fileHeaderBytes[kFileHeaderBytes];

  if (PaletteSize() > 0 || !alpha) {
    StoreFileHeader(fh, fileHeaderBytes);
    StoreInfoHeader(header, dib);
    if (!WriteExactly(file, fileHeaderBytes, sizeof fileHeaderBytes)) return fail();
    if (!WriteExactly(file, dib, kInfoHeaderBytes + paletteBytes + ImageBytes())) return fail();
    return Flushed(file) || fail();
  }

  // True colour with alpha: a 32-bit bitmap, alpha in each pixel's fourth byte.
  const uint32_t width = Width();
  BITMAPINFOHEADER bih = header;
  bih.biBitCount = 32;
  bih.biCompression = kCompressionNone;
  bih.biSizeImage = width * 4 * Height();
  bih.biClrUsed = 0;
  fh.bfOffBits = kInfoHeaderBytes + kFileHeaderBytes;
  fh.bfSize = kInfoHeaderBytes + bih.biSizeImage + kFileHeaderBytes;
  StoreFileHeader(fh, fileHeaderBytes);
  uint8_t infoBytes[kInfoHeaderBytes];
  StoreInfoHeader(bih, infoBytes);
  if (!WriteExactly(file, fileHeaderBytes, sizeof fileHeaderBytes)) return fail();
  if (!WriteExactly(file, infoBytes, sizeof infoBytes)) return fail();
  std::unique_ptr<uint8_t, FreeDeleter> row(static_cast<uint8_t*>(std::malloc(size_t{width} * 4)));
  if (!row) {
    SetLastError("can't allocate memory");
    return false;
  }
  for (uint32_t y = 0; y < Height(); ++y) {
    const uint8_t* src = RowAt(y);
    const uint8_t* a = alpha + size_t{y} * width;
    uint8_t* dst = row.get();
    for (uint32_t x = 0; x < width; ++x) {
      dst[4 * x] = src[3 * x];
      dst[4 * x + 1] = src[3 * x + 1];
      dst[4 * x + 2] = src[3 * x + 2];
      dst[4 * x + 3] = a[x];
    }
    if (!WriteExactly(file, row.get(), size_t{width} * 4)) return fail();
  }
  return Flushed(file) || fail();
}
