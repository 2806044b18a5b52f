#include "app/panels/MergeImgs.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/Resources.h"
#include "app/panels/SizeStepper.h"
#include "core/PathHelpers.h"
#include "tools/MergeTool.h"
#include "tools/ResizePictures.h"

namespace {

enum ControlId {
  kLabelQuality = 1010,
  kPatterns = 1013,
  kBrowse = 1024,
  kWidth = 1028,
  kWidthSpin = 1029,
  kHeight = 1030,
  kHeightSpin = 1031,
  kNote = 1032,
  kGroupSave = 1033,
  kGroupSize = 1034,
  kHorizontal = 1035,
  kStart = 1036,
  kCancel = 1037,
  kVertical = 1038,
  kKeepWidth = 1041,
  kKeepHeight = 1042,
  kGrayscale = 1043,
};

}  // namespace

void CMergeImgs::BuildControls() {
  new wxTextCtrl(this, pw::kIdPathField, wxEmptyString, wxPoint(24, 84), wxSize(600, 30));
  new wxButton(this, kBrowse, L"浏  览(&B)", wxPoint(636, 82), wxSize(120, 34));
  new wxTextCtrl(this, kPatterns, wxEmptyString, wxPoint(24, 128), wxSize(600, 30));
  new wxStaticText(this, kNote, L"用“|”分隔。", wxPoint(636, 134));

  new wxStaticBox(this, kGroupSave, L"保存方式", wxPoint(24, 176), wxSize(220, 120));
  new wxRadioButton(this, kHorizontal, L"水 平", wxPoint(44, 206), wxDefaultSize, wxRB_GROUP);
  new wxRadioButton(this, kVertical, L"垂 直", wxPoint(44, 246));

  new wxStaticBox(this, kGroupSize, L"宽高", wxPoint(260, 176), wxSize(496, 120));
  new wxCheckBox(this, kKeepWidth, L"固定宽度(&W)", wxPoint(280, 206));
  auto* width = new wxTextCtrl(this, kWidth, wxEmptyString, wxPoint(420, 202), wxSize(120, 30));
  new pw::SizeStepper(this, kWidthSpin, width, wxPoint(546, 202), wxSize(76, 30));
  new wxCheckBox(this, kKeepHeight, L"固定高度(&H)", wxPoint(280, 248));
  auto* height = new wxTextCtrl(this, kHeight, wxEmptyString, wxPoint(420, 244), wxSize(120, 30));
  new pw::SizeStepper(this, kHeightSpin, height, wxPoint(546, 244), wxSize(76, 30));
  new wxCheckBox(this, kGrayscale, L"去掉颜色(&G)", wxPoint(640, 206));

  new wxStaticText(this, kLabelQuality, L"JPG图片质量：", wxPoint(24, 322));
  new wxComboBox(this, pw::kIdQualityList, wxEmptyString, wxPoint(160, 316), wxSize(120, 32));

  auto* start = new wxButton(this, kStart, L"开  始(&S)", wxPoint(500, 376), wxSize(120, 36));
  new wxButton(this, kCancel, L"取  消(&C)", wxPoint(636, 376), wxSize(120, 36));
  start->SetDefault();

  Bind(wxEVT_BUTTON, &CMergeImgs::OnBrowseFolder, this, kBrowse);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartMerge(); }, kStart);
  Bind(
      wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnHorizontal(); }, kHorizontal);
  Bind(
      wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnVertical(); }, kVertical);
}


std::wstring CMergeImgs::Text(int id) const {
  return dynamic_cast<wxTextCtrl*>(FindWindow(id))->GetValue().ToStdWstring();
}

void CMergeImgs::FillControls() {
  if (m_settings.mergeRememberDir) PathField()->ChangeValue(m_settings.mergeDirValue);
  dynamic_cast<wxTextCtrl*>(FindWindow(kPatterns))->ChangeValue(m_settings.mergePicSuffixs);
  if (m_settings.mergeIndex == 0) {
    dynamic_cast<wxRadioButton*>(FindWindow(kHorizontal))->SetValue(true);
    OnHorizontal();
  } else if (m_settings.mergeIndex == 1) {
    dynamic_cast<wxRadioButton*>(FindWindow(kVertical))->SetValue(true);
    OnVertical();
  }
  Check(kKeepWidth)->SetValue(m_settings.mergeKeepWidth);
  Check(kKeepHeight)->SetValue(m_settings.mergeKeepHeight);
  Check(kGrayscale)->SetValue(m_settings.mergeGrayscale);
  dynamic_cast<wxTextCtrl*>(FindWindow(kWidth))
      ->ChangeValue(std::to_wstring(m_settings.mergeWidth));
  dynamic_cast<wxTextCtrl*>(FindWindow(kHeight))
      ->ChangeValue(std::to_wstring(m_settings.mergeHeight));
  dynamic_cast<pw::SizeStepper*>(FindWindow(kWidthSpin))->SetValue(m_settings.mergeWidth);
  dynamic_cast<pw::SizeStepper*>(FindWindow(kHeightSpin))->SetValue(m_settings.mergeHeight);
  FillQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)),
                  m_settings.mergeJpgQuality);
}

