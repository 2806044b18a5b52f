// The TGA codec: files written by ImageMagick and Pillow decode to their
// pixels, our files read back in ImageMagick, the run-length packets that
// cross rows, colour maps at their own entry size, and damaged headers.
#include <gtest/gtest.h>

#include "imagelib/PxImageTGA.h"
#include "TestSupport.h"
#include "jpeg_test_util.h"
#include "small_codec_support.h"

using namespace smalltest;

namespace {

class TgaFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    tifftest::WritePpm(dir_ / "card.ppm", 37, 23);
    // A card with a soft alpha ramp and a see-through corner.
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(dir_ / "card.ppm") +
                   " \\( -size 37x23 gradient:white-black -level 0,60% \\) -alpha off -compose copy_opacity "
                   "-composite " + Quote(dir_ / "alpha.png")));
  }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

struct PeerCase {
  const char* name;
  const char* maker;  // "im": convert {in} <args> {out}; "pil": Pillow code saving to sys.argv[2]
  const char* args;
  const char* source;
  uint32_t depth;
  int tolerance;
  bool alpha;
};

const PeerCase kPeerCases[] = {
    {"im_true", "im", "", "card.ppm", 24, 0, false},
    {"im_true_rle", "im", "-compress RLE", "card.ppm", 24, 0, false},
    {"im_mapped", "im", "-colors 40 -type palette", "card.ppm", 8, 0, false},
    {"im_mapped_rle", "im", "-colors 40 -type palette -compress RLE", "card.ppm", 8, 0, false},
    {"im_grey", "im", "-colorspace gray", "card.ppm", 8, 0, false},
    {"im_grey_rle", "im", "-colorspace gray -compress RLE", "card.ppm", 8, 0, false},
    // 5 bits a component: ImageMagick scales to 255, we keep the top bits.
    {"im_16bit", "im", "-depth 5 -define tga:bits-per-pixel=16", "card.ppm", 24, 0, false},
    {"im_alpha", "im", "", "alpha.png", 24, 0, true},
    {"pil_true", "pil", "im.save(sys.argv[2])", "card.ppm", 24, 0, false},
    {"pil_true_rle", "pil", "im.save(sys.argv[2], compression='tga_rle')", "card.ppm", 24, 0, false},
    {"pil_top_left", "pil", "im.save(sys.argv[2], orientation=1)", "card.ppm", 24, 0, false},
    {"pil_mapped", "pil", "im.convert('P').save(sys.argv[2])", "card.ppm", 8, 0, false},
    {"pil_grey_rle", "pil", "im.convert('L').save(sys.argv[2], compression='tga_rle')", "card.ppm", 8, 0, false},
    {"pil_alpha_top_left", "pil", "im.convert('RGBA').save(sys.argv[2], orientation=1, compression='tga_rle')",
     "alpha.png", 24, 0, true},
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class TgaPeer : public TgaFiles, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(TgaPeer, PixelsMatchThePeer) {
  const PeerCase& c = GetParam();
  const std::string out = Path(std::string(c.name) + ".tga");
  if (std::string(c.maker) == "im") {
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path(c.source)) + " " + c.args + " " + Quote(out)));
  } else {
    ASSERT_TRUE(Pillow(c.args, Path(c.source), out));
  }
  auto image = Load(out, kFormatTga);
  ASSERT_TRUE(image) << c.name;
  EXPECT_EQ(image->info.formatId, kFormatTga);
  EXPECT_EQ(image->Bpp(), c.depth);
  EXPECT_EQ(image->alpha != nullptr, c.alpha);
  EXPECT_LE(MaxDifference(*image, PillowRgba(out), c.alpha), c.tolerance) << c.name;
  // ImageMagick keeps a TGA's rows in file order and only notes where the
  // origin is: its upright view is the auto-oriented one.
  EXPECT_LE(MaxDifference(*image, MagickRgba(out, "-auto-orient"), c.alpha), c.tolerance) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Peers, TgaPeer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An 18-byte header followed by `rest`.
