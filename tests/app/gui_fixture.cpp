#include "gui_fixture.h"
#include "tests/needed_programs.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/config.h>
#include <wx/utils.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

void GuiTest::SetUp() {
  static int counter = 0;
  // A test's private session bus drops DISPLAY from the environment; the
  // screenshot tools need it.
  static const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  if (!std::getenv("DISPLAY") && !display.empty()) setenv("DISPLAY", display.c_str(), 1);
  const char* root = std::getenv("PW_GUI_TEST_ROOT");
  ASSERT_NE(root, nullptr) << "run the GUI tests through their own program, not inside another";
  folder = std::string(root) + "/t" + std::to_string(++counter);
  fs::create_directories(folder + "/pixelwharf");
  fs::create_directories(folder + "/config");
  setenv("PIXELWHARF_HOME", (folder + "/pixelwharf").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
  pw::SetMessageBoxHook([this](const wxString& text, long) {
    messages.push_back(text);
    return wxOK;
  });
  pw::SetFileDialogHook([this](const pw::FileDialogRequest& request) {
    dialogs.push_back(request);
    if (dialogAnswers.empty()) return std::wstring();
    std::wstring answer = dialogAnswers.front();
    dialogAnswers.erase(dialogAnswers.begin());
    return answer;
  });
}

void GuiTest::TearDown() {
  if (Running()) Stop();
  pw::SetMessageBoxHook({});
  pw::SetFileDialogHook({});
}

CMainFrame* GuiTest::Start(const wxArrayString& args) {
  if (!PwApp().InitInstance(args)) return nullptr;
  frame = PwApp().GetMainFrame();
  Pump();
  return frame;
}

bool GuiTest::Running() const { return PwApp().GetMainFrame() != nullptr; }

void GuiTest::Stop(const std::string& how) {
  CMainFrame* f = PwApp().GetMainFrame();
  if (f) {
    if (how == "exit") {
      f->DoCommand(pw::cmd::ID_APP_EXIT);
    } else if (how == "close") {
      f->Close();
    } else {
      std::raise(how == "sigint" ? SIGINT : SIGTERM);
    }
    // The frame goes at the idle time after its close: however late that
    // comes on a loaded machine, the program ends only once it has gone.
    EXPECT_TRUE(WaitFor([] { return PwApp().GetMainFrame() == nullptr; }))
        << "the main window was still there a minute after \"" << how << "\"";
  }
  PwApp().ExitInstance();
  frame = nullptr;
}

bool GuiTest::WaitFor(const std::function<bool()>& done, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return done();
    Pump(1);
  }
  return true;
}

UiThreadClock::UiThreadClock() : wall_(std::chrono::steady_clock::now()), queued_(pwtest::RunQueueTime()) {}

std::chrono::milliseconds UiThreadClock::Elapsed() const {
  const auto passed = (std::chrono::steady_clock::now() - wall_) - (pwtest::RunQueueTime() - queued_);
  return std::chrono::duration_cast<std::chrono::milliseconds>(passed);
}

void GuiTest::Pump(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    wxTheApp->Yield(true);
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
    wxMilliSleep(5);
  }
}

std::string GuiTest::IniPath() const { return pw::SettingsFilePath(); }

void GuiTest::WriteIni(const std::string& content) const {
  std::ofstream(IniPath(), std::ios::binary) << content;
}

std::string GuiTest::ReadIni() const {
  std::ifstream in(IniPath(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

long GuiTest::IniValue(const std::string& key, long fallback) const {
  std::istringstream in(ReadIni());
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + " = ", 0) == 0) return std::stol(line.substr(key.size() + 3));
  }
  return fallback;
}

long GuiTest::StoredLook() const {
  wxConfigBase* config = wxConfigBase::Get(false);
  if (config) config->Flush();
  // Read the file itself, as the next start would.
  std::ifstream in(CPixelwharfApp::WindowStateFilePath());
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("ApplicationLook=", 0) == 0) return std::stol(line.substr(16));
  return -1;
}

void GuiTest::StoreLook(long look) const {
  std::ofstream(CPixelwharfApp::WindowStateFilePath()) << "ApplicationLook=" << look << "\n";
}

std::string GuiTest::MakeFile(const std::string& name, const std::string& bytes) const {
  std::string path = folder + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

void GuiTest::Screenshot(const std::string& name) const {
  CMainFrame* f = PwApp().GetMainFrame();
  if (!f) return;
  f->Raise();
  f->Refresh();
  f->Update();
  for (int i = 0; i < 30; ++i) {
    Pump(1);
    wxMilliSleep(15);  // the toolkit paints on its frame clock
  }
  // ImageMagick reads what the X server shows, which is what a person would see.
  wxRect rect = f->GetScreenRect();
  fs::create_directories(PW_TEST_ARTIFACTS);
  std::string out = std::string(PW_TEST_ARTIFACTS) + "/" + name + ".png";
  std::string cmd = "import-im6.q16 -window root -crop " + std::to_string(rect.width) + "x" +
                    std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                    std::to_string(rect.y) + " +repage '" + out + "'";
  if (pwtest::CheckProgramOf(cmd)) {
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
}
