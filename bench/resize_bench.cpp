// The resizing tool against its peers on the same folder of photos.
//
// Makes N photos of 6000 x 4000 (a textured synthetic picture written by our
// JPEG writer at quality 92, EXIF added by exiftool, then copied), and
// resizes the folder to fit 1920 x 1920 at quality 90 with 1, 4 and 8
// threads: our batch run (each thread one picture), ImageMagick 6's
// mogrify -resize 1920x1920 -quality 90 (MAGICK_THREAD_LIMIT threads per
// picture) and libvips' vipsthumbnail -s 1920 (VIPS_CONCURRENCY threads,
// from the libvips-tools package, skipped when missing). Each run is a
// child process: wall time from steady_clock, CPU time and peak resident
// memory from wait4. Then one picture of ours step by step, to show where
// the time goes.
//
// Usage: resize_bench [--photos N] [--dir FOLDER] [--threads 1,4,8] [--keep]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/StringHelpers.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "platform/text.h"
#include "core/ExifHelpers.h"
#include "tools/PictureOps.h"
#include "tools/ResizePictures.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

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

Measure RunOurs(const std::string& folder, int threads) {
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    g_ResizeFixedWidth = false;
    g_ResizeKeepRatio = true;
    g_ResizeFixedHeight = false;
    g_ResizeWidth = 1920;
    g_ResizeHeight = 1920;
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

void Row(const char* tool, int threads, const Measure& m, int photos, double oursWall) {
  char ratio[32] = "-";
  if (oursWall > 0) std::snprintf(ratio, sizeof ratio, "%.2fx", m.wall / oursWall);
  std::printf("%-14s %7d %9.2f %9.2f %9.1f %9.2f %8s\n", tool, threads, m.wall, m.cpu, m.peakMb,
              photos / m.wall, ratio);
}

// One picture of ours, step by step.
void Breakdown(const std::string& path) {
  const std::wstring wide = pw::NarrowToWide(path);
  const std::string out = path + ".step.jpg";
  auto t0 = Clock::now();
  int32_t w0 = 0, h0 = 0;
  ReadShownSize(wide, w0, h0);
  auto t1 = Clock::now();
  ExifTagSource tags(wide);
  auto t2 = Clock::now();
  PxImage image;
  image.LoadFile(wide, kFormatJpg);
  auto t3 = Clock::now();
  int32_t w = 0, h = 0;
  ApplySizeRule(ResizeRule{false, true, false, 1920, 1920}, w0, h0, w, h);
  image.Rescale(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1);
  auto t4 = Clock::now();
  image.info.jpegQuality = 90;
  WritePicture(image, pw::NarrowToWide(out), kFormatJpg);
  auto t5 = Clock::now();
  RestoreExifTags(pw::NarrowToWide(out), tags.Tags());
  auto t6 = Clock::now();
  fs::remove(out);
  std::printf("\none picture of ours, in ms: header %.1f, EXIF read %.1f, decode %.1f, "
              "resample %.1f, encode+write %.1f, EXIF write %.1f\n",
              Seconds(t1 - t0) * 1e3, Seconds(t2 - t1) * 1e3, Seconds(t3 - t2) * 1e3,
              Seconds(t4 - t3) * 1e3, Seconds(t5 - t4) * 1e3, Seconds(t6 - t5) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  int photos = 100;
  std::string dir = (fs::temp_directory_path() / "pw-resize-bench").string();
  std::vector<int> threads = {1, 4, 8};
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--photos" && i + 1 < argc) photos = std::atoi(argv[++i]);
    else if (arg == "--dir" && i + 1 < argc) dir = argv[++i];
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
    std::printf("making %s (6000 x 4000)...\n", base.c_str());
    if (!MakeBase(base, 6000, 4000)) return 1;
    std::system(("exiftool -q -overwrite_original -Make=Pixelwharf -Model=BENCH "
                 "-DateTimeOriginal='2021:05:06 07:08:09' -GPSLatitude=31.23 -GPSLatitudeRef=N "
                 "-GPSLongitude=121.47 -GPSLongitudeRef=E " + base).c_str());
  }
  for (int i = 0; i < photos; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/photo_%03d.jpg", i);
    if (!fs::exists(in + name)) fs::copy_file(base, in + name);
  }
  RemoveResults(in);
  std::printf("%d photos of %.1f MB in %s\n", photos, fs::file_size(base) / 1048576.0, in.c_str());
  const bool haveVips = std::system("command -v vipsthumbnail >/dev/null") == 0;

  // Warm-up: read every file once so all runs start from the page cache.
  std::system(("cat " + in + "/*.jpg > /dev/null").c_str());
  std::printf("\n%-14s %7s %9s %9s %9s %9s %8s\n", "tool", "threads", "wall s", "CPU s",
              "peak MB", "files/s", "vs ours");
  for (int t : threads) {
    RemoveResults(in);
    const Measure ours = RunOurs(in, t);
    if (ours.status != 0) std::printf("(our run reported failures)\n");
    Row("pixelwharf", t, ours, photos, 0);
    RemoveResults(in);

    fs::remove_all(out);
    fs::create_directories(out);
    const Measure im = RunCommand("MAGICK_THREAD_LIMIT=" + std::to_string(t) +
                                  " mogrify-im6.q16 -path " + out +
                                  " -resize 1920x1920 -quality 90 " + in + "/*.jpg");
    Row("mogrify", t, im, photos, ours.wall);
    if (haveVips) {
      fs::remove_all(out);
      fs::create_directories(out);
      const Measure vips = RunCommand("VIPS_CONCURRENCY=" + std::to_string(t) +
                                      " vipsthumbnail -s 1920 -o '" + out + "/%s.jpg[Q=90]' " +
                                      in + "/*.jpg");
      Row("vipsthumbnail", t, vips, photos, ours.wall);
    }
    std::fflush(stdout);
  }
  fs::remove_all(out);
  Breakdown(in + "/photo_000.jpg");
  if (!keep) fs::remove_all(dir);
  return 0;
}
