// The TIFF reader. True-colour, YCbCr, CMYK and LogLuv pages go through
// libtiff's RGBA reader; palette, grey, odd-width, 16-bit and CIELab pages
// through our own strip and tile loops, which accept only the sample layouts
// they are written for and never read past what libtiff handed back.
#include "imagelib/PxImageTIF.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageTIFWork.h"

using pxtiff::LabToBGR;
using pxtiff::LeadingZeros8;
using pxtiff::LoadHost;
using pxtiff::OpenClient;
using pxtiff::TiffCloser;

namespace {

struct ReadFailure {
  const char* text;
};

}  // namespace

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
constexpr const char kSignedSamples[] = "TIFF: signed or complex samples are not supported";
constexpr const char kFloatLayout[] = "TIFF: floating-point samples are read only as 32- or 64-bit grey or RGB";
constexpr const char kCameraRaw[] = "Camera raw data: read by the RAW format";
constexpr uint16_t kPhotometricLinearRaw = 34892;  // DNG linear raw samples

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

// A strip or tile the file's list leaves out: libtiff pads a list shorter
// than the picture with offset 0 (where the file's header is) and reads
// "rows" from there.
bool StrileMissing(TIFF* tif, uint32_t strile) { return TIFFGetStrileOffset(tif, strile) == 0; }

// Whether any strip or tile of the page is missing from its list.
bool AnyStrileMissing(TIFF* tif) {
  const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  for (uint32_t i = 0; i < count; ++i)
    if (StrileMissing(tif, i)) return true;
  return false;
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

// The page's EXIF directory's DateTimeOriginal, for the tools (a JPEG made
// from the page states the time the picture was taken). Read by the
// header-only read, after which the handle is not used for the page again.
void ReadPageShootingTime(TIFF* tif, ExifSummary& summary) {
  toff_t offset = 0;
  if (!TIFFGetField(tif, TIFFTAG_EXIFIFD, &offset) || offset == 0 || !TIFFReadEXIFDirectory(tif, offset))
    return;
  const char* text = nullptr;
  if (!TIFFGetField(tif, EXIFTAG_DATETIMEORIGINAL, &text) || !text) return;
  std::snprintf(summary.dateTime, sizeof summary.dateTime, "%s", text);
  summary.present = true;
}

}  // namespace

PxImageTIF::PxImageTIF() { InitDefaults(kFormatTif); }

PxImageTIF::~PxImageTIF() { CloseHandle(); }

