#include "app/panels/Convertor.h"

#include "app/Resources.h"

bool CConvertor::Create(wxWindow* parent) {
  return ToolPanelBase::Create(parent, IDD, pw::RibbonText(pw::cmd::ID_BUTTON_CONVERTOR));
}
