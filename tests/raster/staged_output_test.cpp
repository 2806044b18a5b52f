// The working file beside the target and the side files a writer leaves
// next to it, written here by hand as GDAL's drivers name them.
#include "raster/StagedOutput.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using pw::StagedOutput;
using pwtest::ScratchDir;

using pwtest::Contents;
using pwtest::Put;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// "<working>.aux.xml" follows the whole name, "<stem>.wld" replaces the
// extension: each lands on the target's name of the same shape, over what
// was there; a neighbour whose name only looks alike stays.
TEST(StagedOutput, SideFilesFollowTheImageUnderTheTargetsName) {
  ScratchDir dir;
  const std::string target = dir.File("map.v2.bmp");
  Put(target, "old image");
  Put(dir.File("map.v2.wld"), "old world");
  Put(dir.File("map.wld"), "another image's world");
  StagedOutput staged(target);
  std::string error;
  ASSERT_TRUE(staged.Open(error)) << error;
  const std::string working = staged.WorkingPath();
  ASSERT_EQ(working.substr(working.size() - 4), ".bmp");
  const std::string stem = working.substr(0, working.size() - 4);
  Put(working, "new image");
  Put(working + ".aux.xml", "new pam");
  Put(stem + ".wld", "new world");
  EXPECT_FALSE(pwtest::Exists(target + ".aux.xml"));
  EXPECT_EQ(Contents(target), "old image");

  ASSERT_TRUE(staged.Commit(error)) << error;
  EXPECT_EQ(Contents(target), "new image");
  EXPECT_EQ(Contents(target + ".aux.xml"), "new pam");
  EXPECT_EQ(Contents(dir.File("map.v2.wld")), "new world");
  EXPECT_EQ(Contents(dir.File("map.wld")), "another image's world");
  EXPECT_EQ(Names(dir.Path()),
            (std::vector<std::string>{"map.v2.bmp", "map.v2.bmp.aux.xml", "map.v2.wld", "map.wld"}));
}

// A new file gets the usual mode (not the working file's private 0600); a
// replaced one keeps its own.
TEST(StagedOutput, ModeOfANewAndOfAReplacedFile) {
  ScratchDir dir;
  const mode_t mask = umask(022);
  for (const bool existing : {false, true}) {
    const std::string target = dir.File(existing ? "old.tif" : "new.tif");
    if (existing) {
      Put(target, "old");
      ASSERT_EQ(chmod(target.c_str(), 0604), 0);
    }
    StagedOutput staged(target);
    std::string error;
    ASSERT_TRUE(staged.Open(error)) << error;
    Put(staged.WorkingPath(), "new");
    ASSERT_TRUE(staged.Commit(error)) << error;
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, existing ? mode_t(0604) : mode_t(0644)) << target;
  }
  umask(mask);
}

// Nothing of the target's name is touched by a discarded output, by one
// dropped unfinished, or by a commit whose rename fails (the name is a
// folder); the working file and its side files go every time.
TEST(StagedOutput, FailuresLeaveTheTargetAndNothingOfOurs) {
  ScratchDir dir;
  const std::string target = dir.File("t.png");
  Put(target, "old image");
  Put(target + ".aux.xml", "old pam");
  for (int way = 0; way < 2; ++way) {
    StagedOutput staged(target);
    std::string error;
    ASSERT_TRUE(staged.Open(error)) << error;
    Put(staged.WorkingPath(), "new");
    Put(staged.WorkingPath() + ".aux.xml", "new pam");
    if (way == 0) staged.Discard();
  }
  EXPECT_EQ(Contents(target), "old image");
  EXPECT_EQ(Contents(target + ".aux.xml"), "old pam");
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"t.png", "t.png.aux.xml"}));

  const std::string folder = dir.File("f.png");
  std::filesystem::create_directory(folder);
  Put(folder + "/inside", "kept");
  StagedOutput staged(folder);
  std::string error;
  ASSERT_TRUE(staged.Open(error)) << error;
  Put(staged.WorkingPath(), "new");
  Put(staged.WorkingPath() + ".aux.xml", "new pam");
  EXPECT_FALSE(staged.Commit(error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Contents(folder + "/inside"), "kept");
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"f.png", "t.png", "t.png.aux.xml"}));

  StagedOutput nowhere(dir.File("missing/x.png"));
  EXPECT_FALSE(nowhere.Open(error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
