// The PCX codec: files written by ImageMagick and Pillow decode to their
// pixels, planar files built here decode as ImageMagick reads them, our
// files read back in ImageMagick and Pillow, the run-length rules of the
// writer, and damaged files.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "imagelib/PxImagePCX.h"
#include "jpeg_test_util.h"
#include "small_codec_support.h"

using namespace smalltest;

namespace {

class PcxFiles : public ::testing::Test {
 protected:
  void SetUp() override { tifftest::WritePpm(dir_ / "card.ppm", 37, 23); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

struct PeerCase {
  const char* name;
  const char* maker;  // "im": convert card <args> out; "pil": Pillow code saving to sys.argv[2]
  const char* args;
  uint32_t depth;
};

const PeerCase kPeerCases[] = {
    {"im_24bit", "im", "", 24},
    {"im_8bit", "im", "-colors 40 -type palette", 8},
    {"im_1bit", "im", "-colors 2 -type palette -depth 1", 1},
    {"pil_24bit", "pil", "im.save(sys.argv[2])", 24},
    {"pil_grey", "pil", "im.convert('L').save(sys.argv[2])", 8},
    {"pil_1bit", "pil", "im.convert('1').save(sys.argv[2])", 1},
    {"pil_palette", "pil", "im.convert('P').save(sys.argv[2])", 8},
    {"pil_odd_palette", "pil", "im.crop((0, 0, 36, 23)).quantize(7).save(sys.argv[2])", 8},
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class PcxPeer : public PcxFiles, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(PcxPeer, PixelsMatchThePeers) {
  const PeerCase& c = GetParam();
  const std::string out = Path(std::string(c.name) + ".pcx");
  if (std::string(c.maker) == "im") {
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " " + c.args + " " + Quote(out)));
  } else {
    ASSERT_TRUE(Pillow(c.args, Path("card.ppm"), out));
  }
  auto image = Load(out, kFormatPcx);
  ASSERT_TRUE(image) << c.name;
  EXPECT_EQ(image->info.formatId, kFormatPcx);
  EXPECT_EQ(image->Bpp(), c.depth);
  // ImageMagick 6 shows 1-bit PCX files with 0 as white, whatever the
  // header says; Pillow and we show 0 as black.
  if (c.depth != 1) {
    EXPECT_EQ(MaxDifference(*image, MagickRgba(out), false), 0) << c.name;
  }
  EXPECT_EQ(MaxDifference(*image, PillowRgba(out), false), 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Peers, PcxPeer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A 128-byte header; the 16-entry palette holds entry i = (16 i, 255 - 16 i, 8 i).
std::vector<uint8_t> PcxHeaderBytes(uint8_t bits, uint8_t planes, uint16_t w, uint16_t h, uint16_t bpl,
                                    uint16_t xMin = 0) {
  std::vector<uint8_t> b(128, 0);
  b[0] = 10;
  b[1] = 5;
  b[2] = 1;
  b[3] = bits;
  b[4] = uint8_t(xMin);
  b[5] = uint8_t(xMin >> 8);
  const uint16_t xMax = uint16_t(xMin + w - 1), yMax = uint16_t(h - 1);
  b[8] = uint8_t(xMax);
  b[9] = uint8_t(xMax >> 8);
  b[10] = uint8_t(yMax);
  b[11] = uint8_t(yMax >> 8);
  b[12] = 72;
  b[14] = 150;
  for (int i = 0; i < 16; ++i) {
    b[16 + 3 * i] = uint8_t(16 * i);
    b[17 + 3 * i] = uint8_t(255 - 16 * i);
    b[18 + 3 * i] = uint8_t(8 * i);
  }
  b[65] = planes;
  b[66] = uint8_t(bpl);
  b[67] = uint8_t(bpl >> 8);
  return b;
}

// Bytes written bare (each below 192), so the stream is the plain data.
void AppendLiteral(std::vector<uint8_t>& b, const std::vector<uint8_t>& data) {
  for (uint8_t v : data) {
    if (v >= 192) b.push_back(0xC1);
    b.push_back(v);
  }
}

TEST_F(PcxFiles, PlanarOneBitFilesDecodeAsImageMagickReadsThem) {
  for (uint8_t planes : {uint8_t{2}, uint8_t{3}, uint8_t{4}}) {
    SCOPED_TRACE(int(planes));
    const uint16_t w = 13, h = 5, bpl = 2;
    std::vector<uint8_t> file = PcxHeaderBytes(1, planes, w, h, bpl);
    std::vector<uint8_t> data;
    for (int y = 0; y < h; ++y)
      for (int p = 0; p < planes; ++p)
        for (int i = 0; i < bpl; ++i) data.push_back(uint8_t((y * 37 + p * 11 + i * 101) & 0xFF));
    AppendLiteral(file, data);
    const std::string path = Path("planes" + std::to_string(planes) + ".pcx");
    pwtest::WriteAll(path, file);
    auto image = Load(path, kFormatPcx);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Bpp(), 4u);
    EXPECT_EQ(image->info.xDpi, 72);
    EXPECT_EQ(image->info.yDpi, 150);
    // Pixel (x, row y from the top) takes bit p from plane p.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int index = 0;
        for (int p = 0; p < planes; ++p)
          if (data[(size_t(y) * planes + p) * bpl + x / 8] & (0x80 >> (x % 8))) index |= 1 << p;
        ASSERT_EQ(image->PixelIndexAt(x, h - 1 - y), index) << x << "," << y;
      }
    if (planes == 4) {
      EXPECT_EQ(MaxDifference(*image, MagickRgba(path), false), 0);
    }
  }
}

TEST(PcxRead, DamagedFilesFailWithTheirText) {
  std::vector<uint8_t> good = PcxHeaderBytes(8, 1, 4, 2, 4);
  AppendLiteral(good, {1, 2, 3, 4, 5, 6, 7, 8});
  good.push_back(12);
  good.insert(good.end(), 768, 9);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* text;
  };
  auto header = [](uint8_t bits, uint8_t planes, uint16_t w, uint16_t bpl, std::vector<uint8_t> tail = {}) {
    std::vector<uint8_t> b = PcxHeaderBytes(bits, planes, w, 2, bpl);
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> b = good;
    b[at] = value;
    return b;
  };
  std::vector<uint8_t> reversed = good;
  reversed[4] = 9;  // xmin 9 > xmax 3
  std::vector<Case> cases = {
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 100), "Can't read PCX image"},
      {"manufacturer", with(0, 11), "Error: Not a PCX file"},
      {"encoding", with(2, 0), "PCX file has unknown encoding scheme"},
      {"xmax below xmin", reversed, "Error: Not a PCX file"},
      {"five planes", header(8, 5, 4, 4), "Can't handle image with more than 4 planes"},
      {"three bits", header(3, 1, 4, 4, std::vector<uint8_t>(64, 0)), "PCX file has unknown bits per pixel or planes"},
      {"no planes", header(8, 0, 4, 4, std::vector<uint8_t>(64, 0)), "PCX file has unknown bits per pixel or planes"},
      {"two planes of 8 bits", header(8, 2, 4, 4, std::vector<uint8_t>(64, 0)),
       "PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel"},
      {"bytes per line short of the width", header(8, 1, 40, 4, std::vector<uint8_t>(200, 0)),
       "PCX bytes per line too small for the width"},
      {"palette signature", with(128 + 8, 13), "bad color map signature"},
      {"palette cut", std::vector<uint8_t>(good.begin(), good.end() - 10), "corrupted PCX"},
      {"data cut", std::vector<uint8_t>(good.begin(), good.begin() + 131), "corrupted PCX"},
      {"run past the end", header(8, 1, 4, 4, {0xC3, 1, 0xC3, 2, 0xC3, 3}), "repeat count spans end of image"},
      {"huge, nearly empty", header(8, 3, 65535, 65535, {0xFF, 0}), "corrupted PCX"},
  };
  for (const Case& c : cases) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(c.bytes, kFormatPcx, image)) << c.name;
    EXPECT_STREQ(image.LastError(), c.text) << c.name;
    EXPECT_FALSE(image.HasPixels()) << c.name;
  }
  PxImage whole;
  ASSERT_TRUE(DecodeBytes(good, kFormatPcx, whole)) << whole.LastError();
  EXPECT_EQ(whole.PixelIndexAt(0, 1), 1);
  EXPECT_EQ(whole.PixelIndexAt(3, 0), 8);
  for (size_t n = 0; n + 1 < good.size(); n += 7) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(std::vector<uint8_t>(good.begin(), good.begin() + long(n)), kFormatPcx, image)) << n;
  }
}

