// Benchmark of the viewer's display engine on a large 16-bit scene.
//
//   raster_bench [work folder] [--runs R]   (default: $TMPDIR or /tmp, 5 rounds)
//   raster_bench --open FILE                 one opening, nothing else (for
//                                            valgrind --tool=callgrind)
//
// Makes (once) a 40000 x 20000 single-band UInt16 tiled GeoTIFF and a copy
// with overviews (gdaladdo, average, 2 to 64), then for each: time from
// opening to the first frame, peak memory of that process, and the time from
// one wheel notch to the sharp image (the re-read done), both when the
// re-read scales the overview and when it has to read the file. Beside it,
// in the same round, GDAL's own decimated read of the same file to the
// overview's size (gdal_translate -outsize), the tool we compare against.
// Each case runs in a child process so that its peak memory is its own; the
// rounds interleave ours and the peer on both files, and the table shows
// medians, with the load average, since the machine may be shared.
#include <gdal_priv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "bench/BenchStats.h"
#include "raster/ImageRenderer.h"

namespace {

using pw::bench::Median;

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 40000, kHeight = 20000;
constexpr int kViewW = 1280, kViewH = 800;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

bool Exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

// A scene with structure at every scale (so neither compression nor the
// stretch has it easy): smooth relief plus fine texture, 12-bit range.
void MakeScene(const std::string& path) {
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=YES",
                           nullptr};
  GDALDataset* ds = gtiff->Create(path.c_str(), kWidth, kHeight, 1, GDT_UInt16,
                                  const_cast<char**>(options));
  if (!ds) std::exit(1);
  std::vector<uint16_t> rows(size_t(kWidth) * 256);
  for (int y0 = 0; y0 < kHeight; y0 += 256) {
    const int n = std::min(256, kHeight - y0);
    for (int r = 0; r < n; ++r) {
      const int y = y0 + r;
      for (int x = 0; x < kWidth; ++x) {
        const double relief = 1500 + 900 * std::sin(x * 0.0007) * std::cos(y * 0.0011);
        const int texture = int((x * 2654435761u ^ y * 40503u) >> 24) & 127;
        rows[size_t(r) * kWidth + x] = uint16_t(relief + texture + ((x / 512 + y / 512) % 2) * 300);
      }
    }
    if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, y0, kWidth, n, rows.data(), kWidth, n,
                                       GDT_UInt16, 0, 0, nullptr) != CE_None)
      std::exit(1);
  }
  GDALClose(ds);
}

class NullView : public pw::RendererHost {
 public:
  pw::ScreenRect WindowScreenRect() const override { return {0, 0, kViewW, kViewH}; }
  void Invalidate() override {}
  void CaptureMouse() override {}
  void ReleaseMouse() override {}
};

long PeakKiB(pid_t pid, double* seconds) {
  int status = 0;
  struct rusage ru {};
  const auto t0 = Clock::now();
  wait4(pid, &status, 0, &ru);
  if (seconds) *seconds = Seconds(t0, Clock::now());
  return ru.ru_maxrss;
}

// Runs in a child: prints "open wheelOverview wheelFile" seconds.
void EngineCase(const std::string& path, int pipeFd) {
  std::vector<uint8_t> dib(size_t(kViewW) * kViewH * 3);
  NullView view;
  const auto t0 = Clock::now();
  pw::ImageRenderer r(&view, path, dib.data(), kViewW, kViewH);
  r.Render();
  const double open = Seconds(t0, Clock::now());
  r.ClearReady();
  r.RequestReread();
  r.WaitForRereads(std::chrono::minutes(10));

  const pw::ScreenPoint centre{kViewW / 2, kViewH / 2};
  // One notch while the overview is still finer than the screen.
  auto t1 = Clock::now();
  r.OnMouseWheel(120, centre);
  r.WaitForRereads(std::chrono::minutes(10));
  const double wheelOverview = Seconds(t1, Clock::now());
  // Zoom past the overview's scale; the notch after that reads the file.
  while (r.Scale() <= r.OverviewScale()) {
    r.OnMouseWheel(120, centre);
    r.WaitForRereads(std::chrono::minutes(10));
  }
  t1 = Clock::now();
  r.OnMouseWheel(120, centre);
  r.WaitForRereads(std::chrono::minutes(10));
  const double wheelFile = Seconds(t1, Clock::now());
  char line[128];
  const int n = std::snprintf(line, sizeof line, "%f %f %f %f\n", open, wheelOverview, wheelFile,
                              r.Scale());
  if (write(pipeFd, line, size_t(n)) != n) std::exit(2);
}

