// The format conversion panel of the picture-tools category.
#pragma once
#include "app/CommandIds.h"
#include "app/panels/ToolPanelBase.h"

class CConvertor : public pw::ToolPanelBase {
 public:
  static constexpr int IDD = pw::cmd::IDD_CONVERTOR;
  CConvertor() : ToolPanelBase("CConvertor") {}
  bool Create(wxWindow* parent);
};
