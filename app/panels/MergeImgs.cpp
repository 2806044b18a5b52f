#include "app/panels/MergeImgs.h"

#include "app/Resources.h"

bool CMergeImgs::Create(wxWindow* parent) {
  return ToolPanelBase::Create(parent, IDD, pw::RibbonText(pw::cmd::ID_BUTTON_MERGEIMGS));
}
