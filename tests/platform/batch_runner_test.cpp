#include "platform/batch_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <set>
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
std::set<std::thread::id> g_workerThreads;
// The first g_gathered indexes wait in the worker until that many workers
// are inside at once, so every thread the run may use is seen at work
// however the machine schedules them. (Held for at most a minute: a run
// that never brings them together fails the counts below.) The condition
// also wakes workers waiting for the caller's pump.
int g_gathered = 0;
std::condition_variable g_gatheredChanged;

void Reset(size_t n, int gathered = 0) {
  g_calls.assign(n, 0);
  g_pairsMatched.assign(n, false);
  g_running = 0;
  g_maxRunning = 0;
  g_callerThread = std::this_thread::get_id();
  g_ranOnCaller = false;
  g_workerThreads.clear();
  g_gathered = gathered;
}

int Worker(const std::wstring& src, const std::wstring& dst, const uint64_t& index) {
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_workerThreads.insert(std::this_thread::get_id());
    const int now = ++g_running;
    g_maxRunning = std::max(g_maxRunning.load(), now);
    g_gatheredChanged.notify_all();
    if (index < uint64_t(g_gathered))
      g_gatheredChanged.wait_for(lock, std::chrono::seconds(60), [] { return g_maxRunning >= g_gathered; });
  }
  if (std::this_thread::get_id() == g_callerThread) g_ranOnCaller = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_calls[index];
    g_pairsMatched[index] = src == L"s" + std::to_wstring(index) && dst == L"d" + std::to_wstring(index);
    --g_running;
  }
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
    const int limit = std::max(threads, 1);
    Reset(n, limit);
    RecordingProgress progress;
    const int failures = ProcessVector(Names(L"s", n), Names(L"d", n), Worker, &progress, threads);
    EXPECT_EQ(failures, ExpectedFailures(n)) << threads;
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(g_calls[i], 1) << "index " << i << " threads " << threads;
      EXPECT_TRUE(g_pairsMatched[i]) << i;
    }
    // As many workers at once as asked for, on as many threads, never more.
    EXPECT_EQ(g_maxRunning.load(), limit) << threads;
    EXPECT_EQ(g_workerThreads.size(), size_t(limit)) << threads;
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

// The pump runs on the caller while workers are at it: the first file waits
// until the caller has pumped, so the run cannot end before, however fast
// or slow the machine.
std::atomic<int> g_pumps{0};

TEST(ProcessVector, RunsWithoutProgressAndPumpsTheCaller) {
  const size_t n = 20;
  Reset(n);
  g_pumps = 0;
  std::thread::id pumpThread;
  pw::SetBatchWaitPump([&] {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_pumps;
    pumpThread = std::this_thread::get_id();
    g_gatheredChanged.notify_all();
  });
  auto heldWorker = [](const std::wstring&, const std::wstring&, const uint64_t& i) -> int {
    std::unique_lock<std::mutex> lock(g_mutex);
    if (i == 0) g_gatheredChanged.wait_for(lock, std::chrono::seconds(60), [] { return g_pumps > 0; });
    ++g_calls[i];
    return 0;
  };
  EXPECT_EQ(ProcessVector(Names(L"s", n), Names(L"d", n), heldWorker, nullptr, 2), 0);
  pw::SetBatchWaitPump(nullptr);
  EXPECT_EQ(g_calls, std::vector<int>(n, 1));
  EXPECT_GT(g_pumps.load(), 0);
  EXPECT_EQ(pumpThread, std::this_thread::get_id());
}

}  // namespace
