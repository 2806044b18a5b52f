// Commands of the main window: routing through view, document, frame and
// application, the button states, the drop-down menus, the tools, opening
// files and print preview.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <wx/button.h>
#include <wx/config.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/print.h>
#include <wx/ribbon/bar.h>
#include <wx/ribbon/buttonbar.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/Looks.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/SettingsAccess.h"
#include "app/StatusBar.h"
#include "platform/text.h"

using namespace pw;

namespace {

bool IsPrintCommand(int id) {
  return id == cmd::ID_FILE_PRINT || id == cmd::ID_FILE_PRINT_DIRECT || id == cmd::ID_FILE_PRINT_PREVIEW;
}

constexpr int kToolCommands[5] = {cmd::ID_BUTTON_CLASSIFYFILES, cmd::ID_BUTTON_RESIZEIMAGES,
                                  cmd::ID_BUTTON_CLONEEXIF, cmd::ID_BUTTON_CONVERTOR,
                                  cmd::ID_BUTTON_MERGEIMGS};

int ToolOfCommand(int id) {
  for (int tool = 0; tool < 5; ++tool)
    if (kToolCommands[tool] == id) return tool;
  return -1;
}

}  // namespace

bool CMainFrame::DoCommand(int id) {
  // As the view and its document come first for every command, except
  // that the print commands act on the preview while it is shown.
  bool handled = false;
  if (!(IsPrintPreviewActive() && IsPrintCommand(id))) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(this);
    handled = (m_view && m_view->ProcessWindowEventLocally(event)) ||
              (m_document && m_document->ProcessEventLocally(event));
  }
  if (!handled) handled = FrameCommand(id);
  if (!m_shutDown) RefreshCommandStates();
  return handled;
}

bool CMainFrame::FrameCommand(int id) {
  int tool = ToolOfCommand(id);
  if (tool >= 0) {
    ShowTool(tool);
    return true;
  }
  if (id >= cmd::ID_VIEW_APPLOOK_FIRST && id <= cmd::ID_VIEW_APPLOOK_LAST) {
    OnApplicationLook(id);
    return true;
  }
  if (id >= wxID_FILE1 && id <= wxID_FILE9) {
    wxFileHistory* history = PwApp().GetFileHistory();
    size_t index = static_cast<size_t>(id - wxID_FILE1);
    if (history && index < history->GetCount()) OpenDocumentFile(history->GetHistoryFile(index));
    return true;
  }
  switch (id) {
    case cmd::ID_FILE_NEW:
      if (m_document) m_document->OnNewDocument();
      return true;
    case cmd::ID_FILE_OPEN: {
      std::wstring path = PickOpenFile();
      if (!path.empty()) OpenDocumentFile(wxString(path));
      return true;
    }
    case cmd::ID_FILE_PRINT:
    case cmd::ID_FILE_PRINT_DIRECT:
      OnFilePrint();
      return true;
    case cmd::ID_FILE_PRINT_PREVIEW:
      OnFilePrintPreview();
      return true;
    case cmd::ID_FILE_PRINT_SETUP:
      PwApp().OnFilePrintSetup();
      return true;
    case cmd::ID_VIEW_STATUS_BAR:
      ToggleStatusBar();
      return true;
    case cmd::ID_APP_ABOUT:
      PwApp().OnAppAbout();
      return true;
    case cmd::ID_APP_EXIT:
      Close();
      return true;
    default:
      return false;  // saving is not offered: nothing may be written over the open image
  }
}

void CMainFrame::QueryCommandState(int id, bool& enabled, bool& checked) {
  enabled = true;
  checked = false;
  if (!(IsPrintPreviewActive() && IsPrintCommand(id))) {
    wxUpdateUIEvent event(id);
    event.SetEventObject(this);
    if ((m_view && m_view->ProcessWindowEventLocally(event)) ||
        (m_document && m_document->ProcessEventLocally(event))) {
      if (event.GetSetEnabled()) enabled = event.GetEnabled();
      if (event.GetSetChecked()) checked = event.GetChecked();
      return;
    }
  }
  FrameCommandState(id, enabled, checked);
}

