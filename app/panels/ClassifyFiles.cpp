#include "app/panels/ClassifyFiles.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/Resources.h"
#include "core/PathHelpers.h"
#include "tools/ClassifyTool.h"

namespace {

enum ControlId {
  kGroupFormat = 1000,
  kMethodLabel = 1001,
  kGroupCustom = 1002,
  kCustomHint = 1003,
  kGroupRestore = 1004,
  kRestoreHint = 1005,
  kStart = 1006,
  kCancel = 1007,
  kBrowse = 1013,
  kPictureMode = 1014,
  kCustomMode = 1015,
  kRestoreMode = 1016,
  kJpg = 1018,
  kPng = 1019,
  kBmp = 1020,
  kGif = 1021,
  kCustomPatterns = 1022,
  kByShootingTime = 1044,
  kByResolution = 1045,
};

const int kPictureControls[] = {kBmp, kJpg, kPng, kGif, kByShootingTime, kByResolution};

}  // namespace

void CClassifyFiles::BuildControls() {
  new wxTextCtrl(this, pw::kIdPathField, wxEmptyString, wxPoint(24, 84), wxSize(600, 30));
  new wxButton(this, kBrowse, L"浏  览(&B)", wxPoint(636, 82), wxSize(120, 34));

  new wxStaticBox(this, kGroupFormat, L"格式", wxPoint(24, 130), wxSize(360, 190));
  new wxRadioButton(this, kPictureMode, L"图片(&1)", wxPoint(40, 156), wxDefaultSize, wxRB_GROUP);
  new wxRadioButton(this, kCustomMode, L"自定(&2)", wxPoint(416, 156));
  new wxRadioButton(this, kRestoreMode, L"恢复(&3)", wxPoint(416, 300));
  new wxCheckBox(this, kJpg, L"JPG", wxPoint(40, 196));
  new wxCheckBox(this, kPng, L"PNG", wxPoint(120, 196));
  new wxCheckBox(this, kBmp, L"BMP", wxPoint(200, 196));
  new wxCheckBox(this, kGif, L"GIF", wxPoint(280, 196));
  new wxStaticText(this, kMethodLabel, L"整理方式：", wxPoint(40, 244));
  new wxRadioButton(this, kByShootingTime, L"拍摄时间", wxPoint(140, 242), wxDefaultSize,
                    wxRB_GROUP);
  new wxRadioButton(this, kByResolution, L"分辨率", wxPoint(250, 242));

  new wxStaticBox(this, kGroupCustom, L"自定义", wxPoint(400, 130), wxSize(356, 140));
  new wxTextCtrl(this, kCustomPatterns, wxEmptyString, wxPoint(416, 190), wxSize(324, 30));
  new wxStaticText(this, kCustomHint, L"如*.txt|*.exe等，将按照“修改时间”归类！",
                   wxPoint(416, 232));

  new wxStaticBox(this, kGroupRestore, L"恢复", wxPoint(400, 276), wxSize(356, 84));
  new wxStaticText(this, kRestoreHint, L"根据记录文件(log.log)恢复原来的目录结构。",
                   wxPoint(416, 330));

  auto* start = new wxButton(this, kStart, L"开  始(&S)", wxPoint(500, 376), wxSize(120, 36));
  new wxButton(this, kCancel, L"取  消(&C)", wxPoint(636, 376), wxSize(120, 36));
  start->SetDefault();

  Bind(wxEVT_BUTTON, &CClassifyFiles::OnBrowseFolder, this, kBrowse);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartClassify(); }, kStart);
  Bind(
      wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPictureMode(); }, kPictureMode);
  Bind(
      wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnOtherMode(); }, kCustomMode);
  Bind(
      wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnOtherMode(); }, kRestoreMode);
}



