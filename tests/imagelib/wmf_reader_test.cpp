// The metafile reader on files built by metafile_build.py: a red rectangle
// at a known place must come out there, on white; the header rules (size,
// 4000-pixel limit, emptiness, checksum) and playback on several threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "imagelib/MetafilePlayback.h"
#include "imagelib/PxImageWMF.h"
#include "platform/unique_fd.h"
#include "tests/needed_programs.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

// The image library's sends to its players pass through here. Armed, the
// next one (the request to a player just started) waits until the test lets
// it go: the player meanwhile waits on its socket for the request, a point
// before which it has opened nothing of its own.
namespace sendgate {
std::mutex mutex;
std::condition_variable changed;
bool armed = false, holding = false, released = false;

void Arm() {
  std::lock_guard<std::mutex> lock(mutex);
  armed = true;
  holding = released = false;
}
bool Holding() {
  std::lock_guard<std::mutex> lock(mutex);
  return holding;
}
void Release() {
  std::lock_guard<std::mutex> lock(mutex);
  armed = false;
  released = true;
  changed.notify_all();
}
}  // namespace sendgate

extern "C" ssize_t send(int fd, const void* data, size_t size, int flags) {
  {
    std::unique_lock<std::mutex> lock(sendgate::mutex);
    if (sendgate::armed) {
      sendgate::armed = false;
      sendgate::holding = true;
      sendgate::changed.wait(lock, [] { return sendgate::released; });
      sendgate::holding = false;
    }
  }
  return ::syscall(SYS_sendto, fd, data, size, flags, nullptr, 0);
}

namespace {

const std::string kBuilder = std::string(PW_TEST_SOURCE_DIR) + "/metafile_build.py";

class Wmf : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Sh("/usr/bin/python3 " + Quote(kBuilder) + " " + Quote(dir_.path()))); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

constexpr uint32_t kRed = 0xFF0000, kWhite = 0xFFFFFF;

// Colour at (x, y) counted from the top, as the picture is seen.
uint32_t Seen(const PxImage& image, int x, int y) {
  return pxtest::Rgb(image, x, static_cast<int>(image.Height()) - 1 - y);
}

