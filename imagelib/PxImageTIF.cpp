// TIFF through libtiff. True-colour, YCbCr, CMYK and LogLuv pages go through
// libtiff's RGBA reader; palette, grey, odd-width, 16-bit and CIELab pages
// through our own strip and tile loops, which accept only the sample layouts
// they are written for and never read past what libtiff handed back.
#include "imagelib/PxImageTIF.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagelib/PxFile.h"

namespace {

// ---- libtiff client procedures over a PxFile -------------------------------

constexpr uint32_t kMaxChunk = 1u << 30;

tmsize_t PxFileReadBytesProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<PxFile*>(handle);
  if (!file || !buffer || count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<uint32_t>(std::min<tmsize_t>(count - done, kMaxChunk));
    const size_t got = file->ReadBlock(out + done, 1, chunk);
    done += static_cast<tmsize_t>(got);
    if (got < chunk) break;
  }
  return done;
}

tmsize_t PxFileWriteBytesProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<PxFile*>(handle);
  if (!file || !buffer || count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<uint32_t>(std::min<tmsize_t>(count - done, kMaxChunk));
    const size_t put = file->WriteBlock(in + done, 1, chunk);
    done += static_cast<tmsize_t>(put);
    if (put < chunk) break;
  }
  return done;
}

// PxFile offsets are 32-bit: anything libtiff asks beyond that is refused
// rather than wrapped around.
toff_t TiffSeekProc(thandle_t handle, toff_t offset, int origin) {
  auto* file = static_cast<PxFile*>(handle);
  if ((offset & 0xFFFFFFFFu) == 0xFFFFFFFFu) return static_cast<toff_t>(-1);
  const auto signedOffset = static_cast<int64_t>(offset);
  if (origin == SEEK_SET && (signedOffset < 0 || signedOffset > INT32_MAX))
    return static_cast<toff_t>(-1);
  if (signedOffset > INT32_MAX || signedOffset < INT32_MIN) return static_cast<toff_t>(-1);
  if (!file->SeekTo(static_cast<int32_t>(signedOffset), origin)) return static_cast<toff_t>(-1);
  if (origin == SEEK_SET) return offset;
  const int32_t position = file->Position();
  return position < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(position);
}

toff_t PxFileSizeProc(thandle_t handle) {
  const int32_t size = static_cast<PxFile*>(handle)->TotalSize();
  return size < 0 ? 0 : static_cast<toff_t>(size);
}

int NoCloseProc(thandle_t) { return 0; }
int NoMapProc(thandle_t, void**, toff_t*) { return 0; }
void NoUnmapProc(thandle_t, void*, toff_t) {}

int DiscardMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff's own diagnostics are not ours to print: a per-handle handler
// swallows them instead of the process-wide one.
TIFF* OpenClient(PxFile* file, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, DiscardMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DiscardMessage, nullptr);
  // A hostile directory can ask libtiff for huge strip buffers; our own
  // image never exceeds the container's memory limit anyway.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t{1} << 30);
  TIFF* tif = TIFFClientOpenExt("TIFF IMAGE", mode, static_cast<thandle_t>(file),
                                PxFileReadBytesProc, PxFileWriteBytesProc, TiffSeekProc,
                                NoCloseProc, PxFileSizeProc, NoMapProc, NoUnmapProc, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

struct TiffCloser {
  TIFF* tif = nullptr;
  ~TiffCloser() {
    if (tif) TIFFClose(tif);
  }
};

// ---- small helpers ----------------------------------------------------------

// Reads the sample at `index` of `bits` bits from a big-endian bit stream of
// `bytes` bytes; bits past the end read as 0.
uint32_t BitStreamSample(const uint8_t* src, size_t bytes, uint64_t index, uint32_t bits) {
  uint64_t bitPos = index * bits;
  uint32_t value = 0;
  for (uint32_t i = 0; i < bits; ++i, ++bitPos) {
    const uint64_t byte = bitPos >> 3;
    const uint32_t bit = byte < bytes ? (src[byte] >> (7 - (bitPos & 7))) & 1u : 0u;
    value = (value << 1) | bit;
  }
  return value;
}

uint32_t LoadHost(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

int LeadingZeros8(uint32_t v) {
  int n = 0;
  for (uint32_t mask = 0x80; mask && !(v & mask); mask >>= 1) ++n;
  return n;
}

uint8_t ClampByte(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(v);
}

// CIELab (8-bit L*, signed a* and b*) to sRGB, D65 white.
void LabToBGR(const uint8_t* lab, uint8_t* bgr) {
  const double L = lab[0] / 2.55;
  const double a = static_cast<int8_t>(lab[1]);
  const double b = static_cast<int8_t>(lab[2]);
  const double fy = (L + 16.0) / 116.0;
  const double fx = fy + 0.002 * a;
  const double fz = fy - 0.005 * b;
  const double X = 0.95047 * fx * fx * fx;
  const double Y = fy * fy * fy;
  const double Z = 1.0883 * fz * fz * fz;
  double rgb[3] = {3.240479 * X - 1.53715 * Y - 0.498535 * Z,
                   -0.969256 * X + 1.875992 * Y + 0.041556 * Z,
                   0.055648 * X - 0.204043 * Y + 1.057311 * Z};
  for (double& c : rgb) {
    c = c > 0.00304 ? 1.055 * std::pow(c, 0.41667) - 0.055 : 12.92 * c;
    c *= 255.0;
  }
  bgr[0] = ClampByte(rgb[2]);
  bgr[1] = ClampByte(rgb[1]);
  bgr[2] = ClampByte(rgb[0]);
}

struct ReadFailure {
  const char* text;
};

}  // namespace

// ---- row helpers --------------------------------------------------------------

namespace pxtiff {

void CopyTileRows(uint8_t* dest, const uint8_t* src, uint32_t rows, size_t rowBytes,
                  size_t destSkip, size_t srcSkip) {
  for (uint32_t r = 0; r < rows; ++r) {
    std::memcpy(dest, src, rowBytes);
    dest += rowBytes + destSkip;
    src += rowBytes + srcSkip;
  }
}

bool UnpackSamplesToBytes(uint8_t* dest, const uint8_t* src, size_t srcBytes, uint32_t count,
                          uint32_t bits) {
  if (bits == 0 || bits > 32) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (bits <= 8) {
      dest[i] = static_cast<uint8_t>(BitStreamSample(src, srcBytes, i, bits));
    } else if (bits == 24 || bits == 32) {
      // Byte-aligned wide samples come in host (little-endian) order.
      const size_t width = bits / 8;
      const size_t at = static_cast<size_t>(i) * width;
      dest[i] = at + width <= srcBytes ? src[at + width - 1] : 0;
    } else if (bits == 16) {
      const size_t at = static_cast<size_t>(i) * 2;
      dest[i] = at + 2 <= srcBytes ? src[at + 1] : 0;
    } else {
      dest[i] = static_cast<uint8_t>(BitStreamSample(src, srcBytes, i, bits) >> (bits - 8));
    }
  }
  return true;
}

bool ExpandPaletteSamples(uint8_t* dest, const uint8_t* src, size_t srcBytes, uint32_t count,
                          uint32_t bits, const uint8_t* paletteBGRA, size_t paletteSize) {
  if (bits < 9 || bits > 24) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t index;
    if (bits == 16 || bits == 24) {
      const size_t width = bits / 8;
      const size_t at = static_cast<size_t>(i) * width;
      index = at + width <= srcBytes ? LoadHost(src + at, width) : 0;
    } else {
      index = BitStreamSample(src, srcBytes, i, bits);
    }
    uint8_t* out = dest + static_cast<size_t>(i) * 3;
    if (index < paletteSize) {
      std::memcpy(out, paletteBGRA + static_cast<size_t>(index) * 4, 3);
    } else {
      out[0] = out[1] = out[2] = 0;
    }
  }
  return true;
}

}  // namespace pxtiff

// ---- reader ---------------------------------------------------------------------

