// The sorting tool end to end on trees made by the test: EXIF dates set with
// exiftool, times with touch -d, the same name in several folders, upper-case
// extensions, spaces and Chinese names, a read-only file. Sorting and then
// restoring must give back the very same tree.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "core/FileHelpers.h"
#include "tools/ClassifyTool.h"
#include "tools/MoveLog.h"
#include "tools_test_support.h"

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

class RecordingObserver : public ToolRunObserver {
 public:
  void GroupStarted(int bar) override { bars.push_back(bar); }
  void GroupFinished() override { ++finished; }
  std::vector<int> bars;
  int finished = 0;
};

class Classify : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.Mkdir("照片 base");
    Jpeg("a.jpg", "2016:07:21 10:00:00");
    Jpeg("sub1/a.jpg", "2016:07:02 08:00:00");
    Jpeg("sub2/a.jpg", "2016:07:30 23:59:59");
    Jpeg("中文 照片.jpeg", "2020:01:15 12:00:00");
    Jpeg("zero.jpg", "0000:00:00 00:00:00", "2014-04-04 12:00");
    Jpeg("UPPER.JPG", "", "2019-03-05 12:00");
    Picture("with space.png", "2018-12-01 12:00");
    Picture("readonly.bmp", "2017-06-01 12:00");
    ::chmod((B("readonly.bmp")).c_str(), 0444);
    Text("bad.jpg", "not a picture", "2015-02-01 12:00");
    Text("notes.txt", "notes", "2013-01-01 12:00");
  }
  std::string B(const std::string& rel) const { return base_ + "/" + rel; }
  void Jpeg(const std::string& rel, const std::string& date, const std::string& touch = "") {
    fs::create_directories(fs::path(B(rel)).parent_path());
    ASSERT_TRUE(Sh("convert-im6.q16 -size 40x30 xc:orange " + Quote(B(rel))));
    if (!date.empty()) {
      ASSERT_TRUE(Sh("exiftool -q -overwrite_original '-DateTimeOriginal#=" + date + "' " + Quote(B(rel))));
    }
    if (!touch.empty()) {
      ASSERT_TRUE(Sh("touch -d '" + touch + "' " + Quote(B(rel))));
    }
  }
  void Picture(const std::string& rel, const std::string& touch) {
    ASSERT_TRUE(Sh("convert-im6.q16 -size 12x34 xc:navy " + Quote(B(rel))));
    ASSERT_TRUE(Sh("touch -d '" + touch + "' " + Quote(B(rel))));
  }
  void Text(const std::string& rel, const std::string& content, const std::string& touch) {
    dir_.Write("照片 base/" + rel, content);
    ASSERT_TRUE(Sh("touch -d '" + touch + "' " + Quote(B(rel))));
  }
  ClassifyRequest Request(ClassifyMode mode, int method = 0) const {
    ClassifyRequest request;
    request.mode = mode;
    request.method = method;
    request.patterns = PicturePatterns(true, true, true, true);
    request.sources = SplitSources(W(base_));
    return request;
  }
  ClassifyOutcome Run(const ClassifyRequest& request) { return RunClassify(request, nullptr, &observer_); }

  pwtest::TempTree dir_;
  std::string base_;
  RecordingObserver observer_;
};

const char kSortedListing[] =
    ".\n"
    "./201404\n./201404/zero.jpg\n"
    "./201502\n./201502/bad.jpg\n"
    "./201607\n./201607/a.jpg\n./201607/a1.jpg\n./201607/a2.jpg\n"
    "./201706\n./201706/readonly.bmp\n"
    "./201812\n./201812/with space.png\n"
    "./201903\n./201903/UPPER.JPG\n"
    "./202001\n./202001/中文 照片.jpeg\n"
    "./log.log\n./notes.txt\n./sub1\n./sub2\n";

const std::string kHeader = pw::WideToNarrow(kMoveLogHeader) + "\n";

size_t CountLines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

