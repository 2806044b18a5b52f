// The format conversion panel: gathers the target formats and options into
// the settings and the tool's globals, and hands the run to the conversion
// tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class CConvertor : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_CONVERTOR;
  CConvertor() : ToolPanelFrame("CConvertor", 3, IDD, pw::cmd::ID_BUTTON_CONVERTOR) {}

  void OnJpgTarget();
  void OnReset();
  void OnStartConvert();

 protected:
  void BuildControls() override;
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;
};
