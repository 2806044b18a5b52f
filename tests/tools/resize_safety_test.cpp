// A resize run in overwrite mode that cannot finish — the file system is
// full, the file-size limit is hit, or the process is killed half way —
// leaves every picture either exactly as it was or as the complete new
// picture, never half written.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "tools/CloneExif.h"
#include "tools/ResizePictures.h"
#include "tools/StagedPicture.h"

using namespace tooltest;

namespace {

constexpr int kPictures = 16;

std::string PictureName(int i) { return "p" + std::to_string(100 + i) + ".jpg"; }

// kPictures JPEGs of 800x600 with EXIF tags, made by ImageMagick and exiftool.
void MakePictures(const std::string& folder) {
  fs::create_directories(folder);
  const std::string first = folder + "/" + PictureName(0);
  Shell("convert-im6.q16 -size 800x600 plasma:fractal -quality 92 " + Quote(first) +
        " && exiftool -q -overwrite_original -Make=Pixelwharf -Model=SAFE " + Quote(first));
  for (int i = 1; i < kPictures; ++i)
    Shell("cp -p " + Quote(first) + " " + Quote(folder + "/" + PictureName(i)));
}

void RunOverwrite(const std::string& folder, int threads) {
  // Upscaled: each result needs more room than its source.
  SetResizeRule(false, true, false, 1600, 1600);
  ResizeRequest request;
  request.sources = SplitSources(W(folder));
  request.patterns = {L"*.jpg"};
  request.overwrite = true;
  request.threadCount = threads;
  RunResize(request, nullptr, nullptr);
}

struct Census {
  int old = 0;
  int replaced = 0;
};

// Every picture is the original byte for byte, or a complete 2134x1600
// picture that kept its tags. Leftover working files (a killed process
// cannot remove them) are hidden and never taken for pictures.
Census CheckEveryPicture(const std::string& folder, const std::string& original) {
  Census census;
  const std::string before = ReadFile(original);
  for (int i = 0; i < kPictures; ++i) {
    const std::string path = folder + "/" + PictureName(i);
    SCOPED_TRACE(path);
    const std::string now = ReadFile(path);
    if (now == before) {
      ++census.old;
      continue;
    }
    EXPECT_EQ(Identify(path), "2134x1600;");
    EXPECT_EQ(Tag(path, "Model"), "SAFE");
    ++census.replaced;
  }
  for (const std::string& leftover : StagedLeftovers(folder))
    EXPECT_TRUE(IsStagedName(W(leftover))) << leftover;
  std::vector<std::wstring> listed = ListPictures(W(folder), {L"*.jpg"});
  EXPECT_EQ(listed.size(), static_cast<size_t>(kPictures));
  return census;
}

}  // namespace

TEST(ResizeSafety, FileSizeLimitFailsCleanly) {
  TreeCopy tree;
  const std::string folder = tree / "limit";
  MakePictures(folder);
  const std::string original = tree / "original.jpg";
  Shell("cp -p " + Quote(folder + "/" + PictureName(0)) + " " + Quote(original));
  const uintmax_t limit = fs::file_size(original) + 4096;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // No result may grow beyond a little more than its source.
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    RunOverwrite(folder, 4);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const Census census = CheckEveryPicture(folder, original);
  EXPECT_EQ(census.old, kPictures);  // every write was too big
  EXPECT_TRUE(StagedLeftovers(folder).empty());
  const std::string log = ReadFile(folder + "/log.log");
  for (int i = 0; i < kPictures; ++i)
    EXPECT_NE(log.find("Resize" + folder + "/" + PictureName(i) + " Failed!\n"),
              std::string::npos);
}

