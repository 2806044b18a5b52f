// The merge tool: outputs beside the sources, the folder log, no temporary
// file left anywhere.
#include <gtest/gtest.h>

#include <filesystem>

#include "imagelib/PxImage.h"
#include "tools/MergeTool.h"
#include "tools/PictureOps.h"
#include "tools_test_support.h"

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

TEST(MergeTool, GroupOfFilesAndFoldersGiveOneOutputEach) {
  pwtest::TempTree dir;
  const std::string tmp = dir.Mkdir("tmp");
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const std::string a = dir.Mkdir("a"), pics = dir.Mkdir("pics"), empty = dir.Mkdir("empty");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 20x10 xc:red " + Quote(a + "/1.jpg")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 10x10 xc:blue " + Quote(a + "/2.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 40x20 xc:red " + Quote(pics + "/x.png")));
  fs::create_directories(pics + "/deeper");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 30x30 xc:lime " + Quote(pics + "/deeper/y.jpg")));

  MergeRequest request;
  request.sources = SplitSources(W(a + "/1.jpg|" + a + "/2.png|" + pics + "|" + empty + "|" + (dir / "gone")));
  request.patterns = {L"jpg", L"png"};
  request.vertical = true;
  request.fixedSize = 800;
  const MergeOutcome outcome = RunMerge(request, nullptr, nullptr);
  ::unsetenv("TMPDIR");

  ASSERT_EQ(outcome.outputs.size(), 2u);
  EXPECT_EQ(outcome.failed, 0u);
  EXPECT_EQ(outcome.outputs[0], W(a + "/a_Vertical.jpg"));
  // The folder's first picture (by pattern, then depth first) names the extension.
  EXPECT_EQ(outcome.outputs[1], W(dir / "pics_Vertical.jpg"));
  PxImage merged;
  ASSERT_TRUE(merged.LoadFile(outcome.outputs[1], kFormatUnknown));
  // 30 x 30 at width 800 is 800 x 800; the 40 x 20 below it 800 x 400.
  EXPECT_EQ(merged.Width(), 800u);
  EXPECT_EQ(merged.Height(), 1200u);
  // The folder log holds its one line; the group of files and the empty folder get none.
  EXPECT_EQ(pwtest::ReadAll(pics + "/log.log"), pics + "合并到" + (dir / "pics_Vertical.jpg") + "\n");
  EXPECT_FALSE(fs::exists(a + "/log.log"));
  EXPECT_FALSE(fs::exists(empty + "/log.log"));
  EXPECT_TRUE(fs::is_empty(tmp));
}

TEST(MergeTool, AFailedMergeIsLoggedAsFailed) {
  pwtest::TempTree dir;
  const std::string pics = dir.Mkdir("bad");
  dir.Write("bad/broken.jpg", "not a picture");
  MergeRequest request;
  request.sources = SplitSources(W(pics));
  request.patterns = {L"*.jpg"};
  const MergeOutcome outcome = RunMerge(request, nullptr, nullptr);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_EQ(pwtest::ReadAll(pics + "/log.log"), "Merge" + pics + " Failed!\n");
  EXPECT_FALSE(fs::exists(dir / "bad_Horizontal.jpg"));
}

TEST(MergeTool, NeverWritesOverASortingMoveLog) {
  pwtest::TempTree dir;
  const std::string pics = dir.Mkdir("sorted");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(pics + "/p.png")));
  const std::string moves = pics + "/x.png->" + pics + "/201607/x.png\n";
  dir.Write("sorted/log.log", moves);
  MergeRequest request;
  request.sources = SplitSources(W(pics));
  request.patterns = {L"png"};
  RunMerge(request, nullptr, nullptr);
  EXPECT_EQ(pwtest::ReadAll(pics + "/log.log"), moves);
  EXPECT_TRUE(fs::exists(dir / "sorted_Horizontal.png"));
}

