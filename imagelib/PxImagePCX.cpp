// PCX reader and writer. The reader checks the header against itself (size,
// bytes per line, planes and bits) before it makes the picture, then expands
// the run-length stream row by row (runs may cross rows and planes), so it
// never holds more than one row of file data; every byte it reads is
// checked. The writer collects the encoded rows in memory and checks every
// write and the final flush.
#include "imagelib/PxImagePCX.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imagelib/CodecFileIo.h"
#include "imagelib/GrayLevel.h"
#include "platform/byteorder.h"

void LoadPcxHeader(const uint8_t* b, PcxHeader* out) {
  out->manufacturer = b[0];
  out->version = b[1];
  out->encoding = b[2];
  out->bitsPerPixel = b[3];
  out->xMin = pw::LoadLE16(b + 4);
  out->yMin = pw::LoadLE16(b + 6);
  out->xMax = pw::LoadLE16(b + 8);
  out->yMax = pw::LoadLE16(b + 10);
  out->hRes = pw::LoadLE16(b + 12);
  out->vRes = pw::LoadLE16(b + 14);
  std::memcpy(out->palette, b + 16, 48);
  out->reserved = b[64];
  out->planes = b[65];
  out->bytesPerLine = pw::LoadLE16(b + 66);
  out->paletteInfo = pw::LoadLE16(b + 68);
}

void StorePcxHeader(const PcxHeader& in, uint8_t* b) {
  std::memset(b, 0, kPcxHeaderBytes);
  b[0] = in.manufacturer;
  b[1] = in.version;
  b[2] = in.encoding;
  b[3] = in.bitsPerPixel;
  pw::StoreLE16(b + 4, in.xMin);
  pw::StoreLE16(b + 6, in.yMin);
  pw::StoreLE16(b + 8, in.xMax);
  pw::StoreLE16(b + 10, in.yMax);
  pw::StoreLE16(b + 12, in.hRes);
  pw::StoreLE16(b + 14, in.vRes);
  std::memcpy(b + 16, in.palette, 48);
  b[64] = in.reserved;
  b[65] = in.planes;
  pw::StoreLE16(b + 66, in.bytesPerLine);
  pw::StoreLE16(b + 68, in.paletteInfo);
}

bool PCX_PlanesToPixels(uint8_t* pixels, const uint8_t* planes, uint32_t bytesPerLine, uint32_t planeCount,
                        uint32_t bitsPerPixel) {
  if (planeCount > 4 || bitsPerPixel != 1) return false;
  std::memset(pixels, 0, size_t{bytesPerLine} * 8);
  for (uint32_t p = 0; p < planeCount; ++p) {
    const uint8_t* plane = planes + size_t{p} * bytesPerLine;
    const uint8_t bit = static_cast<uint8_t>(1u << p);
    for (uint32_t i = 0; i < bytesPerLine; ++i) {
      const uint8_t b = plane[i];
      uint8_t* out = pixels + size_t{i} * 8;
      for (int k = 0; k < 8; ++k) {
        if (b & (0x80 >> k)) out[k] |= bit;
      }
    }
  }
  return true;
}

bool PCX_UnpackPixels(uint8_t* pixels, const uint8_t* data, uint32_t bytesPerLine, uint32_t planeCount,
                      uint32_t bitsPerPixel) {
  if (planeCount != 1) return false;
  switch (bitsPerPixel) {
    case 8:
      std::memcpy(pixels, data, bytesPerLine);
      break;
    case 4:
      for (uint32_t i = 0; i < bytesPerLine; ++i) {
        *pixels++ = static_cast<uint8_t>(data[i] >> 4);
        *pixels++ = static_cast<uint8_t>(data[i] & 0x0F);
      }
      break;
    case 2:
      for (uint32_t i = 0; i < bytesPerLine; ++i) {
        for (int s = 6; s >= 0; s -= 2) *pixels++ = static_cast<uint8_t>((data[i] >> s) & 3);
      }
      break;
    case 1:
      for (uint32_t i = 0; i < bytesPerLine; ++i) {
        for (int s = 7; s >= 0; --s) *pixels++ = static_cast<uint8_t>((data[i] >> s) & 1);
      }
      break;
    default:
      return false;
  }
  return true;
}

namespace {

// The run-length stream of the whole picture, expanded on demand.
struct PcxRleReader {
  PxFile* file;
  uint64_t left;       // bytes of the picture still to come
  uint32_t run = 0;    // repeats of `value` still owed
  uint8_t value = 0;
  const char* error = nullptr;

  bool Fill(uint8_t* out, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
      if (run == 0) {
        const int32_t b = file->GetByte();
        if (b < 0) return Fail("corrupted PCX");
        if (b > 191) {
          const int32_t v = file->GetByte();
          if (v < 0) return Fail("corrupted PCX");
          run = static_cast<uint32_t>(b & 63);
          value = static_cast<uint8_t>(v);
          if (run > left) return Fail("repeat count spans end of image");
          if (run == 0) {
            --i;  // an empty run yields nothing
            continue;
          }
        } else {
          run = 1;
          value = static_cast<uint8_t>(b);
        }
      }
      out[i] = value;
      --run;
      --left;
    }
    return true;
  }
  bool Fail(const char* text) {
    error = text;
    return false;
  }
};

}  // namespace

