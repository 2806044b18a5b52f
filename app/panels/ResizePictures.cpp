#include "app/panels/ResizePictures.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/Resources.h"
#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "app/panels/BatchRunAdapter.h"
#include "app/panels/SizeStepper.h"
#include "tools/ResizePictures.h"

namespace {

enum ControlId {
  kNote = 1008,
  kGroupSave = 1009,
  kLabelQuality = 1010,
  kStart = 1011,
  kPatterns = 1013,
  kReset = 1014,
  kGroupSize = 1015,
  kBrowse = 1024,
  kRename = 1025,
  kOverwrite = 1026,
  kKeepRatio = 1027,
  kWidth = 1028,
  kWidthSpin = 1029,
  kHeight = 1030,
  kHeightSpin = 1031,
  kFixedWidth = 1041,
  kFixedHeight = 1042,
  kGrayscale = 1043,
};

}  // namespace

void CResizePictures::BuildControls() {
  new wxTextCtrl(this, pw::kIdPathField, wxEmptyString, wxPoint(24, 84), wxSize(600, 30));
  new wxButton(this, kBrowse, L"浏  览(&B)", wxPoint(636, 82), wxSize(120, 34));
  new wxTextCtrl(this, kPatterns, wxEmptyString, wxPoint(24, 128), wxSize(600, 30));
  new wxStaticText(this, kNote, L"用“|”分隔。", wxPoint(636, 134));

  new wxStaticBox(this, kGroupSave, L"保存方式", wxPoint(24, 176), wxSize(220, 180));
  new wxRadioButton(this, kRename, L"重命名(&R)", wxPoint(44, 204), wxDefaultSize, wxRB_GROUP);
  new wxRadioButton(this, kOverwrite, L"覆 盖(&O)", wxPoint(44, 240));
  new wxCheckBox(this, kGrayscale, L"去掉颜色(&G)", wxPoint(44, 276));
  new wxStaticText(this, kLabelQuality, L"JPG图片质量：", wxPoint(44, 318));
  new wxComboBox(this, pw::kIdQualityList, wxEmptyString, wxPoint(160, 312), wxSize(76, 32),
                 0, nullptr, wxCB_READONLY | wxCB_SORT);

  new wxStaticBox(this, kGroupSize, L"宽高", wxPoint(260, 176), wxSize(496, 180));
  new wxCheckBox(this, kFixedWidth, L"固定宽度(&W)", wxPoint(280, 206));
  new wxCheckBox(this, kKeepRatio, L"保持宽高比(&P)", wxPoint(280, 250));
  new wxCheckBox(this, kFixedHeight, L"固定高度(&H)", wxPoint(280, 294));
  auto* width = new wxTextCtrl(this, kWidth, wxEmptyString, wxPoint(440, 202), wxSize(160, 30));
  new pw::SizeStepper(this, kWidthSpin, width, wxPoint(606, 202), wxSize(76, 30));
  auto* height = new wxTextCtrl(this, kHeight, wxEmptyString, wxPoint(440, 290), wxSize(160, 30));
  new pw::SizeStepper(this, kHeightSpin, height, wxPoint(606, 290), wxSize(76, 30));

  auto* start = new wxButton(this, kStart, L"开  始(&S)", wxPoint(500, 376), wxSize(120, 36));
  new wxButton(this, kReset, L"重  置(&C)", wxPoint(636, 376), wxSize(120, 36));
  start->SetDefault();

  // Only digits and backspace may be typed into the size edits; pasting
  // with Ctrl is not filtered.
  for (int edit : {kWidth, kHeight}) {
    Edit(edit)->Bind(wxEVT_CHAR, [](wxKeyEvent& event) {
      const int key = event.GetKeyCode();
      if (event.ControlDown() || (key >= '0' && key <= '9') || key == WXK_BACK ||
          key == WXK_DELETE || key == WXK_LEFT || key == WXK_RIGHT || key == WXK_TAB) {
        event.Skip();
        return;
      }
      wxBell();
    });
  }
  Bind(wxEVT_BUTTON, &CResizePictures::OnBrowseFolder, this, kBrowse);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartResize(); }, kStart);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnResetResize(); }, kReset);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnFixedWidth(); }, kFixedWidth);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnFixedHeight(); }, kFixedHeight);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnKeepRatio(); }, kKeepRatio);
  Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnWidthChanged(); }, kWidth);
  Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnHeightChanged(); }, kHeight);
}