namespace {

constexpr const char kOpenFailed[] = "Error encountered while opening TIFF file";
constexpr const char kNoPage[] = "Error: page not present in TIFF file";
constexpr const char kDimensionsOnly[] = "output dimensions returned";
constexpr const char kCancelled[] = "Cancelled";
constexpr const char kCreateFailed[] = "PxImageTIF can't create image";
constexpr const char kNoRaster[] = "No space for raster buffer";
constexpr const char kCorrupted[] = "Corrupted TIFF file!";
constexpr const char kPaletteTooBig[] = "Too big palette to handle";
constexpr const char kNoPalette[] = "Unable to allocate TIFF palette";
constexpr const char kNoMemory[] = "PxImageTIF can't allocate memory";
constexpr const char kCorruptedTiles[] = "Corrupted tiled TIFF file!";
constexpr const char kUnsupportedLayout[] = "Unsupported TIFF sample layout";

// Our own buffers for one band of rows stay below this; the container's
// memory limit keeps real pictures far below it.
constexpr uint64_t kMaxBandBytes = uint64_t{1} << 30;
// A tile is allocated before any of its data is read, from sizes the file
// declares: a tiny file could ask for a gigabyte per decode. No tile may be
// larger than a whole picture the library accepts (its memory limit).
constexpr uint64_t kMaxTileBytes = uint64_t{1} << 28;

int32_t DpiFromResolution(float resolution, uint16_t unit) {
  const float dpi = unit == RESUNIT_CENTIMETER ? resolution * 2.54f + 0.5f : resolution;
  if (!(dpi >= 0.0f) || dpi >= 2147483520.0f) return 0;  // NaN or out of range: the default
  return static_cast<int32_t>(dpi);
}

int32_t TruncateToInt32(float value) {
  if (!(value > -2147483520.0f && value < 2147483520.0f)) return 0;
  return static_cast<int32_t>(value);
}

bool IsRgbaPhotometric(uint16_t photometric) {
  return photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_SEPARATED ||
         photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_LOGL ||
         photometric == PHOTOMETRIC_LOGLUV;
}

template <typename T>
void ResizeOrThrow(std::vector<T>& buffer, size_t count, const char* text) {
  try {
    buffer.assign(count, T{});
  } catch (const std::bad_alloc&) {
    throw ReadFailure{text};
  } catch (const std::length_error&) {
    throw ReadFailure{text};
  }
}

}  // namespace

PxImageTIF::PxImageTIF() { InitDefaults(kFormatTif); }

PxImageTIF::~PxImageTIF() { CloseHandle(); }

void PxImageTIF::CloseHandle() {
  if (m_writeHandle) {
    TIFFClose(m_writeHandle);
    m_writeHandle = nullptr;
  }
  m_multiPage = 0;
  m_pageCount = 0;
}

