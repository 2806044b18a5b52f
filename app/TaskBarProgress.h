// The main window's progress display: the status bar's progress bar (and
// its text pane) and the desktop launcher entry's progress.
#pragma once
#include <cstdint>
#include <memory>

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

 private:
  void DoBegin();
  void DoSet(uint64_t done, uint64_t total);
  void DoText(const wxString& text);
  void DoEnd();
  template <class F> void OnUiThread(F&& f);

  CMainFrame* m_frame;
  std::unique_ptr<pw::LauncherEntry> m_launcher;
  // Calls queued from workers check this token first: the frame may run
  // them after this object has gone.
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
