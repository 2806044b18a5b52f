// The ICO codec: icons written by ImageMagick and Pillow (bitmap entries of
// every depth, PNG entries with and without size bytes) decode to those
// programs' pixels and transparency; the AND mask becomes an alpha plane or
// a transparent index; our icons read back in ImageMagick; damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "imagelib/PxImageICO.h"
#include "jpeg_test_util.h"
#include "small_codec_support.h"

using namespace smalltest;

namespace {

class IcoFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // A colour card with a see-through block in the top left corner, and a
    // noisy picture of many colours.
    ASSERT_TRUE(Sh("convert-im6.q16 -size 48x48 gradient:gold-teal -swirl 120 \\( -size 48x48 xc:white -fill black "
                   "-draw 'rectangle 0,0 15,11' \\) -alpha off -compose copy_opacity -composite " +
                   Quote(Path("card.png"))));
    ASSERT_TRUE(Sh("convert-im6.q16 -size 48x48 xc: -seed 3 +noise Random " + Quote(Path("noise.png"))));
  }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

struct PeerCase {
  const char* name;
  const char* maker;  // "im": convert <source> <args> out; "pil": Pillow code saving to sys.argv[2]
  const char* args;
  const char* source;
  int frames;
  uint32_t depth;  // of frame 0
  int tolerance;   // 16-bit PNG entries: our high bytes against ImageMagick's rounding
};

const PeerCase kPeerCases[] = {
    {"im_32bit_and_png", "im", "-define icon:auto-resize=16,48,256", "card.png", 3, 24, 1},
    {"im_8bit", "im", "-alpha off -colors 100", "noise.png", 1, 8, 0},
    {"im_4bit_masked", "im", "-colors 12", "card.png", 1, 4, 0},
    {"im_1bit", "im", "-alpha off -colors 2 -type palette", "card.png", 1, 1, 0},
    {"pil_png_entries", "pil", "im.save(sys.argv[2], sizes=[(16, 16), (32, 32), (48, 48)])", "card.png", 3, 24, 0},
    {"pil_24bit_entries", "pil",
     "im.convert('RGB').save(sys.argv[2], sizes=[(16, 16), (32, 32)], bitmap_format='bmp')", "card.png", 2, 24, 0},
    // Pillow's 32-bit bitmap entries carry AND masks that do not follow
    // their alpha: the alpha counts, as for ImageMagick.
    {"pil_32bit_entries", "pil", "im.save(sys.argv[2], sizes=[(16, 16), (48, 48)], bitmap_format='bmp')",
     "card.png", 2, 24, 0},
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class IcoPeer : public IcoFiles, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(IcoPeer, EveryFrameMatchesImageMagick) {
  const PeerCase& c = GetParam();
  const std::string out = Path(std::string(c.name) + ".ico");
  if (std::string(c.maker) == "im") {
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path(c.source)) + " " + c.args + " " + Quote(out)));
  } else {
    ASSERT_TRUE(Pillow(c.args, Path(c.source), out));
  }
  for (int frame = 0; frame < c.frames; ++frame) {
    SCOPED_TRACE(frame);
    auto image = Load(out, kFormatIco, frame);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->info.formatId, kFormatIco);
    EXPECT_EQ(image->info.frameCount, c.frames);
    EXPECT_EQ(image->info.frame, frame);
    if (frame == 0) {
      EXPECT_EQ(image->Bpp(), c.depth);
    }
    const Rgba reference = MagickRgba(out + "[" + std::to_string(frame) + "]");
    EXPECT_LE(MaxDifference(*image, reference, true, c.tolerance), c.tolerance);
  }
  PxImage missing;
  missing.info.frame = c.frames;
  EXPECT_FALSE(missing.LoadFile(pw::NarrowToWide(out), kFormatIco));
  EXPECT_EQ(missing.info.frameCount, c.frames);  // told even when the frame is not there
}