void CClassifyFiles::FillControls() {
  if (m_settings.classifyRememberDir) PathField()->ChangeValue(m_settings.classifyDirValue);
  dynamic_cast<wxTextCtrl*>(FindWindow(kCustomPatterns))->ChangeValue(m_settings.classifyCustom);
  Check(kBmp)->SetValue(m_settings.classifyBmp);
  Check(kJpg)->SetValue(m_settings.classifyJpg);
  Check(kPng)->SetValue(m_settings.classifyPng);
  Check(kGif)->SetValue(m_settings.classifyGif);
  Radio(kPictureMode)->SetValue(true);
  if (m_settings.classifyMethod == 0) Radio(kByShootingTime)->SetValue(true);
  if (m_settings.classifyMethod == 1) Radio(kByResolution)->SetValue(true);
  if (m_settings.classifyIndex == 1) {
    Radio(kCustomMode)->SetValue(true);
    OnOtherMode();
  }
}

void CClassifyFiles::OnPictureMode() {
  for (int id : kPictureControls) FindWindow(id)->Enable();
}

void CClassifyFiles::OnOtherMode() {
  for (int id : kPictureControls) FindWindow(id)->Disable();
}

std::wstring CClassifyFiles::DroppedOneText(const std::wstring& path) const {
  return GetLastComponent(path) + L" 加载成功！";
}

void CClassifyFiles::CopySectionTo(ToolSettings& target) const {
  target.classifyRememberDir = m_settings.classifyRememberDir;
  target.classifyBmp = m_settings.classifyBmp;
  target.classifyJpg = m_settings.classifyJpg;
  target.classifyPng = m_settings.classifyPng;
  target.classifyGif = m_settings.classifyGif;
  target.classifyIndex = m_settings.classifyIndex;
  target.classifyMethod = m_settings.classifyMethod;
  target.classifyDirValue = m_settings.classifyDirValue;
  target.classifyCustom = m_settings.classifyCustom;
}

void CClassifyFiles::OnStartClassify() {
  std::wstring sources;
  if (!ReadPathField(sources)) return;
  if (m_settings.classifyRememberDir) m_settings.classifyDirValue = sources;

  ClassifyRequest request;
  if (Radio(kPictureMode)->GetValue())
    request.mode = ClassifyMode::kPicture;
  else if (Radio(kCustomMode)->GetValue())
    request.mode = ClassifyMode::kCustom;
  else if (Radio(kRestoreMode)->GetValue())
    request.mode = ClassifyMode::kRestore;
  else
    return;
  if (Radio(kByShootingTime)->GetValue())
    m_settings.classifyMethod = 0;
  else if (Radio(kByResolution)->GetValue())
    m_settings.classifyMethod = 1;
  request.method = m_settings.classifyMethod;

  const wchar_t kWarning[] =
      L"1.本程序具有一定的危险性，请务必小心操作。\n2.所选目录指定类型的文件将全部重新排列！"
      L"请确保所选目录正确！\n3.万一操作错误，请使用本程序自带的恢复功能！\n\n是否继续？";
  if (request.mode != ClassifyMode::kRestore && Box(kWarning, L"提示", wxYES_NO) != wxYES) {
    SetFocus();
    return;
  }
  if (request.mode == ClassifyMode::kPicture) {
    m_settings.classifyIndex = 0;
    m_settings.classifyBmp = Check(kBmp)->GetValue();
    m_settings.classifyJpg = Check(kJpg)->GetValue();
    m_settings.classifyPng = Check(kPng)->GetValue();
    m_settings.classifyGif = Check(kGif)->GetValue();
    request.patterns = PicturePatterns(m_settings.classifyBmp, m_settings.classifyJpg,
                                       m_settings.classifyPng, m_settings.classifyGif);
  } else if (request.mode == ClassifyMode::kCustom) {
    m_settings.classifyIndex = 1;
    const std::wstring custom =
        dynamic_cast<wxTextCtrl*>(FindWindow(kCustomPatterns))->GetValue().ToStdWstring();
    if (custom.empty()) return;
    m_settings.classifyCustom = custom;
    request.patterns = SplitString(custom, L"|");
  } else {
    m_settings.classifyIndex = 0;  // the panel opens in picture mode next time
  }
  request.sources = SplitSources(sources);

  Run run(*this);
  run.PlanGroups(request.sources);
  const ClassifyOutcome outcome = RunClassify(request, run.Progress(), &run);
  run.Finish(outcome.lastBaseDir, L"\n文件整理到目录中啦！", outcome.report);
}
