// Picture operations: orientation fix-up, conversion to each format, the
// merge's sizes, and the shooting time, on pictures made by ImageMagick and
// exiftool at test time.
#include <gtest/gtest.h>

#include <filesystem>

#include "tools/PictureOps.h"
#include "tools_test_support.h"

using namespace tooltest;

namespace {

std::unique_ptr<PxImage> Load(const std::string& path) {
  auto image = std::make_unique<PxImage>();
  if (!image->LoadFile(W(path), kFormatUnknown)) image.reset();
  return image;
}

// The tool tree's icon: 16x16 red, then 48x48 green and 48x48 blue.
std::string MakeIcon(const std::string& path) {
  EXPECT_TRUE(Sh("convert-im6.q16 -size 16x16 xc:red -size 48x48 xc:lime xc:blue " + Quote(path)));
  return path;
}

bool IsBlue(const PxImage& image, int x, int y) {
  const RGBQUAD c = image.PixelColorAt(x, y, false);
  return c.rgbBlue > 200 && c.rgbRed < 40 && c.rgbGreen < 40;
}

class PictureOps : public ::testing::Test {
 protected:
  void SetUp() override { g_JpegQuality = 90; }
  std::string P(const std::string& name) const { return dir_ / name; }
  // A picture w x h: left half red, right half blue.
  std::string Make(const std::string& name, int w, int h, const std::string& extra = "") {
    const std::string path = P(name);
    EXPECT_TRUE(Sh("convert-im6.q16 -size " + std::to_string(w / 2) + "x" + std::to_string(h) +
                   " xc:red -size " + std::to_string(w - w / 2) + "x" + std::to_string(h) +
                   " xc:blue +append " + extra + " " + Quote(path)));
    return path;
  }
  pwtest::TempTree dir_;
};

TEST(PictureOpsTypes, ImageTypeFromPath) {
  const std::pair<const wchar_t*, ImageFormatId> cases[] = {
      {L"/a/b.JPG", kFormatJpg},  {L"/a/b.jpeg", kFormatJpg}, {L"/a/b.tiff", kFormatTif},
      {L"/a/b.png", kFormatPng},  {L"/a/b.gif", kFormatGif},  {L"/a/b.txt", kFormatUnknown},
      {L"/a.b/c", kFormatUnknown}, {L"/a/.bmp", kFormatUnknown}, {L"/a/x.Bmp", kFormatBmp},
  };
  for (const auto& [path, id] : cases) EXPECT_EQ(ImageTypeFromPath(path), id) << std::string(path, path + wcslen(path));
}

// A 2 x 1 picture, A on the left and B on the right, under every EXIF
// orientation: 2 mirrors it, 5 and 7 turn it on its side mirrored (A on top
// for the transpose 5, B for the transverse 7).
TEST(PictureOpsTypes, OrientationFixUpTable) {
  const RGBQUAD A{0, 0, 255, 0}, B{255, 0, 0, 0};
  struct Case {
    int orientation;
    uint32_t w, h;
    RGBQUAD topLeft;
  };
  const Case cases[] = {{0, 2, 1, A}, {1, 2, 1, A}, {2, 2, 1, B}, {3, 2, 1, B}, {4, 2, 1, A},
                        {5, 1, 2, A}, {6, 1, 2, A}, {7, 1, 2, B}, {8, 1, 2, B}, {9, 2, 1, A}};
  for (const Case& c : cases) {
    PxImage image(2, 1, 24, kFormatUnknown);
    image.StorePixelColor(0, 0, A);
    image.StorePixelColor(1, 0, B);
    image.info.exif.orientation = c.orientation;
    ApplyExifOrientation(image);
    EXPECT_EQ(image.Width(), c.w) << c.orientation;
    EXPECT_EQ(image.Height(), c.h) << c.orientation;
    const RGBQUAD top = image.PixelColorAt(0, static_cast<int32_t>(image.Height()) - 1, false);
    EXPECT_EQ(top.rgbRed, c.topLeft.rgbRed) << c.orientation;
    EXPECT_EQ(image.info.exif.orientation, 1);
    ApplyExifOrientation(image);  // a second fix-up does nothing
    EXPECT_EQ(image.Width(), c.w);
  }
}

TEST_F(PictureOps, ConvertsToEachFormat) {
  const std::string png = Make("card.png", 64, 40);
  for (const char* ext : {"bmp", "jpg", "png", "tif"}) {
    const std::string target = P(std::string("out.") + ext);
    ASSERT_TRUE(ConvertPicture(W(png), W(target), -1, -1, false)) << ext;
    auto back = Load(target);
    ASSERT_TRUE(back) << ext;
    EXPECT_EQ(back->Width(), 64u);
    EXPECT_EQ(back->Bpp(), 24u) << ext;
    const RGBQUAD left = back->PixelColorAt(5, 5, false), right = back->PixelColorAt(60, 5, false);
    EXPECT_GT(left.rgbRed, 200) << ext;
    EXPECT_GT(right.rgbBlue, 200) << ext;
  }
  // Resampled, and to grey.
  const std::string small = P("small.png");
  ASSERT_TRUE(ConvertPicture(W(png), W(small), 16, 10, true));
  auto back = Load(small);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Width(), 16u);
  EXPECT_EQ(back->Height(), 10u);
  EXPECT_EQ(back->Bpp(), 8u);
}

