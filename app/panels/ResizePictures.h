// The picture resizing panel: gathers the size rule and the options into
// the settings and the tool's globals, and hands the run to the resizing
// tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class wxCheckBox;
class wxRadioButton;
class wxTextCtrl;

class CResizePictures : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_RESIZE_PICTURES;
  CResizePictures() : ToolPanelFrame("CResizePictures", 1) {}
  bool Create(wxWindow* parent);

  void OnFixedWidth();
  void OnFixedHeight();
  void OnKeepRatio();
  void OnWidthChanged();
  void OnHeightChanged();
  void OnResetResize();
  void OnStartResize();

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
