// The resizing tool end to end on a tree made by peer programs: the size
// rule, output names and sizes, EXIF tags and file times kept, the exact
// "log.log" lines, and the writes that never replace what they must not.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/PathHelpers.h"
#include "imagelib/PxImage.h"
#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "imagelib/PxFile.h"
#include "tools/Convertor.h"
#include "tools/PictureOps.h"
#include "tools/ResizePictures.h"

using namespace tooltest;

namespace {

ResizeRequest FolderRequest(const std::string& folder, bool overwrite) {
  ResizeRequest request;
  request.sources = SplitSources(W(folder));
  request.patterns = SplitString(kResizeDefaultPatterns, L"|");
  request.overwrite = overwrite;
  request.threadCount = 4;
  return request;
}

std::string Morvalen(const std::string& path) {
  return N(ResizeDestination(W(path), false));
}

}  // namespace

TEST(ResizeRule, SizesOfTheRules) {
  struct Case {
    bool fixedWidth, keepRatio, fixedHeight;
    int32_t W, H, w0, h0, w, h;
  } cases[] = {
      {false, true, false, 1920, 1920, 4000, 3000, 2560, 1920},  // landscape: fixed height
      {false, true, false, 1920, 1920, 3000, 4000, 1920, 2560},  // portrait: fixed width
      {false, true, false, 1000, 1000, 500, 500, 1000, 1000},    // square: fixed height
      {true, true, false, 1001, 1, 2000, 999, 1001, 500},        // 499.999.. + .5 -> 500
      {true, true, false, 100, 1, 1000, 15, 100, 2},             // 1.5 + .5 -> 2
      {true, false, false, 100, 1, 1000, 1, 100, 1},             // 0 becomes 1
      {true, false, false, 101, 1, 1000, 30, 101, 4},            // 3.53 -> 4; W odd stays
      {false, false, true, 7, 333, 400, 300, 444, 333},          // H odd stays; 444 even
      {false, false, false, 123, 457, 4000, 3000, 123, 457},     // exactly the target
  };
  for (const Case& c : cases) {
    ResizeRule rule{c.fixedWidth, c.keepRatio, c.fixedHeight, c.W, c.H};
    int32_t w = 0, h = 0;
    ApplySizeRule(rule, c.w0, c.h0, w, h);
    EXPECT_EQ(w, c.w) << c.w0 << "x" << c.h0;
    EXPECT_EQ(h, c.h) << c.w0 << "x" << c.h0;
  }
  // A picture stored turned a quarter is sized as shown and resampled as
  // stored: 4000x3000 stored, shown 3000x4000, keep ratio 1920.
  int32_t w = 0, h = 0;
  StoredTargetSize(ResizeRule{false, true, false, 1920, 1920}, 3000, 4000, true, w, h);
  EXPECT_EQ(w, 2560);
  EXPECT_EQ(h, 1920);
}

TEST(ResizeRule, EditsAndNames) {
  int32_t value = 7;
  EXPECT_TRUE(ReadSizeText(L"1,920", value));
  EXPECT_EQ(value, 1920);
  EXPECT_FALSE(ReadSizeText(L"abc", value));
  EXPECT_EQ(value, 1920);
  int32_t height = 0, width = 0;
  EXPECT_TRUE(HeightForWidth(1500, 0.75, height));
  EXPECT_EQ(height, 2000);
  EXPECT_TRUE(HeightForWidth(1001, 1.0, height));
  EXPECT_EQ(height, 1002);
  EXPECT_TRUE(WidthForHeight(2000, 0.75, width));
  EXPECT_EQ(width, 1500);
  EXPECT_FALSE(HeightForWidth(1500, 0.0, height));
  EXPECT_EQ(ResizeDestination(L"/p/photo.jpg", false), L"/p/photomorvalen.jpg");
  EXPECT_EQ(ResizeDestination(L"/p/photomorvalen.jpg", false), L"/p/photomorvalenmorvalen.jpg");
  EXPECT_EQ(ResizeDestination(L"/p.d/B.JPG", false), L"/p.d/Bmorvalen.JPG");
  EXPECT_EQ(ResizeDestination(L"/p/photo.jpg", true), L"/p/photo.jpg");
}

