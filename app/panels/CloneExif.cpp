#include "app/panels/CloneExif.h"

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include "app/Dialogs.h"
#include "app/Resources.h"
#include "app/SettingsAccess.h"
#include "app/panels/ToolPanelOwner.h"
#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "app/panels/BatchRunAdapter.h"
#include "tools/CloneExif.h"

namespace {

enum ControlId {
  kSingle = 1001,
  kBatch = 1002,
  kSourceFile = 1003,
  kTargetFile = 1004,
  kPickSource = 1005,
  kPickTarget = 1006,
  kSourceDir = 1007,
  kTargetDir = 1008,
  kBrowseSource = 1009,
  kBrowseTarget = 1010,
  kGroupSingle = 1016,
  kGroupBatch = 1017,
  kStart = 1018,
  kCancel = 1019,
};

const int kSingleControls[] = {kSourceFile, kPickSource, kTargetFile, kPickTarget};
const int kBatchControls[] = {kSourceDir, kBrowseSource, kTargetDir, kBrowseTarget};

}  // namespace

void CCloneExif::BuildControls() {
  new wxStaticBox(this, kGroupSingle, L"单张处理", wxPoint(24, 76), wxSize(732, 134));
  new wxRadioButton(this, kSingle, L"单张(&1)", wxPoint(44, 100), wxDefaultSize, wxRB_GROUP);
  new wxTextCtrl(this, kSourceFile, wxEmptyString, wxPoint(44, 130), wxSize(560, 30));
  new wxButton(this, kPickSource, L"读  取(&O)", wxPoint(620, 128), wxSize(120, 34));
  new wxTextCtrl(this, kTargetFile, wxEmptyString, wxPoint(44, 170), wxSize(560, 30));
  new wxButton(this, kPickTarget, L"写  入(&F)", wxPoint(620, 168), wxSize(120, 34));

  new wxStaticBox(this, kGroupBatch, L"批量处理", wxPoint(24, 222), wxSize(732, 140));
  new wxRadioButton(this, kBatch, L"批量(&2)", wxPoint(44, 246));
  new wxTextCtrl(this, kSourceDir, wxEmptyString, wxPoint(44, 276), wxSize(560, 30));
  new wxButton(this, kBrowseSource, L"读  取(&B)", wxPoint(620, 274), wxSize(120, 34));
  new wxTextCtrl(this, kTargetDir, wxEmptyString, wxPoint(44, 316), wxSize(560, 30));
  new wxButton(this, kBrowseTarget, L"写  入(&D)", wxPoint(620, 314), wxSize(120, 34));

  new wxButton(this, kStart, L"开  始(&S)", wxPoint(500, 376), wxSize(120, 36));
  new wxButton(this, kCancel, L"取  消(&C)", wxPoint(636, 376), wxSize(120, 36));
  dynamic_cast<wxButton*>(FindWindow(kPickSource))->SetDefault();
  // The path edits keep dropped files to themselves and do nothing with
  // them; drops elsewhere on the panel reach OnDropSources.
  for (int edit : {kSourceFile, kTargetFile, kSourceDir, kTargetDir}) RefuseDroppedFiles(Edit(edit));

  const std::vector<std::wstring> extensions = {L".jpg", L".jpeg", L".tif"};
  Bind(wxEVT_BUTTON, [this, extensions](wxCommandEvent&) {
    const std::wstring path = pw::PickOpenFileByExtensions(extensions);
    if (!path.empty()) Edit(kSourceFile)->ChangeValue(path);
  }, kPickSource);
  Bind(wxEVT_BUTTON, [this, extensions](wxCommandEvent&) {
    const std::wstring path = pw::PickOpenFileByExtensions(extensions);
    if (!path.empty()) Edit(kTargetFile)->ChangeValue(path);
  }, kPickTarget);
  for (int button : {kBrowseSource, kBrowseTarget}) {
    const int edit = button == kBrowseSource ? kSourceDir : kTargetDir;
    Bind(wxEVT_BUTTON, [this, edit](wxCommandEvent&) {
      const std::wstring folder =
          pw::BrowseForFolder(L"请选择文件夹", FolderOfField(Edit(edit)->GetValue().ToStdWstring()));
      if (!folder.empty())
        Edit(edit)->ChangeValue(folder);
      else
        SetFocus();
    }, button);
  }
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartCloneExif(); }, kStart);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnSingleMode(); }, kSingle);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnBatchMode(); }, kBatch);
}


