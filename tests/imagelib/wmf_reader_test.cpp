// The metafile reader on files built by metafile_build.py: a red rectangle
// at a known place must come out there, on white; the header rules (size,
// 4000-pixel limit, emptiness, checksum) and playback on several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TestSupport.h"
#include "imagelib/PxImageWMF.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

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

// Whether a thread of this process has started a process that is still there.
bool AnyChildProcess() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    std::string pid;
    if (children >> pid) return true;
  }
  return false;
}

// A metafile that costs the player its whole processor allowance does not
// hold up the metafiles of the other batch workers: while it plays, another
// one is read whole.
TEST_F(Wmf, OneSlowMetafileDoesNotHoldUpOthers) {
  const std::vector<uint8_t> slow =
      pxtest::ReadBytes(std::string(PW_TEST_DATA) + "/crashers/wmf/slow-wmf-1000-full-frame-rectangles.wmf");
  ASSERT_FALSE(slow.empty());
  std::atomic<bool> slowDone{false};
  std::thread player([&] {
    std::vector<uint8_t> bytes = slow;
    PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
    PxImage image;
    EXPECT_FALSE(image.Decode(&file, kFormatWmf));
    EXPECT_STREQ(image.LastError(), "corrupted WMF");
    slowDone = true;
  });
  // Its playback has begun once its player process is there.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!AnyChildProcess() && !slowDone && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(slowDone) << "the slow metafile ended before its playback was seen";
  auto image = Load(Path("rect.wmf"), 0, kFormatWmf);
  EXPECT_FALSE(slowDone) << "the small metafile waited for the slow one";
  ASSERT_TRUE(image);
  EXPECT_EQ(Seen(*image, 96, 48), kRed);
  player.join();
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
