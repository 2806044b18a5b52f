// Building and tearing down the main window: ribbon, status bar, looks,
// settings at creation and at shutdown.
#include "app/MainFrame.h"

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/evtloop.h>
#include <wx/modalhook.h>
#include <wx/panel.h>
#include <wx/print.h>
#include <wx/printdlg.h>
#include <wx/ribbon/bar.h>
#include <wx/ribbon/buttonbar.h>
#include <wx/ribbon/page.h>
#include <wx/ribbon/panel.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include "app/CommandIds.h"
#include "app/Lifecycle.h"
#include "app/Looks.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/SettingsAccess.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "core/FileHelpers.h"
#include "platform/paths.h"
#include "platform/text.h"

using namespace pw;

namespace {
// Counts the modal dialogs on screen: while one is up, the code that opened
// it waits for it further down the stack.
class ModalDialogCount : public wxModalDialogHook {
 public:
  int Enter(wxDialog*) override {
    ++m_open;
    return wxID_NONE;
  }
  void Exit(wxDialog*) override { --m_open; }
  int Open() const { return m_open; }

 private:
  int m_open = 0;
};

ModalDialogCount& ModalDialogs() {
  // Never destroyed: the toolkit's hook list may be gone before our statics.
  static ModalDialogCount* hook = [] {
    auto* h = new ModalDialogCount;
    h->Register();
    return h;
  }();
  return *hook;
}
}  // namespace

CMainFrame::CMainFrame() {
  g_nAppLook = static_cast<int>(wxConfigBase::Get()->ReadLong("ApplicationLook", cmd::ID_VIEW_APPLOOK_OFF_2007_BLUE));
}

CMainFrame::~CMainFrame() { Shutdown(); }

bool CMainFrame::Create(CPixelwharfDoc* document) {
  m_document = document;
  ModalDialogs();  // counting starts before any dialog can open
  if (!wxFrame::Create(nullptr, wxID_ANY, LoadString(cmd::IDS_APP_TITLE), wxDefaultPosition,
                       wxSize(1024, 720), wxDEFAULT_FRAME_STYLE, "pixelwharf"))
    return false;
  wxIconBundle icons;
  for (const char* name : {"app_16", "app", "app_48", "app_128"}) {
    wxIcon icon;
    icon.CopyFromBitmap(LoadIcon(name));
    if (icon.IsOk()) icons.AddIcon(icon);
  }
  SetIcons(icons);

  // The look first, so the ribbon is built in it; the command also
  // writes the setting back.
  OnApplicationLook(g_nAppLook);
  BuildRibbon();
  BuildStatusBar();

  m_view = new CPixelwharfView(this, document);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(m_top, 0, wxEXPAND);
  sizer->Add(m_view, 1, wxEXPAND);
  SetSizer(sizer);
  if (document) {
    document->SetFrame(this);
    document->SetView(m_view);
  }
  LoadWindowPlacement();

  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
  Bind(wxEVT_SIZE, &CMainFrame::OnPlacementChanged, this);
  Bind(wxEVT_MOVE, &CMainFrame::OnPlacementChanged, this);
  Bind(wxEVT_MAXIMIZE, &CMainFrame::OnPlacementChanged, this);
  Bind(wxEVT_IDLE, &CMainFrame::OnIdle, this);
  Bind(wxEVT_MENU, [this](wxCommandEvent& e) { DoCommand(cmd::CommandOfMenuId(e.GetId())); });

  // Settings last: without the file the defaults stay, and it is written
  // at exit.
  std::string ini = GetIniFilePath();
  if (!ini.empty() && FileExists(NarrowToWide(ini))) LoadSettings(NarrowToWide(ini), m_settings);
  RefreshCommandStates();
  return true;
}

std::string CMainFrame::GetIniFilePath() const { return SettingsFilePath(); }