INSTANTIATE_TEST_SUITE_P(Peers, IcoPeer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// One bitmap entry: info header, palette, pixel rows and mask as given.
std::vector<uint8_t> BitmapIcon(int w, int h, int bits, const std::vector<uint8_t>& palette,
                                const std::vector<uint8_t>& pixels, const std::vector<uint8_t>& mask,
                                uint32_t coloursUsed = 0) {
  std::vector<uint8_t> b = {0, 0, 1, 0, 1, 0};
  const uint32_t bytes = uint32_t(40 + palette.size() + pixels.size() + mask.size());
  b.insert(b.end(), {uint8_t(w), uint8_t(h), 0, 0});
  Put16(b, 1);
  Put16(b, uint32_t(bits));
  Put32(b, bytes);
  Put32(b, 22);
  Put32(b, 40);
  Put32(b, uint32_t(w));
  Put32(b, uint32_t(2 * h));
  Put16(b, 1);
  Put16(b, uint32_t(bits));
  for (int i = 0; i < 4; ++i) Put32(b, 0);
  Put32(b, coloursUsed);
  Put32(b, 0);
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  b.insert(b.end(), mask.begin(), mask.end());
  return b;
}

// 8 x 2 pixels, 8 bits; mask rows of 4 bytes, bottom row first.
std::vector<uint8_t> Mask8x2(uint8_t bottom, uint8_t top) { return {bottom, 0, 0, 0, top, 0, 0, 0}; }

std::vector<uint8_t> GreyPalette(int entries) {
  std::vector<uint8_t> p;
  for (int i = 0; i < entries; ++i) p.insert(p.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  return p;
}

TEST(IcoMask, MaskedPixelsOfOneColourWithEveryIndexUsed) {
  // 32 x 16, 8 bits: the bottom row (masked) is all index 77, the other
  // rows use every index.
  std::vector<uint8_t> px(32 * 16), mask(16 * 4, 0);
  for (size_t i = 0; i < px.size(); ++i) px[i] = i < 32 ? 77 : uint8_t(i);
  mask[0] = mask[1] = mask[2] = mask[3] = 0xFF;
  PxImage image;
  ASSERT_TRUE(DecodeBytes(BitmapIcon(32, 16, 8, GreyPalette(256), px, mask), kFormatIco, image)) << image.LastError();
  EXPECT_EQ(image.info.backgroundIndex, 77);
  EXPECT_EQ(image.alpha, nullptr);
  EXPECT_EQ(image.PixelIndexAt(0, 0), 77);
}

TEST(IcoMask, MaskedPixelsTakeTheHighestUnusedIndex) {
  std::vector<uint8_t> px(16);
  for (int i = 0; i < 16; ++i) px[size_t(i)] = uint8_t(i % 5);  // indices 0..4 used
  PxImage image;
  ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 8, GreyPalette(256), px, Mask8x2(0x81, 0x00)), kFormatIco, image));
  EXPECT_EQ(image.info.backgroundIndex, 255);
  EXPECT_EQ(image.PixelIndexAt(0, 0), 255);
  EXPECT_EQ(image.PixelIndexAt(7, 0), 255);
  EXPECT_EQ(image.PixelIndexAt(1, 0), 1);
  EXPECT_EQ(image.alpha, nullptr);
  EXPECT_TRUE(image.IsPixelTransparent(0, 0));
  EXPECT_FALSE(image.IsPixelTransparent(1, 0));
}

TEST(IcoMask, AllOnesMaskInvertsAndNoMaskLeavesItOpaque) {
  // 4 bits, 8 x 2: every pixel index 3.
  std::vector<uint8_t> pal = GreyPalette(16);
  pal[12] = 10, pal[13] = 20, pal[14] = 30;  // entry 3 = (30, 20, 10)
  const std::vector<uint8_t> px = {0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33};
  PxImage inverted;
  ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 4, pal, px, std::vector<uint8_t>(8, 0xFF)), kFormatIco, inverted));
  EXPECT_EQ(inverted.info.backgroundIndex, 0);
  EXPECT_EQ(pxtest::Rgb(inverted, 0, 0), 0xE1EBF5u);

  PxImage opaque;
  ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 4, pal, px, std::vector<uint8_t>(8, 0)), kFormatIco, opaque));
  EXPECT_EQ(opaque.info.backgroundIndex, -1);
  EXPECT_EQ(opaque.alpha, nullptr);
  EXPECT_EQ(pxtest::Rgb(opaque, 0, 0), 0x1E140Au);

  PxImage noMask;  // a file that ends before its mask: pixels, but damaged
  ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 4, pal, px, {}), kFormatIco, noMask));
  EXPECT_EQ(noMask.info.backgroundIndex, -1);
  EXPECT_TRUE(noMask.IsDamaged());
  EXPECT_FALSE(opaque.IsDamaged());
}