TEST(ResizeRule, ShownSizeFollowsOrientation) {
  TreeCopy tree;
  int32_t w = 0, h = 0;
  bool turned = false;
  ASSERT_TRUE(ReadShownSize(W(tree / "photos/turned.jpg"), w, h, &turned));
  EXPECT_EQ(w, 480);
  EXPECT_EQ(h, 640);
  EXPECT_TRUE(turned);
  ASSERT_TRUE(ReadShownSize(W(tree / "photos/le.jpg"), w, h, &turned));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_FALSE(turned);
  EXPECT_FALSE(ReadShownSize(W(tree / "photos/README"), w, h));
}

namespace {

struct Expected {
  std::string rel;   // below photos/
  std::string size;  // identify's "WxH;" of the result; empty: the run fails on it
};

}  // namespace

TEST(ResizeRun, RenameModeKeepRatioOverTheTree) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetResizeRule(false, true, false, 320, 320);
  const ResizeOutcome outcome = RunResize(FolderRequest(photos, false), nullptr, nullptr);
  EXPECT_EQ(outcome.groups, 1u);

  // In pattern order (*.jpg, *.jpeg, *.png, *.bmp, *.gif, *.ico), each
  // pattern's files in byte order, depth first.
  const Expected expected[] = {
      {"B.JPG", "480x320;"},
      {"be.jpg", "320x428;"},     // portrait: fixed width, 426.67 -> 427 -> even
      {"broken.jpg", "428x320;"},  // cut off in its scan: the reader pads it, as libjpeg does
      {"le.jpg", "428x320;"},
      {"meta.jpg", "428x320;"},
      {"ro.jpg", "480x320;"},
      {"turned.jpg", "428x320;"},  // shown 480x640: sized as shown, stored turned
      {"旅行 照片.jpg", "428x320;"},
      {"sub/le.jpg", "428x320;"},
      {"alpha.png", "640x320;"},
      {"anim.gif", "428x320;428x320;428x320;"},  // frame by frame, in the folder too
      {"icon.ico", "320x320;"},  // three frames: from the widest (48x48)
  };
  std::string log;
  for (const Expected& e : expected) {
    const std::string source = photos + "/" + e.rel;
    const std::string result = Morvalen(source);
    SCOPED_TRACE(e.rel);
    if (e.size.empty()) {
      EXPECT_FALSE(fs::exists(result));
      log += "Resize" + source + " Failed!\n";
      continue;
    }
    EXPECT_EQ(Identify(result), e.size);
    EXPECT_TRUE(SameMtime(source, result));
    EXPECT_EQ(ReadFile(source), ReadFile(TreeCopy::Original("photos/" + e.rel)));
    // The cut picture is resized beside it, and its line says it was damaged.
    log += source + "->" + result + (e.rel == std::string("broken.jpg") ? N(kDamagedSourceMark) : "") + "\n";
  }
  EXPECT_EQ(ReadFile(photos + "/log.log"), log);
  EXPECT_EQ(outcome.report.damagedSources, std::vector<std::wstring>{W(photos + "/broken.jpg")});
  EXPECT_FALSE(fs::exists(photos + "/sub/log.log"));  // none in sub-folders
  EXPECT_TRUE(StagedLeftovers(photos).empty());
}