std::vector<uint8_t> Tga(uint8_t mapType, uint8_t type, uint16_t mapFirst, uint16_t mapLength, uint8_t entryBits,
                         uint16_t w, uint16_t h, uint8_t depth, uint8_t descriptor, const std::vector<uint8_t>& rest) {
  std::vector<uint8_t> b = {0, mapType, type};
  Put16(b, mapFirst);
  Put16(b, mapLength);
  b.push_back(entryBits);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, w);
  Put16(b, h);
  b.push_back(depth);
  b.push_back(descriptor);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(TgaRead, RunCrossingARowGoesOnInTheNext) {
  // 8 x 2, 24 bits: four raw pixels, then a run of 10 that starts 4 pixels
  // before the end of the first row, then two raw pixels.
  std::vector<uint8_t> data = {3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 128 + 9, 9, 8, 7, 1, 50, 60, 70, 80, 90, 100};
  PxImage image;
  ASSERT_TRUE(DecodeBytes(Tga(0, 10, 0, 0, 0, 8, 2, 24, 0, data), kFormatTga, image)) << image.LastError();
  for (int x = 0; x < 4; ++x) EXPECT_EQ(pxtest::Rgb(image, x, 0), 0x010101u * uint32_t(x + 1)) << x;
  for (int x = 4; x < 8; ++x) EXPECT_EQ(pxtest::Rgb(image, x, 0), 0x070809u) << x;
  for (int x = 0; x < 6; ++x) EXPECT_EQ(pxtest::Rgb(image, x, 1), 0x070809u) << x;
  EXPECT_EQ(pxtest::Rgb(image, 6, 1), 0x463C32u);
  EXPECT_EQ(pxtest::Rgb(image, 7, 1), 0x645A50u);
}

