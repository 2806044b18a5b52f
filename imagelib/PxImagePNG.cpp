#include "imagelib/PxImagePNG.h"

#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "imagelib/ExifSectionReader.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImageJPG.h"
#include "platform/byteorder.h"

// libpng reports errors through PngErrorProc, which jumps back with
// png_longjmp. The jump targets sit only in the small Trap* functions below;
// their locals have no destructors, and everything that owns memory lives
// in the callers, which clean up after a false result.

namespace {

constexpr uint32_t kPngOptionIndex = 4;

void PngReadProc(png_structp png, png_bytep buffer, size_t length) {
  PxFile* file = static_cast<PxFile*>(png_get_io_ptr(png));
  if (!file || file->ReadBlock(buffer, 1, length) != length) png_error(png, "Read Error");
}

void PngWriteProc(png_structp png, png_bytep buffer, size_t length) {
  PxFile* file = static_cast<PxFile*>(png_get_io_ptr(png));
  if (!file || file->WriteBlock(buffer, 1, length) != length) png_error(png, "Write Error");
}

void PngFlushProc(png_structp png) {
  PxFile* file = static_cast<PxFile*>(png_get_io_ptr(png));
  if (!file || !file->FlushFile()) png_error(png, "Flush Error");
}

[[noreturn]] void PngErrorProc(png_structp png, png_const_charp message) {
  char* text = static_cast<char*>(png_get_error_ptr(png));
  if (text) std::snprintf(text, kLastErrorSize, "%s", message ? message : "");
  png_longjmp(png, 1);
}

// ---- reading

struct PngReadState {
  png_structp png = nullptr;
  png_infop pinfo = nullptr;
  ~PngReadState() {
    if (png) png_destroy_read_struct(&png, pinfo ? &pinfo : nullptr, nullptr);
  }
};

// Ancillary chunks the reader never looks at. libpng allocates a chunk's
// whole claimed length before it checks it against the chunk limit (that
// check only warns), so a few bytes claiming a text of hundreds of megabytes
// would cost that much memory: these chunks are skipped unread instead.
constexpr png_byte kIgnoredChunks[] = {
    'c', 'H', 'R', 'M', '\0', 'g', 'A', 'M', 'A', '\0', 'h', 'I', 'S', 'T', '\0',
    'i', 'C', 'C', 'P', '\0', 'i', 'T', 'X', 't', '\0', 'o', 'F', 'F', 's', '\0', 'p', 'C', 'A', 'L', '\0',
    's', 'C', 'A', 'L', '\0', 's', 'B', 'I', 'T', '\0', 's', 'P', 'L', 'T', '\0', 's', 'R', 'G', 'B', '\0',
    't', 'E', 'X', 't', '\0', 't', 'I', 'M', 'E', '\0', 'z', 'T', 'X', 't', '\0',
};

// The eXIf chunk is read as an unknown chunk: so it is held only within the
// chunk memory limit below (libpng's own eXIf handler would allocate any
// length the file claims).
constexpr png_byte kExifChunk[] = {'e', 'X', 'I', 'f', '\0'};

// What a file may make libpng spend: the memory of one chunk, the number of
// ancillary chunks kept, and the picture size (the container's own memory
// limit applies after the header too).
constexpr png_alloc_size_t kChunkMemoryLimit = 8u << 20;
constexpr png_uint_32 kChunkCountLimit = 1000;
constexpr png_uint_32 kSideLimit = 1000000;

bool TrapReadInfo(png_structp png, png_infop pinfo, PxFile* file) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, file, PngReadProc);
  png_set_user_limits(png, kSideLimit, kSideLimit);
  png_set_chunk_cache_max(png, kChunkCountLimit);
  png_set_chunk_malloc_max(png, kChunkMemoryLimit);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                              static_cast<int>(sizeof kIgnoredChunks / 5));
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kExifChunk, 1);
  png_read_info(png, pinfo);
  return true;
}

// Turns on the transformations; returns the number of passes, 0 on error.
int TrapReadTransforms(png_structp png, bool bgr, bool interlaced) {
  if (setjmp(png_jmpbuf(png))) return 0;
  if (bgr) png_set_bgr(png);
  return interlaced ? png_set_interlace_handling(png) : 1;
}

struct PngRowLayout {
  uint32_t width, height;
  size_t rowBytes;       // libpng's row
  uint32_t channels;
  uint32_t pixelBytes;   // b: bytes per pixel in libpng's row (0 below 8 bits)
  uint32_t sampleBytes;  // s: bytes per sample (0 below 8 bits)
  int bitDepth;
  int passes;
  bool interlaced;
};

