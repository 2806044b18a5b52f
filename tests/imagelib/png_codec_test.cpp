// The PNG codec: exact pixels of ImageMagick's PNG flavours, round trips
// through ImageMagick, the palette swap of the writer, and damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "imagelib/PxImagePNG.h"
#include "jpeg_test_util.h"

using namespace pwtest;

namespace {

// ImageMagick's samples as 16-bit RGBA, top row first.
std::vector<uint16_t> MagickRgba16(const std::filesystem::path& file, int* w, int* h) {
  std::string size = RunCapture("identify-im6.q16 -format '%w %h' '" + file.string() + "'");
  std::sscanf(size.c_str(), "%d %d", w, h);
  std::vector<uint8_t> raw = RunBytes("convert-im6.q16 '" + file.string() + "' -depth 16 -endian MSB rgba:-");
  std::vector<uint16_t> out(raw.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = uint16_t((raw[2 * i] << 8) | raw[2 * i + 1]);
  return out;
}

bool Transparent(const PxImage& image, int32_t x, int32_t y) {
  if (image.info.backgroundIndex >= 0 && image.PaletteSize() > 0)
    return image.PixelIndexAt(x, y) == image.info.backgroundIndex;
  if (image.info.backgroundIndex >= 0 && image.PaletteSize() == 0)
    return SameQuad(image.PixelColorAt(x, y, false), image.info.backgroundColor);
  return false;
}

// Our pixels against ImageMagick's: colours are the high byte of each
// 16-bit sample; alpha from the alpha plane, the palette's alpha or the
// one transparent index or colour.
void ExpectSamePixels(const PxImage& image, const std::filesystem::path& file) {
  int w = 0, h = 0;
  std::vector<uint16_t> expected = MagickRgba16(file, &w, &h);
  ASSERT_EQ(int(image.Width()), w);
  ASSERT_EQ(int(image.Height()), h);
  ASSERT_EQ(expected.size(), size_t(w) * size_t(h) * 4);
  int failures = 0;
  for (int r = 0; r < h && failures < 5; ++r) {
    for (int x = 0; x < w && failures < 5; ++x) {
      const uint16_t* e = &expected[(size_t(r) * w + x) * 4];
      const int32_t y = h - 1 - r;
      const RGBQUAD c = image.PixelColorAt(x, y, true);
      const uint8_t alpha = Transparent(image, x, y) ? 0
                            : (image.alpha || image.info.alphaPalette) ? c.rgbReserved : 255;
      const uint8_t ea = uint8_t(e[3] >> 8);
      const bool colourMatters = ea != 0;
      if (alpha != ea || (colourMatters && (c.rgbRed != e[0] >> 8 || c.rgbGreen != e[1] >> 8 ||
                                            c.rgbBlue != e[2] >> 8))) {
        ADD_FAILURE() << "pixel (" << x << "," << r << ") ours " << int(c.rgbRed) << "," << int(c.rgbGreen)
                      << "," << int(c.rgbBlue) << "/" << int(alpha) << " ImageMagick " << (e[0] >> 8) << ","
                      << (e[1] >> 8) << "," << (e[2] >> 8) << "/" << int(ea);
        ++failures;
      }
    }
  }
}

std::string Ihdr(const std::filesystem::path& file) {
  // colour type, bit depth and interlace method straight from the IHDR chunk
  std::vector<uint8_t> b = ReadAll(file);
  if (b.size() < 29) return "";
  return std::to_string(b[25]) + "/" + std::to_string(b[24]) + "/" + std::to_string(b[28]);
}

// The data of the first chunk of a type, or empty when there is none.
std::vector<uint8_t> ChunkData(const std::filesystem::path& file, const char type[5]) {
  const std::vector<uint8_t> b = ReadAll(file);
  for (size_t at = 8; at + 12 <= b.size();) {
    const size_t length = size_t{b[at]} << 24 | size_t{b[at + 1]} << 16 | size_t{b[at + 2]} << 8 | b[at + 3];
    if (at + 12 + length > b.size()) break;
    if (std::memcmp(&b[at + 4], type, 4) == 0) return std::vector<uint8_t>(&b[at + 8], &b[at + 8] + length);
    at += 12 + length;
  }
  return {};
}

class PngFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_ / "source.miff";
    // Colour, a soft alpha edge and a fully transparent corner.
    ASSERT_TRUE(Shell("convert-im6.q16 -size 37x23 gradient:gold-teal -swirl 150 "
                      "\\( -size 37x23 gradient:white-black -level 0,60% \\) -alpha off -compose copy_opacity "
                      "-composite '" + source_.string() + "'"));
  }
  std::filesystem::path Make(const std::string& name, const std::string& args) {
    auto out = dir_ / name;
    // args ends with the output format prefix, written right before the name
    EXPECT_TRUE(Shell("convert-im6.q16 '" + source_.string() + "' " + args + "'" + out.string() + "'"));
    return out;
  }
  // A PNG written by Pillow: `code` builds the image `im` and may set `kw`.
  std::filesystem::path Pillow(const std::string& name, const std::string& code) {
    auto out = dir_ / name;
    EXPECT_TRUE(Shell("/usr/bin/python3 -c \"import sys; from PIL import Image\n"
                      "kw = {}\n" + code + "\nim.save(sys.argv[1], **kw)\" '" + out.string() + "'"));
    return out;
  }
  void Check(const std::filesystem::path& file, uint32_t bpp);
  TempDir dir_;
  std::filesystem::path source_;
};

