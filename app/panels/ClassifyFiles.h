// The picture sorting panel: gathers the options into the settings and
// hands the run to the sorting tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class wxCheckBox;
class wxRadioButton;

class CClassifyFiles : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_CLASSIFY_FILES;
  CClassifyFiles() : ToolPanelFrame("CClassifyFiles", 0) {}
  bool Create(wxWindow* parent);

  void OnPictureMode();
  void OnOtherMode();
  void OnStartClassify();

 protected:
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;

 private:
  void BuildControls();
  wxRadioButton* Radio(int id) const;
  wxCheckBox* Check(int id) const;
};
