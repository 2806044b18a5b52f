#include "app/panels/SizeStepper.h"

#include <algorithm>
#include <climits>
#include <string>

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "tools/ResizePictures.h"

namespace pw {

std::wstring WithThousands(int32_t value) {
  std::wstring digits = std::to_wstring(value);
  const int first = digits[0] == L'-' ? 1 : 0;
  for (int i = static_cast<int>(digits.size()) - 3; i > first; i -= 3) digits.insert(i, L",");
  return digits;
}

SizeStepper::SizeStepper(wxWindow* parent, int id, wxTextCtrl* edit, const wxPoint& pos,
                         const wxSize& size)
    : wxPanel(parent, id, pos, size, wxBORDER_NONE | wxTAB_TRAVERSAL), m_edit(edit) {
  m_down = new wxButton(this, wxID_ANY, L"−", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  m_up = new wxButton(this, wxID_ANY, L"+", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  // The panel's relayout sizes this window; the buttons share it evenly,
  // whatever their own idea of a smallest size.
  for (wxButton* button : {m_down, m_up}) button->SetMinSize(wxSize(1, 1));
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(m_down, 1, wxEXPAND);
  row->Add(m_up, 1, wxEXPAND);
  SetSizer(row);
  Layout();
  m_down->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Step(-1); });
  m_up->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Step(+1); });
  m_edit->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_UP && !event.HasAnyModifiers())
      Step(+1);
    else if (event.GetKeyCode() == WXK_DOWN && !event.HasAnyModifiers())
      Step(-1);
    else
      event.Skip();
  });
}

void SizeStepper::SetValue(int32_t value) { m_value = std::max<int32_t>(1, value); }

void SizeStepper::Step(int delta) {
  int32_t value = m_value;
  ReadSizeText(m_edit->GetValue().ToStdWstring(), value);
  const int64_t stepped = std::clamp<int64_t>(int64_t(value) + delta, 1, INT32_MAX);
  m_value = static_cast<int32_t>(stepped);
  m_edit->SetValue(WithThousands(m_value));
}

}  // namespace pw
