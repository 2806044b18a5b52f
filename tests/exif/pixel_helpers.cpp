#include "pixel_helpers.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "exif_test_util.h"

namespace exiftest {

PnmImage Djpeg(const std::string& path, const std::string& args) {
  PnmImage img;
  std::string out;
  if (Run("djpeg -pnm " + args + " " + Quote(path) + " 2>/dev/null", &out) != 0) return img;
  // P5 or P6, width, height, 255, one whitespace byte, the samples.
  std::istringstream in(out);
  std::string magic;
  int maxval = 0;
  in >> magic >> img.width >> img.height >> maxval;
  if ((magic != "P5" && magic != "P6") || maxval != 255) return PnmImage{};
  img.components = magic == "P5" ? 1 : 3;
  const size_t start = static_cast<size_t>(in.tellg()) + 1;
  const size_t n = static_cast<size_t>(img.width) * img.height * img.components;
  if (out.size() < start + n) return PnmImage{};
  img.pixels.assign(out.begin() + static_cast<std::ptrdiff_t>(start),
                    out.begin() + static_cast<std::ptrdiff_t>(start + n));
  return img;
}

std::map<int, std::vector<int>> DjpegQuantTables(const std::string& path) {
  std::map<int, std::vector<int>> tables;
  std::string out;
  Run("djpeg -verbose -verbose " + Quote(path) + " 2>&1 >/dev/null", &out);
  std::istringstream in(out);
  std::string line;
  const std::string head = "Define Quantization Table ";
  while (std::getline(in, line)) {
    const size_t at = line.find(head);
    if (at == std::string::npos) continue;
    const int no = atoi(line.c_str() + at + head.size());
    std::vector<int> values;
    for (int row = 0; row < 8 && std::getline(in, line); ++row) {
      std::istringstream nums(line);
      int v;
      while (nums >> v) values.push_back(v);
    }
    tables[no] = values;
  }
  return tables;
}

std::string Identify(const std::string& path, const std::string& format) {
  std::string out;
  Run("identify-im6.q16 -format " + Quote(format) + " " + Quote(path) + " 2>/dev/null", &out);
  return out;
}

ThumbnailImage TestPicture(int width, int height, int components, int seed) {
  ThumbnailImage img;
  img.Allocate(width, height, static_cast<uint16_t>(components));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = img.pixels.data() + (static_cast<size_t>(y) * width + x) * components;
      const double wave = std::sin((x + seed) / 9.0) * std::cos((y - seed) / 7.0);
      p[0] = static_cast<uint8_t>(40 + 170.0 * x / std::max(1, width - 1));
      if (components == 3) {
        p[1] = static_cast<uint8_t>(30 + 190.0 * y / std::max(1, height - 1));
        p[2] = static_cast<uint8_t>(128 + 90 * wave);
      }
    }
  }
  return img;
}

namespace {
PixelDiff Diff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return {1e9, 255};
  double sum = 0;
  int largest = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int d = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    sum += d;
    largest = std::max(largest, d);
  }
  return {sum / static_cast<double>(a.size()), largest};
}
}  // namespace

PixelDiff Compare(const ThumbnailImage& a, const PnmImage& b) {
  if (a.width != b.width || a.height != b.height || a.components != b.components) return {1e9, 255};
  return Diff(a.pixels, b.pixels);
}

PixelDiff Compare(const ThumbnailImage& a, const ThumbnailImage& b) {
  if (a.width != b.width || a.height != b.height || a.components != b.components) return {1e9, 255};
  return Diff(a.pixels, b.pixels);
}

}  // namespace exiftest
