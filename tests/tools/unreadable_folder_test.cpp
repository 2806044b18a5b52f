// A folder the tools cannot list (no permission) is a failure of the run,
// named in the result log and the end box, never skipped in silence; and a
// file name that holds a line end keeps its log entry on one line.
//
// Root reads a folder of mode 000, and CI runs the tests as root: the runs
// happen in a child that first gives up root for the "nobody" user.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "tests/platform/temp_tree.h"
#include "tests/tools/resize_rule.h"
#include "tests/tools/tools_test_support.h"
#include "tools/ClassifyTool.h"
#include "tools/CloneExif.h"
#include "tools/Convertor.h"
#include "tools/MergeTool.h"
#include "tools/ResizePictures.h"

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

// Runs `body` in a child without root's right to read every folder; the
// child's exit code (90 when it could not give up root, 91 when it can
// still read a folder of mode 000).
int WithoutRoot(const std::string& lockedFolder, const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
      ::_exit(90);
    if (::access(lockedFolder.c_str(), R_OK) == 0) ::_exit(91);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// The end-box text of a run, written by the child where the parent reads it.
void KeepReport(const std::string& path, const RunReport& report) {
  std::ofstream(path, std::ios::binary) << pw::WideToNarrow(RunReportText(report));
}

class UnreadableFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    photos_ = dir_.Mkdir("photos");
    locked_ = dir_.Mkdir("photos/locked");
    for (const std::string& path : {photos_ + "/a.jpg", locked_ + "/b.jpg", photos_ + "/new\nline.jpg"})
      ASSERT_TRUE(Sh("convert-im6.q16 -size 64x48 gradient:red-blue " + Quote(path)));
    // Everything open to the unprivileged child, but the locked folder.
    ASSERT_TRUE(Sh("chmod -R a+rwX " + Quote(dir_.path())));
    ASSERT_EQ(::chmod(locked_.c_str(), 0), 0);
  }

  pwtest::TempTree dir_;
  std::string photos_, locked_;
};

