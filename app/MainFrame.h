// The main window: the ribbon with its two working categories, the status
// bar, the two window layouts, the looks and the tool host. It owns the
// settings record, the tool host and the progress display for its life.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <wx/frame.h>
#include <wx/timer.h>

#include "app/ToolPanelHost.h"
#include "app/panels/ToolPanelOwner.h"
#include "core/ToolSettings.h"

class wxBitmapButton;
class wxButton;
class wxMenu;
class wxPanel;
class wxPreviewFrame;
class wxPrintout;
class wxPrintPreviewBase;
class wxRibbonBar;
class wxRibbonBarEvent;
class wxRibbonButtonBar;
class wxRibbonButtonBarEvent;
class CPixelwharfDoc;
class CPixelwharfView;
class CTaskBarProgress;

namespace pw {
class CRibbonStatusBar;
class StatusElement;
class StatusProgressBar;
}  // namespace pw

class CMainFrame : public wxFrame, public pw::ToolPanelOwner {
 public:
  // The settings record and the look are read here; OnCreate builds the
  // window.
  CMainFrame();
  ~CMainFrame() override;

  // Creates the window and runs the creation steps: look, ribbon, status
  // bar, settings file. False when the window cannot be made.
  bool Create(CPixelwharfDoc* document);
  CPixelwharfView* GetActiveView() const { return m_view; }
  CPixelwharfDoc* GetDocument() const { return m_document; }

  // Window layouts.
  // Puts the window where it belongs before it is first shown: the viewer
  // where it was left (maximised if it was), any other layout centred at
  // 800 x 600.
  void PlaceForStart(bool viewer);
  // Opens a file once the window has its final size, so the picture is
  // fitted to that size (a maximised start gets its size from the window
  // manager after the window is shown).
  void OpenWhenPlaced(const wxString& path);
  // The viewer layout's rectangle when not maximised, as saved at exit.
  wxRect GetNormalRect() const { return m_normalRect; }
  wxRect CenterFixedFrame();
  int RestoreFrameStyle();
  int ReopenLastTool();
  int ActivateRibbonCategory(int category);
  int OnRibbonCategoryChanged();
  // The ribbon's active category: 1 or 2.
  int GetActiveCategory() const;
  bool IsFixedLayout() const { return m_fixedLayout; }
  // The fixed layout's size while it holds.
  wxSize GetMinSize() const override;
  wxSize GetMaxSize() const override;

  // Looks.
  void OnApplicationLook(int id);
  bool IsWindows7Look() const { return m_windows7Look; }
  wxRibbonBar* GetRibbonBar() const { return m_ribbon; }

  // Commands: ribbon buttons, menu items and the routes through view and
  // document. DoCommand runs one as if the user had chosen it.
  bool DoCommand(int id);
  // The state a command shows: false when it cannot run now; checked
  // for check and radio commands that are on.
  void QueryCommandState(int id, bool& enabled, bool& checked);
  // The 文件 drop-down's entries, with the recent files.
  void BuildFileMenu(wxMenu& menu);
  // Brings every ribbon and quick-access button up to date (run at idle).
  void RefreshCommandStates();
  // The state last given to a ribbon or quick-access button.
  bool IsCommandEnabled(int id) const;
  bool IsCommandChecked(int id) const;
  // The ribbon buttons that have no command (粘贴, 剪切, 复制, 全选), in
  // ribbon order.
  const std::vector<int>& InertCommands() const { return m_inertCommands; }

  // The five tool commands.
  void OnClassifyFiles() { ShowTool(0); }
  void OnResizeImages() { ShowTool(1); }
  void OnCloneExif() { ShowTool(2); }
  void OnConvertor() { ShowTool(3); }
  void OnMergeImgs() { ShowTool(4); }

  // Opens a file in the viewer through the document and lists it among
  // the recent files; shows the viewer category so the image is seen.
  bool OpenDocumentFile(const wxString& path);
  // The box for a file that cannot be opened (missing, or no raster in it);
  // the file leaves the recent list.
  void ReportOpenFailure(const wxString& fullPath, const wxString& reason = {});
  void OnDropFiles(const wxArrayString& files);

  // Progress and status bar, addressed as the rest of the program does.
  int CreateTaskbarProgress();
  CTaskBarProgress* GetTaskbarProgress() const { return m_progress.get(); }
  int ResetRibbonProgress(int range);
  pw::CRibbonStatusBar* GetRibbonStatusBar() const { return m_statusBar; }
  pw::StatusElement* GetStatusElement(int pos) const;
  pw::StatusElement* GetStatusExElement(int pos) const;
  pw::StatusProgressBar* GetProgressBar() const;

  // Print preview, started by the view; while it is shown the print
  // commands act on it.
  void ShowPrintPreview(wxPrintout* forPreview, wxPrintout* forPrinting);
  bool IsPrintPreviewActive() const { return m_preview != nullptr; }
  void OnFilePrint();
  void OnFilePrintPreview();

