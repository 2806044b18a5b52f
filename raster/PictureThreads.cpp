#include "raster/PictureThreads.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace pw {

int PictureThreadCount() {
  return int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

void ForEachShare(size_t count, size_t minShare,
                  const std::function<void(size_t begin, size_t end)>& work) {
  if (count == 0) return;
  const size_t shares =
      std::clamp<size_t>(count / std::max<size_t>(minShare, 1), 1, size_t(PictureThreadCount()));
  const size_t per = (count + shares - 1) / shares;
  std::vector<std::thread> helpers;
  std::vector<std::pair<size_t, size_t>> left;
  for (size_t k = 1; k < shares; ++k) {
    const size_t begin = k * per, end = std::min(count, begin + per);
    if (begin >= end) break;
    try {
      helpers.emplace_back(work, begin, end);
    } catch (...) {
      left.emplace_back(begin, end);
    }
  }
  work(0, std::min(per, count));
  for (const auto& [begin, end] : left) work(begin, end);
  for (std::thread& t : helpers) t.join();
}

bool ForEachChunk(size_t count, int workers, const std::function<bool(size_t chunk, int worker)>& work,
                  const std::function<bool(double)>& tell) {
  std::atomic<size_t> next{0}, done{0};
  std::atomic<bool> stop{false};
  double told = 0;  // by the calling thread only
  auto run = [&](int worker) {
    while (!stop.load(std::memory_order_relaxed)) {
      const size_t chunk = next.fetch_add(1);
      if (chunk >= count) return;
      if (!work(chunk, worker)) {
        stop = true;
        return;
      }
      const size_t finished = done.fetch_add(1) + 1;
      if (worker == 0 && tell) {
        told = double(finished) / double(count);
        if (!tell(told)) stop = true;
      }
    }
  };
  const int n = int(std::clamp<size_t>(std::min<size_t>(count, size_t(std::max(workers, 1))), 1,
                                       size_t(PictureThreadCount())));
  std::vector<std::thread> helpers;
  for (int k = 1; k < n; ++k) {
    try {
      helpers.emplace_back(run, k);
    } catch (...) {
      break;  // fewer workers
    }
  }
  run(0);
  for (std::thread& t : helpers) t.join();
  // The other workers may have done the last chunks, or all of them.
  if (!stop && tell && told < 1 && !tell(1.0)) stop = true;
  return !stop.load();
}

}  // namespace pw
