// The picture merging panel: gathers the options into the settings and
// hands the run to the merge tool.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelFrame.h"

class wxCheckBox;

class CMergeImgs : public pw::ToolPanelFrame {
 public:
  static constexpr int IDD = pw::cmd::IDD_MERGE_IMGS;
  CMergeImgs() : ToolPanelFrame("CMergeImgs", 4) {}
  bool Create(wxWindow* parent);

  void OnHorizontal();
  void OnVertical();
  void OnStartMerge();

 protected:
  void FillControls() override;
  std::wstring DroppedOneText(const std::wstring& path) const override;
  void CopySectionTo(ToolSettings& target) const override;

 private:
  void BuildControls();
  wxCheckBox* Check(int id) const;
  std::wstring Text(int id) const;
};
