// The viewer's document: the path of the open image and the commands on it.
// For now it carries only what the main window needs (open a path, the
// commands routed to it); the viewer fills in the image work.
#pragma once
#include <string>

#include <wx/event.h>

class CMainFrame;
class CPixelwharfView;

class CPixelwharfDoc : public wxEvtHandler {
 public:
  CPixelwharfDoc();
  ~CPixelwharfDoc() override;

  void SetFrame(CMainFrame* frame) { m_frame = frame; }
  void SetView(CPixelwharfView* view) { m_view = view; }
  CPixelwharfView* GetFirstView() const { return m_view; }

  // An empty document; the open image stays on screen.
  virtual bool OnNewDocument();
  // Opens an image for viewing; false when the file cannot be read.
  virtual bool OnOpenDocument(const std::wstring& path);
  const std::wstring& GetPath() const { return m_path; }

 protected:
  void OnOpenImage(wxCommandEvent& event);
  void OnOpenWithPxImage(wxCommandEvent& event);
  void OnConvertTo8Bit(wxCommandEvent& event);
  void OnUpdateCvt2Eight(wxUpdateUIEvent& event);

  CMainFrame* m_frame = nullptr;
  CPixelwharfView* m_view = nullptr;
  std::wstring m_path;
};