bool PxImageTIF::Decode(PxFile* file) {
  int libtiffErrors = 0;  // declared first: the handle reports into it until closed
  TiffCloser closer;
  info.bDamaged = false;
  try {
    if (!file) throw ReadFailure{kOpenFailed};
    closer.tif = OpenClient(file, "rb", &libtiffErrors);
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
    // Sensor data (a colour filter array or linear raw samples) is not a
    // picture until the raw decoder has developed it; a DNG file is left to
    // the RAW format whatever its first page holds.
    void* dngVersion = nullptr;
    if (photometric == PHOTOMETRIC_CFA || photometric == kPhotometricLinearRaw ||
        TIFFGetField(tif, TIFFTAG_DNGVERSION, &dngVersion))
      throw ReadFailure{kCameraRaw};

    if (info.escape == -1) {
      // The size of the page as the decode delivers it: upright, so on
      // its side (orientations 5 to 8) width and height trade places.
      const bool onItsSide = orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
      header.biWidth = static_cast<int32_t>(onItsSide ? height : width);
      header.biHeight = static_cast<int32_t>(onItsSide ? width : height);
      info.formatId = kFormatTif;
      ReadPageShootingTime(tif, info.exif);
      throw ReadFailure{kDimensionsOnly};
    }

    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    float value = 0.0f;
    // A density per centimetre keeps its exact pixels per metre.
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &value)) {
      if (unit == RESUNIT_CENTIMETER)
        SetHorizontalPelsPerMeter(value * 100.0);
      else
        SetHorizontalDpi(DpiFromResolution(value, unit));
    }
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &value)) {
      if (unit == RESUNIT_CENTIMETER)
        SetVerticalPelsPerMeter(value * 100.0);
      else
        SetVerticalDpi(DpiFromResolution(value, unit));
    }
    if (TIFFGetField(tif, TIFFTAG_XPOSITION, &value)) info.frameOffsetX = TruncateToInt32(value);
    if (TIFFGetField(tif, TIFFTAG_YPOSITION, &value)) info.frameOffsetY = TruncateToInt32(value);

    info.backgroundIndex = -1;
    if (rowsPerStrip == 0 || height < rowsPerStrip) rowsPerStrip = height;

    // The first extra sample is alpha when it says so; libtiff takes an
    // unspecified one of a four-sample RGB page as premultiplied alpha too.
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    const uint16_t extraType = extraCount > 0 && extraTypes ? extraTypes[0] : EXTRASAMPLE_UNSPECIFIED;
    const bool cmyk = photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK;
    const uint16_t colourSamples = cmyk ? 4 : 3;
    const bool colourAlpha =
        (photometric == PHOTOMETRIC_RGB || cmyk) && samples > colourSamples && extraCount > 0 &&
        (extraType != EXTRASAMPLE_UNSPECIFIED || photometric == PHOTOMETRIC_RGB);

    // libtiff's RGBA reader premultiplies straight alpha and does not read
    // 16-bit CMYK: those pages go through our own rows when their samples
    // are contiguous bytes or 16-bit words.
    ColourRows colour;
    colour.alphaSample = colourAlpha ? colourSamples : -1;
    colour.premultiplied = colourAlpha && extraType != EXTRASAMPLE_UNASSALPHA;
    // Samples in planes of their own are interleaved by our rows; libtiff's
    // RGBA reader refuses planar tiles and premultiplies 16-bit planes at 8
    // bits. Floating-point samples are values, never bit patterns.
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID &&
        sampleFormat != SAMPLEFORMAT_IEEEFP)
      throw ReadFailure{kSignedSamples};
    SampleLayout layout;
    layout.floating = sampleFormat == SAMPLEFORMAT_IEEEFP;
    layout.separatePlanes = planar == PLANARCONFIG_SEPARATE && samples > 1;
    if (layout.floating &&
        ((bits != 32 && bits != 64) || (samples == 1 && photometric != PHOTOMETRIC_MINISBLACK &&
                                         photometric != PHOTOMETRIC_MINISWHITE) ||
         (samples != 1 && !(samples == 3 && photometric == PHOTOMETRIC_RGB))))
      throw ReadFailure{kFloatLayout};
    const bool plainSamples = bits == 8 || bits == 16;
    bool colourRows = false;
    if (layout.floating && samples == 3) {
      colour.model = ColourRows::kRgb;
      colourRows = true;
    } else if (plainSamples && photometric == PHOTOMETRIC_RGB && samples >= 3 &&
               (colourAlpha || layout.separatePlanes)) {
      colour.model = ColourRows::kRgb;
      colourRows = true;
    } else if (plainSamples && cmyk && samples >= 4 && (bits == 16 || colourAlpha || layout.separatePlanes)) {
      colour.model = ColourRows::kCmyk;
      colourRows = true;
    }
    const bool rgbaPath = IsRgbaPhotometric(photometric) && !colourRows;
    uint32_t depth;
    if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
         photometric == PHOTOMETRIC_PALETTE) &&
        bits == 1)
      depth = 1;
    else if (rgbaPath || colourRows)
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
      if (samples == 0) throw ReadFailure{kCorrupted};
      if (layout.floating) {
        // grey or RGB of 32 or 64 bits, checked above
      } else if (samples == 1) {
        if (bits == 0 || bits > 32) throw ReadFailure{kUnsupportedLayout};
        if (bits > 24 && photometric == PHOTOMETRIC_PALETTE) throw ReadFailure{kPaletteTooBig};
      } else if (!plainSamples) {
        throw ReadFailure{kUnsupportedLayout};
      }
    }

    if (info.escape != 0) throw ReadFailure{kCancelled};
    if (!Create(width, height, depth, kFormatTif)) throw ReadFailure{kCreateFailed};
    const bool rgbaAlpha = rgbaPath && samples == 4;
    if ((rgbaAlpha || colour.alphaSample >= 0 || (samples == 2 && bits == 8)) && !alpha && !CreateAlphaPlane())
      throw ReadFailure{kNoMemory};
    info.codecOptions[FormatIndexFromId(kFormatTif)] = compression;

    // libtiff's RGBA reader refuses some valid uncompressed tiled RGB pages
    // when the file is not memory-mapped (as ours never is); those are read
    // tile by tile instead.
    if (rgbaPath) {
      try {
        const int errorsBefore = libtiffErrors;
        ReadRgbaPage(tif, rgbaAlpha);
        // A strip or tile libtiff could not decode was skipped (its rows
        // stay black): the same damaged decode as on our own strip road.
        if (libtiffErrors != errorsBefore) {
          info.bDamaged = true;
          SetLastError(kCorrupted);
        }
        ApplyOrientation(orientation, Height());
      } catch (const ReadFailure& failure) {
        colourRows = failure.text == kCorrupted && photometric == PHOTOMETRIC_RGB && plainSamples && samples >= 3;
        if (!colourRows) throw;
        colour.model = ColourRows::kRgb;
      }
    }
    if (!rgbaPath || colourRows) {
      // Rows libtiff cannot decode stay black: Create hands them over
      // zeroed, and only a failed RGBA read can have left anything behind
      // (clearing a large picture again would cost as much as reading it).
      if (rgbaPath) std::memset(PixelRows(), 0, ImageBytes());
      const uint32_t rowsReached = ReadStripPage(tif, samples, bits, photometric, rowsPerStrip, colour, layout);
      ApplyOrientation(orientation, rowsReached);
    }
    return true;
  } catch (const ReadFailure& failure) {
    if (failure.text && *failure.text) SetLastError(failure.text);
    return info.escape == -1 && info.formatId == kFormatTif;
  }
}

