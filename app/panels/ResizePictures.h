// The picture resizing panel of the picture-tools category.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelBase.h"

class CResizePictures : public pw::ToolPanelBase {
 public:
  static constexpr int IDD = pw::cmd::IDD_RESIZE_PICTURES;
  CResizePictures() : ToolPanelBase("CResizePictures") {}
  bool Create(wxWindow* parent);
};
