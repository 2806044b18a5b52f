#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "raster/PictureBuffer.h"
#include "raster/PictureThreads.h"

namespace {

// Every chunk is worked once; only the calling thread hears the progress,
// which rises to 1; a false answer stops every worker before its next chunk.
TEST(PictureThreads, EveryChunkOnceAndAStopHoldsEveryWorker) {
  const auto caller = std::this_thread::get_id();
  std::vector<std::atomic<int>> seen(500);
  std::vector<double> told;
  bool toldElsewhere = false;
  ASSERT_TRUE(pw::ForEachChunk(
      seen.size(), 8,
      [&](size_t chunk, int worker) {
        ++seen[chunk];
        return (worker == 0) == (std::this_thread::get_id() == caller);
      },
      [&](double f) {
        toldElsewhere = toldElsewhere || std::this_thread::get_id() != caller;
        told.push_back(f);
        return true;
      }));
  for (size_t k = 0; k < seen.size(); ++k) ASSERT_EQ(seen[k], 1) << k;
  EXPECT_FALSE(toldElsewhere);
  ASSERT_FALSE(told.empty());
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
  EXPECT_EQ(told.back(), 1.0);

  // Stopped by the progress after the calling thread's first chunk, and by
  // a failed first chunk of its own: the other workers, held until then,
  // leave the rest undone.
  for (const bool byWork : {false, true}) {
    constexpr int kChunks = 1000000;
    std::atomic<int> worked{0};
    std::atomic<bool> callerDone{false};
    const bool finished = pw::ForEachChunk(
        kChunks, 8,
        [&](size_t, int worker) {
          if (worker == 0) {
            ++worked;
            if (byWork) callerDone = true;
            return !byWork;
          }
          for (int spin = 0; !callerDone && spin < 30000000; ++spin) std::this_thread::yield();
          ++worked;
          return true;
        },
        [&](double) {
          callerDone = true;
          return byWork;
        });
    EXPECT_FALSE(finished) << byWork;
    EXPECT_LT(worked.load(), kChunks) << byWork;
  }
}

// A large picture buffer arrives zeroed even where one before it was
// written all over: the opening skips its pass of zeros on that promise.
// Just above the size that makes a buffer large: below the C library's
// largest threshold for mapping a block of its own, so a buffer taken from
// the heap would come back with the last one's bytes. Checked and written
// by the C library's calls, which take a moment where a loop of the
// unoptimised sanitizer build takes seconds.
TEST(PictureBuffer, LargeBuffersArriveZeroed) {
  constexpr size_t kBytes = pw::kLargePictureBuffer + 123;
  for (int round = 0; round < 3; ++round) {
    pw::PictureBytes buffer;
    buffer.resize(kBytes);
    // Every byte zero: the first is, and each equals the one before it.
    ASSERT_EQ(buffer[0], 0) << round;
    ASSERT_EQ(std::memcmp(buffer.data(), buffer.data() + 1, kBytes - 1), 0) << round;
    std::memset(buffer.data(), 0xA5, kBytes);
  }
}

}  // namespace