TEST(ResizeRun, JpegTagsAreKept) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetResizeRule(false, true, false, 320, 320);
  // The JPEGs of the tree only: the other formats carry no EXIF block here.
  ResizeRequest request = FolderRequest(photos, false);
  request.patterns = {L"*.jpg"};
  RunResize(request, nullptr, nullptr);
  // Both byte orders, GPS and thumbnails; the CJK name; the orientation.
  std::vector<std::string> files;
  for (const char* rel : {"le.jpg", "be.jpg", "sub/le.jpg", "旅行 照片.jpg", "turned.jpg"}) {
    files.push_back(photos + "/" + rel);
    files.push_back(Morvalen(files.back()));
  }
  // Every file read by two exiftool runs.
  const auto tags = TagsOf(files);
  auto values = TagTable(files, {"GPSLatitude", "GPSLongitude", "ExifImageWidth", "ExifImageHeight", "Orientation"});
  for (size_t i = 0; i < files.size(); i += 2) {
    const std::string& source = files[i];
    const std::string& result = files[i + 1];
    SCOPED_TRACE(source);
    ASSERT_TRUE(tags.count(source) && tags.count(result));
    EXPECT_TRUE(TagsKeptIn(tags.at(source), tags.at(result)));
    if (i < 4) {  // le.jpg and be.jpg: the position to a millionth of a degree
      for (const char* tag : {"GPSLatitude", "GPSLongitude"}) {
        ASSERT_FALSE(values[source][tag].empty()) << tag;
        ASSERT_FALSE(values[result][tag].empty()) << tag;
        EXPECT_NEAR(std::stod(values[result][tag]), std::stod(values[source][tag]), 1e-6) << tag;
      }
    }
    // The pixel size is kept true where the block states it, and not added
    // where it does not.
    if (values[source]["ExifImageWidth"].empty())
      EXPECT_EQ(values[result]["ExifImageWidth"] + values[result]["ExifImageHeight"], "");
    else
      EXPECT_EQ(values[result]["ExifImageWidth"] + "x" + values[result]["ExifImageHeight"] + ";", Identify(result));
  }
  EXPECT_EQ(values[Morvalen(photos + "/turned.jpg")]["Orientation"], "6");
}

TEST(ResizeRun, EachSizeRuleOnPicturesOfBothOrientations) {
  TreeCopy tree;
  const std::string le = tree / "photos/le.jpg", be = tree / "photos/be.jpg";  // 640x480, 480x640
  struct Case {
    bool fixedWidth, keepRatio, fixedHeight;
    const char* landscape;
    const char* portrait;
  } cases[] = {
      {true, true, false, "300x226;", "300x400;"},    // fixed width: 225 -> 226
      {false, true, true, "400x300;", "226x300;"},    // fixed height
      {false, true, false, "400x300;", "300x400;"},   // keep ratio: the long side
      {false, false, false, "300x300;", "300x300;"},  // exactly the target
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.landscape) + " " + c.portrait);
    SetResizeRule(c.fixedWidth, c.keepRatio, c.fixedHeight, 300, 300);
    ResizeRequest request;
    request.sources = SplitSources(W(le + "|" + be));
    RunResize(request, nullptr, nullptr);
    EXPECT_EQ(Identify(Morvalen(le)), c.landscape);
    EXPECT_EQ(Identify(Morvalen(be)), c.portrait);
    fs::remove(Morvalen(le));
    fs::remove(Morvalen(be));
  }
}

TEST(ResizeRule, JpegDecodeScaleStillCoversTheTarget) {
  struct Case {
    int32_t storedW, storedH, w, h;
    int scale;
  } cases[] = {
      {6000, 4000, 2880, 1920, 2},  // the usual photo: half size covers it
      {6000, 4000, 1500, 1000, 4},  // exactly a quarter
      {6000, 4000, 1502, 1000, 2},  // one quarter short by two columns
      {1001, 601, 126, 76, 8},      // the decoder rounds up: 126 x 76 at 1/8
      {1001, 601, 251, 151, 4},
      {640, 480, 640, 480, 1},      // same size
      {640, 480, 1280, 960, 1},     // enlarging
      {640, 480, 1, 1, 8},          // never beyond 1/8
      {640, 480, 0, 480, 1},        // no resampling asked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.storedW) + "x" + std::to_string(c.storedH) + " to " +
                 std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_EQ(JpegScaleCovering(c.storedW, c.storedH, c.w, c.h), c.scale);
  }
}

