#include "app/panels/ClassifyFiles.h"

#include "app/Resources.h"

bool CClassifyFiles::Create(wxWindow* parent) {
  return ToolPanelBase::Create(parent, IDD, pw::RibbonText(pw::cmd::ID_BUTTON_CLASSIFYFILES));
}