  // The settings file's path.
  std::string GetIniFilePath() const;

  // Saves the settings, releases the progress display and destroys the
  // panels, in that order; runs once, before the window goes.
  void Shutdown();
  bool IsShutDown() const { return m_shutDown; }
  // The window is where the start placed it (or the user has moved it).
  bool IsPlacementSettled() const { return m_placementSettled; }
  // True while a handler is still on the stack below the event being
  // handled: a modal dialog is up, or a batch run or a yield lets events
  // through. Closing then would pull the panels from under that handler.
  bool IsInsideNestedWork() const;

  // The settings record the program saves at exit, and the tool host.
  ToolSettings& Settings() { return m_settings; }
  const ToolSettings& Settings() const { return m_settings; }
  ToolPanelHost& ToolHost() { return m_toolHost; }
  const ToolPanelHost& ToolHost() const { return m_toolHost; }

  // What the tool panels use of the window (pw::ToolPanelOwner).
  const ToolSettings& PanelSettings() const override { return m_settings; }
  void StorePanelSettings(const ToolSettings& settings) override { m_settings = settings; }
  void SetPanelStatusText(const std::wstring& text, int pane) override;
  void ResetPanelProgress() override;
  void SetPanelProgress(int position) override;
  void CompletePanelProgress() override;
  CProgressInterface* RunProgress() override;
  void FlashForAttention() override { RequestUserAttention(); }

 protected:
  void DoSetSize(int x, int y, int width, int height, int sizeFlags) override;

 private:
  void BuildRibbon();
  void BuildStatusBar();
  void ApplyLookColours();
  void ShowTool(int tool);
  void ShowFileMenu();
  void ShowLookMenu();
  void PopupCommandMenu(wxMenu& menu, wxWindow* under);
  bool FrameCommand(int id);
  bool FrameCommandState(int id, bool& enabled, bool& checked);
  void ToggleStatusBar();
  void SaveWindowPlacement();
  void LoadWindowPlacement();
  void OnPlacementChanged(wxEvent& event);
  void SettleStartPlacement();
  void WatchStartPlacement();
  void PinFixedSize();
  void WatchFixedSize();
  void OpenWhenSized();
  void OpenPendingFile();
  void OnClose(wxCloseEvent& event);
  void OnIdle(wxIdleEvent& event);
  void OnRibbonButton(wxRibbonButtonBarEvent& event);
  void OnRibbonPageChanged(wxRibbonBarEvent& event);

  ToolPanelHost m_toolHost;
  std::unique_ptr<CTaskBarProgress> m_progress;
  ToolSettings m_settings;
  CPixelwharfDoc* m_document = nullptr;
  CPixelwharfView* m_view = nullptr;
  wxPanel* m_top = nullptr;           // file column, ribbon, look column
  wxRibbonBar* m_ribbon = nullptr;
  wxButton* m_fileButton = nullptr;
  wxButton* m_lookButton = nullptr;
  std::map<int, wxWindow*> m_quickButtons;
  std::map<int, wxRibbonButtonBar*> m_ribbonButtons;  // command id -> its button bar
  std::map<int, std::pair<bool, bool>> m_commandStates;  // id -> (enabled, checked)
  std::vector<int> m_inertCommands;
  pw::CRibbonStatusBar* m_statusBar = nullptr;
  wxPreviewFrame* m_preview = nullptr;
  wxPrintPreviewBase* m_printPreview = nullptr;
  bool m_windows7Look = false;
  bool m_fixedLayout = false;
  // The viewer layout's placement: its last rectangle when neither
  // maximised nor minimised, and whether it was maximised.
  wxRect m_normalRect;
  bool m_viewerMaximized = false;
  // The rectangle asked for at start, until the window manager has framed
  // the window and it holds.
  wxRect m_startPlacement;
  bool m_placementSettled = false;  // the start placement was made good or replaced
  // A maximised start: the window maps at its normal rectangle and is
  // maximised once the window manager has it on screen, so a restore gives
  // that rectangle back. Until then the viewer counts as maximised.
  bool m_maximiseWhenPlaced = false;
  wxTimer m_startTimer;  // looks for the framed window until the start placement is made good
  int m_startChecks = 0;
  bool m_settingPlacement = false;  // the placement code itself is sizing the window
  // The content size the fixed layout last pinned.
  wxSize m_pinnedContent = wxDefaultSize;
  wxTimer m_pinTimer;
  // A file named at start, opened once the window has its final size, and
  // the limit on the wait for it.
  wxString m_pendingOpen;
  wxTimer m_openTimer;
  bool m_shutDown = false;
  // A close asked for while IsInsideNestedWork(): done at the next idle time
  // outside it. Forced (the session ends the program) also ends our message
  // boxes as they come up, so nothing waits for a user who is gone.
  bool m_closePending = false;
  bool m_closeForced = false;
};
