// The picture merging panel of the picture-tools category.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelBase.h"

class CMergeImgs : public pw::ToolPanelBase {
 public:
  static constexpr int IDD = pw::cmd::IDD_MERGE_IMGS;
  CMergeImgs() : ToolPanelBase("CMergeImgs") {}
  bool Create(wxWindow* parent);
};
