// Detection by signature, the dispatch to each format's reader and writer,
// sample scaling, and the conversions to sRGB.
#include "imagelib/JasAdapter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "imagelib/ImageFormatId.h"

namespace jas {

namespace {

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool LooksLikePgx(const uint8_t* b, size_t n) {
  if (n < 5 || b[0] != 'P' || b[1] != 'G') return false;
  size_t i = 2;
  if (i >= n || !IsBlank(b[i])) return false;
  while (i < n && IsBlank(b[i])) ++i;
  if (i + 2 > n) return false;
  return (b[i] == 'M' && b[i + 1] == 'L') || (b[i] == 'L' && b[i + 1] == 'M');
}

// A component's sample as a share of its range, 0..1.
float Unit(const Component& c, int32_t sample) {
  int64_t v = sample;
  uint64_t max = c.maxValue;
  if (c.isSigned) {
    v += int64_t{1} << (c.precision - 1);
    max = (uint64_t{1} << c.precision) - 1;
  }
  if (max == 0) return 0.0f;
  if (v < 0) v = 0;
  if (static_cast<uint64_t>(v) > max) v = static_cast<int64_t>(max);
  return static_cast<float>(static_cast<double>(v) / static_cast<double>(max));
}

// The sample of a component that covers grid point (x, y).
int32_t SampleAt(const Component& c, uint32_t x, uint32_t y) {
  uint32_t cx = x / c.dx, cy = y / c.dy;
  if (cx >= c.width) cx = c.width - 1;
  if (cy >= c.height) cy = c.height - 1;
  return c.samples[size_t{cy} * c.width + cx];
}

uint8_t Clamp255(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(v + 0.5f);
}

}  // namespace

Format Detect(PxFile* file) {
  if (!file) return Format::kNone;
  const int32_t start = file->Position();
  uint8_t b[16] = {};
  const size_t n = file->ReadBlock(b, 1, sizeof b);
  file->SeekTo(start, 0);
  static const uint8_t kJp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  if (n >= 12 && std::memcmp(b, kJp2, 12) == 0) return Format::kJp2;
  if (n >= 4 && b[0] == 0xFF && b[1] == 0x4F && b[2] == 0xFF && b[3] == 0x51) return Format::kJpc;
  if (LooksLikePgx(b, n)) return Format::kPgx;
  if (n >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6' && (IsBlank(b[2]) || b[2] == '#'))
    return Format::kPnm;
  if (n >= 4 && b[0] == 0x59 && b[1] == 0xA6 && b[2] == 0x6A && b[3] == 0x95) return Format::kRas;
  return Format::kNone;
}

const char* FormatName(Format format) {
  switch (format) {
    case Format::kJp2: return "jp2";
    case Format::kJpc: return "jpc";
    case Format::kPgx: return "pgx";
    case Format::kPnm: return "pnm";
    case Format::kRas: return "ras";
    default: return "";
  }
}

uint32_t ContainerId(Format format) {
  switch (format) {
    case Format::kJp2: return kFormatJp2;
    case Format::kJpc: return kFormatJpc;
    case Format::kPgx: return kFormatPgx;
    case Format::kPnm: return kFormatPnm;
    case Format::kRas: return kFormatRas;
    default: return 0;
  }
}

Format FormatFromContainerId(uint32_t id) {
  switch (id) {
    case kFormatJp2: return Format::kJp2;
    case kFormatJpc: return Format::kJpc;
    case kFormatPgx: return Format::kPgx;
    case kFormatPnm: return Format::kPnm;
    case kFormatRas: return Format::kRas;
    default: return Format::kNone;
  }
}

bool AllocateSamples(Image* image, std::string* error) {
  uint64_t total = 0;
  for (const Component& c : image->comps) total += uint64_t{c.width} * c.height;
  if (total == 0 || total > kMaxSamples) {
    *error = total == 0 ? "error: cannot load image data" : "PXIMAGE_MAX_MEMORY exceeded";
    return false;
  }
  try {
    for (Component& c : image->comps) c.samples.assign(size_t{c.width} * c.height, 0);
  } catch (const std::bad_alloc&) {
    *error = "error: cannot allocate memory";
    return false;
  }
  return true;
}

bool Decode(PxFile* file, Format format, bool headerOnly, Image* image, std::string* error) {
  *image = Image();
  switch (format) {
    case Format::kJp2: return DecodeOpenJpeg(file, true, headerOnly, image, error);
    case Format::kJpc: return DecodeOpenJpeg(file, false, headerOnly, image, error);
    case Format::kPgx: return DecodePgx(file, headerOnly, image, error);
    case Format::kPnm: return DecodePnm(file, headerOnly, image, error);
    case Format::kRas: return DecodeRas(file, headerOnly, image, error);
    default: *error = "error: unknowm format"; return false;
  }
}

bool Encode(PxFile* file, Format format, const Image& image, double rate, std::string* error) {
  switch (format) {
    case Format::kJp2: return EncodeOpenJpeg(file, true, image, rate, error);
    case Format::kJpc: return EncodeOpenJpeg(file, false, image, rate, error);
    case Format::kPgx: return EncodePgx(file, image, error);
    case Format::kPnm: return EncodePnm(file, image, error);
    case Format::kRas: return EncodeRas(file, image, error);
    default: *error = "error: cannot encode image"; return false;
  }
}

uint8_t ToByte(const Component& c, int32_t sample) { return static_cast<uint8_t>(ToLevel(c, sample, 8)); }

uint32_t ToLevel(const Component& c, int32_t sample, int bits) {
  int64_t v = sample;
  uint64_t max = c.maxValue;
  if (c.isSigned) {
    v += int64_t{1} << (c.precision - 1);
    max = (uint64_t{1} << c.precision) - 1;
  }
  if (max == 0 || v <= 0) return 0;
  if (static_cast<uint64_t>(v) > max) v = static_cast<int64_t>(max);
  const uint64_t top = (uint64_t{1} << bits) - 1;
  return static_cast<uint32_t>((static_cast<uint64_t>(v) * top + max / 2) / max);
}

bool ToSrgb(Image* image) {
  if (image->comps.size() < 3) return false;
  for (const Component& c : image->comps)
    if (c.width == 0 || c.height == 0 || c.samples.size() != size_t{c.width} * c.height) return false;
  if (image->space == ColorSpace::kCmyk && image->comps.size() < 4) return false;
  const Component& c0 = image->comps[0];
  // The picture's size: the grid when the reader knows it, else the first
  // component's own size times its subsampling.
  uint32_t w = image->width ? image->width : c0.width * c0.dx;
  uint32_t h = image->height ? image->height : c0.height * c0.dy;
  if (w == 0 || h == 0 || uint64_t{w} * h * 3 > kMaxSamples) return false;

  std::vector<Component> out(3);
  try {
    for (Component& o : out) {
      o.width = w;
      o.height = h;
      o.precision = 8;
      o.maxValue = 255;
      o.samples.resize(size_t{w} * h);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  const ColorSpace space = image->space;
  const Component& a = image->comps[0];
  const Component& b = image->comps[1];
  const Component& c = image->comps[2];
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const size_t i = size_t{y} * w + x;
      const float u0 = Unit(a, SampleAt(a, x, y));
      const float u1 = Unit(b, SampleAt(b, x, y));
      const float u2 = Unit(c, SampleAt(c, x, y));
      float r, g, bl;
      if (space == ColorSpace::kSycc || space == ColorSpace::kEycc) {
        const float yy = u0 * 255.0f, cb = (u1 - 0.5f) * 255.0f, cr = (u2 - 0.5f) * 255.0f;
        r = yy + 1.402f * cr;
        g = yy - 0.344136f * cb - 0.714136f * cr;
        bl = yy + 1.772f * cb;
      } else if (space == ColorSpace::kCmyk) {
        const Component& k = image->comps[3];
        const float kk = 1.0f - Unit(k, SampleAt(k, x, y));
        r = 255.0f * (1.0f - u0) * kk;
        g = 255.0f * (1.0f - u1) * kk;
        bl = 255.0f * (1.0f - u2) * kk;
      } else {
        r = u0 * 255.0f;
        g = u1 * 255.0f;
        bl = u2 * 255.0f;
      }
      out[0].samples[i] = Clamp255(r);
      out[1].samples[i] = Clamp255(g);
      out[2].samples[i] = Clamp255(bl);
    }
  }
  image->comps = std::move(out);
  image->width = w;
  image->height = h;
  image->space = ColorSpace::kSrgb;
  return true;
}

}  // namespace jas
