// The image library's PSD format: documents load through LoadFile and the
// format dispatch as 24-bit pictures with alpha.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "imagelib/PxImage.h"
#include "imagelib/PxImagePSD.h"
#include "psd_test_support.h"

using namespace psdtest;

namespace {

struct TempFile {
  std::string path;
  explicit TempFile(const Bytes& bytes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pw_psd_driver_XXXXXX").string();
    int fd = mkstemp(pattern.data());
    path = pattern;
    if (fd >= 0) {
      if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) path.clear();
      close(fd);
    }
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::wstring wide() const { return std::wstring(path.begin(), path.end()); }
};

// 3 x 2 RGB: top row red, green, blue; bottom row white, grey, black.
Bytes ThreeByTwo(bool with_alpha_channel) {
  std::vector<Bytes> planes = {{255, 0, 0, 255, 128, 0}, {0, 255, 0, 255, 128, 0},
                               {0, 0, 255, 255, 128, 0}};
  Bytes resources;
  uint16_t channels = 3;
  if (with_alpha_channel) {
    planes.push_back({10, 20, 30, 40, 50, 60});
    channels = 4;
    W names;
    names.u8(5).str("Alpha");
    resources = Resource(1006, names.b);
  }
  return Document(Header(channels, 2, 3, 8, 3), {}, resources, {}, RawImage(planes));
}

TEST(PsdDriver, TopRowLandsAtTheLastContainerRow) {
  TempFile f(ThreeByTwo(false));
  PxImage image;
  ASSERT_TRUE(image.LoadFile(f.wide(), kFormatPsd)) << image.LastError();
  EXPECT_EQ(image.Width(), 3u);
  EXPECT_EQ(image.Height(), 2u);
  EXPECT_EQ(image.Bpp(), 24u);
  EXPECT_EQ(image.info.formatId, kFormatPsd);
  RGBQUAD top_left = image.PixelColorAt(0, 1);
  EXPECT_EQ(top_left.rgbRed, 255);
  EXPECT_EQ(top_left.rgbGreen, 0);
  RGBQUAD top_right = image.PixelColorAt(2, 1);
  EXPECT_EQ(top_right.rgbBlue, 255);
  RGBQUAD bottom_middle = image.PixelColorAt(1, 0);
  EXPECT_EQ(bottom_middle.rgbRed, 128);
  EXPECT_EQ(image.alpha, nullptr);
}

TEST(PsdDriver, FirstExtraChannelBecomesAlpha) {
  TempFile f(ThreeByTwo(true));
  PxImage image;
  ASSERT_TRUE(image.LoadFile(f.wide(), kFormatUnknown)) << image.LastError();
  ASSERT_NE(image.alpha, nullptr);
  EXPECT_EQ(image.PixelColorAt(0, 1).rgbReserved, 10);  // top-left
  EXPECT_EQ(image.PixelColorAt(2, 0).rgbReserved, 60);  // bottom-right
}

TEST(PsdDriver, NonPsdFails) {
  // Driven directly: LoadFile would go on to try every other format.
  Bytes text(100, 'x');
  PxMemFile file(text.data(), int32_t(text.size()));
  PxImagePSD psd;
  EXPECT_FALSE(psd.Decode(&file));
  EXPECT_STREQ(psd.LastError(), "PxImagePSD: psd_main_loop failed");
  EXPECT_FALSE(psd.Decode(nullptr));
}

TEST(PsdDriver, EncodeIsRefused) {
  PxImage image;
  ASSERT_NE(image.Create(2, 2, 24, kFormatBmp), nullptr);
  EXPECT_FALSE(image.Encode(nullptr, kFormatPsd));
}

// A layer section that fails (blend signature) still yields the picture.
TEST(PsdDriver, DamagedLayerSectionKeepsTheMergedPicture) {
  W layer_info;
  layer_info.u16(1).u32(0).u32(0).u32(2).u32(3).u16(0).str("XXXX").zeros(40);
  W section;
  section.block(layer_info.b);
  Bytes doc = Document(Header(3, 2, 3, 8, 3), {}, {}, section.b,
                       RawImage({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {0, 0, 0, 0, 0, 0}}));
  {
    auto d = Decode(doc);
    EXPECT_EQ(d->status, psd_status_blend_signature_mismatch);
  }
  TempFile f(doc);
  PxImage image;
  ASSERT_TRUE(image.LoadFile(f.wide(), kFormatPsd)) << image.LastError();
  EXPECT_EQ(image.PixelColorAt(0, 1).rgbRed, 1);
  EXPECT_EQ(image.PixelColorAt(2, 0).rgbGreen, 12);
}

TEST(PsdDriver, DimensionsOnlyAfterAFailureGiveTheHeaderSize) {
  Bytes doc = ThreeByTwo(false);
  doc[doc.size() - 19] = 9;  // compression word of the image data: method 9
  TempFile f(doc);
  PxImage image;
  image.info.escape = -1;
  EXPECT_TRUE(image.LoadFile(f.wide(), kFormatPsd));
  EXPECT_EQ(image.Width(), 3u);
  EXPECT_EQ(image.Height(), 2u);
}

TEST(PsdDriver, ImageMagickRgbaThroughLoadFile) {
  std::string dir_pattern = (std::filesystem::temp_directory_path() / "pw_psd_XXXXXX").string();
  std::string dir = mkdtemp(dir_pattern.data());
  std::string psd = dir + "/a.psd", pam = dir + "/a.pam";
  ASSERT_EQ(std::system(("convert-im6.q16 -size 6x4 gradient:red-blue -alpha set -channel A "
                         "-fx 'i/6' +channel -depth 8 -compress RLE " + psd).c_str()), 0);
  PxImage image;
  ASSERT_TRUE(image.LoadFile(std::wstring(psd.begin(), psd.end()), kFormatUnknown))
      << image.LastError();
  ASSERT_NE(image.alpha, nullptr);
  // Alpha rises left to right as written; the top row is the last row here.
  for (int x = 0; x < 6; ++x) {
    int expected = int(x / 6.0 * 255 + 0.5);
    EXPECT_NEAR(image.PixelColorAt(x, 3).rgbReserved, expected, 1) << x;
  }
  EXPECT_EQ(image.PixelColorAt(0, 3).rgbRed, 255);
  EXPECT_EQ(image.PixelColorAt(0, 0).rgbBlue, 255);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