// A 32-bit entry's alpha is its transparency and its mask is not looked at;
// only an entry whose alpha bytes are all 0 (no alpha at all) uses its mask.
TEST(IcoMask, ThirtyTwoBitEntriesUseTheirAlphaNotTheirMask) {
  std::vector<uint8_t> px;
  for (int i = 0; i < 16; ++i) px.insert(px.end(), {uint8_t(i), 2, 3, uint8_t(100 + i)});
  for (const auto& mask : {Mask8x2(0x80, 0x01), Mask8x2(0xFF, 0xFF), std::vector<uint8_t>(8, 0xFF)}) {
    PxImage image;
    ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 32, {}, px, mask), kFormatIco, image));
    EXPECT_EQ(image.Bpp(), 24u);
    ASSERT_NE(image.alpha, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(image.alpha[i], 100 + i) << i;
    EXPECT_EQ(pxtest::Rgb(image, 0, 0), 0x030200u);  // not inverted by an all-ones mask
    EXPECT_EQ(pxtest::Rgb(image, 7, 1), 0x03020Fu);
  }

  for (size_t i = 3; i < px.size(); i += 4) px[i] = 0;
  PxImage noAlpha;
  ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 32, {}, px, Mask8x2(0x80, 0x01)), kFormatIco, noAlpha));
  ASSERT_NE(noAlpha.alpha, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(noAlpha.alpha[i], i == 0 || i == 15 ? 0 : 255) << i;
  PxImage opaque;
  ASSERT_TRUE(DecodeBytes(BitmapIcon(8, 2, 32, {}, px, Mask8x2(0, 0)), kFormatIco, opaque));
  EXPECT_EQ(opaque.alpha, nullptr);
}

TEST(IcoRead, PngEntryFoundByItsSignatureAndBitmapSizeFromItsHeader) {
  PxImage source(20, 10, 24, 0);
  pxtest::FillPattern(source);
  PxMemFile png;
  ASSERT_TRUE(png.Open());
  ASSERT_TRUE(source.Encode(&png, kFormatPng));
  std::vector<uint8_t> icon = {0, 0, 1, 0, 1, 0, 20, 10, 0, 0, 1, 0, 32, 0};
  Put32(icon, uint32_t(png.DataSize()));
  Put32(icon, 22);
  icon.insert(icon.end(), png.Buffer(), png.Buffer() + png.DataSize());
  PxImage image;
  ASSERT_TRUE(DecodeBytes(icon, kFormatIco, image)) << image.LastError();
  EXPECT_EQ(image.info.formatId, kFormatIco);
  EXPECT_EQ(image.Width(), 20u);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(pxtest::Rgb(image, x, y), pxtest::Rgb(source, x, y));

  PxImage size;
  size.info.escape = -1;
  ASSERT_TRUE(DecodeBytes(icon, kFormatIco, size));
  EXPECT_EQ(size.header.biWidth, 20);
  EXPECT_EQ(size.header.biHeight, 10);

  // A bitmap entry whose size bytes say 0 (256): its info header tells.
  std::vector<uint8_t> bitmap = BitmapIcon(8, 2, 8, GreyPalette(256), std::vector<uint8_t>(16, 1), Mask8x2(0, 0));
  bitmap[6] = bitmap[7] = 0;
  PxImage fromHeader;
  ASSERT_TRUE(DecodeBytes(bitmap, kFormatIco, fromHeader)) << fromHeader.LastError();
  EXPECT_EQ(fromHeader.Width(), 8u);
  EXPECT_EQ(fromHeader.Height(), 2u);

  // A broken PNG entry is a failure with a text, never an empty success.
  icon[22 + 20] ^= 0xFF;
  PxImage broken;
  EXPECT_FALSE(DecodeBytes(icon, kFormatIco, broken));
  EXPECT_STRNE(broken.LastError(), "");
  EXPECT_FALSE(broken.HasPixels());
}

TEST(IcoRead, DamagedFilesFail) {
  const std::vector<uint8_t> good = BitmapIcon(8, 2, 8, GreyPalette(256), std::vector<uint8_t>(16, 1), Mask8x2(0, 0));
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> b = good;
    b[at] = v;
    return b;
  };
  std::vector<uint8_t> hugeEntry = BitmapIcon(8, 2, 24, {}, std::vector<uint8_t>(48, 1), Mask8x2(0, 0));
  hugeEntry[22 + 4] = 0xFF, hugeEntry[22 + 5] = 0x3F;                        // width 16383
  hugeEntry[22 + 8] = 0xFE, hugeEntry[22 + 9] = 0x7F;                        // height 2 x 16383
  std::vector<uint8_t> tooManyColours = with(22 + 32, 0), far = with(18, 0xFF);
  tooManyColours[22 + 33] = 2;  // 512 colours used
  far[19] = 0x7F;               // offset far beyond the end
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* text;
  } cases[] = {
      {"reserved", with(0, 1), "Not an ICO file"},
      {"type 3", with(2, 3), "Not an ICO file"},
      {"no entries", with(4, 0), "ICO frame not present in file"},
      {"directory cut", std::vector<uint8_t>(good.begin(), good.begin() + 15), "corrupted ICO"},
      {"offset past the end", far, "corrupted ICO"},
      {"16 bits a pixel", with(22 + 14, 16), "ICO bit count not supported"},
      {"2 bits a pixel", with(22 + 14, 2), "ICO bit count not supported"},
      {"too many colours", tooManyColours, "corrupted ICO"},
      {"pixels cut", std::vector<uint8_t>(good.begin(), good.end() - 20), "corrupted ICO"},
      {"huge, nearly empty", hugeEntry, "corrupted ICO"},
      {"zero width", with(22 + 4, 0), "corrupted ICO"},
  };
  for (const auto& c : cases) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(c.bytes, kFormatIco, image)) << c.name;
    EXPECT_STREQ(image.LastError(), c.text) << c.name;
    EXPECT_FALSE(image.HasPixels()) << c.name;
  }
  for (size_t n = 0; n < good.size() - 8; n += 3) {  // the last 8 bytes are the mask
    PxImage image;
    EXPECT_FALSE(DecodeBytes(std::vector<uint8_t>(good.begin(), good.begin() + long(n)), kFormatIco, image)) << n;
  }
}