void CCloneExif::FillControls() {
  Edit(kSourceFile)->ChangeValue(m_settings.clonePaths[ToolSettings::kCloneFileValue]);
  Edit(kTargetFile)->ChangeValue(m_settings.clonePaths[ToolSettings::kCloneFileDst]);
  Edit(kSourceDir)->ChangeValue(m_settings.clonePaths[ToolSettings::kCloneDirValue]);
  Edit(kTargetDir)->ChangeValue(m_settings.clonePaths[ToolSettings::kCloneDirDst]);
  if (m_settings.cloneIndex == 0) {
    Radio(kSingle)->SetValue(true);
    OnSingleMode();
  } else if (m_settings.cloneIndex == 1) {
    Radio(kBatch)->SetValue(true);
    OnBatchMode();
  } else {
    // No mode chosen: neither radio, every control usable.
    Radio(kSingle)->SetValue(false);
    Radio(kBatch)->SetValue(false);
  }
}

void CCloneExif::OnSingleMode() {
  for (int id : kSingleControls) FindWindow(id)->Enable();
  for (int id : kBatchControls) FindWindow(id)->Disable();
}

void CCloneExif::OnBatchMode() {
  for (int id : kSingleControls) FindWindow(id)->Disable();
  for (int id : kBatchControls) FindWindow(id)->Enable();
}

void CCloneExif::OnDropSources(const std::vector<std::wstring>& dropped) {
  if (dropped.empty()) return;
  const std::wstring& item = dropped[0];
  if (Radio(kSingle)->GetValue() && FileExists(item)) {
    Edit(kTargetFile)->ChangeValue(item);
    if (m_owner) m_owner->SetPanelStatusText(GetFileName(item, true) + L" 加载成功！", 0);
  } else if (Radio(kBatch)->GetValue() && PathExists(item) && !FileExists(item)) {
    Edit(kTargetDir)->ChangeValue(item);
    if (m_owner) m_owner->SetPanelStatusText(GetLastComponent(item) + L" 加载成功！", 0);
  }
}

std::wstring CCloneExif::DroppedOneText(const std::wstring& path) const {
  return GetFileName(path, true) + L" 加载成功！";
}

void CCloneExif::CopySectionTo(ToolSettings& target) const {
  target.cloneIndex = m_settings.cloneIndex;
  target.cloneRememberFile = m_settings.cloneRememberFile;
  target.cloneThreadNum = m_settings.cloneThreadNum;
  target.clonePaths = m_settings.clonePaths;
  target.clonePicSuffixs = m_settings.clonePicSuffixs;
}

void CCloneExif::CopyBack() {
  SelIndex(m_settings) = m_toolIndex;
  GiveSettingsBack();
}

void CCloneExif::OnStartCloneExif() {
  if (Radio(kSingle)->GetValue())
    StartSingle();
  else if (Radio(kBatch)->GetValue())
    StartBatch();
}

