#include "app/DropTarget.h"

#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfView.h"

namespace pw {

// A run delivers the window's events only while it waits for its workers.
wxDragResult FileDropTargetOutsideRuns::OnEnter(wxCoord x, wxCoord y, wxDragResult def) {
  return PwApp().InBatchWait() ? wxDragNone : wxFileDropTarget::OnEnter(x, y, def);
}

wxDragResult FileDropTargetOutsideRuns::OnDragOver(wxCoord x, wxCoord y, wxDragResult def) {
  return PwApp().InBatchWait() ? wxDragNone : wxFileDropTarget::OnDragOver(x, y, def);
}

bool FileDropTargetOutsideRuns::OnDrop(wxCoord x, wxCoord y) {
  return !PwApp().InBatchWait() && wxFileDropTarget::OnDrop(x, y);
}

}  // namespace pw

namespace {
class FileDropTarget : public pw::FileDropTargetOutsideRuns {
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
