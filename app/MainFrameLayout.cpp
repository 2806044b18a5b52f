// The two window layouts that follow the ribbon category: the viewer
// (resizable, placed as last left) and the tools (a fixed 800 x 600 window,
// centred, with the tool last used).
#include <wx/display.h>
#include <wx/ribbon/bar.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/Resources.h"
#include "app/SettingsAccess.h"
#include "app/StatusBar.h"

using namespace pw;

namespace {
constexpr int kFixedWidth = 800;
constexpr int kFixedHeight = 600;
constexpr long kSizingStyles = wxMAXIMIZE_BOX | wxRESIZE_BORDER;
}  // namespace

wxRect CMainFrame::CenterFixedFrame() {
  int index = wxDisplay::GetFromWindow(this);
  wxDisplay display(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index));
  wxRect area = display.GetClientArea();
  wxRect rect(area.x + area.width / 2 - kFixedWidth / 2, area.y + area.height / 2 - kFixedHeight / 2,
              kFixedWidth, kFixedHeight);
  if (IsMaximized()) Maximize(false);
  SetSize(rect);
  Refresh();
  return rect;
}

int CMainFrame::RestoreFrameStyle() {
  SetWindowStyleFlag(GetWindowStyleFlag() | kSizingStyles);
  SetSizeHints(wxDefaultSize, wxDefaultSize);
  m_fixedLayout = false;
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
  } else if (category == 2) {
    CenterFixedFrame();
    SetWindowStyleFlag(GetWindowStyleFlag() & ~kSizingStyles);
    SetSizeHints(kFixedWidth, kFixedHeight, kFixedWidth, kFixedHeight);
    m_fixedLayout = true;
    ReopenLastTool();
  }
  RefreshCommandStates();
  return 0;
}