bool PxImageTIF::Decode(PxFile* file) {
  TiffCloser closer;
  try {
    if (!file) throw ReadFailure{kOpenFailed};
    closer.tif = OpenClient(file, "rb");
    TIFF* tif = closer.tif;
    if (!tif) throw ReadFailure{kOpenFailed};

    const tdir_t pages = TIFFNumberOfDirectories(tif);
    info.frameCount = static_cast<int32_t>(std::min<tdir_t>(pages, INT32_MAX));
    if (info.frame < 0 || static_cast<tdir_t>(info.frame) >= pages ||
        !TIFFSetDirectory(tif, static_cast<tdir_t>(info.frame)))
      throw ReadFailure{kNoPage};

    uint32_t width = 0, height = 0, rowsPerStrip = 0xFFFFFFFFu;
    uint16_t samples = 1, bits = 1, photometric = 0, orientation = 1, compression = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);

    if (info.escape == -1) {
      header.biWidth = static_cast<int32_t>(width);
      header.biHeight = static_cast<int32_t>(height);
      info.formatId = kFormatTif;
      throw ReadFailure{kDimensionsOnly};
    }

    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    float value = 0.0f;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &value))
      SetHorizontalDpi(DpiFromResolution(value, unit));
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &value))
      SetVerticalDpi(DpiFromResolution(value, unit));
    if (TIFFGetField(tif, TIFFTAG_XPOSITION, &value)) info.frameOffsetX = TruncateToInt32(value);
    if (TIFFGetField(tif, TIFFTAG_YPOSITION, &value)) info.frameOffsetY = TruncateToInt32(value);

    info.backgroundIndex = -1;
    if (rowsPerStrip == 0 || height < rowsPerStrip) rowsPerStrip = height;

    const bool rgbaPath = IsRgbaPhotometric(photometric);
    uint32_t depth;
    if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
         photometric == PHOTOMETRIC_PALETTE) &&
        bits == 1)
      depth = 1;
    else if (rgbaPath)
      depth = 24;
    else if (samples >= 3)
      depth = 24;  // CIELab: converted to colour pixels
    else if (bits == 4)
      depth = 4;
    else if (bits > 8 && photometric == PHOTOMETRIC_PALETTE)
      depth = 24;
    else
      depth = 8;

    // The strip loops are written for these layouts only; anything else is
    // refused before a pixel is allocated.
    if (!rgbaPath) {
      uint16_t planar = PLANARCONFIG_CONTIG;
      TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
      if (samples == 0) throw ReadFailure{kCorrupted};
      if (samples == 1) {
        if (bits == 0 || bits > 32) throw ReadFailure{kUnsupportedLayout};
        if (bits > 24 && photometric == PHOTOMETRIC_PALETTE) throw ReadFailure{kPaletteTooBig};
      } else if (planar != PLANARCONFIG_CONTIG || (bits != 8 && bits != 16)) {
        throw ReadFailure{kUnsupportedLayout};
      }
    }

    if (info.escape != 0) throw ReadFailure{kCancelled};
    if (!Create(width, height, depth, kFormatTif)) throw ReadFailure{kCreateFailed};
    if ((samples == 4 || (samples == 2 && bits == 8)) && !alpha && !CreateAlphaPlane())
      throw ReadFailure{kNoMemory};
    info.codecOptions[FormatIndexFromId(kFormatTif)] = compression;

    // libtiff's RGBA reader refuses some valid uncompressed tiled RGB pages
    // when the file is not memory-mapped (as ours never is); those are read
    // tile by tile instead.
    bool rgbRows = false;
    if (rgbaPath) {
      try {
        ReadRgbaPage(tif, samples);
      } catch (const ReadFailure& failure) {
        uint16_t planar = PLANARCONFIG_CONTIG;
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        rgbRows = failure.text == kCorrupted && photometric == PHOTOMETRIC_RGB &&
                  planar == PLANARCONFIG_CONTIG && samples >= 3 && (bits == 8 || bits == 16);
        if (!rgbRows) throw;
      }
    }
    if (!rgbaPath || rgbRows) {
      // Rows libtiff cannot decode stay black rather than showing whatever
      // the allocator left there.
      std::memset(PixelRows(), 0, ImageBytes());
      ReadStripPage(tif, samples, bits, photometric, rowsPerStrip, rgbRows);
      // Orientation 6 means the picture must turn clockwise to stand
      // upright, 8 counter-clockwise, as the EXIF orientation fix-up does.
      switch (orientation) {
        case ORIENTATION_TOPRIGHT:
          FlipHorizontal();
          break;
        case ORIENTATION_BOTRIGHT:
          FlipVertical();
          FlipHorizontal();
          break;
        case ORIENTATION_BOTLEFT:
          FlipVertical();
          break;
        case ORIENTATION_LEFTTOP:
          TurnRight();
          FlipHorizontal();
          break;
        case ORIENTATION_RIGHTTOP:
          TurnRight();
          break;
        case ORIENTATION_RIGHTBOT:
          TurnLeft();
          FlipHorizontal();
          break;
        case ORIENTATION_LEFTBOT:
          TurnLeft();
          break;
        default:
          break;
      }
    }
    return true;
  } catch (const ReadFailure& failure) {
    if (failure.text && *failure.text) SetLastError(failure.text);
    return info.escape == -1 && info.formatId == kFormatTif;
  }
}

void PxImageTIF::ReadRgbaPage(TIFF* tif, uint16_t samples) {
  const uint32_t w = Width(), h = Height();
  std::vector<uint32_t> raster;
  ResizeOrThrow(raster, size_t{w} * h, kNoRaster);
  if (!TIFFReadRGBAImage(tif, w, h, raster.data(), 0)) throw ReadFailure{kCorrupted};
  // The raster's first row is the bottom row, as in our container.
  for (uint32_t y = 0; y < h; ++y) {
    if (info.escape != 0) throw ReadFailure{kCancelled};
    uint8_t* row = RowAt(y);
    const uint32_t* src = raster.data() + size_t{y} * w;
    uint8_t* alphaRow = (samples == 4 && alpha) ? alpha + size_t{y} * w : nullptr;
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t p = src[x];
      row[3 * x + 0] = static_cast<uint8_t>(TIFFGetB(p));
      row[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(p));
      row[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(p));
      if (alphaRow) alphaRow[x] = static_cast<uint8_t>(TIFFGetA(p));
    }
  }
}

