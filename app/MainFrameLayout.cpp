// The two window layouts that follow the ribbon category: the viewer
// (resizable, placed as last left) and the tools (a fixed 800 x 600 window,
// centred, with the tool last used), and the viewer's placement kept from
// one run to the next.
#include <algorithm>

#include <wx/config.h>
#include <wx/display.h>
#include <wx/ribbon/bar.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/NativeWindow.h"
#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/SettingsAccess.h"
#include "app/StatusBar.h"

using namespace pw;

namespace {
constexpr int kFixedWidth = 800;
constexpr int kFixedHeight = 600;
constexpr long kSizingStyles = wxMAXIMIZE_BOX | wxRESIZE_BORDER;
// The viewer's size on a first start, and the smallest size kept: anything
// smaller is a window caught in the middle of a change, not a choice.
constexpr int kDefaultWidth = 1024;
constexpr int kDefaultHeight = 720;
constexpr int kMinNormalWidth = 400;
constexpr int kMinNormalHeight = 300;
// How long a maximised start waits for the window manager's size before it
// opens the file named on the command line anyway.
constexpr int kPlacementWaitMs = 3000;
// How often, and how many times at most, the start looks whether the
// window manager has framed the window (the frame's arrival is not an
// event of its own).
constexpr int kStartCheckMs = 40;
constexpr int kStartChecks = 250;
// How often the fixed layout checks that the window manager's frame still
// has the size the content was pinned for.
constexpr int kPinCheckMs = 250;

wxRect ClientAreaFor(const wxRect& rect) {
  int index = wxDisplay::GetFromPoint(rect.GetPosition() + rect.GetSize() / 2);
  if (index == wxNOT_FOUND) index = 0;
  return wxDisplay(static_cast<unsigned>(index)).GetClientArea();
}

// The rectangle moved, and if need be shrunk, so that it lies wholly on
// the screen it is mostly on.
wxRect KeptOnScreen(wxRect rect) {
  const wxRect area = ClientAreaFor(rect);
  rect.width = std::min(rect.width, area.width);
  rect.height = std::min(rect.height, area.height);
  rect.x = std::clamp(rect.x, area.x, area.GetRight() + 1 - rect.width);
  rect.y = std::clamp(rect.y, area.y, area.GetBottom() + 1 - rect.height);
  return rect;
}

wxRect CentredIn(const wxRect& area, int width, int height) {
  return wxRect(area.x + area.width / 2 - width / 2, area.y + area.height / 2 - height / 2, width, height);
}
}  // namespace

wxSize CMainFrame::GetMinSize() const {
  return m_fixedLayout ? wxSize(kFixedWidth, kFixedHeight) : wxFrame::GetMinSize();
}

wxSize CMainFrame::GetMaxSize() const {
  return m_fixedLayout ? wxSize(kFixedWidth, kFixedHeight) : wxFrame::GetMaxSize();
}

wxRect CMainFrame::CenterFixedFrame() {
  int index = wxDisplay::GetFromWindow(this);
  wxDisplay display(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index));
  wxRect rect = CentredIn(display.GetClientArea(), kFixedWidth, kFixedHeight);
  if (IsMaximized()) Maximize(false);
  m_settingPlacement = true;
  SetSize(rect);
  m_settingPlacement = false;
  // Asked again at start (after the window is shown): still the start
  // placement to make good once the window is framed.
  if (!m_placementSettled) m_startPlacement = rect;
  Refresh();
  return rect;
}

void CMainFrame::DoSetSize(int x, int y, int width, int height, int sizeFlags) {
  // Any other size or place asked for replaces the start placement.
  if (!m_settingPlacement) {
    m_startPlacement = wxRect();
    if (IsShown()) m_placementSettled = true;
  }
  wxFrame::DoSetSize(x, y, width, height, sizeFlags);
}

