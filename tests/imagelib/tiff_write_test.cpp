// The TIFF writer: tags checked with libtiff, pixels with ImageMagick.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>

#include "imagelib/PxImageTIF.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

namespace {

struct Tags {
  uint16_t compression = 0, photometric = 0, samples = 0, bits = 0, predictor = 1;
  uint32_t rowsPerStrip = 0;
  uint16_t red0 = 0, red1 = 0;  // colour map entries 0 and 1 (palette pages)
};

Tags ReadTags(const std::string& path) {
  Tags tags;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return tags;
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &tags.photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &tags.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &tags.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &tags.predictor);
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &tags.rowsPerStrip);
  uint16_t *r, *g, *b;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
    tags.red0 = r[0];
    tags.red1 = r[1];
  }
  TIFFClose(tif);
  return tags;
}

bool WriteTiff(PxImage& image, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  PxIOFile file(f);
  const bool ok = image.Encode(&file, kFormatTif);
  std::fclose(f);
  return ok;
}

// A colour card of w x h: smooth, so JPEG keeps it close.
void FillCard(PxImage& image) {
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x)
      image.StorePixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y),
                            RGBQUAD{static_cast<uint8_t>(x * 2), static_cast<uint8_t>(y * 3),
                                    static_cast<uint8_t>(200 - x), 0});
}

class TiffWrite : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

