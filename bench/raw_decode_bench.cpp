// Camera-raw decode throughput: 24-megapixel synthetic DNGs (6000 x 4000,
// a textured Bayer scene, written uncompressed and as lossless JPEG by the
// test writers) loaded through the image library's RAW format, for each
// demosaic quality and 1/4/8 threads over a folder; beside it libjpeg-turbo
// (through the JPEG format) decoding baseline JPEGs of the same pixel count.
// Each run is a child process: wall time from steady_clock, peak resident
// memory from wait4 (each file decoded on one decoder thread).
// Then one picture at a time, in process: a lossless-JPEG DNG in 256 x 256
// tiles decoded with 1 and 8 decoder threads, and in one strip, each beside
// the same-size JPEG (median of --runs after a warm-up), with the ratio to
// the JPEG and a check that every decode gives the same picture.
//
// Usage: raw_decode_bench [--files N] [--threads 1,4,8] [--runs R] [--dir FOLDER] [--keep]
//        raw_decode_bench --one-picture [--runs R]   (only the one-picture table, for perf)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

constexpr int kTile = 256;

// One tile of the scene, padded with 0 past the picture, as lossless JPEG.
std::vector<uint8_t> Tile(const std::vector<uint16_t>& samples, int top, int left) {
  std::vector<uint16_t> part(size_t(kTile) * kTile, 0);
  for (int r = 0; r < kTile && top + r < kHeight; ++r)
    for (int c = 0; c < kTile && left + c < kWidth; ++c)
      part[size_t(r) * kTile + c] = samples[size_t(top + r) * kWidth + left + c];
  rawtest::LjpegParams p;
  p.width = kTile / 2, p.height = kTile, p.components = 2, p.precision = 12;
  return rawtest::EncodeLjpeg(p, part);
}

std::vector<uint8_t> Dng(const std::vector<uint16_t>& samples, bool lossless, bool tiled = false) {
  std::vector<uint8_t> data;
  std::vector<std::vector<uint8_t>> tiles;
  if (tiled) {
    for (int top = 0; top < kHeight; top += kTile)
      for (int left = 0; left < kWidth; left += kTile) tiles.push_back(Tile(samples, top, left));
  } else if (lossless) {
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
  if (tiled) {
    ifd.Long(322, {uint32_t(kTile)}).Long(323, {uint32_t(kTile)});
    ifd.Pieces(true, std::move(tiles));
  } else {
    ifd.Strip(std::move(data));
  }
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
        img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = quality | 1u << 8;  // one decoder thread
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

// One decode in this process: seconds, and the picture.
double DecodeOnce(const fs::path& file, ImageFormatId id, uint32_t option, std::vector<uint8_t>* picture) {
  PxImage img;
  img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = option;
  const auto start = Clock::now();
  const bool ok = img.LoadFile(pw::NarrowToWide(file.string()), id);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), img.LastError());
    return -1;
  }
  if (picture) {
    picture->clear();
    for (uint32_t y = 0; y < img.Height(); ++y) picture->insert(picture->end(), img.RowAt(y), img.RowAt(y) + 3 * img.Width());
  }
  return seconds;
}

// The median of `runs` decodes after one warm-up.
double Median(const fs::path& file, ImageFormatId id, uint32_t option, int runs, std::vector<uint8_t>* picture) {
  DecodeOnce(file, id, option, picture);
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(DecodeOnce(file, id, option, nullptr));
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int count = 8, runs = 5;
  std::vector<int> threadCounts = {1, 4, 8};
  fs::path dir = fs::temp_directory_path() / "pw_raw_bench";
  bool keep = false, onePicture = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) count = std::atoi(argv[++i]);
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--keep") keep = true;
    else if (a == "--one-picture") onePicture = true, count = 1;
    else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--threads" && i + 1 < argc) {
      threadCounts.clear();
      for (char* t = std::strtok(argv[++i], ","); t; t = std::strtok(nullptr, ",")) threadCounts.push_back(std::atoi(t));
    }
  }
  fs::create_directories(dir);
  std::printf("Making %d files of each kind (%d x %d) in %s ...\n", count, kWidth, kHeight, dir.c_str());
  const std::vector<uint16_t> scene = Scene();
  std::vector<fs::path> uncompressed, lossless, jpegs;
  const fs::path tiledFile = dir / "tiled.dng";
  {
    const std::vector<uint8_t> u = Dng(scene, false), l = Dng(scene, true);
    WriteFile(tiledFile, Dng(scene, true, true));
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
  for (int threads : onePicture ? std::vector<int>{} : threadCounts) {
    line("baseline JPEG (libjpeg-turbo)", "-", threads, Run(jpegs, kFormatJpg, 0, threads));
    for (uint32_t q = 0; q < 4; ++q) {
      line("DNG uncompressed", qualities[q], threads, Run(uncompressed, kFormatRaw, q, threads));
      line("DNG lossless JPEG", qualities[q], threads, Run(lossless, kFormatRaw, q, threads));
    }
  }

  // One picture at a time, quality 0 (the picture tools' choice).
  std::printf("\n| one picture (%d x %d) | decoder threads | seconds (median of %d) | ratio to JPEG |\n|---|---|---|---|\n",
              kWidth, kHeight, runs);
  std::vector<uint8_t> jpegPicture, one, eight, strip;
  const double jpeg = Median(jpegs[0], kFormatJpg, 0, runs, &jpegPicture);
  const double tiled1 = Median(tiledFile, kFormatRaw, 1u << 8, runs, &one);
  const double tiled8 = Median(tiledFile, kFormatRaw, 8u << 8, runs, &eight);
  const double strip1 = Median(lossless[0], kFormatRaw, 1u << 8, runs, &strip);
  std::printf("| baseline JPEG (libjpeg-turbo) | - | %.3f | 1.00 |\n", jpeg);
  std::printf("| DNG lossless JPEG, 256 x 256 tiles | 1 | %.3f | %.2f |\n", tiled1, tiled1 / jpeg);
  std::printf("| DNG lossless JPEG, 256 x 256 tiles | 8 | %.3f | %.2f |\n", tiled8, tiled8 / jpeg);
  std::printf("| DNG lossless JPEG, one strip | 1 | %.3f | %.2f |\n", strip1, strip1 / jpeg);
  std::printf("pictures identical (tiles at 1 and 8 threads, one strip): %s\n",
              one == eight && one == strip && !one.empty() ? "yes" : "NO");
  // A checksum of the picture (FNV-1a), to compare decoder versions with.
  uint64_t sum = 1469598103934665603ull;
  for (uint8_t b : one) sum = (sum ^ b) * 1099511628211ull;
  std::printf("picture checksum: %016llx\n", static_cast<unsigned long long>(sum));
  if (!keep) fs::remove_all(dir);
  return 0;
}
