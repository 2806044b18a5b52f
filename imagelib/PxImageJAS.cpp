// Between the container and the JPEG-2000 family's components: three or four
// colour components make a 24-bit picture, grey with a marked alpha a grey
// picture with alpha, any other set is a list of grey frames, one per
// component. An alpha component becomes the alpha plane.
#include "imagelib/PxImageJAS.h"

#include <new>
#include <string>

#include "imagelib/JasAdapter.h"

namespace {

constexpr size_t kMaxComponents = 64;
constexpr size_t kNone = static_cast<size_t>(-1);

// The component that holds opacity: the first one after the first that the
// file marks so. A bare code stream has no box to mark it in, and a JP2
// file may leave its channel definitions out; their writers put opacity
// fourth after three colours, and a JP2's writers second after grey, which
// is where it is taken from then.
size_t AlphaComponent(const jas::Image& image, jas::Format format) {
  for (size_t i = 1; i < image.comps.size(); ++i)
    if (image.comps[i].alpha) return i;
  const bool undescribed =
      format == jas::Format::kJpc || (format == jas::Format::kJp2 && !image.channelsDefined);
  if (undescribed && image.comps.size() == 4 && image.space != jas::ColorSpace::kCmyk) return 3;
  if (format == jas::Format::kJp2 && !image.channelsDefined && image.comps.size() == 2 &&
      (image.space == jas::ColorSpace::kGrey || image.space == jas::ColorSpace::kUnknown))
    return 1;
  return kNone;
}

bool SameGrid(const jas::Component& a, const jas::Component& b) {
  return a.width == b.width && a.height == b.height && a.precision == b.precision && a.dx == b.dx &&
         a.dy == b.dy;
}

// A picture's alpha plane (rows bottom-up) from a component of any size and
// precision, nearest sample where the component is smaller.
bool FillAlpha(PxImage& picture, const jas::Component& a) {
  if (!picture.CreateAlphaPlane() || a.width == 0 || a.height == 0) return false;
  const uint32_t w = picture.Width(), h = picture.Height();
  for (uint32_t k = 0; k < h; ++k) {
    const uint32_t ay = static_cast<uint32_t>(uint64_t{k} * a.height / h);
    uint8_t* row = picture.alpha + size_t{h - 1 - k} * w;
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t ax = static_cast<uint32_t>(uint64_t{x} * a.width / w);
      row[x] = jas::ToByte(a, a.samples[size_t{ay} * a.width + ax]);
    }
  }
  return true;
}

}  // namespace

bool PxImageJAS::Decode(PxFile* file) {
  if (!file) return false;
  auto fail = [&](const std::string& text) {
    if (!text.empty()) SetLastError(text.c_str());
    return false;
  };
  const jas::Format format = jas::Detect(file);
  if (format == jas::Format::kNone) return fail("error: unknowm format");
  const ImageFormatId id = jas::ContainerId(format);

  jas::Image image;
  std::string error;
  if (info.escape == -1) {
    // The header alone: found means one of the five formats was detected
    // and its header read.
    if (!jas::Decode(file, format, true, &image, &error)) return fail(error);
    if (image.comps.empty()) return fail("error: cannot load image data");
    header.biWidth = static_cast<int32_t>(image.comps[0].width);
    header.biHeight = static_cast<int32_t>(image.comps[0].height);
    info.formatId = id;
    SetLastError("output dimensions returned");
    return true;
  }
  if (!jas::Decode(file, format, false, &image, &error)) return fail(error);
  // Nothing is read from a component list that is empty or too long.
  if (image.comps.empty()) return fail("error: cannot load image data");
  if (image.comps.size() > kMaxComponents) return fail("error: too many components");

  // Opacity is set aside; what is left is colour (three components, four
  // for CMYK, a fourth unmarked one ignored), grey, or a list of frames.
  jas::Component alphaComp;
  const size_t alphaAt = AlphaComponent(image, format);
  if (alphaAt != kNone) {
    alphaComp = std::move(image.comps[alphaAt]);
    image.comps.erase(image.comps.begin() + static_cast<std::ptrdiff_t>(alphaAt));
  }
  const bool hasAlpha = alphaAt != kNone;
  const size_t colours = image.comps.size();

  if (colours == 3 || colours == 4) {
    const auto& c = image.comps;
    const bool direct = SameGrid(c[1], c[0]) && SameGrid(c[2], c[0]) && c[0].dx == 1 && c[0].dy == 1 &&
                        (image.space == jas::ColorSpace::kSrgb || image.space == jas::ColorSpace::kUnknown);
    // YCC, CMYK and components of different sizes or depths are brought to
    // 8-bit sRGB first; three alike are scaled straight from their range.
    if (!direct && !jas::ToSrgb(&image)) return fail("cannot convert to sRGB");
    const auto& comps = image.comps;
    const uint32_t w = comps[0].width, h = comps[0].height;
    if (!Create(w, h, 24, id)) return false;
    for (uint32_t k = 0; k < h; ++k) {
      uint8_t* row = RowAt(h - 1 - k);
      const size_t base = size_t{k} * w;
      for (uint32_t x = 0; x < w; ++x) {
        row[3 * size_t{x}] = jas::ToByte(comps[2], comps[2].samples[base + x]);
        row[3 * size_t{x} + 1] = jas::ToByte(comps[1], comps[1].samples[base + x]);
        row[3 * size_t{x} + 2] = jas::ToByte(comps[0], comps[0].samples[base + x]);
      }
    }
    if (hasAlpha && !FillAlpha(*this, alphaComp)) return fail("error: cannot allocate memory");
    return true;
  }

  // Grey with alpha is one picture; otherwise one grey frame per component.
  size_t chosen = 0;
  if (colours == 1 && hasAlpha) {
    info.frameCount = 1;
  } else {
    if (hasAlpha) {
      // Alpha that is not grey's companion stays one of the frames.
      image.comps.insert(image.comps.begin() + static_cast<std::ptrdiff_t>(alphaAt), std::move(alphaComp));
    }
    info.frameCount = static_cast<int32_t>(image.comps.size());
    if (info.frame < 0 || info.frame >= info.frameCount) return fail("wrong frame!");
    chosen = static_cast<size_t>(info.frame);
  }
  const jas::Component& c = image.comps[chosen];
  if (!Create(c.width, c.height, c.precision < 8 ? static_cast<uint32_t>(c.precision) : 8, id)) return false;
  MakeGrayPalette();
  const int bits = static_cast<int>(Bpp());
  for (uint32_t k = 0; k < c.height; ++k) {
    const int32_t y = static_cast<int32_t>(c.height - 1 - k);
    const size_t base = size_t{k} * c.width;
    for (uint32_t x = 0; x < c.width; ++x)
      StorePixelIndexUnchecked(static_cast<int32_t>(x), y,
                               static_cast<uint8_t>(jas::ToLevel(c, c.samples[base + x], bits)));
  }
  if (colours == 1 && hasAlpha && !FillAlpha(*this, alphaComp)) return fail("error: cannot allocate memory");
  return true;
}

