// The WBMP and SKA codecs: ImageMagick's WBMP files, our files read back by
// ImageMagick, the multi-byte integers, SKA files built with Python's
// struct, and damaged files of both.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "imagelib/PxImageSKA.h"
#include "imagelib/PxImageWBMP.h"
#include "jpeg_test_util.h"
#include "small_codec_support.h"

using namespace smalltest;

namespace {

class SmallFiles : public ::testing::Test {
 protected:
  void SetUp() override { tifftest::WritePpm(dir_ / "card.ppm", 37, 23); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

TEST_F(SmallFiles, ImageMagickWbmpDecodesToItsPixels) {
  const std::string out = Path("im.wbmp");
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " -threshold 40% " + Quote(out)));
  auto image = Load(out, kFormatWbmp);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Bpp(), 1u);
  EXPECT_EQ(image->info.formatId, kFormatWbmp);
  EXPECT_EQ(MaxDifference(*image, MagickRgba(out), false), 0);
}

TEST_F(SmallFiles, OurWbmpReadsBackInImageMagick) {
  for (bool whiteFirst : {false, true}) {
    SCOPED_TRACE(whiteFirst);
    PxImage image(200, 9, 1, 0);
    pxtest::FillPattern(image);
    image.StorePaletteEntry(whiteFirst ? 1 : 0, 0, 0, 0);
    image.StorePaletteEntry(whiteFirst ? 0 : 1, 255, 255, 255);
    const std::vector<uint8_t> bytes = EncodeBytes(image, kFormatWbmp);
    ASSERT_GE(bytes.size(), 5u);
    // type 0, fixed header 0, width 200 = 0x81 0x48, height 9
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5), (std::vector<uint8_t>{0, 0, 0x81, 0x48, 9}));
    const std::string out = Path("ours.wbmp");
    pwtest::WriteAll(out, bytes);
    EXPECT_EQ(MaxDifference(image, MagickRgba(out), false), 0);
  }
}

TEST(MultiByteInteger, GroupsOfSevenBits) {
  const struct {
    uint32_t value;
    std::vector<uint8_t> bytes;
  } cases[] = {{0, {0}},
               {127, {0x7F}},
               {128, {0x81, 0x00}},
               {200, {0x81, 0x48}},
               {16384, {0x81, 0x80, 0x00}},
               {0xFFFFFFFFu, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}}};
  for (const auto& c : cases) {
    PxMemFile file;
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(WriteMultiByteInteger(&file, c.value));
    EXPECT_EQ(std::vector<uint8_t>(file.Buffer(), file.Buffer() + file.DataSize()), c.bytes) << c.value;
  }
}

TEST(WbmpRead, DamagedFilesFailWithTheirText) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "Not a WBMP"},
      {"ends in the fixed header", {0, 0x80, 0x80}, "Not a WBMP"},
      {"ends in the width", {0, 0, 0x81}, "Not a WBMP"},
      {"no height", {0, 0, 4}, "Not a WBMP"},
      {"type 1", {1, 0, 4, 4, 0, 0, 0, 0}, "Unsupported WBMP type"},
      {"zero width", {0, 0, 0, 4}, "Corrupted WBMP"},
      {"six-byte width", {0, 0, 0x81, 0x80, 0x80, 0x80, 0x80, 0x00, 1}, "Corrupted WBMP"},
      {"width above INT32_MAX", {0, 0, 0x88, 0x80, 0x80, 0x80, 0x00, 1}, "Corrupted WBMP"},
      {"rows cut", {0, 0, 16, 4, 1, 2, 3, 4, 5}, "Corrupted WBMP"},
      {"huge, nearly empty", {0, 0, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 1}, "Corrupted WBMP"},
  };
  for (const Case& c : cases) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(c.bytes, kFormatWbmp, image)) << c.name;
    EXPECT_STREQ(image.LastError(), c.text) << c.name;
    EXPECT_FALSE(image.HasPixels()) << c.name;
  }
  PxImage image;
  image.info.escape = -1;
  ASSERT_TRUE(DecodeBytes({0, 0, 0x81, 0x48, 9}, kFormatWbmp, image));
  EXPECT_EQ(image.header.biWidth, 200);
  EXPECT_EQ(image.header.biHeight, 9);
  EXPECT_FALSE(image.HasPixels());
}

TEST(WbmpWrite, OnlyOneBitPictures) {
  PxImage colour(4, 4, 24, 0);
  bool ok = true;
  EncodeBytes(colour, kFormatWbmp, &ok);
  EXPECT_FALSE(ok);
  EXPECT_STREQ(colour.LastError(), "Can't save this image as WBMP");
  PxImage bits(64, 64, 1, 0);
  ExpectFullDiskFails(bits, kFormatWbmp);
}

