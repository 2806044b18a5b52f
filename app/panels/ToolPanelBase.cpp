#include "app/panels/ToolPanelBase.h"

#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/Lifecycle.h"

namespace pw {

bool ToolPanelBase::Create(wxWindow* parent, int dialogId, const wxString& title) {
  if (!wxPanel::Create(parent, dialogId, wxDefaultPosition, wxDefaultSize,
                       wxTAB_TRAVERSAL | wxBORDER_NONE, title))
    return false;
  Hide();
  SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  auto* heading = new wxStaticText(this, wxID_ANY, wxEmptyString);
  wxFont font = heading->GetFont();
  font.SetPointSize(font.GetPointSize() + 6);
  font.MakeBold();
  heading->SetFont(font);
  heading->SetLabel(title);
  // The toolkit may still measure with the old font: size from the text itself.
  heading->SetMinSize(heading->GetTextExtent(title) + wxSize(8, 4));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(heading, 0, wxALL, 24);
  SetSizer(sizer);
  return true;
}

wxCheckBox* ToolPanelBase::Check(int id) const { return dynamic_cast<wxCheckBox*>(FindWindow(id)); }

wxRadioButton* ToolPanelBase::Radio(int id) const {
  return dynamic_cast<wxRadioButton*>(FindWindow(id));
}

wxTextCtrl* ToolPanelBase::Edit(int id) const { return dynamic_cast<wxTextCtrl*>(FindWindow(id)); }

ToolPanelBase::~ToolPanelBase() { NotifyLifecycle(std::string("panel-destroyed ") + m_className); }

}  // namespace pw