bool PxImagePCX::Decode(PxFile* file) {
  if (!file) return false;
  uint8_t raw[kPcxHeaderBytes];
  if (!pxio::ReadExactly(file, raw, sizeof raw)) return Fail("Can't read PCX image");
  PcxHeader head;
  LoadPcxHeader(raw, &head);
  if (head.manufacturer != 10) return Fail("Error: Not a PCX file");
  if (head.encoding != 1) return Fail("PCX file has unknown encoding scheme");
  if (head.xMax < head.xMin || head.yMax < head.yMin) return Fail("Error: Not a PCX file");
  const uint32_t width = uint32_t{head.xMax} - head.xMin + 1;
  const uint32_t height = uint32_t{head.yMax} - head.yMin + 1;

  if (info.escape == -1) {
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    info.formatId = kFormatPcx;
    return true;
  }

  const uint32_t planes = head.planes, bits = head.bitsPerPixel, bpl = head.bytesPerLine;
  if (planes > 4) return Fail("Can't handle image with more than 4 planes");
  if (planes == 0 || (bits != 1 && bits != 2 && bits != 4 && bits != 8)) {
    return Fail("PCX file has unknown bits per pixel or planes");
  }
  const bool trueColour = planes >= 3 && bits == 8;
  if (planes > 1 && !trueColour && bits != 1) {
    return Fail("PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel");
  }
  // Each plane's row must hold the width's pixels.
  if (uint64_t{bpl} * 8 < uint64_t{width} * bits) return Fail("PCX bytes per line too small for the width");

  // Two file bytes expand to at most 63: a file too short for the picture is
  // refused before its block is made.
  const uint64_t total = uint64_t{height} * planes * bpl;
  const int64_t left = pxio::BytesLeft(file);
  if (left >= 0 && total > static_cast<uint64_t>(left) * 63 / 2 + 63) return Fail("corrupted PCX");

  uint32_t depth = bits;
  if (trueColour) depth = 24;
  else if (planes > 1) depth = 4;
  if (!Create(width, height, depth, kFormatPcx)) return false;
  SetHorizontalDpi(head.hRes);
  SetVerticalDpi(head.vRes);
  if (trueColour && planes == 4 && !CreateAlphaPlane()) return Fail("can't allocate memory");
  if (info.escape != 0) return Fail("Cancelled");

  std::vector<uint8_t> line(size_t{planes} * bpl);
  std::vector<uint8_t> indices(std::max<size_t>(width, size_t{bpl} * 8));
  PcxRleReader rle{file, total};
  for (uint32_t r = 0; r < height; ++r) {
    if (info.escape != 0) return Fail("Cancelled");
    if (!rle.Fill(line.data(), line.size())) return Fail(rle.error);
    const uint32_t y = height - 1 - r;
    uint8_t* dst = RowAt(y);
    if (trueColour) {
      const uint8_t* red = line.data();
      const uint8_t* green = red + bpl;
      const uint8_t* blue = green + bpl;
      for (uint32_t x = 0; x < width; ++x) {
        dst[3 * size_t{x}] = blue[x];
        dst[3 * size_t{x} + 1] = green[x];
        dst[3 * size_t{x} + 2] = red[x];
      }
      if (planes == 4) std::memcpy(alpha + size_t{y} * width, blue + bpl, width);
      continue;
    }
    if (planes == 1) {
      if (!PCX_UnpackPixels(indices.data(), line.data(), bpl, planes, bits)) {
        return Fail("PCX_UnpackPixels: Can't handle packed pixels with more than 1 plane");
      }
    } else if (!PCX_PlanesToPixels(indices.data(), line.data(), bpl, planes, bits)) {
      return Fail("PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel");
    }
    if (depth == 8) {
      std::memcpy(dst, indices.data(), width);
    } else {
      for (uint32_t x = 0; x < width; ++x) StorePixelIndexUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(y), indices[x]);
    }
  }

  if (PaletteSize() > 0) {
    uint8_t working[256 * 3] = {};
    std::memcpy(working, head.palette, 48);
    if (bits == 8) {
      if (file->GetByte() != 12) return Fail("bad color map signature");
      if (!pxio::ReadExactly(file, working, sizeof working)) return Fail("corrupted PCX");
    } else if (bits == 1 && planes == 1) {
      std::memset(working, 0, 6);
      std::memset(working + 3, 255, 3);
    }
    RGBQUAD* pal = PaletteData();
    for (uint32_t i = 0; i < PaletteSize(); ++i) {
      pal[i] = RGBQUAD{working[3 * i + 2], working[3 * i + 1], working[3 * i], 0};
    }
    info.lastColorValid = false;
  }
  return true;
}