void PxImageTIF::ReadStripPage(TIFF* tif, uint16_t samples, uint16_t bits, uint16_t photometric,
                               uint32_t rowsPerStrip, bool rgbRows) {
  const uint32_t w = Width(), h = Height();
  const bool largePalette = bits > 8 && photometric == PHOTOMETRIC_PALETTE;

  // ---- palette
  std::vector<uint8_t> bigPalette;  // BGRA entries of a palette above 256 entries
  size_t bigPaletteSize = 0;
  if (samples < 3) {
    const uint32_t n = 1u << std::min<uint32_t>(bits, 8);
    const size_t entries = largePalette ? size_t{1} << bits : n;
    std::vector<uint8_t> palette;
    ResizeOrThrow(palette, std::max<size_t>(entries, 256) * 4, kNoPalette);
    auto put = [&](size_t j, uint8_t r, uint8_t g, uint8_t b) {
      palette[4 * j + 0] = b;
      palette[4 * j + 1] = g;
      palette[4 * j + 2] = r;
    };
    if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
        bits == 1) {
      put(photometric == PHOTOMETRIC_MINISBLACK ? 1 : 0, 255, 255, 255);
    } else if (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) {
      const uint32_t step = 255 / (n - 1);
      for (uint32_t j = 0; j < n; ++j) {
        auto v = static_cast<uint8_t>(step * j);
        if (photometric == PHOTOMETRIC_MINISWHITE) v = static_cast<uint8_t>(255 - v);
        put(j, v, v, v);
      }
    } else if (photometric == PHOTOMETRIC_PALETTE) {
      uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
      if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
        throw ReadFailure{kCorrupted};
      bool wide = largePalette;
      for (uint32_t j = 0; j < n && !wide; ++j)
        wide = red[j] > 255 || green[j] > 255 || blue[j] > 255;
      for (size_t j = entries; j-- > 0;) {
        if (wide)
          put(j, static_cast<uint8_t>(red[j] * 255u / 65535u),
              static_cast<uint8_t>(green[j] * 255u / 65535u),
              static_cast<uint8_t>(blue[j] * 255u / 65535u));
        else
          put(j, static_cast<uint8_t>(red[j]), static_cast<uint8_t>(green[j]),
              static_cast<uint8_t>(blue[j]));
      }
    }
    if (largePalette) {
      bigPalette = std::move(palette);
      bigPaletteSize = entries;
    } else {
      LoadPalette(reinterpret_cast<const RGBQUAD*>(palette.data()), n);
    }
  }

  // ---- buffers
  const tmsize_t scanline = TIFFScanlineSize(tif);
  const uint64_t needed = (uint64_t{samples} * bits * w + 7) / 8;
  if (scanline <= 0 || static_cast<uint64_t>(scanline) < needed) throw ReadFailure{kCorrupted};
  const auto lineBytes = static_cast<size_t>(scanline);

  const bool tiled = TIFFIsTiled(tif) != 0;
  uint32_t bandRows = rowsPerStrip;
  uint32_t tileWidth = 0;
  size_t tileRowBytes = 0;
  std::vector<uint8_t> tile;
  if (tiled) {
    uint32_t tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileBytes = TIFFTileSize(tif);
    const tmsize_t rowBytes = TIFFTileRowSize(tif);
    if (tileWidth == 0 || tileLength == 0 || tileBytes <= 0 || rowBytes <= 0)
      throw ReadFailure{kCorruptedTiles};
    // Each tile's rows start on a byte of the band row.
    if ((uint64_t{tileWidth} * samples * bits) % 8 != 0) throw ReadFailure{kUnsupportedLayout};
    if (static_cast<uint64_t>(tileBytes) > kMaxTileBytes) throw ReadFailure{kNoMemory};
    ResizeOrThrow(tile, static_cast<size_t>(tileBytes), kNoMemory);
    tileRowBytes = static_cast<size_t>(rowBytes);
    bandRows = tileLength;
  }
  if (bandRows == 0) bandRows = h;
  const uint64_t bandBytes = uint64_t{std::min(bandRows, h)} * lineBytes;
  if (bandBytes > kMaxBandBytes) throw ReadFailure{kNoMemory};
  std::vector<uint8_t> band;
  ResizeOrThrow(band, static_cast<size_t>(bandBytes), kNoMemory);

  const bool reduce16 = bits == 16 && !largePalette;
  // Stripped one-sample 16-bit rows are scaled by their own brightest
  // sample, then brought to one common scale at the end.
  const bool perRowShift = reduce16 && !tiled && samples == 1;
  std::vector<uint8_t> reduced;
  if (reduce16) ResizeOrThrow(reduced, size_t{w} * samples, kNoMemory);
  std::vector<uint8_t> rowShift;
  if (perRowShift) ResizeOrThrow(rowShift, h, kNoMemory);
  std::fill(rowShift.begin(), rowShift.end(), uint8_t{0xFF});

  const size_t stride = RowStride();
  auto processRow = [&](uint32_t t, const uint8_t* src) {
    const uint32_t y = h - 1 - t;
    uint8_t* dst = RowAt(y);
    const uint8_t* data = src;
    size_t dataBytes = lineBytes;
    uint32_t effectiveBits = bits;
    if (reduce16) {
      const size_t count = size_t{w} * samples;
      int shift = 0;  // 0: the high byte
      if (perRowShift) {
        uint32_t highest = 0;
        for (size_t i = 0; i < count; ++i)
          highest = std::max(highest, LoadHost(src + 2 * i, 2) >> 8);
        shift = highest == 0 ? 8 : LeadingZeros8(highest);
        rowShift[t] = static_cast<uint8_t>(shift);
      }
      for (size_t i = 0; i < count; ++i)
        reduced[i] = static_cast<uint8_t>((LoadHost(src + 2 * i, 2) >> (8 - shift)) & 255);
      data = reduced.data();
      dataBytes = count;
      effectiveBits = 8;
    }
    if (samples == 1) {
      if (largePalette)
        pxtiff::ExpandPaletteSamples(dst, data, dataBytes, w, bits, bigPalette.data(),
                                     bigPaletteSize);
      else if (effectiveBits == Bpp())
        std::memcpy(dst, data, std::min(dataBytes, stride));
      else
        pxtiff::UnpackSamplesToBytes(dst, data, dataBytes, w, effectiveBits);
    } else if (samples == 2) {
      if (!alpha && !CreateAlphaPlane()) throw ReadFailure{kNoMemory};
      uint8_t* alphaRow = alpha + size_t{y} * w;
      for (uint32_t x = 0; x < w; ++x) {
        dst[x] = data[2 * x];
        alphaRow[x] = data[2 * x + 1];
      }
    } else {
      uint8_t* alphaRow = (samples == 4 && alpha) ? alpha + size_t{y} * w : nullptr;
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* pixel = data + size_t{x} * samples;
        uint8_t* out = dst + 3 * size_t{x};
        if (rgbRows) {
          out[0] = pixel[2];
          out[1] = pixel[1];
          out[2] = pixel[0];
        } else {
          LabToBGR(pixel, out);
        }
        if (alphaRow) alphaRow[x] = pixel[3];
      }
    }
  };

  for (uint32_t top = 0; top < h; top += bandRows) {
    if (info.escape != 0) throw ReadFailure{kCancelled};
    const uint32_t rows = std::min(bandRows, h - top);
    size_t rowsRead = 0;
    if (tiled) {
      std::fill(band.begin(), band.end(), uint8_t{0});
      for (uint32_t x = 0; x < w; x += tileWidth) {
        const tmsize_t got = TIFFReadTile(tif, tile.data(), x, top, 0, 0);
        if (got < 0) throw ReadFailure{kCorruptedTiles};
        // The last tile of a row reaches past the image: copy only what fits.
        const size_t offset = static_cast<size_t>(uint64_t{x} * samples * bits / 8);
        if (offset >= lineBytes) break;
        const size_t copy = std::min(tileRowBytes, lineBytes - offset);
        const auto tileRows =
            static_cast<uint32_t>(std::min<size_t>(rows, static_cast<size_t>(got) / tileRowBytes));
        pxtiff::CopyTileRows(band.data() + offset, tile.data(), tileRows, copy, lineBytes - copy,
                             tileRowBytes - copy);
        if (x > UINT32_MAX - tileWidth) break;
      }
      rowsRead = rows;
    } else {
      const tstrip_t strip = TIFFComputeStrip(tif, top, 0);
      const tmsize_t got = TIFFReadEncodedStrip(tif, strip, band.data(),
                                                static_cast<tmsize_t>(size_t{rows} * lineBytes));
      if (got < 0) break;  // the rows decoded so far stay
      rowsRead = std::min<size_t>(rows, static_cast<size_t>(got) / lineBytes);
    }
    for (size_t r = 0; r < rowsRead; ++r)
      processRow(top + static_cast<uint32_t>(r), band.data() + r * lineBytes);
    if (top > UINT32_MAX - bandRows) break;
  }

  if (perRowShift) {
    uint8_t common = 0xFF;
    for (uint8_t s : rowShift) common = std::min(common, s);
    for (uint32_t t = 0; t < h && common != 0xFF; ++t) {
      if (rowShift[t] == 0xFF || rowShift[t] <= common) continue;
      uint8_t* dst = RowAt(h - 1 - t);
      const int by = rowShift[t] - common;
      for (uint32_t x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>(dst[x] >> by);
    }
  }
}

