// Every message box of the program goes through here, so test builds can
// capture the text instead of blocking on a modal box.
#pragma once
#include <functional>

#include <wx/defs.h>
#include <wx/string.h>

class wxDialog;
class wxWindow;

namespace pw {

// Shows a message box (wxOK, wxYES_NO, wxICON_* styles) and returns the
// button pressed (wxOK, wxYES, wxNO, wxCANCEL).
int MessageBox(const wxString& text, long style = wxOK | wxICON_INFORMATION,
               wxWindow* parent = nullptr);

// The same with a title of its own instead of the program's name.
int MessageBox(const wxString& text, const wxString& caption, long style,
               wxWindow* parent = nullptr);
// The window a box or dialog is shown over: `parent`, or else the main
// window while it is on screen.
wxWindow* BoxParent(wxWindow* parent);
// The title of the last box shown or captured (tests read it).
wxString LastMessageBoxCaption();
// Ends the message box or file dialog on screen, if any, as if cancelled.
void CloseMessageBoxes();
// Shows a modal dialog that CloseMessageBoxes can end (the file and folder
// choosers); its answer.
int ShowClosableModal(wxDialog& dialog);

// Test hook: while set, MessageBox calls it instead of showing a box and
// returns its answer. Pass an empty function to restore the real boxes.
using MessageBoxHook = std::function<int(const wxString& text, long style)>;
void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace pw
