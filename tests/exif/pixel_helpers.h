// Pixels and tables of JPEG files as the peer tools see them: libjpeg's own
// djpeg (pixels, at a scale, and the quantisation tables of its trace) and
// ImageMagick's identify (sampling factors, colour space).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "exif/TagDirectory.h"

namespace exiftest {

struct PnmImage {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;
};

// djpeg -pnm with the extra arguments; empty image when it fails.
PnmImage Djpeg(const std::string& path, const std::string& args = "-dct int");
// Quantisation table number -> 64 values in natural order, from djpeg's trace.
std::map<int, std::vector<int>> DjpegQuantTables(const std::string& path);
// identify -format with one property, e.g. "%[jpeg:sampling-factor]".
std::string Identify(const std::string& path, const std::string& format);

// A smooth, deterministic picture (components 1 or 3) in a record of
// its own.
ThumbnailImage TestPicture(int width, int height, int components, int seed = 0);
// Mean and largest absolute difference of two pictures' samples; a large
// mean when their sizes differ.
struct PixelDiff {
  double mean;
  int largest;
};
PixelDiff Compare(const ThumbnailImage& a, const PnmImage& b);
PixelDiff Compare(const ThumbnailImage& a, const ThumbnailImage& b);

}  // namespace exiftest
