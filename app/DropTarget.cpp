#include "app/DropTarget.h"

#include <wx/dnd.h>

#include "app/MainFrame.h"
#include "app/PixelwharfView.h"

namespace {
class FileDropTarget : public wxFileDropTarget {
 public:
  explicit FileDropTarget(CMainFrame* frame) : m_frame(frame) {}
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override {
    m_frame->OnDropFiles(files);
    return true;
  }

 private:
  CMainFrame* m_frame;
};
}  // namespace

void AcceptDroppedFiles(CMainFrame* frame) {
  // The view and the frame's own area (ribbon, status bar) both take drops.
  frame->SetDropTarget(new FileDropTarget(frame));
  if (frame->GetActiveView()) frame->GetActiveView()->SetDropTarget(new FileDropTarget(frame));
}
