#include "app/TaskBarProgress.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <wx/thread.h>

#include "app/CommandIds.h"
#include "app/LauncherEntry.h"
#include "app/MainFrame.h"
#include "app/Resources.h"
#include "app/StatusBar.h"

CTaskBarProgress::CTaskBarProgress(CMainFrame* frame)
    : m_frame(frame), m_launcher(std::make_unique<pw::LauncherEntry>("pixelwharf.desktop")) {}

CTaskBarProgress::~CTaskBarProgress() { m_alive.reset(); }

bool CTaskBarProgress::HasLauncherEntry() const { return m_launcher->IsConnected(); }

// A call queued from a worker may run after this object is destroyed (the
// frame keeps its pending calls until it goes itself), so it holds only a weak
// token and does nothing once the token is gone. Both the destructor and the
// queued call run on the UI thread, so the check cannot race.
template <class F>
void CTaskBarProgress::OnUiThread(F&& f) {
  if (wxIsMainThread()) {
    f();
  } else if (m_frame) {
    std::weak_ptr<bool> alive = m_alive;
    m_frame->CallAfter([alive, f = std::forward<F>(f)]() mutable {
      if (alive.lock()) f();
    });
  }
}

template <class F>
void CTaskBarProgress::InThisGroup(F&& f) {
  const uint64_t phase = m_phase.load();
  OnUiThread([this, phase, f = std::forward<F>(f)]() mutable {
    if (m_phase.load() == phase) f();
  });
}

void CTaskBarProgress::BeginProgress() {
  ++m_phase;
  OnUiThread([this] { DoBegin(); });
}

void CTaskBarProgress::SetProgress(uint64_t done, uint64_t total) {
  uint64_t number;
  {
    std::lock_guard<std::mutex> lock(m_lastMutex);
    number = ++m_reports;
    m_last = Report{m_phase.load(), done, total, number, true};
  }
  InThisGroup([this, done, total, number] {
    m_delivered = number;
    DoSet(done, total);
  });
}

void CTaskBarProgress::SetGroupShare(int from, int to) {
  m_shareFrom = from;
  m_shareTo = std::max(from, to);
}

void CTaskBarProgress::SetProgressText(const char* format, ...) {
  char buffer[kMaxText + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);  // cut at kMaxText bytes
  va_end(args);
  // The cut may fall inside a character: drop its lead bytes.
  std::size_t length = std::strlen(buffer);
  wxString text = wxString::FromUTF8(buffer, length);
  for (int back = 1; text.empty() && back <= 3 && length > 0; ++back)
    text = wxString::FromUTF8(buffer, --length);
  text.Truncate(kMaxText);
  InThisGroup([this, text] { DoText(text); });
}

void CTaskBarProgress::EndProgress() {
  Report last;
  {
    std::lock_guard<std::mutex> lock(m_lastMutex);
    if (m_last.set && m_last.phase == m_phase.load()) last = m_last;
    m_last = Report();
  }
  ++m_phase;
  OnUiThread([this, last] {
    if (last.set && last.number != m_delivered) DoSet(last.done, last.total);
    DoEnd();
  });
}

void CTaskBarProgress::DoBegin() {
  m_shareFrom = m_shareTo = -1;
  if (auto* bar = m_frame ? m_frame->GetProgressBar() : nullptr) {
    bar->Pulse();
    bar->Redraw();
  }
  m_launcher->Update(0.0, true);
}

void CTaskBarProgress::DoSet(uint64_t done, uint64_t total) {
  // The share done: 0 of 0 shows nothing done and more than the total all.
  const double share = total == 0 ? 0.0 : done >= total ? 1.0 : double(done) / double(total);
  double whole = share;  // of the bar's whole range, for the launcher entry
  if (auto* bar = m_frame ? m_frame->GetProgressBar() : nullptr) {
    int from = bar->GetRangeMin(), to = bar->GetRangeMax();
    if (m_shareFrom >= 0) {
      from = m_shareFrom;
      to = m_shareTo;
    }
    bar->SetPos(from + int(share * (to - from) + 0.5));
    bar->Redraw();
    const int span = bar->GetRangeMax() - bar->GetRangeMin();
    if (span > 0) whole = double(bar->GetPos() - bar->GetRangeMin()) / span;
  }
  m_launcher->Update(whole, true);
}

void CTaskBarProgress::DoText(const wxString& text) {
  if (auto* pane = m_frame ? m_frame->GetStatusElement(0) : nullptr) {
    pane->SetText(text);
    pane->Redraw();
  }
}

void CTaskBarProgress::DoEnd() {
  m_shareFrom = m_shareTo = -1;
  if (auto* bar = m_frame ? m_frame->GetProgressBar() : nullptr) {
    // A group that measured nothing leaves the bar where the run put it:
    // the pulsing stops, the position stays.
    if (bar->IsPulsing()) bar->SetPos(bar->GetPos());
    bar->Redraw();
  }
  if (auto* pane = m_frame ? m_frame->GetStatusElement(0) : nullptr)
    pane->SetText(pw::LoadString(pw::cmd::IDS_STATUS_PANE1));
  m_launcher->Update(0.0, false);
}
