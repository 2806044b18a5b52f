// The EXIF cloning panel: one pair of pictures, or a receiving folder tree
// paired with a source tree; hands the work to the cloning tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class CCloneExif : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_CLONE_EXIF;
  CCloneExif() : ToolPanelFrame("CCloneExif", 2, IDD, pw::cmd::ID_BUTTON_CLONEEXIF) {}

  void OnSingleMode();
  void OnBatchMode();
  void OnStartCloneExif();
  // Only the first dropped item: a file for single mode, a folder for
  // batch mode.
  void OnDropSources(const std::vector<std::wstring>& dropped) override;

 protected:
  void BuildControls() override;
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;

 private:
  void StartSingle();
  void StartBatch();
  void CopyBack();
};
