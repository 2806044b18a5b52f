// The resizing tool against its peers on the same folder of photos.
//
// Makes N photos of 6000 x 4000 (a textured synthetic picture written by our
// JPEG writer at quality 92, EXIF added by exiftool, then copied) and
// resizes the folder at quality 90 by the tool's keep-ratio rule with a
// target of 1920 x 1920: the shorter side becomes 1920, so every photo comes
// out 2880 x 1920. The peers are asked for exactly that size:
//   - pixelwharf: our batch run, t worker threads, one picture each;
//   - vips-threads: one vipsthumbnail process with VIPS_CONCURRENCY=t;
//   - vips-procs: t vipsthumbnail processes side by side (VIPS_CONCURRENCY=1),
//     each given its share of the files: file-level parallelism like ours;
//   - mogrify: ImageMagick 6, MAGICK_THREAD_LIMIT=t (with --mogrify).
// vipsthumbnail comes from Debian's libvips-tools (not installed by
// scripts/setup); missing peers are skipped. Each run is a child process:
// wall time from steady_clock, CPU time and peak resident memory from
// wait4 (for several processes, the largest one's). The runs of one round
// are interleaved and repeated; the table shows medians, so a machine that
// other work shares disturbs every tool alike. Then one picture of ours step
// by step, and the quality of the reduced decode against a box-filtered
// reference made by ImageMagick.
//
// Usage: resize_bench [--photos N] [--dir FOLDER] [--threads 1,8] [--runs R]
//                     [--mogrify] [--keep]
//        resize_bench --one PICTURE   one picture through the tool, in this
//                                     process (for valgrind --tool=callgrind)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchStats.h"
#include "core/ExifHelpers.h"
#include "core/StringHelpers.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "platform/text.h"
#include "tools/PictureOps.h"
#include "tools/ResizePictures.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using pw::bench::Median;

constexpr int kTarget = 1920;
constexpr int kBaseW = 6000, kBaseH = 4000;

struct Measure {
  double wall = 0, cpu = 0, peakMb = 0;
  int status = 0;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

Measure WaitChild(pid_t child, Clock::time_point start) {
  Measure m;
  struct rusage usage {};
  int status = 0;
  ::wait4(child, &status, 0, &usage);
  m.wall = Seconds(Clock::now() - start);
  // The child's own usage and that of every process it waited for; the
  // peak is the largest single process's.
  m.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
          usage.ru_stime.tv_usec / 1e6;
  m.peakMb = usage.ru_maxrss / 1024.0;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

Measure RunCommand(const std::string& command) {
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return WaitChild(child, start);
}

ResizeRule BenchRule() { return ResizeRule{false, true, false, kTarget, kTarget}; }

Measure RunOurs(const std::string& folder, int threads) {
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const ResizeRule rule = BenchRule();
    g_ResizeFixedWidth = rule.fixedWidth;
    g_ResizeKeepRatio = rule.keepRatio;
    g_ResizeFixedHeight = rule.fixedHeight;
    g_ResizeWidth = rule.width;
    g_ResizeHeight = rule.height;
    g_ResizeGrayscale = false;
    g_ResizeIgnoreMin = false;
    g_JpegQuality = 90;
    ResizeRequest request;
    request.sources = SplitSources(pw::NarrowToWide(folder));
    request.patterns = {L"*.jpg"};
    request.overwrite = false;
    request.threadCount = threads;
    const ResizeOutcome outcome = RunResize(request, nullptr, nullptr);
    ::_exit(outcome.notDone == 0 ? 0 : 1);
  }
  return WaitChild(child, start);
}

void RemoveResults(const std::string& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find("morvalen") != std::string::npos || name == "log.log") fs::remove(entry.path());
  }
}