namespace {

// One row of bytes as runs: up to 63 equal bytes a run; a single byte below
// 192 goes bare, anything else as (192 + count, byte).
bool EncodeRow(PxFile* out, const uint8_t* data, size_t length) {
  size_t i = 0;
  while (i < length) {
    const uint8_t v = data[i];
    size_t n = 1;
    while (i + n < length && n < 63 && data[i + n] == v) ++n;
    if (n == 1 && v < 192) {
      if (!out->PutByte(v)) return false;
    } else if (!out->PutByte(static_cast<uint8_t>(192 + n)) || !out->PutByte(v)) {
      return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

bool PxImagePCX::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  const uint32_t width = Width(), height = Height();
  if (width > 0xFFFF || height > 0xFFFF) {
    SetLastError("PCX Images must be at most 65535 pixels wide and high");
    return false;
  }
  const uint32_t bpp = Bpp();
  const RGBQUAD* pal = PaletteData();
  PcxHeader head{};
  head.manufacturer = 10;
  head.version = 5;
  head.encoding = 1;
  head.xMax = static_cast<uint16_t>(width - 1);
  head.yMax = static_cast<uint16_t>(height - 1);
  head.hRes = static_cast<uint16_t>(info.xDpi);
  head.vRes = static_cast<uint16_t>(info.yDpi);
  uint32_t bpl = 0;
  if (bpp == 8 || bpp == 24) {
    head.bitsPerPixel = 8;
    head.planes = pal ? 1 : (alpha ? 4 : 3);
    bpl = width;
  } else {
    head.bitsPerPixel = 1;
    head.planes = PaletteSize() == 16 ? 4 : 1;
    bpl = (width + 7) / 8;
    if (PaletteSize() == 16) {
      for (uint32_t i = 0; i < 16; ++i) {
        head.palette[3 * i] = pal[i].rgbRed;
        head.palette[3 * i + 1] = pal[i].rgbGreen;
        head.palette[3 * i + 2] = pal[i].rgbBlue;
      }
    } else {
      std::memset(head.palette + 3, 255, 3);
    }
  }
  bpl += bpl & 1;
  head.bytesPerLine = static_cast<uint16_t>(bpl);
  uint8_t raw[kPcxHeaderBytes];
  StorePcxHeader(head, raw);
  if (!pxio::WriteExactly(file, raw, sizeof raw)) return Fail("cannot write PCX header");

  PxMemFile data;
  if (!data.Open()) return Fail("can't allocate memory");
  std::vector<uint8_t> plane(std::max<size_t>(bpl, 1));
  const bool oddWidth = (width & 1) != 0;
  bool encoded = true;
  if (bpp == 8) {
    for (uint32_t y = height; encoded && y-- > 0;) {
      encoded = EncodeRow(&data, RowAt(y), width) && (!oddWidth || data.PutByte(0));
    }
  } else if (bpp == 24) {
    const uint32_t planes = head.planes;
    for (uint32_t y = height; encoded && y-- > 0;) {
      const uint8_t* src = RowAt(y);
      for (uint32_t p = 0; encoded && p < planes; ++p) {
        if (p < 3) {
          for (uint32_t x = 0; x < width; ++x) plane[x] = src[3 * size_t{x} + 2 - p];
        } else {
          std::memcpy(plane.data(), alpha + size_t{y} * width, width);
        }
        encoded = EncodeRow(&data, plane.data(), width) && (!oddWidth || data.PutByte(0));
      }
    }
  } else {
    // The header palette of a 1-plane file is black, white: a palette whose
    // first entry is the lighter one is written with its values inverted.
    uint8_t flip = 0;
    if (bpp == 1) {
      if (GrayLevel(pal[0]) > GrayLevel(pal[1])) flip = 1;
    }
    const uint32_t planes = head.planes;
    for (uint32_t y = height; encoded && y-- > 0;) {
      for (uint32_t p = 0; encoded && p < planes; ++p) {
        std::fill(plane.begin(), plane.end(), uint8_t{0});
        for (uint32_t x = 0; x < width; ++x) {
          const uint8_t v = static_cast<uint8_t>(PixelIndexAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(y)) ^ flip);
          if ((v >> p) & 1) plane[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
        encoded = EncodeRow(&data, plane.data(), bpl);
      }
    }
  }
  if (!encoded || !data.Buffer()) return Fail("can't allocate memory");
  if (!pxio::WriteExactly(file, data.Buffer(), static_cast<size_t>(data.DataSize()))) {
    return Fail("cannot write PCX file");
  }
  if (bpp == 8) {
    uint8_t tail[1 + 256 * 3] = {12};
    for (uint32_t i = 0; i < 256; ++i) {
      tail[1 + 3 * i] = pal[i].rgbRed;
      tail[2 + 3 * i] = pal[i].rgbGreen;
      tail[3 + 3 * i] = pal[i].rgbBlue;
    }
    if (!pxio::WriteExactly(file, tail, sizeof tail)) return Fail("cannot write PCX file");
  }
  return pxio::Flushed(file) || Fail("cannot write PCX file");
}
