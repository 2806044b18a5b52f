// The EXIF cloning panel: one pair of pictures, or a receiving folder tree
// paired with a source tree; hands the work to the cloning tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class wxRadioButton;
class wxTextCtrl;

class CCloneExif : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_CLONE_EXIF;
  CCloneExif() : ToolPanelFrame("CCloneExif", 2) {}
  bool Create(wxWindow* parent);

  void OnSingleMode();
  void OnBatchMode();
  void OnStartCloneExif();
  // The first dropped item: a file for single mode, a folder for batch mode.
  void OnDropped(const std::vector<std::wstring>& dropped);

 protected:
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;

 private:
  void BuildControls();
  void StartSingle();
  void StartBatch();
  void CopyBack();
  wxRadioButton* Radio(int id) const;
  wxTextCtrl* Edit(int id) const;
};