// An SKA file written by Python's struct: width 3 (rows padded to 4 here),
// index (x + 3 y) mod 7, palette entry i = (i, 2 i, 255 - i).
std::string MakeSka(const pwtest::TempTree& dir, int w, int h) {
  const std::string out = dir / "made.ska";
  const std::string code =
      "import struct, sys\n"
      "w, h = " + std::to_string(w) + ", " + std::to_string(h) + "\n"
      "pal = b''.join(struct.pack('<BBB', i, (2 * i) % 256, 255 - i) for i in range(256))\n"
      "px = bytes((x + 3 * y) % 7 for y in range(h) for x in range(w))\n"
      "open(sys.argv[1], 'wb').write(struct.pack('<HHB4s', w, h, 3, b'\\x00\\x00\\x00\\x01') + pal + px)\n";
  const std::string script = out + ".py";
  pwtest::WriteAll(script, std::vector<uint8_t>(code.begin(), code.end()));
  EXPECT_TRUE(Sh("/usr/bin/python3 " + Quote(script) + " " + Quote(out)));
  return out;
}

TEST_F(SmallFiles, SkaRowsLandInPlaceTopFirst) {
  const std::string file = MakeSka(dir_, 3, 4);
  auto image = Load(file, kFormatSka);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Bpp(), 8u);
  EXPECT_EQ(image->RowStride(), 4u);
  EXPECT_EQ(image->info.formatId, kFormatSka);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(image->PixelIndexAt(x, 3 - y), (x + 3 * y) % 7) << x << "," << y;
  // The bottom left pixel is the last file row's first: index 2, (2, 4, 253).
  EXPECT_EQ(pxtest::Rgb(*image, 0, 0), (2u << 16) | (4u << 8) | 253u);

  // Written back byte for byte.
  EXPECT_EQ(EncodeBytes(*image, kFormatSka), pxtest::ReadBytes(file));
}

TEST(SkaWrite, SmallerDepthsWriteOneBytePerPixelAndAFullPalette) {
  PxImage image(5, 2, 4, 0);
  pxtest::FillPattern(image);
  const std::vector<uint8_t> bytes = EncodeBytes(image, kFormatSka);
  ASSERT_EQ(bytes.size(), 9u + 768u + 10u) << image.LastError();
  EXPECT_EQ(image.Bpp(), 4u);  // the picture given is not changed
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(bytes[777 + size_t(y) * 5 + x], image.PixelIndexAt(x, 1 - y));
  const RGBQUAD* pal = image.PaletteData();
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(bytes[9 + 3 * i], pal[i].rgbRed);
    EXPECT_EQ(bytes[10 + 3 * i], pal[i].rgbGreen);
    EXPECT_EQ(bytes[11 + 3 * i], pal[i].rgbBlue);
  }
  PxImage back;
  ASSERT_TRUE(DecodeBytes(bytes, kFormatSka, back));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(pxtest::Rgb(back, x, y), pxtest::Rgb(image, x, y));
}

TEST(SkaWrite, RefusedAndFailedWrites) {
  bool ok = true;
  PxImage colour(4, 4, 24, 0);
  EncodeBytes(colour, kFormatSka, &ok);
  EXPECT_FALSE(ok);
  EXPECT_STREQ(colour.LastError(), "SKA Images must be 8 bit or less");
  PxImage wide(32768, 1, 8, 0);
  EncodeBytes(wide, kFormatSka, &ok);
  EXPECT_FALSE(ok);
  EXPECT_STRNE(wide.LastError(), "");
  PxImage picture(8, 8, 8, 0);
  ExpectFullDiskFails(picture, kFormatSka);
}

TEST(SkaRead, DamagedFilesFail) {
  std::vector<uint8_t> good = {2, 0, 2, 0, 3, 0, 0, 0, 1};
  good.insert(good.end(), 768 + 4, 5);
  PxImage whole;
  ASSERT_TRUE(DecodeBytes(good, kFormatSka, whole));
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> b = good;
    b[at] = v;
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {{"magic", with(8, 2)}, {"byte 4", with(4, 2)}, {"width bit 15", with(1, 0x80)},
               {"height bit 15", with(3, 0x80)}, {"zero width", with(0, 0)}};
  for (const auto& c : cases) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(c.bytes, kFormatSka, image)) << c.name;
    EXPECT_FALSE(image.HasPixels()) << c.name;
  }
  for (size_t n = 0; n < good.size(); n += 5) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(std::vector<uint8_t>(good.begin(), good.begin() + long(n)), kFormatSka, image)) << n;
    EXPECT_STRNE(image.LastError(), "") << n;
  }
}

}  // namespace
