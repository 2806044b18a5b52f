// The picture resizing panel: gathers the size rule and the options into
// the settings and the tool's globals, and hands the run to the resizing
// tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class CResizePictures : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_RESIZE_PICTURES;
  CResizePictures() : ToolPanelFrame("CResizePictures", 1, IDD, pw::cmd::ID_BUTTON_RESIZEIMAGES) {}

  void OnFixedWidth();
  void OnFixedHeight();
  void OnKeepRatio();
  void OnWidthChanged();
  void OnHeightChanged();
  void OnResetResize();
  void OnStartResize();
  // A drop forgets the last picture's aspect before the shared handling.
  void OnDropSources(const std::vector<std::wstring>& dropped) override;

 protected:
  void BuildControls() override;
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;
};