const char kPillowPalette[] =
    "im = Image.new('P', (37, 23))\n"
    "im.putpalette([v for c in range(256) for v in (c, (c * 3) % 256, 255 - c)])\n"
    "im.putdata([(x * 7 + y * 3) % NCOL for y in range(23) for x in range(37)])";

std::string PillowPalette(int colours, const std::string& extra) {
  std::string code = kPillowPalette;
  code.replace(code.find("NCOL"), 4, std::to_string(colours));
  return code + "\n" + extra;
}

TEST_F(PngFiles, ImageMagickFlavoursDecodeExactly) {
  struct Case { const char* name; const char* args; const char* ihdr; uint32_t bpp; };
  const Case cases[] = {
      {"PNG24", "-alpha off PNG24:", "2/8/0", 24},
      {"PNG32", "PNG32:", "6/8/0", 24},
      {"PNG48", "-alpha off -depth 16 PNG48:", "2/16/0", 24},
      {"PNG64", "-depth 16 PNG64:", "6/16/0", 24},
      {"PNG8 one transparent entry", "PNG8:", "3/8/0", 8},
      {"PNG8 few colours, one transparent entry", "-channel A -threshold 50% +channel -colors 60 PNG8:", "3/8/0", 8},
      {"PNG24 interlaced", "-alpha off -interlace PNG PNG24:", "2/8/1", 24},
      {"PNG32 interlaced", "-interlace PNG PNG32:", "6/8/1", 24},
      {"PNG64 interlaced", "-depth 16 -interlace PNG PNG64:", "6/16/1", 24},
      {"PNG8 interlaced", "-interlace PNG PNG8:", "3/8/1", 8},
      {"grey 1 bit", "-alpha off -colorspace Gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1 PNG:", "0/1/0", 1},
      {"grey 2 bits", "-alpha off -colorspace Gray -depth 2 -define png:color-type=0 -define png:bit-depth=2 PNG:", "0/2/0", 4},
      {"grey 2 bits interlaced", "-alpha off -colorspace Gray -depth 2 -interlace PNG -define png:color-type=0 -define png:bit-depth=2 PNG:", "0/2/1", 4},
      {"grey 4 bits", "-alpha off -colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4 PNG:", "0/4/0", 4},
      {"grey 8 bits", "-alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=8 PNG:", "0/8/0", 8},
      {"grey 16 bits", "-alpha off -colorspace Gray -depth 16 -define png:color-type=0 -define png:bit-depth=16 PNG:", "0/16/0", 8},
      {"grey 16 bits interlaced", "-alpha off -colorspace Gray -depth 16 -interlace PNG -define png:color-type=0 -define png:bit-depth=16 PNG:", "0/16/1", 8},
      {"grey and alpha", "-colorspace Gray -depth 8 -define png:color-type=4 PNG:", "4/8/0", 8},
      {"grey and alpha interlaced 16", "-colorspace Gray -depth 16 -interlace PNG -define png:color-type=4 PNG:", "4/16/1", 8},
      {"RGB with one transparent colour", "-alpha off -depth 8 -fill red -draw 'rectangle 0,0 9,9' -transparent red -define png:color-type=2 PNG:", "2/8/0", 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = Make("case.png", c.args);
    ASSERT_EQ(Ihdr(file), c.ihdr);
    Check(file, c.bpp);
  }
  const Case pillowCases[] = {
      {"palette 1 bit", "kw['bits'] = 1", "3/1/0", 1},
      {"palette 2 bits", "kw['bits'] = 2", "3/2/0", 4},
      {"palette 4 bits", "kw['bits'] = 4", "3/4/0", 4},
      {"several tRNS entries", "kw['transparency'] = bytes([0, 60, 120, 180, 240])", "3/8/0", 8},
      {"grey with one transparent level", "im = im.convert('L'); kw['transparency'] = 100", "0/8/0", 8},
  };
  for (const Case& c : pillowCases) {
    SCOPED_TRACE(c.name);
    const std::string ihdr = c.ihdr;
    const int colours = ihdr == "3/1/0" ? 2 : ihdr == "3/2/0" ? 4 : ihdr == "3/4/0" ? 16 : 256;
    auto file = Pillow("case.png", PillowPalette(colours, c.args));
    ASSERT_EQ(Ihdr(file), c.ihdr);
    Check(file, c.bpp);
  }
}

void PngFiles::Check(const std::filesystem::path& file, uint32_t bpp) {
  {
    PxImage image;
    ASSERT_TRUE(image.LoadFile(Wide(file), kFormatPng)) << image.LastError();
    EXPECT_EQ(image.info.formatId, kFormatPng);
    EXPECT_EQ(image.Bpp(), bpp);
    EXPECT_EQ(image.info.codecOptions[4] & 1u, ReadAll(file)[28] == 1 ? 1u : 0u);
    ExpectSamePixels(image, file);
  }
}

TEST_F(PngFiles, TransparencyFields) {
  PxImage several;
  ASSERT_TRUE(several.LoadFile(Wide(Pillow("several.png", PillowPalette(256, "kw['transparency'] = bytes([0, 60, 120])"))), kFormatPng));
  EXPECT_EQ(several.PaletteData()[1].rgbReserved, 60);
  EXPECT_EQ(several.PaletteData()[3].rgbReserved, 255);
  EXPECT_TRUE(several.info.alphaPalette);
  EXPECT_EQ(several.alpha, nullptr);
  EXPECT_EQ(several.info.backgroundIndex, -1);

  PxImage one;
  ASSERT_TRUE(one.LoadFile(Wide(Make("one.png", "PNG8:")), kFormatPng));
  EXPECT_FALSE(one.info.alphaPalette);
  EXPECT_EQ(one.info.backgroundIndex, 0);

  PxImage rgba;
  ASSERT_TRUE(rgba.LoadFile(Wide(Make("rgba.png", "PNG32:")), kFormatPng));
  EXPECT_NE(rgba.alpha, nullptr);
}

TEST_F(PngFiles, ResolutionAndDimensionsOnly) {
  struct Case { const char* args; int dpi; };
  const Case cases[] = {{"-units PixelsPerInch -density 300 PNG24:", 300},
                        {"-units PixelsPerCentimeter -density 37.8 PNG24:", 96},
                        {"-define png:exclude-chunks=pHYs PNG24:", 96}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    PxImage image;
    ASSERT_TRUE(image.LoadFile(Wide(Make("dpi.png", c.args)), kFormatPng));
    EXPECT_EQ(image.info.xDpi, c.dpi);
    EXPECT_EQ(image.info.yDpi, c.dpi);
  }
  PxImage dims;
  dims.info.escape = -1;
  std::vector<uint8_t> bytes = ReadAll(Make("dims.png", "PNG24:"));
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  ASSERT_TRUE(dims.Decode(&file, kFormatPng));
  EXPECT_EQ(dims.Width(), 37u);
  EXPECT_EQ(dims.Height(), 23u);
  EXPECT_FALSE(dims.HasPixels());
}

std::filesystem::path EncodeTo(PxImage& image, const std::filesystem::path& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  PxIOFile file(f);
  EXPECT_TRUE(image.Encode(&file, kFormatPng)) << image.LastError();
  std::fclose(f);
  return path;
}

// Transparency is what a reader finds in the file. An image that held a
// picture with transparent entries and then loads one without must not keep
// them: written again, the new picture would come out see-through.
TEST_F(PngFiles, TransparencyIsNotInheritedFromTheEarlierPicture) {
  PxImage opaque(37, 23, 8, kFormatUnknown);
  opaque.MakeStandardPalette();
  for (int32_t y = 0; y < 23; ++y)
    for (int32_t x = 0; x < 37; ++x) opaque.StorePixelIndex(x, y, uint8_t((x * 5 + y) % 200));
  PxMemFile bmp;
  ASSERT_TRUE(bmp.Open());
  ASSERT_TRUE(opaque.Encode(&bmp, kFormatBmp));

  for (const char* earlier : {"several", "one"}) {
    SCOPED_TRACE(earlier);
    PxImage image;
    const std::string code = std::string(earlier) == "several" ? "kw['transparency'] = bytes([0, 60, 120])"
                                                               : "kw['transparency'] = 3";
    ASSERT_TRUE(image.LoadFile(Wide(Pillow("earlier.png", PillowPalette(256, code))), kFormatPng));
    ASSERT_TRUE(image.info.alphaPalette || image.info.backgroundIndex >= 0);

    bmp.SeekTo(0, 0);
    ASSERT_TRUE(image.Decode(&bmp, kFormatBmp)) << image.LastError();
    EXPECT_FALSE(image.info.alphaPalette);
    EXPECT_EQ(image.info.backgroundIndex, -1);
    auto out = EncodeTo(image, dir_ / "again.png");
    EXPECT_EQ(RunCapture("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                         "print(Image.open(sys.argv[1]).info.get('transparency'))\" '" + out.string() + "'"),
              "None\n");
  }
}

// A true-colour PNG with one transparent colour keeps that colour when it is
// written again, in the transparency and background chunks.
TEST_F(PngFiles, TrueColourTransparentColourSurvivesAWrite) {
  auto in = Pillow("rgb-trns.png",
                   "im = Image.new('RGB', (9, 4), (200, 120, 40))\n"
                   "im.putpixel((2, 1), (0, 0, 0))\n"
                   "kw['transparency'] = (200, 120, 40)");
  PxImage image;
  ASSERT_TRUE(image.LoadFile(Wide(in), kFormatPng));
  ASSERT_EQ(image.Bpp(), 24u);
  ASSERT_EQ(image.info.backgroundIndex, 0);
  auto out = EncodeTo(image, dir_ / "rgb-trns-again.png");
  EXPECT_EQ(RunCapture("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                       "print(Image.open(sys.argv[1]).info.get('transparency'))\" '" + out.string() + "'"),
            "(200, 120, 40)\n");
  EXPECT_EQ(ChunkData(out, "bKGD"), (std::vector<uint8_t>{0, 200, 0, 120, 0, 40}));

  // With an alpha plane, only pixels of that colour become transparent; the
  // black one stays opaque.
  ASSERT_TRUE(image.CreateAlphaPlane());
  out = EncodeTo(image, dir_ / "rgba-again.png");
  EXPECT_EQ(image.alpha[2 * 9 + 2], 255);  // row 2 from the bottom is row 1 from the top
  EXPECT_EQ(image.alpha[0], 0);
}

TEST_F(PngFiles, RoundTripsThroughImageMagick) {
  struct Case { const char* name; const char* args; uint32_t option; const char* ihdr; };
  const Case cases[] = {
      {"true colour", "-alpha off PNG24:", 0, "2/8/0"},
      {"true colour and alpha", "PNG32:", 0, "6/8/0"},
      {"interlaced", "-alpha off PNG24:", 1, "2/8/1"},
      {"palette with one transparent entry", "PNG8:", 0, "3/8/0"},
      {"grey ramp", "-alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=8 PNG:", 0, "0/8/0"},
      {"grey and alpha", "-colorspace Gray -depth 8 -define png:color-type=4 PNG:", 0, "4/8/0"},
  };
  auto roundTrip = [&](const std::filesystem::path& in, uint32_t option, const char* ihdr) {
    PxImage image;
    ASSERT_TRUE(image.LoadFile(Wide(in), kFormatPng));
    image.info.codecOptions[4] = option;
    auto out = EncodeTo(image, dir_ / "out.png");
    EXPECT_EQ(Ihdr(out), ihdr);
    ExpectSamePixels(image, out);
    PxImage back;
    ASSERT_TRUE(back.LoadFile(Wide(out), kFormatPng));
    EXPECT_EQ(FirstDifference(TopDownRgb(back), TopDownRgb(image)), -1);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    roundTrip(Make("in.png", c.args), c.option, c.ihdr);
  }
  SCOPED_TRACE("Pillow palettes");
  roundTrip(Pillow("p1.png", PillowPalette(2, "kw['bits'] = 1")), 0, "3/1/0");
  roundTrip(Pillow("p2.png", PillowPalette(4, "kw['bits'] = 2")), 6, "3/4/0");
  roundTrip(Pillow("p4.png", PillowPalette(16, "kw['bits'] = 4")), 1, "3/4/1");
  roundTrip(Pillow("pa.png", PillowPalette(256, "kw['transparency'] = bytes([0, 60, 120])")), 0, "3/8/0");
}

PxImage PaletteWithTransparentFive() {
  PxImage image(9, 5, 8, kFormatBmp);
  image.MakeStandardPalette();
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 9; ++x) image.StorePixelIndex(x, y, uint8_t((x + y) % 8));
  image.info.backgroundIndex = 5;
  return image;
}