// The data after the header, for a picture of one row.
std::vector<uint8_t> EncodedData(PxImage& image) {
  std::vector<uint8_t> bytes = EncodeBytes(image, kFormatPcx);
  EXPECT_GT(bytes.size(), 128u) << image.LastError();
  return bytes.size() > 128 ? std::vector<uint8_t>(bytes.begin() + 128, bytes.end()) : bytes;
}

TEST(PcxWrite, RunsAndPadding) {
  PxImage row(65, 1, 8, 0);
  for (int x = 0; x < 65; ++x) row.StorePixelIndex(x, 0, x < 63 ? 7 : 200);
  std::vector<uint8_t> data = EncodedData(row);
  // 63 sevens in one run, the pair of 200 as a run of 2, the odd width's 0,
  // then the palette.
  ASSERT_GE(data.size(), 5u);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 5), (std::vector<uint8_t>{0xFF, 7, 0xC2, 200, 0}));
  EXPECT_EQ(data[5], 12);
  EXPECT_EQ(data.size(), 6u + 768u);

  PxImage single(3, 1, 8, 0);
  single.StorePixelIndex(0, 0, 200);
  single.StorePixelIndex(1, 0, 5);
  single.StorePixelIndex(2, 0, 6);
  data = EncodedData(single);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 5), (std::vector<uint8_t>{0xC1, 200, 5, 6, 0}));
}

