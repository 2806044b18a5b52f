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

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

}  // namespace pw
