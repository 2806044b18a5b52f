// The − and + buttons beside a size edit. They step the number in the edit
// by one, as the system's up-down control does for its buddy edit: within
// 1 to 2147483647, written back with thousands separators. The Up and Down
// keys in the edit step it too.
//
// Plain buttons rather than the toolkit's spin button: that one brings an
// entry of its own, which is clipped at the size the panel gives it.
#pragma once

#include <cstdint>

#include <wx/panel.h>

class wxButton;
class wxTextCtrl;

namespace pw {

class SizeStepper : public wxPanel {
 public:
  SizeStepper(wxWindow* parent, int id, wxTextCtrl* edit, const wxPoint& pos, const wxSize& size);

  // The value stepped from while the edit holds no number.
  void SetValue(int32_t value);
  void Step(int delta);
  wxButton* DownButton() const { return m_down; }
  wxButton* UpButton() const { return m_up; }

 private:
  wxTextCtrl* m_edit;
  wxButton* m_down;
  wxButton* m_up;
  int32_t m_value = 1;
};

// A number as the up-down control writes it: 1920 as "1,920".
std::wstring WithThousands(int32_t value);

}  // namespace pw