TEST_F(PngFiles, TransparentEntryGoesFirstAndTheCallerKeepsItsPalette) {
  PxImage image = PaletteWithTransparentFive();
  std::vector<uint8_t> before(image.dib, image.dib + 40 + 1024 + image.ImageBytes());
  auto out = EncodeTo(image, dir_ / "five.png");
  EXPECT_EQ(0, std::memcmp(before.data(), image.dib, before.size()));
  EXPECT_EQ(image.info.backgroundIndex, 5);
  ExpectSamePixels(image, out);
  PxImage back;
  ASSERT_TRUE(back.LoadFile(Wide(out), kFormatPng));
  EXPECT_EQ(back.info.backgroundIndex, 0);
  const RGBQUAD five = image.PaletteData()[5];
  EXPECT_TRUE(SameQuad(back.PaletteData()[0], RGBQUAD{five.rgbBlue, five.rgbGreen, five.rgbRed, 0}));

  // The background chunk names the transparent colour where the file keeps
  // it: entry 0, not the entry it had in the picture.
  EXPECT_EQ(ChunkData(out, "bKGD"), std::vector<uint8_t>{0});
}

// A file that accepts a few bytes and then refuses every write.
class FailingFile : public PxMemFile {
 public:
  explicit FailingFile(size_t accepted) : accepted_(accepted) { Open(); }
  size_t WriteBlock(const void* buffer, size_t size, size_t count) override {
    if (size * count > accepted_) return 0;
    accepted_ -= size * count;
    return PxMemFile::WriteBlock(buffer, size, count);
  }
 private:
  size_t accepted_;
};

