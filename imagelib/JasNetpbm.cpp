// PNM (P1 to P6, maxval up to 65535, comments in the header) and PGX (one
// grey component of 1 to 16 bits, either byte order, signed or not), read
// and written by our own code.
#include <cstdio>
#include <new>
#include <string>

#include "imagelib/JasAdapter.h"
#include "imagelib/JasByteReader.h"

namespace jas {

namespace {

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Skips blanks and comments ("#" to the end of the line).
void SkipBlanks(ByteReader& in) {
  for (;;) {
    const int c = in.Peek();
    if (c == '#') {
      for (int d = in.Get(); d != -1 && d != '\n' && d != '\r'; d = in.Get()) {
      }
    } else if (IsSpace(c)) {
      in.Get();
    } else {
      return;
    }
  }
}

// A decimal number after blanks and comments; false when there is none or
// it exceeds `limit`.
bool ReadNumber(ByteReader& in, uint32_t limit, uint32_t* value) {
  SkipBlanks(in);
  int c = in.Peek();
  if (c < '0' || c > '9') return false;
  uint64_t v = 0;
  while (c >= '0' && c <= '9') {
    v = v * 10 + static_cast<uint32_t>(c - '0');
    if (v > limit) return false;
    in.Get();
    c = in.Peek();
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

int BitsFor(uint32_t maxValue) {
  int bits = 1;
  while (bits < 32 && (uint64_t{1} << bits) - 1 < maxValue) ++bits;
  return bits;
}

bool Fail(std::string* error, const char* text) {
  *error = text;
  return false;
}

bool WriteAll(PxFile* file, const void* data, size_t n) { return n == 0 || file->WriteBlock(data, 1, n) == n; }

bool WriteText(PxFile* file, const std::string& text) { return WriteAll(file, text.data(), text.size()); }

}  // namespace

// ---- PNM ------------------------------------------------------------------

bool DecodePnm(PxFile* file, bool headerOnly, Image* image, std::string* error) {
  ByteReader in(file);
  if (in.Get() != 'P') return Fail(error, "error: unknowm format");
  const int kind = in.Get() - '0';
  if (kind < 1 || kind > 6) return Fail(error, "error: unknowm format");
  const bool bitmap = kind == 1 || kind == 4;
  const bool ascii = kind <= 3;
  const uint32_t count = (kind == 3 || kind == 6) ? 3 : 1;
  uint32_t width = 0, height = 0, maxValue = 1;
  if (!ReadNumber(in, INT32_MAX, &width) || !ReadNumber(in, INT32_MAX, &height) ||
      (!bitmap && !ReadNumber(in, 65535, &maxValue)) || width == 0 || height == 0 || maxValue == 0)
    return Fail(error, "error: cannot load image data");
  const uint64_t samples = uint64_t{width} * height * count;
  if (samples > kMaxSamples) return Fail(error, "PXIMAGE_MAX_MEMORY exceeded");

  image->width = width;
  image->height = height;
  image->space = count == 3 ? ColorSpace::kSrgb : ColorSpace::kGrey;
  image->comps.resize(count);
  for (Component& c : image->comps) {
    c.width = width;
    c.height = height;
    c.maxValue = maxValue;
    c.precision = BitsFor(maxValue);
  }
  if (headerOnly) return true;

  // One blank ends the header of a raw file; its data must be there in full
  // before anything is allocated for it. Text needs a byte per sample at
  // least.
  const uint32_t sampleBytes = maxValue > 255 ? 2 : 1;
  const uint64_t rowBytes = bitmap ? (uint64_t{width} + 7) / 8 : uint64_t{width} * count * sampleBytes;
  if (!ascii) {
    if (!IsSpace(in.Get())) return Fail(error, "error: cannot load image data");
    if (rowBytes * height > in.Left()) return Fail(error, "error: cannot load image data");
  } else if (samples > in.Left()) {
    return Fail(error, "error: cannot load image data");
  }
  if (!AllocateSamples(image, error)) return false;

  std::vector<uint8_t> row;
  try {
    if (!ascii) row.resize(rowBytes);
  } catch (const std::bad_alloc&) {
    return Fail(error, "error: cannot allocate memory");
  }
  for (uint32_t y = 0; y < height; ++y) {
    if (!ascii && !in.Read(row.data(), row.size())) return Fail(error, "error: cannot load image data");
    for (uint32_t x = 0; x < width; ++x) {
      const size_t at = size_t{y} * width + x;
      if (bitmap) {
        int bit;
        if (ascii) {
          SkipBlanks(in);
          const int c = in.Get();
          if (c != '0' && c != '1') return Fail(error, "error: cannot load image data");
          bit = c - '0';
        } else {
          bit = (row[x / 8] >> (7 - x % 8)) & 1;
        }
        image->comps[0].samples[at] = bit ? 0 : 1;  // 1 is black
        continue;
      }
      for (uint32_t k = 0; k < count; ++k) {
        uint32_t v;
        if (ascii) {
          if (!ReadNumber(in, 0x7FFFFFFF, &v)) return Fail(error, "error: cannot load image data");
        } else {
          const uint8_t* p = &row[(size_t{x} * count + k) * sampleBytes];
          v = sampleBytes == 2 ? (uint32_t{p[0]} << 8 | p[1]) : p[0];
        }
        image->comps[k].samples[at] = static_cast<int32_t>(v > maxValue ? maxValue : v);
      }
    }
  }
  return true;
}

bool EncodePnm(PxFile* file, const Image& image, std::string* error) {
  const size_t count = image.comps.size();
  if (count != 1 && count != 3) return Fail(error, "error: cannot encode image");
  const Component& c0 = image.comps[0];
  uint32_t maxValue = c0.maxValue;
  if (maxValue == 0 || maxValue > 65535) maxValue = 255;
  const uint32_t sampleBytes = maxValue > 255 ? 2 : 1;
  const std::string head = std::string(count == 3 ? "P6" : "P5") + "\n" + std::to_string(image.width) + " " +
                           std::to_string(image.height) + "\n" + std::to_string(maxValue) + "\n";
  if (!WriteText(file, head)) return Fail(error, "error: cannot encode image");
  std::vector<uint8_t> row(size_t{image.width} * count * sampleBytes);
  for (uint32_t y = 0; y < image.height; ++y) {
    uint8_t* o = row.data();
    for (uint32_t x = 0; x < image.width; ++x)
      for (size_t k = 0; k < count; ++k) {
        const Component& c = image.comps[k];
        int32_t v = c.samples[size_t{y} * c.width + x];
        if (v < 0) v = 0;
        if (static_cast<uint32_t>(v) > maxValue) v = static_cast<int32_t>(maxValue);
        if (sampleBytes == 2) *o++ = static_cast<uint8_t>(v >> 8);
        *o++ = static_cast<uint8_t>(v);
      }
    if (!WriteAll(file, row.data(), row.size())) return Fail(error, "error: cannot encode image");
  }
  return true;
}

// ---- PGX ------------------------------------------------------------------

bool DecodePgx(PxFile* file, bool headerOnly, Image* image, std::string* error) {
  ByteReader in(file);
  auto skipInline = [&] {
    while (in.Peek() == ' ' || in.Peek() == '\t') in.Get();
  };
  if (in.Get() != 'P' || in.Get() != 'G') return Fail(error, "error: unknowm format");
  skipInline();
  const int a = in.Get(), b = in.Get();
  bool bigEndian;
  if (a == 'M' && b == 'L') bigEndian = true;
  else if (a == 'L' && b == 'M') bigEndian = false;
  else return Fail(error, "error: unknowm format");
  skipInline();
  bool isSigned = false;
  if (in.Peek() == '+' || in.Peek() == '-') isSigned = in.Get() == '-';
  uint32_t precision = 0, width = 0, height = 0;
  if (!ReadNumber(in, 16, &precision) || !ReadNumber(in, INT32_MAX, &width) ||
      !ReadNumber(in, INT32_MAX, &height) || precision == 0 || width == 0 || height == 0)
    return Fail(error, "error: cannot load image data");
  if (uint64_t{width} * height > kMaxSamples) return Fail(error, "PXIMAGE_MAX_MEMORY exceeded");
  image->width = width;
  image->height = height;
  image->space = ColorSpace::kGrey;
  image->comps.resize(1);
  Component& c = image->comps[0];
  c.width = width;
  c.height = height;
  c.precision = static_cast<int>(precision);
  c.isSigned = isSigned;
  c.maxValue = static_cast<uint32_t>((1u << precision) - 1);
  if (headerOnly) return true;

  // The header line ends with one line feed (a CR LF pair is taken too).
  int end = in.Get();
  if (end == '\r' && in.Peek() == '\n') end = in.Get();
  if (!IsSpace(end)) return Fail(error, "error: cannot load image data");
  const uint32_t bytes = precision > 8 ? 2 : 1;
  if (uint64_t{width} * height * bytes > in.Left()) return Fail(error, "error: cannot load image data");
  if (!AllocateSamples(image, error)) return false;
  std::vector<uint8_t> row(size_t{width} * bytes);
  const uint32_t mask = c.maxValue;
  for (uint32_t y = 0; y < height; ++y) {
    if (!in.Read(row.data(), row.size())) return Fail(error, "error: cannot load image data");
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = &row[size_t{x} * bytes];
      uint32_t raw = bytes == 1 ? p[0] : bigEndian ? (uint32_t{p[0]} << 8 | p[1]) : (uint32_t{p[1]} << 8 | p[0]);
      raw &= mask;
      int32_t v = static_cast<int32_t>(raw);
      if (isSigned && (raw >> (precision - 1)) & 1) v -= static_cast<int32_t>(1u << precision);
      c.samples[size_t{y} * width + x] = v;
    }
  }
  return true;
}

bool EncodePgx(PxFile* file, const Image& image, std::string* error) {
  if (image.comps.size() != 1) return Fail(error, "PGX can save only GrayScale images");
  const Component& c = image.comps[0];
  const int precision = c.precision < 1 ? 8 : c.precision > 16 ? 16 : c.precision;
  const uint32_t bytes = precision > 8 ? 2 : 1;
  char head[96];
  std::snprintf(head, sizeof head, "PG ML %c %d %u %u\n", c.isSigned ? '-' : '+', precision, c.width, c.height);
  if (!WriteText(file, head)) return Fail(error, "error: cannot encode image");
  std::vector<uint8_t> row(size_t{c.width} * bytes);
  for (uint32_t y = 0; y < c.height; ++y) {
    for (uint32_t x = 0; x < c.width; ++x) {
      const uint32_t v = static_cast<uint32_t>(c.samples[size_t{y} * c.width + x]);
      if (bytes == 2) {
        row[2 * size_t{x}] = static_cast<uint8_t>(v >> 8);
        row[2 * size_t{x} + 1] = static_cast<uint8_t>(v);
      } else {
        row[x] = static_cast<uint8_t>(v);
      }
    }
    if (!WriteAll(file, row.data(), row.size())) return Fail(error, "error: cannot encode image");
  }
  return true;
}

}  // namespace jas
