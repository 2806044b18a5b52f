#include "app/PixelwharfView.h"

#include <wx/dcbuffer.h>
#include <wx/print.h>
#include <wx/settings.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/PixelwharfDoc.h"
#include "app/ViewPrintout.h"

CPixelwharfView::CPixelwharfView(CMainFrame* frame, CPixelwharfDoc* document)
    : wxWindow(frame, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      m_frame(frame), m_document(document) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CPixelwharfView::OnPaint, this);
  Bind(wxEVT_LEFT_DCLICK, &CPixelwharfView::OnLButtonDblClk, this);
  Bind(wxEVT_MENU, &CPixelwharfView::OnFilePrint, this, pw::cmd::ID_FILE_PRINT);
  Bind(wxEVT_MENU, &CPixelwharfView::OnFilePrint, this, pw::cmd::ID_FILE_PRINT_DIRECT);
  Bind(wxEVT_MENU, &CPixelwharfView::OnFilePrintPreview, this, pw::cmd::ID_FILE_PRINT_PREVIEW);
  Bind(wxEVT_MENU, &CPixelwharfView::OnRealPixValue, this, pw::cmd::ID_CHECK_REALPIXVALUE);
  Bind(wxEVT_MENU, &CPixelwharfView::OnYReverse, this, pw::cmd::ID_CHECK_YREVERSE);
  Bind(wxEVT_UPDATE_UI, &CPixelwharfView::OnUpdateRealPixValue, this, pw::cmd::ID_CHECK_REALPIXVALUE);
  Bind(wxEVT_UPDATE_UI, &CPixelwharfView::OnUpdateYReverse, this, pw::cmd::ID_CHECK_YREVERSE);
}

CPixelwharfView::~CPixelwharfView() = default;

int CPixelwharfView::OpenImageInView(const std::wstring&) {
  m_hasImage = true;
  Refresh();
  return 1;
}

void CPixelwharfView::OnDraw(wxDC& dc) {
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_APPWORKSPACE)));
  dc.Clear();
}

void CPixelwharfView::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  OnDraw(dc);
}

void CPixelwharfView::OnLButtonDblClk(wxMouseEvent& event) {
  if (m_document) {
    std::wstring path = pw::PickOpenFile();
    if (!path.empty()) m_document->OnOpenDocument(path);
  }
  event.Skip();
}

void CPixelwharfView::OnFilePrint(wxCommandEvent& event) {
  wxPrinter printer;
  ViewPrintout printout(this);
  printer.Print(this, &printout, event.GetId() != pw::cmd::ID_FILE_PRINT_DIRECT);
}

void CPixelwharfView::OnFilePrintPreview(wxCommandEvent&) {
  m_frame->ShowPrintPreview(new ViewPrintout(this), new ViewPrintout(this));
}

void CPixelwharfView::OnRealPixValue(wxCommandEvent&) { m_fileValues = !m_fileValues; }
void CPixelwharfView::OnYReverse(wxCommandEvent&) { m_yReversed = !m_yReversed; }

void CPixelwharfView::OnUpdateRealPixValue(wxUpdateUIEvent& event) {
  event.Enable(m_hasImage);
  event.Check(m_fileValues);
}

void CPixelwharfView::OnUpdateYReverse(wxUpdateUIEvent& event) {
  event.Enable(m_hasImage);
  event.Check(m_yReversed);
}
