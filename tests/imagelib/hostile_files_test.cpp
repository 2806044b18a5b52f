// The replay table of hostile files (tests/data/crashers/): small files that
// once cost seconds, hundreds of megabytes or a wrong answer. Each must end
// with the outcome and the text listed here, within a bound on processor
// time and memory. Run in every test pass,
// under the sanitizers too; the fuzz replay tests run the same files through
// the fuzz targets' fuller road.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "TestSupport.h"
#include "imagelib/PxImage.h"

// Processor time and memory are bounded in the normal (optimised,
// uninstrumented) build only: sanitizers and debug builds cost several
// times both. Processor time is what a busy machine does not stretch; the
// wall clock is never looked at.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PW_HOSTILE_BOUNDS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define PW_HOSTILE_BOUNDS 0
#endif
#endif
#ifndef PW_HOSTILE_BOUNDS
#ifdef NDEBUG
#define PW_HOSTILE_BOUNDS 1
#else
#define PW_HOSTILE_BOUNDS 0
#endif
#endif

namespace {

enum class Outcome { kFails, kDamaged, kReads };

struct HostileFile {
  const char* path;  // below tests/data/crashers/
  ImageFormatId format;
  Outcome outcome;
  const char* text;  // part of the last-error text (failures and damaged reads)
  // Bounds on the decode in the normal build (0: not bounded): processor
  // seconds, the decode's helper processes included, and peak MiB. The
  // files cost well under 1/20 of their bound (most under a millisecond),
  // except where a row says otherwise.
  double maxCpuSeconds = 0;
  long maxMiB = 0;
};

const HostileFile kHostileFiles[] = {
    {"png/oom-text-chunk-claims-637mb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-text-after-image-claims-2gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-iccp-claims-1gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-private-chunk-claims-1gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"gif/slow-zero-screen-huge-frame.gif", kFormatGif, Outcome::kDamaged, "GIF: image data ends before the last row",
     2.0, 400},
    {"gif/slow-huge-screen-one-pixel-frame.gif", kFormatGif, Outcome::kReads, ""},
    {"gif/slow-huge-screen-restore-previous-frames.gif", kFormatGif, Outcome::kReads, ""},
    {"gif/slow-fuzzed-frames-on-57599x37008-screen.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/slow-fuzzed-frame-18759x65496.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/oom-fuzzed-palette-screen-made-true-colour.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/slow-fuzzed-true-colour-composition.gif", kFormatGif, Outcome::kDamaged, "GIF: "},
    {"tif/slow-bilevel-65535x32000-turned.tif", kFormatTif, Outcome::kDamaged, "Corrupted TIFF file!", 2.0, 400},
    {"tif/slow-bilevel-65417x28672-orientation-7.tif", kFormatTif, Outcome::kDamaged, "Corrupted TIFF file!", 2.0,
     400},
    {"jas/slow-16384-square-blank-in-102-bytes.j2k", kFormatJpc, Outcome::kFails, "error: cannot load image data",
     2, 400},
    {"jas/oom-65025-one-pixel-tiles-in-102-bytes.j2k", kFormatJpc, Outcome::kFails,
     "error: cannot load image data", 2, 400},
    {"mng/slow-9000-square-canvas-30-one-pixel-frames-in-a-loop.mng", kFormatMng, Outcome::kReads, "", 2, 400},
    // Metafiles are played at up to 4000 x 4000 pixels, and each record may
    // cover all of them: playback stops at the player's processor limit (1 s
    // soft, 2 s hard), which these two files reach, so what they cost is the
    // limit itself; 4 s is twice the hard limit, and far below what the full
    // playback costs (tens of seconds).
    {"wmf/slow-wmf-1000-full-frame-rectangles.wmf", kFormatWmf, Outcome::kFails, "corrupted WMF", 4, 400},
    {"wmf/slow-emf-2000-full-frame-rectangles.emf", kFormatWmf, Outcome::kFails, "corrupted WMF", 4, 400},
    // One full-frame record played whole: about 0.35 s.
    {"wmf/slow-wmf-one-full-frame-rectangle.wmf", kFormatWmf, Outcome::kReads, "", 8, 400},
};

struct Cost {
  double cpuSeconds = 0;  // processor time, helper processes included
  long peakMiB = 0;  // the decoding process's peak resident memory
  bool ran = false;
};

// Decodes in a child process, so its peak memory is its own.
Cost MeasureDecode(std::vector<uint8_t> bytes, ImageFormatId id) {
  Cost cost;
  const pid_t child = fork();
  if (child < 0) return cost;
  if (child == 0) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
    PxImage image;
    image.Decode(&file, id);
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) return cost;
  cost.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  cost.peakMiB = usage.ru_maxrss / 1024;  // kilobytes on Linux; the largest of the process and its helpers
  cost.ran = true;
  return cost;
}

class Hostile : public testing::TestWithParam<HostileFile> {};

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
  }
  // A small file must not cost seconds of processor time or hundreds of
  // megabytes.
  if (PW_HOSTILE_BOUNDS && (h.maxCpuSeconds > 0 || h.maxMiB > 0)) {
    const Cost cost = MeasureDecode(bytes, h.format);
    ASSERT_TRUE(cost.ran);
    if (h.maxCpuSeconds > 0) {
      EXPECT_LE(cost.cpuSeconds, h.maxCpuSeconds) << h.path;
    }
    if (h.maxMiB > 0) {
      EXPECT_LE(cost.peakMiB, h.maxMiB) << h.path;
    }
    RecordProperty("cpu_seconds", std::to_string(cost.cpuSeconds));
    RecordProperty("peak_mib", std::to_string(cost.peakMiB));
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
