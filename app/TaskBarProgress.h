// The main window's progress display: the status bar's progress bar (and
// its text pane) and the desktop launcher entry's progress.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include <wx/string.h>

#include "platform/progress.h"

class CMainFrame;

namespace pw {
class LauncherEntry;
}

class CTaskBarProgress : public CProgressInterface {
 public:
  // Longest progress text, in bytes before and characters after conversion.
  static constexpr int kMaxText = 1023;

  explicit CTaskBarProgress(CMainFrame* frame);
  ~CTaskBarProgress() override;

  // Safe to call from any thread: calls off the UI thread are handed to it.
  void BeginProgress() override;
  void SetProgress(uint64_t done, uint64_t total) override;
  void SetProgressText(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void EndProgress() override;

  bool HasLauncherEntry() const;

  // The part of the status-bar progress bar, from one position to another,
  // that the current group of a tool run fills with its per-file progress,
  // so the run's own group positions stay as they are. Called on the UI
  // thread after BeginProgress; the group's EndProgress forgets it. Without
  // a share the progress fills the bar's whole range.
  void SetGroupShare(int from, int to);

 private:
  void DoBegin();
  void DoSet(uint64_t done, uint64_t total);
  void DoText(const wxString& text);
  void DoEnd();
  template <class F> void OnUiThread(F&& f);
  // Runs f on the UI thread unless a BeginProgress or EndProgress was called
  // after this call: a report queued by a worker must not land in another
  // group, nor after its own group has ended.
  template <class F> void InThisGroup(F&& f);

  CMainFrame* m_frame;
  std::unique_ptr<pw::LauncherEntry> m_launcher;
  // Calls queued from workers check this token first: the frame may run
  // them after this object has gone.
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  // Counts BeginProgress and EndProgress calls, on the thread that makes them.
  std::atomic<uint64_t> m_phase{0};
  int m_shareFrom = -1, m_shareTo = -1;  // no share while negative
  // The last report of the current group, which its end shows before the
  // reports still queued are dropped.
  struct Report {
    uint64_t phase = 0, done = 0, total = 0, number = 0;
    bool set = false;
  };
  std::mutex m_lastMutex;
  Report m_last;
  uint64_t m_reports = 0;    // reports made, under m_lastMutex
  uint64_t m_delivered = 0;  // number of the last report shown; UI thread only
};
