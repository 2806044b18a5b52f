// The window-free parts of the tool panels' run sequence.
#include <gtest/gtest.h>

#include <regex>

#include "tools/ToolRun.h"
#include "tools_test_support.h"

using namespace tooltest;

namespace {

TEST(ToolRun, SplitSourcesSortsFilesAndFoldersAndCountsEveryEntry) {
  pwtest::TempTree dir;
  const std::string folder = dir.Mkdir("a"), file = dir.Write("b.jpg");
  const SourceEntries entries = SplitSources(W(folder + "|" + file + "|" + (dir / "x")));
  EXPECT_EQ(entries.entryCount, 3u);
  EXPECT_EQ(entries.files, std::vector<std::wstring>{W(file)});
  EXPECT_EQ(entries.folders, std::vector<std::wstring>{W(folder)});
  EXPECT_EQ(SplitSources(L"").entryCount, 0u);
}

TEST(ToolRun, BarPositions) {
  EXPECT_EQ(FileGroupBarPosition(), 50);
  EXPECT_EQ(FolderBarPosition(0, 3), 1);
  EXPECT_EQ(FolderBarPosition(0, 2), 1);
  EXPECT_EQ(FolderBarPosition(1, 2), 51);
}

TEST(ToolRun, ElapsedAndRunLogLine) {
  EXPECT_EQ(FormatElapsed(75.4), L"1分15秒");
  EXPECT_EQ(FormatElapsed(0.3), L"0分0秒");
  EXPECT_EQ(FormatElapsed(3600), L"60分0秒");
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 3;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 7;
  EXPECT_EQ(RunLogLine(L"0分2秒", when, L"/照片/a b"), L"0分2秒\t\t2026年12月03日 09:05:07\t\t/照片/a b\n");
}

TEST(ToolRun, RunLogIsAppendedInUtf8) {
  pwtest::TempTree home;
  ::setenv("PIXELWHARF_HOME", home.path().c_str(), 1);
  ASSERT_TRUE(AppendRunLog(L"0分1秒", L"/图片/一"));
  ASSERT_TRUE(AppendRunLog(L"1分0秒", L"/b"));
  ::unsetenv("PIXELWHARF_HOME");
  const std::string listing = Listing(home.path());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(listing, m, std::regex(R"(\./(\d{4}年\d{2}月\d{2}日\.log))"))) << listing;
  const std::string log = pwtest::ReadAll(home / m[1].str());
  const std::regex line(R"(^\d+分\d+秒\t\t\d{4}年\d{2}月\d{2}日 \d{2}:\d{2}:\d{2}\t\t.*$)");
  size_t lines = 0;
  for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1, ++lines)
    EXPECT_TRUE(std::regex_match(log.substr(start, end - start), line)) << log;
  EXPECT_EQ(lines, 2u);
  EXPECT_NE(log.find("/图片/一\n"), std::string::npos);
}

TEST(ToolRun, QualityList) {
  struct Case {
    int quality;
    const wchar_t* selected;
  };
  for (const Case& c : {Case{9, L"90"}, Case{150, L"99"}, Case{-1, L"99"}, Case{75, L"75"},
                        Case{80, L"80"}, Case{0, L"0"}, Case{100, L"100"}}) {
    std::vector<std::wstring> items = QualityListItems();
    const size_t index = SelectQualityItem(items, c.quality);
    ASSERT_LT(index, items.size()) << c.quality;
    EXPECT_EQ(items[index], c.selected) << c.quality;
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end()));
  }
  EXPECT_EQ(ReadQualityText(L"abc"), 90);
  EXPECT_EQ(ReadQualityText(L"75"), 75);
  EXPECT_EQ(ReadQualityText(L"0"), 0);
  EXPECT_EQ(ReadQualityText(L""), 90);
}

}  // namespace
