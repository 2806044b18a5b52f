// The JPEG-2000 family's codec layer: what PxImageJAS needs from a codec
// library, built on OpenJPEG for JP2 and J2K code streams and on our own
// readers and writers for PGX, PNM and Sun raster. A picture is a list of
// components (size, precision, sign, 32-bit samples) with a colour space.
//
// Nothing here keeps state between calls: every decode and encode carries
// its own library handles and message text, so several pictures can be
// read and written on separate threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imagelib/PxFile.h"

namespace jas {

enum class Format { kNone, kJp2, kJpc, kPgx, kPnm, kRas };

enum class ColorSpace { kUnknown, kSrgb, kGrey, kSycc, kEycc, kCmyk };

struct Component {
  uint32_t width = 0, height = 0;
  uint32_t dx = 1, dy = 1;  // subsampling against the picture's grid
  int precision = 8;        // bits per sample, 1..31
  bool isSigned = false;
  // Largest sample value of an unsigned component (a PNM maxval may lie
  // below 2^precision - 1); signed ones span -2^(p-1) .. 2^(p-1) - 1.
  uint32_t maxValue = 255;
  bool alpha = false;            // the file marks it as opacity
  std::vector<int32_t> samples;  // rows top-down; empty after a header-only read
};

struct Image {
  uint32_t width = 0, height = 0;  // the picture's grid
  ColorSpace space = ColorSpace::kUnknown;
  std::vector<Component> comps;
  bool channelsDefined = false;  // a JP2 that says which component is what
};

// Most samples a decode may hold over all its components (1 GiB of samples):
// a 24-bit picture at the container's memory limit fits, nothing larger.
constexpr uint64_t kMaxSamples = uint64_t{1} << 28;

// Looks at the signature at the file's position and seeks back to it.
Format Detect(PxFile* file);

// The first three letters of the format's name ("jp2", "jpc", "pgx", "pnm",
// "ras") and the container's format id for it (0 for kNone).
const char* FormatName(Format format);
uint32_t ContainerId(Format format);
Format FormatFromContainerId(uint32_t id);

// Reads the picture at the file's position. With headerOnly the components
// carry their sizes but no samples. False with a message in `error` (the
// library's own text where it gave one).
bool Decode(PxFile* file, Format format, bool headerOnly, Image* image, std::string* error);

// Brings three or more components to three 8-bit sRGB components of the
// picture's full size: chroma planes are upsampled, YCC and CMYK converted.
bool ToSrgb(Image* image);

// Writes the picture. `rate` is the share of the raw size to keep for JP2
// and J2K: 1 or more is lossless; below it the code stream is irreversible.
// The other formats ignore it.
bool Encode(PxFile* file, Format format, const Image& image, double rate, std::string* error);

// Scales a component's sample to 0..255 from its own sign and range.
uint8_t ToByte(const Component& c, int32_t sample);
// The same onto 0..(2^bits - 1), for grey pictures of fewer than 8 bits.
uint32_t ToLevel(const Component& c, int32_t sample, int bits);

// Formats with our own readers and writers (JasNetpbm.cpp, JasSunRaster.cpp).
bool DecodePnm(PxFile* file, bool headerOnly, Image* image, std::string* error);
bool EncodePnm(PxFile* file, const Image& image, std::string* error);
bool DecodePgx(PxFile* file, bool headerOnly, Image* image, std::string* error);
bool EncodePgx(PxFile* file, const Image& image, std::string* error);
bool DecodeRas(PxFile* file, bool headerOnly, Image* image, std::string* error);
bool EncodeRas(PxFile* file, const Image& image, std::string* error);
// JP2 and J2K through OpenJPEG (JasOpenJpeg.cpp).
bool DecodeOpenJpeg(PxFile* file, bool jp2, bool headerOnly, Image* image, std::string* error);
bool EncodeOpenJpeg(PxFile* file, bool jp2, const Image& image, double rate, std::string* error);

// Checks a component list against kMaxSamples and allocates its samples.
bool AllocateSamples(Image* image, std::string* error);

}  // namespace jas
