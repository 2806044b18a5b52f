// What the five tool panels share as windows: the panel over the view
// with its title, its copy of the settings, the window that owns it, and
// typed access to its controls by id.
#pragma once
#include <string>

#include <wx/panel.h>

class wxCheckBox;
class wxRadioButton;
class wxTextCtrl;

#include "core/ToolSettings.h"

namespace pw {

class ToolPanelOwner;

class ToolPanelBase : public wxPanel {
 public:
  // Creates the window: a child of parent with the panel's dialog id,
  // hidden until the host shows it.
  bool Create(wxWindow* parent, int dialogId, const wxString& title);
  ~ToolPanelBase() override;

  ToolPanelOwner* m_owner = nullptr;  // set by the tool host right after construction
  ToolSettings m_settings;  // the defaults until the panel's tool fills it

 protected:
  explicit ToolPanelBase(const char* className) : m_className(className) {}

  // The panel's control of an id, or null when it has none of that kind.
  wxCheckBox* Check(int id) const;
  wxRadioButton* Radio(int id) const;
  wxTextCtrl* Edit(int id) const;

 private:
  const char* m_className;
};

}  // namespace pw
