#include "app/panels/ToolPanelFrame.h"


#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include <wx/app.h>
#include <wx/combobox.h>
#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/event.h>
#include <wx/textctrl.h>

#include "app/Dialogs.h"
#include "app/DropTarget.h"
#include "app/MessageBox.h"
#include "app/Resources.h"
#include "app/SettingsAccess.h"
#include "app/TaskBarProgress.h"
#include "app/panels/ToolPanelOwner.h"
#include "core/FileHelpers.h"
#include "core/StringHelpers.h"
#include "platform/text.h"
#include "tools/PictureOps.h"

namespace pw {
namespace {

const wchar_t kPickFolderTitle[] = L"请选择文件夹";

// Files dropped on a panel go to its path field; none while a run goes on.
class PanelDropTarget : public FileDropTargetOutsideRuns {
 public:
  explicit PanelDropTarget(ToolPanelFrame* panel) : panel_(panel) {}
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
    std::vector<std::wstring> dropped;
    for (const wxString& name : names) dropped.push_back(name.ToStdWstring());
    panel_->OnDropSources(dropped);
    return true;
  }

 private:
  ToolPanelFrame* panel_;
};

// A field's own answer to files dragged over it: no.
class RefusingDropTarget : public wxFileDropTarget {
 public:
  wxDragResult OnDragOver(wxCoord, wxCoord, wxDragResult) override { return wxDragNone; }
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString&) override { return false; }
};

}  // namespace

ToolPanelFrame::ToolPanelFrame(const char* className, int toolIndex, int dialogId,
                               int ribbonCommand)
    : ToolPanelBase(className),
      m_toolIndex(toolIndex),
      m_dialogId(dialogId),
      m_ribbonCommand(ribbonCommand) {}

bool ToolPanelFrame::Create(wxWindow* parent) {
  if (!ToolPanelBase::Create(parent, m_dialogId, RibbonText(m_ribbonCommand))) return false;
  SetSize(kDesignWidth, kDesignHeight);
  BuildControls();
  InitPanel();
  return true;
}

void ToolPanelFrame::GiveSettingsBack() {
  if (!m_owner) return;
  ToolSettings updated = m_owner->PanelSettings();
  CopySectionTo(updated);
  SelIndex(updated) = SelIndex(m_settings);
  CatIndex(updated) = CatIndex(m_settings);
  m_owner->StorePanelSettings(updated);
}

wxTextCtrl* ToolPanelFrame::PathField() const {
  return dynamic_cast<wxTextCtrl*>(FindWindow(kIdPathField));
}

void ToolPanelFrame::InitPanel() {
  if (m_owner) m_settings = m_owner->PanelSettings();
  FillControls();
  // The reference of the relayout: every control's place at the design size.
  m_initialClient = GetClientSize();
  for (int id = kFirstControlId; id <= kLastControlId; ++id)
    if (wxWindow* control = FindWindow(id)) m_initialRects[id] = control->GetRect();
  CatIndex(m_settings) = 2;

  SetBackgroundStyle(wxBG_STYLE_ERASE);
  Bind(wxEVT_ERASE_BACKGROUND, &ToolPanelFrame::OnEraseBackground, this);
  Bind(wxEVT_SIZE, &ToolPanelFrame::OnRelayout, this);
  SetDropTarget(new PanelDropTarget(this));
  // The toolkit's edit takes drops itself (a dragged file's address as
  // text) and never passes them on: a drop on the path field is a drop on
  // the panel.
  if (wxTextCtrl* field = PathField()) field->SetDropTarget(new PanelDropTarget(this));
}

void ToolPanelFrame::RefuseDroppedFiles(wxTextCtrl* field) {
  if (field) field->SetDropTarget(new RefusingDropTarget);
}

