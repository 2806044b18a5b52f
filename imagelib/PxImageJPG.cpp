#include "imagelib/PxImageJPG.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "imagelib/PxFile.h"
#include "imagelib/PxJpegBridge.h"

namespace {

// The EXIF block's resolution comes from the file: a quotient beyond the
// integer range (or not a number) must not reach the conversion, whose
// result would be undefined. Out-of-range values give 0, "no resolution";
// the others are rounded (299.7 dpi is 300).
int32_t DpiFromQuotient(double quotient) {
  if (!(quotient > -2147483648.0 && quotient < 2147483647.0)) return 0;
  return static_cast<int32_t>(std::floor(quotient + 0.5));
}

// One axis's density, given as `perUnit` pixels per a unit `unitInches`
// inches long. A metric unit sets the pixels per metre from the stated
// value, not from the rounded dpi: 118 px/cm is 11800 px/m in a PNG or BMP
// made from it, where 300 dpi would make it 11811.
void SetAxisDensity(PxImage& image, bool horizontal, double perUnit, double unitInches) {
  if (unitInches != 1.0) {
    const double perMetre = perUnit / (unitInches * 0.0254);
    if (horizontal)
      image.SetHorizontalPelsPerMeter(perMetre);
    else
      image.SetVerticalPelsPerMeter(perMetre);
    return;
  }
  const int32_t dpi = DpiFromQuotient(perUnit);
  if (horizontal)
    image.SetHorizontalDpi(dpi);
  else
    image.SetVerticalDpi(dpi);
}

constexpr uint32_t kJpegOptionIndex = 3;

// Destroys a libjpeg object on every way out of a codec call.
struct DecompressGuard {
  jpeg_decompress_struct* cinfo;
  ~DecompressGuard() { jpeg_destroy_decompress(cinfo); }
};
struct CompressGuard {
  jpeg_compress_struct* cinfo;
  ~CompressGuard() { jpeg_destroy_compress(cinfo); }
};

}  // namespace

bool ApplyExifDensity(PxImage& image, const ExifSummary& e) {
  if (!e.present || e.resolutionUnit == 0.0f || (e.xResolution == 0.0f && e.yResolution == 0.0f))
    return false;
  if (e.xResolution != 0.0f) SetAxisDensity(image, true, e.xResolution, e.resolutionUnit);
  if (e.yResolution != 0.0f) SetAxisDensity(image, false, e.yResolution, e.resolutionUnit);
  return true;
}

PxImageJPG::PxImageJPG() {
  InitDefaults(kFormatJpg);
  std::memset(&info.exif, 0, sizeof info.exif);
}

PxImageJPG::~PxImageJPG() = default;

bool PxImageJPG::LoadExifSummary(PxFile* file) {
  // A summary left from an earlier picture must not pass for this one's.
  std::memset(&info.exif, 0, sizeof info.exif);
  m_sectionReader = std::make_unique<ExifSectionReader>(&info.exif);
  const int32_t start = file->Position();
  m_sectionReader->ReadSections(file, ExifSectionReader::kDigestExif);
  file->SeekTo(start, 0);
  return info.exif.present;
}

