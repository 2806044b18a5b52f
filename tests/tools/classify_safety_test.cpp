// The sorting tool under the things a real photo tree and a real machine do
// to it: the process killed at every step of a sort and of a restore, names
// the move log cannot hold, move logs with lines that lead out of the tree,
// and "log.log" files that the sort did not write. Whatever happens, a
// restore gives back the very same tree, and nothing outside it is touched.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tools/ClassifyTool.h"
#include "tools/MoveLog.h"
#include "tools_test_support.h"

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

int g_stepsLeft = 0;

void KillAtStep() {
  if (--g_stepsLeft == 0) ::raise(SIGKILL);
}

ClassifyRequest Request(ClassifyMode mode, const std::string& folder) {
  ClassifyRequest request;
  request.mode = mode;
  request.patterns = {L"*.*"};
  request.sources = SplitSources(W(folder));
  return request;
}

ClassifyOutcome RunTool(ClassifyMode mode, const std::string& folder) {
  return RunClassify(Request(mode, folder), nullptr, nullptr);
}

// Runs the tool in a child process that is killed (SIGKILL) at its
// `killAt`-th step. True when it was killed, false when it ran to the end.
bool RunKilledAt(ClassifyMode mode, const std::string& folder, int killAt) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    g_stepsLeft = killAt;
    g_ClassifyStepHook = KillAtStep;
    RunClassify(Request(mode, folder), nullptr, nullptr);
    ::_exit(0);
  }
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    return true;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return false;
}