void CCloneExif::StartSingle() {
  m_settings.cloneIndex = 0;
  const std::wstring source = Edit(kSourceFile)->GetValue().ToStdWstring();
  const std::wstring receiving = Edit(kTargetFile)->GetValue().ToStdWstring();
  const ClonePathCheck check = CheckClonePair(source, receiving);
  if (check != ClonePathCheck::kOk) {
    Box(ClonePathCheckText(check), kCloneHintTitle, wxOK | wxICON_INFORMATION);
    SetFocus();
    return;
  }
  if (m_settings.cloneRememberFile) {
    m_settings.clonePaths[ToolSettings::kCloneFileValue] = source;
    m_settings.clonePaths[ToolSettings::kCloneFileDst] = receiving;
  }
  // Another picture under the ".jpg" name is replaced only when the user
  // says so.
  bool replaceOther = false;
  if (CloneNeedsReplaceConsent(receiving)) {
    if (Box(CloneTargetPath(receiving) + kCloneReplaceOtherText, kCloneHintTitle,
            wxYES_NO | wxICON_QUESTION) != wxYES) {
      SetFocus();
      return;
    }
    replaceOther = true;
  }
  // A source that names nothing clears the receiving picture's EXIF block.
  if (CloneClearsExif(source) &&
      Box(kCloneClearConfirmText + CloneTargetPath(receiving) + kCloneClearConfirmQuestion,
          kCloneHintTitle, wxYES_NO | wxICON_QUESTION) != wxYES) {
    SetFocus();
    return;
  }
  if (m_owner) {
    m_owner->SetPanelStatusText(kBusyText, 0);
    m_owner->SetPanelStatusText(kTaskbarText, 1);
  }
  bool cleared = false;
  if (!RunCloneExifSingle(source, receiving, replaceOther, &cleared)) {
    if (m_owner) {
      m_owner->SetPanelStatusText(kCloneFailedText, 0);
      m_owner->SetPanelStatusText(L"...", 1);
    }
    Box(kCloneFailedText, kCloneHintTitle, wxOK | wxICON_ERROR);
    SetFocus();
    return;
  }
  const wchar_t* doneText = cleared ? kCloneClearedText : kCloneDoneText;
  if (m_owner) {
    m_owner->SetPanelStatusText(doneText, 0);
    m_owner->SetPanelStatusText(kOverText, 1);
    m_owner->CompletePanelProgress();
  }
  CopyBack();
  Box(doneText, kCloneHintTitle, wxOK | wxICON_INFORMATION);
  SetFocus();
}

// The folders are checked before the user is asked to go on: a question
// about a run that cannot start only wastes the answer.
void CCloneExif::StartBatch() {
  const std::wstring sourceDir = Edit(kSourceDir)->GetValue().ToStdWstring();
  const std::wstring receivingDir = Edit(kTargetDir)->GetValue().ToStdWstring();
  const ClonePathCheck check = CheckCloneFolders(sourceDir, receivingDir);
  if (check != ClonePathCheck::kOk) {
    Box(CloneFoldersCheckText(check, sourceDir, receivingDir), kCloneHintTitle,
        wxOK | wxICON_INFORMATION);
    SetFocus();
    return;
  }
  // Only an empty source field clears, and the question says so.
  const std::wstring question =
      sourceDir.empty()
          ? kCloneClearFolderConfirmText + receivingDir + kCloneClearConfirmQuestion
          : std::wstring(kCloneBatchConfirmText);
  if (Box(question, kCloneHintTitle, wxYES_NO) != wxYES) {
    SetFocus();
    return;
  }
  m_settings.cloneIndex = 1;
  if (m_settings.cloneRememberFile) {
    m_settings.clonePaths[ToolSettings::kCloneDirValue] = sourceDir;
    m_settings.clonePaths[ToolSettings::kCloneDirDst] = receivingDir;
  }
  Run run(*this);
  pw::BatchRunAdapter adapter(run, m_owner);
  const CloneBatchOutcome outcome =
      RunCloneExifBatch(sourceDir, receivingDir, SplitString(m_settings.clonePicSuffixs, L"|"),
                        m_settings.cloneThreadNum, run.Progress(), &adapter);
  run.Finish(sourceDir, L"\n\n处理完成啦！", outcome.report);
}