// Reads every pass into the image. 1 done, 0 libpng error, -1 escape.
int TrapReadRows(png_structp png, PxImage* image, uint8_t* buffer, const PngRowLayout* l) {
  if (setjmp(png_jmpbuf(png))) return 0;
  const uint32_t stride = image->RowStride();
  const size_t copyBytes = l->rowBytes < stride ? l->rowBytes : stride;
  const uint32_t b = l->pixelBytes, s = l->sampleBytes;
  uint8_t* alpha = image->alpha;
  for (int pass = 0; pass < l->passes; ++pass) {
    const bool rebuild = l->interlaced && pass > 0;
    for (uint32_t r = 0; r < l->height; ++r) {
      if (image->info.escape != 0) return -1;
      const uint32_t y = l->height - 1 - r;
      uint8_t* row = image->RowAt(y);
      uint8_t* rowAlpha = alpha ? alpha + size_t{y} * l->width : nullptr;
      if (rowAlpha) {
        // Colour and alpha live apart in the container: put them back into
        // libpng's layout so later passes combine with earlier ones.
        if (rebuild) {
          for (uint32_t x = 0; x < l->width; ++x) {
            uint8_t* p = buffer + size_t{x} * b;
            if (l->channels == 4) {
              p[0] = row[3 * x];
              p[s] = row[3 * x + 1];
              p[2 * s] = row[3 * x + 2];
              p[3 * s] = rowAlpha[x];
            } else {
              p[0] = row[x];
              p[s] = rowAlpha[x];
            }
          }
        }
        png_read_row(png, buffer, nullptr);
        for (uint32_t x = 0; x < l->width; ++x) {
          const uint8_t* p = buffer + size_t{x} * b;
          if (l->channels == 4) {
            row[3 * x] = p[0];
            row[3 * x + 1] = p[s];
            row[3 * x + 2] = p[2 * s];
            rowAlpha[x] = p[3 * s];
          } else {
            row[x] = p[0];
            rowAlpha[x] = p[s];
          }
        }
      } else {
        const size_t samples = size_t{l->channels} * l->width;
        if (rebuild) {
          std::memcpy(buffer, row, copyBytes);
          if (s == 2)
            for (size_t n = samples; n-- > 0;) buffer[2 * n] = buffer[n];
        }
        png_read_row(png, buffer, nullptr);
        if (s == 2)
          for (size_t n = 0; n < samples; ++n) buffer[n] = buffer[2 * n];
        std::memcpy(row, buffer, s == 2 ? (samples < stride ? samples : stride) : copyBytes);
        if (l->bitDepth == 2 && pass == l->passes - 1) ExpandTwoBitRow(row, l->width);
      }
    }
  }
  return 1;
}

bool TrapReadEnd(png_structp png, png_infop pinfo) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_end(png, pinfo);
  return true;
}

// ---- writing

struct PngWriteState {
  png_structp png = nullptr;
  png_infop pinfo = nullptr;
  ~PngWriteState() {
    if (png) png_destroy_write_struct(&png, pinfo ? &pinfo : nullptr);
  }
};

struct PngWritePlan {
  uint32_t width, height;
  int bitDepth, colorType, interlace, zlibLevel;
  int channels;
  bool grey;               // colour data is the blue byte of a grey palette
  bool swapRedBlue;        // 24-bit rows without alpha
  png_color_16 background;
  png_color_16 transColor;
  bool writeTrns;
  int numTrans;
  png_byte transAlpha[256];
  bool writePalette;
  int paletteEntries;
  png_color palette[256];
  int32_t xPelsPerMeter, yPelsPerMeter;
};

