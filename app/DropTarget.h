// Files dropped on the main window open in the viewer.
#pragma once

#include <wx/dnd.h>

class CMainFrame;

void AcceptDroppedFiles(CMainFrame* frame);

namespace pw {

// A drop target for files that refuses every drop while a tool's run goes
// on. The window still hears the window system's drag messages while a run
// waits for its workers, but a dropped file's names would only arrive after
// the run, to act on a window the user has long left.
class FileDropTargetOutsideRuns : public wxFileDropTarget {
 public:
  wxDragResult OnEnter(wxCoord x, wxCoord y, wxDragResult def) override;
  wxDragResult OnDragOver(wxCoord x, wxCoord y, wxDragResult def) override;
  bool OnDrop(wxCoord x, wxCoord y) override;
};

}  // namespace pw