TEST_F(UnreadableFolder, ResizeFailsTheRunAndNamesIt) {
  const std::string report = dir_ / "report.txt", alone = dir_ / "alone.txt";
  const int done = WithoutRoot(locked_, [&] {
    SetResizeRule(true, false, false, 32, 32);
    ResizeRequest request;
    request.patterns = {L"jpg"};
    request.sources = SplitSources(W(photos_));
    const ResizeOutcome outcome = RunResize(request, nullptr, nullptr);
    KeepReport(report, outcome.report);
    // The field set to the locked folder itself.
    request.sources = SplitSources(W(locked_));
    KeepReport(alone, RunResize(request, nullptr, nullptr).report);
    return static_cast<int>(outcome.done);
  });
  ASSERT_EQ(done, 2) << "90: root not given up, 91: the locked folder still reads";
  // One line per entry: the name with a line end keeps its entry on one line.
  EXPECT_EQ(pwtest::ReadAll(photos_ + "/log.log"),
            photos_ + "/a.jpg->" + photos_ + "/amorvalen.jpg\n" + photos_ + "/new\\nline.jpg->" + photos_ +
                "/new\\nlinemorvalen.jpg\nResize" + locked_ + " Failed! (无法读取此文件夹)\n");
  const std::string text = pwtest::ReadAll(report);
  EXPECT_NE(text.find("以下文件夹无法读取，其中的文件没有处理：\n  " + locked_ + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("失败记录见日志：\n  " + photos_ + "/log.log"), std::string::npos) << text;
  // Not "nothing found": the folder was there, but could not be read.
  const std::string aloneText = pwtest::ReadAll(alone);
  EXPECT_EQ(aloneText.find("没有找到可处理的文件"), std::string::npos) << aloneText;
  EXPECT_NE(aloneText.find("以下文件夹无法读取，其中的文件没有处理：\n  " + locked_ + "\n"), std::string::npos)
      << aloneText;
}

TEST_F(UnreadableFolder, SortByDateNamesIt) {
  fs::remove(photos_ + "/new\nline.jpg");  // a move log holds no such name: the sort leaves it
  const std::string report = dir_ / "report.txt";
  const int moved = WithoutRoot(locked_, [&] {
    ClassifyRequest request;
    request.mode = ClassifyMode::kPicture;
    request.method = 0;
    request.patterns = {L"jpg"};
    request.sources = SplitSources(W(photos_));
    const ClassifyOutcome outcome = RunClassify(request, nullptr, nullptr);
    KeepReport(report, outcome.report);
    return static_cast<int>(outcome.moved);
  });
  ASSERT_EQ(moved, 1) << "90: root not given up, 91: the locked folder still reads";
  const std::string text = pwtest::ReadAll(report);
  EXPECT_NE(text.find("以下文件夹无法读取，其中的文件没有处理：\n  " + locked_ + "\n"), std::string::npos) << text;
}

// Conversion and merge write the same failure line with their own word.
TEST_F(UnreadableFolder, ConversionAndMergeNameItInTheirLogs) {
  fs::remove(photos_ + "/new\nline.jpg");
  const std::string convertReport = dir_ / "convert.txt", mergeReport = dir_ / "merge.txt";
  const int result = WithoutRoot(locked_, [&] {
    ConvertRequest convert;
    convert.patterns = {L"jpg"};
    convert.sameFolder = true;
    convert.targets.jpg = false;
    convert.targets.png = true;
    convert.sources = SplitSources(W(photos_));
    const ConvertOutcome converted = RunConvert(convert, nullptr, nullptr);
    KeepReport(convertReport, converted.report);
    std::rename((photos_ + "/log.log").c_str(), (photos_ + "/convert.log").c_str());
    MergeRequest merge;
    merge.patterns = {L"jpg"};
    merge.sources = SplitSources(W(photos_));
    const MergeOutcome merged = RunMerge(merge, nullptr, nullptr);
    KeepReport(mergeReport, merged.report);
    return static_cast<int>(converted.done * 10 + merged.outputs.size());
  });
  // a.jpg converted, and merged alone.
  ASSERT_EQ(result, 11) << "90: root not given up, 91: the locked folder still reads\n" << pwtest::ReadAll(photos_ + "/convert.log");
  const std::string failure = locked_ + " Failed! (无法读取此文件夹)\n";
  EXPECT_EQ(pwtest::ReadAll(photos_ + "/convert.log"),
            photos_ + "/a.jpg->" + photos_ + "/a.png\nConvert" + failure);
  EXPECT_EQ(pwtest::ReadAll(photos_ + "/log.log"),
            "Merge" + failure + photos_ + "合并到" + (dir_ / "photos_Horizontal.jpg") + "\n");
  for (const std::string& report : {convertReport, mergeReport}) {
    const std::string text = pwtest::ReadAll(report);
    EXPECT_NE(text.find("以下文件夹无法读取，其中的文件没有处理：\n  " + locked_ + "\n"), std::string::npos) << text;
  }
}

// The cloning tool's receiving tree with a folder it cannot list: counted
// as a failure of the run, logged, and named in the end box.
TEST_F(UnreadableFolder, CloneCountsItAndNamesIt) {
  fs::remove(photos_ + "/new\nline.jpg");
  const std::string source = dir_.Mkdir("source");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 64x48 xc:red " + Quote(source + "/a.jpg") +
                 " && exiftool -q -overwrite_original -Model=SRC " + Quote(source + "/a.jpg") +
                 " && chmod -R a+rwX " + Quote(source)));
  const std::string report = dir_ / "report.txt";
  const int result = WithoutRoot(locked_, [&] {
    const CloneBatchOutcome outcome = RunCloneExifBatch(W(source), W(photos_), {L"*.jpg"}, 2, nullptr, nullptr);
    KeepReport(report, outcome.report);
    return static_cast<int>(outcome.done * 10 + outcome.failed);
  });
  ASSERT_EQ(result, 11) << "done * 10 + failed; 90: root not given up, 91: the locked folder still reads";
  EXPECT_EQ(pwtest::ReadAll(photos_ + "/log.log"), source + "/a.jpg->" + photos_ + "/a.jpg\nCloneExif" + locked_ +
                                                        " Failed! (无法读取此文件夹)\n");
  const std::string text = pwtest::ReadAll(report);
  EXPECT_NE(text.find("以下文件夹无法读取，其中的文件没有处理：\n  " + locked_ + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("有 1 个文件处理失败！"), std::string::npos) << text;
}

}  // namespace
