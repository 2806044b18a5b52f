// Documents written by ImageMagick at test time decode to the same pixels
// that ImageMagick itself reads back from them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "psd_test_support.h"
#include "tests/needed_programs.h"

using namespace psdtest;

namespace {

std::string TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pw_psd_XXXXXX").string();
  const char* dir = mkdtemp(pattern.data());
  return dir ? std::string(dir) : std::filesystem::temp_directory_path().string();
}

bool Shell(const std::string& command) {
  return pwtest::CheckProgramOf(command) && std::system(command.c_str()) == 0;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Case {
  const char* name;
  const char* make;  // convert arguments before the output file
  int tolerance;     // per component (CMYK: the decoder's integer ink formula)
  // ImageMagick takes the merged image of a document with transparency as
  // blended over white and lifts the white back out; the colours stored in
  // the file are the source's, so those are compared with the source.
  bool colour_from_source = false;
  // ImageMagick 6 cannot read back the indexed documents it writes: the
  // source picture is the only oracle there.
  bool source_only = false;
};

struct Picture {
  int width = 0, height = 0;
  Bytes rgba;
};

// Reads a PAM file of any tuple type into RGBA.
Picture ReadPam(const Bytes& pam) {
  Picture p;
  size_t end = 0;
  std::string header;
  for (size_t i = 0; i + 7 <= pam.size(); ++i)
    if (std::memcmp(&pam[i], "ENDHDR\n", 7) == 0) {
      end = i + 7;
      header.assign(pam.begin(), pam.begin() + i);
      break;
    }
  int depth = 0;
  std::istringstream in(header);
  std::string key;
  while (in >> key) {
    if (key == "WIDTH") in >> p.width;
    else if (key == "HEIGHT") in >> p.height;
    else if (key == "DEPTH") in >> depth;
    else if (key == "MAXVAL" || key == "TUPLTYPE") in >> key;
  }
  const size_t n = size_t(p.width) * p.height;
  if (depth < 1 || depth > 4 || pam.size() < end + n * depth) return Picture{};
  p.rgba.resize(n * 4);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* t = &pam[end + i * depth];
    bool grey = depth <= 2;
    p.rgba[4 * i] = t[0];
    p.rgba[4 * i + 1] = grey ? t[0] : t[1];
    p.rgba[4 * i + 2] = grey ? t[0] : t[2];
    p.rgba[4 * i + 3] = depth == 2 ? t[1] : depth == 4 ? t[3] : 255;
  }
  return p;
}

// Sources are built at 8 bits; "-depth 16" keeps the values exact multiples
// of 257, so the high byte of each sample is the 8-bit value.
const Case kCases[] = {
    {"rgb8_raw", "-size 17x9 gradient:red-blue -depth 8 -compress None", 0},
    {"rgb8_rle", "-seed 3 -size 17x9 plasma:fractal -depth 8 -compress RLE", 0},
    {"rgb8_zip", "-seed 4 -size 17x9 plasma:fractal -depth 8 -compress Zip", 0},
    {"rgba8_raw",
     "-size 13x7 gradient:red-blue -alpha set -channel A -fx 'i/13' +channel -depth 8 -compress None",
     0, true},
    {"rgba8_rle",
     "-seed 5 -size 13x7 plasma:fractal -alpha set -channel A -fx 'j/7' +channel -depth 8 -compress RLE",
     0, true},
    {"rgb16_raw", "-seed 6 -size 11x6 plasma:fractal -depth 8 -depth 16 -compress None", 0},
    {"rgba16_rle",
     "-seed 7 -size 11x6 plasma:fractal -depth 8 -alpha set -channel A -fx 'i/11' +channel -depth 8 -depth 16 -compress RLE",
     0, true},
    {"grey8_raw", "-size 9x9 gradient:white-black -colorspace Gray -depth 8 -compress None", 0},
    {"grey8_rle", "-seed 8 -size 9x9 plasma:fractal -colorspace Gray -depth 8 -compress RLE", 0},
    {"greyalpha8",
     "-size 9x5 gradient:white-black -colorspace Gray -alpha set -channel A -fx 'i/9' +channel -depth 8 -compress RLE",
     0, true},
    {"grey16", "-seed 9 -size 9x5 plasma:fractal -colorspace Gray -depth 8 -depth 16 -compress RLE", 0},
    {"cmyk8_raw", "-seed 10 -size 10x6 plasma:fractal -depth 8 -colorspace CMYK -compress None", 2},
    {"cmyk8_rle", "-seed 11 -size 10x6 plasma:fractal -depth 8 -colorspace CMYK -compress RLE", 2},
    {"cmyk16", "-seed 12 -size 10x6 plasma:fractal -depth 8 -colorspace CMYK -depth 16", 2},
    {"indexed", "-seed 13 -size 12x8 plasma:fractal -colors 16 -type Palette -depth 8", 0, false,
     true},
    {"bitmap", "-size 19x7 pattern:checkerboard -monochrome -depth 1", 0},
    {"bitmap_raw", "-size 21x5 pattern:gray50 -monochrome -depth 1 -compress None", 0},
    {"layered_rgb",
     "-size 16x12 gradient:red-blue -depth 8 \\( -size 8x6 gradient:green-yellow \\) -compress RLE", 0},
    {"layered_rgba",
     "-size 16x12 gradient:red-blue -alpha set -channel A -fx 'i/16' +channel -depth 8 "
     "\\( -seed 14 -size 5x4 plasma:fractal -alpha set \\) -compress None",
     0, true},
};

