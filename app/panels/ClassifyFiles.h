// The picture sorting panel of the picture-tools category.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelBase.h"

class CClassifyFiles : public pw::ToolPanelBase {
 public:
  static constexpr int IDD = pw::cmd::IDD_CLASSIFY_FILES;
  CClassifyFiles() : ToolPanelBase("CClassifyFiles") {}
  bool Create(wxWindow* parent);
};