bool CMainFrame::FrameCommandState(int id, bool& enabled, bool& checked) {
  if (std::find(m_inertCommands.begin(), m_inertCommands.end(), id) != m_inertCommands.end()) {
    enabled = false;
    return true;
  }
  int tool = ToolOfCommand(id);
  if (tool >= 0) {
    enabled = SelIndex(m_settings) != tool;  // the tool on show is greyed
    return true;
  }
  if (id >= cmd::ID_VIEW_APPLOOK_FIRST && id <= cmd::ID_VIEW_APPLOOK_LAST) {
    checked = g_nAppLook == id;
    return true;
  }
  switch (id) {
    case cmd::ID_FILE_SAVE:
    case cmd::ID_FILE_SAVE_AS:
      // Saving would write over the open image, which the viewer never does.
      enabled = false;
      return true;
    case cmd::ID_VIEW_STATUS_BAR:
      checked = m_statusBar && m_statusBar->IsShown();
      return true;
    case cmd::ID_FILE_PRINT_PREVIEW:
      checked = IsPrintPreviewActive();
      return true;
    default:
      return false;
  }
}

void CMainFrame::RefreshCommandStates() {
  auto apply = [this](int id, auto&& setter) {
    bool enabled, checked;
    QueryCommandState(id, enabled, checked);
    auto state = std::make_pair(enabled, checked);
    auto it = m_commandStates.find(id);
    if (it != m_commandStates.end() && it->second == state) return;
    m_commandStates[id] = state;
    setter(enabled, checked);
  };
  for (auto& [id, bar] : m_ribbonButtons) {
    wxRibbonButtonBar* b = bar;
    int i = id;
    apply(id, [b, i](bool enabled, bool checked) {
      b->EnableButton(i, enabled);
      b->ToggleButton(i, checked);
    });
  }
  for (auto& [id, button] : m_quickButtons) {
    wxWindow* w = button;
    apply(id, [w](bool enabled, bool) { w->Enable(enabled); });
  }
}

bool CMainFrame::IsCommandEnabled(int id) const {
  auto it = m_commandStates.find(id);
  return it != m_commandStates.end() && it->second.first;
}

bool CMainFrame::IsCommandChecked(int id) const {
  auto it = m_commandStates.find(id);
  return it != m_commandStates.end() && it->second.second;
}

void CMainFrame::OnIdle(wxIdleEvent& event) {
  event.Skip();
  if (m_closePending && !m_shutDown) {
    if (!IsInsideNestedWork()) {
      Close(m_closeForced);
      return;
    }
    if (m_closeForced) CloseMessageBoxes();
  }
  if (!m_shutDown) RefreshCommandStates();
}

void CMainFrame::OnRibbonButton(wxRibbonButtonBarEvent& event) { DoCommand(event.GetId()); }

void CMainFrame::OnRibbonPageChanged(wxRibbonBarEvent&) { OnRibbonCategoryChanged(); }

void CMainFrame::ShowFileMenu() {
  wxMenu menu;
  BuildFileMenu(menu);
  PopupCommandMenu(menu, m_fileButton);
}

void CMainFrame::BuildFileMenu(wxMenu& menu) {
  using cmd::MenuIdOfCommand;
  wxMenu* print = nullptr;
  wxMenu* recent = nullptr;
  for (const auto& item : RibbonTable()) {
    if (item.place == "menu") {
      if (item.kind == "separator") {
        menu.AppendSeparator();
      } else if (item.kind == "recent") {
        recent = new wxMenu;
        if (wxFileHistory* history = PwApp().GetFileHistory()) history->AddFilesToMenu(recent);
        menu.AppendSubMenu(recent, item.text);
      } else if (item.id == cmd::ID_FILE_PRINT) {
        print = new wxMenu;
        // The print item opens its sub-menu; its own command is the first entry.
        menu.AppendSubMenu(print, item.text);
        print->Append(MenuIdOfCommand(item.id), item.text);
      } else {
        // The picture must be set before the entry joins the menu: the
        // toolkit picks an entry with or without picture when it is added.
        auto* entry = new wxMenuItem(&menu, MenuIdOfCommand(item.id), item.text);
        if (!item.icon.empty()) entry->SetBitmap(LoadIcon(item.icon, true));
        menu.Append(entry);
      }
    } else if (item.place == "print" && print) {
      if (item.kind == "label")
        print->Append(wxID_ANY, item.text)->Enable(false);
      else
        print->Append(MenuIdOfCommand(item.id), item.text);
    }
  }
}

void CMainFrame::ShowLookMenu() {
  wxMenu menu;
  for (const auto& item : RibbonTable())
    if (item.place == "looks") menu.AppendRadioItem(item.id, item.text);
  PopupCommandMenu(menu, m_lookButton);
}