void PxImageTIF::StoreFloatRows(const std::vector<float>& values, uint16_t samples, uint32_t rows) {
  const uint32_t w = Width(), h = Height();
  const size_t count = size_t{rows} * w * samples;
  float lowest = 0.0f, highest = 0.0f;
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    const float v = values[i];
    if (!std::isfinite(v)) continue;
    if (!any || v < lowest) lowest = v;
    if (!any || v > highest) highest = v;
    any = true;
  }
  if (any && lowest >= 0.0f && highest <= 1.0f) {
    lowest = 0.0f;
    highest = 1.0f;
  }
  const double span = highest > lowest ? static_cast<double>(highest) - lowest : 0.0;
  const auto level = [&](float v) -> uint8_t {
    if (std::isnan(v)) return 0;
    if (span == 0.0) return v > 0.0f ? 255 : 0;
    const double scaled = (static_cast<double>(v) - lowest) * 255.0 / span + 0.5;
    return static_cast<uint8_t>(std::clamp(scaled, 0.0, 255.0));
  };
  for (uint32_t t = 0; t < rows; ++t) {
    uint8_t* dst = RowAt(h - 1 - t);
    const float* src = values.data() + size_t{t} * w * samples;
    for (uint32_t x = 0; x < w; ++x) {
      if (samples == 1) {
        dst[x] = level(src[x]);
      } else {
        dst[3 * size_t{x}] = level(src[3 * size_t{x} + 2]);
        dst[3 * size_t{x} + 1] = level(src[3 * size_t{x} + 1]);
        dst[3 * size_t{x} + 2] = level(src[3 * size_t{x}]);
      }
    }
  }
}