TEST(MergeTool, NeverWritesOverAnExistingFile) {
  pwtest::TempTree dir;
  const std::string a = dir.Mkdir("a"), pics = dir.Mkdir("pics");
  // The group of files holds the very name its output would take; the
  // folder's output name is taken by a file of the user's beside it.
  ASSERT_TRUE(Sh("convert-im6.q16 -size 20x10 xc:red " + Quote(a + "/a_Horizontal.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 10x10 xc:blue " + Quote(a + "/b.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 10x10 xc:blue " + Quote(pics + "/c.png")));
  dir.Write("pics_Horizontal.png", "the user's own file");
  const std::string sourceBytes = pwtest::ReadAll(a + "/a_Horizontal.png");

  MergeRequest request;
  request.sources = SplitSources(W(a + "/a_Horizontal.png|" + a + "/b.png|" + pics));
  request.patterns = {L"*.png"};
  const MergeOutcome outcome = RunMerge(request, nullptr, nullptr);

  EXPECT_EQ(outcome.groups, 2u);
  EXPECT_EQ(outcome.failed, 2u);
  EXPECT_TRUE(outcome.outputs.empty());
  EXPECT_EQ(pwtest::ReadAll(a + "/a_Horizontal.png"), sourceBytes);
  EXPECT_EQ(pwtest::ReadAll(dir / "pics_Horizontal.png"), "the user's own file");
  EXPECT_EQ(pwtest::ReadAll(pics + "/log.log"), "Merge" + pics + " Failed!\n");
  // No working file is left behind.
  EXPECT_EQ(Listing(dir.path()), ".\n./a\n./a/a_Horizontal.png\n./a/b.png\n./pics\n./pics/c.png\n"
                                 "./pics/log.log\n./pics_Horizontal.png\n");
}

// The merged picture holds both pictures' pixels exactly: the first one is
// not staged through a lossy file on the way (ImageMagick reads both sides).
TEST(MergeTool, NoisePicturesKeepEveryPixel) {
  pwtest::TempTree dir;
  const std::string pics = dir.Mkdir("noise");
  const std::string first = pics + "/1.png", second = pics + "/2.png";
  ASSERT_TRUE(Sh("convert-im6.q16 -size 64x48 xc: -seed 7 +noise Random -depth 8 PNG24:" + Quote(first)));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 64x48 xc: -seed 8 +noise Random -depth 8 PNG24:" + Quote(second)));
  MergeRequest request;
  request.sources = SplitSources(W(first + "|" + second));
  const MergeOutcome outcome = RunMerge(request, nullptr, nullptr);
  ASSERT_EQ(outcome.outputs.size(), 1u);
  const std::string merged = pics + "/noise_Horizontal.png";
  ASSERT_EQ(outcome.outputs[0], W(merged));
  ASSERT_EQ(Capture("identify-im6.q16 -format %wx%h " + Quote(merged)), "128x48");
  const auto rgb = [](const std::string& path, const std::string& crop) {
    return Capture("convert-im6.q16 " + Quote(path) + crop + " -depth 8 rgb:- | sha256sum");
  };
  EXPECT_EQ(rgb(merged, " -crop 64x48+0+0"), rgb(first, "")) << "the first picture changed";
  EXPECT_EQ(rgb(merged, " -crop 64x48+64+0"), rgb(second, "")) << "the second picture changed";
}

// A JPEG merge is written at the quality the panel set, not the default.
TEST(MergeTool, JpegOutputTakesTheChosenQuality) {
  pwtest::TempTree dir;
  const std::string pics = dir.Mkdir("q");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 40x30 xc: +noise Random " + Quote(pics + "/a.jpg")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 40x30 xc: +noise Random " + Quote(pics + "/b.png")));
  for (int quality : {30, 99}) {
    SCOPED_TRACE(quality);
    g_JpegQuality = quality;
    MergeRequest request;
    request.sources = SplitSources(W(pics));
    request.patterns = {L"jpg", L"png"};
    const MergeOutcome outcome = RunMerge(request, nullptr, nullptr);
    ASSERT_EQ(outcome.outputs.size(), 1u);
    const std::string output = dir / "q_Horizontal.jpg";
    EXPECT_EQ(Capture("identify-im6.q16 -format %Q " + Quote(output)), std::to_string(quality));
    fs::remove(output);
  }
  g_JpegQuality = 90;
}

}  // namespace

// A fixed height the pictures cannot take (beyond the picture size limit),
// or one of 0 (what the panel reads from a field without a usable number),
// gives no merge of another size called done: 0 is refused before
// anything runs, a size too large fails each group with its reason.
TEST(MergeTool, AFixedSizeThatCannotBeMadeIsNoResult) {
  pwtest::TempTree dir;
  const std::string pics = dir.Mkdir("pics");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 400x300 gradient:red-blue " + Quote(pics + "/1.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 400x300 gradient:lime-blue " + Quote(pics + "/2.png")));
  MergeRequest request;
  request.patterns = {L"png"};

  request.sources = SplitSources(W(pics));
  request.fixedSize = 0;
  MergeOutcome outcome = RunMerge(request, nullptr, nullptr);
  EXPECT_EQ(outcome.groups, 0u);
  EXPECT_EQ(outcome.report.notes, std::vector<std::wstring>{kMergeSizeInvalidText});
  EXPECT_FALSE(fs::exists(pics + "/log.log"));
  EXPECT_FALSE(fs::exists(dir / "pics_Horizontal.png"));

  request.sources = SplitSources(W(pics + "|" + pics + "/1.png|" + pics + "/2.png"));
  request.fixedSize = 30000;
  outcome = RunMerge(request, nullptr, nullptr);
  EXPECT_EQ(outcome.failed, 2u);
  EXPECT_TRUE(outcome.outputs.empty());
  EXPECT_EQ(outcome.report.notes, std::vector<std::wstring>{kMergeSizeTooLargeText});
  EXPECT_NE(RunReportText(outcome.report).find(kMergeSizeTooLargeText), std::wstring::npos);
  EXPECT_EQ(pwtest::ReadAll(pics + "/log.log"), "Merge" + pics + " Failed! (超出图片大小上限)\n");
  EXPECT_EQ(Listing(dir.path()), ".\n./pics\n./pics/1.png\n./pics/2.png\n./pics/log.log\n");

  // A size the pictures can take still merges at that size.
  fs::remove(pics + "/log.log");
  request.sources = SplitSources(W(pics));
  request.fixedSize = 150;
  outcome = RunMerge(request, nullptr, nullptr);
  ASSERT_EQ(outcome.outputs.size(), 1u);
  PxImage merged;
  ASSERT_TRUE(merged.LoadFile(outcome.outputs[0], kFormatUnknown));
  EXPECT_EQ(merged.Width(), 400u);
  EXPECT_EQ(merged.Height(), 150u);
}
