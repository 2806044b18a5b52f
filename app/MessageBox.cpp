#include "app/MessageBox.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>
#include <wx/sizer.h>

#include "app/Resources.h"
#include "app/CommandIds.h"

namespace pw {
namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
wxString& LastCaption() {
  static wxString caption;
  return caption;
}
}  // namespace

namespace {
// Space between a message box's border and its text and buttons, on top of
// the toolkit's own.
constexpr int kBoxPadding = 8;

// The window manager writes the title in its own font beside its own icon
// and buttons, and cuts what does not fit ("Pix… harf"): the box is at
// least as wide as the title in the box's font made bold (title fonts are
// seldom larger) with room for those around it.
int TitleRoom(wxWindow& box, const wxString& caption) {
  wxFont bold = box.GetFont();
  bold.MakeBold();
  int width = 0, height = 0;
  box.GetTextExtent(caption, &width, &height, nullptr, nullptr, &bold);
  return width + 6 * box.GetCharHeight();
}

// The box on screen, so the end of the program can close it.
wxDialog* g_openBox = nullptr;

int ToMessageBoxAnswer(int id) {
  switch (id) {
    case wxID_YES: return wxYES;
    case wxID_NO: return wxNO;
    case wxID_CANCEL: return wxCANCEL;
    default: return wxOK;
  }
}
}  // namespace

wxWindow* BoxParent(wxWindow* parent) {
  if (parent) return parent;
  wxWindow* main = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
  return main && main->IsShown() && !main->IsBeingDeleted() ? main : nullptr;
}

int MessageBox(const wxString& text, long style, wxWindow* parent) {
  return MessageBox(text, LoadString(cmd::IDS_APP_TITLE), style, parent);
}

int MessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
  LastCaption() = caption;
  if (Hook()) return Hook()(text, style);
  // Our own dialog rather than the toolkit's native one: only ours can be
  // ended from outside when the session asks the program to quit. Always
  // over the main window, which the window manager then keeps it above.
  wxGenericMessageDialog dialog(BoxParent(parent), text, caption, style | wxCENTRE);
  // The toolkit's box sets its text right against its right edge: give the
  // whole content a margin of its own once the box has built it.
  dialog.Bind(wxEVT_INIT_DIALOG, [&dialog, &caption](wxInitDialogEvent& event) {
    event.Skip();
    wxSizer* content = dialog.GetSizer();
    if (!content || content->GetContainingWindow() != &dialog || dialog.GetClientData()) return;
    dialog.SetClientData(&dialog);  // once
    auto* padded = new wxBoxSizer(wxVERTICAL);
    padded->Add(content, 1, wxEXPAND | wxALL, kBoxPadding);
    padded->SetMinSize(TitleRoom(dialog, caption), -1);
    dialog.SetSizer(padded, false);
    dialog.Fit();
    dialog.CentreOnParent();
  });
  dialog.SetOKCancelLabels(LoadString(cmd::IDS_OK), LoadString(cmd::IDS_CANCEL));
  dialog.SetYesNoCancelLabels(LoadString(cmd::IDS_YES), LoadString(cmd::IDS_NO), LoadString(cmd::IDS_CANCEL));
  return ToMessageBoxAnswer(ShowClosableModal(dialog));
}

int ShowClosableModal(wxDialog& dialog) {
  wxDialog* previous = g_openBox;
  g_openBox = &dialog;
  const int answer = dialog.ShowModal();
  g_openBox = previous;
  return answer;
}

void CloseMessageBoxes() {
  if (g_openBox && g_openBox->IsModal()) g_openBox->EndModal(wxID_CANCEL);
}

wxString LastMessageBoxCaption() { return LastCaption(); }

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

}  // namespace pw