std::string LoadAverage() {
  char buf[64] = {};
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (!std::fgets(buf, sizeof buf, f)) buf[0] = 0;
    std::fclose(f);
  }
  std::string s(buf);
  // The first three fields.
  size_t cut = 0;
  for (int k = 0; k < 3 && cut != std::string::npos; ++k) cut = s.find(' ', cut + 1);
  return s.substr(0, cut);
}

struct Case {
  std::vector<double> open, peakMiB, wheelOverview, wheelFile, peer;
  double scale = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--open" && i + 1 < argc) {
      std::vector<uint8_t> dib(size_t(kViewW) * kViewH * 3);
      NullView view;
      const auto t0 = Clock::now();
      pw::ImageRenderer r(&view, argv[i + 1], dib.data(), kViewW, kViewH);
      r.Render();
      std::printf("open %.3f s\n", Seconds(t0, Clock::now()));
      return r.IsOpen() ? 0 : 1;
    }
    if (arg == "--runs" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else dir = arg;
  }
  GDALAllRegister();
  const std::string plain = dir + "/pw_bench_40000x20000.tif";
  const std::string withOv = dir + "/pw_bench_40000x20000_ovr.tif";
  if (!Exists(plain)) {
    std::printf("making %s ...\n", plain.c_str());
    MakeScene(plain);
  }
  if (!Exists(withOv)) {
    std::printf("making %s ...\n", withOv.c_str());
    if (std::system(("cp '" + plain + "' '" + withOv + "' && gdaladdo -q -r average '" + withOv +
                     "' 2 4 8 16 32 64").c_str()) != 0)
      return 1;
  }
  // Every file from the page cache, as on the second opening of a picture.
  std::system(("cat '" + plain + "' '" + withOv + "' > /dev/null").c_str());
  std::printf("load average at start: %s\n", LoadAverage().c_str());

  Case cases[2];
  const std::string paths[2] = {plain, withOv};
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 2; ++k) {
      const std::string& path = paths[k];
      int fds[2];
      if (pipe(fds) != 0) return 1;
      const pid_t pid = fork();
      if (pid == 0) {
        close(fds[0]);
        EngineCase(path, fds[1]);
        _exit(0);
      }
      close(fds[1]);
      char buf[256] = {};
      const ssize_t got = read(fds[0], buf, sizeof buf - 1);
      close(fds[0]);
      const long peak = PeakKiB(pid, nullptr);
      double open = 0, wheelOv = 0, wheelFile = 0, scale = 0;
      if (got <= 0 || std::sscanf(buf, "%lf %lf %lf %lf", &open, &wheelOv, &wheelFile, &scale) != 4)
        return 1;

      // The peer: GDAL's decimated read of the whole image to the overview
      // size, written out as a GeoTIFF.
      const std::string out = dir + "/pw_bench_peer.tif";
      const auto t0 = Clock::now();
      const int rc = std::system(("gdal_translate -q -outsize 10000 5000 -of GTiff '" + path +
                                  "' '" + out + "'").c_str());
      const double peer = Seconds(t0, Clock::now());
      std::remove(out.c_str());
      if (rc != 0) return 1;
      Case& c = cases[k];
      c.open.push_back(open);
      c.peakMiB.push_back(peak / 1024.0);
      c.wheelOverview.push_back(wheelOv);
      c.wheelFile.push_back(wheelFile);
      c.peer.push_back(peer);
      c.scale = scale;
    }
    std::printf("round %d of %d done, load average %s\n", round + 1, rounds, LoadAverage().c_str());
    std::fflush(stdout);
  }

  std::printf("\nmedians of %d interleaved rounds\n", rounds);
  std::printf("%-34s %9s %9s %9s %9s %10s %9s\n", "case", "open(s)", "peakMiB", "wheel-ov",
              "wheel-fil", "gdal(s)", "ratio");
  for (int k = 0; k < 2; ++k) {
    const Case& c = cases[k];
    const double open = Median(c.open), peer = Median(c.peer);
    std::printf("%-34s %9.2f %9.0f %9.3f %9.3f %10.2f %9.2f\n",
                k == 0 ? "40000x20000 u16 tiled" : "40000x20000 u16 tiled + overviews", open,
                Median(c.peakMiB), Median(c.wheelOverview), Median(c.wheelFile), peer,
                open / peer);
    std::printf("  (ratio: our open / gdal_translate; file-read notch at scale %.3f)\n", c.scale);
  }
  std::printf("load average at end: %s\n", LoadAverage().c_str());
  return 0;
}
