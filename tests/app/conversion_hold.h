// Holds the 8-bit conversion's thread at a known point, for the tests of
// the window that runs it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "raster/EightBitConversion.h"

namespace pwtest {

// Holds the converting thread at its checkpoint number `at` (1 for the
// first slice of rows) until released; `heedCancel` lets a cancel through,
// as the conversion's own reads do, and without it the hold stands for a
// GDAL call that does not look at the cancel. `Throw` makes it throw
// instead. The thread shares the state, so a hold may go before a thread
// that was let go has left it.
// `InStretchPass` counts the checkpoints of the pass that counts a 16-bit
// image's stretch table instead.
enum class HoldPoint { InRows, InStretchPass };

class Hold {
 public:
  Hold(int at, std::function<void()> pump, bool heedCancel = true, HoldPoint point = HoldPoint::InRows)
      : s_(std::make_shared<State>()), pump_(std::move(pump)) {
    s_->at = at;
    s_->heedCancel = heedCancel;
    auto set = point == HoldPoint::InRows ? pw::SetConversionCheckpoint : pw::SetStretchPassCheckpoint;
    set([s = s_](int rows, const std::atomic<bool>* cancel) {
      std::unique_lock<std::mutex> lock(s->mutex);
      if (++s->arrivals != s->at) return;
      s->heldAtRows = rows;
      s->held = true;
      s->cv.notify_all();
      if (s->fault) {
        s->left = true;
        s->fault();
      }
      // Let go in the end all the same: a conversion wrongly run on the UI
      // thread would wait here for a release that thread never gives.
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!s->released && !(s->heedCancel && cancel && cancel->load()) && std::chrono::steady_clock::now() < giveUp)
        s->cv.wait_for(lock, std::chrono::milliseconds(5));
      s->left = true;
      s->cv.notify_all();
    });
  }
  ~Hold() {
    pw::SetConversionCheckpoint({});
    pw::SetStretchPassCheckpoint({});
    Release();
  }
  void Throw(std::function<void()> fault) {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->fault = std::move(fault);
  }
  // Runs the UI's event loop (`pump`) until the thread is held there (generous
  // deadline: the machine may be slow and busy).
  bool WaitHeld() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
      {
        std::lock_guard<std::mutex> lock(s_->mutex);
        if (s_->held) return true;
      }
      pump_();
    }
    return false;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->released = true;
    s_->cv.notify_all();
  }
  // Waits (without the UI's loop) until the thread has gone on from here.
  bool WaitLeft() {
    std::unique_lock<std::mutex> lock(s_->mutex);
    return s_->cv.wait_for(lock, std::chrono::seconds(60), [this] { return s_->left; });
  }
  int HeldAtRows() {
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->heldAtRows;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    int at = 0;
    bool heedCancel = true;
    std::function<void()> fault;
    int arrivals = 0;
    int heldAtRows = -1;
    bool held = false, left = false, released = false;
  };
  std::shared_ptr<State> s_;
  std::function<void()> pump_;
};

}  // namespace pwtest
