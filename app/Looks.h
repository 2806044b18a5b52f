// The window's looks (visual styles), chosen by the look commands 205 to 219
// and kept in the "ApplicationLook" setting.
#pragma once

class wxRibbonArtProvider;

namespace pw {

// The current look command; set from the stored setting when the main
// window is built and by every look command.
extern int g_nAppLook;

// The Office 2007 colour styles, in their stored numbering.
enum class OfficeStyle { LunaBlue = 0, ObsidianBlack = 1, Aqua = 2, Silver = 3 };

// A new art provider for a look command. Commands 211 to 214 and values
// outside 205..219 keep the current Office 2007 colour style; 215 to 218
// make their style the current one.
wxRibbonArtProvider* CreateLookArtProvider(int look);

OfficeStyle CurrentOfficeStyle();

}  // namespace pw
