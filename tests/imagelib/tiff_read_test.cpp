// The TIFF reader against files written by GDAL, ImageMagick and libtiff's
// own tools, pixels compared with ImageMagick's reading of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imagelib/PxImageTIF.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

namespace {

class TiffRead : public ::testing::Test {
 protected:
  void SetUp() override {
    WritePpm(dir_ / "card.ppm", 61, 47);
    WritePgm(dir_ / "grey.pgm", 61, 47, 255);
    WritePgm(dir_ / "grey16.pgm", 61, 47, 65535);
  }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

struct PeerCase {
  const char* name;
  const char* command;  // {in} = source card, {out} = the TIFF written
  const char* source;
  int tolerance;
  uint32_t depth;  // expected container depth
  // Compared with ImageMagick's reading of this file instead of the TIFF's
  // (ImageMagick clips floating-point values outside 0..1).
  const char* reference = nullptr;
};

std::string Expand(std::string command, const std::string& in, const std::string& out) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}}) {
    for (size_t at; (at = command.find(key)) != std::string::npos;)
      command.replace(at, key.size(), Quote(value));
  }
  return command;
}

// Every compression GDAL writes, the colour models our reader takes through
// libtiff's RGBA reader, and the ones it unpacks itself.
const PeerCase kPeerCases[] = {
    {"none", "gdal_translate -q -co COMPRESS=NONE {in} {out}", "card.ppm", 0, 24},
    {"lzw", "gdal_translate -q -co COMPRESS=LZW -co PREDICTOR=2 {in} {out}", "card.ppm", 0, 24},
    {"deflate", "gdal_translate -q -co COMPRESS=DEFLATE {in} {out}", "card.ppm", 0, 24},
    {"packbits", "gdal_translate -q -co COMPRESS=PACKBITS {in} {out}", "card.ppm", 0, 24},
    {"lzma", "gdal_translate -q -co COMPRESS=LZMA {in} {out}", "card.ppm", 0, 24},
    {"zstd", "gdal_translate -q -co COMPRESS=ZSTD {in} {out}", "card.ppm", 0, 24},
    {"jpeg", "gdal_translate -q -co COMPRESS=JPEG {in} {out}", "card.ppm", 1, 24},
    {"ycbcr", "gdal_translate -q -co COMPRESS=JPEG -co PHOTOMETRIC=YCBCR {in} {out}", "card.ppm", 2, 24},
    {"tiled_rgb", "gdal_translate -q -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 {in} {out}", "card.ppm", 0, 24},
    {"planar_rgb", "gdal_translate -q -co INTERLEAVE=BAND {in} {out}", "card.ppm", 0, 24},
    {"planar_tiled", "gdal_translate -q -co INTERLEAVE=BAND -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 {in} {out}",
     "card.ppm", 0, 24},
    {"planar_tiled16", "gdal_translate -q -ot UInt16 -scale 0 255 0 65535 -co INTERLEAVE=BAND -co TILED=YES "
     "-co BLOCKXSIZE=16 -co BLOCKYSIZE=16 {in} {out}", "card.ppm", 1, 24},
    {"cmyk", "convert-im6.q16 {in} -colorspace CMYK {out}", "card.ppm", 2, 24},
    {"cmyk16", "convert-im6.q16 {in} -colorspace CMYK -depth 16 {out}", "card.ppm", 2, 24},
    {"cmyk16_alpha", "convert-im6.q16 {in} -alpha set -colorspace CMYK -depth 16 {out}", "card.ppm", 2, 24},
    {"cmyk_alpha", "convert-im6.q16 {in} -alpha set -colorspace CMYK {out}", "card.ppm", 2, 24},
    {"cielab", "convert-im6.q16 {in} -colorspace Lab {out}", "card.ppm", 14, 24},
    {"palette", "convert-im6.q16 {in} -colors 40 -type Palette {out}", "card.ppm", 1, 8},
    {"palette_4bit", "convert-im6.q16 {in} -colors 12 -type Palette -depth 4 {out}", "card.ppm", 1, 4},
    {"grey", "gdal_translate -q -co COMPRESS=LZW {in} {out}", "grey.pgm", 0, 8},
    {"grey_tiled", "gdal_translate -q -co TILED=YES -co BLOCKXSIZE=32 -co BLOCKYSIZE=16 {in} {out}", "grey.pgm", 0, 8},
    {"grey_4bit", "gdal_translate -q -scale 0 255 0 15 -co NBITS=4 {in} {out}", "grey.pgm", 0, 4},
    {"grey_2bit", "gdal_translate -q -scale 0 255 0 3 -co NBITS=2 {in} {out}", "grey.pgm", 0, 8},
    {"min_is_white", "convert-im6.q16 {in} -define tiff:photometric=min-is-white {out}", "grey.pgm", 0, 8},
    {"bilevel", "convert-im6.q16 {in} -threshold 50% -depth 1 -type bilevel {out}", "grey.pgm", 0, 1},
    {"bilevel_g4", "convert-im6.q16 {in} -threshold 50% -compress group4 {out}", "grey.pgm", 0, 1},
    {"grey16", "gdal_translate -q -ot UInt16 {in} {out}", "grey16.pgm", 1, 8},
    {"grey16_tiled", "gdal_translate -q -ot UInt16 -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 {in} {out}", "grey16.pgm", 1, 8},
    {"rgb16", "convert-im6.q16 {in} -depth 16 {out}", "card.ppm", 1, 24},
    // Floating-point samples are values: 0..1 is the whole range, any other
    // range is stretched from the lowest value to the highest.
    {"float_grey", "gdal_translate -q -ot Float32 -scale 0 255 0 1 {in} {out}", "grey.pgm", 1, 8},
    {"float_rgb_part", "gdal_translate -q -ot Float32 -scale 0 255 0.2 0.8 -co PHOTOMETRIC=RGB {in} {out}", "card.ppm", 1,
     24},
    {"float_grey_wide", "gdal_translate -q -ot Float32 -scale 0 255 0 1000 {in} {out}", "grey.pgm", 1, 8, "grey.pgm"},
    {"float64_grey_signed", "gdal_translate -q -ot Float64 -scale 0 255 -5 5 {in} {out}", "grey.pgm", 1, 8, "grey.pgm"},
    {"float_planar_rgb", "gdal_translate -q -ot Float32 -scale 0 255 0 1 -co PHOTOMETRIC=RGB -co INTERLEAVE=BAND {in} {out}",
     "card.ppm", 1, 24},
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class TiffPeer : public TiffRead, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(TiffPeer, PixelsMatchImageMagick) {
  const PeerCase& c = GetParam();
  const std::string out = Path(std::string(c.name) + ".tif");
  ASSERT_TRUE(Sh(Expand(c.command, Path(c.source), out))) << c.command;
  auto image = Load(out);
  ASSERT_TRUE(image) << c.name;
  EXPECT_EQ(image->info.formatId, kFormatTif);
  EXPECT_EQ(image->Bpp(), c.depth);
  const Reference ref = MagickRgb(c.reference ? Path(c.reference) : out, "-alpha off");
  ASSERT_FALSE(ref.rgb.empty());
  EXPECT_LE(MaxDifference(*image, ref), c.tolerance) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Peers, TiffPeer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Colour and alpha of RGBA pages, against ImageMagick's straight colours:
// straight (unassociated) alpha is taken as stored, premultiplied
// (associated) alpha is divided out. Alpha runs from 255 at the left edge
// to 5 at the right, where premultiplied colours lose most of their bits.
TEST_F(TiffRead, ColoursUnderAlphaAreStraight) {
  struct AlphaCase {
    const char* name;
    const char* options;
    int tolerance;
  };
  const AlphaCase cases[] = {
      {"unassociated 8-bit", "", 0},
      {"unassociated 16-bit", "-depth 16", 1},
      {"unassociated 16-bit planes", "-depth 16 -interlace plane", 1},
      {"unassociated 8-bit tiled", "-define tiff:tile-geometry=16x16", 0},
      {"associated 8-bit", "-define tiff:alpha=associated", 26},
      {"associated 16-bit", "-define tiff:alpha=associated -depth 16", 26},
  };
  for (const AlphaCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = Path("alpha.tif");
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) +
                   " -alpha set -channel A -fx '1-0.98*i/(w-1)' +channel " + c.options + " " + Quote(out)));
    auto image = Load(out);
    ASSERT_TRUE(image);
    ASSERT_NE(image->alpha, nullptr);
    const Reference colours = MagickRgb(out, "-alpha off");
    ASSERT_FALSE(colours.rgb.empty());
    EXPECT_LE(MaxDifference(*image, colours), c.tolerance);
    // Alpha as ImageMagick reads it, as grey.
    const Reference alpha = MagickRgb(out, "-alpha extract -colorspace sRGB -type TrueColor");
    ASSERT_EQ(alpha.rgb.size(), size_t(image->Width()) * image->Height() * 3);
    int worst = 0;
    for (uint32_t y = 0; y < image->Height(); ++y)
      for (uint32_t x = 0; x < image->Width(); ++x) {
        const uint8_t ours = image->alpha[size_t(image->Height() - 1 - y) * image->Width() + x];
        worst = std::max(worst, std::abs(ours - alpha.rgb[(size_t(y) * image->Width() + x) * 3]));
      }
    EXPECT_LE(worst, 1);
  }
  // Semi-transparent pixels of unassociated files, exactly.
  for (const char* depth : {"8", "16"}) {
    SCOPED_TRACE(depth);
    const std::string out = Path("soft.tif");
    ASSERT_TRUE(Sh("convert-im6.q16 -size 1x1 'xc:rgba(250,32,4,0.1)' 'xc:rgba(250,32,4,0.98431)' +append "
                   "-depth " + std::string(depth) + " " + Quote(out)));
    auto image = Load(out);
    ASSERT_TRUE(image);
    for (auto [x, a] : {std::pair<int, int>{0, 26}, {1, 251}}) {
      const RGBQUAD c = image->PixelColorAt(x, 0);
      EXPECT_EQ(c.rgbRed, 250);
      EXPECT_EQ(c.rgbGreen, 32);
      EXPECT_EQ(c.rgbBlue, 4);
      EXPECT_EQ(c.rgbReserved, a);
    }
  }
}