TEST(PcxWrite, WhiteFirstPaletteIsWrittenInverted) {
  PxImage image(8, 1, 1, 0);
  image.StorePaletteEntry(0, 255, 255, 255);
  image.StorePaletteEntry(1, 0, 0, 0);
  for (int x = 0; x < 8; ++x) image.StorePixelIndex(x, 0, x < 3 ? 1 : 0);  // three black pixels
  const std::vector<uint8_t> bytes = EncodeBytes(image, kFormatPcx);
  ASSERT_GT(bytes.size(), 128u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 22), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
  EXPECT_EQ(bytes[128], 0x1F);  // black = 0, white = 1
  EXPECT_EQ(bytes[129], 0x00);  // the padding byte of the even line
  PxImage back;
  ASSERT_TRUE(DecodeBytes(bytes, kFormatPcx, back));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(pxtest::Rgb(back, x, 0), pxtest::Rgb(image, x, 0)) << x;
  EXPECT_EQ(image.PaletteData()[0].rgbRed, 255);  // the picture itself is untouched
}

TEST_F(PcxFiles, OurFilesReadBackInImageMagickAndPillow) {
  struct Case { const char* name; uint32_t bpp; bool alpha; uint32_t width; };
  for (const Case& c : {Case{"1", 1, false, 29}, Case{"4", 4, false, 29}, Case{"8", 8, false, 29},
                        Case{"8even", 8, false, 30}, Case{"24", 24, false, 29}, Case{"24a", 24, true, 29}}) {
    PxImage image(c.width, 17, c.bpp, 0);
    pxtest::FillPattern(image);
    if (c.bpp == 1) {  // the header palette of a 1-plane file is black, white
      image.StorePaletteEntry(0, 0, 0, 0);
      image.StorePaletteEntry(1, 255, 255, 255);
    }
    if (c.alpha) {
      ASSERT_TRUE(image.CreateAlphaPlane());
      for (size_t i = 0; i < size_t(c.width) * 17; ++i) image.alpha[i] = uint8_t(i * 7);
    }
    const std::string out = Path(std::string("ours") + c.name + ".pcx");
    std::vector<uint8_t> bytes = EncodeBytes(image, kFormatPcx);
    ASSERT_FALSE(bytes.empty()) << c.name << image.LastError();
    pwtest::WriteAll(out, bytes);
    if (c.bpp != 1) {  // see PixelsMatchThePeers
      EXPECT_EQ(MaxDifference(image, MagickRgba(out), c.alpha), 0) << c.name;
    }
    if (!c.alpha) {  // Pillow reads no fourth plane
      EXPECT_EQ(MaxDifference(image, PillowRgba(out), false), 0) << c.name;
    }
    auto back = Load(out, kFormatPcx);
    ASSERT_TRUE(back) << c.name;
    EXPECT_EQ(back->Bpp(), c.bpp) << c.name;
    EXPECT_EQ(MaxDifference(*back, image.alpha ? MagickRgba(out) : PillowRgba(out), c.alpha), 0) << c.name;
  }
}

TEST(PcxWrite, RefusedAndFailedWrites) {
  PxImage wide(70000, 1, 8, 0);
  ASSERT_TRUE(wide.HasPixels());
  bool ok = true;
  EncodeBytes(wide, kFormatPcx, &ok);
  EXPECT_FALSE(ok);
  EXPECT_STRNE(wide.LastError(), "");
  PxImage picture(16, 16, 8, 0);
  pxtest::FillPattern(picture);
  ExpectFullDiskFails(picture, kFormatPcx);
}

}  // namespace