// Red inside the box (one pixel of slack at each edge), white outside it.
void ExpectBox(const PxImage& image, int left, int top, int right, int bottom, const std::string& name) {
  int wrong = 0;
  for (int y = 0; y < static_cast<int>(image.Height()); y += 1 + static_cast<int>(image.Height()) / 200)
    for (int x = 0; x < static_cast<int>(image.Width()); x += 1 + static_cast<int>(image.Width()) / 200) {
      const bool inside = x > left && x < right - 1 && y > top && y < bottom - 1;
      const bool outside = x < left - 1 || x > right || y < top - 1 || y > bottom;
      if (inside && Seen(image, x, y) != kRed) ++wrong;
      if (outside && Seen(image, x, y) != kWhite) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << name;
}

TEST_F(Wmf, RectangleComesOutAtItsPlace) {
  struct Case {
    const char* file;
    uint32_t width, height;
    int left, top, right, bottom;
  };
  // 2000 x 1000 units at 1000 per inch on a 96-dpi screen: 192 x 96.
  const Case cases[] = {
      {"rect.wmf", 192, 96, 48, 24, 144, 72},
      {"offset.wmf", 192, 96, 48, 24, 144, 72},    // frame from (500, 300)
      {"negative.wmf", 192, 96, 48, 24, 144, 72},  // frame from (-500, -300)
      {"rect.emf", 200, 100, 50, 25, 150, 75},
      {"wide.emf", 4000, 1000, 1000, 250, 3000, 750},  // 8000 x 2000 drawn at the limit
      // Rectangles in the upper part: the picture is the right way up.
      {"upper.wmf", 192, 96, 48, 10, 144, 38},
      {"upper.emf", 200, 100, 50, 10, 150, 40},
      {"v1.emf", 200, 100, 50, 10, 150, 40},  // the 88-byte header of the first version
      // The placeable frame maps its box (1000 units at 1440 per inch) onto
      // the picture whatever mapping mode the file sets.
      {"anisotropic.wmf", 67, 67, 7, 7, 60, 60},
      {"mmtext.wmf", 67, 67, 7, 7, 60, 60},
  };
  for (const Case& c : cases) {
    auto image = Load(Path(c.file), 0, kFormatUnknown);
    ASSERT_TRUE(image) << c.file;
    EXPECT_EQ(image->info.formatId, kFormatWmf);
    EXPECT_EQ(image->Bpp(), 24u);
    EXPECT_EQ(image->Width(), c.width) << c.file;
    EXPECT_EQ(image->Height(), c.height) << c.file;
    ExpectBox(*image, c.left, c.top, c.right, c.bottom, c.file);
  }
}

TEST_F(Wmf, HeaderRules) {
  struct Case {
    const char* file;
    const char* error;
  };
  const Case cases[] = {
      {"badsum.wmf", "corrupted WMF"},
      {"empty.wmf", "empty WMF"},
      {"empty.emf", "empty WMF"},
  };
  for (const Case& c : cases) {
    for (int escape : {0, -1}) {  // the dimensions-only read checks emptiness too
      PxImage image;
      image.info.escape = escape;
      EXPECT_FALSE(image.LoadFile(pw::NarrowToWide(Path(c.file)), kFormatWmf)) << c.file;
      EXPECT_STREQ(image.LastError(), c.error) << c.file;
    }
  }
  PxImage size;
  size.info.escape = -1;
  ASSERT_TRUE(size.LoadFile(pw::NarrowToWide(Path("wide.emf")), kFormatWmf));
  EXPECT_EQ(size.Width(), 8000u);
  EXPECT_EQ(size.Height(), 2000u);
  EXPECT_STREQ(size.LastError(), "output dimensions returned");

  auto thin = Load(Path("thin.emf"), 0, kFormatWmf);
  ASSERT_TRUE(thin);
  EXPECT_EQ(thin->Width(), 4000u);
  EXPECT_EQ(thin->Height(), 1u);

  PxImage picture(4, 4, 24, 0);
  PxMemFile out;
  out.Open();
  EXPECT_FALSE(picture.Encode(&out, kFormatWmf));
  EXPECT_STREQ(picture.LastError(), "Save WMF not supported");
}

// A byte count beyond the file is cut to what the file holds; cut files,
// and counts and sizes that lie, fail cleanly or draw what is there.
TEST_F(Wmf, LyingAndCutFilesAreSafe) {
  const std::vector<uint8_t> emf = pxtest::ReadBytes(Path("rect.emf"));
  const std::vector<uint8_t> wmf = pxtest::ReadBytes(Path("rect.wmf"));
  std::vector<uint8_t> longCount = emf;
  longCount[48] = longCount[49] = longCount[50] = 0xFF;
  longCount[51] = 0x7F;
  PxImage image;
  {
    PxMemFile file(longCount.data(), static_cast<int32_t>(longCount.size()));
    ASSERT_TRUE(image.Decode(&file, kFormatWmf)) << image.LastError();
    ExpectBox(image, 50, 25, 150, 75, "long count");
  }
  // A largest record the header makes up is never what the player sizes
  // its buffer by.
  std::vector<uint8_t> bigRecord = wmf;
  bigRecord[22 + 12] = bigRecord[22 + 13] = bigRecord[22 + 14] = 0xFF;
  bigRecord[22 + 15] = 0x7F;
  {
    PxMemFile file(bigRecord.data(), static_cast<int32_t>(bigRecord.size()));
    PxImage claimed;
    ASSERT_TRUE(claimed.Decode(&file, kFormatWmf)) << claimed.LastError();
    ExpectBox(claimed, 48, 24, 144, 72, "largest record");
  }
  for (const auto* whole : {&emf, &wmf}) {
    for (size_t cut = 1; cut < whole->size(); cut += 7) {
      std::vector<uint8_t> part(whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(cut));
      PxMemFile file(part.data(), static_cast<int32_t>(part.size()));
      PxImage piece;
      if (!piece.Decode(&file, kFormatWmf)) {
        EXPECT_STRNE(piece.LastError(), "") << cut;
      }
    }
  }
  // A huge record size inside an otherwise sound EMF.
  std::vector<uint8_t> hostile = emf;
  hostile[108 + 4] = 0xF0;
  hostile[108 + 7] = 0x7F;
  PxMemFile file(hostile.data(), static_cast<int32_t>(hostile.size()));
  PxImage broken;
  if (!broken.Decode(&file, kFormatWmf)) {
    EXPECT_STREQ(broken.LastError(), "corrupted WMF");
  }
}

// The processes threads of this process have started and not yet reaped.
std::vector<pid_t> ChildPids() {
  std::vector<pid_t> pids;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    for (pid_t pid; children >> pid;) pids.push_back(pid);
  }
  return pids;
}