// Signed integers are refused by name at every depth: their bit patterns
// would show as a picture.
TEST_F(TiffRead, SignedSamplesAreRefused) {
  for (const char* type : {"Int16", "Int32", "CInt16"}) {
    SCOPED_TRACE(type);
    const std::string out = Path("signed.tif");
    ASSERT_TRUE(Sh("gdal_translate -q -ot " + std::string(type) + " " + Quote(Path("grey.pgm")) + " " + Quote(out)));
    PxImage image;
    EXPECT_FALSE(image.LoadFile(pw::NarrowToWide(out), kFormatTif));
    EXPECT_STREQ(image.LastError(), "TIFF: signed or complex samples are not supported");
  }
  const std::string byteOut = Path("int8.tif");
  ASSERT_TRUE(Sh("/usr/bin/python3 -c \"import sys, numpy, tifffile; "
                 "tifffile.imwrite(sys.argv[1], numpy.arange(-60, 60, dtype=numpy.int8).reshape(8, 15))\" " +
                 Quote(byteOut)));
  PxImage bytes;
  EXPECT_FALSE(bytes.LoadFile(pw::NarrowToWide(byteOut), kFormatTif));
  EXPECT_STREQ(bytes.LastError(), "TIFF: signed or complex samples are not supported");
}

TEST_F(TiffRead, GreyAlphaKeepsItsAlpha) {
  const std::string out = Path("ga.tif");
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("grey.pgm")) +
                  " -alpha set -channel A -fx 'i/w' +channel -type GrayscaleAlpha " + Quote(out)));
  auto image = Load(out);
  ASSERT_TRUE(image);
  ASSERT_NE(image->alpha, nullptr);
  // Alpha rises from left to right in every row.
  const uint32_t w = image->Width();
  EXPECT_LT(image->alpha[0], 10);
  EXPECT_GT(image->alpha[w - 1], 240);
}

