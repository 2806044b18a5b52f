// The viewer's document: the path of the open image, opening images (from
// the ribbon, a double-click in the view, a dropped file or the command
// line) and the 8-bit conversion of the open image.
#pragma once
#include <string>

#include <wx/event.h>

#include "raster/EightBitConversion.h"

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
  // Starts opening an image for viewing; false when the path is no
  // readable file. The reading goes on off the UI thread; how it ended
  // comes to OnImageOpened.
  virtual bool OnOpenDocument(const std::wstring& path);

  enum class OpenOutcome { Opened, Failed, Cancelled };
  // The view's report on an opening it was given: the path becomes the
  // document's only once its image shows; a file without a raster says so
  // as a missing one does.
  // `reason`: why a failed opening failed, when the reader said.
  void OnImageOpened(const std::wstring& path, OpenOutcome outcome,
                     const std::wstring& reason = {});
  const std::wstring& GetPath() const { return m_path; }

  // Writes an 8-bit copy of the open image to a file chosen in a save
  // dialog that offers "<name>_8.tif".
  void ConvertTo8Bit();
  // Closes the conversion's files and frees its block buffers.
  void ReleaseImageBuffers();

 protected:
  void OnOpenImage(wxCommandEvent& event);
  void OnOpenWithPxImage(wxCommandEvent& event);
  void OnConvertTo8Bit(wxCommandEvent& event);
  void OnUpdateCvt2Eight(wxUpdateUIEvent& event);

  CMainFrame* m_frame = nullptr;
  CPixelwharfView* m_view = nullptr;
  std::wstring m_path;
  // Rows per block, block count, the input's sizes, the block buffers and
  // the input and output files: alive only while a conversion runs.
  pw::EightBitConversion m_conversion;
};