namespace {

// Peak signal-to-noise ratio of two 24-bit pictures of the same size.
double Psnr(const PxImage& a, const PxImage& b) {
  double sum = 0;
  for (uint32_t y = 0; y < a.Height(); ++y)
    for (uint32_t x = 0; x < a.Width() * 3; ++x) {
      const double d = double(a.RowAt(y)[x]) - double(b.RowAt(y)[x]);
      sum += d * d;
    }
  const double mse = sum / (double(a.Width()) * a.Height() * 3);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

// One-pixel stripes are the worst case for picking pixels: every fourth
// column of the full decode is black. Decoded at a quarter, each output
// pixel comes from an average, as a box filter would give it.
TEST(ResizeRun, ReducedJpegDecodeKeepsTheSizeAndAveragesFineDetail) {
  TreeCopy tree;
  const std::string source = tree / "stripes.jpg";
  {
    PxImage stripes;
    ASSERT_TRUE(stripes.Create(1001, 601, 24, kFormatJpg));
    for (uint32_t y = 0; y < 601; ++y)
      for (uint32_t x = 0; x < 1001; ++x)
        std::memset(stripes.RowAt(y) + 3 * x, x % 2 ? 255 : 0, 3);
    stripes.info.jpegQuality = 95;
    FILE* f = std::fopen(source.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    PxIOFile file(f);
    ASSERT_TRUE(stripes.Encode(&file, kFormatJpg));
    std::fclose(f);
  }
  SetResizeRule(true, true, false, 250, 1);  // 250 x round(150.1) = 250 x 150, at 1/4
  ResizeRequest request;
  request.sources = SplitSources(W(source));
  ASSERT_EQ(RunResize(request, nullptr, nullptr).done, 1u);
  EXPECT_EQ(Identify(Morvalen(source)), "250x150;");

  const std::string reference = tree / "reference.png";
  Shell("convert-im6.q16 " + Quote(source) + " -filter box -resize '250x150!' " + Quote(reference));
  PxImage ours, box;
  ASSERT_TRUE(ours.LoadFile(W(Morvalen(source)), kFormatJpg));
  ASSERT_TRUE(box.LoadFile(W(reference), kFormatPng));
  ours.RaiseBitDepth(24);
  box.RaiseBitDepth(24);
  ASSERT_EQ(box.Width(), 250u);
  // Picking every fourth pixel of the full size gives black against grey:
  // about 6 dB.
  EXPECT_GT(Psnr(ours, box), 30.0);
}

TEST(ResizeRun, OverwriteModeReplacesWholeAndKeepsTimes) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetResizeRule(true, true, false, 200, 1);  // fixed width 200
  const std::string ro = photos + "/ro.jpg";
  const struct stat before = Stat(ro);
  ASSERT_EQ(before.st_mode & 0777, 0444u);
  // A private photo stays private, one shared with the group stays so.
  ASSERT_EQ(::chmod((photos + "/le.jpg").c_str(), 0600), 0);
  ASSERT_EQ(::chmod((photos + "/be.jpg").c_str(), 0664), 0);
  RunResize(FolderRequest(photos, true), nullptr, nullptr);
  EXPECT_EQ(Stat(photos + "/le.jpg").st_mode & 0777, 0600u);
  EXPECT_EQ(Stat(photos + "/be.jpg").st_mode & 0777, 0664u);

  const char* jpegs[] = {"le.jpg", "be.jpg", "ro.jpg", "B.JPG", "旅行 照片.jpg", "sub/le.jpg"};
  for (const char* rel : jpegs) {
    SCOPED_TRACE(rel);
    const std::string path = photos + "/" + rel;
    const std::string original = TreeCopy::Original("photos/" + std::string(rel));
    EXPECT_EQ(Identify(path).substr(0, 4), "200x");
    EXPECT_TRUE(SameMtime(path, original));
    EXPECT_TRUE(TagsKept(original, path));
  }
  // ro.jpg: 360x240 -> 200 x round(133.3) = 134; replaced whole, and only
  // after the write is its read-only attribute gone, as the tool clears it.
  EXPECT_EQ(Identify(ro), "200x134;");
  EXPECT_NE(Stat(ro).st_ino, before.st_ino);
  EXPECT_EQ(Stat(ro).st_mode & 0777, 0644u);
  // Pictures the run cannot do are left exactly as they were.
  EXPECT_EQ(ReadFile(photos + "/icon.ico"), ReadFile(TreeCopy::Original("photos/icon.ico")));
  EXPECT_TRUE(StagedLeftovers(photos).empty());
  const std::string log = ReadFile(photos + "/log.log");
  EXPECT_NE(log.find(ro + "->" + ro + "\n"), std::string::npos);
  EXPECT_NE(log.find("Resize" + photos + "/icon.ico Failed! " + N(kResizeIconFramesReason) + "\n"),
            std::string::npos);
}

// An icon of one frame is resized like any picture and stays an icon; the
// tree's icon of three frames (16x16, 48x48, 48x48) is resized from its
// widest frame (the later of the two 48x48 ones: blue).
TEST(ResizeRun, IconsAreResizedFromTheirWidestFrame) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  const std::string single = photos + "/single.ico", icon = photos + "/icon.ico";
  ASSERT_EQ(Shell("convert-im6.q16 -size 64x40 xc:orange " + Quote(single) + " && echo ok"), "ok\n");
  SetResizeRule(false, false, false, 32, 20);
  ResizeRequest request;
  request.sources = SplitSources(W(single + "|" + icon));
  const ResizeOutcome outcome = RunResize(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 2u);
  EXPECT_EQ(Identify(Morvalen(single)), "32x20;");
  PxImage resized;
  ASSERT_TRUE(resized.LoadFile(W(Morvalen(single)), kFormatIco));
  EXPECT_EQ(resized.info.frameCount, 1);
  EXPECT_EQ(Identify(Morvalen(icon)), "32x20;");
  EXPECT_EQ(Shell("convert-im6.q16 " + Quote(Morvalen(icon)) + " -format '%[pixel:p{5,5}]' info:"),
            "srgba(0,0,255,1)");
  EXPECT_EQ(ReadFile(icon), ReadFile(TreeCopy::Original("photos/icon.ico")));
}

TEST(ResizeRun, IgnoreMinSkipsSmallPictures) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetResizeRule(false, true, false, 640, 640, true);
  ResizeRequest request = FolderRequest(photos, false);
  request.patterns = {L"*le.jpg", L"meta*.jpg"};
  RunResize(request, nullptr, nullptr);
  // le.jpg is 640x480: skipped; sub/le.jpg is 800x600: resized.
  const std::string le = photos + "/le.jpg", sub = photos + "/sub/le.jpg";
  const std::string meta = photos + "/meta.jpg";
  EXPECT_EQ(ReadFile(photos + "/log.log"), "Ignore " + le + " !\n" + sub + "->" + Morvalen(sub) +
                                               "\n" + "Ignore " + meta + " !\n");
  EXPECT_FALSE(fs::exists(Morvalen(le)));
  EXPECT_EQ(Identify(Morvalen(sub)), "854x640;");  // landscape: the height is fixed
}

