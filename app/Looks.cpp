#include "app/Looks.h"

#include <wx/ribbon/art.h>

#include "app/CommandIds.h"

namespace pw {

int g_nAppLook = cmd::ID_VIEW_APPLOOK_OFF_2007_BLUE;

namespace {

OfficeStyle g_officeStyle = OfficeStyle::LunaBlue;

wxRibbonArtProvider* Office2007(OfficeStyle style) {
  auto* art = new wxRibbonMSWArtProvider();
  switch (style) {
    case OfficeStyle::LunaBlue:
      art->SetColourScheme(wxColour(165, 198, 240), wxColour(255, 210, 100), wxColour(21, 66, 139));
      break;
    case OfficeStyle::ObsidianBlack:
      art->SetColourScheme(wxColour(72, 72, 76), wxColour(255, 185, 70), wxColour(255, 255, 255));
      break;
    case OfficeStyle::Silver:
      art->SetColourScheme(wxColour(208, 212, 221), wxColour(255, 215, 110), wxColour(40, 40, 48));
      break;
    case OfficeStyle::Aqua:
      art->SetColourScheme(wxColour(150, 212, 214), wxColour(255, 215, 110), wxColour(20, 70, 80));
      break;
  }
  return art;
}

}  // namespace

LookFamily FamilyOfLook(int look) {
  if (look >= 205 && look <= 210) return LookFamily::Plain;
  if (look == cmd::ID_VIEW_APPLOOK_WINDOWS_7) return LookFamily::Windows7;
  return LookFamily::Office2007;
}

OfficeStyle CurrentOfficeStyle() { return g_officeStyle; }

wxRibbonArtProvider* CreateLookArtProvider(int look) {
  switch (look) {
    case 205: case 206: case 207: case 208: case 209: case 210:
      return new wxRibbonAUIArtProvider();
    case cmd::ID_VIEW_APPLOOK_OFF_2007_BLUE: g_officeStyle = OfficeStyle::LunaBlue; break;
    case cmd::ID_VIEW_APPLOOK_OFF_2007_BLACK: g_officeStyle = OfficeStyle::ObsidianBlack; break;
    case cmd::ID_VIEW_APPLOOK_OFF_2007_SILVER: g_officeStyle = OfficeStyle::Silver; break;
    case cmd::ID_VIEW_APPLOOK_OFF_2007_AQUA: g_officeStyle = OfficeStyle::Aqua; break;
    case cmd::ID_VIEW_APPLOOK_WINDOWS_7:
      return new wxRibbonMSWArtProvider();  // the provider's own scheme
    default: break;  // 211 to 214 and anything else: the current style
  }
  return Office2007(g_officeStyle);
}

}  // namespace pw
