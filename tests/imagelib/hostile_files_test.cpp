// The replay table of hostile files (tests/data/crashers/): small files that
// once cost seconds, hundreds of megabytes or a wrong answer. Each must end
// quickly with the outcome and the text listed here. Run in every test pass,
// under the sanitizers too; the fuzz replay tests run the same files through
// the fuzz targets' fuller road.
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "imagelib/PxImage.h"

namespace {

enum class Outcome { kFails, kDamaged, kReads };

struct HostileFile {
  const char* path;  // below tests/data/crashers/
  ImageFormatId format;
  Outcome outcome;
  const char* text;  // part of the last-error text (failures and damaged reads)
  // Bounds of one decode, measured in a child process (0: not measured).
  double seconds = 0;
  uint32_t mebibytes = 0;
};

const HostileFile kHostileFiles[] = {
    {"png/oom-text-chunk-claims-637mb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-text-after-image-claims-2gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-iccp-claims-1gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-private-chunk-claims-1gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"gif/slow-zero-screen-huge-frame.gif", kFormatGif, Outcome::kDamaged, "GIF: image data ends before the last row"},
    {"gif/slow-huge-screen-one-pixel-frame.gif", kFormatGif, Outcome::kReads, ""},
    {"gif/slow-huge-screen-restore-previous-frames.gif", kFormatGif, Outcome::kReads, ""},
    {"gif/slow-fuzzed-frames-on-57599x37008-screen.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/slow-fuzzed-frame-18759x65496.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/oom-fuzzed-palette-screen-made-true-colour.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/slow-fuzzed-true-colour-composition.gif", kFormatGif, Outcome::kDamaged, "GIF: "},
    {"tif/slow-bilevel-65535x32000-turned.tif", kFormatTif, Outcome::kDamaged, "Corrupted TIFF file!"},
    {"jas/slow-16384-square-blank-in-102-bytes.j2k", kFormatJpc, Outcome::kFails, "error: cannot load image data",
     2, 400},
    {"jas/oom-65025-one-pixel-tiles-in-102-bytes.j2k", kFormatJpc, Outcome::kFails,
     "error: cannot load image data", 2, 400},
    {"mng/slow-9000-square-canvas-30-one-pixel-frames-in-a-loop.mng", kFormatMng, Outcome::kReads, "", 2, 400},
};

class Hostile : public testing::TestWithParam<HostileFile> {};

// The largest resident size of this process in KiB ("VmHWM"; "VmRSS" for the
// current one), 0 when it cannot be read.
uint64_t StatusKib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::strtoull(line.c_str() + std::strlen(field) + 1, nullptr, 10);
  }
  return 0;
}

struct Cost {
  double seconds = -1;
  uint64_t kib = 0;
};

// One decode in a child process, so its peak memory is its own: the child
// resets its high-water mark, decodes, and reports the time and the growth.
Cost MeasureDecode(const std::vector<uint8_t>& bytes, ImageFormatId id) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    std::ofstream("/proc/self/clear_refs") << "5";
    const uint64_t before = StatusKib("VmRSS:");
    std::vector<uint8_t> copy = bytes;
    const auto start = std::chrono::steady_clock::now();
    {
      PxMemFile file(copy.data(), static_cast<int32_t>(copy.size()));
      PxImage image;
      image.Decode(&file, id);
    }
    Cost cost;
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t peak = StatusKib("VmHWM:");
    cost.kib = peak > before ? peak - before : 0;
    const ssize_t written = write(pipeEnds[1], &cost, sizeof cost);
    _exit(written == static_cast<ssize_t>(sizeof cost) ? 0 : 1);
  }
  close(pipeEnds[1]);
  Cost cost;
  if (child < 0 || read(pipeEnds[0], &cost, sizeof cost) != static_cast<ssize_t>(sizeof cost)) cost = Cost{};
  close(pipeEnds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return cost;
}

TEST_P(Hostile, EndsQuicklyWithAClearAnswer) {
  const HostileFile& h = GetParam();
  std::vector<uint8_t> bytes = pxtest::ReadBytes(std::string(PW_TEST_DATA) + "/crashers/" + h.path);
  ASSERT_FALSE(bytes.empty()) << h.path;
  // The format's own road; the fuzz replay tests take the same files through
  // the try-every-format road as well.
  for (ImageFormatId id : {h.format}) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
    PxImage image;
    const bool ok = image.Decode(&file, id);
    EXPECT_EQ(ok, h.outcome != Outcome::kFails) << image.LastError();
    if (ok) {
      EXPECT_GT(image.Width(), 0u);
      EXPECT_EQ(image.IsDamaged(), h.outcome == Outcome::kDamaged);
    }
    if (h.outcome != Outcome::kReads) {
      EXPECT_NE(std::string(image.LastError()).find(h.text), std::string::npos) << image.LastError();
    }
    if (h.seconds > 0 || h.mebibytes > 0) {
      const Cost cost = MeasureDecode(bytes, id);
      ASSERT_GE(cost.seconds, 0.0) << "the measuring child failed";
      if (h.seconds > 0) {
        EXPECT_LT(cost.seconds, h.seconds);
      }
      if (h.mebibytes > 0) {
        EXPECT_LT(cost.kib, uint64_t{h.mebibytes} * 1024);
      }
    }
  }
}

std::string NameOf(const testing::TestParamInfo<HostileFile>& info) {
  std::string name = info.param.path;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Hostile, testing::ValuesIn(kHostileFiles), NameOf);

}  // namespace
