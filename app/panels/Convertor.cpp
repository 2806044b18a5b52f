#include "app/panels/Convertor.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/Resources.h"
#include "core/StringHelpers.h"
#include "app/panels/BatchRunAdapter.h"
#include "tools/Convertor.h"

namespace {

enum ControlId {
  kPatterns = 1013,
  kJpg = 1018,
  kPng = 1019,
  kBmp = 1020,
  kGif = 1021,
  kStart = 1022,
  kReset = 1023,
  kBrowse = 1024,
  kNote = 1025,
  kGroupFormat = 1026,
  kFormatNote = 1027,
  kGroupSave = 1028,
  kGroupKeep = 1029,
  kKeepModifyTime = 1035,
  kSetPhotoTime = 1036,
  kNewFolder = 1037,
  kSameFolder = 1038,
  kGrayscale = 1043,
};

}  // namespace

void CConvertor::BuildControls() {
  new wxTextCtrl(this, pw::kIdPathField, wxEmptyString, wxPoint(24, 84), wxSize(600, 30));
  auto* browse = new wxButton(this, kBrowse, L"浏  览(&B)", wxPoint(636, 82), wxSize(120, 34));
  new wxTextCtrl(this, kPatterns, wxEmptyString, wxPoint(24, 128), wxSize(600, 30));
  new wxStaticText(this, kNote, L"用“|”分隔。", wxPoint(636, 134));

  new wxStaticBox(this, kGroupFormat, L"目标格式", wxPoint(24, 176), wxSize(300, 180));
  new wxCheckBox(this, kJpg, L"JPG", wxPoint(44, 206));
  new wxComboBox(this, pw::kIdQualityList, wxEmptyString, wxPoint(120, 200), wxSize(90, 32), 0,
                 nullptr, wxCB_READONLY | wxCB_SORT);
  new wxCheckBox(this, kPng, L"PNG", wxPoint(44, 246));
  new wxCheckBox(this, kBmp, L"BMP", wxPoint(124, 246));
  new wxCheckBox(this, kGif, L"GIF", wxPoint(204, 246));
  new wxStaticText(this, kFormatNote, L"支持同时转换为多个格式，分别保存。", wxPoint(44, 300));

  new wxStaticBox(this, kGroupSave, L"保存方式", wxPoint(340, 176), wxSize(200, 180));
  new wxCheckBox(this, kGrayscale, L"去掉颜色(&G)", wxPoint(360, 206));
  new wxRadioButton(this, kNewFolder, L"新目录(&N)", wxPoint(360, 246), wxDefaultSize,
                    wxRB_GROUP);
  new wxRadioButton(this, kSameFolder, L"同目录(&O)", wxPoint(360, 286));

  new wxStaticBox(this, kGroupKeep, L"保留与设置", wxPoint(556, 176), wxSize(200, 180));
  new wxCheckBox(this, kKeepModifyTime, L"保留修改时间", wxPoint(576, 206));
  new wxCheckBox(this, kSetPhotoTime, L"设置拍摄时间", wxPoint(576, 246));

  new wxButton(this, kStart, L"开  始(&S)", wxPoint(500, 376), wxSize(120, 36));
  new wxButton(this, kReset, L"重  置(&C)", wxPoint(636, 376), wxSize(120, 36));
  browse->SetDefault();

  Bind(wxEVT_BUTTON, &CConvertor::OnBrowseFolder, this, kBrowse);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartConvert(); }, kStart);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnReset(); }, kReset);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnJpgTarget(); }, kJpg);
}


void CConvertor::FillControls() {
  if (m_settings.convertRememberDir) PathField()->ChangeValue(m_settings.convertDirValue);
  Edit(kPatterns)->ChangeValue(m_settings.convertPicSuffixs);
  Check(kBmp)->SetValue(m_settings.convertBmp);
  Check(kJpg)->SetValue(m_settings.convertJpg);
  Check(kPng)->SetValue(m_settings.convertPng);
  Check(kGif)->SetValue(m_settings.convertGif);
  Check(kGrayscale)->SetValue(m_settings.convertSetGrayscale);
  Radio(kNewFolder)->SetValue(m_settings.convertIndex == 0);
  Radio(kSameFolder)->SetValue(m_settings.convertIndex == 1);
  Check(kKeepModifyTime)->SetValue(m_settings.convertKeepModifyTime);
  Check(kSetPhotoTime)->SetValue(m_settings.convertSetPhotoTime);
  auto* quality = dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList));
  FillQualityList(quality, m_settings.convertJpgQuality);
  quality->Enable(m_settings.convertJpg);
}