TEST_F(TiffRead, PagesAreFramesAndAMissingPageFails) {
  const std::string a = Path("a.tif"), b = Path("b.tif"), c = Path("c.tif"), all = Path("all.tif");
  ASSERT_TRUE(Sh("gdal_translate -q " + Quote(Path("card.ppm")) + " " + Quote(a)));
  ASSERT_TRUE(Sh("gdal_translate -q -outsize 30 20 " + Quote(Path("card.ppm")) + " " + Quote(b)));
  ASSERT_TRUE(Sh("gdal_translate -q -outsize 10 40 " + Quote(Path("grey.pgm")) + " " + Quote(c)));
  ASSERT_TRUE(Sh("tiffcp " + Quote(a) + " " + Quote(b) + " " + Quote(c) + " " + Quote(all)));

  auto third = Load(all, 2);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->info.frameCount, 3);
  EXPECT_EQ(third->Width(), 10u);
  EXPECT_EQ(third->Height(), 40u);
  EXPECT_LE(MaxDifference(*third, MagickRgb(all + "[2]")), 0);

  PxImage missing;
  missing.info.frame = 3;
  EXPECT_FALSE(missing.LoadFile(pw::NarrowToWide(all), kFormatTif));
  EXPECT_STREQ(missing.LastError(), "Error: page not present in TIFF file");
  EXPECT_EQ(missing.info.frameCount, 3);
}