void CMergeImgs::OnHorizontal() {
  for (int id : {kKeepWidth, kWidth, kWidthSpin}) FindWindow(id)->Disable();
  for (int id : {kKeepHeight, kHeight, kHeightSpin}) FindWindow(id)->Enable();
}

void CMergeImgs::OnVertical() {
  for (int id : {kKeepWidth, kWidth, kWidthSpin}) FindWindow(id)->Enable();
  for (int id : {kKeepHeight, kHeight, kHeightSpin}) FindWindow(id)->Disable();
}

std::wstring CMergeImgs::DroppedOneText(const std::wstring& path) const {
  return GetFileName(path, true) + L" 加载成功！";
}

void CMergeImgs::CopySectionTo(ToolSettings& target) const {
  target.mergeRememberDir = m_settings.mergeRememberDir;
  target.mergeKeepWidth = m_settings.mergeKeepWidth;
  target.mergeKeepHeight = m_settings.mergeKeepHeight;
  target.mergeGrayscale = m_settings.mergeGrayscale;
  target.mergeIndex = m_settings.mergeIndex;
  target.mergeWidth = m_settings.mergeWidth;
  target.mergeHeight = m_settings.mergeHeight;
  target.mergeJpgQuality = m_settings.mergeJpgQuality;
  target.mergeDirValue = m_settings.mergeDirValue;
  target.mergePicSuffixs = m_settings.mergePicSuffixs;
}

void CMergeImgs::OnStartMerge() {
  std::wstring sources;
  if (!ReadPathField(sources)) return;
  const std::wstring patterns = Text(kPatterns);
  m_settings.mergeKeepWidth = Check(kKeepWidth)->GetValue();
  m_settings.mergeKeepHeight = Check(kKeepHeight)->GetValue();
  m_settings.mergeGrayscale = Check(kGrayscale)->GetValue();
  // A side that is no number reads as 0, which the check below refuses
  // when the other side is no good either.
  int32_t width = 0, height = 0;
  ReadSizeText(Text(kWidth), width);
  ReadSizeText(Text(kHeight), height);
  g_MergeWidth = width;
  g_MergeHeight = height;
  if (g_MergeWidth <= 0 && g_MergeHeight <= 0) {
    Box(L"宽高不合法！", L"参数非法！", wxOK | wxICON_INFORMATION);
    SetFocus();
    return;
  }
  // The fixed side must be a size: a negative one would merge at the
  // pictures' own size as if none were fixed, so it is refused as 0 is,
  // before anything runs.
  const bool vertical = dynamic_cast<wxRadioButton*>(FindWindow(kVertical))->GetValue();
  const bool fixedSide = vertical ? m_settings.mergeKeepWidth : m_settings.mergeKeepHeight;
  if (fixedSide && (vertical ? g_MergeWidth : g_MergeHeight) < 1) {
    Box(kMergeSizeInvalidText, L"参数非法！", wxOK | wxICON_INFORMATION);
    SetFocus();
    return;
  }
  m_settings.mergeWidth = g_MergeWidth;
  m_settings.mergeHeight = g_MergeHeight;
  m_settings.mergeDirValue = sources;
  m_settings.mergePicSuffixs = patterns;
  ReadQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)),
                  m_settings.mergeJpgQuality);

  MergeRequest request;
  request.patterns = SplitString(patterns, L"|");
  request.sources = SplitSources(sources);
  request.grey = m_settings.mergeGrayscale;
  request.vertical = vertical;
  if (request.vertical) {
    m_settings.mergeIndex = 1;
    request.fixedSize = m_settings.mergeKeepWidth ? g_MergeWidth : -1;
  } else {
    m_settings.mergeIndex = 0;
    request.fixedSize = m_settings.mergeKeepHeight ? g_MergeHeight : -1;
  }

  Run run(*this);
  run.PlanGroups(request.sources);
  const MergeOutcome outcome = RunMerge(request, run.Progress(), &run);
  run.Finish(sources, L"\n\n处理完成啦！", outcome.report);
}
