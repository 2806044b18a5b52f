// The viewer's view: the client area under the ribbon, where the open image
// is drawn and over which the tool panels lie. It owns the display engine
// and the window's 24-bit bottom-up bitmap, routes the mouse to the engine
// and writes the position and value of the pixel under the mouse into the
// status bar.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
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
  // Starts replacing the display engine by one for the image at path; 1.
  // The file is read on a thread of its own while the window stays live;
  // the document hears how it ended (OnImageOpened). An opening still in
  // progress is cancelled first.
  virtual int OpenImageInView(const std::wstring& path);
  // Stops an opening in progress; the image shown before stays. True when
  // there was one.
  bool CancelOpening();
  bool IsOpening() const { return m_opening != nullptr; }

  // Tests: called on the opening thread at known points, by name: "start"
  // (nothing read yet; where the file's own opening takes place), "progress"
  // (after each report of the reading's progress has been posted) and
  // "made" (the engine built, before it is handed over). The hook may hold
  // the thread there until the test lets it go, or throw at "start" as a
  // failing opening would. Empty: nothing is called.
  static void SetOpeningTestHook(std::function<void(const std::string& point)> hook);
  // Draws the view on screen and on the printed page.
  virtual void OnDraw(wxDC& dc);

  // The status-bar readout for a point in client coordinates. The
  // displayed colour is shown at once; the file's own samples (and a
  // palette image's index) are read on the engine's sample reader and
  // shown when they arrive.
  void UpdatePixelReadout(int px, int py);
  // A readout asked the sample reader and its answer has not been shown.
  bool IsReadoutPending() const { return m_readoutPending; }

  pw::ImageRenderer* GetRenderer() const { return m_renderer.get(); }
  bool IsFileValues() const { return m_fileValues; }
  bool IsYReversed() const { return m_yReversed; }
  int GetViewW() const { return m_W; }
  int GetViewH() const { return m_H; }

  // Shows the view's news about the image in the first pane again, or, in
  // the tools layout, gives that pane its own text back.
  void RefreshImageState();

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
  void OnKeyDown(wxKeyEvent& event);

 private:
  class Host;
  struct Opening;
  struct Link;
  void ShowEditMenu(const wxPoint& clientPoint);
  void OnRereadDone();
  // The sample reader's answer for the readout request `tag`.
  void OnSampleText(uint64_t tag, const std::string& text);
  // Writes the X/Y and value panes of the readout; nothing for no values.
  void ShowReadout(const wxString& xy, const std::string& values);
  // The view's text in the status bar's first pane: the shown image is
  // damaged, or a region of it could not be read; empty for neither.
  void ShowImageState(const wxString& text);
  // The news about the image shown: damaged, a region unreadable, or none.
  wxString ImageStateText() const;
  void OnRereadFailed(const std::string& reason);
  void OnOpenProgress(uint64_t id, int position);
  void OnOpenDone(uint64_t id);
  // Cancels the opening thread and forgets it: it runs out on its own and
  // drops what it made; nothing is reported and nothing waits for it.
  void StopOpening();
  // Stops an engine's worker and frees the engine on a thread of its own:
  // a re-read in progress may be inside a read that cannot be stopped.
  static void DisposeRenderer(std::unique_ptr<pw::ImageRenderer> renderer);

  CMainFrame* m_frame;
  CPixelwharfDoc* m_document;
  bool m_fileValues = false;  // readout shows the file's own band values
  bool m_yReversed = false;   // readout counts Y from the bottom row
  std::unique_ptr<Host> m_host;
  std::unique_ptr<pw::ImageRenderer> m_renderer;
  int m_H = -1, m_W = -1;     // client height, client width raised to a multiple of 4
  std::vector<uint8_t> m_dib; // W x H, 24-bit BGR, bottom-up
  // What the worker threads reach the view through; cut when it goes.
  std::shared_ptr<Link> m_link;
  std::shared_ptr<Opening> m_opening;  // an opening reading its overview
  uint64_t m_lastOpening = 0;
  // The readout's latest request to the sample reader, and the X/Y text
  // shown with its answer.
  uint64_t m_readoutTag = 0;
  bool m_readoutPending = false;
  wxString m_statusCovered;  // the first pane's text under the view's news
  wxString m_pendingReadoutXY;
};