TEST_F(TiffWrite, TrueColourDefaultsToJpegAtTheImageQuality) {
  PxImage image(80, 60, 24, kFormatUnknown);
  FillCard(image);
  image.info.jpegQuality = 95.0f;
  const std::string out = Path("rgb.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  const Tags tags = ReadTags(out);
  EXPECT_EQ(tags.compression, COMPRESSION_JPEG);
  EXPECT_EQ(tags.photometric, PHOTOMETRIC_RGB);
  EXPECT_EQ(tags.samples, 3);
  EXPECT_EQ(tags.rowsPerStrip % 8, 0u);
  EXPECT_LE(MaxDifference(image, MagickRgb(out)), 12);
}

TEST_F(TiffWrite, GreyRampIsLzwWithPredictor) {
  PxImage image(70, 30, 8, kFormatUnknown);
  image.MakeGrayPalette();
  for (uint32_t y = 0; y < 30; ++y)
    for (uint32_t x = 0; x < 70; ++x) image.StorePixelIndex(x, y, static_cast<uint8_t>(x * 3 + y));
  const std::string out = Path("grey.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  const Tags tags = ReadTags(out);
  EXPECT_EQ(tags.compression, COMPRESSION_LZW);
  EXPECT_EQ(tags.predictor, PREDICTOR_HORIZONTAL);
  EXPECT_EQ(tags.photometric, PHOTOMETRIC_MINISBLACK);
  EXPECT_EQ(MaxDifference(image, MagickRgb(out)), 0);
}

TEST_F(TiffWrite, PaletteImageKeepsItsColourMap) {
  PxImage image(33, 17, 4, kFormatUnknown);
  image.MakeStandardPalette();
  for (uint32_t y = 0; y < 17; ++y)
    for (uint32_t x = 0; x < 33; ++x) image.StorePixelIndex(x, y, static_cast<uint8_t>((x + y) % 16));
  const std::string out = Path("pal.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  const Tags tags = ReadTags(out);
  EXPECT_EQ(tags.photometric, PHOTOMETRIC_PALETTE);
  EXPECT_EQ(tags.bits, 4);
  EXPECT_EQ(tags.red1, 0x80 * 257);
  EXPECT_EQ(MaxDifference(image, MagickRgb(out)), 0);
  // And back through our own reader, index for index.
  auto back = Load(out);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->Bpp(), 4u);
  for (uint32_t y = 0; y < 17; ++y)
    for (uint32_t x = 0; x < 33; ++x) ASSERT_EQ(back->PixelIndexAt(x, y), (x + y) % 16);
}

TEST_F(TiffWrite, BilevelWithBlackFirstIsWrittenMinIsWhite) {
  PxImage image(37, 9, 1, kFormatUnknown);
  image.StorePaletteEntry(0, 0, 0, 0);
  image.StorePaletteEntry(1, 255, 255, 255);
  for (uint32_t y = 0; y < 9; ++y)
    for (uint32_t x = 0; x < 37; ++x) image.StorePixelIndex(x, y, (x * y) % 3 == 0);
  const Reference before{37, 9, {}};
  std::vector<uint8_t> expected;
  for (int y = 8; y >= 0; --y)
    for (int x = 0; x < 37; ++x) {
      const RGBQUAD c = image.PixelColorAt(x, y, false);
      expected.insert(expected.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
    }
  const std::string out = Path("bw.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  const Tags tags = ReadTags(out);
  EXPECT_EQ(tags.photometric, PHOTOMETRIC_MINISWHITE);
  EXPECT_EQ(tags.compression, COMPRESSION_CCITTFAX4);
  // The file is turned over, the caller's picture is not.
  EXPECT_EQ(image.PaletteData()[0].rgbRed, 0);
  EXPECT_EQ(MaxDifference(image, before.width, before.height, expected), 0);
  EXPECT_EQ(MaxDifference(image, MagickRgb(out)), 0);
}

// The writer inverts the bits on their way out and leaves the caller's
// picture alone: palette, pixels, background index and the colour cache.
TEST_F(TiffWrite, BilevelWriteLeavesTheCallersPictureAlone) {
  PxImage image(21, 5, 1, kFormatUnknown);
  image.StorePaletteEntry(0, 0, 0, 0);
  image.StorePaletteEntry(1, 255, 255, 255);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 21; ++x) image.StorePixelIndex(x, y, (x + y) % 3 == 0);
  image.info.backgroundIndex = 0;  // black counts as transparent
  EXPECT_EQ(image.NearestPaletteIndex(RGBQUAD{250, 250, 250, 0}), 1);
  const size_t blockBytes = 40 + 8 + image.ImageBytes();
  const std::vector<uint8_t> block(image.dib, image.dib + blockBytes);

  const std::string out = Path("bw-transparent.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  EXPECT_EQ(ReadTags(out).photometric, PHOTOMETRIC_MINISWHITE);
  EXPECT_EQ(MaxDifference(image, MagickRgb(out)), 0);

  EXPECT_EQ(std::vector<uint8_t>(image.dib, image.dib + blockBytes), block);
  const RGBQUAD t = image.TransparentColor();
  EXPECT_EQ(t.rgbRed + t.rgbGreen + t.rgbBlue, 0);
  EXPECT_EQ(image.NearestPaletteIndex(RGBQUAD{250, 250, 250, 0}), 1);
}

TEST_F(TiffWrite, AlphaBecomesAnExtraSample) {
  PxImage image(40, 20, 24, kFormatUnknown);
  FillCard(image);
  ASSERT_TRUE(image.CreateAlphaPlane());
  for (uint32_t i = 0; i < 40 * 20; ++i) image.alpha[i] = static_cast<uint8_t>(i % 40 * 6);
  image.info.codecOptions[FormatIndexFromId(kFormatTif)] = COMPRESSION_LZW;
  const std::string out = Path("rgba.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  EXPECT_EQ(ReadTags(out).samples, 4);
  auto back = Load(out);
  ASSERT_TRUE(back);
  ASSERT_NE(back->alpha, nullptr);
  for (uint32_t i = 0; i < 40 * 20; ++i) ASSERT_EQ(back->alpha[i], image.alpha[i]) << i;
}

TEST_F(TiffWrite, GreyWithAlphaRoundTrips) {
  PxImage image(30, 10, 8, kFormatUnknown);
  image.MakeGrayPalette();
  ASSERT_TRUE(image.CreateAlphaPlane());
  for (uint32_t i = 0; i < 300; ++i) {
    image.PixelRows()[i / 30 * image.RowStride() + i % 30] = static_cast<uint8_t>(i);
    image.alpha[i] = static_cast<uint8_t>(255 - i % 256);
  }
  const std::string out = Path("ga.tif");
  ASSERT_TRUE(WriteTiff(image, out));
  const Tags tags = ReadTags(out);
  EXPECT_EQ(tags.samples, 2);
  EXPECT_EQ(tags.photometric, PHOTOMETRIC_MINISBLACK);
  auto back = Load(out);
  ASSERT_TRUE(back);
  ASSERT_NE(back->alpha, nullptr);
  for (uint32_t i = 0; i < 300; ++i) {
    ASSERT_EQ(back->PixelIndexAt(i % 30, i / 30), static_cast<uint8_t>(i)) << i;
    ASSERT_EQ(back->alpha[i], image.alpha[i]) << i;
  }
}

// A stored compression that cannot be written falls back to the depth's
// default; one that can is kept.
TEST_F(TiffWrite, UnwritableCompressionFallsBack) {
  struct Case {
    uint32_t depth;
    bool greyPalette;
    uint32_t option;
    uint16_t expected;
  };
  const Case cases[] = {
      {24, false, COMPRESSION_OJPEG, COMPRESSION_JPEG},
      {24, false, COMPRESSION_THUNDERSCAN, COMPRESSION_JPEG},
      {24, false, COMPRESSION_DEFLATE, COMPRESSION_DEFLATE},
      {8, true, COMPRESSION_CCITTFAX4, COMPRESSION_LZW},
      {8, false, COMPRESSION_JPEG, COMPRESSION_LZW},
      {8, true, COMPRESSION_JPEG, COMPRESSION_JPEG},
      {1, false, COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX3},
      {1, false, COMPRESSION_JPEG, COMPRESSION_CCITTFAX4},
      {4, false, COMPRESSION_PACKBITS, COMPRESSION_PACKBITS},
  };
  int n = 0;
  for (const Case& c : cases) {
    PxImage image(24, 16, c.depth, kFormatUnknown);
    std::memset(image.PixelRows(), 0x5A, image.ImageBytes());
    if (c.depth == 8 && c.greyPalette) image.MakeGrayPalette();
    if (c.depth <= 8 && !c.greyPalette) image.MakeStandardPalette();
    image.info.codecOptions[FormatIndexFromId(kFormatTif)] = c.option;
    const std::string out = Path("fallback" + std::to_string(n++) + ".tif");
    ASSERT_TRUE(WriteTiff(image, out)) << c.option;
    EXPECT_EQ(ReadTags(out).compression, c.expected) << "depth " << c.depth << " option " << c.option;
    auto back = Load(out);
    ASSERT_TRUE(back) << c.option;
  }
}

TEST_F(TiffWrite, FailuresAreReported) {
  PxImageTIF writer;
  EXPECT_FALSE(writer.Encode(nullptr));
  EXPECT_STREQ(writer.LastError(), "null file handler");
  PxMemFile memory;
  EXPECT_FALSE(writer.Encode(&memory));
  EXPECT_STREQ(writer.LastError(), "null image!!!");

  // A stream that refuses every write: the save fails, it is not reported done.
  const std::string path = dir_.Write("readonly.bin", "");
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  PxIOFile file(f);
  PxImage image(64, 64, 24, kFormatUnknown);
  FillCard(image);
  EXPECT_FALSE(image.Encode(&file, kFormatTif));
  std::fclose(f);

  // A full disk: a small page fits the stream's buffer and fails only when
  // flushed, which must still fail the save.
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  PxIOFile fullFile(full);
  PxImage small(8, 8, 8, kFormatUnknown);
  small.MakeGrayPalette();
  EXPECT_FALSE(small.Encode(&fullFile, kFormatTif));
  EXPECT_STREQ(small.LastError(), "Error saving TIFF file");
  std::fclose(full);

  // A stream that takes every byte into its buffer and fails only when the
  // buffer goes out, after libtiff's last write.
  struct FailsOnFlush : PxMemFile {
    bool FlushFile() override { return false; }
  } deferred;
  ASSERT_TRUE(deferred.Open());
  EXPECT_FALSE(small.Encode(&deferred, kFormatTif));
  EXPECT_STREQ(small.LastError(), "Error saving TIFF file");
}

}  // namespace