// libtiff hands colours over premultiplied by alpha, whether the file
// stores them so or straight; the container keeps them straight.
void PxImageTIF::ReadRgbaPage(TIFF* tif, bool withAlpha) {
  const uint32_t w = Width(), h = Height();
  std::vector<uint32_t> raster;
  ResizeOrThrow(raster, size_t{w} * h, kNoRaster);
  // libtiff's RGBA reader applies only the mirror part of the orientations
  // that turn the picture (5 to 8), so the raster is read in stored order
  // and put upright afterwards, as strip-read pages are.
  if (AnyStrileMissing(tif)) throw ReadFailure{kCorrupted};
  char message[1024] = {};
  TIFFRGBAImage reader;
  if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&reader, tif, 0, message))
    throw ReadFailure{kCorrupted};
  reader.orientation = ORIENTATION_TOPLEFT;
  reader.req_orientation = ORIENTATION_BOTLEFT;
  const int got = TIFFRGBAImageGet(&reader, raster.data(), w, h);
  TIFFRGBAImageEnd(&reader);
  if (!got) throw ReadFailure{kCorrupted};
  // The raster's first row is the bottom row, as in our container.
  for (uint32_t y = 0; y < h; ++y) {
    if (info.escape != 0) throw ReadFailure{kCancelled};
    uint8_t* row = RowAt(y);
    const uint32_t* src = raster.data() + size_t{y} * w;
    uint8_t* alphaRow = (withAlpha && alpha) ? alpha + size_t{y} * w : nullptr;
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t p = src[x];
      uint8_t* out = row + 3 * size_t{x};
      out[0] = static_cast<uint8_t>(TIFFGetB(p));
      out[1] = static_cast<uint8_t>(TIFFGetG(p));
      out[2] = static_cast<uint8_t>(TIFFGetR(p));
      if (alphaRow) {
        alphaRow[x] = static_cast<uint8_t>(TIFFGetA(p));
        pxtiff::Unpremultiply(out, alphaRow[x]);
      }
    }
  }
}