TEST_F(PngFiles, FailedWriteRestoresPaletteAndBackground) {
  // The write fails inside libpng, after the palette swap.
  PxImage image = PaletteWithTransparentFive();
  std::vector<uint8_t> before(image.dib, image.dib + 40 + 1024 + image.ImageBytes());
  for (size_t accepted : {size_t{0}, size_t{100}, size_t{900}}) {
    FailingFile file(accepted);
    EXPECT_FALSE(image.Encode(&file, kFormatPng));
    EXPECT_STREQ(image.LastError(), "Error saving PNG file");
    EXPECT_EQ(0, std::memcmp(before.data(), image.dib, before.size()));
    EXPECT_EQ(image.info.backgroundIndex, 5);
  }
  // A full disk shows only when the written data is flushed.
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  {
    PxIOFile file(full);
    EXPECT_FALSE(image.Encode(&file, kFormatPng));
  }
  std::fclose(full);
  EXPECT_STREQ(image.LastError(), "Error saving PNG file");
  EXPECT_EQ(0, std::memcmp(before.data(), image.dib, before.size()));

  // A colour palette with an alpha plane has no PNG colour type.
  ASSERT_TRUE(image.CreateAlphaPlane());
  PxMemFile mem;
  mem.Open();
  EXPECT_FALSE(image.Encode(&mem, kFormatPng));
  EXPECT_STREQ(image.LastError(), "Error saving PNG file");
  EXPECT_EQ(0, std::memcmp(before.data(), image.dib, before.size()));
  EXPECT_EQ(image.info.backgroundIndex, 5);
}

