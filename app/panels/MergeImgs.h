// The picture merging panel: gathers the options into the settings and
// hands the run to the merge tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class CMergeImgs : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_MERGE_IMGS;
  CMergeImgs() : ToolPanelFrame("CMergeImgs", 4, IDD, pw::cmd::ID_BUTTON_MERGEIMGS) {}

  void OnHorizontal();
  void OnVertical();
  void OnStartMerge();

 protected:
  void BuildControls() override;
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;

 private:
  std::wstring Text(int id) const;
};
