#include "platform/background_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>

using namespace std::chrono_literals;

// Work nobody joins: it runs while the caller goes on, a fault ends only
// that work, and the count lets the process's end know what still runs.
TEST(BackgroundWork, RunsUnjoinedAndSurvivesFaults) {
  ASSERT_TRUE(pw::WaitForBackgroundWork(60s));
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  std::atomic<bool> finished{false};
  pw::StartBackgroundWork([&] {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return release; });
    finished = true;
  });
  pw::StartBackgroundWork([] { throw std::bad_alloc(); });
  pw::StartBackgroundWork([] { throw std::runtime_error("boom"); });
  // The held work keeps the count up; the faulting ones end on their own.
  EXPECT_FALSE(pw::WaitForBackgroundWork(50ms));
  EXPECT_GE(pw::RunningBackgroundWork(), 1);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  cv.notify_all();
  EXPECT_TRUE(pw::WaitForBackgroundWork(60s));
  EXPECT_TRUE(finished);
  EXPECT_EQ(pw::RunningBackgroundWork(), 0);
}

TEST(BackgroundWork, ExceptionTextsForTheUser) {
  auto textOf = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return pw::CurrentExceptionText();
    }
    return std::string();
  };
  EXPECT_EQ(textOf([] { throw std::bad_alloc(); }), "内存不足");
  EXPECT_EQ(textOf([] { throw std::runtime_error("读不了"); }), "读不了");
  EXPECT_EQ(textOf([] { throw 3; }), "未知错误");
}
