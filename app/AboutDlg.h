// The About box: the product's name and version and an OK button.
#pragma once
#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
 public:
  static constexpr int IDD = 100;
  explicit CAboutDlg(wxWindow* parent);
  // The version text shown, e.g. "Pixelwharf，版本 0.1".
  wxString GetVersionText() const { return m_versionText; }

 private:
  wxString m_versionText;
};