// A picture with edges, gradients and fine grain, so the JPEG coder has
// about as much to do as with a photo.
bool MakeBase(const std::string& path, uint32_t width, uint32_t height) {
  PxImage image;
  if (!image.Create(width, height, 24, kFormatJpg)) return false;
  std::mt19937 random(42);
  std::vector<uint8_t> grain(4096);
  for (uint8_t& g : grain) g = static_cast<uint8_t>(random() % 24);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = image.RowAt(y);
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t g = grain[(x * 7 + y * 13) & 4095];
      const bool tile = ((x / 375) + (y / 250)) % 2 == 0;
      row[3 * x + 0] = static_cast<uint8_t>((x * 200 / width) + g);
      row[3 * x + 1] = static_cast<uint8_t>((y * 200 / height) + g);
      row[3 * x + 2] = static_cast<uint8_t>((tile ? 180 : 40) + g);
    }
  }
  image.info.jpegQuality = 92;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  PxIOFile file(f);
  const bool ok = image.Encode(&file, kFormatJpg);
  std::fclose(f);
  return ok;
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// The decode scale the resizer picks (the same rule as the tool's: the
// strongest 1/2^k whose rounded-up size still covers the output).
int CoveringScale(int storedW, int storedH, int w, int h) {
  for (int d : {8, 4, 2})
    if ((storedW + d - 1) / d >= w && (storedH + d - 1) / d >= h) return d;
  return 1;
}

// One picture of ours, step by step.
void Breakdown(const std::string& path, int w, int h) {
  const std::wstring wide = pw::NarrowToWide(path);
  const std::string out = path + ".step.jpg";
  auto t0 = Clock::now();
  int32_t w0 = 0, h0 = 0;
  ReadShownSize(wide, w0, h0);
  auto t1 = Clock::now();
  ExifTagSource tags(wide);
  auto t2 = Clock::now();
  PxImage image;
  image.info.jpegScale = static_cast<uint8_t>(CoveringScale(w0, h0, w, h));
  image.LoadFile(wide, kFormatJpg);
  auto t3 = Clock::now();
  const uint32_t decodedW = image.Width(), decodedH = image.Height();
  image.Rescale(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1);
  auto t4 = Clock::now();
  image.info.jpegQuality = 90;
  WritePicture(image, pw::NarrowToWide(out), kFormatJpg);
  auto t5 = Clock::now();
  RestoreExifTags(pw::NarrowToWide(out), tags.Tags());
  auto t6 = Clock::now();
  fs::remove(out);
  std::printf("\none picture of ours, in ms: header %.1f, EXIF read %.1f, decode to %ux%u %.1f, "
              "resample %.1f, encode+write %.1f, EXIF write %.1f\n",
              Seconds(t1 - t0) * 1e3, Seconds(t2 - t1) * 1e3, decodedW, decodedH,
              Seconds(t3 - t2) * 1e3, Seconds(t4 - t3) * 1e3, Seconds(t5 - t4) * 1e3,
              Seconds(t6 - t5) * 1e3);
}

// PSNR against ImageMagick's box filter of the full picture, for the
// nearest-pixel resample of a full decode and of the reduced decode.
void Quality(const std::string& dir, const std::string& base, int w, int h) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  const std::string reference = dir + "/reference.png";
  if (std::system(("convert-im6.q16 '" + base + "' -filter box -resize '" + size + "!' '" +
                   reference + "'").c_str()) != 0)
    return;
  std::printf("\nPSNR against a box-filtered %s reference (ImageMagick):\n", size.c_str());
  for (int scale : {1, CoveringScale(kBaseW, kBaseH, w, h)}) {
    PxImage image;
    image.info.jpegScale = static_cast<uint8_t>(scale);
    if (!image.LoadFile(pw::NarrowToWide(base), kFormatJpg)) continue;
    const uint32_t dw = image.Width(), dh = image.Height();
    image.Rescale(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1);
    const std::string out = dir + "/quality_" + std::to_string(scale) + ".png";
    if (!WritePicture(image, pw::NarrowToWide(out), kFormatPng)) continue;
    const std::string psnr = Shell("compare-im6.q16 -metric PSNR '" + out + "' '" + reference +
                                   "' null: 2>&1");
    std::printf("  decode 1/%d (%ux%u), nearest pixel to %s: %s dB\n", scale, dw, dh,
                size.c_str(), psnr.c_str());
    fs::remove(out);
  }
  fs::remove(reference);
}