// The result's name belongs to the tool: a second run at another size
// replaces the first run's result whole. A link under that name (here to
// the source itself) is never written through.
TEST(ResizeRun, RenameModeReplacesItsOwnEarlierResult) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  const std::string le = photos + "/le.jpg", be = photos + "/be.jpg";
  const std::string leBefore = ReadFile(le);
  ResizeRequest request = FolderRequest(photos, false);
  request.sources = SplitSources(W(le + "|" + be));
  SetResizeRule(false, true, false, 100, 100);
  ResizeOutcome outcome = RunResize(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 2u);
  EXPECT_EQ(Identify(Morvalen(le)), "134x100;");
  SetResizeRule(false, true, false, 200, 200);
  outcome = RunResize(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 2u);
  EXPECT_EQ(outcome.notDone, 0u);
  EXPECT_EQ(Identify(Morvalen(le)), "268x200;");
  EXPECT_EQ(Identify(Morvalen(be)), "200x268;");
  EXPECT_TRUE(SameMtime(Morvalen(le), le));
  EXPECT_EQ(ReadFile(le), leBefore);
  EXPECT_FALSE(fs::exists(photos + "/log.log"));  // the group of files writes none
  EXPECT_TRUE(StagedLeftovers(photos).empty());

  fs::remove(Morvalen(le));
  fs::create_symlink(le, Morvalen(le));
  outcome = RunResize(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(outcome.notDone, 1u);
  EXPECT_TRUE(fs::is_symlink(Morvalen(le)));
  EXPECT_EQ(ReadFile(le), leBefore);

  // A run over the folder also resizes the results of the first.
  request.sources = SplitSources(W(photos + "/bemorvalen.jpg"));
  RunResize(request, nullptr, nullptr);
  EXPECT_EQ(Identify(photos + "/bemorvalenmorvalen.jpg"), "200x268;");
}