void CResizePictures::FillControls() {
  if (m_settings.resizeRememberDir) PathField()->ChangeValue(m_settings.resizeDirValue);
  Edit(kPatterns)->ChangeValue(m_settings.resizePicSuffixs);
  Radio(kRename)->SetValue(m_settings.resizeIndex == 0);
  Radio(kOverwrite)->SetValue(m_settings.resizeIndex == 1);
  Check(kFixedWidth)->SetValue(m_settings.resizeKeepWidth);
  Check(kKeepRatio)->SetValue(m_settings.resizeKeepScale);
  Check(kFixedHeight)->SetValue(m_settings.resizeKeepHeight);
  Check(kGrayscale)->SetValue(m_settings.resizeGrayscale);
  Edit(kWidth)->ChangeValue(std::to_wstring(m_settings.resizeWidth));
  Edit(kHeight)->ChangeValue(std::to_wstring(m_settings.resizeHeight));
  dynamic_cast<pw::SizeStepper*>(FindWindow(kWidthSpin))->SetValue(m_settings.resizeWidth);
  dynamic_cast<pw::SizeStepper*>(FindWindow(kHeightSpin))->SetValue(m_settings.resizeHeight);
  FillQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)),
                  m_settings.resizeJpgQuality);
}

void CResizePictures::OnDropSources(const std::vector<std::wstring>& dropped) {
  g_ResizeAspect = 0;
  ToolPanelFrame::OnDropSources(dropped);
}

void CResizePictures::OnFixedWidth() {
  if (!Check(kFixedWidth)->GetValue()) return;
  Check(kFixedHeight)->SetValue(false);
  Check(kKeepRatio)->SetValue(true);
}

void CResizePictures::OnFixedHeight() {
  if (!Check(kFixedHeight)->GetValue()) return;
  Check(kFixedWidth)->SetValue(false);
  Check(kKeepRatio)->SetValue(true);
}

void CResizePictures::OnKeepRatio() {
  if (Check(kKeepRatio)->GetValue()) return;
  Check(kFixedWidth)->SetValue(false);
  Check(kFixedHeight)->SetValue(false);
}

// Typing one side fills in the other from the last dropped picture; the
// program's own changes (not typed while the edit has the focus) do not.
void CResizePictures::OnWidthChanged() {
  if (FindFocus() != Edit(kWidth)) return;
  g_ResizeKeepRatio = Check(kKeepRatio)->GetValue();
  ReadSizeText(Edit(kWidth)->GetValue().ToStdWstring(), g_ResizeWidth);
  int32_t height = 0;
  if (g_ResizeKeepRatio && HeightForWidth(g_ResizeWidth, g_ResizeAspect, height) &&
      height != g_ResizeHeight) {
    g_ResizeHeight = height;
    Edit(kHeight)->ChangeValue(std::to_wstring(height));
  }
}

void CResizePictures::OnHeightChanged() {
  if (FindFocus() != Edit(kHeight)) return;
  g_ResizeKeepRatio = Check(kKeepRatio)->GetValue();
  ReadSizeText(Edit(kHeight)->GetValue().ToStdWstring(), g_ResizeHeight);
  int32_t width = 0;
  if (g_ResizeKeepRatio && WidthForHeight(g_ResizeHeight, g_ResizeAspect, width) &&
      width != g_ResizeWidth) {
    g_ResizeWidth = width;
    Edit(kWidth)->ChangeValue(std::to_wstring(width));
  }
}

void CResizePictures::OnResetResize() {
  PathField()->ChangeValue(wxEmptyString);
  Edit(kPatterns)->ChangeValue(kDefaultPicturePatterns);
  Radio(kRename)->SetValue(true);
  Radio(kOverwrite)->SetValue(false);
  Check(kFixedWidth)->SetValue(false);
  Check(kKeepRatio)->SetValue(true);
  Check(kFixedHeight)->SetValue(false);
  Check(kGrayscale)->SetValue(false);
  Edit(kWidth)->ChangeValue(L"1920");
  Edit(kHeight)->ChangeValue(L"1920");
  FillQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)), 90);
}