void CMainFrame::BuildRibbon() {
  m_top = new wxPanel(this, wxID_ANY);
  auto* row = new wxBoxSizer(wxHORIZONTAL);

  // Left: the 文件 drop-down and the quick-access buttons under it.
  auto* left = new wxBoxSizer(wxVERTICAL);
  m_fileButton = new wxButton(m_top, wxID_ANY, LoadString(cmd::IDS_FILE_MENU) + wxString::FromUTF8(" ▾"));
  m_fileButton->SetBitmap(LoadIcon("filemenu", true));
  m_fileButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowFileMenu(); });
  left->Add(m_fileButton, 0, wxEXPAND | wxALL, 4);
  auto* quick = new wxBoxSizer(wxHORIZONTAL);
  for (const auto& item : RibbonTable()) {
    if (item.place != "qat") continue;
    auto* button = new wxBitmapButton(m_top, wxID_ANY, LoadIcon(item.icon, true), wxDefaultPosition,
                                      wxDefaultSize, wxBU_EXACTFIT | wxBORDER_NONE);
    button->SetToolTip(item.text);
    int id = item.id;
    button->Bind(wxEVT_BUTTON, [this, id](wxCommandEvent&) { DoCommand(id); });
    quick->Add(button, 0, wxRIGHT, 2);
    m_quickButtons[id] = button;
  }
  left->Add(quick, 0, wxLEFT | wxRIGHT | wxBOTTOM, 4);
  row->Add(left, 0, wxEXPAND);

  // Middle: the two working categories.
  m_ribbon = new wxRibbonBar(m_top, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                             wxRIBBON_BAR_FLOW_HORIZONTAL | wxRIBBON_BAR_SHOW_PAGE_LABELS |
                                 wxRIBBON_BAR_ALWAYS_SHOW_TABS);
  m_ribbon->SetArtProvider(CreateLookArtProvider(g_nAppLook));
  std::map<std::string, wxRibbonPage*> pages;
  std::map<std::string, wxRibbonButtonBar*> bars;
  for (const auto& item : RibbonTable()) {
    if (item.place == "category") {
      pages[std::to_string(item.id)] = new wxRibbonPage(m_ribbon, wxID_ANY, item.text);
      continue;
    }
    std::size_t slash = item.place.find('/');
    if (slash == std::string::npos) continue;
    std::string category = item.place.substr(0, slash);
    if (!pages.count(category)) continue;
    wxRibbonButtonBar*& bar = bars[item.place];
    if (!bar) {
      auto* panel = new wxRibbonPanel(pages[category], wxID_ANY, wxString::FromUTF8(item.place.substr(slash + 1)),
                                      wxNullBitmap, wxDefaultPosition, wxDefaultSize,
                                      wxRIBBON_PANEL_NO_AUTO_MINIMISE);
      bar = new wxRibbonButtonBar(panel);
    }
    // Elements without a command (the clipboard panel) get an id of their
    // own, so they can be shown greyed: they do nothing.
    int id = item.id ? item.id : static_cast<int>(wxWindow::NewControlId());
    if (!item.id) m_inertCommands.push_back(id);
    // The text doubles as the tooltip.
    if (item.kind == "check")
      bar->AddToggleButton(id, item.text, LoadIcon(item.icon), item.text);
    else
      bar->AddButton(id, item.text, LoadIcon(item.icon), item.text);
    m_ribbonButtons[id] = bar;
  }
  m_ribbon->Realize();
  // Loading makes category 1 the active one; no category change is reported.
  m_ribbon->SetActivePage(static_cast<size_t>(0));
  m_ribbon->Bind(wxEVT_RIBBONBUTTONBAR_CLICKED, &CMainFrame::OnRibbonButton, this);
  m_ribbon->Bind(wxEVT_RIBBONBAR_PAGE_CHANGED, &CMainFrame::OnRibbonPageChanged, this);
  row->Add(m_ribbon, 1, wxEXPAND);

  // Right: the look menu and About.
  auto* right = new wxBoxSizer(wxVERTICAL);
  m_lookButton = new wxButton(m_top, wxID_ANY, LoadString(cmd::IDS_LOOK_MENU) + wxString::FromUTF8(" ▾"));
  m_lookButton->SetBitmap(LoadIcon("look", true));
  m_lookButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowLookMenu(); });
  right->Add(m_lookButton, 0, wxEXPAND | wxALL, 4);
  auto* about = new wxBitmapButton(m_top, wxID_ANY, LoadIcon("about", true), wxDefaultPosition,
                                   wxDefaultSize, wxBU_EXACTFIT | wxBORDER_NONE);
  about->SetToolTip(LoadString(cmd::IDS_ABOUT));
  about->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { DoCommand(cmd::ID_APP_ABOUT); });
  right->Add(about, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 4);
  m_quickButtons[cmd::ID_APP_ABOUT] = about;
  row->Add(right, 0, wxEXPAND);

  m_top->SetSizer(row);
  ApplyLookColours();
}

