// What a resize run leaves on disk when the asked size cannot be made, when
// it runs again over its own results, and for icons of several frames.
#include <gtest/gtest.h>

#include "core/StringHelpers.h"
#include "imagelib/PxImage.h"
#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "tools/PictureOps.h"
#include "tools/ResizePictures.h"

using namespace tooltest;

namespace {

std::string Morvalen(const std::string& path) { return N(ResizeDestination(W(path), false)); }

ResizeRequest RequestFor(const std::string& field, bool overwrite) {
  ResizeRequest request;
  request.sources = SplitSources(W(field));
  request.patterns = SplitString(kResizeDefaultPatterns, L"|");
  request.overwrite = overwrite;
  request.threadCount = 2;
  return request;
}

}  // namespace

// 100000 x 100000 is far beyond the memory limit: the rescale fails, and
// that fails the picture in both modes instead of writing it at its old
// size (or re-encoding the original over itself).
TEST(ResizeOutcome, ASizeThatCannotBeMadeFailsThePicture) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  const std::string le = photos + "/le.jpg", png = photos + "/alpha.png";
  const std::string gif = photos + "/anim.gif";
  SetResizeRule(false, false, false, 100000, 100000);
  for (bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite ? "overwrite" : "rename");
    const std::string leBefore = ReadFile(le), pngBefore = ReadFile(png);
    const ResizeOutcome files = RunResize(RequestFor(le + "|" + png, overwrite), nullptr, nullptr);
    EXPECT_EQ(files.done, 0u);
    EXPECT_EQ(files.report.failed, 2u);
    EXPECT_EQ(files.report.unloggedFailures.size(), 2u);
    EXPECT_EQ(ReadFile(le), leBefore);
    EXPECT_EQ(ReadFile(png), pngBefore);
    EXPECT_FALSE(fs::exists(Morvalen(le)));
    EXPECT_FALSE(fs::exists(Morvalen(png)));
    // No log lists the dropped files: the box says why they failed.
    EXPECT_EQ(files.report.notes, std::vector<std::wstring>{kResizeSizeTooLargeText});
    // One GIF alone goes frame by frame; its frames cannot grow either.
    const std::string gifBefore = ReadFile(gif);
    const ResizeOutcome single = RunResize(RequestFor(gif, overwrite), nullptr, nullptr);
    EXPECT_EQ(single.done, 0u);
    EXPECT_EQ(single.report.failed, 1u);
    EXPECT_EQ(single.report.notes, std::vector<std::wstring>{kResizeSizeTooLargeText});
    EXPECT_EQ(ReadFile(gif), gifBefore);
    EXPECT_FALSE(fs::exists(Morvalen(gif)));
  }
  // A folder: every picture's line says it failed, and why. A width no
  // picture can take, its height in proportion, likewise.
  SetResizeRule(true, true, false, 99999999, 100);
  const ResizeOutcome folder = RunResize(RequestFor(photos + "/sub", false), nullptr, nullptr);
  EXPECT_EQ(folder.done, 0u);
  EXPECT_EQ(folder.report.failed, 1u);
  EXPECT_EQ(folder.report.notes, std::vector<std::wstring>{kResizeSizeTooLargeText});
  EXPECT_EQ(ReadFile(photos + "/sub/log.log"), "Resize" + photos + "/sub/le.jpg Failed! (超出图片大小上限)\n");
  EXPECT_FALSE(fs::exists(Morvalen(photos + "/sub/le.jpg")));
  EXPECT_TRUE(StagedLeftovers(photos).empty());
}

// The size rule of an icon goes by the frame that is resized: frames 16x16
// and 64x32 with "keep ratio" 32 x 32 give the landscape rule's 64 x 32, not
// the square one's 32 x 32. Over the original an icon of several frames is
// refused, and its log line says why.
TEST(ResizeOutcome, IconsOfSeveralFramesInBothModes) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  const std::string icon = photos + "/wide.ico";
  ASSERT_EQ(Shell("convert-im6.q16 -size 16x16 xc:red -size 64x32 xc:lime " + Quote(icon) +
                  " && identify-im6.q16 -format '%wx%h;' " + Quote(icon)),
            "16x16;64x32;");
  const std::string before = ReadFile(icon);
  SetResizeRule(false, true, false, 32, 32);
  ResizeOutcome outcome = RunResize(RequestFor(icon, false), nullptr, nullptr);
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(Identify(Morvalen(icon)), "64x32;");
  EXPECT_EQ(Shell("convert-im6.q16 " + Quote(Morvalen(icon)) + " -format '%[pixel:p{3,3}]' info:"),
            "srgba(0,255,0,1)");

  fs::create_directory(photos + "/icons");
  fs::rename(icon, photos + "/icons/wide.ico");
  outcome = RunResize(RequestFor(photos + "/icons", true), nullptr, nullptr);
  EXPECT_EQ(outcome.done, 0u);
  EXPECT_EQ(outcome.report.failed, 1u);
  EXPECT_EQ(ReadFile(photos + "/icons/wide.ico"), before);
  EXPECT_EQ(ReadFile(photos + "/icons/log.log"),
            "Resize" + photos + "/icons/wide.ico Failed! " + N(kResizeIconFramesReason) + "\n");
}

// The size rule takes the picture as it is shown (turned by its EXIF
// orientation), not as it is stored: turned.jpg is stored 640x480 with
// orientation 6, shown 480x640. A fixed width of 240 is the width the user
// sees: shown 240x320, stored 320x240 (by the stored size it would be
// 240x180). The exact target 300x200 is shown 300x200, stored 200x300.
TEST(ResizeOutcome, TheSizeRuleTakesThePictureUpright) {
  TreeCopy tree;
  const std::string turned = tree / "photos/turned.jpg";
  struct Case {
    bool fixedWidth;
    int32_t W, H;
    const char* stored;
  } cases[] = {{true, 240, 1, "320x240;"}, {false, 300, 200, "200x300;"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    SetResizeRule(c.fixedWidth, false, false, c.W, c.H);
    EXPECT_EQ(RunResize(RequestFor(turned, false), nullptr, nullptr).done, 1u);
    EXPECT_EQ(Identify(Morvalen(turned)), c.stored);
    EXPECT_EQ(Tag(Morvalen(turned), "Orientation"), "6");
  }
}