void CConvertor::OnJpgTarget() { FindWindow(pw::kIdQualityList)->Enable(Check(kJpg)->GetValue()); }

void CConvertor::OnReset() {
  PathField()->ChangeValue(wxEmptyString);
  Edit(kPatterns)->ChangeValue(kDefaultPicturePatterns);
  Check(kJpg)->SetValue(true);
  for (int id : {kPng, kBmp, kGif, kGrayscale}) Check(id)->SetValue(false);
  Radio(kNewFolder)->SetValue(true);
  Radio(kSameFolder)->SetValue(false);
  Check(kKeepModifyTime)->SetValue(true);
  Check(kSetPhotoTime)->SetValue(true);
  FillQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)), 90);
}

std::wstring CConvertor::DroppedOneText(const std::wstring& path) const {
  return path + L" 加载成功！";
}

void CConvertor::CopySectionTo(ToolSettings& target) const {
  target.convertRememberDir = m_settings.convertRememberDir;
  target.convertBmp = m_settings.convertBmp;
  target.convertJpg = m_settings.convertJpg;
  target.convertPng = m_settings.convertPng;
  target.convertGif = m_settings.convertGif;
  target.convertKeepModifyTime = m_settings.convertKeepModifyTime;
  target.convertSetPhotoTime = m_settings.convertSetPhotoTime;
  target.convertSetGrayscale = m_settings.convertSetGrayscale;
  target.convertIndex = m_settings.convertIndex;
  target.convertThreadNum = m_settings.convertThreadNum;
  target.convertJpgQuality = m_settings.convertJpgQuality;
  target.convertDirValue = m_settings.convertDirValue;
  target.convertPicSuffixs = m_settings.convertPicSuffixs;
}

void CConvertor::OnStartConvert() {
  std::wstring sources;
  if (!ReadPathField(sources)) return;
  const std::wstring patterns = Edit(kPatterns)->GetValue().ToStdWstring();
  m_settings.convertDirValue = sources;
  m_settings.convertPicSuffixs = patterns;

  g_ConvertKeepModifyTime = Check(kKeepModifyTime)->GetValue();
  g_ConvertSetPhotoTime = Check(kSetPhotoTime)->GetValue();
  g_ConvertGrayscale = Check(kGrayscale)->GetValue();
  m_settings.convertKeepModifyTime = g_ConvertKeepModifyTime;
  m_settings.convertSetPhotoTime = g_ConvertSetPhotoTime;
  m_settings.convertSetGrayscale = g_ConvertGrayscale;
  ReadQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)),
                  m_settings.convertJpgQuality);
  m_settings.convertIndex = Radio(kNewFolder)->GetValue() ? 0 : 1;
  m_settings.convertBmp = Check(kBmp)->GetValue();
  m_settings.convertJpg = Check(kJpg)->GetValue();
  m_settings.convertPng = Check(kPng)->GetValue();
  m_settings.convertGif = Check(kGif)->GetValue();

  ConvertRequest request;
  request.patterns = SplitString(patterns, L"|");
  request.sources = SplitSources(sources);
  request.targets.bmp = m_settings.convertBmp;
  request.targets.jpg = m_settings.convertJpg;
  request.targets.png = m_settings.convertPng;
  request.targets.gif = m_settings.convertGif;
  request.sameFolder = m_settings.convertIndex == 1;
  request.threadCount = m_settings.convertThreadNum;

  Run run(*this);
  run.PlanGroups(request.sources);
  pw::BatchRunAdapter adapter(run, m_owner);
  const ConvertOutcome outcome = RunConvert(request, run.Progress(), &adapter);
  run.Finish(sources, L"\n\n处理完成啦！", outcome.report);
}
