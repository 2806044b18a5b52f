#include "app/panels/ResizePictures.h"

#include "app/Resources.h"

bool CResizePictures::Create(wxWindow* parent) {
  return ToolPanelBase::Create(parent, IDD, pw::RibbonText(pw::cmd::ID_BUTTON_RESIZEIMAGES));
}
