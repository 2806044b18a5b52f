// The viewer's view: the client area under the ribbon, where the open image
// is drawn and over which the tool panels lie. It owns the display engine
// and the window's 24-bit bottom-up bitmap, routes the mouse to the engine
// and writes the position and value of the pixel under the mouse into the
// status bar.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <wx/window.h>

#include "raster/ImageRenderer.h"

class CPixelwharfDoc;
class CMainFrame;
class wxDC;

class CPixelwharfView : public wxWindow {
 public:
  CPixelwharfView(CMainFrame* frame, CPixelwharfDoc* document);
  ~CPixelwharfView() override;

  CPixelwharfDoc* GetDocument() const { return m_document; }
  // Replaces the display engine by one for the image at path; 1.
  virtual int OpenImageInView(const std::wstring& path);
  // Draws the view on screen and on the printed page.
  virtual void OnDraw(wxDC& dc);

  // The status-bar readout for a point in client coordinates.
  void UpdatePixelReadout(int px, int py);

  pw::ImageRenderer* GetRenderer() const { return m_renderer.get(); }
  bool IsFileValues() const { return m_fileValues; }
  bool IsYReversed() const { return m_yReversed; }
  int GetViewW() const { return m_W; }
  int GetViewH() const { return m_H; }

 protected:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnMouseWheel(wxMouseEvent& event);
  void OnMouseMove(wxMouseEvent& event);
  void OnLButtonDown(wxMouseEvent& event);
  void OnLButtonUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnLButtonDblClk(wxMouseEvent& event);
  void OnRButtonUp(wxMouseEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnFilePrint(wxCommandEvent& event);
  void OnFilePrintPreview(wxCommandEvent& event);
  void OnRealPixValue(wxCommandEvent& event);
  void OnYReverse(wxCommandEvent& event);
  void OnUpdateRealPixValue(wxUpdateUIEvent& event);
  void OnUpdateYReverse(wxUpdateUIEvent& event);

 private:
  class Host;
  void ShowEditMenu(const wxPoint& clientPoint);
  void OnRereadDone();

  CMainFrame* m_frame;
  CPixelwharfDoc* m_document;
  bool m_fileValues = false;  // readout shows the file's own band values
  bool m_yReversed = false;   // readout counts Y from the bottom row
  std::unique_ptr<Host> m_host;
  std::unique_ptr<pw::ImageRenderer> m_renderer;
  int m_H = -1, m_W = -1;     // client height, client width raised to a multiple of 4
  std::vector<uint8_t> m_dib; // W x H, 24-bit BGR, bottom-up
  bool m_opening = false;     // an opening is reading its overview
};