TEST(ResizeSafety, KilledHalfWay) {
  TreeCopy tree;
  const std::string folder = tree / "kill";
  MakePictures(folder);
  const std::string original = tree / "original.jpg";
  Shell("cp -p " + Quote(folder + "/" + PictureName(0)) + " " + Quote(original));
  std::vector<ino_t> inodes;
  for (int i = 0; i < kPictures; ++i) inodes.push_back(Stat(folder + "/" + PictureName(i)).st_ino);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RunOverwrite(folder, 2);
    ::_exit(0);
  }
  // Kill it as soon as the first picture has been replaced.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool replaced = false;
  while (!replaced && std::chrono::steady_clock::now() < deadline) {
    for (int i = 0; i < kPictures && !replaced; ++i)
      replaced = Stat(folder + "/" + PictureName(i)).st_ino != inodes[i];
    if (!replaced) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const Census census = CheckEveryPicture(folder, original);
  EXPECT_GE(census.replaced, 1);
  std::printf("killed with %d replaced, %d untouched\n", census.replaced, census.old);
}

// The same run in a small file system of its own that fills up half way.
// Needs a mount namespace (unshare -rm); skipped where there is none.
TEST(ResizeSafety, NearlyFullFileSystem) {
  TreeCopy tree;
  const std::string source = tree / "full-src";
  MakePictures(source);
  const std::string out = tree / "full-out", mount = tree / "mnt";
  fs::create_directories(out);
  fs::create_directories(mount);
  uintmax_t total = 0;
  for (int i = 0; i < kPictures; ++i) total += fs::file_size(source + "/" + PictureName(i));
  // Room for the pictures and their blocks, and about three results more.
  const uintmax_t size = total + kPictures * 4096 + 3 * 600 * 1024;
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string script =
      "mount -t tmpfs -o size=" + std::to_string(size) + " pwtest " + Quote(mount) +
      " || exit 77; cp -p " + Quote(source) + "/*.jpg " + Quote(mount) + "/ || exit 78; " +
      "PW_RESIZE_CHILD_DIR=" + Quote(mount) + " " + Quote(self) +
      " --gtest_filter=ResizeSafetyChild.RunFromEnvironment >/dev/null 2>&1; " +
      "cp -a " + Quote(mount) + "/. " + Quote(out) + "/";
  int status = 0;
  Shell("unshare -rm sh -c " + Quote(script) + " 2>/dev/null", &status);
  if (status != 0 && !fs::exists(out + "/" + PictureName(0)))
    GTEST_SKIP() << "no private tmpfs here (unshare -rm, mount), status " << status;
  ASSERT_EQ(status, 0);
  const Census census = CheckEveryPicture(out, source + "/" + PictureName(0));
  EXPECT_GE(census.old, 1);  // the file system filled up
  std::printf("full file system: %d replaced, %d untouched\n", census.replaced, census.old);
  EXPECT_TRUE(StagedLeftovers(out).empty());
}

// Run by NearlyFullFileSystem inside its mount namespace.
TEST(ResizeSafetyChild, RunFromEnvironment) {
  const char* folder = std::getenv("PW_RESIZE_CHILD_DIR");
  if (!folder) GTEST_SKIP() << "only run inside NearlyFullFileSystem";
  RunOverwrite(folder, 4);
}

// Cloning rewrites the receiving pictures: when no result fits under the
// file-size limit, every receiving picture stays exactly as it was.
TEST(CloneSafety, FileSizeLimitLeavesReceivingPicturesWhole) {
  TreeCopy tree;
  const std::string source = tree / "src", receiving = tree / "recv";
  MakePictures(source);
  MakePictures(receiving);
  Shell("exiftool -q -overwrite_original -all= " + Quote(receiving) + "/*.jpg");
  const std::string before = ReadFile(receiving + "/" + PictureName(0));
  const uintmax_t limit = before.size() / 2;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    RunCloneExifBatch(W(source), W(receiving), {L"*.jpg"}, 4, nullptr, nullptr);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  for (int i = 0; i < kPictures; ++i)
    EXPECT_EQ(ReadFile(receiving + "/" + PictureName(i)), before) << PictureName(i);
  EXPECT_TRUE(StagedLeftovers(receiving).empty());
  const std::string log = ReadFile(receiving + "/log.log");
  EXPECT_NE(log.find("CloneExif" + source + "/" + PictureName(0) + " Failed!\n"),
            std::string::npos);
}