uint32_t PxImageTIF::ReadStripPage(TIFF* tif, uint16_t samples, uint16_t bits, uint16_t photometric,
                               uint32_t rowsPerStrip, ColourRows colour, SampleLayout layout) {
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
      // Writers store 8-bit colours as value x 257 (scaled back by
      // 255 / 65535, which also gives 16-bit colours their level) or as
      // value x 256 (Pillow), which only the high byte gives back exactly:
      // a map whose low bytes are all 0 is read by its high bytes.
      bool highBytes = wide;
      for (size_t j = 0; j < entries && highBytes; ++j)
        highBytes = ((red[j] | green[j] | blue[j]) & 0xFF) == 0;
      for (size_t j = entries; j-- > 0;) {
        if (highBytes)
          put(j, static_cast<uint8_t>(red[j] >> 8), static_cast<uint8_t>(green[j] >> 8),
              static_cast<uint8_t>(blue[j] >> 8));
        else if (wide)
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
  // With separate planes each strip or tile holds one sample of a pixel.
  const uint32_t planes = layout.separatePlanes ? samples : 1;
  const uint32_t planeSamples = samples / planes;
  const tmsize_t scanline = TIFFScanlineSize(tif);
  const uint64_t needed = (uint64_t{planeSamples} * bits * w + 7) / 8;
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
    if ((uint64_t{tileWidth} * planeSamples * bits) % 8 != 0) throw ReadFailure{kUnsupportedLayout};
    if (static_cast<uint64_t>(tileBytes) > kMaxTileBytes) throw ReadFailure{kNoMemory};
    ResizeOrThrow(tile, static_cast<size_t>(tileBytes), kNoMemory);
    tileRowBytes = static_cast<size_t>(rowBytes);
    bandRows = tileLength;
  }
  if (bandRows == 0) bandRows = h;
  const uint64_t bandBytes = uint64_t{std::min(bandRows, h)} * lineBytes;
  if (bandBytes > kMaxBandBytes / planes) throw ReadFailure{kNoMemory};
  // Not cleared: only the bytes libtiff hands back are read (a strip's
  // rows up to its result, a band of tiles after clearing it), and clearing
  // a band as large as the picture cost as much as the rest of the read.
  const auto bandSize = static_cast<size_t>(bandBytes);
  std::unique_ptr<uint8_t[]> bandBuffer(new (std::nothrow) uint8_t[bandSize ? bandSize * planes : 1]);
  if (!bandBuffer) throw ReadFailure{kNoMemory};
  uint8_t* const band = bandBuffer.get();
  // One row of pixels put together from the planes.
  std::vector<uint8_t> interleaved;
  if (planes > 1) ResizeOrThrow(interleaved, size_t{w} * samples * (bits / 8), kNoMemory);
  // Floating-point samples are kept as values until their range is known.
  std::vector<float> floatValues;
  if (layout.floating) {
    if (uint64_t{w} * h * samples * sizeof(float) > kMaxBandBytes) throw ReadFailure{kNoMemory};
    ResizeOrThrow(floatValues, size_t{w} * h * samples, kNoMemory);
  }

  const bool reduce16 = bits == 16 && !largePalette;
  const auto storeFloats = [&](uint32_t t, const uint8_t* src) {
    float* out = floatValues.data() + size_t{t} * w * samples;
    for (size_t i = 0; i < size_t{w} * samples; ++i) {
      if (bits == 32) {
        std::memcpy(&out[i], src + 4 * i, 4);
      } else {
        double v;
        std::memcpy(&v, src + 8 * i, 8);
        out[i] = static_cast<float>(v);
      }
    }
  };
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
      if (colour.model != ColourRows::kLab) {
        // Colour pages are rounded to 8 bits, premultiplied colour divided
        // out while it still has all its bits.
        const size_t alphaAt = colour.alphaSample >= 0 ? static_cast<size_t>(colour.alphaSample) : samples;
        for (size_t p = 0; p < count; p += samples) {
          const uint32_t a = alphaAt < samples ? LoadHost(src + 2 * (p + alphaAt), 2) : 65535u;
          for (size_t i = 0; i < samples; ++i) {
            uint32_t v = LoadHost(src + 2 * (p + i), 2);
            if (colour.premultiplied && i < alphaAt && a != 0 && a != 65535u)
              v = std::min<uint32_t>(65535u, (v * 65535u + a / 2) / a);
            reduced[p + i] = static_cast<uint8_t>((v + 128u) / 257u);
          }
        }
      } else {
        for (size_t i = 0; i < count; ++i)
          reduced[i] = static_cast<uint8_t>((LoadHost(src + 2 * i, 2) >> (8 - shift)) & 255);
      }
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
      const int alphaAt = colour.model == ColourRows::kLab && samples == 4 ? 3 : colour.alphaSample;
      uint8_t* alphaRow = (alphaAt >= 0 && alpha) ? alpha + size_t{y} * w : nullptr;
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* pixel = data + size_t{x} * samples;
        uint8_t* out = dst + 3 * size_t{x};
        switch (colour.model) {
          case ColourRows::kRgb:
            out[0] = pixel[2];
            out[1] = pixel[1];
            out[2] = pixel[0];
            break;
          case ColourRows::kCmyk:
            pxtiff::CmykToBGR(pixel, out);
            break;
          case ColourRows::kLab:
            LabToBGR(pixel, out);
            break;
        }
        if (alphaRow) {
          alphaRow[x] = pixel[alphaAt];
          if (colour.premultiplied && !reduce16) pxtiff::Unpremultiply(out, alphaRow[x]);
        }
      }
    }
  };

  // One policy for strips and tiles: a strip or tile that comes back short
  // is used as far as it goes and the reading goes on; one that libtiff
  // cannot decode at all ends the reading (what follows is usually cut off
  // or broken the same way). Either way the missing rows stay black and the
  // decode is marked damaged.
  bool damaged = false;
  bool stop = false;
  uint32_t reached = 0;  // rows from the top written so far
  const size_t sampleBytes = bits / 8;
  for (uint32_t top = 0; top < h && !stop; top += bandRows) {
    if (info.escape != 0) throw ReadFailure{kCancelled};
    const uint32_t rows = std::min(bandRows, h - top);
    size_t rowsRead = rows;
    for (uint32_t plane = 0; plane < planes && !stop; ++plane) {
      uint8_t* const planeBand = band + size_t{plane} * bandSize;
      if (tiled) {
        std::fill(planeBand, planeBand + bandSize, uint8_t{0});
        for (uint32_t x = 0; x < w; x += tileWidth) {
          const tmsize_t got = StrileMissing(tif, TIFFComputeTile(tif, x, top, 0, static_cast<uint16_t>(plane)))
                                   ? -1
                                   : TIFFReadTile(tif, tile.data(), x, top, 0, static_cast<uint16_t>(plane));
          if (got < 0) {
            damaged = stop = true;
            break;
          }
          // The last tile of a row reaches past the image: copy only what fits.
          const size_t offset = static_cast<size_t>(uint64_t{x} * planeSamples * bits / 8);
          if (offset >= lineBytes) break;
          const size_t copy = std::min(tileRowBytes, lineBytes - offset);
          const auto tileRows =
              static_cast<uint32_t>(std::min<size_t>(rows, static_cast<size_t>(got) / tileRowBytes));
          if (tileRows < rows) damaged = true;
          pxtiff::CopyTileRows(planeBand + offset, tile.data(), tileRows, copy, lineBytes - copy,
                               tileRowBytes - copy);
          if (x > UINT32_MAX - tileWidth) break;
        }
        // The band's tiles read before a failure are shown, the rest is black.
      } else {
        const tstrip_t strip = TIFFComputeStrip(tif, top, static_cast<uint16_t>(plane));
        const tmsize_t got =
            StrileMissing(tif, strip)
                ? -1
                : TIFFReadEncodedStrip(tif, strip, planeBand, static_cast<tmsize_t>(size_t{rows} * lineBytes));
        if (got < 0) {
          damaged = stop = true;
          rowsRead = 0;
        } else {
          rowsRead = std::min<size_t>(rowsRead, static_cast<size_t>(got) / lineBytes);
          if (rowsRead < rows) damaged = true;
        }
      }
    }
    for (size_t r = 0; r < rowsRead; ++r) {
      const uint8_t* row = band + r * lineBytes;
      if (planes > 1) {
        // Pixel by pixel, each sample from its own plane.
        for (uint32_t plane = 0; plane < planes; ++plane) {
          const uint8_t* from = band + size_t{plane} * bandSize + r * lineBytes;
          uint8_t* to = interleaved.data() + size_t{plane} * sampleBytes;
          for (uint32_t x = 0; x < w; ++x, from += sampleBytes, to += size_t{samples} * sampleBytes)
            std::memcpy(to, from, sampleBytes);
        }
        row = interleaved.data();
      }
      if (layout.floating)
        storeFloats(top + static_cast<uint32_t>(r), row);
      else
        processRow(top + static_cast<uint32_t>(r), row);
    }
    if (rowsRead > 0) reached = top + static_cast<uint32_t>(rowsRead);
    if (top > UINT32_MAX - bandRows) break;
  }
  if (layout.floating) StoreFloatRows(floatValues, samples, reached);
  if (damaged) {
    info.bDamaged = true;
    SetLastError(tiled ? kCorruptedTiles : kCorrupted);
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
  return reached;
}
