#include "app/TaskBarProgress.h"

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

void CTaskBarProgress::BeginProgress() { OnUiThread([this] { DoBegin(); }); }

void CTaskBarProgress::SetProgress(uint64_t done, uint64_t total) {
  OnUiThread([this, done, total] { DoSet(done, total); });
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
  OnUiThread([this, text] { DoText(text); });
}

void CTaskBarProgress::EndProgress() { OnUiThread([this] { DoEnd(); }); }

void CTaskBarProgress::DoBegin() {
  if (auto* bar = m_frame ? m_frame->GetProgressBar() : nullptr) {
    bar->Pulse();
    bar->Redraw();
  }
  m_launcher->Update(0.0, true);
}

void CTaskBarProgress::DoSet(uint64_t done, uint64_t total) {
  // The bar shows the share done over its own range; 0 of 0 shows nothing
  // done and more than the total shows a full bar.
  double share = total == 0 ? 0.0 : done >= total ? 1.0 : double(done) / double(total);
  if (auto* bar = m_frame ? m_frame->GetProgressBar() : nullptr) {
    int span = bar->GetRangeMax() - bar->GetRangeMin();
    bar->SetPos(bar->GetRangeMin() + int(share * span + 0.5));
    bar->Redraw();
  }
  m_launcher->Update(share, true);
}

void CTaskBarProgress::DoText(const wxString& text) {
  if (auto* pane = m_frame ? m_frame->GetStatusElement(0) : nullptr) {
    pane->SetText(text);
    pane->Redraw();
  }
}

void CTaskBarProgress::DoEnd() {
  if (auto* bar = m_frame ? m_frame->GetProgressBar() : nullptr) {
    if (bar->IsPulsing()) bar->SetPos(bar->GetRangeMin());  // nothing was measured
    bar->Redraw();
  }
  if (auto* pane = m_frame ? m_frame->GetStatusElement(0) : nullptr)
    pane->SetText(pw::LoadString(pw::cmd::IDS_STATUS_PANE1));
  m_launcher->Update(0.0, false);
}