TEST_F(Classify, ByShootingTimeThenRestoreGivesBackTheSameTree) {
  const std::string before = TreeDigest(base_);
  const ClassifyOutcome outcome = Run(Request(ClassifyMode::kPicture, 0));
  EXPECT_EQ(outcome.lastBaseDir, W(base_));
  EXPECT_EQ(outcome.moved, 9u);
  EXPECT_EQ(outcome.failed, 0u);
  EXPECT_EQ(observer_.bars, std::vector<int>{1});
  EXPECT_EQ(observer_.finished, 1);
  EXPECT_EQ(Listing(base_), kSortedListing);

  // The move log: its first line, then one line per move, in the order of
  // the moves, UTF-8.
  const std::string log = pwtest::ReadAll(B("log.log"));
  EXPECT_EQ(CountLines(log), 10u);
  EXPECT_EQ(log.rfind(kHeader, 0), 0u) << log;
  EXPECT_NE(log.find(B("sub2/a.jpg") + "->" + B("201607/a2.jpg") + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find(B("中文 照片.jpeg") + "->" + B("202001/中文 照片.jpeg") + "\n"), std::string::npos);
  struct stat st;
  ASSERT_EQ(::stat(B("201706/readonly.bmp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);

  // A folder emptied by the sort and deleted since is made again.
  ASSERT_TRUE(fs::remove(B("sub1")));
  observer_.bars.clear();
  const ClassifyOutcome restored = Run(Request(ClassifyMode::kRestore));
  EXPECT_EQ(restored.moved, 9u);
  EXPECT_EQ(restored.failed, 0u);
  EXPECT_EQ(observer_.bars, std::vector<int>{1});
  EXPECT_EQ(TreeDigest(base_), before);
  EXPECT_FALSE(fs::exists(B("log.log")));
}

TEST_F(Classify, SortingTwiceMovesNothingMoreAndRestoresAll) {
  const std::string before = TreeDigest(base_);
  Run(Request(ClassifyMode::kPicture, 0));
  const std::string log = pwtest::ReadAll(B("log.log"));
  const ClassifyOutcome second = Run(Request(ClassifyMode::kPicture, 0));
  EXPECT_EQ(second.moved, 0u);
  EXPECT_EQ(Listing(base_), kSortedListing);
  EXPECT_EQ(pwtest::ReadAll(B("log.log")), log);
  Run(Request(ClassifyMode::kRestore));
  EXPECT_EQ(TreeDigest(base_), before);
}

TEST_F(Classify, RestoreAfterTwoSortsUndoesTheLaterFirst) {
  const std::string before = TreeDigest(base_);
  Run(Request(ClassifyMode::kPicture, 0));                      // by month
  const ClassifyOutcome second = Run(Request(ClassifyMode::kPicture, 1));  // then by size
  EXPECT_GT(second.moved, 0u);
  EXPECT_TRUE(fs::exists(B("40_30/a.jpg")));
  Run(Request(ClassifyMode::kRestore));
  EXPECT_EQ(TreeDigest(base_), before);
  EXPECT_FALSE(fs::exists(B("log.log")));
}

TEST_F(Classify, CollisionAtRestoreKeepsBothFiles) {
  Run(Request(ClassifyMode::kPicture, 0));
  dir_.Write("照片 base/a.jpg", "a new file with the old name");
  const ClassifyOutcome restored = Run(Request(ClassifyMode::kRestore));
  EXPECT_EQ(restored.failed, 1u);
  EXPECT_EQ(restored.moved, 8u);
  EXPECT_EQ(pwtest::ReadAll(B("a.jpg")), "a new file with the old name");
  EXPECT_TRUE(fs::exists(B("201607/a.jpg")));
  EXPECT_TRUE(fs::exists(B("sub1/a.jpg")));
  // Only the line that could not be restored stays.
  EXPECT_EQ(pwtest::ReadAll(B("log.log")), kHeader + B("a.jpg") + "->" + B("201607/a.jpg") + "\n");
  // Once the way is clear, a second restore finishes the job.
  fs::remove(B("a.jpg"));
  Run(Request(ClassifyMode::kRestore));
  EXPECT_TRUE(fs::exists(B("a.jpg")));
  EXPECT_FALSE(fs::exists(B("log.log")));
  EXPECT_FALSE(fs::exists(B("201607")));
}

TEST_F(Classify, ByResolutionUsesTheUprightSize) {
  const std::string folder = dir_.Mkdir("sizes");
  // Every orientation: 5 to 8 store the 40x30 picture on its side.
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string turned = folder + "/turned" + std::to_string(orientation) + ".jpg";
    ASSERT_TRUE(Sh("convert-im6.q16 -size 40x30 xc:red " + Quote(turned)));
    ASSERT_TRUE(Sh("exiftool -q -overwrite_original -Orientation#=" + std::to_string(orientation) + " " +
                   Quote(turned)));
  }
  ASSERT_TRUE(Sh("convert-im6.q16 -size 12x34 xc:red " + Quote(folder + "/tall.PNG")));
  dir_.Write("sizes/broken.jpg", "not a picture");
  ClassifyRequest request = Request(ClassifyMode::kPicture, 1);
  request.sources = SplitSources(W(folder));
  const ClassifyOutcome outcome = Run(request);
  EXPECT_EQ(outcome.moved, 9u);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_EQ(Listing(folder), ".\n./12_34\n./12_34/tall.PNG\n"
                             "./30_40\n./30_40/turned5.jpg\n./30_40/turned6.jpg\n./30_40/turned7.jpg\n./30_40/turned8.jpg\n"
                             "./40_30\n./40_30/turned1.jpg\n./40_30/turned2.jpg\n./40_30/turned3.jpg\n./40_30/turned4.jpg\n"
                             "./broken.jpg\n./log.log\n");
  EXPECT_EQ(pwtest::ReadAll(folder + "/log.log").find("broken"), std::string::npos);
}

TEST_F(Classify, AFailedMoveIsNotRecorded) {
  dir_.Write("照片 base/201607", "a file where the month folder would go");
  const ClassifyOutcome outcome = Run(Request(ClassifyMode::kPicture, 0));
  EXPECT_EQ(outcome.failed, 3u);
  EXPECT_TRUE(fs::exists(B("a.jpg")));
  EXPECT_TRUE(fs::exists(B("sub1/a.jpg")));
  EXPECT_EQ(pwtest::ReadAll(B("log.log")).find("a.jpg->"), std::string::npos);
  EXPECT_EQ(CountLines(pwtest::ReadAll(B("log.log"))), 7u);

  // The move itself fails (the file goes away between its log line and the
  // move): the line written for it is taken back.
  const std::string lone = dir_.Mkdir("lone");
  dir_.Write("lone/notes.txt", "notes");
  static std::string vanishing;
  vanishing = lone + "/notes.txt";
  g_ClassifyStepHook = [] { fs::remove(vanishing); };
  ClassifyRequest request = Request(ClassifyMode::kCustom);
  request.patterns = {L"*.*"};
  request.sources = SplitSources(W(lone));
  const ClassifyOutcome lost = Run(request);
  g_ClassifyStepHook = nullptr;
  EXPECT_EQ(lost.failed, 1u);
  EXPECT_EQ(pwtest::ReadAll(lone + "/log.log"), kHeader);
}

TEST_F(Classify, CustomPatternsSortByModificationMonthAndLeaveTheLog) {
  const std::string before = TreeDigest(base_);
  ClassifyRequest request = Request(ClassifyMode::kCustom);
  request.patterns = {L"*.TXT"};
  Run(request);
  EXPECT_TRUE(fs::exists(B("201301/notes.txt")));  // the folder search ignores letter case
  request.patterns = {L"*.*"};
  Run(request);
  EXPECT_TRUE(fs::exists(B("log.log")));
  EXPECT_TRUE(fs::exists(B("201502/bad.jpg")));
  EXPECT_TRUE(fs::exists(B("201706/readonly.bmp")));
  Run(Request(ClassifyMode::kRestore));
  EXPECT_EQ(TreeDigest(base_), before);
}

TEST_F(Classify, DroppedFilesGoToTheirCommonFolder) {
  ClassifyRequest request = Request(ClassifyMode::kPicture, 0);
  request.sources = SplitSources(W(B("sub1/a.jpg") + "|" + B("with space.png") + "|" + B("notes.txt")));
  const ClassifyOutcome outcome = Run(request);
  EXPECT_EQ(observer_.bars, std::vector<int>{50});
  EXPECT_EQ(outcome.moved, 2u);
  EXPECT_EQ(outcome.lastBaseDir, W(base_));
  EXPECT_TRUE(fs::exists(B("201607/a.jpg")));
  EXPECT_TRUE(fs::exists(B("201812/with space.png")));
  EXPECT_TRUE(fs::exists(B("notes.txt")));  // not a picture pattern
  EXPECT_EQ(CountLines(pwtest::ReadAll(B("log.log"))), 3u);
}

TEST_F(Classify, RestoreKeepsLinesItCannotUse) {
  Run(Request(ClassifyMode::kPicture, 0));
  {
    std::FILE* f = std::fopen(B("log.log").c_str(), "ab");
    std::fputs("a line without an arrow\n", f);
    std::fclose(f);
  }
  const ClassifyOutcome restored = Run(Request(ClassifyMode::kRestore));
  EXPECT_TRUE(fs::exists(B("a.jpg")));
  EXPECT_EQ(restored.failed, 1u);
  EXPECT_EQ(pwtest::ReadAll(B("log.log")), kHeader + "a line without an arrow\n");
}

TEST_F(Classify, RestoreLeavesALogItCannotReadWhole) {
  // A move log that fails part way through reading (here a link to a file
  // whose reads fail) is neither rewritten nor deleted: the moves it holds
  // are the only way back.
  fs::create_symlink("/proc/self/mem", B("log.log"));
  const ClassifyOutcome outcome = Run(Request(ClassifyMode::kRestore));
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_TRUE(fs::is_symlink(B("log.log")));
  EXPECT_EQ(fs::read_symlink(B("log.log")), "/proc/self/mem");
}

}  // namespace