bool PxImageJAS::HasGreyEntriesOnly() const {
  const RGBQUAD* palette = PaletteData();
  if (!palette) return false;
  for (uint32_t i = 0; i < PaletteSize(); ++i)
    if (palette[i].rgbRed != palette[i].rgbGreen || palette[i].rgbRed != palette[i].rgbBlue) return false;
  return true;
}

bool PxImageJAS::Encode(PxFile* file, ImageFormatId id) {
  if (!CanEncodeTo(file)) return false;
  const bool grey = PaletteSize() > 0;
  if (grey && !HasGreyEntriesOnly()) {
    SetLastError("JasPer can save only RGB or GrayScale images");
    return false;
  }
  const jas::Format format = jas::FormatFromContainerId(id);
  if (format == jas::Format::kNone) {
    SetLastError("error: cannot encode image");
    return false;
  }
  if (format == jas::Format::kPgx && !grey) {
    SetLastError("PGX can save only GrayScale images");
    return false;
  }

  const uint32_t w = Width(), h = Height();
  jas::Image image;
  image.width = w;
  image.height = h;
  image.space = grey ? jas::ColorSpace::kGrey : jas::ColorSpace::kSrgb;
  // Opacity goes where the format can say what it is.
  const bool withAlpha = alpha && (format == jas::Format::kJp2 || format == jas::Format::kJpc);
  try {
    image.comps.resize((grey ? 1 : 3) + (withAlpha ? 1 : 0));
    for (jas::Component& c : image.comps) {
      c.width = w;
      c.height = h;
      c.samples.resize(size_t{w} * h);
    }
    if (withAlpha) image.comps.back().alpha = true;
  } catch (const std::bad_alloc&) {
    SetLastError("error : can't allocate memory");
    return false;
  }
  // Container rows run bottom-up, the codec's top-down. A grey picture of
  // any palette (two entries, sixteen, a ramp or not) writes each pixel's
  // grey level.
  const RGBQUAD* palette = PaletteData();
  for (uint32_t j = 0; j < h; ++j) {
    const size_t base = size_t{h - 1 - j} * w;
    if (withAlpha) {
      const uint8_t* a = alpha + size_t{j} * w;
      for (uint32_t x = 0; x < w; ++x) image.comps.back().samples[base + x] = a[x];
    }
    for (uint32_t x = 0; x < w; ++x) {
      if (grey) {
        const uint8_t index = PixelIndexAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(j));
        image.comps[0].samples[base + x] = index < PaletteSize() ? palette[index].rgbRed : 0;
      } else {
        const uint8_t* p = RowAt(j) + 3 * size_t{x};
        image.comps[0].samples[base + x] = p[2];
        image.comps[1].samples[base + x] = p[1];
        image.comps[2].samples[base + x] = p[0];
      }
    }
  }
  std::string error;
  const double rate = info.jpegQuality / 100.0;
  if (!jas::Encode(file, format, image, rate, &error) || !file->FlushFile() || file->ErrorState() != 0) {
    SetLastError("error: cannot encode image");
    return false;
  }
  return true;
}