// The panels' background picture: a soft wash from light to a paler blue.
void ToolPanelFrame::OnEraseBackground(wxEraseEvent& event) {
  wxDC* dc = event.GetDC();
  std::unique_ptr<wxClientDC> own;
  if (!dc) {
    own = std::make_unique<wxClientDC>(this);
    dc = own.get();
  }
  dc->GradientFillLinear(GetClientRect(), wxColour(250, 252, 255), wxColour(214, 228, 244),
                         wxSOUTH);
}

// Controls keep their proportions: each is placed from its place at the
// reference size, so a panel sized twice to the same size looks the same.
void ToolPanelFrame::OnRelayout(wxSizeEvent& event) {
  event.Skip();
  const wxSize size = event.GetSize();
  if (m_initialClient.x <= 0 || m_initialClient.y <= 0) return;
  for (const auto& [id, rect] : m_initialRects) {
    wxWindow* control = FindWindow(id);
    if (!control) continue;
    const int left = size.x * rect.GetLeft() / m_initialClient.x;
    const int right = size.x * (rect.GetRight() + 1) / m_initialClient.x;
    const int top = size.y * rect.GetTop() / m_initialClient.y;
    const int bottom = size.y * (rect.GetBottom() + 1) / m_initialClient.y;
    control->SetSize(left, top, right - left, bottom - top);
  }
  Refresh();
}

std::wstring ToolPanelFrame::FolderOfField(const std::wstring& fieldText) {
  std::filesystem::path path = WideToNarrow(fieldText.substr(0, fieldText.find(L'|')));
  if (!path.is_absolute()) return {};
  for (;;) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return NarrowToWide(path.string());
    if (!path.has_relative_path()) return {};
    path = path.parent_path();
  }
}

void ToolPanelFrame::OnBrowseFolder(wxCommandEvent&) {
  wxTextCtrl* field = PathField();
  const std::wstring folder =
      BrowseForFolder(kPickFolderTitle, field ? FolderOfField(field->GetValue().ToStdWstring()) : L"");
  if (!folder.empty()) {
    if (field) field->ChangeValue(folder);
  } else {
    SetFocus();
  }
}

bool ToolPanelFrame::ReadPathField(std::wstring& text) {
  wxTextCtrl* field = PathField();
  if (!field) return false;
  text = field->GetValue().ToStdWstring();
  if (text.empty()) {
    text = BrowseForFolder(kPickFolderTitle);  // an empty field: home
    if (text.empty()) {
      SetFocus();
      return false;
    }
    field->ChangeValue(text);
  }
  return true;
}

void ToolPanelFrame::OnDropSources(const std::vector<std::wstring>& dropped) {
  std::wstring joined;
  size_t kept = 0;
  for (const std::wstring& path : dropped) {
    if (!PathExists(path)) continue;
    if (kept++) joined += L"|";
    joined += path;
  }
  if (wxTextCtrl* field = PathField()) field->ChangeValue(joined);
  if (!m_owner) return;
  if (kept == 0)
    m_owner->SetPanelStatusText(L"什么也没有发生！", 0);
  else if (dropped.size() == 1)
    m_owner->SetPanelStatusText(DroppedOneText(dropped[0]), 0);
  else
    m_owner->SetPanelStatusText(L"多个文件(夹)加载成功！", 0);
}

int ToolPanelFrame::Box(const wxString& text, const wxString& caption, long style) {
  return MessageBox(text, caption, style, this);
}

void ToolPanelFrame::FillQualityList(wxComboBox* list, int quality) {
  if (!list) return;
  std::vector<std::wstring> items = QualityListItems();
  const size_t index = SelectQualityItem(items, quality);
  list->Clear();
  for (const std::wstring& item : items) list->Append(item);
  if (index < items.size()) list->SetSelection(static_cast<int>(index));
}

void ToolPanelFrame::ReadQualityList(wxComboBox* list, int32_t& quality) {
  if (!list) return;
  const int value = ReadQualityText(list->GetValue().ToStdWstring());
  if (value >= 0 && value <= 100) quality = value;
  if (value >= 1 && value <= 100) g_JpegQuality = value;
}

