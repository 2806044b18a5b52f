// The TIFF writer: one page, strips of rows from the top, with the stored
// compression when libtiff can write it for the page, else the default for
// the depth.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "imagelib/GrayLevel.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImageTIF.h"
#include "imagelib/PxImageTIFWork.h"

using pxtiff::OpenClient;

namespace {

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

void PxImageTIF::CloseHandle() {
  if (m_writeHandle) {
    TIFFClose(m_writeHandle);
    m_writeHandle = nullptr;
  }
  m_multiPage = 0;
  m_pageCount = 0;
}

bool PxImageTIF::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
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
    invertBits = palette && paletteSize >= 2 && GrayLevel(palette[0]) < GrayLevel(palette[1]);
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
