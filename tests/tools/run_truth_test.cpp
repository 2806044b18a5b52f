// Runs that did nothing, or not all they were asked, are never told as a
// success: the end box says what happened.
#include <gtest/gtest.h>

#include <filesystem>

#include "tools/ClassifyTool.h"
#include "tools/Convertor.h"
#include "tools/MergeTool.h"
#include "tools/ResizePictures.h"
#include "tools_test_support.h"

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

bool Says(const RunReport& report, const std::wstring& text) {
  return RunReportText(report).find(text) != std::wstring::npos;
}

TEST(RunTruth, RunsThatDidNothingSaySo) {
  pwtest::TempTree dir;
  const std::string empty = dir.Mkdir("empty"), gone = dir / "gone", pics = dir.Mkdir("pics");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(pics + "/a.png")));

  // Sorting a folder that does not exist: the box names it, and the run
  // log names what was asked for.
  ClassifyRequest sort;
  sort.patterns = PicturePatterns(true, true, true, true);
  sort.sources = SplitSources(W(gone));
  ClassifyOutcome sorted = RunClassify(sort, nullptr, nullptr);
  EXPECT_FALSE(sorted.report.Clean());
  EXPECT_TRUE(Says(sorted.report, L"以下路径不存在：\n  " + W(gone)));
  EXPECT_TRUE(Says(sorted.report, kNothingToDoText));
  EXPECT_EQ(sorted.lastBaseDir, W(gone));

  // A restore where no move log is found restored nothing.
  sort.mode = ClassifyMode::kRestore;
  sort.sources = SplitSources(W(empty));
  sorted = RunClassify(sort, nullptr, nullptr);
  EXPECT_EQ(RunReportText(sorted.report), std::wstring(kNothingRestoredText) + L"\n");

  // A conversion with no target format writes nothing, not even a log.
  ConvertRequest convert;
  convert.targets = ConvertTargets{false, false, false, false};
  convert.patterns = {L"*.png"};
  convert.sources = SplitSources(W(pics));
  const ConvertOutcome converted = RunConvert(convert, nullptr, nullptr);
  EXPECT_EQ(RunReportText(converted.report), std::wstring(kNoTargetFormatText) + L"\n");
  EXPECT_EQ(Listing(pics), ".\n./a.png\n");

  // A merge of an empty folder and a missing path.
  MergeRequest merge;
  merge.patterns = {L"*.png"};
  merge.sources = SplitSources(W(empty + "|" + gone));
  const MergeOutcome merged = RunMerge(merge, nullptr, nullptr);
  EXPECT_EQ(RunReportText(merged.report), std::wstring(kNothingToDoText) + L"\n以下路径不存在：\n  " +
                                              W(gone) + L"\n");

  // A resize of an empty folder.
  ResizeRequest resize;
  resize.patterns = {L"*.png"};
  resize.sources = SplitSources(W(empty));
  EXPECT_TRUE(Says(RunResize(resize, nullptr, nullptr).report, kNothingToDoText));
}

// A run that did its work but was also given a path that is not there
// says which; an empty entry of the field is not a path.
TEST(RunTruth, MissingEntriesAreNamedBesideWorkDone) {
  pwtest::TempTree dir;
  const std::string pics = dir.Mkdir("pics"), gone = dir / "gone";
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(pics + "/a.png")));
  const SourceEntries entries = SplitSources(W(pics + "||" + gone));
  EXPECT_EQ(entries.entryCount, 3u);
  ASSERT_EQ(entries.missing.size(), 1u);
  ConvertRequest convert;
  convert.patterns = {L"*.png"};
  convert.sources = entries;
  const ConvertOutcome converted = RunConvert(convert, nullptr, nullptr);
  EXPECT_EQ(converted.done, 1u);
  EXPECT_EQ(RunReportText(converted.report), L"以下路径不存在：\n  " + W(gone) + L"\n");
  EXPECT_TRUE(fs::exists(pics + "/JPG/a.jpg"));
}

}  // namespace