bool TrapWrite(png_structp png, png_infop pinfo, PxFile* file, PxImage* image,
               const PngWritePlan* p, uint8_t* buffer) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, file, PngWriteProc, PngFlushProc);
  if (p->zlibLevel != -1) png_set_compression_level(png, p->zlibLevel);
  png_set_IHDR(png, pinfo, p->width, p->height, p->bitDepth, p->colorType, p->interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_bKGD(png, pinfo, &p->background);
  png_set_pHYs(png, pinfo, static_cast<png_uint_32>(p->xPelsPerMeter),
               static_cast<png_uint_32>(p->yPelsPerMeter), PNG_RESOLUTION_METER);
  if (p->writePalette) png_set_PLTE(png, pinfo, p->palette, p->paletteEntries);
  if (p->writeTrns) png_set_tRNS(png, pinfo, p->transAlpha, p->numTrans, &p->transColor);
  png_write_info(png, pinfo);
  const int passes = p->interlace ? png_set_interlace_handling(png) : 1;
  const uint32_t stride = image->RowStride();
  const size_t bufferBytes = size_t{static_cast<uint32_t>(p->bitDepth) / 8} * p->channels * p->width;
  const size_t rowCopy = (bufferBytes > stride ? bufferBytes : stride);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = p->height; y-- > 0;) {
      if (image->alpha) {
        const uint8_t* rowAlpha = image->alpha + size_t{y} * p->width;
        for (uint32_t x = p->width; x-- > 0;) {
          const RGBQUAD c = image->PixelColorAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(y));
          uint8_t* o = buffer + size_t{x} * p->channels;
          if (p->grey) {
            o[0] = c.rgbBlue;
            o[1] = rowAlpha[x];
          } else {
            o[0] = c.rgbRed;
            o[1] = c.rgbGreen;
            o[2] = c.rgbBlue;
            o[3] = rowAlpha[x];
          }
        }
      } else {
        std::memcpy(buffer, image->RowAt(y), rowCopy < stride ? rowCopy : stride);
        if (p->swapRedBlue) {
          size_t limit = rowCopy < stride ? rowCopy : stride;
          if (limit > size_t{3} * p->width) limit = size_t{3} * p->width;
          for (size_t i = 0; i + 2 < limit; i += 3) std::swap(buffer[i], buffer[i + 2]);
        }
      }
      png_write_row(png, buffer);
    }
  }
  png_write_end(png, pinfo);
  return true;
}

// An eXIf chunk holds an EXIF block without the "Exif\0\0" mark of a
// JPEG's APP1 segment; digested like one, it gives the tools the picture's
// orientation, shooting time and resolution. A block that cannot be read
// leaves the summary absent and never fails the picture.
void DigestExifBlock(const uint8_t* data, size_t length, ExifSummary& summary) {
  if (!data || length < 8 || length > kChunkMemoryLimit) return;
  std::vector<uint8_t> block(6 + length);
  std::memcpy(block.data(), "Exif\0\0", 6);
  std::memcpy(block.data() + 6, data, length);
  ExifSectionReader reader(&summary);
  summary.present = reader.ParseExif(block.data(), static_cast<uint32_t>(block.size()));
  // The thumbnail would point into the block, which goes now.
  summary.thumbnailPointer = nullptr;
  summary.thumbnailSize = 0;
}

// The eXIf chunk libpng has read so far, if any.
void DigestExifChunk(png_structp png, png_infop pinfo, ExifSummary& summary) {
  if (summary.present) return;
  png_unknown_chunkp chunks = nullptr;
  const int count = png_get_unknown_chunks(png, pinfo, &chunks);
  const png_unknown_chunk* chunk = nullptr;
  for (int i = 0; i < count && chunks && !chunk; ++i)
    if (std::memcmp(chunks[i].name, "eXIf", 4) == 0) chunk = &chunks[i];
  if (chunk) DigestExifBlock(chunk->data, chunk->size, summary);
}

// A header read stops at the pixel data, but an eXIf chunk may follow it:
// the chunks from `start` (the signature) are walked by their headers alone,
// the pixel data skipped, each step moving at least 12 bytes forward, until
// IEND or the file's end. The chunk is taken only within the chunk memory
// limit and with a sound CRC (libpng drops an ancillary chunk without one).
bool ReadLateExifChunk(PxFile* file, int32_t start, std::vector<uint8_t>& data) {
  const int64_t total = file->TotalSize();
  if (start < 0 || total < 0) return false;
  for (int64_t at = int64_t{start} + 8; at + 12 <= total;) {
    uint8_t head[8];
    if (!file->SeekTo(static_cast<int32_t>(at), SEEK_SET) || file->ReadBlock(head, 1, 8) != 8) return false;
    const uint32_t length = pw::LoadBE32(head);
    if (length > 0x7FFFFFFFu || at + 12 + length > total) return false;
    if (std::memcmp(head + 4, "IEND", 4) == 0) return false;
    if (std::memcmp(head + 4, "eXIf", 4) == 0) {
      if (length > kChunkMemoryLimit) return false;
      data.resize(size_t{length} + 4);
      if (file->ReadBlock(data.data(), 1, data.size()) != data.size()) return false;
      uLong crc = crc32(0L, Z_NULL, 0);
      crc = crc32(crc, head + 4, 4);
      crc = crc32(crc, data.data(), length);
      if (static_cast<uint32_t>(crc) != pw::LoadBE32(data.data() + length)) return false;
      data.resize(length);
      return true;
    }
    at += int64_t{12} + length;
  }
  return false;
}

}  // namespace

