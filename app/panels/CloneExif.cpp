#include "app/panels/CloneExif.h"

#include "app/Resources.h"

bool CCloneExif::Create(wxWindow* parent) {
  return ToolPanelBase::Create(parent, IDD, pw::RibbonText(pw::cmd::ID_BUTTON_CLONEEXIF));
}
