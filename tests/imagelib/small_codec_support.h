// Shared helpers of the ICO, TGA, PCX, WBMP and SKA tests: fixtures written
// at test time by ImageMagick and Pillow, their readings of a file as RGBA,
// and our pixels compared with them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "platform/text.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

namespace smalltest {

using tifftest::Quote;
using tifftest::Sh;

// Runs a Pillow script with `im` open on `in` (or none when `in` is empty);
// the script's argv[2] is `out`.
inline bool Pillow(const std::string& code, const std::string& in, const std::string& out) {
  std::string script = "import sys\nfrom PIL import Image\n";
  if (!in.empty()) script += "im = Image.open(sys.argv[1])\n";
  script += code + "\n";
  const std::string file = out + ".py";
  FILE* f = std::fopen(file.c_str(), "w");
  if (!f) return false;
  std::fputs(script.c_str(), f);
  std::fclose(f);
  return Sh("/usr/bin/python3 " + Quote(file) + " " + Quote(in.empty() ? "-" : in) + " " + Quote(out));
}

// A picture read by a peer: top-down RGBA bytes.
struct Rgba {
  int width = 0, height = 0;
  std::vector<uint8_t> px;
  bool Empty() const { return px.empty(); }
};

inline Rgba ReadRgbaFile(const std::string& path, int width, int height) {
  Rgba out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  out.px.resize(size_t(width) * height * 4);
  if (std::fread(out.px.data(), 1, out.px.size(), f) != out.px.size()) out.px.clear();
  std::fclose(f);
  out.width = width;
  out.height = height;
  return out;
}

inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[256];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// ImageMagick's reading; `spec` may name a frame ("file[2]").
inline Rgba MagickRgba(const std::string& spec, const std::string& options = "") {
  const std::string size = tifftest::Quote(spec);
  int w = 0, h = 0;
  const std::string dims = Capture("identify-im6.q16 -format '%w %h\\n' " + size + " 2>/dev/null | head -1");
  if (std::sscanf(dims.c_str(), "%d %d", &w, &h) != 2) return {};
  const std::string raw = spec.substr(0, spec.find('[')) + ".ref.rgba";
  if (!Sh("convert-im6.q16 " + size + " " + options + " -depth 8 rgba:" + Quote(raw))) return {};
  return ReadRgbaFile(raw, w, h);
}

// Pillow's reading of a whole file (frame 0, converted to RGBA).
inline Rgba PillowRgba(const std::string& path, const std::string& open = "") {
  const std::string raw = path + ".pil.rgba";
  const std::string dims = raw + ".txt";
  if (!Pillow(open + "\nim = im.convert('RGBA')\nopen(sys.argv[2], 'wb').write(im.tobytes())\n"
              "open(sys.argv[2] + '.txt', 'w').write('%d %d' % im.size)",
              path, raw)) {
    return {};
  }
  int w = 0, h = 0;
  FILE* f = std::fopen(dims.c_str(), "r");
  if (!f) return {};
  const int n = std::fscanf(f, "%d %d", &w, &h);
  std::fclose(f);
  if (n != 2) return {};
  return ReadRgbaFile(raw, w, h);
}

// Whether our pixel counts as transparent: the alpha plane, or the
// transparent palette index or colour.
inline uint8_t AlphaAt(const PxImage& image, int x, int y) {
  if (image.info.backgroundIndex >= 0) {
    if (image.PaletteSize() > 0 ? image.PixelIndexAt(x, y) == image.info.backgroundIndex
                                : SameQuad(image.PixelColorAt(x, y, false), image.info.backgroundColor))
      return 0;
  }
  if (image.alpha) return image.alpha[size_t(y) * image.Width() + x];
  if (image.info.alphaPalette && image.PaletteSize() > 0) return image.PixelColorAt(x, y, true).rgbReserved;
  return 255;
}

// The largest colour difference over the pixels the peer shows as not
// fully transparent; 256 when the sizes differ or the two disagree on
// alpha by more than `alphaTolerance`.
inline int MaxDifference(const PxImage& image, const Rgba& ref, bool withAlpha, int alphaTolerance = 0) {
  if (ref.Empty() || int(image.Width()) != ref.width || int(image.Height()) != ref.height) return 256;
  int worst = 0;
  for (int r = 0; r < ref.height; ++r)
    for (int x = 0; x < ref.width; ++x) {
      const int y = ref.height - 1 - r;
      const uint8_t* e = &ref.px[(size_t(r) * ref.width + x) * 4];
      const RGBQUAD c = image.PixelColorAt(x, y, false);
      if (withAlpha) {
        if (std::abs(AlphaAt(image, x, y) - e[3]) > alphaTolerance) return 256;
        if (e[3] == 0) continue;  // the colour of a hidden pixel is anyone's
      }
      worst = std::max({worst, std::abs(c.rgbRed - e[0]), std::abs(c.rgbGreen - e[1]), std::abs(c.rgbBlue - e[2])});
    }
  return worst;
}

inline std::unique_ptr<PxImage> Load(const std::string& path, ImageFormatId id, int frame = 0) {
  return tifftest::Load(path, frame, id);
}

// Reads bytes through the dispatch from memory.
inline bool DecodeBytes(const std::vector<uint8_t>& bytes, ImageFormatId id, PxImage& image) {
  std::vector<uint8_t> copy(bytes);
  PxMemFile file(copy.data(), int32_t(copy.size()));
  return image.Decode(&file, id);
}

// Writes through the dispatch into memory.
inline std::vector<uint8_t> EncodeBytes(PxImage& image, ImageFormatId id, bool* ok = nullptr) {
  PxMemFile file;
  file.Open();
  const bool written = image.Encode(&file, id);
  if (ok) *ok = written;
  if (!written || !file.Buffer()) return {};
  return std::vector<uint8_t>(file.Buffer(), file.Buffer() + file.DataSize());
}

inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// Writing to a full disk must fail with a text, never report success.
inline void ExpectFullDiskFails(PxImage& image, ImageFormatId id) {
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  PxIOFile file(full);
  image.SetLastError("-");
  EXPECT_FALSE(image.Encode(&file, id)) << id;
  EXPECT_STRNE(image.LastError(), "-") << id;
  std::fclose(full);
}

}  // namespace smalltest