TEST(TgaRead, SixteenBitPixelsAndMapsAtTheirOwnEntrySize) {
  PxImage image;
  // 0x7FFF is white in 5 bits a component, widened to 255 as the peers do;
  // the top bit is not colour.
  ASSERT_TRUE(DecodeBytes(Tga(0, 2, 0, 0, 0, 2, 1, 16, 0, {0xFF, 0x7F, 0x1F, 0x80}), kFormatTga, image));
  EXPECT_EQ(pxtest::Rgb(image, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(pxtest::Rgb(image, 1, 0), 0x0000FFu);

  // A map of 16-bit entries starting at index 4: pixel values 4 and 5.
  std::vector<uint8_t> mapped = {0x00, 0x7C, 0xE0, 0x03, 4, 5};
  ASSERT_TRUE(DecodeBytes(Tga(1, 1, 4, 2, 16, 2, 1, 8, 0, mapped), kFormatTga, image)) << image.LastError();
  EXPECT_EQ(image.Bpp(), 8u);
  EXPECT_EQ(pxtest::Rgb(image, 0, 0), 0xFF0000u);
  EXPECT_EQ(pxtest::Rgb(image, 1, 0), 0x00FF00u);

  // A true-colour file with a map it does not use: the map is stepped over.
  std::vector<uint8_t> skipped = {1, 2, 3, 4, 5, 6, 9, 8, 7};
  ASSERT_TRUE(DecodeBytes(Tga(1, 2, 0, 2, 24, 1, 1, 24, 0, skipped), kFormatTga, image)) << image.LastError();
  EXPECT_EQ(pxtest::Rgb(image, 0, 0), 0x070809u);
}

TEST(TgaRead, TopLeftAndRightToLeftOriginsComeOutUpright) {
  // 2 x 2, 32 bits, stored top row first and right to left.
  std::vector<uint8_t> px = {
      2, 0, 0, 20, 1, 0, 0, 10,   // top row: right pixel, then left pixel
      4, 0, 0, 40, 3, 0, 0, 30};  // bottom row
  PxImage image;
  ASSERT_TRUE(DecodeBytes(Tga(0, 2, 0, 0, 0, 2, 2, 32, 0x30 | 8, px), kFormatTga, image)) << image.LastError();
  ASSERT_NE(image.alpha, nullptr);
  EXPECT_EQ(pxtest::Rgb(image, 0, 1), 1u);  // top left
  EXPECT_EQ(pxtest::Rgb(image, 1, 1), 2u);
  EXPECT_EQ(pxtest::Rgb(image, 0, 0), 3u);
  EXPECT_EQ(pxtest::Rgb(image, 1, 0), 4u);
  EXPECT_EQ(image.alpha[2], 10);  // alpha rows follow the pixels (row 1 = top)
  EXPECT_EQ(image.alpha[3], 20);
  EXPECT_EQ(image.alpha[0], 30);
  EXPECT_EQ(image.alpha[1], 40);
}

TEST(TgaRead, DamagedFilesFailWithTheirText) {
  const std::vector<uint8_t> good = Tga(0, 2, 0, 0, 0, 4, 4, 24, 0, std::vector<uint8_t>(48, 9));
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* text;
  };
  std::vector<Case> cases = {
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 10), "Not a TGA"},
      {"type 4", Tga(0, 4, 0, 0, 0, 4, 4, 24, 0, {}), "Unknown TGA image type"},
      {"zero width", Tga(0, 2, 0, 0, 0, 0, 4, 24, 0, {}), "bad TGA header"},
      {"depth 12", Tga(0, 2, 0, 0, 0, 4, 4, 12, 0, {}), "bad TGA header"},
      {"map of 300", Tga(1, 1, 0, 300, 24, 4, 4, 8, 0, std::vector<uint8_t>(1000, 0)), "bad TGA header"},
      {"map entries of 20 bits", Tga(1, 1, 0, 2, 20, 1, 1, 8, 0, std::vector<uint8_t>(10, 0)), "bad TGA header"},
      {"mapped 16-bit indices", Tga(1, 1, 0, 2, 24, 1, 1, 16, 0, std::vector<uint8_t>(10, 0)), "bad TGA header"},
      {"grey of 24 bits", Tga(0, 3, 0, 0, 0, 1, 1, 24, 0, {1, 2, 3}), "bad TGA header"},
      {"mapped without a map", Tga(0, 1, 0, 0, 0, 2, 1, 8, 0, {1, 2}), "TGA colour map missing"},
      {"RLE mapped without a map", Tga(0, 9, 0, 0, 0, 2, 1, 8, 0, {129, 1}), "TGA colour map missing"},
      {"mapped, map of 0 entries", Tga(1, 1, 0, 0, 24, 2, 1, 8, 0, {1, 2}), "TGA colour map missing"},
      {"map type 2", Tga(2, 2, 0, 0, 0, 1, 1, 24, 0, {1, 2, 3}), "bad TGA header"},
      {"map past index 255", Tga(1, 1, 250, 10, 24, 1, 1, 8, 0, std::vector<uint8_t>(31, 0)), "bad TGA header"},
      {"pixels cut", std::vector<uint8_t>(good.begin(), good.end() - 5), "corrupted TGA"},
      {"map cut", Tga(1, 1, 0, 256, 24, 1, 1, 8, 0, std::vector<uint8_t>(100, 0)), "corrupted TGA"},
      {"huge, nearly empty", Tga(0, 2, 0, 0, 0, 65535, 65535, 24, 0, {1, 2, 3}), "corrupted TGA"},
      {"RLE cut inside a run", Tga(0, 10, 0, 0, 0, 300, 1, 24, 0, {255, 1, 2, 3, 255, 1}), "corrupted TGA"},
      {"RLE too short for its size", Tga(0, 10, 0, 0, 0, 4000, 4000, 24, 0, {255, 1, 2, 3}), "corrupted TGA"},
  };
  for (const Case& c : cases) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(c.bytes, kFormatTga, image)) << c.name;
    EXPECT_STREQ(image.LastError(), c.text) << c.name;
    EXPECT_FALSE(image.HasPixels()) << c.name;
  }
  // Every truncation of a good RLE file fails cleanly.
  std::vector<uint8_t> rle = Tga(0, 10, 0, 0, 0, 5, 3, 32, 0, {});
  for (int i = 0; i < 5; ++i) rle.insert(rle.end(), {uint8_t(128 + 2), 1, 2, 3, 4});
  for (size_t n = 0; n < rle.size(); ++n) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(std::vector<uint8_t>(rle.begin(), rle.begin() + long(n)), kFormatTga, image)) << n;
  }
  PxImage whole;
  EXPECT_TRUE(DecodeBytes(rle, kFormatTga, whole));
}