// Every orientation of a strip-read page comes out as ImageMagick shows it
// upright: 6 turns clockwise, 8 counter-clockwise.
TEST_F(TiffRead, OrientationsOfStripPagesAreApplied) {
  // Palette and bilevel pages (a bilevel row's pixels share bytes).
  for (const char* kind : {"-colors 200 -type Palette", "-monochrome"}) {
    const std::string base = Path("o.tif");
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " " + kind + " " + Quote(base)));
    for (int orientation = 1; orientation <= 8; ++orientation) {
      const std::string file = Path("o" + std::to_string(orientation) + ".tif");
      ASSERT_TRUE(Sh("cp " + Quote(base) + " " + Quote(file)));
      ASSERT_TRUE(Sh("tiffset -s 274 " + std::to_string(orientation) + " " + Quote(file)));
      auto image = Load(file);
      ASSERT_TRUE(image) << orientation;
      EXPECT_EQ(MaxDifference(*image, MagickRgb(file, "-auto-orient")), 0)
          << kind << ", orientation " << orientation;
    }
  }
}

// Pages read through libtiff's RGBA reader come out upright too, the turning
// orientations (5 to 8) included: plain RGB written by tifffile, and YCbCr
// JPEG written by GDAL with the tag set by tiffset. The upright references
// are ImageMagick's turns of the source card and of the unturned JPEG page.
TEST_F(TiffRead, OrientationsOfRgbaPagesAreApplied) {
  ASSERT_TRUE(Sh("/usr/bin/python3 -c 'import tifffile, numpy, PIL'")) << "python3-tifffile missing: run scripts/setup";
  const char* kNames[] = {"", "TopLeft", "TopRight", "BottomRight", "BottomLeft",
                          "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
  const std::string ycbcr = Path("ycbcr.tif");
  ASSERT_TRUE(Sh("gdal_translate -q -co COMPRESS=JPEG -co PHOTOMETRIC=YCBCR " + Quote(Path("card.ppm")) + " " +
                 Quote(ycbcr)));
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const Reference upright =
        MagickRgb(Path("card.ppm"), std::string("-orient ") + kNames[orientation] + " -auto-orient");
    ASSERT_FALSE(upright.rgb.empty());

    const std::string rgb = Path("rgb" + std::to_string(orientation) + ".tif");
    ASSERT_TRUE(Sh("/usr/bin/python3 -c 'import sys, numpy, tifffile; from PIL import Image; "
                   "tifffile.imwrite(sys.argv[2], numpy.asarray(Image.open(sys.argv[1])), photometric=\"rgb\", "
                   "extratags=[(274, 3, 1, int(sys.argv[3]), True)])' " +
                   Quote(Path("card.ppm")) + " " + Quote(rgb) + " " + std::to_string(orientation)));
    auto plain = Load(rgb);
    ASSERT_TRUE(plain);
    EXPECT_EQ(MaxDifference(*plain, upright), 0) << "tifffile RGB";

    const std::string jpeg = Path("ycbcr" + std::to_string(orientation) + ".tif");
    ASSERT_TRUE(Sh("cp " + Quote(ycbcr) + " " + Quote(jpeg) + " && tiffset -s 274 " + std::to_string(orientation) +
                   " " + Quote(jpeg)));
    auto turned = Load(jpeg);
    ASSERT_TRUE(turned);
    const Reference jpegUpright = MagickRgb(ycbcr, std::string("-orient ") + kNames[orientation] + " -auto-orient");
    EXPECT_LE(MaxDifference(*turned, jpegUpright), 2) << "YCbCr JPEG";
  }
}

// Pillow writes a palette page's colour map as value x 256: every entry
// comes back at its own level, as Pillow reads it (top-down RGB bytes).
TEST_F(TiffRead, PillowPaletteMapIsExact) {
  const std::string file = Path("pillow_p.tif"), dump = Path("pillow_p.rgb");
  ASSERT_TRUE(Sh("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                 "p = Image.open(sys.argv[1]).quantize(200); p.save(sys.argv[2]); "
                 "open(sys.argv[3], \"wb\").write(Image.open(sys.argv[2]).convert(\"RGB\").tobytes())' " +
                 Quote(Path("card.ppm")) + " " + Quote(file) + " " + Quote(dump)));
  FILE* f = std::fopen(dump.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> rgb(61 * 47 * 3);
  ASSERT_EQ(std::fread(rgb.data(), 1, rgb.size(), f), rgb.size());
  std::fclose(f);
  auto image = Load(file);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Bpp(), 8u);
  EXPECT_EQ(MaxDifference(*image, 61, 47, rgb), 0);
}