struct Tool {
  std::string name;
  int threads;
  std::vector<Measure> runs;
};

}  // namespace

int main(int argc, char** argv) {
  int photos = 12;
  int rounds = 5;
  bool mogrify = false;
  std::string dir = (fs::temp_directory_path() / "pw-resize-bench").string();
  std::vector<int> threads = {1, 8};
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--one" && i + 1 < argc) {
      const ResizeRule rule = BenchRule();
      g_ResizeKeepRatio = rule.keepRatio;
      g_ResizeWidth = rule.width;
      g_ResizeHeight = rule.height;
      g_JpegQuality = 90;
      ResizeRequest request;
      request.sources = SplitSources(pw::NarrowToWide(argv[i + 1]));
      request.threadCount = 1;
      return RunResize(request, nullptr, nullptr).done == 1 ? 0 : 1;
    }
    if (arg == "--photos" && i + 1 < argc) photos = std::atoi(argv[++i]);
    else if (arg == "--runs" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (arg == "--mogrify") mogrify = true;
    else if (arg == "--keep") keep = true;
    else if (arg == "--threads" && i + 1 < argc) {
      threads.clear();
      std::stringstream list(argv[++i]);
      std::string item;
      while (std::getline(list, item, ',')) threads.push_back(std::atoi(item.c_str()));
    }
  }
  const std::string in = dir + "/in", out = dir + "/out";
  fs::create_directories(in);
  const std::string base = dir + "/base.jpg";
  if (!fs::exists(base)) {
    std::printf("making %s (%d x %d)...\n", base.c_str(), kBaseW, kBaseH);
    if (!MakeBase(base, kBaseW, kBaseH)) return 1;
    std::system(("exiftool -q -overwrite_original -Make=Pixelwharf -Model=BENCH "
                 "-DateTimeOriginal='2021:05:06 07:08:09' -GPSLatitude=31.23 -GPSLatitudeRef=N "
                 "-GPSLongitude=121.47 -GPSLongitudeRef=E " + base).c_str());
  }
  std::vector<std::string> files;
  for (int i = 0; i < photos; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/photo_%03d.jpg", i);
    if (!fs::exists(in + name)) fs::copy_file(base, in + name);
    files.push_back(in + name);
  }
  RemoveResults(in);

  int32_t w = 0, h = 0;
  ApplySizeRule(BenchRule(), kBaseW, kBaseH, w, h);
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  std::printf("%d photos of %.1f MB (%dx%d) in %s\n", photos, fs::file_size(base) / 1048576.0,
              kBaseW, kBaseH, in.c_str());
  std::printf("size rule: keep ratio with target %dx%d, the shorter side becomes %d "
              "(the tool's rule): every photo to %s; the peers are asked for %s\n",
              kTarget, kTarget, kTarget, size.c_str(), size.c_str());
  std::printf("load average at start: %s\n", Shell("cut -d' ' -f1-3 /proc/loadavg").c_str());
  const bool haveVips = std::system("command -v vipsthumbnail >/dev/null") == 0;
  if (!haveVips) std::printf("(vipsthumbnail missing: apt-get install libvips-tools)\n");

  // Warm-up: read every file once so all runs start from the page cache.
  std::system(("cat " + in + "/*.jpg > /dev/null").c_str());

  std::vector<Tool> tools;
  for (int t : threads) {
    tools.push_back({"pixelwharf", t, {}});
    if (haveVips) {
      tools.push_back({"vips-threads", t, {}});
      tools.push_back({"vips-procs", t, {}});
    }
    if (mogrify) tools.push_back({"mogrify", t, {}});
  }
  auto vipsCommand = [&](const std::string& list, int concurrency) {
    return "VIPS_CONCURRENCY=" + std::to_string(concurrency) + " vipsthumbnail -s " + size +
           " -o '" + out + "/%s.jpg[Q=90]' " + list;
  };
  bool sizesChecked = false;
  for (int round = 0; round < rounds; ++round) {
    for (Tool& tool : tools) {
      RemoveResults(in);
      fs::remove_all(out);
      fs::create_directories(out);
      const int t = tool.threads;
      Measure m;
      if (tool.name == "pixelwharf") {
        m = RunOurs(in, t);
      } else if (tool.name == "vips-threads") {
        m = RunCommand(vipsCommand(in + "/*.jpg", t));
      } else if (tool.name == "vips-procs") {
        // t processes, the files dealt out in turn.
        std::string command;
        for (int p = 0; p < t; ++p) {
          std::string list;
          for (size_t f = size_t(p); f < files.size(); f += size_t(t)) list += " " + files[f];
          if (!list.empty()) command += "(" + vipsCommand(list, 1) + ") & ";
        }
        m = RunCommand(command + "wait");
      } else {
        m = RunCommand("MAGICK_THREAD_LIMIT=" + std::to_string(t) + " mogrify-im6.q16 -path " +
                       out + " -resize " + size + " -quality 90 " + in + "/*.jpg");
      }
      if (m.status != 0) std::printf("(%s, %d: exit status %d)\n", tool.name.c_str(), t, m.status);
      if (!sizesChecked && round == 0) {
        const std::string made = tool.name == "pixelwharf"
                                     ? in + "/photo_000morvalen.jpg"
                                     : out + "/photo_000.jpg";
        const std::string got = Shell("identify-im6.q16 -format '%wx%h' '" + made + "' 2>&1");
        if (got != size) std::printf("(%s wrote %s, not %s)\n", tool.name.c_str(), got.c_str(),
                                     size.c_str());
      }
      tool.runs.push_back(m);
    }
    sizesChecked = true;
    std::printf("round %d of %d done, load average %s\n", round + 1, rounds,
                Shell("cut -d' ' -f1-3 /proc/loadavg").c_str());
    std::fflush(stdout);
  }
  RemoveResults(in);
  fs::remove_all(out);

  std::printf("\nmedians of %d interleaved rounds\n", rounds);
  std::printf("%-13s %7s %8s %8s %8s %11s %8s %10s\n", "tool", "threads", "wall s", "CPU s",
              "files/s", "peak MB", "MB/worker", "ours is");
  std::map<int, double> oursWall;
  for (const Tool& tool : tools) {
    std::vector<double> wall, cpu, peak;
    for (const Measure& m : tool.runs) {
      wall.push_back(m.wall);
      cpu.push_back(m.cpu);
      peak.push_back(m.peakMb);
    }
    const double mw = Median(wall), mp = Median(peak);
    if (tool.name == "pixelwharf") oursWall[tool.threads] = mw;
    // Our workers share one process; a peer process is one worker.
    const double perWorker = tool.name == "pixelwharf" ? mp / tool.threads : mp;
    char ratio[32] = "-";
    if (tool.name != "pixelwharf" && oursWall[tool.threads] > 0)
      std::snprintf(ratio, sizeof ratio, "%.2fx faster", mw / oursWall[tool.threads]);
    std::printf("%-13s %7d %8.2f %8.2f %8.2f %11.1f %8.1f %10s\n", tool.name.c_str(),
                tool.threads, mw, Median(cpu), photos / mw, mp, perWorker, ratio);
  }
  std::printf("(peak MB: one process's peak resident memory; for vips-procs the largest of "
              "the processes; MB/worker: ours divided by its threads)\n");
  std::printf("load average at end: %s\n", Shell("cut -d' ' -f1-3 /proc/loadavg").c_str());

  Breakdown(files[0], w, h);
  Quality(dir, base, w, h);
  if (!keep) fs::remove_all(dir);
  return 0;
}