bool PxImageJPG::Decode(PxFile* file) {
  if (!file) return false;
  const bool exifFound = LoadExifSummary(file);

  JpegErrorTrap trap;
  InitJpegErrorTrap(&trap, info.lastError);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kJpegTransferBytes]);
  PxFileJpegBridge bridge;
  InitJpegBridge(&bridge, file, buffer.get());
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  DecompressGuard guard{&cinfo};
  if (!TrapCreateDecompress(&cinfo, &trap, &bridge)) return false;
  if (!TrapReadHeader(&cinfo, &trap)) return false;

  const uint32_t options = info.codecOptions[kJpegOptionIndex];
  if (options & 0x80) cinfo.out_color_space = JCS_GRAYSCALE;
  if (options & 0x100) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = static_cast<uint8_t>(static_cast<int>(info.jpegQuality + 0.5f));
  }
  if (options & 0x200) cinfo.dither_mode = static_cast<J_DITHER_MODE>(ditherMode);
  if (options & 0x400) cinfo.two_pass_quantize = FALSE;
  if (options & 0x800) cinfo.do_fancy_upsampling = FALSE;
  cinfo.scale_num = 1;
  cinfo.scale_denom = info.jpegScale ? info.jpegScale : 1;

  if (!TrapCalcOutputDimensions(&cinfo, &trap)) return false;
  if (info.escape == -1) {
    header.biWidth = static_cast<int32_t>(cinfo.output_width);
    header.biHeight = static_cast<int32_t>(cinfo.output_height);
    info.formatId = kFormatJpg;
    ForgetThumbnail();
    return true;
  }

  // The size is known from the header: refuse a picture the container could
  // not hold before libjpeg allocates anything for its pixels.
  const uint32_t bpp = cinfo.output_components == 1 ? 8 : 24;
  if (static_cast<float>(cinfo.output_width) * static_cast<float>(cinfo.output_height) *
          static_cast<float>(bpp) * 0.125f > kPxImageMaxMemory) {
    SetLastError("PXIMAGE_MAX_MEMORY exceeded");
    return false;
  }

  if (!TrapStartDecompress(&cinfo, &trap)) return false;
  if (!Create(cinfo.output_width, cinfo.output_height,
              static_cast<uint32_t>(cinfo.output_components) * 8, kFormatJpg))
    return false;

  // The EXIF resolution where the block states one, else the JFIF density.
  const bool exifDensity = exifFound && ApplyExifDensity(*this, info.exif);
  if (exifDensity) {
    // taken from the EXIF block
  } else if (cinfo.density_unit == 2) {
    SetAxisDensity(*this, true, cinfo.X_density, 1 / 2.54);
    SetAxisDensity(*this, false, cinfo.Y_density, 1 / 2.54);
  } else if (cinfo.density_unit != 0) {
    SetHorizontalDpi(cinfo.X_density);
    SetVerticalDpi(cinfo.Y_density);
  } else if (cinfo.X_density != 0 && cinfo.Y_density != 0) {
    SetVerticalDpi(static_cast<int32_t>(static_cast<float>(cinfo.Y_density) / cinfo.X_density *
                                        static_cast<float>(info.xDpi)));
  }

  if (cinfo.out_color_space == JCS_GRAYSCALE && !cinfo.quantize_colors) {
    MakeGrayPalette();
    header.biClrUsed = 256;
  } else if (cinfo.quantize_colors) {
    const int n = cinfo.actual_number_of_colors;
    if (cinfo.out_color_components == 3) {
      LoadPaletteFromArrays(static_cast<uint32_t>(n), cinfo.colormap[0], cinfo.colormap[1],
                            cinfo.colormap[2]);
    } else {
      LoadPaletteFromArrays(static_cast<uint32_t>(n), cinfo.colormap[0], cinfo.colormap[0],
                            cinfo.colormap[0]);
    }
    header.biClrUsed = static_cast<uint32_t>(n);
  } else {
    header.biClrUsed = 0;
  }

  const bool cmyk = cinfo.output_components == 4 && !cinfo.quantize_colors;
  const bool rgb = cinfo.output_components == 3 && !cinfo.quantize_colors;
  const int rows = TrapReadRows(&cinfo, &trap, this, cmyk, rgb);
  if (rows <= 0) return false;
  if (!TrapFinishDecompress(&cinfo, &trap)) return false;
  if (trap.damaged) info.bDamaged = true;

  ForgetThumbnail();
  return true;
}

// The thumbnail lies in the section reader's memory, which dies with this
// object; the summary is copied out of it, so it must not point there.
void PxImageJPG::ForgetThumbnail() {
  info.exif.thumbnailPointer = nullptr;
  info.exif.thumbnailSize = 0;
}

bool PxImageJPG::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  const bool grey = PaletteSize() > 0 && HasGrayPalette() && Bpp() == 8;
  if (PaletteSize() > 0 && !grey) {
    SetLastError("JPEG can save only RGB or GreyScale images");
    return false;
  }

  const int32_t start = file->Position();
  JpegErrorTrap trap;
  InitJpegErrorTrap(&trap, info.lastError);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kJpegTransferBytes]);
  PxFileJpegBridge bridge;
  InitJpegBridge(&bridge, file, buffer.get());

  JpegEncodeSettings settings{};
  settings.width = Width();
  settings.height = Height();
  settings.grey = grey;
  settings.options = info.codecOptions[kJpegOptionIndex];
  settings.smoothing = smoothingFactor;
  const float q = info.jpegQuality + 0.5f;
  settings.quality = q < 1.0f ? 1 : q > 100.0f ? 100 : static_cast<int>(q);
  settings.xDpi = info.xDpi;
  settings.yDpi = info.yDpi;
  {
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    CompressGuard guard{&cinfo};
    if (!TrapCreateCompress(&cinfo, &trap, &bridge, settings)) return false;
    if (!TrapWriteRows(&cinfo, &trap, this, !grey)) return false;
    if (!TrapFinishCompress(&cinfo, &trap)) return false;
  }

  // A decoded picture written again keeps its EXIF block and comment in
  // front of the new tables and image data.
  if (m_sectionReader && m_sectionReader->Summary()->present) {
    m_sectionReader->KeepExifAndComment();
    if (!file->SeekTo(start, 0) ||
        !m_sectionReader->ReadSections(file, ExifSectionReader::kReadImageData) ||
        !file->SeekTo(start, 0) || !m_sectionReader->WriteSections(file)) {
      SetLastError(*m_sectionReader->LastError() ? m_sectionReader->LastError()
                                                 : "Write Error in JPEG file");
      return false;
    }
  }
  return true;
}
