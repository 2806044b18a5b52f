// What the five tool panels share while they hold no controls of their
// own: the panel window over the view, its title, its copy of the
// settings and the window that owns it.
#pragma once
#include <string>

#include <wx/panel.h>

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

 private:
  const char* m_className;
};

}  // namespace pw
