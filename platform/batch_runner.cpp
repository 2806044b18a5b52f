#include "platform/batch_runner.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace pw {
namespace {

std::mutex g_pumpMutex;
std::function<void()> g_pump;

std::function<void()> CurrentPump() {
  std::lock_guard<std::mutex> lock(g_pumpMutex);
  return g_pump;
}

// A silly THREAD_NUM in the settings file must not start thousands of threads.
constexpr size_t kMaxWorkers = 256;

thread_local bool t_inBatchWorker = false;

// Marks the running thread as a batch worker for as long as it lives.
struct BatchWorkerMark {
  const bool was = t_inBatchWorker;
  BatchWorkerMark() { t_inBatchWorker = true; }
  ~BatchWorkerMark() { t_inBatchWorker = was; }
};

}  // namespace

bool InBatchWorker() { return t_inBatchWorker; }

void SetBatchWaitPump(std::function<void()> pump) {
  std::lock_guard<std::mutex> lock(g_pumpMutex);
  g_pump = std::move(pump);
}

}  // namespace pw

void pw::IgnoreFileSizeSignal() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

int ProcessVector(const FileList& sources, const FileList& destinations, BatchFileCallback worker,
                  CProgressInterface* progress, const int& threadCount) {
  if (sources.size() != destinations.size() || !worker) return -1;
  pw::IgnoreFileSizeSignal();
  const uint64_t total = sources.size();
  if (total == 0) return 0;

  const size_t workers = std::min<size_t>({static_cast<size_t>(std::max(threadCount, 1)),
                                           static_cast<size_t>(total), pw::kMaxWorkers});
  if (progress) progress->SetProgress(0, total);

  std::atomic<uint64_t> next{0};
  std::atomic<int> failures{0};
  std::mutex stateMutex;  // guards `done`, `running` and the progress calls
  std::condition_variable finished;
  uint64_t done = 0;
  size_t running = workers;

  auto body = [&] {
    const pw::BatchWorkerMark mark;
    for (;;) {
      const uint64_t index = next.fetch_add(1);
      if (index >= total) break;
      int rc = -1;
      try {
        rc = worker(sources[index], destinations[index], index);
      } catch (...) {
        rc = -1;
      }
      if (rc != 0) failures.fetch_add(1);
      std::lock_guard<std::mutex> lock(stateMutex);
      ++done;
      if (progress) {
        try {
          progress->SetProgress(done, total);
        } catch (...) {
          // A broken progress display must not stop the run.
        }
      }
    }
    std::lock_guard<std::mutex> lock(stateMutex);
    if (--running == 0) finished.notify_all();
  };

  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (size_t i = 0; i < workers; ++i) {
    try {
      threads.emplace_back(body);
    } catch (const std::system_error&) {
      // Could not start another thread: the ones running take the rest.
      std::lock_guard<std::mutex> lock(stateMutex);
      running -= workers - i;
      break;
    }
  }
  if (threads.empty()) {
    // Not even one thread: do the work here rather than drop it.
    running = 1;
    body();
  }

  for (;;) {
    const std::function<void()> pump = pw::CurrentPump();
    std::unique_lock<std::mutex> lock(stateMutex);
    if (running == 0) break;
    if (pump) {
      finished.wait_for(lock, std::chrono::milliseconds(pw::kBatchPumpIntervalMs),
                        [&] { return running == 0; });
      if (running == 0) break;
      lock.unlock();
      pump();
    } else {
      finished.wait(lock, [&] { return running == 0; });
      break;
    }
  }
  for (std::thread& t : threads) t.join();
  return failures.load();
}