TEST(PngEncode, Refusals) {
  PxImage empty;
  PxMemFile mem;
  mem.Open();
  EXPECT_FALSE(empty.Encode(&mem, kFormatPng));
  EXPECT_STREQ(empty.LastError(), "null image!!!");
  PxImagePNG png;
  EXPECT_FALSE(png.Encode(nullptr));
  EXPECT_STREQ(png.LastError(), "null file handler");
}

TEST(PngRows, ExpandTwoBitRow) {
  uint8_t row[4] = {0b00011011, 0b11100100, 0, 0};  // 0 1 2 3 3 2 1 0
  ExpandTwoBitRow(row, 8);
  EXPECT_EQ(row[0], 0x01);
  EXPECT_EQ(row[1], 0x23);
  EXPECT_EQ(row[2], 0x32);
  EXPECT_EQ(row[3], 0x10);
}

// Damaged files end with false and a text, never a crash (sanitizer run).
TEST_F(PngFiles, MalformedFiles) {
  std::vector<uint8_t> good = ReadAll(Make("good.png", "PNG32:"));
  std::vector<uint8_t> inter = ReadAll(Make("inter.png", "-interlace PNG -depth 16 PNG64:"));
  auto ihdrAt = [](std::vector<uint8_t> b, size_t offset, std::vector<uint8_t> bytes, bool fixCrc) {
    for (size_t i = 0; i < bytes.size(); ++i) b[16 + offset + i] = bytes[i];
    if (fixCrc) {
      // Recompute the IHDR checksum so that libpng looks at the values.
      uint32_t crc = 0xFFFFFFFFu;
      for (size_t i = 12; i < 29; ++i) {
        crc ^= b[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
      }
      crc ^= 0xFFFFFFFFu;
      b[29] = uint8_t(crc >> 24); b[30] = uint8_t(crc >> 16); b[31] = uint8_t(crc >> 8); b[32] = uint8_t(crc);
    }
    return b;
  };
  struct Case { const char* name; std::vector<uint8_t> bytes; int ok; const char* error; };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, 0, "Read Error"});
  cases.push_back({"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0}, 0, nullptr});
  for (size_t cut : {size_t{8}, size_t{20}, size_t{40}, good.size() / 2, good.size() - 13}) {
    cases.push_back({"cut short", std::vector<uint8_t>(good.begin(), good.begin() + long(cut)), 0, nullptr});
  }
  cases.push_back({"interlaced cut short", std::vector<uint8_t>(inter.begin(), inter.begin() + long(inter.size() * 2 / 3)), 0, nullptr});
  cases.push_back({"IHDR checksum wrong", ihdrAt(good, 0, {0, 0, 0, 99}, false), 0, nullptr});
  cases.push_back({"width 0", ihdrAt(good, 0, {0, 0, 0, 0}, true), 0, nullptr});
  cases.push_back({"beyond the memory limit", ihdrAt(good, 0, {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30}, true), 0, "PXIMAGE_MAX_MEMORY exceeded"});
  cases.push_back({"colour type 5", ihdrAt(good, 9, {5}, true), 0, nullptr});
  cases.push_back({"bit depth 3", ihdrAt(good, 8, {3}, true), 0, nullptr});
  {
    std::vector<uint8_t> b = good;
    for (size_t i = 60; i < b.size() - 20; i += 5) b[i] ^= 0x33;
    cases.push_back({"scrambled data", b, 0, nullptr});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = c.bytes;
    PxMemFile file(bytes.empty() ? nullptr : bytes.data(), int32_t(bytes.size()));
    if (bytes.empty()) file.Open();
    PxImage image;
    const bool ok = image.Decode(&file, kFormatPng);
    EXPECT_EQ(ok, c.ok == 1);
    EXPECT_FALSE(image.HasPixels());
    EXPECT_NE(*image.LastError(), 0);
    if (c.error) {
      EXPECT_STREQ(image.LastError(), c.error);
    }
  }
}

}  // namespace
