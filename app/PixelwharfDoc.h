// The viewer's document: the path of the open image, opening images (from
// the ribbon, a double-click in the view, a dropped file or the command
// line) and the 8-bit conversion of the open image.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
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
  // dialog that offers "<name>_8.tif". The copy is made on a thread of its
  // own: the gauge follows it, the window stays usable, and how it ended
  // comes as a message once it has.
  void ConvertTo8Bit();
  bool IsConverting() const { return m_conversionJob != nullptr; }
  // Stops a conversion in progress (Esc); nothing of its output remains and
  // nothing is reported. True when there was one.
  bool CancelConversion();

  // What ends the program when it closes while a conversion is inside a
  // call that cannot be interrupted: its partial output is removed first,
  // and the thread is not waited for. Tests replace it; empty puts the
  // program's own back.
  static void SetUnfinishedConversionExit(std::function<void()> exit);

 protected:
  void OnOpenImage(wxCommandEvent& event);
  void OnOpenWithPxImage(wxCommandEvent& event);
  void OnConvertTo8Bit(wxCommandEvent& event);
  void OnUpdateCvt2Eight(wxUpdateUIEvent& event);
  void OnConversionProgress(uint64_t id, int rows, int height);
  void OnConversionDone(uint64_t id);
  // Cancels a conversion and waits a little for it; one that does not end
  // in that time has its output removed and the program ends without it.
  void AbandonConversion();

  CMainFrame* m_frame = nullptr;
  CPixelwharfView* m_view = nullptr;
  std::wstring m_path;
  // The conversion running on its thread, with its conversion object (rows
  // per block, block count, the input's sizes, the block buffers, the input
  // and output files); null when none runs.
  struct ConversionJob;
  std::shared_ptr<ConversionJob> m_conversionJob;
  uint64_t m_lastConversion = 0;
};
