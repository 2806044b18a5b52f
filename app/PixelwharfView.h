// The viewer's view: the client area under the ribbon, where the open image
// is drawn and over which the tool panels lie. For now it carries only
// what the main window needs (open a path, draw, the commands routed to
// it); the viewer fills in the display engine.
#pragma once
#include <string>

#include <wx/window.h>

class CPixelwharfDoc;
class CMainFrame;
class wxDC;

class CPixelwharfView : public wxWindow {
 public:
  CPixelwharfView(CMainFrame* frame, CPixelwharfDoc* document);
  ~CPixelwharfView() override;

  CPixelwharfDoc* GetDocument() const { return m_document; }
  // Shows the image at path; 1.
  virtual int OpenImageInView(const std::wstring& path);
  // Draws the view on screen and on the printed page.
  virtual void OnDraw(wxDC& dc);

 protected:
  void OnPaint(wxPaintEvent& event);
  void OnLButtonDblClk(wxMouseEvent& event);
  void OnFilePrint(wxCommandEvent& event);
  void OnFilePrintPreview(wxCommandEvent& event);
  void OnRealPixValue(wxCommandEvent& event);
  void OnYReverse(wxCommandEvent& event);
  void OnUpdateRealPixValue(wxUpdateUIEvent& event);
  void OnUpdateYReverse(wxUpdateUIEvent& event);

  CMainFrame* m_frame;
  CPixelwharfDoc* m_document;
  bool m_fileValues = false;  // readout shows the file's own band values
  bool m_yReversed = false;   // readout counts Y from the bottom row
  bool m_hasImage = false;
};