TEST(ResizeRun, MultiPageTiffIsRefusedNotCut) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  const std::string tif = photos + "/pages.tif";
  Shell("convert-im6.q16 -size 300x200 xc:red xc:green xc:blue " + Quote(tif));
  ASSERT_EQ(Identify(tif), "300x200;300x200;300x200;");
  const std::string before = ReadFile(tif);
  SetResizeRule(false, true, false, 100, 100);
  ResizeRequest request = FolderRequest(photos, true);
  request.patterns = {L"*.tif"};
  RunResize(request, nullptr, nullptr);
  EXPECT_EQ(ReadFile(tif), before);
  EXPECT_EQ(ReadFile(photos + "/log.log"), "Resize" + tif + " Failed!\n");
}

TEST(ResizeRun, OneGifAloneGoesFrameByFrame) {
  TreeCopy tree;
  const std::string gif = tree / "photos/anim.gif";
  SetResizeRule(false, true, false, 32, 32);
  ResizeRequest request;
  request.sources = SplitSources(W(gif));
  request.threadCount = 2;
  struct Texts : BatchRunObserver {
    std::vector<std::wstring> texts;
    std::vector<int> bars;
    void GroupText(const std::wstring& text) override { texts.push_back(text); }
    void GroupStarted(int bar) override { bars.push_back(bar); }
  } observer;
  const ResizeOutcome outcome = RunResize(request, nullptr, &observer);
  EXPECT_EQ(observer.texts, std::vector<std::wstring>{kResizeGifText});
  EXPECT_EQ(observer.bars, std::vector<int>{50});
  EXPECT_EQ(outcome.groups, 1u);
  EXPECT_EQ(ResizeSingleGif(W(gif), W(tree / "photos/x.png"), nullptr), -1);
  EXPECT_EQ(outcome.done, 1u);
  // 64x48 -> fixed height 32, width 42.67 -> 43 -> 44; every frame, every delay.
  EXPECT_EQ(Identify(Morvalen(gif)), "44x32;44x32;44x32;");
  EXPECT_EQ(Shell("identify-im6.q16 -format '%T;' " + Quote(Morvalen(gif))), "10;20;30;");
  EXPECT_TRUE(StagedLeftovers(tree / "photos").empty());
}

TEST(ResizeRun, SortingMoveLogIsNeverReplacedByTheResultLog) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  // What the sorting tool left: the only way back for the files it moved.
  const std::string moves = "/old/place/a.jpg->" + photos + "/201801/a.jpg\n";
  { std::ofstream(photos + "/log.log") << moves; }
  SetResizeRule(false, true, false, 100, 100);
  ResizeRequest request = FolderRequest(photos, false);
  request.patterns = {L"*le.jpg"};
  RunResize(request, nullptr, nullptr);
  EXPECT_TRUE(fs::exists(Morvalen(photos + "/le.jpg")));
  EXPECT_EQ(ReadFile(photos + "/log.log"), moves);
}

TEST(BatchLists, PatternsThatOverlapListEachPictureOnce) {
  // "*.jpg" and "*.JPG" both match le.jpg (the search ignores letter case):
  // each picture must still be worked on by one worker only.
  const std::vector<std::wstring> patterns = {L"*le.jpg", L"*LE.JPG", L"*le.jp*"};
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetResizeRule(false, true, false, 100, 100);
  ResizeRequest resize = FolderRequest(photos, true);
  resize.patterns = patterns;
  const ResizeOutcome resized = RunResize(resize, nullptr, nullptr);
  EXPECT_EQ(resized.done, 2u);
  EXPECT_EQ(ReadFile(photos + "/log.log"), photos + "/le.jpg->" + photos + "/le.jpg\n" +
                                               photos + "/sub/le.jpg->" + photos + "/sub/le.jpg\n");

  ConvertRequest convert;
  convert.sources = SplitSources(W(photos));
  convert.patterns = patterns;
  convert.targets = ConvertTargets{false, false, true, false};
  const ConvertOutcome converted = RunConvert(convert, nullptr, nullptr);
  EXPECT_EQ(converted.done, 2u);
  EXPECT_TRUE(fs::exists(photos + "/PNG/le.png"));
  EXPECT_TRUE(fs::exists(photos + "/PNG/sub/le.png"));
  EXPECT_FALSE(fs::exists(photos + "/PNG/le_1.png"));
}