// ---- writer ---------------------------------------------------------------------

namespace {

uint32_t Luminance(const RGBQUAD& c) {
  return (c.rgbRed * 306u + c.rgbGreen * 601u + c.rgbBlue * 117u) >> 10;
}

uint16_t DefaultCompression(uint32_t depth) {
  if (depth == 1) return COMPRESSION_CCITTFAX4;
  if (depth == 4 || depth == 8) return COMPRESSION_LZW;
  if (depth == 24 || depth == 32) return COMPRESSION_JPEG;
  return COMPRESSION_NONE;
}

// Whether libtiff can write `compression` for this page. A stored choice that
// cannot be written (old-style JPEG, fax coding of more than 1 bit, JPEG on a
// palette, decode-only codecs) falls back to the default for the depth.
bool CanWrite(uint16_t compression, uint16_t photometric, uint16_t bitsPerSample,
              uint16_t samples) {
  if (compression == COMPRESSION_NONE) return true;
  if (!TIFFIsCODECConfigured(compression)) return false;
  switch (compression) {
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_LZMA:
    case COMPRESSION_ZSTD:
      return true;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
      return bitsPerSample == 1 && samples == 1;
    case COMPRESSION_JPEG:
      return bitsPerSample == 8 &&
             ((photometric == PHOTOMETRIC_MINISBLACK && samples == 1) ||
              (photometric == PHOTOMETRIC_RGB && (samples == 3 || samples == 4)));
    default:
      return false;  // old-style JPEG, ThunderScan, NeXT, LogLuv and the like
  }
}

}  // namespace