TEST_F(PictureOps, GifIsConvertedFrameByFrame) {
  const std::string anim = P("anim.gif");
  ASSERT_TRUE(Sh("convert-im6.q16 -delay 10 -size 20x16 xc:red xc:lime xc:blue -loop 3 " + Quote(anim)));
  const std::string out = P("out.gif"), small = P("small.gif");
  ASSERT_TRUE(ConvertPicture(W(anim), W(out), -1, -1, false));
  ASSERT_TRUE(ConvertPicture(W(anim), W(small), 10, 8, false));
  const std::string pillow = "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                             "print(im.n_frames, im.info.get('loop'), im.size, [im.seek(i) or im.convert('RGB').getpixel((5, 5)) "
                             "for i in range(im.n_frames)])\" ";
  EXPECT_EQ(Capture(pillow + Quote(out)), "3 0 (20, 16) [(255, 0, 0), (0, 255, 0), (0, 0, 255)]\n");
  EXPECT_EQ(Capture(pillow + Quote(small)), "3 0 (10, 8) [(255, 0, 0), (0, 255, 0), (0, 0, 255)]\n");

  // A true-colour picture to GIF: 8 bits with the standard palette.
  const std::string png = Make("card.png", 30, 20);
  ASSERT_TRUE(ConvertPicture(W(png), W(P("card.gif")), -1, -1, false));
  auto gif = Load(P("card.gif"));
  ASSERT_TRUE(gif);
  EXPECT_LE(gif->Bpp(), 8u);
  EXPECT_EQ(gif->PixelColorAt(2, 2, false).rgbRed, 255);
  EXPECT_EQ(gif->PixelColorAt(28, 2, false).rgbBlue, 255);
}

TEST_F(PictureOps, JpegTargetUsesTheQualitySetting) {
  const std::string png = Make("q.png", 64, 64);
  g_JpegQuality = 61;
  const std::string target = P("q.jpg");
  ASSERT_TRUE(ConvertPicture(W(png), W(target), -1, -1, false));
  EXPECT_EQ(Capture("identify-im6.q16 -format %Q " + Quote(target)), "61");
}

TEST_F(PictureOps, GreyRampKeepsEightBitsAndBilevelIsRaised) {
  const std::string grey = P("grey.bmp"), mono = P("mono.bmp");
  ASSERT_TRUE(Sh("/usr/bin/python3 -c \"from PIL import Image; Image.linear_gradient('L').resize((32, 8)).save('" +
                 grey + "')\""));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 32x8 pattern:checkerboard -monochrome BMP3:" + Quote(mono)));
  ASSERT_EQ(Load(grey)->Bpp(), 8u);
  ASSERT_EQ(Load(mono)->Bpp(), 1u);
  ASSERT_TRUE(ConvertPicture(W(grey), W(P("grey.png")), -1, -1, false));
  ASSERT_TRUE(ConvertPicture(W(mono), W(P("mono.png")), -1, -1, false));
  EXPECT_EQ(Load(P("grey.png"))->Bpp(), 8u);
  EXPECT_EQ(Load(P("mono.png"))->Bpp(), 24u);
}

TEST_F(PictureOps, OrientationIsAppliedOnlyAcrossFormats) {
  const std::string jpg = Make("o6.jpg", 40, 20);
  ASSERT_TRUE(Sh("exiftool -q -overwrite_original -Orientation#=6 " + Quote(jpg)));
  ASSERT_TRUE(ConvertPicture(W(jpg), W(P("o6.png")), -1, -1, false));
  auto turned = Load(P("o6.png"));
  ASSERT_TRUE(turned);
  EXPECT_EQ(turned->Width(), 20u);
  EXPECT_EQ(turned->Height(), 40u);
  // Turned clockwise: the red left half is now on top.
  EXPECT_GT(turned->PixelColorAt(10, 35, false).rgbRed, 200);
  ASSERT_TRUE(ConvertPicture(W(jpg), W(P("o6b.jpg")), -1, -1, false));
  EXPECT_EQ(Load(P("o6b.jpg"))->Width(), 40u);
}

TEST_F(PictureOps, FailuresAreReportedAndNothingIsReplaced) {
  const std::string junk = dir_.Write("junk.png", "not a picture");
  const std::string target = dir_.Write("keep.jpg", "old contents");
  EXPECT_FALSE(ConvertPicture(W(junk), W(target), -1, -1, false));
  EXPECT_EQ(pwtest::ReadAll(target), "old contents");
  const std::string png = Make("ok.png", 8, 8);
  EXPECT_FALSE(ConvertPicture(W(png), W(P("missing/folder/x.jpg")), -1, -1, false));
  EXPECT_FALSE(ConvertPicture(W(png), W(P("unknown.xyz")), -1, -1, false));
  // Only the two pictures and the kept file: no temporary file left beside them.
  EXPECT_EQ(Listing(dir_.path()), ".\n./junk.png\n./keep.jpg\n./ok.png\n");
}

class MergeSizes : public PictureOps {
 protected:
  void SetUp() override {
    PictureOps::SetUp();
    tmp_ = dir_.Mkdir("tmp");
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    hadTmp_ = old != nullptr;
    ::setenv("TMPDIR", tmp_.c_str(), 1);
  }
  void TearDown() override {
    if (hadTmp_)
      ::setenv("TMPDIR", oldTmp_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }
  std::string tmp_, oldTmp_;
  bool hadTmp_ = false;
};

TEST_F(MergeSizes, SideBySideWithFixedHeight) {
  const std::vector<std::wstring> files = {W(Make("a.jpg", 300, 200)), W(Make("b.png", 50, 50)),
                                           W(Make("c.bmp", 99, 33))};
  ASSERT_TRUE(MergePictures(files, W(P("m.png")), false, 100, false, nullptr));
  auto merged = Load(P("m.png"));
  ASSERT_TRUE(merged);
  // 150 (300 x 200 at height 100), 100, then round(99 / 33 * 100) = 300: all even.
  EXPECT_EQ(merged->Height(), 100u);
  EXPECT_EQ(merged->Width(), 150u + 100u + 300u);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "a temporary file was left behind";
}

TEST_F(MergeSizes, VerticalWithFixedWidthPutsTheFirstOnTop) {
  const std::string top = P("top.png"), bottom = P("bottom.png");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 80x41 xc:red " + Quote(top)));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 40x40 xc:lime " + Quote(bottom)));
  ASSERT_TRUE(MergePictures({W(top), W(bottom)}, W(P("v.bmp")), true, 60, false, nullptr));
  auto merged = Load(P("v.bmp"));
  ASSERT_TRUE(merged);
  // 80 x 41 at width 60: height round(30.75) = 31, odd, so 32; then 60 x 60.
  EXPECT_EQ(merged->Width(), 60u);
  EXPECT_EQ(merged->Height(), 32u + 60u);
  EXPECT_GT(merged->PixelColorAt(30, 91, false).rgbRed, 200);
  EXPECT_GT(merged->PixelColorAt(30, 0, false).rgbGreen, 200);
}

// An icon joins a merge through its widest frame, first or further.
TEST_F(MergeSizes, IconsJoinThroughTheirWidestFrame) {
  const std::string icon = MakeIcon(P("icon.ico"));
  const std::string red = P("red.png");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 30x48 xc:red " + Quote(red)));
  ASSERT_TRUE(MergePictures({W(icon), W(red)}, W(P("first.png")), false, -1, false, nullptr));
  auto first = Load(P("first.png"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Width(), 48u + 30u);
  EXPECT_EQ(first->Height(), 48u);
  EXPECT_TRUE(IsBlue(*first, 10, 10));
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));

  ASSERT_TRUE(MergePictures({W(red), W(icon)}, W(P("next.png")), true, -1, false, nullptr));
  auto next = Load(P("next.png"));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Width(), 30u);
  EXPECT_EQ(next->Height(), 48u + 30u);  // the 48x48 frame scaled to the width
  EXPECT_TRUE(IsBlue(*next, 15, 10));    // the icon is the lower part
}