void ExpandTwoBitRow(uint8_t* row, uint32_t width) {
  for (uint32_t x = width; x-- > 0;) {
    const uint8_t v = static_cast<uint8_t>((row[x / 4] >> (6 - 2 * (x % 4))) & 3);
    uint8_t& out = row[x / 2];
    out = (x % 2 == 0) ? static_cast<uint8_t>((out & 0x0F) | (v << 4))
                       : static_cast<uint8_t>((out & 0xF0) | v);
  }
}

PxImagePNG::PxImagePNG() { InitDefaults(kFormatPng); }
PxImagePNG::~PxImagePNG() = default;

bool PxImagePNG::Decode(PxFile* file) {
  char text[kLastErrorSize] = {};
  auto fail = [&](const char* message) {
    if (message) std::snprintf(text, sizeof text, "%s", message);
    if (*text) SetLastError(text);
    return false;
  };

  PngReadState st;
  st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, text, PngErrorProc, nullptr);
  if (!st.png) return fail("Failed to create PNG structure");
  st.pinfo = png_create_info_struct(st.png);
  if (!st.pinfo) return fail("Failed to initialize PNG info structure");
  const int32_t start = file ? file->Position() : -1;
  if (!TrapReadInfo(st.png, st.pinfo, file)) return fail(nullptr);
  DigestExifChunk(st.png, st.pinfo, info.exif);
  const bool exifBeforePixels = info.exif.present;

  const uint32_t width = png_get_image_width(st.png, st.pinfo);
  const uint32_t height = png_get_image_height(st.png, st.pinfo);
  if (info.escape == -1) {
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    info.formatId = kFormatPng;
    // The tools read the orientation and shooting time with the size.
    std::vector<uint8_t> late;
    if (!exifBeforePixels && ReadLateExifChunk(file, start, late))
      DigestExifBlock(late.data(), late.size(), info.exif);
    return true;
  }

  const int colorType = png_get_color_type(st.png, st.pinfo);
  const int bitDepth = png_get_bit_depth(st.png, st.pinfo);
  const int pixelDepth = bitDepth * png_get_channels(st.png, st.pinfo);
  uint32_t channels, depth;
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
      channels = 1;
      depth = pixelDepth > 8 ? 8 : pixelDepth == 2 ? 4 : static_cast<uint32_t>(pixelDepth);
      break;
    case PNG_COLOR_TYPE_RGB: channels = 3; depth = 24; break;
    case PNG_COLOR_TYPE_PALETTE:
      channels = 1;
      depth = pixelDepth == 2 ? 4 : static_cast<uint32_t>(pixelDepth);
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: channels = 2; depth = 8; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: channels = 4; depth = 24; break;
    default: return fail("unknown PNG color type");
  }
  if (!Create(width, height, depth, kFormatPng)) return false;

  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  const bool physChunk = png_get_pHYs(st.png, st.pinfo, &resX, &resY, &unit) != 0;
  // The file's own density chunk first; without one, the EXIF resolution.
  if (!physChunk && ApplyExifDensity(*this, info.exif)) {
    // taken from the eXIf chunk
  } else if (unit == PNG_RESOLUTION_UNKNOWN) {
    SetHorizontalDpi(static_cast<int32_t>(resX));
    SetVerticalDpi(static_cast<int32_t>(resY));
  } else if (unit == PNG_RESOLUTION_METER) {
    SetHorizontalPelsPerMeter(resX);
    SetVerticalPelsPerMeter(resY);
  } else {
    SetHorizontalDpi(96);
    SetVerticalDpi(96);
  }

  png_colorp plte = nullptr;
  int plteCount = 0;
  if (png_get_PLTE(st.png, st.pinfo, &plte, &plteCount) && plte) {
    std::vector<uint8_t> triples;
    for (int i = 0; i < plteCount; ++i) {
      triples.push_back(plte[i].red);
      triples.push_back(plte[i].green);
      triples.push_back(plte[i].blue);
    }
    LoadPaletteFromTriples(triples.data(), static_cast<uint32_t>(plteCount));
    SetImportantColors(static_cast<uint32_t>(plteCount));
  } else if (bitDepth != 2) {
    MakeGrayPalette();
  } else {
    for (uint8_t i = 0; i < 4; ++i) StorePaletteQuad(i, 85 * i, 85 * i, 85 * i, 0);
  }

  png_bytep transAlpha = nullptr;
  int numTrans = 0;
  png_color_16p transColor = nullptr;
  if (png_get_tRNS(st.png, st.pinfo, &transAlpha, &numTrans, &transColor)) {
    const int shift = bitDepth == 16 ? 8 : 0;
    if (colorType == PNG_COLOR_TYPE_RGB && transColor) {
      info.backgroundColor = {static_cast<uint8_t>(transColor->blue >> shift),
                              static_cast<uint8_t>(transColor->green >> shift),
                              static_cast<uint8_t>(transColor->red >> shift), 0};
      info.backgroundIndex = 0;
    } else if (numTrans == 1) {
      if (colorType == PNG_COLOR_TYPE_PALETTE)
        info.backgroundIndex = transColor ? transColor->index : 0;
      else if (transColor)
        info.backgroundIndex = transColor->gray >> shift;
    } else if (numTrans > 1 && transAlpha && PaletteSize() > 0) {
      RGBQUAD* pal = PaletteData();
      for (uint32_t i = 0; i < PaletteSize(); ++i)
        pal[i].rgbReserved = (static_cast<int>(i) < numTrans && static_cast<int>(i) < plteCount)
                                 ? transAlpha[i] : 255;
      info.alphaPalette = true;
    }
  }

  if ((channels == 2 || channels == 4) && !alpha && !CreateAlphaPlane())
    return fail("PNG: can't allocate the alpha plane");

  const bool interlaced = png_get_interlace_type(st.png, st.pinfo) != PNG_INTERLACE_NONE;
  const int passes = TrapReadTransforms(st.png, (colorType & PNG_COLOR_MASK_COLOR) != 0, interlaced);
  if (passes == 0) return fail(nullptr);
  if (info.escape != 0) return false;

  PngRowLayout layout{};
  layout.width = width;
  layout.height = height;
  layout.rowBytes = png_get_rowbytes(st.png, st.pinfo);
  layout.channels = channels;
  layout.pixelBytes = static_cast<uint32_t>(pixelDepth / 8);
  layout.sampleBytes = static_cast<uint32_t>(bitDepth / 8);
  layout.bitDepth = bitDepth;
  layout.passes = passes;
  layout.interlaced = interlaced;
  if (interlaced) info.codecOptions[kPngOptionIndex] |= 1u;
  else info.codecOptions[kPngOptionIndex] &= ~1u;

  std::vector<uint8_t> buffer(layout.rowBytes + 8);
  const int rows = TrapReadRows(st.png, this, buffer.data(), &layout);
  if (rows <= 0) return fail(nullptr);
  if (!TrapReadEnd(st.png, st.pinfo)) return fail(nullptr);
  DigestExifChunk(st.png, st.pinfo, info.exif);  // a chunk after the pixels
  // whose resolution stands where the file has no density chunk
  if (!exifBeforePixels && !physChunk) ApplyExifDensity(*this, info.exif);
  return true;
}

