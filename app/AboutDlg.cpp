#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/CommandIds.h"
#include "app/Resources.h"

#ifndef PW_VERSION
#define PW_VERSION "0.1"
#endif

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, IDD, pw::LoadString(pw::cmd::IDS_ABOUT_TITLE)) {
  m_versionText = wxString::Format(pw::LoadString(pw::cmd::IDS_ABOUT_VERSION), PW_VERSION);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticBitmap(this, wxID_ANY, pw::LoadIcon("app_48")), 0, wxALL, 12);
  auto* texts = new wxBoxSizer(wxVERTICAL);
  auto* name = new wxStaticText(this, wxID_ANY, m_versionText);
  name->SetFont(name->GetFont().Bold());
  texts->Add(name, 0, wxBOTTOM, 6);
  texts->Add(new wxStaticText(this, wxID_ANY, pw::LoadString(pw::cmd::IDS_ABOUT_TAGLINE)));
  row->Add(texts, 1, wxALL | wxALIGN_CENTER_VERTICAL, 12);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(row, 1, wxEXPAND);
  top->Add(new wxButton(this, wxID_OK, pw::LoadString(pw::cmd::IDS_OK)), 0, wxALIGN_RIGHT | wxALL, 12);
  SetSizerAndFit(top);
  CentreOnParent();
}