void CMainFrame::LoadWindowPlacement() {
  wxConfigBase* config = wxConfigBase::Get();
  wxRect saved;
  const bool stored = config->Read("Workspace/X", &saved.x) && config->Read("Workspace/Y", &saved.y) &&
                      config->Read("Workspace/Width", &saved.width) &&
                      config->Read("Workspace/Height", &saved.height);
  if (stored && saved.width >= kMinNormalWidth && saved.height >= kMinNormalHeight)
    m_normalRect = KeptOnScreen(saved);
  else
    m_normalRect = KeptOnScreen(CentredIn(wxDisplay(0u).GetClientArea(), kDefaultWidth, kDefaultHeight));
  m_viewerMaximized = config->ReadBool("Workspace/Maximized", false);
}

void CMainFrame::SaveWindowPlacement() {
  if (!m_fixedLayout && !IsIconized() && !m_maximiseWhenPlaced) m_viewerMaximized = IsMaximized();
  wxConfigBase* config = wxConfigBase::Get();
  config->Write("Workspace/Maximized", m_viewerMaximized);
  if (m_normalRect.width >= kMinNormalWidth && m_normalRect.height >= kMinNormalHeight) {
    config->Write("Workspace/X", m_normalRect.x);
    config->Write("Workspace/Y", m_normalRect.y);
    config->Write("Workspace/Width", m_normalRect.width);
    config->Write("Workspace/Height", m_normalRect.height);
  }
  config->Flush();
}

void CMainFrame::SettleStartPlacement() {
  // The toolkit learns how wide the window manager's frame is only when its
  // first window is framed; until then the window manager may map that
  // window in its corner. Once the window is on screen, the start placement
  // is asked for once more (the fixed layout's size is PinFixedSize's
  // business: only its place here).
  wxRect actual;
  if (!FrameRect(this, actual)) return;
  if (!m_startPlacement.IsEmpty()) {
    const wxRect wanted = m_startPlacement;
    m_startPlacement = wxRect();
    m_placementSettled = true;
    if (!IsMaximized()) {
      m_settingPlacement = true;
      if (m_fixedLayout) {
        if (actual.GetPosition() != wanted.GetPosition()) Move(wanted.GetPosition());
      } else if (actual != wanted) {
        SetSize(wanted);
      }
      m_settingPlacement = false;
    }
  }
  // Maximised only now: the window manager keeps the rectangle a window
  // has when it is maximised as the one a restore gives back, and a window
  // maximised before it is mapped has none yet (it would restore to a
  // sliver).
  if (m_maximiseWhenPlaced) {
    m_maximiseWhenPlaced = false;
    Maximize(true);
  }
}

void CMainFrame::WatchStartPlacement() {
  // A timer made without an owner is its own owner: its ticks reach the
  // frame only once the frame owns it.
  if (m_startTimer.GetOwner() != this) {
    m_startTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      if (m_shutDown) {
        m_startTimer.Stop();
        return;
      }
      if (IsShown()) SettleStartPlacement();
      const bool pending = !m_startPlacement.IsEmpty() || m_maximiseWhenPlaced;
      if (pending && ++m_startChecks < kStartChecks) return;
      m_startTimer.Stop();
      // A window manager that never frames the window still gets the
      // maximised window asked for.
      if (m_maximiseWhenPlaced && IsShown()) {
        m_maximiseWhenPlaced = false;
        Maximize(true);
      }
    }, m_startTimer.GetId());
  }
  m_startChecks = 0;
  m_startTimer.Start(kStartCheckMs);
}

void CMainFrame::PinFixedSize() {
  // 800 x 600 with the window manager's frame, whose size is known once
  // the window is on screen.
  wxRect frame;
  wxSize content;
  const bool onScreen = FrameRect(this, frame, &content);
  const wxSize frameAround = onScreen ? frame.GetSize() - content : wxSize(0, 0);
  const wxSize wanted = wxSize(kFixedWidth, kFixedHeight) - frameAround;
  // The toolkit resizes by its own idea of that frame on every move or
  // resize it makes: pin again whenever the content has left the size.
  if (wanted == m_pinnedContent && (!onScreen || content == wanted)) return;
  m_pinnedContent = wanted;
  PinContentSize(this, wanted);
}

