// Placeable metafiles whose window is not simply the frame from 0,0: a
// frame off the origin with no window records, and each mapping mode. Every
// file from metafile_frame_build.py is drawn beside its twin that states
// the same window in explicit SetWindowOrg/SetWindowExt records (an
// anisotropic window the frame's shape): the two pictures must be the same,
// and the red rectangle must lie where it belongs.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "imagelib/PxImage.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

namespace {

class WmfFrame : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(Sh("/usr/bin/python3 " + Quote(std::string(PW_TEST_SOURCE_DIR) + "/metafile_frame_build.py") + " " +
                   Quote(dir_.path())));
  }
  std::unique_ptr<PxImage> Read(const std::string& name) {
    auto image = std::make_unique<PxImage>();
    EXPECT_TRUE(image->LoadFile(pxtest::Wide(dir_ / name), kFormatWmf)) << name << ": " << image->LastError();
    return image;
  }
  pwtest::TempTree dir_;
};

constexpr uint32_t kRed = 0xFF0000, kWhite = 0xFFFFFF;

// Pixels that differ between two pictures of the same size.
int Differing(const PxImage& a, const PxImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
  int differ = 0;
  for (int y = 0; y < static_cast<int>(a.Height()); ++y)
    for (int x = 0; x < static_cast<int>(a.Width()); ++x) differ += pxtest::Rgb(a, x, y) != pxtest::Rgb(b, x, y);
  return differ;
}

// Red inside the box (counted from the top, one pixel of slack at each
// edge), white outside it.
int WrongAround(const PxImage& image, int left, int top, int right, int bottom) {
  int wrong = 0;
  for (int y = 0; y < static_cast<int>(image.Height()); ++y)
    for (int x = 0; x < static_cast<int>(image.Width()); ++x) {
      const uint32_t seen = pxtest::Rgb(image, x, static_cast<int>(image.Height()) - 1 - y);
      const bool inside = x > left && x < right - 1 && y > top && y < bottom - 1;
      const bool outside = x < left - 1 || x > right || y < top - 1 || y > bottom;
      if ((inside && seen != kRed) || (outside && seen != kWhite)) ++wrong;
    }
  return wrong;
}

struct Case {
  const char* name;
  int left, top, right, bottom;  // where the rectangle lies in the picture
  uint32_t width = 96, height = 77;  // 1000 x 800 units at 1000 per inch, 96 dpi
};

void Check(WmfFrame* test, const Case& c) {
  SCOPED_TRACE(c.name);
  auto drawn = test->Read(std::string(c.name) + ".wmf");
  auto twin = test->Read(std::string(c.name) + "-explicit.wmf");
  ASSERT_EQ(drawn->Width(), c.width);
  ASSERT_EQ(drawn->Height(), c.height);
  EXPECT_EQ(Differing(*drawn, *twin), 0);
  EXPECT_EQ(WrongAround(*drawn, c.left, c.top, c.right, c.bottom), 0);
}

// The placeable frame is the window until the file sets its own: its top
// left corner is the origin. A frame above the axis came out all white, one
// to the right of it shifted.
TEST_F(WmfFrame, FrameOffTheOriginIsTheWindow) {
  const Case cases[] = {
      {"above", 10, 8, 86, 69},        // frame 0,-800..1000,0
      {"right", 10, 8, 86, 69},        // frame 3000,0..4000,800
      {"aniso-above", 10, 8, 86, 69},  // the same with MM_ANISOTROPIC set
      {"restored", 10, 8, 86, 69},     // a window set after SaveDC is gone after RestoreDC
      {"wide", 378, 9, 1134, 28, 1512, 38},  // frame -20000,0..20000,1000
  };
  for (const Case& c : cases) Check(this, c);
}

// Mapping modes are honoured: isotropic keeps the window's aspect (centred
// in the frame), anisotropic stretches it, MM_TEXT ignores its extent.
TEST_F(WmfFrame, MappingModesAreHonoured) {
  const Case twins[] = {
      {"iso-wide", 0, 19, 96, 58},  // 2000 x 800 in 1000 x 800: a band of half the height
      {"iso-tall", 24, 0, 72, 77},  // 1000 x 1600: a band of half the width
      {"text-wide", 10, 8, 86, 69},
  };
  for (const Case& c : twins) Check(this, c);

  const Case alone[] = {
      {"aniso-wide", 0, 0, 96, 77},    // the window stretched over the picture
      {"aniso-shift", 0, 0, 48, 38},   // window 1000,400..3000,1200: its upper left quarter
      {"iso-frame", 10, 8, 86, 69},    // isotropic, the frame's own shape
  };
  for (const Case& c : alone) {
    SCOPED_TRACE(c.name);
    auto drawn = Read(std::string(c.name) + ".wmf");
    ASSERT_EQ(drawn->Width(), 96u);
    EXPECT_EQ(WrongAround(*drawn, c.left, c.top, c.right, c.bottom), 0);
  }
}

}  // namespace