bool PxImagePNG::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;

  char scratch[kLastErrorSize] = {};
  PngWriteState st;
  st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, scratch, PngErrorProc, nullptr);
  if (!st.png) {
    SetLastError("Failed to create PNG structure");
    return false;
  }
  st.pinfo = png_create_info_struct(st.png);
  if (!st.pinfo) {
    SetLastError("Failed to initialize PNG info structure");
    return false;
  }

  auto plan = std::make_unique<PngWritePlan>();
  PngWritePlan& p = *plan;
  std::memset(&p, 0, sizeof p);
  p.width = Width();
  p.height = Height();
  const uint32_t depth = Bpp();
  p.channels = depth <= 8 ? 1 : 3;
  p.bitDepth = static_cast<int>(depth) / p.channels;
  p.interlace = (info.codecOptions[kPngOptionIndex] & 1u) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
  switch (info.codecOptions[kPngOptionIndex] & 14u) {
    case 2: p.zlibLevel = 0; break;
    case 4: p.zlibLevel = 1; break;
    case 6: p.zlibLevel = 9; break;
    default: p.zlibLevel = -1; break;
  }
  const bool hasPalette = PaletteSize() > 0;
  p.grey = hasPalette && HasGrayPalette();
  p.colorType = !hasPalette ? PNG_COLOR_TYPE_RGB : p.grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
  if (alpha) {
    p.colorType |= PNG_COLOR_MASK_ALPHA;
    p.channels = p.grey ? 2 : 4;
    p.bitDepth = 8;
  }

  // A true-colour picture keeps its transparent colour in the background
  // colour; TransparentColor looks for it in a palette it does not have.
  const RGBQUAD transparent = hasPalette ? TransparentColor() : info.backgroundColor;
  if (info.backgroundIndex >= 0) {
    p.background.red = transparent.rgbRed;
    p.background.green = transparent.rgbGreen;
    p.background.blue = transparent.rgbBlue;
    p.background.index = static_cast<png_byte>(info.backgroundIndex);
    p.background.gray = static_cast<png_uint_16>(info.backgroundIndex & 0xFF);
  } else {
    p.background.red = p.background.green = p.background.blue = 255;
    p.background.gray = static_cast<png_uint_16>((1u << p.bitDepth) - 1);
  }
  p.xPelsPerMeter = header.biXPelsPerMeter;
  p.yPelsPerMeter = header.biYPelsPerMeter;

  // The transparent entry goes to entry 0 of the file's palette. The image
  // is the caller's (borrowed), so whatever happens it gets its palette and
  // background index back.
  const int32_t savedBackground = info.backgroundIndex;
  const bool swapped = hasPalette && !p.grey && info.backgroundIndex > 0 &&
                       static_cast<uint32_t>(info.backgroundIndex) < PaletteSize();
  if (swapped) {
    SwapPaletteIndices(0, static_cast<uint8_t>(info.backgroundIndex));
    p.background.index = 0;  // the transparent colour's place in the file
  }

  const bool colourHasAlpha = (p.colorType & PNG_COLOR_MASK_ALPHA) != 0;
  if (info.backgroundIndex >= 0 && !colourHasAlpha) {
    p.writeTrns = true;
    p.numTrans = 1;
    p.transAlpha[0] = 0;  // the one transparent entry
    p.transColor.index = swapped ? 0 : static_cast<png_byte>(info.backgroundIndex);
    p.transColor.gray = static_cast<png_uint_16>(info.backgroundIndex & 0xFF);
    p.transColor.red = transparent.rgbRed;
    p.transColor.green = transparent.rgbGreen;
    p.transColor.blue = transparent.rgbBlue;
  }
  if (hasPalette) {
    p.writePalette = !p.grey;
    uint32_t entries = header.biClrImportant ? header.biClrImportant : PaletteSize();
    if (entries > PaletteSize()) entries = PaletteSize();
    p.paletteEntries = static_cast<int>(entries);
    const RGBQUAD* pal = PaletteData();
    for (uint32_t i = 0; i < entries; ++i) p.palette[i] = {pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
    if (info.alphaPalette && !colourHasAlpha) {
      p.writeTrns = true;
      p.numTrans = static_cast<int>(entries);
      for (uint32_t i = 0; i < entries; ++i) p.transAlpha[i] = pal[i].rgbReserved;
    }
  }
  if (!hasPalette && alpha && info.backgroundIndex >= 0) {
    for (uint32_t y = 0; y < p.height; ++y)
      for (uint32_t x = 0; x < p.width; ++x)
        if (SameQuad(PixelColorAt(static_cast<int32_t>(x), static_cast<int32_t>(y), false), transparent))
          alpha[size_t{y} * p.width + x] = 0;
  }
  p.swapRedBlue = p.colorType == PNG_COLOR_TYPE_RGB;

  const size_t sampleRow = size_t{static_cast<uint32_t>(p.bitDepth) / 8} * p.channels * p.width;
  std::vector<uint8_t> buffer((sampleRow > RowStride() ? sampleRow : RowStride()) + 8);
  // Data still in the stream's buffer fails only when flushed: a full disk
  // must not pass for a written file.
  const bool ok = TrapWrite(st.png, st.pinfo, file, this, &p, buffer.data()) && file->FlushFile() &&
                  file->ErrorState() == 0;

  if (swapped) SwapPaletteIndices(0, static_cast<uint8_t>(savedBackground));
  info.backgroundIndex = savedBackground;
  if (!ok) {
    SetLastError("Error saving PNG file");
    return false;
  }
  return true;
}