// A valid 9 x 8 WBMP whose bytes also form a colour-mapped RLE TGA header
// without a map (5 x 2, 8 bits, one run). The TGA reader must refuse it:
// trying every format then finds nothing (a WBMP is never guessed), and the
// WBMP reader reads it when it is named.
TEST_F(TgaFiles, WbmpThatLooksLikeAMaplessTgaReachesItsOwnReader) {
  // Two bytes a row: only the top bit of the second byte is a pixel.
  const uint8_t rows[8][2] = {{0, 0}, {0, 0}, {0xF0, 0}, {0x0F, 0x80}, {0x05, 0}, {0x02, 0}, {0x08, 0}, {0x89, 0}};
  std::vector<uint8_t> pgm;
  const std::string head = "P5\n9 8\n255\n";
  pgm.insert(pgm.end(), head.begin(), head.end());
  for (const auto& r : rows) {
    for (int x = 0; x < 9; ++x) {
      const bool white = (r[x / 8] >> (7 - x % 8)) & 1;
      pgm.push_back(white ? 255 : 0);
    }
  }
  {
    FILE* f = std::fopen(Path("bits.pgm").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(pgm.data(), 1, pgm.size(), f);
    std::fclose(f);
  }
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("bits.pgm")) + " " + Quote("wbmp:" + Path("bits.wbmp"))));
  const std::vector<uint8_t> wbmp = pxtest::ReadBytes(Path("bits.wbmp"));
  std::vector<uint8_t> expected = {0, 0, 9, 8};
  for (const auto& r : rows) expected.insert(expected.end(), r, r + 2);
  ASSERT_EQ(wbmp, expected) << "ImageMagick wrote other bytes than the overlap needs";

  PxImage guessed;
  EXPECT_FALSE(DecodeBytes(wbmp, kFormatUnknown, guessed));
  EXPECT_STREQ(guessed.LastError(), "Decode: Unknown or wrong format");
  PxImage image;
  ASSERT_TRUE(DecodeBytes(wbmp, kFormatWbmp, image)) << image.LastError();
  EXPECT_EQ(image.info.formatId, kFormatWbmp);
  ASSERT_EQ(image.Width(), 9u);
  ASSERT_EQ(image.Height(), 8u);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 9; ++x) {
      const bool white = (rows[y][x / 8] >> (7 - x % 8)) & 1;
      EXPECT_EQ(pxtest::Rgb(image, x, 7 - y), white ? 0xFFFFFFu : 0u) << x << "," << y;
    }
  }
}

TEST(TgaRead, DimensionsOnly) {
  PxImage image;
  image.info.escape = -1;
  ASSERT_TRUE(DecodeBytes(Tga(0, 2, 0, 0, 0, 300, 200, 24, 0, {}), kFormatTga, image));
  EXPECT_EQ(image.header.biWidth, 300);
  EXPECT_EQ(image.header.biHeight, 200);
  EXPECT_FALSE(image.HasPixels());
}

TEST_F(TgaFiles, OurFilesReadBackInImageMagick) {
  struct Case { const char* name; uint32_t bpp; bool alpha; };
  for (const Case& c : {Case{"8", 8, false}, Case{"24", 24, false}, Case{"24a", 24, true}}) {
    PxImage image(29, 17, c.bpp, 0);
    pxtest::FillPattern(image);
    if (c.alpha) {
      ASSERT_TRUE(image.CreateAlphaPlane());
      for (size_t i = 0; i < 29 * 17; ++i) image.alpha[i] = uint8_t(i * 7);
    }
    const std::string out = Path(std::string("ours") + c.name + ".tga");
    std::vector<uint8_t> bytes = EncodeBytes(image, kFormatTga);
    ASSERT_FALSE(bytes.empty()) << c.name << image.LastError();
    pwtest::WriteAll(out, bytes);
    EXPECT_EQ(bytes[16], c.alpha ? 32 : c.bpp) << c.name;
    if (c.bpp == 8) {
      EXPECT_EQ(bytes[1], 1);
      EXPECT_EQ(bytes[5] | bytes[6] << 8, 256);  // the whole map, used or not
    }
    EXPECT_EQ(MaxDifference(image, MagickRgba(out, "-auto-orient"), c.alpha), 0) << c.name;
    EXPECT_EQ(MaxDifference(image, PillowRgba(out), c.alpha), 0) << c.name;
    auto back = Load(out, kFormatTga);
    ASSERT_TRUE(back);
    EXPECT_EQ(MaxDifference(*back, PillowRgba(out), c.alpha), 0) << c.name;
  }
}

TEST(TgaWrite, RefusedPictures) {
  PxImage four(8, 8, 4, 0);
  bool ok = true;
  EncodeBytes(four, kFormatTga, &ok);
  EXPECT_FALSE(ok);
  EXPECT_STREQ(four.LastError(), "Bit depth must be 8 or 24");

  PxImage wide(70000, 1, 8, 0);
  ASSERT_TRUE(wide.HasPixels());
  EncodeBytes(wide, kFormatTga, &ok);
  EXPECT_FALSE(ok);
  EXPECT_STRNE(wide.LastError(), "");

  PxImage picture(16, 16, 24, 0);
  pxtest::FillPattern(picture);
  ExpectFullDiskFails(picture, kFormatTga);
}

}  // namespace