void CMainFrame::WatchFixedSize() {
  // The window manager's frame changes with the functions it offers (the
  // sizing border goes) without a size change to tell: look again now and
  // then while the layout holds (nothing is done while the size is right).
  if (m_pinTimer.GetOwner() != this) {
    m_pinTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      if (!m_fixedLayout || m_shutDown) {
        m_pinTimer.Stop();
        return;
      }
      PinFixedSize();
    }, m_pinTimer.GetId());
  }
  m_pinTimer.Start(kPinCheckMs);
}

void CMainFrame::OnPlacementChanged(wxEvent& event) {
  event.Skip();
  if (!m_shutDown && IsShown()) SettleStartPlacement();
  if (m_fixedLayout && !m_shutDown && event.GetEventType() == wxEVT_SIZE) PinFixedSize();
  if (m_fixedLayout || m_shutDown || !IsShown() || IsIconized() || IsFullScreen()) return;
  // Mapped but not yet maximised: the saved placement stands.
  if (m_maximiseWhenPlaced) return;
  m_viewerMaximized = IsMaximized();
  if (!m_pendingOpen.empty()) CallAfter([this] { OpenWhenSized(); });
  if (m_viewerMaximized) return;
  const wxRect rect = GetRect();
  // A size reported on the way to a maximised window may come before the
  // window knows it is maximised: the whole screen is never a normal size.
  wxRect onScreen;
  if (rect.GetSize() == ClientAreaFor(rect).GetSize() ||
      (FrameRect(this, onScreen) && onScreen.GetSize() == ClientAreaFor(onScreen).GetSize()))
    return;
  if (rect.width >= kMinNormalWidth && rect.height >= kMinNormalHeight) m_normalRect = rect;
}

void CMainFrame::PlaceForStart(bool viewer) {
  if (!viewer) {
    m_startPlacement = CenterFixedFrame();
    WatchStartPlacement();
    return;
  }
  // Mapped at the normal rectangle, also for a maximised start: the window
  // manager maximises it once it is on screen (SettleStartPlacement).
  m_settingPlacement = true;
  SetSize(m_normalRect);
  m_settingPlacement = false;
  m_startPlacement = m_normalRect;
  m_maximiseWhenPlaced = m_viewerMaximized;
  WatchStartPlacement();
}

void CMainFrame::OpenWhenPlaced(const wxString& path) {
  m_pendingOpen = path;
  if (!IsShown() || !m_viewerMaximized) {
    OpenPendingFile();
    return;
  }
  // Maximised: the size comes from the window manager, and with it the
  // opening (OnPlacementChanged); a window manager that never answers must
  // not keep the file from opening.
  m_openTimer.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { OpenPendingFile(); }, m_openTimer.GetId());
  m_openTimer.StartOnce(kPlacementWaitMs);
}

void CMainFrame::OpenWhenSized() {
  if (m_pendingOpen.empty()) return;
  // Maximised means covering the screen's client area, as the window
  // system has the window, not merely asked for.
  // The toolkit's own idea of the size follows the window system's with a
  // delay: both must have it.
  if (m_viewerMaximized) {
    wxRect frame;
    if (!FrameRect(this, frame)) return;
    const wxSize area = ClientAreaFor(frame).GetSize();
    if (frame.GetSize() != area || GetSize().x < area.x - 8 || GetSize().y < area.y - 64) return;
  }
  OpenPendingFile();
}

void CMainFrame::OpenPendingFile() {
  if (m_pendingOpen.empty() || m_shutDown) return;
  const wxString path = m_pendingOpen;
  m_pendingOpen.clear();
  m_openTimer.Stop();
  // The view has its final size before the picture is fitted to it, and
  // knows it: the toolkit reports a child's new size only when it gets
  // round to allocating it.
  Layout();
  if (m_view) m_view->SendSizeEvent();
  OpenDocumentFile(path);
}