class SortSafety : public ::testing::Test {
 protected:
  void SetUp() override { root_ = dir_.Mkdir("root"); }
  void File(const std::string& path, const std::string& touch, const std::string& text = "x") {
    fs::create_directories(fs::path(path).parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    ASSERT_TRUE(Sh("touch -d '" + touch + "' " + Quote(path)));
  }
  // Same names in several folders, Chinese names with spaces, a read-only
  // file, a name that is not UTF-8, a truncated picture, a link.
  void MakeTree(const std::string& base) {
    File(base + "/a.jpg", "2016-07-21 10:00");
    File(base + "/sub1/a.jpg", "2016-07-02 08:00", "second");
    File(base + "/sub2/a.jpg", "2016-07-30 23:00", "third");
    File(base + "/中文 照片.jpeg", "2020-01-15 12:00");
    File(base + "/ro.png", "2017-06-01 12:00");
    ::chmod((base + "/ro.png").c_str(), 0444);
    File(base + "/bad\xff\xfe.gif", "2018-12-01 12:00");
    File(base + "/cut.jpg", "2019-02-01 12:00", "\xff\xd8\xff\xe0 cut off");
    // A link to a picture kept elsewhere (one to a picture of the tree
    // would dangle once that is sorted, and fail).
    if (!fs::exists(root_ + "/linked.jpg")) File(root_ + "/linked.jpg", "2011-11-11 11:00");
    fs::create_symlink(root_ + "/linked.jpg", base + "/link.jpg");
  }

  pwtest::TempTree dir_;
  std::string root_;
};

TEST_F(SortSafety, KilledSortsAndRestoresAlwaysRestoreTheTree) {
  const std::string model = root_ + "/model";
  MakeTree(model);
  const std::string start = TreeDigest(model);
  // Every step of the sort, and of the restore after it, is a kill point;
  // odd rounds sort the rest of the tree before the restore.
  bool sortKilled = true;
  int round = 0;
  for (int killAt = 1; sortKilled; ++killAt, ++round) {
    SCOPED_TRACE("kill at step " + std::to_string(killAt));
    const std::string tree = root_ + "/t" + std::to_string(round);
    ASSERT_TRUE(Sh("cp -a " + Quote(model) + " " + Quote(tree)));
    sortKilled = RunKilledAt(ClassifyMode::kCustom, tree, killAt);
    if (round % 2 == 1) {
      EXPECT_EQ(RunTool(ClassifyMode::kCustom, tree).failed, 0u);
    }
    RunKilledAt(ClassifyMode::kRestore, tree, 1 + killAt % 8);
    const ClassifyOutcome restored = RunTool(ClassifyMode::kRestore, tree);
    EXPECT_EQ(restored.failed, 0u);
    EXPECT_FALSE(fs::exists(tree + "/log.log"));
    EXPECT_EQ(TreeDigest(tree), start) << Listing(tree);
    fs::remove_all(tree);
  }
  EXPECT_GT(round, 12);  // every file's steps were hit
}

TEST_F(SortSafety, NamesTheLogCannotHoldStayWhereTheyAre) {
  struct Case {
    const char* what;
    const char* folder;  // the sorted folder, below root
    const char* odd;     // the file that must stay, below the folder
  } cases[] = {
      {"arrow in a file name", "f1", "a->b.jpg"},
      {"line feed in a file name", "f2", "line\nbreak.jpg"},
      {"carriage return in a file name", "f3", "cr\rname.jpg"},
      {"arrow in a folder name", "f4", "x->/a.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = root_ + "/" + c.folder;
    File(base + "/plain.jpg", "2016-07-21 10:00");
    File(base + "/" + c.odd, "2016-07-21 10:00");
    const std::string start = TreeDigest(base);
    const ClassifyOutcome sorted = RunTool(ClassifyMode::kCustom, base);
    EXPECT_EQ(sorted.failed, 1u);
    ASSERT_EQ(sorted.report.unloggedFailures.size(), 1u);
    EXPECT_EQ(sorted.report.unloggedFailures[0], W(base + "/" + c.odd));
    EXPECT_TRUE(fs::exists(base + "/" + c.odd));
    EXPECT_TRUE(fs::exists(base + "/201607/plain.jpg"));
    const ClassifyOutcome restored = RunTool(ClassifyMode::kRestore, base);
    EXPECT_EQ(restored.failed, 0u);
    EXPECT_EQ(TreeDigest(base), start);
  }
  // A sorted folder whose own name holds the arrow: nothing can be logged,
  // so nothing moves, and every file is told as failed.
  const std::string arrowBase = root_ + "/x->";
  File(arrowBase + "/a.jpg", "2016-07-21 10:00");
  const std::string start = TreeDigest(arrowBase);
  EXPECT_EQ(RunTool(ClassifyMode::kCustom, arrowBase).failed, 1u);
  EXPECT_EQ(RunTool(ClassifyMode::kRestore, arrowBase).failed, 0u);
  EXPECT_EQ(TreeDigest(arrowBase), start);
}

TEST_F(SortSafety, RestoreKeepsEveryLineThatDoesNotStayInsideTheTree) {
  const std::string base = root_ + "/base";
  const std::string outside = root_ + "/outside";
  File(outside + "/victim.jpg", "2016-07-21 10:00", "not part of the sort");
  File(base + "/201607/a.jpg", "2016-07-21 10:00");
  File(base + "/x->/keep.jpg", "2016-07-21 10:00");
  const std::string lines[] = {
      base + "/x->/a.jpg->" + base + "/201607/a.jpg",  // splits two ways
      base + "/stolen.jpg->" + outside + "/victim.jpg",  // new path outside
      outside + "/victim.jpg->" + base + "/201607/a.jpg",  // old path outside
      base + "/sub/../../outside/v.jpg->" + base + "/201607/a.jpg",  // steps out
      "relative.jpg->" + base + "/201607/a.jpg",
      base + "->" + base + "/201607/a.jpg",  // the tree itself
  };
  std::string log = pw::WideToNarrow(kMoveLogHeader) + "\n";
  for (const std::string& line : lines) log += line + "\n";
  File(base + "/log.log", "2020-01-01 12:00", log);
  const std::string outsideBefore = TreeDigest(outside);
  const ClassifyOutcome restored = RunTool(ClassifyMode::kRestore, base);
  EXPECT_EQ(restored.failed, std::size(lines));
  EXPECT_EQ(restored.moved, 0u);
  EXPECT_EQ(pwtest::ReadAll(base + "/log.log"), log);
  EXPECT_EQ(TreeDigest(outside), outsideBefore);
  EXPECT_TRUE(fs::exists(base + "/201607/a.jpg"));
  EXPECT_FALSE(fs::exists(base + "/stolen.jpg"));
}

TEST_F(SortSafety, OnlyALogTheSortWroteIsRestoredOrAppendedTo) {
  struct Case {
    const char* what;
    std::string log;  // "B" stands for the folder
  } cases[] = {
      {"a conversion's result log", "B/a.png->B/a.jpg\n"},
      {"a resize's result log", "B/a.jpg->B/amorvalen.jpg\nResizeB/b.jpg Failed!\n"},
      {"the user's own notes", "my notes -> not moves\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = root_ + "/c" + std::to_string(n++);
    File(base + "/a.jpg", "2016-07-21 10:00");  // a.png was deleted since
    File(base + "/amorvalen.jpg", "2016-07-21 10:00");
    std::string log = c.log;
    for (size_t at = log.find('B'); at != std::string::npos; at = log.find('B', at + base.size()))
      log.replace(at, 1, base);
    File(base + "/log.log", "2020-01-01 12:00", log);
    const std::string start = TreeDigest(base);
    const ClassifyOutcome restored = RunTool(ClassifyMode::kRestore, base);
    EXPECT_EQ(restored.moved, 0u);
    EXPECT_EQ(TreeDigest(base), start);
    // Nor does a sort append its moves to it: with no way to log them, no
    // file moves.
    const ClassifyOutcome sorted = RunTool(ClassifyMode::kCustom, base);
    EXPECT_EQ(sorted.moved, 0u);
    EXPECT_EQ(sorted.failed, 2u);
    EXPECT_EQ(TreeDigest(base), start);
  }
}

}  // namespace