TEST_F(MergeSizes, OnePictureAloneAndFailures) {
  const std::string one = Make("one.png", 30, 20);
  ASSERT_TRUE(MergePictures({W(one)}, W(P("alone.jpg")), false, -1, false, nullptr));
  auto merged = Load(P("alone.jpg"));
  ASSERT_TRUE(merged);
  EXPECT_EQ(merged->Width(), 30u);
  EXPECT_EQ(merged->Height(), 20u);
  EXPECT_EQ(Capture("identify-im6.q16 -format %Q " + Quote(P("alone.jpg"))), "90");

  EXPECT_FALSE(MergePictures({}, W(P("none.jpg")), false, -1, false, nullptr));
  const std::string junk = dir_.Write("junk.jpg", "junk");
  EXPECT_FALSE(MergePictures({W(junk), W(one)}, W(P("bad.jpg")), false, -1, false, nullptr));
  EXPECT_FALSE(std::filesystem::exists(P("bad.jpg")));
  // A further picture that does not load: the rest is merged, the group fails.
  EXPECT_FALSE(MergePictures({W(one), W(junk)}, W(P("part.jpg")), false, -1, false, nullptr));
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(PictureOps, IconsConvertFromTheirWidestLastFrame) {
  const std::string icon = MakeIcon(P("icon.ico"));
  int32_t frame = -7, width = 0, height = 0;
  ASSERT_TRUE(ChooseIcoFrame(W(icon), frame, width, height));
  EXPECT_EQ(frame, 2);  // the later of the two widest
  EXPECT_EQ(width, 48);
  EXPECT_EQ(height, 48);

  ASSERT_TRUE(ConvertIcoPicture(W(icon), W(P("icon.png")), -1, -1, false));
  auto png = Load(P("icon.png"));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->Width(), 48u);
  EXPECT_TRUE(IsBlue(*png, 24, 24));

  // Through ConvertPicture, whatever the target: resampled, quality kept.
  g_JpegQuality = 70;
  ASSERT_TRUE(ConvertPicture(W(icon), W(P("icon.jpg")), 20, 30, false));
  EXPECT_EQ(Capture("identify-im6.q16 -format %wx%h " + Quote(P("icon.jpg"))), "20x30");
  EXPECT_EQ(Capture("identify-im6.q16 -format %Q " + Quote(P("icon.jpg"))), "70");
  ASSERT_TRUE(ConvertPicture(W(icon), W(P("copy.ico")), -1, -1, false));
  auto copy = Load(P("copy.ico"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->info.frameCount, 1);
  EXPECT_TRUE(IsBlue(*copy, 0, 0));

  // Nothing to read: no frame, nothing written.
  const std::string junk = dir_.Write("junk.ico", "not an icon");
  EXPECT_FALSE(ChooseIcoFrame(W(junk), frame, width, height));
  EXPECT_FALSE(ConvertIcoPicture(W(junk), W(P("junk.png")), -1, -1, false));
  EXPECT_FALSE(std::filesystem::exists(P("junk.png")));
}

TEST_F(PictureOps, ReadShootingTime) {
  const std::string dated = Make("dated.jpg", 16, 16), plain = Make("plain.jpg", 16, 16);
  ASSERT_TRUE(Sh("exiftool -q -overwrite_original '-DateTimeOriginal=2016:07:21 10:00:00' " + Quote(dated)));
  std::wstring text = L"unchanged";
  EXPECT_TRUE(ReadShootingTime(W(dated), text));
  EXPECT_EQ(text, L"2016:07:21 10:00:00");
  text = L"unchanged";
  EXPECT_FALSE(ReadShootingTime(W(plain), text));
  EXPECT_FALSE(ReadShootingTime(W(dir_.Write("x.jpg", "no picture")), text));
  EXPECT_EQ(text, L"unchanged");
}

}  // namespace
