// What the viewer's tests use to show that the UI thread never waits: a
// timer whose ticks are recorded, and a gate that holds a worker's test
// hook at a known point.
#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <wx/timer.h>

#include "tests/app/ui_promptness.h"
#include "tests/app/viewer_gui.h"

namespace viewergui {

// The longest the window may go without its timer, while work runs
// elsewhere or the window acts on a request. A window that waits on that
// work waits seconds (a held worker holds it for 20 s).
using pwtest::kLongestUiWait;

// Records the moments a 20 ms timer of the UI thread fires. A gap counts
// the time the UI thread was busy or waited on something, not the time a
// loaded machine kept it waiting for a processor (the kernel counts that
// apart): what the program makes the window wait, however busy the machine.
class UiTicks {
 public:
  using Clock = std::chrono::steady_clock;
  UiTicks() {
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ticks_.push_back(Now()); });
    ticks_.push_back(Now());
    timer_.Start(20);
  }
  // The longest wait between two ticks, up to now.
  std::chrono::milliseconds LongestGap() {
    std::vector<Moment> moments = ticks_;
    moments.push_back(Now());
    Clock::duration longest{};
    for (size_t i = 1; i < moments.size(); ++i)
      longest = std::max(longest, (moments[i].wall - moments[i - 1].wall) - (moments[i].queued - moments[i - 1].queued));
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
  }
  size_t Count() const { return ticks_.size(); }
  // Runs the event loop until `n` more ticks came (a minute at most).
  void PumpTicks(size_t n) {
    const size_t until = ticks_.size() + n;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (ticks_.size() < until && Clock::now() < deadline) Pump(10ms);
  }

 private:
  struct Moment {
    Clock::time_point wall;
    Clock::duration queued;  // the UI thread's time in a run queue so far
  };
  static Moment Now() {
    return {Clock::now(), std::chrono::duration_cast<Clock::duration>(pwtest::RunQueueTime())};
  }
  wxTimer timer_;
  std::vector<Moment> ticks_;
};

// Holds the first thread that calls the hook it installs until Release (or
// a cap of 20 s, so that a UI thread wrongly held fails the test instead of
// hanging it); later calls pass. The state is shared with the hook, which
// a thread may still be leaving after the gate is gone.
class HookGate {
 public:
  explicit HookGate(std::function<void()>& hook) : hook_(hook), s_(std::make_shared<State>()) {
    hook_ = [s = s_] {
      std::unique_lock<std::mutex> lock(s->mutex);
      if (s->arrived) return;
      s->arrived = true;
      s->cv.notify_all();
      s->cv.wait_for(lock, std::chrono::seconds(20), [&] { return s->released; });
    };
  }
  ~HookGate() { Release(); }
  // Runs the event loop until a thread is held; false after a minute.
  bool WaitHeld() {
    return WaitFor(
        [s = s_] {
          std::lock_guard<std::mutex> lock(s->mutex);
          return s->arrived;
        },
        std::chrono::seconds(60));
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(s_->mutex);
      s_->released = true;
    }
    s_->cv.notify_all();
  }
  // Takes the hook away; only while no thread can be calling it.
  void Remove() { hook_ = nullptr; }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    bool arrived = false, released = false;
  };
  std::function<void()>& hook_;
  std::shared_ptr<State> s_;
};

}  // namespace viewergui