void CMainFrame::PopupCommandMenu(wxMenu& menu, wxWindow* under) {
  // Give every entry its state before it shows.
  std::function<void(wxMenu&)> update = [&](wxMenu& m) {
    for (wxMenuItem* item : m.GetMenuItems()) {
      if (item->IsSubMenu()) {
        update(*item->GetSubMenu());
        continue;
      }
      if (item->IsSeparator() || !item->IsEnabled()) continue;
      bool enabled, checked;
      QueryCommandState(cmd::CommandOfMenuId(item->GetId()), enabled, checked);
      item->Enable(enabled);
      if (item->IsCheckable()) item->Check(checked);
    }
  };
  update(menu);
  wxPoint at = under ? ScreenToClient(under->ClientToScreen(wxPoint(0, under->GetSize().y))) : wxDefaultPosition;
  PopupMenu(&menu, at);
}

void CMainFrame::ShowTool(int tool) {
  if (!m_view || !m_toolHost.frame || !m_toolHost.view) return;
  m_toolHost.HidePanels();
  switch (tool) {
    case 0: m_toolHost.ShowClassifyFiles(); break;
    case 1: m_toolHost.ShowResizePictures(); break;
    case 2: m_toolHost.ShowCloneExif(); break;
    case 3: m_toolHost.ShowConvertor(); break;
    case 4: m_toolHost.ShowMergeImgs(); break;
    default: return;
  }
  SelIndex(m_settings) = tool;
}

void CMainFrame::ToggleStatusBar() {
  if (!m_statusBar) return;
  m_statusBar->Show(!m_statusBar->IsShown());
  SendSizeEvent();
}

bool CMainFrame::OpenDocumentFile(const wxString& path) {
  wxFileName name(path);
  name.MakeAbsolute();
  wxString full = name.GetFullPath();
  // The reading itself goes on after this returns; a file that turns out to
  // hold no raster is reported then, the same way (ReportOpenFailure).
  if (!m_document || !m_document->OnOpenDocument(full.ToStdWstring())) {
    ReportOpenFailure(full);
    return false;
  }
  if (wxFileHistory* history = PwApp().GetFileHistory()) history->AddFileToHistory(full);
  // The image shows only in the viewer category: leave the tools for it.
  if (GetActiveCategory() != 1) ActivateRibbonCategory(1);
  return true;
}

namespace {
// Why a file the reader gave no reason for did not open.
wxString OpenFailureReason(const wxString& full) {
  const std::string path = pw::WideToNarrow(full.ToStdWstring());
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return wxString::FromUTF8("文件不存在");
  if (!std::filesystem::is_regular_file(status)) return wxString::FromUTF8("不是文件");
  if (!std::ifstream(path)) return wxString::FromUTF8("无法读取文件");
  return wxString::FromUTF8("不是可识别的栅格影像");
}
}  // namespace

void CMainFrame::ReportOpenFailure(const wxString& full, const wxString& reason) {
  // A file that cannot be opened leaves the recent list.
  if (wxFileHistory* history = PwApp().GetFileHistory()) {
    for (size_t i = 0; i < history->GetCount(); ++i)
      if (history->GetHistoryFile(i) == full) {
        history->RemoveFileFromHistory(i);
        break;
      }
  }
  // Bytes of the name that are not text show as replacement characters.
  wxString shown = full;
  for (auto it = shown.begin(); it != shown.end(); ++it)
    if (*it >= 0xDC80 && *it <= 0xDCFF) *it = wxUniChar(0xFFFD);
  // The reader's own reason, when it gave one, under the usual text;
  // else what the file itself tells.
  wxString text = wxString::Format(LoadString(cmd::IDS_OPEN_FAILED), shown);
  text += "\n" + (reason.empty() ? OpenFailureReason(full) : reason);
  pw::MessageBox(text, wxOK | wxICON_EXCLAMATION, this);
}

void CMainFrame::OnDropFiles(const wxArrayString& files) {
  // Each opening replaces the one before: open only the file that would stay.
  if (!files.empty()) OpenDocumentFile(files.Last());
}

void CMainFrame::ShowPrintPreview(wxPrintout* forPreview, wxPrintout* forPrinting) {
  if (m_preview) {
    delete forPreview;
    delete forPrinting;
    m_preview->Raise();
    return;
  }
  auto* preview = new wxPrintPreview(forPreview, forPrinting);
  if (!preview->IsOk()) {
    delete preview;
    return;
  }
  m_printPreview = preview;  // owned by the preview window
  m_preview = new wxPreviewFrame(preview, this, LoadString(cmd::IDS_APP_TITLE));
  m_preview->InitializeWithModality(wxPreviewFrame_NonModal);
  m_preview->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == m_preview) {
      m_preview = nullptr;
      m_printPreview = nullptr;
    }
    e.Skip();
  });
  m_preview->Show();
}

void CMainFrame::OnFilePrint() {
  if (m_printPreview) m_printPreview->Print(true);
}

void CMainFrame::OnFilePrintPreview() {
  if (m_preview) m_preview->Close();
}