void CMainFrame::BuildStatusBar() {
  m_statusBar = new CRibbonStatusBar(this, wxID_ANY);
  SetStatusBar(m_statusBar);
  m_statusBar->AddElements();
}

void CMainFrame::OnApplicationLook(int id) {
  wxBusyCursor wait;
  g_nAppLook = id;
  if (m_ribbon) {
    m_ribbon->SetArtProvider(CreateLookArtProvider(id));
    m_ribbon->Realize();
    ApplyLookColours();
    m_top->Layout();
  }
  m_windows7Look = id == cmd::ID_VIEW_APPLOOK_WINDOWS_7;
  Refresh(true);
  Update();
  wxConfigBase* config = wxConfigBase::Get();
  config->Write("ApplicationLook", static_cast<long>(g_nAppLook));
  config->Flush();
}

void CMainFrame::ApplyLookColours() {
  if (!m_ribbon || !m_top) return;
  wxColour back = m_ribbon->GetArtProvider()->GetColour(wxRIBBON_ART_TAB_CTRL_BACKGROUND_COLOUR);
  m_top->SetBackgroundColour(back);
  m_top->Refresh();
}

pw::StatusElement* CMainFrame::GetStatusElement(int pos) const {
  return m_statusBar ? m_statusBar->GetElement(pos) : nullptr;
}

pw::StatusElement* CMainFrame::GetStatusExElement(int pos) const {
  return m_statusBar ? m_statusBar->GetExElement(pos) : nullptr;
}

pw::StatusProgressBar* CMainFrame::GetProgressBar() const {
  return m_statusBar ? m_statusBar->GetProgressBar() : nullptr;
}

int CMainFrame::CreateTaskbarProgress() {
  if (!m_progress) m_progress = std::make_unique<CTaskBarProgress>(this);
  return 0;
}

void CMainFrame::SetPanelStatusText(const std::wstring& text, int pane) {
  if (pw::StatusElement* element = GetStatusExElement(pane)) {
    element->SetText(wxString(text));
    element->Redraw();
  }
}

void CMainFrame::ResetPanelProgress() { ResetRibbonProgress(100); }

void CMainFrame::SetPanelProgress(int position) {
  if (StatusProgressBar* bar = GetProgressBar()) {
    bar->SetPos(position);
    bar->Redraw();
  }
}

void CMainFrame::CompletePanelProgress() { SetPanelProgress(100); }

CProgressInterface* CMainFrame::RunProgress() {
  CreateTaskbarProgress();
  return m_progress.get();
}

int CMainFrame::ResetRibbonProgress(int range) {
  if (StatusProgressBar* bar = GetProgressBar()) {
    bar->SetRange(0, range);
    bar->SetPos(0);
    bar->Redraw();
  }
  return 0;
}

bool CMainFrame::IsInsideNestedWork() const {
  if (ModalDialogs().Open() > 0 || PwApp().InBatchWait()) return true;
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  return loop && loop->IsYielding();
}

void CMainFrame::OnClose(wxCloseEvent& event) {
  if (IsInsideNestedWork()) {
    // The handler below still uses the panels and the progress object:
    // close once it has returned.
    m_closePending = true;
    m_closeForced |= !event.CanVeto();
    if (m_closeForced) CloseMessageBoxes();
    if (event.CanVeto()) event.Veto();
    wxWakeUpIdle();
    return;
  }
  m_closePending = false;
  Shutdown();
  Destroy();
  // The frame is deleted, and the program ends, at the next idle time. A
  // close that no window event brought (a signal) has no event behind it
  // to bring that idle time: ask for it.
  wxWakeUpIdle();
}

void CMainFrame::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  std::string ini = GetIniFilePath();
  if (!ini.empty()) SaveSettings(NarrowToWide(ini), m_settings);
  NotifyLifecycle("settings-saved");
  SaveWindowPlacement();
  PwApp().SaveFileHistory();
  m_progress.reset();
  if (m_preview) m_preview->Destroy();
  m_toolHost.DestroyPanels();
  if (m_document) {
    m_document->SetView(nullptr);
    m_document->SetFrame(nullptr);
  }
}