TEST_F(IcoFiles, EightBitWithTransparentIndexWritesItAsMask) {
  PxImage image(21, 13, 8, 0);
  pxtest::FillPattern(image);
  image.info.backgroundIndex = 5;
  const RGBQUAD entry5 = image.PaletteData()[5];
  const std::vector<uint8_t> bytes = EncodeBytes(image, kFormatIco);
  ASSERT_FALSE(bytes.empty()) << image.LastError();
  EXPECT_TRUE(SameQuad(image.PaletteData()[5], entry5));  // the picture's palette is unchanged
  const size_t palette = 22 + 40;
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + palette + 20, bytes.begin() + palette + 24),
            (std::vector<uint8_t>{0, 0, 0, 0}));
  const size_t mask = palette + 1024 + image.ImageBytes();
  const size_t maskRow = 4;
  ASSERT_EQ(bytes.size(), mask + maskRow * 13);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x) {
      const bool set = (bytes[mask + size_t(y) * maskRow + size_t(x) / 8] & (0x80 >> (x % 8))) != 0;
      ASSERT_EQ(set, image.PixelIndexAt(x, y) == 5) << x << "," << y;
    }
  const std::string out = Path("ours8.ico");
  pwtest::WriteAll(out, bytes);
  EXPECT_EQ(MaxDifference(image, MagickRgba(out), true), 0);
  auto back = Load(out, kFormatIco);
  ASSERT_TRUE(back);
  EXPECT_EQ(MaxDifference(*back, MagickRgba(out), true), 0);
}

TEST_F(IcoFiles, TrueColourWithAlphaIsWrittenAsThirtyTwoBits) {
  auto source = Load(Path("card.png"), kFormatPng);
  ASSERT_TRUE(source);
  ASSERT_NE(source->alpha, nullptr);
  const std::vector<uint8_t> bytes = EncodeBytes(*source, kFormatIco);
  ASSERT_GT(bytes.size(), 62u) << source->LastError();
  EXPECT_EQ(bytes[6 + 6], 32);   // the entry's bit count
  EXPECT_EQ(bytes[22 + 14], 32);  // the info header's
  const std::string out = Path("ours32.ico");
  pwtest::WriteAll(out, bytes);
  EXPECT_EQ(MaxDifference(*source, MagickRgba(out), true), 0);
  auto back = Load(out, kFormatIco);
  ASSERT_TRUE(back);
  EXPECT_EQ(MaxDifference(*back, MagickRgba(out), true), 0);
}

TEST_F(IcoFiles, LargePicturesAreWrittenAsPngEntries) {
  PxImage image(300, 300, 24, 0);
  pxtest::FillPattern(image);
  const std::vector<uint8_t> bytes = EncodeBytes(image, kFormatIco);
  ASSERT_GT(bytes.size(), 30u) << image.LastError();
  EXPECT_EQ(bytes[6], 0);
  EXPECT_EQ(bytes[7], 0);
  EXPECT_EQ(std::memcmp(&bytes[22], "\x89PNG\r\n\x1a\n", 8), 0);
  EXPECT_EQ(bytes[14] | bytes[15] << 8 | bytes[16] << 16 | uint32_t(bytes[17]) << 24, bytes.size() - 22);
  const std::string out = Path("ours300.ico");
  pwtest::WriteAll(out, bytes);
  EXPECT_EQ(MaxDifference(image, MagickRgba(out), false), 0);
}

TEST(IcoWrite, FailedWrites) {
  PxImage small(16, 16, 8, 0);
  pxtest::FillPattern(small);
  ExpectFullDiskFails(small, kFormatIco);
  PxImage large(300, 20, 24, 0);
  pxtest::FillPattern(large);
  ExpectFullDiskFails(large, kFormatIco);
}

}  // namespace