std::wstring CResizePictures::DroppedOneText(const std::wstring& path) const {
  if (!FileExists(path)) return GetLastComponent(path) + L" 加载成功！";
  // The size as shown, the same the worker sizes by.
  int32_t width = 0, height = 0;
  if (!ReadShownSize(path, width, height)) {
    g_ResizeAspect = 0;
    return GetFileName(path, true) + L" 加载失败！";
  }
  g_ResizeAspect = static_cast<double>(width) / height;
  return L"原始尺寸：" + std::to_wstring(width) + L" x " + std::to_wstring(height);
}

void CResizePictures::CopySectionTo(ToolSettings& target) const {
  target.resizeRememberDir = m_settings.resizeRememberDir;
  target.resizeKeepWidth = m_settings.resizeKeepWidth;
  target.resizeKeepScale = m_settings.resizeKeepScale;
  target.resizeKeepHeight = m_settings.resizeKeepHeight;
  target.resizeGrayscale = m_settings.resizeGrayscale;
  target.resizeIgnoreMin = m_settings.resizeIgnoreMin;
  target.resizeIndex = m_settings.resizeIndex;
  target.resizeWidth = m_settings.resizeWidth;
  target.resizeHeight = m_settings.resizeHeight;
  target.resizeThreadNum = m_settings.resizeThreadNum;
  target.resizeJpgQuality = m_settings.resizeJpgQuality;
  target.resizeDirValue = m_settings.resizeDirValue;
  target.resizePicSuffixs = m_settings.resizePicSuffixs;
}

void CResizePictures::OnStartResize() {
  std::wstring sources;
  if (!ReadPathField(sources)) return;
  const std::wstring patterns = Edit(kPatterns)->GetValue().ToStdWstring();

  g_ResizeFixedWidth = Check(kFixedWidth)->GetValue();
  g_ResizeKeepRatio = Check(kKeepRatio)->GetValue();
  g_ResizeFixedHeight = Check(kFixedHeight)->GetValue();
  g_ResizeGrayscale = Check(kGrayscale)->GetValue();
  g_ResizeIgnoreMin = m_settings.resizeIgnoreMin;
  ReadSizeText(Edit(kWidth)->GetValue().ToStdWstring(), g_ResizeWidth);
  ReadSizeText(Edit(kHeight)->GetValue().ToStdWstring(), g_ResizeHeight);
  if (g_ResizeWidth < 1 || g_ResizeHeight < 1) {
    Box(kResizeBadSizeText, kResizeBadSizeTitle, wxOK | wxICON_INFORMATION);
    SetFocus();
    return;
  }
  m_settings.resizeWidth = g_ResizeWidth;
  m_settings.resizeHeight = g_ResizeHeight;
  m_settings.resizeKeepWidth = g_ResizeFixedWidth;
  m_settings.resizeKeepScale = g_ResizeKeepRatio;
  m_settings.resizeKeepHeight = g_ResizeFixedHeight;
  m_settings.resizeGrayscale = g_ResizeGrayscale;
  m_settings.resizeDirValue = sources;
  m_settings.resizePicSuffixs = patterns;
  ReadQualityList(dynamic_cast<wxComboBox*>(FindWindow(pw::kIdQualityList)),
                  m_settings.resizeJpgQuality);

  ResizeRequest request;
  request.patterns = SplitString(patterns, L"|");
  request.sources = SplitSources(sources);
  request.threadCount = m_settings.resizeThreadNum;
  if (Radio(kOverwrite)->GetValue()) {
    if (Box(kResizeOverwriteText, kResizeOverwriteTitle, wxYES_NO) != wxYES) {
      SetFocus();
      return;
    }
    m_settings.resizeIndex = 1;
    request.overwrite = true;
  } else {
    m_settings.resizeIndex = 0;
  }

  Run run(*this);
  run.PlanGroups(request.sources);
  pw::BatchRunAdapter adapter(run, m_owner);
  const ResizeOutcome outcome = RunResize(request, run.Progress(), &adapter);
  run.Finish(sources, L"\n\n处理完成啦！", outcome.report);
}
