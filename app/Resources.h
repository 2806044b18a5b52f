// Reading the compiled-in resources: the string table, the ribbon table and
// the icons.
#pragma once
#include <string>
#include <vector>

#include <wx/bitmap.h>
#include <wx/string.h>

namespace pw {

// Text of the string table; the empty text for an unknown id.
wxString LoadString(int id);

// One line of the ribbon table.
struct RibbonItem {
  std::string place;  // "category", "1/打开", "menu", "print", "qat", "looks", "tabrow"
  int id = 0;         // command id; 0 for an element without a command
  std::string kind;   // "page", "button", "check", "label", "recent", "separator", "radio"
  wxString text;
  std::string icon;   // icon name below resources/icons, or empty
};

// The ribbon table in file order.
const std::vector<RibbonItem>& RibbonTable();

// Text of the first ribbon element with that command id; empty when none.
wxString RibbonText(int id);

// An icon by name ("open"); small gives the 16-pixel version. An invalid
// bitmap when there is no such icon.
wxBitmap LoadIcon(const std::string& name, bool small = false);

}  // namespace pw
