// Waiting on the window system in the panel tests: conditions with a
// deadline while events are delivered, and a look at a modal dialog from
// inside its own loop before it is ended.
#pragma once

#include <chrono>
#include <functional>

#include <wx/app.h>
#include <wx/timer.h>
#include <wx/utils.h>

namespace paneltest {

// A deadline for things a busy machine may be slow to do.
inline constexpr int kPatienceSeconds = 60;

// Delivers events until `done` holds; false when the deadline passed first.
inline bool WaitFor(const std::function<bool()>& done, int seconds = kPatienceSeconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    wxTheApp->Yield(true);
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
    wxMilliSleep(5);
  }
  return true;
}

// While a modal dialog runs its own loop, `look` is asked on every tick
// until it says it has seen what it wanted (or the deadline passes); then
// `end` ends the dialog. Start it before the action that opens the dialog.
class ModalLook : public wxTimer {
 public:
  ModalLook(std::function<bool()> look, std::function<bool()> end)
      : look_(std::move(look)), end_(std::move(end)) {}
  void Begin() {
    until_ = std::chrono::steady_clock::now() + std::chrono::seconds(kPatienceSeconds);
    seen_ = ended_ = false;
    Start(40);
  }
  bool Seen() const { return seen_; }
  bool Ended() const { return ended_; }

  void Notify() override {
    if (!seen_) seen_ = look_();
    if (!seen_ && std::chrono::steady_clock::now() < until_) return;
    // Keep ticking until there is a dialog to end.
    if (end_()) {
      ended_ = true;
      Stop();
    }
  }

 private:
  std::function<bool()> look_;
  std::function<bool()> end_;
  std::chrono::steady_clock::time_point until_;
  bool seen_ = false;
  bool ended_ = false;
};

}  // namespace paneltest