std::string ProcText(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process state letter of /proc/<pid>/stat ('T' stopped, 'Z' ended).
char ProcState(pid_t pid) {
  const std::string stat = ProcText(pid, "stat");
  const size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? 'X' : stat[close + 2];
}

// The soft value of a line of /proc/<pid>/limits ("unlimited" or a number).
std::string SoftLimit(pid_t pid, const std::string& name) {
  std::istringstream lines(ProcText(pid, "limits"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name, 0) != 0) continue;
    std::istringstream values(line.substr(26));
    std::string soft;
    values >> soft;
    return soft;
  }
  return {};
}

const auto kPatience = std::chrono::seconds(60);

// A read of the metafile that costs the player its whole processor
// allowance, on a thread of its own. Hold() stops its player (SIGSTOP) once
// the player program runs with its limits set: from then on the read cannot
// end by itself before the library's 30-second answer deadline.
class SlowRead {
 public:
  SlowRead() {
    bytes_ = pxtest::ReadBytes(std::string(PW_TEST_DATA) + "/crashers/wmf/slow-wmf-1000-full-frame-rectangles.wmf");
    thread_ = std::thread([this] {
      PxMemFile file(bytes_.data(), static_cast<int32_t>(bytes_.size()));
      ok_ = image_.Decode(&file, kFormatWmf);
      error_ = image_.LastError();
      done_ = true;
    });
  }
  ~SlowRead() { Finish(); }

  // The held player, or 0 when the read ended before it could be held (a
  // machine too busy to look in time: the caller starts another).
  pid_t Hold() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done_ && std::chrono::steady_clock::now() < deadline) {
      for (pid_t pid : ChildPids()) {
        if (ProcText(pid, "comm").rfind("pixelwharf-meta", 0) != 0) continue;  // not yet the player program
        ::kill(pid, SIGSTOP);
        char state = ProcState(pid);
        while (state != 'T' && state != 'Z' && state != 'X' && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          state = ProcState(pid);
        }
        if (state == 'T' && SoftLimit(pid, "Max cpu time") != "unlimited") {
          held_ = pid;
          return pid;
        }
        ::kill(pid, SIGCONT);  // before its limits: let it go on a little
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
  }
  // Asks the read to stop, as a batch that is cancelled does.
  void Cancel() { std::atomic_ref<int32_t>(image_.info.escape).store(1); }
  bool Done() const { return done_; }
  // Waits for the read; a held player is let go first unless `keepHeld`.
  void Finish(bool keepHeld = false) {
    if (held_ && !keepHeld) ::kill(held_, SIGCONT);
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  std::vector<uint8_t> bytes_;
  PxImage image_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  bool ok_ = false;
  std::string error_;
  pid_t held_ = 0;
};

// Starts slow reads until one's player is held (a read that ends before its
// player is seen is not what the test is about).
std::unique_ptr<SlowRead> HeldSlowRead(pid_t* pid) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    auto read = std::make_unique<SlowRead>();
    if ((*pid = read->Hold()) != 0) return read;
  }
  ADD_FAILURE() << "no slow player could be held";
  return nullptr;
}

// A metafile whose player is held does not hold up the metafiles of the
// other batch workers: while it is stopped, another one is read whole. Were
// playbacks one after another, the small one would wait for the held one
// (which ends only at the library's answer deadline).
TEST_F(Wmf, OneSlowMetafileDoesNotHoldUpOthers) {
  ASSERT_FALSE(pxtest::ReadBytes(std::string(PW_TEST_DATA) + "/crashers/wmf/slow-wmf-1000-full-frame-rectangles.wmf")
                   .empty());
  pid_t pid = 0;
  auto slow = HeldSlowRead(&pid);
  ASSERT_TRUE(slow);
  auto image = Load(Path("rect.wmf"), 0, kFormatWmf);
  EXPECT_FALSE(slow->Done()) << "the small metafile waited for the slow one";
  ASSERT_TRUE(image);
  EXPECT_EQ(Seen(*image, 96, 48), kRed);
  slow->Finish();
  EXPECT_FALSE(slow->ok());
  EXPECT_EQ(slow->error(), "corrupted WMF");  // past its processor allowance
}

