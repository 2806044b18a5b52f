// Files dropped on the main window open in the viewer.
#pragma once

#include <wx/dnd.h>

class CMainFrame;

void AcceptDroppedFiles(CMainFrame* frame);

namespace pw {

// A drop target for files that refuses every drop while a tool's run goes
// on: the window then delivers what the window system says (a drop among
// it), but the files' names would only arrive once the run has ended, to
// act on a window the user has long left.
class FileDropTargetOutsideRuns : public wxFileDropTarget {
 public:
  wxDragResult OnEnter(wxCoord x, wxCoord y, wxDragResult def) override;
  wxDragResult OnDragOver(wxCoord x, wxCoord y, wxDragResult def) override;
  bool OnDrop(wxCoord x, wxCoord y) override;
};

}  // namespace pw
