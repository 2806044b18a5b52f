#include "platform/batch_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// The worker has no context argument, so the test state is global, as a
// tool's is.
std::mutex g_mutex;
std::vector<int> g_calls;           // calls per index
std::vector<bool> g_pairsMatched;   // source/destination/index agreed
std::atomic<int> g_running{0};
std::atomic<int> g_maxRunning{0};
std::thread::id g_callerThread;
std::atomic<bool> g_ranOnCaller{false};

void Reset(size_t n) {
  g_calls.assign(n, 0);
  g_pairsMatched.assign(n, false);
  g_running = 0;
  g_maxRunning = 0;
  g_callerThread = std::this_thread::get_id();
  g_ranOnCaller = false;
}

int Worker(const std::wstring& src, const std::wstring& dst, const uint64_t& index) {
  const int now = ++g_running;
  int seen = g_maxRunning.load();
  while (now > seen && !g_maxRunning.compare_exchange_weak(seen, now)) {
  }
  if (std::this_thread::get_id() == g_callerThread) g_ranOnCaller = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_calls[index];
    g_pairsMatched[index] = src == L"s" + std::to_wstring(index) && dst == L"d" + std::to_wstring(index);
  }
  --g_running;
  if (index % 7 == 3) return -1;
  if (index % 11 == 5) throw std::runtime_error("broken picture");
  return 0;
}

class RecordingProgress : public CProgressInterface {
 public:
  void BeginProgress() override {}
  void SetProgress(uint64_t done, uint64_t total) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (inCall.exchange(true)) overlapped = true;
    updates.emplace_back(done, total);
    inCall = false;
  }
  void SetProgressText(const char*, ...) override {}
  void EndProgress() override {}

  std::mutex mutex;
  std::atomic<bool> inCall{false};
  bool overlapped = false;
  std::vector<std::pair<uint64_t, uint64_t>> updates;
};

FileList Names(const wchar_t* prefix, size_t n) {
  FileList list;
  for (size_t i = 0; i < n; ++i) list.push_back(prefix + std::to_wstring(i));
  return list;
}

int ExpectedFailures(size_t n) {
  int f = 0;
  for (size_t i = 0; i < n; ++i) f += (i % 7 == 3 || i % 11 == 5) ? 1 : 0;
  return f;
}

TEST(ProcessVector, EveryIndexOnceWithinTheThreadLimit) {
  for (int threads : {-3, 0, 1, 3, 8}) {
    const size_t n = 60;
    Reset(n);
    RecordingProgress progress;
    const int failures = ProcessVector(Names(L"s", n), Names(L"d", n), Worker, &progress, threads);
    EXPECT_EQ(failures, ExpectedFailures(n)) << threads;
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(g_calls[i], 1) << "index " << i << " threads " << threads;
      EXPECT_TRUE(g_pairsMatched[i]) << i;
    }
    EXPECT_LE(g_maxRunning.load(), std::max(threads, 1));
    if (threads >= 3) {
      EXPECT_GT(g_maxRunning.load(), 1) << "workers should overlap";
    }
    EXPECT_FALSE(g_ranOnCaller.load());

    // Progress: starts at 0 of n, then one step per finished worker, up to n.
    ASSERT_EQ(progress.updates.size(), n + 1);
    EXPECT_FALSE(progress.overlapped);
    for (size_t k = 0; k <= n; ++k) EXPECT_EQ(progress.updates[k], std::make_pair(uint64_t(k), uint64_t(n)));
  }
}

TEST(ProcessVector, EmptyAndMismatchedLists) {
  Reset(0);
  RecordingProgress progress;
  EXPECT_EQ(ProcessVector({}, {}, Worker, &progress, 4), 0);
  EXPECT_TRUE(progress.updates.empty());
  Reset(3);
  EXPECT_EQ(ProcessVector(Names(L"s", 3), Names(L"d", 2), Worker, nullptr, 4), -1);
  EXPECT_EQ(g_calls, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(ProcessVector(Names(L"s", 1), Names(L"d", 1), nullptr, nullptr, 1), -1);
}

TEST(ProcessVector, RunsWithoutProgressAndPumpsTheCaller) {
  const size_t n = 20;
  Reset(n);
  std::atomic<int> pumps{0};
  std::thread::id pumpThread;
  pw::SetBatchWaitPump([&] {
    ++pumps;
    pumpThread = std::this_thread::get_id();
  });
  auto slowWorker = [](const std::wstring&, const std::wstring&, const uint64_t& i) -> int {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_calls[i];
    return 0;
  };
  EXPECT_EQ(ProcessVector(Names(L"s", n), Names(L"d", n), slowWorker, nullptr, 2), 0);
  pw::SetBatchWaitPump(nullptr);
  EXPECT_EQ(g_calls, std::vector<int>(n, 1));
  EXPECT_GT(pumps.load(), 0);
  EXPECT_EQ(pumpThread, std::this_thread::get_id());
}

}  // namespace
