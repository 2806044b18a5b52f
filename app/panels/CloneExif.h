// The EXIF cloning panel of the picture-tools category.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelBase.h"

class CCloneExif : public pw::ToolPanelBase {
 public:
  static constexpr int IDD = pw::cmd::IDD_CLONE_EXIF;
  CCloneExif() : ToolPanelBase("CCloneExif") {}
  bool Create(wxWindow* parent);
};