int CMainFrame::RestoreFrameStyle() {
  SetWindowStyleFlag(GetWindowStyleFlag() | kSizingStyles);
  SetSizeHints(wxDefaultSize, wxDefaultSize);  // the toolkit's hints replace the pinned ones
  SetFixedFrameFunctions(this, false);
  m_fixedLayout = false;
  m_pinnedContent = wxDefaultSize;
  m_pinTimer.Stop();
  // The viewer starts from the window as the tools left it; that is its
  // normal rectangle until it is moved or resized.
  const wxRect rect = GetRect();
  if (IsShown() && !IsMaximized() && rect.width >= kMinNormalWidth && rect.height >= kMinNormalHeight)
    m_normalRect = rect;
  if (m_view && m_toolHost.frame && m_toolHost.view) m_toolHost.HidePanels();
  return 0;
}

int CMainFrame::ReopenLastTool() {
  if (GetActiveCategory() == 2) {
    int tool = SelIndex(m_settings);
    if (tool >= 0 && tool < 5) {
      static constexpr int kCommands[5] = {cmd::ID_BUTTON_CLASSIFYFILES, cmd::ID_BUTTON_RESIZEIMAGES,
                                           cmd::ID_BUTTON_CLONEEXIF, cmd::ID_BUTTON_CONVERTOR,
                                           cmd::ID_BUTTON_MERGEIMGS};
      DoCommand(kCommands[tool]);
    }
  }
  return CatIndex(m_settings);
}

int CMainFrame::GetActiveCategory() const {
  int page = m_ribbon ? m_ribbon->GetActivePage() : wxNOT_FOUND;
  return page == wxNOT_FOUND ? 0 : page + 1;
}

int CMainFrame::ActivateRibbonCategory(int category) {
  // Only categories that exist; activating the active one reports nothing.
  if (!m_ribbon || category < 1 || category > static_cast<int>(m_ribbon->GetPageCount())) return 0;
  if (category == GetActiveCategory()) return 0;
  m_ribbon->SetActivePage(static_cast<size_t>(category - 1));
  OnRibbonCategoryChanged();  // the ribbon does not report changes it was told to make
  return 0;
}

int CMainFrame::OnRibbonCategoryChanged() {
  int category = GetActiveCategory();
  CatIndex(m_settings) = category;
  if (category == 1) {
    RestoreFrameStyle();
    if (StatusElement* pane = GetStatusExElement(0)) {
      pane->SetText(LoadString(cmd::IDS_OPEN_OR_DROP));
      pane->Redraw();
    }
    if (StatusElement* pane = GetStatusExElement(1)) {
      pane->SetText(LoadString(cmd::IDS_READY));
      pane->Redraw();
    }
    if (m_view) m_view->RefreshImageState();
  } else if (category == 2) {
    if (m_view) m_view->RefreshImageState();  // the viewer's news goes with it
    // The viewer's placement stays what it was before the layout changed.
    if (!m_fixedLayout && IsShown() && !IsIconized() && !m_maximiseWhenPlaced)
      m_viewerMaximized = IsMaximized();
    m_maximiseWhenPlaced = false;  // the fixed layout is never maximised
    m_fixedLayout = true;
    CenterFixedFrame();
    // The window manager's size hints come from PinFixedSize, which knows
    // its frame: the toolkit's own would be re-sent with a stale frame
    // width (GetMinSize and GetMaxSize report the fixed size meanwhile).
    SetWindowStyleFlag(GetWindowStyleFlag() & ~kSizingStyles);
    SetFixedFrameFunctions(this, true);
    m_pinnedContent = wxDefaultSize;
    PinFixedSize();
    WatchFixedSize();
    ReopenLastTool();
  }
  RefreshCommandStates();
  return 0;
}