class ImageMagickPsd : public ::testing::TestWithParam<Case> {};

TEST_P(ImageMagickPsd, MergedImageMatchesImageMagick) {
  const Case& c = GetParam();
  const std::string dir = TempDir();
  const std::string psd = dir + "/f.psd";
  const std::string merged = dir + "/merged.pam";
  const std::string source = dir + "/source.pam";
  ASSERT_TRUE(Shell(std::string("convert-im6.q16 ") + c.make + " " + psd + " 2>/dev/null"));
  if (!c.source_only) {
    ASSERT_TRUE(Shell("convert-im6.q16 '" + psd + "[0]' " +
                    (std::string(c.make).find("CMYK") != std::string::npos ? "-colorspace sRGB " : "") +
                    "-depth 8 " + merged));
  }
  Picture expected = ReadPam(ReadFile(merged));
  if (c.colour_from_source || c.source_only) {
    ASSERT_TRUE(Shell(std::string("convert-im6.q16 ") + c.make + " -delete 1--1 -depth 8 " +
                      source + " 2>/dev/null"));
    Picture original = ReadPam(ReadFile(source));
    if (c.source_only) {
      expected = original;
    } else {
      ASSERT_EQ(original.rgba.size(), expected.rgba.size());
      for (size_t i = 0; i < original.rgba.size(); ++i)
        if (i % 4 != 3) expected.rgba[i] = original.rgba[i];
    }
  }
  const int w = expected.width, h = expected.height;
  ASSERT_GT(w * h, 0);

  auto d = Decode(ReadFile(psd));
  ASSERT_EQ(d->status, 0) << c.name;
  ASSERT_EQ(d->ctx.width, w);
  ASSERT_EQ(d->ctx.height, h);
  ASSERT_NE(d->ctx.merged_image, nullptr);
  // The alpha the image library gets: the first extra channel when there is
  // one, otherwise the merged image's own alpha plane.
  const uint8_t* extra = d->ctx.extra_channel_count > 0 ? d->ctx.extra_channels[0].plane : nullptr;
  const bool merged_alpha = psd_merged_has_alpha(&d->ctx);
  int mismatches = 0;
  for (int i = 0; i < w * h && mismatches < 5; ++i) {
    psd_argb v = d->ctx.merged_image[i];
    int got[4] = {int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF),
                  extra ? extra[i] : merged_alpha ? int(v >> 24) : 255};
    for (int k = 0; k < 4; ++k) {
      if (std::abs(got[k] - expected.rgba[4 * i + k]) > c.tolerance) {
        ADD_FAILURE() << c.name << " pixel " << i << " component " << k << ": " << got[k]
                      << " vs " << int(expected.rgba[4 * i + k]);
        ++mismatches;
        break;
      }
    }
  }
  // Every document here has layers (ImageMagick writes at least one) or gets
  // a synthesised one that copies the merged image.
  ASSERT_GE(d->ctx.layer_count, 1);
  Shell("rm -rf " + dir);
}

INSTANTIATE_TEST_SUITE_P(Files, ImageMagickPsd, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
