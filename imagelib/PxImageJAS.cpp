// Between the container and the JPEG-2000 family's components: three
// components of one size make a 24-bit picture, any other set is a list of
// grey frames, one per component.
#include "imagelib/PxImageJAS.h"

#include <new>
#include <string>

#include "imagelib/JasAdapter.h"

namespace {

constexpr size_t kMaxComponents = 64;

bool NeedsConversion(const jas::Image& image) {
  if (image.comps.size() < 3) return false;
  // YCC and CMYK must become RGB whatever their depth; plain RGB only
  // when it is 8 bits or less (deeper samples are scaled as they are).
  return image.comps[0].precision <= 8 || image.space == jas::ColorSpace::kSycc ||
         image.space == jas::ColorSpace::kEycc || image.space == jas::ColorSpace::kCmyk;
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
  if (NeedsConversion(image) && !jas::ToSrgb(&image)) return fail("cannot convert to sRGB");

  const auto& comps = image.comps;
  if (comps.size() == 3 && comps[1].width == comps[0].width && comps[2].width == comps[0].width &&
      comps[1].height == comps[0].height && comps[2].height == comps[0].height &&
      comps[1].precision == comps[0].precision && comps[2].precision == comps[0].precision) {
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
    return true;
  }

  // One grey frame per component.
  info.frameCount = static_cast<int32_t>(comps.size());
  if (info.frame < 0 || info.frame >= info.frameCount) return fail("wrong frame!");
  const jas::Component& c = comps[static_cast<size_t>(info.frame)];
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
  return true;
}

bool PxImageJAS::Encode(PxFile* file, ImageFormatId id) {
  if (!CanEncodeTo(file)) return false;
  const bool grey = PaletteSize() > 0;
  if (grey && !HasGrayPalette()) {
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
  try {
    image.comps.resize(grey ? 1 : 3);
    for (jas::Component& c : image.comps) {
      c.width = w;
      c.height = h;
      c.samples.resize(size_t{w} * h);
    }
  } catch (const std::bad_alloc&) {
    SetLastError("error : can't allocate memory");
    return false;
  }
  // Container rows run bottom-up, the codec's top-down.
  for (uint32_t j = 0; j < h; ++j) {
    const size_t base = size_t{h - 1 - j} * w;
    for (uint32_t x = 0; x < w; ++x) {
      if (grey) {
        image.comps[0].samples[base + x] = PixelIndexAtUnchecked(static_cast<int32_t>(x), static_cast<int32_t>(j));
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