// The player waiting on its socket for a request that the image library
// is held from sending: its limits are set, it has opened nothing yet, and
// it is blocked in a read of its standard input. Returns its process, or 0
// when none came there within the test's patience.
pid_t PlayerWaitingForItsRequest() {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (sendgate::Holding()) {
      for (pid_t pid : ChildPids()) {
        if (ProcText(pid, "comm").rfind("pixelwharf-meta", 0) != 0) continue;  // not yet the player program
        // The system call it is blocked in: read (0) of descriptor 0.
        std::istringstream call(ProcText(pid, "syscall"));
        std::string number, descriptor;
        call >> number >> descriptor;
        if (number == "0" && descriptor == "0x0" && SoftLimit(pid, "Max cpu time") != "unlimited") return pid;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}

// A stop asked for while the player runs ends it at once: the player here is
// held and would never answer. The player also shows what it was given: its
// limits, and no descriptor but its socket and /dev/null (not the ones the
// program opened without close-on-exec). The descriptors are looked at
// while the player waits for its request, before it has opened anything of
// its own: later, while it plays, it may hold files it opened itself.
TEST_F(Wmf, RunningPlayerIsCancelledAndKeepsNothingOfTheProgram) {
  int leaked[2];
  ASSERT_EQ(::pipe(leaked), 0);  // no close-on-exec
  pw::UniqueFd leakedRead(leaked[0]), leakedWrite(leaked[1]);
  sendgate::Arm();
  SlowRead slow;
  const pid_t pid = PlayerWaitingForItsRequest();
  if (!pid) sendgate::Release();
  ASSERT_NE(pid, 0) << "no player came to wait for its request";

  std::set<std::string> descriptors;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    descriptors.insert(entry.path().filename().string());
  EXPECT_EQ(descriptors, (std::set<std::string>{"0", "1", "2"}));
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/2"), "/dev/null");
#if defined(__SANITIZE_ADDRESS__)
  constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
  constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
  constexpr bool kAddressSanitizer = false;
#endif
  if (!kAddressSanitizer) {
    EXPECT_EQ(SoftLimit(pid, "Max data size"), std::to_string(metafile::kPlayerMemoryBytes));
  }
  const std::string cpu = SoftLimit(pid, "Max cpu time");
  EXPECT_TRUE(cpu == std::to_string(metafile::kPlayerCpuSeconds) ||
              cpu == std::to_string(4 * metafile::kPlayerCpuSeconds))
      << cpu;

  // Held for good, then given its request: it never answers.
  ::kill(pid, SIGSTOP);
  sendgate::Release();
  slow.Cancel();
  slow.Finish(/*keepHeld=*/true);
  EXPECT_FALSE(slow.ok());
  EXPECT_EQ(slow.error(), "Cancelled");
  // The player was ended and reaped.
  const std::vector<pid_t> left = ChildPids();
  EXPECT_EQ(std::count(left.begin(), left.end(), pid), 0);
}

// The player as an installation lays it out, found relative to the program
// that uses the library (the build tree's player is not used).
TEST_F(Wmf, InstalledPlayerIsFoundBesideTheInstalledProgram) {
  pwtest::TempTree prefix;
  const std::string install = "cmake --install " + Quote(PW_BINARY_DIR) + " --prefix " + Quote(prefix.path()) +
                              " --component metafile_player";
  ASSERT_TRUE(pwtest::CheckProgramOf(install));
  ASSERT_TRUE(Sh(install)) << install;
  std::filesystem::create_directories(prefix / "bin");
  std::filesystem::copy_file(PW_INSTALLED_PROBE, prefix / "bin/probe");
  const std::string out = pxtest::Capture(Quote(prefix / "bin/probe") + " " + Quote(Path("upper.wmf")));
  const auto installed = std::filesystem::weakly_canonical(prefix / "libexec/pixelwharf/pixelwharf-metafile-player");
  EXPECT_EQ(out, "player " + installed.string() + "\npicture 192x96 red at the top\n");
}

// Metafiles are read from several threads at once, as the batch tools do:
// each picture must still come out whole.
TEST_F(Wmf, ParallelReadsAgree) {
  std::vector<std::thread> workers;
  int failures[6] = {};
  for (int t = 0; t < 6; ++t) {
    workers.emplace_back([&, t] {
      for (int round = 0; round < 4; ++round) {
        auto image = Load(Path(t % 2 ? "rect.wmf" : "rect.emf"), 0, kFormatWmf);
        if (!image || Seen(*image, 96, 48) != kRed || Seen(*image, 5, 5) != kWhite) ++failures[t];
      }
    });
  }
  for (auto& w : workers) w.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
