// The format conversion panel: gathers the target formats and options into
// the settings and the tool's globals, and hands the run to the conversion
// tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class wxCheckBox;
class wxRadioButton;
class wxTextCtrl;

class CConvertor : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_CONVERTOR;
  CConvertor() : ToolPanelFrame("CConvertor", 3) {}
  bool Create(wxWindow* parent);

  void OnJpgTarget();
  void OnReset();
  void OnStartConvert();

 protected:
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;

 private:
  void BuildControls();
  wxCheckBox* Check(int id) const;
  wxRadioButton* Radio(int id) const;
  wxTextCtrl* Edit(int id) const;
};
