// The application object: start-up, shutdown, the settings store of the
// window system (look, window placement, recent files) and the commands
// that belong to the application rather than to a window.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/arrstr.h>
#include <wx/timer.h>

class CMainFrame;
class CPixelwharfDoc;
class wxFileHistory;

class CPixelwharfApp : public wxApp {
 public:
  // The vendor name the window system's own settings carry.
  static const char* const kRegistryKey;

  CPixelwharfApp();
  ~CPixelwharfApp() override;

  // Chooses Simplified Chinese for the toolkit's own texts before the
  // toolkit starts, then starts it.
  bool Initialize(int& argc, wxChar** argv) override;
  bool OnInit() override;
  int OnExit() override;

  // The start-up steps; args are the command-line arguments without the
  // program's name. False when the main window cannot be made.
  bool InitInstance(const wxArrayString& args);
  // The exit steps after the main window is gone.
  int ExitInstance();

  void OnAppAbout();
  void OnFilePrintSetup();

  CMainFrame* GetMainFrame() const { return m_frame; }
  CPixelwharfDoc* GetDocument() const { return m_document.get(); }
  wxFileHistory* GetFileHistory() const { return m_fileHistory.get(); }
  void SaveFileHistory();
  // True while a batch run on this thread lets the window handle events:
  // the tool handler that started it is still on the stack.
  bool InBatchWait() const { return m_batchWaitDepth > 0; }
  // Lets the window paint and take progress while long work runs on this
  // thread (clicks and keys wait until it ends); counts as a batch wait.
  void PumpWhileBusy();

  // The command-line arguments after the program's name, as bytes; main()
  // fills them before the toolkit starts.
  static std::vector<std::string>& RawArguments();

  // The file that keeps the look, the window's placement and the recent
  // files: beside the settings file; empty when there is no such folder.
  static std::string WindowStateFilePath();

 private:
  void OpenSettingsStore();
  // The file named on the command line opens once the main window is on
  // screen (or after a while without that).
  void WatchFrameMapping();
  void OpenWhenMapped(const wxString& file);
  void OpenStartFile();
  void InstallSignalHandlers();
  void RemoveSignalHandlers();

  CMainFrame* m_frame = nullptr;
  std::unique_ptr<CPixelwharfDoc> m_document;
  std::unique_ptr<wxFileHistory> m_fileHistory;
  unsigned m_signalSources[2] = {0, 0};
  int m_batchWaitDepth = 0;
  wxString m_startFile;  // still to open
  bool m_frameMapped = false;
  wxTimer m_mapWait;
  int m_mapWaited = 0;  // ms
};

// The running application object.
CPixelwharfApp& PwApp();