bool PxImageTIF::Encode(PxFile* file) {
  if (!file) {
    SetLastError("null file handler");
    return false;
  }
  if (!dib) {
    SetLastError("null image!!!");
    return false;
  }
  CloseHandle();
  m_writeHandle = OpenClient(file, "w");
  if (!m_writeHandle) {
    SetLastError("initialization fail");
    return false;
  }
  // TIFFFlush writes the directory; its result tells whether every byte
  // reached the file.
  bool ok = EncodePage(m_writeHandle) && TIFFFlush(m_writeHandle) == 1;
  CloseHandle();
  // What libtiff handed over may still sit in the stream's buffer; a full
  // disk shows only when that goes out.
  ok = ok && file->FlushFile() && file->ErrorState() == 0;
  if (!ok) {
    SetLastError("Error saving TIFF file");
    return false;
  }
  return true;
}

bool PxImageTIF::EncodePage(TIFF* tif) {
  const uint32_t w = Width(), h = Height();
  uint32_t depth = Bpp();
  uint16_t samples = depth == 24 ? 3 : 1;
  if (depth == 24 && alpha) {
    samples = 4;
    depth = 32;
  }
  if (depth == 8 && alpha) samples = 2;
  const auto bitsPerSample =
      static_cast<uint16_t>(depth == 8 && samples == 2 ? 8 : depth / samples);

  const RGBQUAD* palette = PaletteData();
  const uint32_t paletteSize = PaletteSize();
  uint16_t photometric;
  // Min-is-white wants entry 0 to be the lighter one; when it is not, the
  // bits are inverted on their way out. The picture is the caller's: turning
  // it over in place would leave its background index and nearest-colour
  // cache naming the wrong entry.
  bool invertBits = false;
  if (depth == 1) {
    invertBits = palette && paletteSize >= 2 && Luminance(palette[0]) < Luminance(palette[1]);
    photometric = PHOTOMETRIC_MINISWHITE;
  } else if (depth == 4 || depth == 8) {
    // A grey ramp at the depth's own step is written as plain grey.
    const uint32_t step = depth == 4 ? 17 : 1;
    bool grey = palette != nullptr;
    for (uint32_t i = 0; grey && i < paletteSize; ++i)
      grey = palette[i].rgbBlue == i * step && palette[i].rgbGreen == i * step &&
             palette[i].rgbRed == i * step;
    photometric = grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
  } else if (depth == 24 || depth == 32) {
    photometric = PHOTOMETRIC_RGB;
  } else {
    photometric = PHOTOMETRIC_MINISWHITE;
  }

  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  if (samples == 2 || samples == 4) {
    // Say what the extra sample is, so other programs read it as alpha.
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(info.xDpi));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(info.yDpi));
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);

  std::vector<uint16_t> colorMap;
  if (photometric == PHOTOMETRIC_PALETTE) {
    colorMap.assign(3 * 256, 0);
    for (uint32_t i = 0; i < 256 && i < paletteSize; ++i) {
      colorMap[i] = static_cast<uint16_t>(palette[i].rgbRed * 257);
      colorMap[256 + i] = static_cast<uint16_t>(palette[i].rgbGreen * 257);
      colorMap[512 + i] = static_cast<uint16_t>(palette[i].rgbBlue * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, colorMap.data(), colorMap.data() + 256,
                 colorMap.data() + 512);
  }

  const uint32_t option = info.codecOptions[FormatIndexFromId(kFormatTif)];
  auto compression = static_cast<uint16_t>(option & 0xFFFF);
  if (option == 0 || !CanWrite(compression, photometric, bitsPerSample, samples))
    compression = DefaultCompression(depth);
  if (!CanWrite(compression, photometric, bitsPerSample, samples)) compression = COMPRESSION_NONE;
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);

  uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, static_cast<uint32_t>(-1));
  if (compression == COMPRESSION_LZW && depth > 7)
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (compression == COMPRESSION_JPEG) {
    const auto quality = static_cast<int>(static_cast<uint32_t>(info.jpegQuality + 0.5f) & 0xFF);
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::clamp(quality, 1, 100));
    rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;
  }
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

  if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) return true;

  std::vector<uint8_t> line;
  try {
    line.assign(size_t{w} * samples + RowStride(), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t t = 0; t < h; ++t) {
    const uint32_t y = h - 1 - t;
    const uint8_t* row = RowAt(y);
    const uint8_t* alphaRow = alpha ? alpha + size_t{y} * w : nullptr;
    uint8_t* out = line.data();
    if (samples == 1) {
      std::memcpy(out, row, RowStride());
      if (invertBits)
        for (size_t i = 0; i < RowStride(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
    } else if (samples == 2) {
      for (uint32_t x = 0; x < w; ++x) {
        out[2 * x] = row[x];
        out[2 * x + 1] = alphaRow[x];
      }
    } else if (samples == 3) {
      for (uint32_t x = 0; x < w; ++x) {
        out[3 * x] = row[3 * x + 2];
        out[3 * x + 1] = row[3 * x + 1];
        out[3 * x + 2] = row[3 * x];
      }
    } else {
      for (uint32_t x = 0; x < w; ++x) {
        out[4 * x] = row[3 * x + 2];
        out[4 * x + 1] = row[3 * x + 1];
        out[4 * x + 2] = row[3 * x];
        out[4 * x + 3] = alphaRow[x];
      }
    }
    if (TIFFWriteScanline(tif, out, t, 0) == -1) return false;
  }
  return true;
}
