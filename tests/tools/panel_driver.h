// Drives a tool panel's controls as a person does: the control changes and
// its event reaches the panel's handler.
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

namespace paneltest {

inline void Click(wxWindow* panel, int id) {
  auto* button = dynamic_cast<wxButton*>(panel->FindWindow(id));
  ASSERT_NE(button, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, id);
  click.SetEventObject(button);
  button->ProcessWindowEvent(click);
}

inline void SetText(wxWindow* panel, int id, const std::string& text) {
  dynamic_cast<wxTextCtrl*>(panel->FindWindow(id))->ChangeValue(wxString::FromUTF8(text));
}

inline void Select(wxWindow* panel, int id) {
  auto* radio = dynamic_cast<wxRadioButton*>(panel->FindWindow(id));
  radio->SetValue(true);
  wxCommandEvent event(wxEVT_RADIOBUTTON, id);
  event.SetEventObject(radio);
  radio->ProcessWindowEvent(event);
}

inline void Tick(wxWindow* panel, int id, bool on) {
  auto* box = dynamic_cast<wxCheckBox*>(panel->FindWindow(id));
  box->SetValue(on);
  wxCommandEvent event(wxEVT_CHECKBOX, id);
  event.SetEventObject(box);
  event.SetInt(on ? 1 : 0);
  box->ProcessWindowEvent(event);
}

}  // namespace paneltest