TEST(BatchLists, ALaterRunReplacesTheResultLogOfAnEarlierOne) {
  // Result lines look like move lines; only a sorting log, whose files have
  // left their old places, is kept from being replaced.
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetResizeRule(false, true, false, 100, 100);
  struct Run {
    const char* pattern;
    std::string log;
  } runs[] = {
      {"*le.jpg", photos + "/le.jpg->" + Morvalen(photos + "/le.jpg") + "\n" + photos +
                      "/sub/le.jpg->" + Morvalen(photos + "/sub/le.jpg") + "\n"},
      {"*be.jpg", photos + "/be.jpg->" + Morvalen(photos + "/be.jpg") + "\n"},
  };
  for (const Run& run : runs) {
    ResizeRequest request = FolderRequest(photos, false);
    request.patterns = {W(run.pattern)};
    RunResize(request, nullptr, nullptr);
    EXPECT_EQ(ReadFile(photos + "/log.log"), run.log) << run.pattern;
  }
  ConvertRequest convert;
  convert.sources = SplitSources(W(photos));
  convert.patterns = {L"*be.jpg"};
  convert.targets = ConvertTargets{false, false, true, false};
  RunConvert(convert, nullptr, nullptr);
  EXPECT_EQ(ReadFile(photos + "/log.log"), photos + "/be.jpg->" + photos + "/PNG/be.png\n");
}

// A folder that already holds an earlier result ("amorvalen.jpg") beside
// its picture: the run replaces that result and never reads it as a source
// too (it would be read while it is being replaced).
TEST(ResizeRun, AResultTheRunReplacesIsNotAlsoASource) {
  TreeCopy tree;
  const std::string folder = tree / "again";
  fs::create_directories(folder);
  const std::string picture = folder + "/a.jpg", result = folder + "/amorvalen.jpg";
  ASSERT_EQ(Shell("convert-im6.q16 -size 64x48 xc:red " + Quote(picture) + " && convert-im6.q16 "
                  "-size 100x40 xc:blue " + Quote(result) + " && echo ok"), "ok\n");
  SetResizeRule(true, false, false, 32, 32);
  for (const bool dropped : {false, true}) {
    SCOPED_TRACE(dropped ? "dropped files" : "folder");
    ResizeRequest request = FolderRequest(folder, false);
    if (dropped) request.sources = SplitSources(W(result + "|" + picture + "|" + picture));
    const ResizeOutcome outcome = RunResize(request, nullptr, nullptr);
    EXPECT_EQ(outcome.done, 1u);
    EXPECT_EQ(outcome.notDone, 0u);
    EXPECT_EQ(Identify(result), "32x24;") << "the result is the picture's";
    EXPECT_FALSE(fs::exists(folder + "/amorvalenmorvalen.jpg"));
    if (!dropped) {
      EXPECT_EQ(ReadFile(folder + "/log.log"), picture + "->" + result + "\n");
    }
  }
  EXPECT_EQ(PlanResizeInputs({L"/f/amorvalen.jpg", L"/f/a.jpg", L"/f/b.png", L"/f/a.jpg"}, false),
            (std::vector<std::wstring>{L"/f/a.jpg", L"/f/b.png"}));
  EXPECT_EQ(PlanResizeInputs({L"/f/amorvalen.jpg", L"/f/a.jpg", L"/f/a.jpg"}, true),
            (std::vector<std::wstring>{L"/f/amorvalen.jpg", L"/f/a.jpg"}));
}