// ---- the run sequence --------------------------------------------------------

ToolPanelFrame::Run::Run(ToolPanelFrame& panel)
    : panel_(panel), start_(std::chrono::steady_clock::now()) {
  if (ToolPanelOwner* owner = panel_.m_owner) {
    owner->RunProgress();
    owner->ResetPanelProgress();
  }
  panel_.Disable();
}

// A close asked for while the run lives is held by the main window until
// the Start handler has returned (see CMainFrame::OnClose).
ToolPanelFrame::Run::~Run() { panel_.Enable(); }

CProgressInterface* ToolPanelFrame::Run::Progress() const {
  return panel_.m_owner ? panel_.m_owner->RunProgress() : nullptr;
}

void ToolPanelFrame::Run::PlanGroups(const SourceEntries& sources) {
  groupStarts_.clear();
  for (size_t i = 0; i < sources.folders.size(); ++i)
    groupStarts_.push_back(FolderBarPosition(i, sources.entryCount));
  std::sort(groupStarts_.begin(), groupStarts_.end());
}

void ToolPanelFrame::Run::GroupStarted(int barPosition) {
  ToolPanelOwner* owner = panel_.m_owner;
  if (!owner) return;
  owner->SetPanelProgress(barPosition);
  // The group fills the bar up to where the next group starts; the group
  // of files (at 50, before the folders' lower positions) up to 100.
  const auto next = std::upper_bound(groupStarts_.begin(), groupStarts_.end(), barPosition);
  const int shareEnd = next == groupStarts_.end() ? 100 : *next;
  if (auto* display = dynamic_cast<CTaskBarProgress*>(owner->RunProgress()))
    display->SetGroupShare(barPosition, std::max(barPosition, shareEnd));
  owner->SetPanelStatusText(L"正在处理中，请稍后...", 0);
  owner->SetPanelStatusText(L"任务栏显示当前进度！", 1);
}

void ToolPanelFrame::Run::BarAt(int barPosition) {
  if (panel_.m_owner) panel_.m_owner->SetPanelProgress(barPosition);
}

void ToolPanelFrame::Run::GroupFinished() {
  // The workers' last progress reports are still queued for this thread:
  // let them land now, before the group's progress ends, not after it.
  if (wxTheApp) wxTheApp->ProcessPendingEvents();
  ToolPanelOwner* owner = panel_.m_owner;
  if (!owner) return;
  if (!flashed_) {
    owner->FlashForAttention();
    flashed_ = true;
  }
  owner->SetPanelStatusText(L"处理完成！", 0);
  owner->SetPanelStatusText(L"OVER!", 1);
}

bool ToolPanelFrame::Run::Finish(const std::wstring& runLogPath, const wxString& closingText,
                                 const RunReport& report) {
  if (ToolPanelOwner* owner = panel_.m_owner) {
    owner->CompletePanelProgress();
    // A run in which no group started (every file failed before it, or
    // there was nothing to do) has ended too: the panel's hints go.
    owner->SetPanelStatusText(L"处理完成！", 0);
    owner->SetPanelStatusText(L"OVER!", 1);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::wstring elapsed = FormatElapsed(seconds);
  if (!AppendRunLog(elapsed, runLogPath)) {
    panel_.Box(wxString(L"无法写入运行日志：") + wxString(GetRunLogPath()), L"错误",
               wxOK | wxICON_ERROR);
    return false;
  }
  SelIndex(panel_.m_settings) = panel_.m_toolIndex;
  panel_.GiveSettingsBack();
  panel_.Enable();
  if (report.Clean())
    panel_.Box(wxString(L"耗时:") + wxString(elapsed) + closingText, L"終わり！", wxOK);
  else
    panel_.Box(wxString(L"耗时:") + wxString(elapsed) + L"\n\n" + wxString(RunReportText(report)),
               L"終わり！", wxOK | wxICON_WARNING);
  panel_.SetFocus();
  return true;
}

}  // namespace pw
