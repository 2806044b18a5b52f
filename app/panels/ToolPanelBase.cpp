#include "app/panels/ToolPanelBase.h"

#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

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

ToolPanelBase::~ToolPanelBase() { NotifyLifecycle(std::string("panel-destroyed ") + m_className); }

}  // namespace pw
