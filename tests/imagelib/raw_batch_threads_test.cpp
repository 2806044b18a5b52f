// Threads of RAW decodes inside a batch run. The batch runner already keeps
// as many workers busy as it was given threads; a RAW decode started by one
// of them stays on that worker's thread, while a load outside a batch (the
// viewer, a single picture) still decodes its tiles on several threads.
//
// Every thread the process starts is counted by wrapping pthread_create, so
// the count is exact whatever the machine's speed.
#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "imagelib/PxImage.h"
#include "platform/batch_runner.h"
#include "platform/text.h"
#include "tests/imagelib/raw_dng_writer.h"
#include "tests/imagelib/raw_scratch.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PW_COUNT_THREADS 0  // the sanitizers wrap pthread_create themselves
#else
#define PW_COUNT_THREADS 1
#endif

namespace {
std::atomic<int> g_threadsStarted{0};
}

#if PW_COUNT_THREADS
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  g_threadsStarted.fetch_add(1);
  return real(thread, attr, start, arg);
}
#endif

namespace {

using dngtest::DngSpec;

// A picture of 256 x 192 in 48 lossless-JPEG tiles: enough tiles and rows
// for every parallel pass of the decoder to use several threads.
std::vector<uint8_t> TiledDng() {
  DngSpec spec;
  spec.width = 256;
  spec.height = 192;
  spec.lossless = true;
  spec.tile_width = spec.tile_height = 32;
  return dngtest::WriteDng(spec);
}

uint64_t Checksum(const PxImage& img) {
  uint64_t sum = 0;
  for (uint32_t y = 0; y < img.Height(); ++y)
    for (uint32_t x = 0; x < img.Width(); ++x) {
      const rawfiles::Rgb p = rawfiles::At(img, x, y);
      sum = sum * 1099511628211ull + uint64_t(p.r << 16 | p.g << 8 | p.b);
    }
  return sum;
}

std::mutex g_resultMutex;
std::vector<uint64_t> g_sums;

// The per-file worker: loads the RAW file as a tool does.
int LoadWorker(const std::wstring& source, const std::wstring&, const uint64_t& index) {
  PxImage img;
  if (!img.LoadFile(source, kFormatRaw) || img.IsDamaged()) return -1;
  std::lock_guard<std::mutex> lock(g_resultMutex);
  g_sums[index] = Checksum(img);
  return 0;
}

}  // namespace

TEST(RawBatchThreads, DecodesInABatchRunNoMoreThreadsThanItsWorkers) {
  if (!PW_COUNT_THREADS) GTEST_SKIP() << "threads are not counted under the sanitizers";
  rawfiles::Scratch s;
  const std::string path = s.Write("tiles.dng", TiledDng());

  // Alone, a load decodes on several threads (given more than one processor).
  PxImage alone;
  const int before = g_threadsStarted.load();
  ASSERT_TRUE(alone.LoadFile(pw::NarrowToWide(path), kFormatRaw)) << alone.LastError();
  const int aloneThreads = g_threadsStarted.load() - before;
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_GT(aloneThreads, 0);
  }
  const uint64_t aloneSum = Checksum(alone);

  // In a batch of six files on three workers, the three workers are all the
  // threads the run starts; every file gives the same picture.
  FileList sources, destinations;
  for (int i = 0; i < 6; ++i) {
    sources.push_back(pw::NarrowToWide(s.Write("f" + std::to_string(i) + ".dng", TiledDng())));
    destinations.push_back(sources.back());
  }
  g_sums.assign(sources.size(), 0);
  const int workers = 3;
  const int start = g_threadsStarted.load();
  EXPECT_EQ(ProcessVector(sources, destinations, LoadWorker, nullptr, workers), 0);
  EXPECT_EQ(g_threadsStarted.load() - start, workers);
  for (uint64_t sum : g_sums) EXPECT_EQ(sum, aloneSum);

  // And the mark ends with the run: this thread decodes in parallel again.
  EXPECT_FALSE(pw::InBatchWorker());
}
