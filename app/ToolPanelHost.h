// The host of the five tool panels: creates each panel on its first use
// over the view's client area, keeps it until the main window goes, shows
// one at a time, and writes the status bar's hint texts and progress bar.
#pragma once
#include <string>

class CMainFrame;
class CPixelwharfView;
class CClassifyFiles;
class CResizePictures;
class CCloneExif;
class CConvertor;
class CMergeImgs;
class wxWindow;
class wxSizeEvent;

struct ToolPanelHost {
  CMainFrame* frame = nullptr;     // set at the end of start-up
  CPixelwharfView* view = nullptr; // the panels' parent; set with frame
  CClassifyFiles* classifyFiles = nullptr;
  CResizePictures* resizePictures = nullptr;
  CCloneExif* cloneExif = nullptr;
  CConvertor* convertor = nullptr;
  CMergeImgs* mergeImgs = nullptr;
  // The view whose size the panels follow, once the first panel exists.
  CPixelwharfView* followedView = nullptr;

  int ShowClassifyFiles();
  int ShowResizePictures();
  int ShowCloneExif();
  int ShowConvertor();
  int ShowMergeImgs();

  // Text of extended status pane 0 or 1; nothing when the pane is missing.
  int SetStatusText(const std::wstring& text, int pane);
  // Progress bar to range 0..100 at 0, or to 100.
  int ResetProgress();
  int CompleteProgress();

  // Hides every panel that exists, in tool order.
  void HidePanels();
  // Deletes every panel that exists and clears its pointer.
  void DestroyPanels();

  // Keeps every panel the size of the view's client area from now on.
  void FollowViewSize();
  void OnViewSize(wxSizeEvent& event);

  // The panel of a tool (0 to 4) when it exists, else null.
  wxWindow* GetPanel(int tool) const;
};
