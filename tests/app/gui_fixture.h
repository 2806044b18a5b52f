// A fixture that starts the real main window, as the program does, with
// its own settings folders, captured message boxes and scripted file
// dialogs, and stops it again the way the program ends.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/arrstr.h>
#include <wx/string.h>

#include "app/Dialogs.h"
#include "tests/app/ui_promptness.h"

class CMainFrame;

// The time that passed since this clock was made, leaving out only the
// time a loaded machine kept the UI thread from a processor: how long the
// program made a person wait, whether its UI thread waited on something
// (asleep, on a lock, another thread, a timeout, the disk) or computed. A
// window frozen for seconds shows here either way; a busy machine alone
// does not. Made and read on the UI thread.
class UiThreadClock {
 public:
  UiThreadClock();
  std::chrono::milliseconds Elapsed() const;

 private:
  std::chrono::steady_clock::time_point wall_;
  std::chrono::nanoseconds queued_;
};

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Start-up with these command-line arguments; the frame, or null.
  CMainFrame* Start(const wxArrayString& args = {});
  // Ends the program as the given way does: "exit" (the 退出 command),
  // "close" (the window's close request) or "sigterm"/"sigint".
  void Stop(const std::string& how = "exit");
  bool Running() const;
  // Lets the window system deliver what is pending.
  static void Pump(int rounds = 10);
  // Lets the window system deliver events until done() holds, or until a
  // deadline meant for a loaded machine (a holding condition ends the wait
  // at once). Whether it held.
  static bool WaitFor(const std::function<bool()>& done, int seconds = 60);

  std::string IniPath() const;
  void WriteIni(const std::string& selSection) const;  // "[SEL_INDEX]\nCAT_INDEX = 1\n"
  std::string ReadIni() const;
  // The integer stored under a key of the settings file, or the fallback.
  long IniValue(const std::string& key, long fallback = -999) const;
  // The look stored in the window system's settings, or -1.
  long StoredLook() const;
  void StoreLook(long look) const;
  // A file in this test's folder with the given bytes.
  std::string MakeFile(const std::string& name, const std::string& bytes = "data") const;
  // Saves a picture of the main window to the test artefacts.
  void Screenshot(const std::string& name) const;

  CMainFrame* frame = nullptr;
  std::string folder;                      // this test's own folder
  std::vector<wxString> messages;          // captured message boxes
  std::vector<pw::FileDialogRequest> dialogs;  // file dialogs asked for
  std::vector<std::wstring> dialogAnswers;     // answers, in order; empty: cancel
};