TEST_F(TiffRead, ResolutionInCentimetresBecomesDpi) {
  const std::string file = Path("res.tif");
  ASSERT_TRUE(Sh("gdal_translate -q " + Quote(Path("grey.pgm")) + " " + Quote(file)));
  ASSERT_TRUE(Sh("tiffset -s 296 3 " + Quote(file)));
  ASSERT_TRUE(Sh("tiffset -s 282 118.11 " + Quote(file)));
  ASSERT_TRUE(Sh("tiffset -s 283 72 " + Quote(file)));
  auto image = Load(file);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->info.xDpi, 300);
  EXPECT_EQ(image->info.yDpi, 183);  // 72 dots per cm
  EXPECT_EQ(image->info.codecOptions[FormatIndexFromId(kFormatTif)], 1u);
}

// A 16-bit grey page whose brightest row uses only 12 bits: every row ends
// up on the same scale, so a ramp stays a ramp.
TEST_F(TiffRead, SixteenBitRowsShareOneScale) {
  const std::string pgm = Path("g12.pgm"), file = Path("g12.tif");
  WritePgm(pgm, 64, 16, 4095);
  ASSERT_TRUE(Sh("gdal_translate -q -ot UInt16 -co BLOCKYSIZE=1 " + Quote(pgm) + " " + Quote(file)));
  auto image = Load(file);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->Bpp(), 8u);
  // Sample v of 12 bits comes out as v >> 4 on every row.
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) {
      const int v = (x + y * 64) * 4095 / (64 * 16 - 1);
      ASSERT_EQ(image->PixelIndexAt(x, 15 - y), v >> 4) << x << "," << y;
    }
}

TEST_F(TiffRead, EscapeMinusOneGivesDimensionsOnly) {
  const std::string file = Path("dim.tif");
  ASSERT_TRUE(Sh("gdal_translate -q " + Quote(Path("card.ppm")) + " " + Quote(file)));
  PxImage image;
  image.info.escape = -1;
  FILE* f = std::fopen(file.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(image.DecodeFileHandle(f, kFormatTif));
  std::fclose(f);
  EXPECT_EQ(image.header.biWidth, 61);
  EXPECT_EQ(image.header.biHeight, 47);
  EXPECT_FALSE(image.HasPixels());
}

TEST(TiffRows, UnpackSamplesToBytes) {
  struct Case {
    uint32_t bits;
    std::vector<uint8_t> src;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {1, {0xA5}, {1, 0, 1, 0, 0, 1, 0, 1}},
      {2, {0x1B}, {0, 1, 2, 3}},
      {12, {0xAB, 0xCD, 0xEF}, {0xAB, 0xDE}},     // top 8 bits of 0xABC and 0xDEF
      {24, {0x11, 0x22, 0x33}, {0x33}},           // host order: the high byte last
      {32, {1, 2, 3, 4, 5, 6, 7, 8}, {4, 8}},
      {12, {0xAB}, {0xAB, 0x00}},                 // a short source reads as 0, never past it
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.expected.size(), 0x77);
    ASSERT_TRUE(pxtiff::UnpackSamplesToBytes(out.data(), c.src.data(), c.src.size(),
                                             static_cast<uint32_t>(out.size()), c.bits));
    EXPECT_EQ(out, c.expected) << c.bits << " bits";
  }
  uint8_t out[1];
  const uint8_t src[8] = {};
  EXPECT_FALSE(pxtiff::UnpackSamplesToBytes(out, src, 8, 1, 0));
  EXPECT_FALSE(pxtiff::UnpackSamplesToBytes(out, src, 8, 1, 33));
}

TEST(TiffRows, CopyTileRowsAdvancesBothSides) {
  const uint8_t src[] = {1, 2, 9, 3, 4, 9};
  uint8_t dest[8] = {};
  pxtiff::CopyTileRows(dest, src, 2, 2, 2, 1);
  const uint8_t expected[] = {1, 2, 0, 0, 3, 4, 0, 0};
  EXPECT_EQ(0, std::memcmp(dest, expected, sizeof dest));
}

TEST(TiffRows, ExpandPaletteSamplesBoundsIndices) {
  std::vector<uint8_t> palette(4 * 300, 0);
  palette[4 * 299 + 2] = 200;  // red of entry 299
  const uint8_t src[] = {0x2B, 0x01, 0xFF, 0xFF};  // 299 and 65535, host order
  uint8_t out[6];
  ASSERT_TRUE(pxtiff::ExpandPaletteSamples(out, src, sizeof src, 2, 16, palette.data(), 300));
  EXPECT_EQ(out[2], 200);
  EXPECT_EQ(out[3] | out[4] | out[5], 0);
}

}  // namespace
