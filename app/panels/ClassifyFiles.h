// The picture sorting panel: gathers the options into the settings and
// hands the run to the sorting tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class CClassifyFiles : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_CLASSIFY_FILES;
  CClassifyFiles() : ToolPanelFrame("CClassifyFiles", 0, IDD, pw::cmd::ID_BUTTON_CLASSIFYFILES) {}

  void OnPictureMode();
  void OnOtherMode();
  void OnStartClassify();

 protected:
  void BuildControls() override;
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;
};
