// Camera-raw decode throughput: 24-megapixel synthetic DNGs (6000 x 4000,
// a textured Bayer scene, written uncompressed and as lossless JPEG by the
// test writers) loaded through the image library's RAW format, for each
// demosaic quality and 1/4/8 threads over a folder; beside it libjpeg-turbo
// (through the JPEG format) decoding baseline JPEGs of the same pixel count.
// Each run is a child process: wall time from steady_clock, peak resident
// memory from wait4.
//
// Usage: raw_decode_bench [--files N] [--threads 1,4,8] [--dir FOLDER] [--keep]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "imagelib/FormatTable.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "platform/text.h"
#include "tests/rawdecode/raw_test_encoder.h"
#include "tests/rawdecode/raw_tiff_writer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

std::vector<uint16_t> Scene() {
  std::vector<uint16_t> s(size_t(kWidth) * kHeight);
  std::mt19937 rng(7);
  for (int r = 0; r < kHeight; ++r)
    for (int c = 0; c < kWidth; ++c) {
      const int colour = (r & 1) + (c & 1);
      int v = 300 + (r * 7 + c * 3) % 2400 + colour * 300 + int(rng() % 64);
      if (((r / 200) + (c / 300)) & 1) v = v * 3 / 4;
      s[size_t(r) * kWidth + c] = uint16_t(std::min(v, 4095));
    }
  return s;
}

std::vector<uint8_t> Dng(const std::vector<uint16_t>& samples, bool lossless) {
  std::vector<uint8_t> data;
  if (lossless) {
    rawtest::LjpegParams p;
    p.width = kWidth / 2, p.height = kHeight, p.components = 2, p.precision = 12;
    data = rawtest::EncodeLjpeg(p, samples);
  } else {
    data.reserve(samples.size() * 2);
    for (uint16_t v : samples) data.push_back(uint8_t(v)), data.push_back(uint8_t(v >> 8));
  }
  rawtest::TiffWriter w(true);
  rawtest::TiffIfd& ifd = w.NewIfd(true);
  ifd.Long(254, {0}).Image(kWidth, kHeight, 16, lossless ? 7 : 1, 32803, 1);
  ifd.Ascii(271, "Pixelwharf").Ascii(272, "Bench").Short(274, {1});
  ifd.Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2}).Bytes(50706, 1, {1, 1, 0, 0});
  ifd.Long(50717, {4095});
  ifd.SRational(50721, {{32406, 10000}, {-15372, 10000}, {-4986, 10000}, {-9689, 10000},
                        {18758, 10000}, {415, 10000}, {557, 10000}, {-2040, 10000}, {10570, 10000}});
  ifd.Rational(50728, {{1, 1}, {1, 1}, {1, 1}});
  ifd.Strip(std::move(data));
  return w.Bytes();
}

void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Decodes every file with `threads` workers; exits 0 when all decoded.
[[noreturn]] void DecodeAll(const std::vector<fs::path>& files, ImageFormatId id, uint32_t quality,
                            int threads) {
  std::atomic<size_t> next{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      for (size_t i; (i = next++) < files.size();) {
        PxImage img;
        img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = quality;
        if (!img.LoadFile(pw::NarrowToWide(files[i].string()), id)) {
          std::fprintf(stderr, "%s: %s\n", files[i].c_str(), img.LastError());
          ++failures;
        }
      }
    });
  for (auto& t : pool) t.join();
  std::_Exit(failures ? 1 : 0);
}

struct Result {
  double seconds = 0;
  long peak_kb = 0;
  bool ok = false;
};

Result Run(const std::vector<fs::path>& files, ImageFormatId id, uint32_t quality, int threads) {
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) DecodeAll(files, id, quality, threads);
  int status = 0;
  struct rusage usage = {};
  wait4(pid, &status, 0, &usage);
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.peak_kb = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 8;
  std::vector<int> threadCounts = {1, 4, 8};
  fs::path dir = fs::temp_directory_path() / "pw_raw_bench";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) count = std::atoi(argv[++i]);
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--keep") keep = true;
    else if (a == "--threads" && i + 1 < argc) {
      threadCounts.clear();
      for (char* t = std::strtok(argv[++i], ","); t; t = std::strtok(nullptr, ",")) threadCounts.push_back(std::atoi(t));
    }
  }
  fs::create_directories(dir);
  std::printf("Making %d files of each kind (%d x %d) in %s ...\n", count, kWidth, kHeight, dir.c_str());
  const std::vector<uint16_t> scene = Scene();
  std::vector<fs::path> uncompressed, lossless, jpegs;
  {
    const std::vector<uint8_t> u = Dng(scene, false), l = Dng(scene, true);
    PxImage grey(kWidth, kHeight, 24, kFormatJpg);
    for (uint32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = grey.RowAt(y);
      for (uint32_t x = 0; x < kWidth * 3; ++x) row[x] = uint8_t(scene[size_t(y) * kWidth + x / 3] >> 4);
    }
    const fs::path firstJpeg = dir / "ref0.jpg";
    grey.info.jpegQuality = 90;
    PxIOFile out;
    if (!out.Open(firstJpeg.c_str(), "wb") || !grey.Encode(&out, kFormatJpg)) {
      std::fprintf(stderr, "cannot write the reference JPEG: %s\n", grey.LastError());
      return 1;
    }
    out.CloseFile();
    for (int i = 0; i < count; ++i) {
      uncompressed.push_back(dir / ("u" + std::to_string(i) + ".dng"));
      lossless.push_back(dir / ("l" + std::to_string(i) + ".dng"));
      jpegs.push_back(dir / ("ref" + std::to_string(i) + ".jpg"));
      WriteFile(uncompressed.back(), u);
      WriteFile(lossless.back(), l);
      if (i) fs::copy_file(firstJpeg, jpegs.back(), fs::copy_options::overwrite_existing);
    }
  }
  const double megapixels = double(kWidth) * kHeight / 1e6 * count;
  std::printf("\n| input | quality | threads | seconds | MP/s | peak MB |\n|---|---|---|---|---|---|\n");
  auto line = [&](const char* input, const char* quality, int threads, const Result& r) {
    std::printf("| %s | %s | %d | %.2f | %.1f | %ld |%s\n", input, quality, threads, r.seconds,
                megapixels / r.seconds, r.peak_kb / 1024, r.ok ? "" : " (failed)");
    std::fflush(stdout);
  };
  const char* qualities[] = {"0 bilinear", "1 VNG", "2 PPG", "3 AHD"};
  for (int threads : threadCounts) {
    line("baseline JPEG (libjpeg-turbo)", "-", threads, Run(jpegs, kFormatJpg, 0, threads));
    for (uint32_t q = 0; q < 4; ++q) {
      line("DNG uncompressed", qualities[q], threads, Run(uncompressed, kFormatRaw, q, threads));
      line("DNG lossless JPEG", qualities[q], threads, Run(lossless, kFormatRaw, q, threads));
    }
  }
  if (!keep) fs::remove_all(dir);
  return 0;
}
