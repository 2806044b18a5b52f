// Shared helpers of the TIFF tests: fixtures made at test time by peer
// programs (GDAL, ImageMagick, libtiff's tools) and pixel comparisons.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "imagelib/PxImage.h"
#include "platform/text.h"

namespace tifftest {

inline bool Sh(const std::string& command) {
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A colour test card: red rises to the right, green to the bottom, blue in
// diagonal stripes.
inline void WritePpm(const std::string& path, int w, int h) {
  std::string data = "P6 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      data += static_cast<char>(x * 255 / (w - 1));
      data += static_cast<char>(y * 255 / (h - 1));
      data += static_cast<char>((x * 7 + y * 3) & 255);
    }
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

// A grey card; with maxval above 255 the samples are 16-bit big-endian.
inline void WritePgm(const std::string& path, int w, int h, int maxval) {
  std::string data = "P5 " + std::to_string(w) + " " + std::to_string(h) + " " +
                     std::to_string(maxval) + "\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = static_cast<int>((static_cast<long long>(x + y * w) * maxval) / (w * h - 1));
      if (maxval > 255) data += static_cast<char>(v >> 8);
      data += static_cast<char>(v & 255);
    }
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

// ImageMagick's reading of a picture: top-down RGB bytes.
struct Reference {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

inline Reference MagickRgb(const std::string& path, const std::string& options = "") {
  Reference ref;
  const std::string ppm = path + ".ref.ppm";
  if (!Sh("convert-im6.q16 " + Quote(path) + " " + options + " -depth 8 ppm:" + Quote(ppm)))
    return ref;
  FILE* f = std::fopen(ppm.c_str(), "rb");
  if (!f) return ref;
  int maxval = 0;
  if (std::fscanf(f, "P6 %d %d %d", &ref.width, &ref.height, &maxval) == 3 && maxval == 255 &&
      std::fgetc(f) != EOF) {
    ref.rgb.resize(static_cast<size_t>(ref.width) * ref.height * 3);
    if (std::fread(ref.rgb.data(), 1, ref.rgb.size(), f) != ref.rgb.size()) ref.rgb.clear();
  }
  std::fclose(f);
  return ref;
}

inline std::unique_ptr<PxImage> Load(const std::string& path, int frame = 0,
                                     ImageFormatId id = kFormatTif) {
  auto image = std::make_unique<PxImage>();
  image->info.frame = frame;
  if (!image->LoadFile(pw::NarrowToWide(path), id)) image.reset();
  return image;
}

// The largest difference of any colour component between the image and the
// top-down RGB reference of the same size; 256 when the sizes differ.
inline int MaxDifference(const PxImage& image, int refWidth, int refHeight,
                         const std::vector<uint8_t>& rgb) {
  if (static_cast<int>(image.Width()) != refWidth || static_cast<int>(image.Height()) != refHeight ||
      rgb.size() != static_cast<size_t>(refWidth) * refHeight * 3)
    return 256;
  int worst = 0;
  for (int y = 0; y < refHeight; ++y)
    for (int x = 0; x < refWidth; ++x) {
      const RGBQUAD c = image.PixelColorAt(x, refHeight - 1 - y, false);
      const uint8_t* r = &rgb[(static_cast<size_t>(y) * refWidth + x) * 3];
      worst = std::max({worst, std::abs(c.rgbRed - r[0]), std::abs(c.rgbGreen - r[1]),
                        std::abs(c.rgbBlue - r[2])});
    }
  return worst;
}

inline int MaxDifference(const PxImage& image, const Reference& ref) {
  return MaxDifference(image, ref.width, ref.height, ref.rgb);
}

}  // namespace tifftest
