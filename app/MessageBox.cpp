#include "app/MessageBox.h"

#include <wx/msgdlg.h>

#include "app/Resources.h"
#include "app/CommandIds.h"

namespace pw {
namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

int MessageBox(const wxString& text, long style, wxWindow* parent) {
  if (Hook()) return Hook()(text, style);
  return wxMessageBox(text, LoadString(cmd::IDS_APP_TITLE), style, parent);
}

namespace {
wxString& LastCaption() {
  static wxString caption;
  return caption;
}
}  // namespace

int MessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
  LastCaption() = caption;
  if (Hook()) return Hook()(text, style);
  return wxMessageBox(text, caption, style, parent);
}

wxString LastMessageBoxCaption() { return LastCaption(); }

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

}  // namespace pw
