#include "app/PixelwharfDoc.h"

#include <filesystem>
#include <fstream>

#include <wx/filename.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "core/PathHelpers.h"
#include "platform/text.h"

CPixelwharfDoc::CPixelwharfDoc() {
  Bind(wxEVT_MENU, &CPixelwharfDoc::OnOpenImage, this, pw::cmd::ID_BUTTON_OPEN);
  Bind(wxEVT_MENU, &CPixelwharfDoc::OnOpenWithPxImage, this, pw::cmd::ID_BUTTON_PxImageOpen);
  Bind(wxEVT_MENU, &CPixelwharfDoc::OnConvertTo8Bit, this, pw::cmd::ID_BUTTON_CVT2EIGHT);
  Bind(wxEVT_UPDATE_UI, &CPixelwharfDoc::OnUpdateCvt2Eight, this, pw::cmd::ID_BUTTON_CVT2EIGHT);
}

CPixelwharfDoc::~CPixelwharfDoc() { ReleaseImageBuffers(); }

bool CPixelwharfDoc::OnNewDocument() { return true; }

bool CPixelwharfDoc::OnOpenDocument(const std::wstring& path) {
  // The file must be a regular file that opens for reading.
  std::string narrow = pw::WideToNarrow(path);
  std::error_code ec;
  if (narrow.empty() || !std::filesystem::is_regular_file(narrow, ec) || !std::ifstream(narrow))
    return false;
  if (m_frame) {
    if (auto* bar = m_frame->GetProgressBar()) bar->SetPos(0);
    m_frame->CreateTaskbarProgress();
    m_frame->GetTaskbarProgress()->BeginProgress();
  }
  if (!m_view) {
    OnImageOpened(path, OpenOutcome::Opened);
    return true;
  }
  m_view->OpenImageInView(path);
  return true;
}

void CPixelwharfDoc::OnImageOpened(const std::wstring& path, OpenOutcome outcome,
                                   const std::wstring& reason) {
  if (m_frame) m_frame->GetTaskbarProgress()->EndProgress();
  if (outcome == OpenOutcome::Opened) m_path = path;
  if (outcome == OpenOutcome::Failed && m_frame)
    m_frame->ReportOpenFailure(wxString(path), wxString(reason));
}

void CPixelwharfDoc::OnOpenImage(wxCommandEvent&) {
  std::wstring path = pw::PickOpenFile();
  if (!path.empty()) OnOpenDocument(path);
}

void CPixelwharfDoc::OnOpenWithPxImage(wxCommandEvent& event) {
  pw::MessageBox(pw::LoadString(pw::cmd::IDS_IN_DEVELOPMENT));
  OnOpenImage(event);
}

void CPixelwharfDoc::OnConvertTo8Bit(wxCommandEvent&) { ConvertTo8Bit(); }

void CPixelwharfDoc::OnUpdateCvt2Eight(wxUpdateUIEvent& event) { event.Enable(!m_path.empty()); }

void CPixelwharfDoc::ReleaseImageBuffers() { m_conversion.ReleaseImageBuffers(); }

void CPixelwharfDoc::ConvertTo8Bit() {
  if (m_path.empty()) return;
  const std::wstring offered = GetFileName(m_path, false) + L"_8";
  // The copy is offered beside the image, not in whatever folder the
  // program was started from.
  const std::wstring folder = wxFileName(wxString(m_path)).GetPath().ToStdWstring();
  const std::wstring target = pw::PickSaveFileByExtensions(L".tif", offered, folder);
  if (target.empty()) return;

  CTaskBarProgress* progress = nullptr;
  if (m_frame) {
    m_frame->CreateTaskbarProgress();
    progress = m_frame->GetTaskbarProgress();
  }
  if (progress) progress->BeginProgress();
  ReleaseImageBuffers();

  // The status-bar gauge follows the rows written; its range is the
  // image's height, known once the input is open.
  auto rowsDone = [this](int rows) {
    if (!m_frame) return;
    if (rows == 0) {
      m_frame->ResetRibbonProgress(m_conversion.height);
    } else if (pw::StatusProgressBar* bar = m_frame->GetProgressBar()) {
      bar->SetPos(rows);
      bar->Redraw();
    }
  };
  std::string error;
  const bool ok = m_conversion.Run(pw::WideToNarrow(m_path), pw::WideToNarrow(target), progress,
                                   rowsDone, error);
  ReleaseImageBuffers();
  if (progress) progress->EndProgress();
  if (ok) {
    pw::MessageBox(pw::LoadString(pw::cmd::IDS_TASK_DONE));
  } else {
    pw::MessageBox(wxString::FromUTF8("转换失败：") + wxString::FromUTF8(error),
                   wxOK | wxICON_ERROR);
  }
}
