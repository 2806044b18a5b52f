// The main window as the window manager (openbox) handles it: where it is
// placed, what maximise and restore give back, the fixed tools layout, and
// the first tool panel whole above the status bar.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gtk/gtk.h>
#include <wx/button.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/utils.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/NativeWindow.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "app/ToolPanelHost.h"
#include "window_test.h"

using namespace pw::cmd;

namespace {

// The outside programs the tests below ask about windows they do not own.
std::string MissingProgram() {
  for (const char* program : {"xprop", "xwininfo", "wmctrl"})
    if (std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) != 0)
      return std::string(program) + " missing: run scripts/setup";
  return {};
}

// The program itself, started as a user starts it, with its settings in a
// folder of its own; seen and driven through the window manager only.
class ProgramWindow {
 public:
  explicit ProgramWindow(const std::string& home) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("HOME", home.c_str(), 1);
      setenv("PIXELWHARF_HOME", home.c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
      execl(PW_PIXELWHARF_EXE, "pixelwharf", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~ProgramWindow() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits (up to a generous deadline) until the condition holds.
  static bool WaitUntil(const std::function<bool()>& done, int seconds = 30) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return true;
  }

  // The window is listed by the window manager, mapped and framed.
  bool WaitFramed() {
    return WaitUntil([this] {
      if (!id_) {
        std::istringstream list(Output("wmctrl -lp 2>/dev/null"));
        std::string line;
        while (std::getline(list, line)) {
          std::istringstream fields(line);
          std::string id, desktop;
          long pid = 0;
          fields >> id >> desktop >> pid;
          if (pid == pid_) id_ = std::stoul(id, nullptr, 16);
        }
      }
      return id_ && Output(Command("xwininfo") + " | grep 'Map State'").find("IsViewable") != std::string::npos &&
             Output(Command("xprop") + " _NET_FRAME_EXTENTS").find(" = ") != std::string::npos;
    });
  }

  // The window with the window manager's frame, and its content's size.
  wxRect Outer(wxSize* content = nullptr) const {
    const std::string info = Output(Command("xwininfo"));
    auto value = [&](const std::string& key) {
      const size_t at = info.find(key);
      return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + key.size());
    };
    const int x = value("Absolute upper-left X:"), y = value("Absolute upper-left Y:");
    const int width = value("Width:"), height = value("Height:");
    const std::string extents = Output(Command("xprop") + " _NET_FRAME_EXTENTS");
    int left = 0, right = 0, top = 0, bottom = 0;
    const size_t at = extents.find(" = ");
    if (at != std::string::npos) std::sscanf(extents.c_str() + at + 3, "%d, %d, %d, %d", &left, &right, &top, &bottom);
    if (content) *content = wxSize(width, height);
    return wxRect(x - left, y - top, width + left + right, height + top + bottom);
  }

  bool Maximised() const {
    const std::string state = Output(Command("xprop") + " _NET_WM_STATE");
    return state.find("_NET_WM_STATE_MAXIMIZED_VERT") != std::string::npos &&
           state.find("_NET_WM_STATE_MAXIMIZED_HORZ") != std::string::npos;
  }
  std::string Hints() const { return Output(Command("xprop") + " WM_NORMAL_HINTS _NET_WM_ALLOWED_ACTIONS"); }

  // Asks the window manager, as its title-bar buttons do.
  void WindowManager(const std::string& wmctrlAction) const {
    std::system(("wmctrl -i -r " + std::to_string(id_) + " " + wmctrlAction).c_str());
  }
  void Close() const { std::system(("wmctrl -i -c " + std::to_string(id_)).c_str()); }
  void Terminate() const { kill(pid_, SIGTERM); }

  // The program has ended by itself, with success.
  bool Ended() {
    int status = 0;
    ended_ = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    return ended_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  std::string Command(const std::string& program) const {
    return program + " -id " + std::to_string(id_) + " 2>/dev/null";
  }
  pid_t pid_ = -1;
  unsigned long id_ = 0;
  bool ended_ = false;
};

}  // namespace

struct RestoreCase {
  const char* name;
  bool fromTools;    // the first run started in the tools layout
  bool placedFirst;  // the first run left a normal rectangle before maximising
};

class MaximisedRestart : public WindowTest, public ::testing::WithParamInterface<RestoreCase> {};

// Maximised at exit, maximised at the next start, and the restore button
// gives back the rectangle the window had before it was maximised.
TEST_P(MaximisedRestart, RestoreGivesTheSavedNormalRectangle) {
  if (!GetParam().fromTools) WriteIni(kViewer);
  ASSERT_NE(Start(), nullptr);
  // Framed at its start size (the frame is known only then).
  ASSERT_TRUE(WaitUntil([&] { return OnScreen(frame).width >= 400 && OnScreen(frame).height >= 300; }));
  Settle();
  if (GetParam().fromTools) {
    frame->ActivateRibbonCategory(1);
    // The window manager gives the sizing border back, and its frame grows.
    ASSERT_TRUE(WaitUntil([&] {
      return Xprop(frame, "_NET_WM_ALLOWED_ACTIONS").find("_NET_WM_ACTION_RESIZE") != std::string::npos;
    }));
    Settle();
  }
  if (GetParam().placedFirst) {
    frame->SetSize(wxRect(140, 110, 900, 650));
    ASSERT_TRUE(WaitUntil([&] {
      const wxRect seen = OnScreen(frame);
      return std::abs(seen.width - 900) <= 8 && std::abs(seen.height - 650) <= 8;
    }));
    Settle();
  }
  wxSize normalContent;  // the frame's own border may still change with its functions
  const wxRect normal = OnScreen(frame, &normalContent);
  const wxRect kept = frame->GetRect();  // as the program has it
  ASSERT_GE(normal.width, 400);
  ASSERT_GE(normal.height, 300);
  frame->Maximize(true);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsMaximized() && OnScreen(frame).width > normal.width; }));
  Settle();
  Stop();

  ASSERT_NE(Start(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsMaximized(); })) << "the next start is maximised";
  Settle();
  EXPECT_GT(OnScreen(frame).width, normal.width);
  frame->Maximize(false);  // what the title bar's restore button asks of the window manager
  ASSERT_TRUE(WaitUntil([&] { return !frame->IsMaximized() && OnScreen(frame).width < ScreenArea().width; }));
  Settle();
  wxSize content;
  EXPECT_EQ(OnScreen(frame, &content).GetPosition(), normal.GetPosition());
  EXPECT_EQ(content, normalContent);
  Stop();

  // What is saved now is that rectangle again, never a collapsed one.
  std::ifstream state(CPixelwharfApp::WindowStateFilePath());
  std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
  // (The window manager's border may have grown by its sizing handle since.)
  auto stored = [&](const std::string& key) {
    const size_t at = text.find("\n" + key + "=");
    return at == std::string::npos ? -1 : std::stoi(text.substr(at + key.size() + 2));
  };
  EXPECT_NEAR(stored("Width"), kept.width, 8) << text;
  EXPECT_NEAR(stored("Height"), kept.height, 8) << text;
  EXPECT_NEAR(stored("X"), kept.x, 8) << text;
  EXPECT_NEAR(stored("Y"), kept.y, 8) << text;
}

// The same sequence with the program itself, as a user has it: the viewer
// placed, maximised by the window manager, closed by its close button,
// started again (maximised) and restored by the window manager, which must
// give back the rectangle the window had, never a sliver.
TEST(ProgramPlacement, RestoreAfterAMaximisedStartGivesTheNormalRectangle) {
  const std::string missing = MissingProgram();
  ASSERT_TRUE(missing.empty()) << missing;
  const std::string home = std::string(std::getenv("PW_GUI_TEST_ROOT")) + "/program-restore";
  std::filesystem::create_directories(home);
  std::ofstream(home + "/pixelwharf.ini", std::ios::binary) << kViewer;
  std::ofstream(home + "/pixelwharf.window.ini")
      << "[Workspace]\nX=150\nY=120\nWidth=900\nHeight=650\nMaximized=0\n";

  wxRect normal;
  wxSize normalContent;
  {
    ProgramWindow program(home);
    ASSERT_TRUE(program.WaitFramed()) << "the window never showed";
    // Where the program put it, once the window manager has it there.
    ASSERT_TRUE(ProgramWindow::WaitUntil([&] {
      const wxRect seen = program.Outer();
      return std::abs(seen.x - 150) <= 8 && std::abs(seen.y - 120) <= 8 && std::abs(seen.width - 900) <= 8 &&
             std::abs(seen.height - 650) <= 8;
    })) << Describe(program.Outer());
    normal = program.Outer(&normalContent);
    program.WindowManager("-b add,maximized_vert,maximized_horz");
    ASSERT_TRUE(ProgramWindow::WaitUntil([&] {
      wxSize content;
      program.Outer(&content);
      return program.Maximised() && content.x > normalContent.x;
    }));
    program.Close();
    ASSERT_TRUE(program.Ended());
  }
  {
    ProgramWindow program(home);
    ASSERT_TRUE(program.WaitFramed()) << "the window never showed";
    ASSERT_TRUE(ProgramWindow::WaitUntil([&] {
      wxSize content;
      program.Outer(&content);
      return program.Maximised() && content.x > normalContent.x;
    })) << "the next start is maximised";
    program.WindowManager("-b remove,maximized_vert,maximized_horz");
    wxSize content;
    const bool restored = ProgramWindow::WaitUntil([&] {
      const wxRect seen = program.Outer(&content);
      return !program.Maximised() && content == normalContent && seen.GetPosition() == normal.GetPosition();
    });
    EXPECT_TRUE(restored) << "restored to " << Describe(program.Outer(&content)) << " (content " << content.x << "x"
                          << content.y << "), had " << Describe(normal);
    program.Terminate();
    EXPECT_TRUE(program.Ended());
  }
}

// Every fresh start (a first start, no window state) shows the tools
// layout as a window of 800 x 600 with the window manager's frame, centred
// on the screen, and keeps it so. PW_FRESH_STARTS asks for more starts.
TEST(ProgramPlacement, ToolsLayoutIsCentredAt800x600AtEveryFreshStart) {
  const std::string missing = MissingProgram();
  ASSERT_TRUE(missing.empty()) << missing;
  const int starts = std::getenv("PW_FRESH_STARTS") ? std::atoi(std::getenv("PW_FRESH_STARTS")) : 3;
  const wxRect area = ScreenArea();
  const wxRect centred(area.x + area.width / 2 - 400, area.y + area.height / 2 - 300, 800, 600);
  int good = 0;
  for (int start = 0; start < starts; ++start) {
    SCOPED_TRACE("start " + std::to_string(start + 1));
    const std::string home = std::string(std::getenv("PW_GUI_TEST_ROOT")) + "/fresh" + std::to_string(start);
    std::filesystem::create_directories(home);
    ProgramWindow program(home);
    ASSERT_TRUE(program.WaitFramed()) << "the window never showed";
    wxSize content;
    const bool placed = ProgramWindow::WaitUntil([&] {
      return program.Outer(&content) == centred && program.Hints().find("minimum size: " + std::to_string(content.x) +
                                                                        " by " + std::to_string(content.y)) !=
                                                       std::string::npos;
    });
    EXPECT_TRUE(placed) << Describe(program.Outer(&content)) << " (content " << content.x << "x" << content.y
                        << "), wanted " << Describe(centred) << "\n" << program.Hints();
    const std::string hints = program.Hints();
    EXPECT_NE(hints.find("maximum size: " + std::to_string(content.x) + " by " + std::to_string(content.y)),
              std::string::npos) << hints;
    EXPECT_EQ(hints.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << hints;
    good += placed;
    program.Terminate();
    EXPECT_TRUE(program.Ended());
  }
  std::printf("tools layout centred at 800 x 600 in %d of %d fresh starts\n", good, starts);
}

INSTANTIATE_TEST_SUITE_P(Placement, MaximisedRestart,
                         ::testing::Values(RestoreCase{"AfterPlacing", false, true},
                                           RestoreCase{"FirstRun", false, false},
                                           RestoreCase{"FromTools", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, ViewerReturnsToTheSavedPlace) {
  WriteIni(kViewer);
  ASSERT_NE(Start(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
  Settle();
  const wxRect placed(230, 170, 860, 620);
  frame->SetSize(placed);
  auto near = [](const wxRect& a, const wxRect& b) {
    return std::abs(a.x - b.x) <= 8 && std::abs(a.y - b.y) <= 8 && std::abs(a.width - b.width) <= 8 &&
           std::abs(a.height - b.height) <= 8;
  };
  ASSERT_TRUE(WaitUntil([&] { return near(OnScreen(frame), placed); }));
  Settle();
  wxSize content;
  const wxRect seen = OnScreen(frame, &content);
  Stop();

  ASSERT_NE(Start(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
  Settle();
  wxSize contentAgain;
  EXPECT_TRUE(WaitUntil([&] { return OnScreen(frame, &contentAgain).GetPosition() == seen.GetPosition(); }));
  EXPECT_EQ(contentAgain, content);
}

TEST_F(WindowTest, SavedPlaceOffTheScreenIsBroughtBack) {
  WriteIni(kViewer);
  std::ofstream(CPixelwharfApp::WindowStateFilePath())
      << "[Workspace]\nX=5000\nY=4000\nWidth=3000\nHeight=2500\nMaximized=0\n";
  ASSERT_NE(Start(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
  const wxRect area = ScreenArea();
  EXPECT_TRUE(WaitUntil([&] { return !OnScreen(frame).IsEmpty() && area.Contains(OnScreen(frame)); }))
      << "at " << Describe(OnScreen(frame));
}

// The tools layout is a fixed 800 x 600 window, centred, that neither the
// window manager's maximise nor a resize changes; the viewer's is free.
TEST_F(WindowTest, ToolsLayoutIsFixedAndTheViewerResizable) {
  ASSERT_NE(Start(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }, 30000));
  const wxRect area = ScreenArea();
  const wxRect centred(area.x + area.width / 2 - 400, area.y + area.height / 2 - 300, 800, 600);
  wxSize content;
  auto pinned = [&] {
    const std::string hints = Xprop(frame, "WM_NORMAL_HINTS");
    const std::string size = std::to_string(content.x) + " by " + std::to_string(content.y);
    return hints.find("minimum size: " + size) != std::string::npos &&
           hints.find("maximum size: " + size) != std::string::npos;
  };
  // 800 x 600 with the window manager's frame, centred, and pinned there.
  EXPECT_TRUE(WaitUntil([&] { return OnScreen(frame, &content) == centred && pinned(); }, 30000))
      << Describe(OnScreen(frame, &content)) << " content " << content.x << "x" << content.y << "\n"
      << Xprop(frame, "WM_NORMAL_HINTS");
  const wxRect fixed = OnScreen(frame, &content);
  std::string hints = Xprop(frame, "_NET_WM_ALLOWED_ACTIONS");
  EXPECT_EQ(hints.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << hints;
  EXPECT_EQ(hints.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << hints;

  // Neither a maximise nor a resize asked of the window manager changes it.
  frame->Maximize(true);
  ASSERT_TRUE(WindowManagerCaughtUp(frame));
  EXPECT_EQ(OnScreen(frame), fixed);
  frame->SetSize(wxSize(1100, 900));
  ASSERT_TRUE(WindowManagerCaughtUp(frame));
  EXPECT_EQ(OnScreen(frame).GetSize(), fixed.GetSize());

  frame->DoCommand(ID_BUTTON_CLASSIFYFILES);  // nothing changes while the layout holds
  frame->ActivateRibbonCategory(1);
  auto allowed = [&](const char* action) {
    return Xprop(frame, "_NET_WM_ALLOWED_ACTIONS").find(action) != std::string::npos;
  };
  EXPECT_TRUE(WaitUntil([&] { return allowed("_NET_WM_ACTION_MAXIMIZE_HORZ") && allowed("_NET_WM_ACTION_RESIZE"); },
                        30000))
      << Xprop(frame, "_NET_WM_ALLOWED_ACTIONS");
  frame->SetSize(wxSize(1000, 760));
  EXPECT_TRUE(WaitUntil([&] { return OnScreen(frame).width > 900 && OnScreen(frame).height > 700; }, 30000));
  frame->Maximize(true);
  EXPECT_TRUE(WaitUntil([&] { return frame->IsMaximized() && OnScreen(frame).width > 1100; }, 30000));

  // And back to the tools: fixed again, at the centre.
  frame->ActivateRibbonCategory(2);
  EXPECT_TRUE(WaitUntil([&] { return !frame->IsMaximized() && OnScreen(frame) == centred; }, 30000))
      << Describe(OnScreen(frame));
  EXPECT_TRUE(WaitUntil([&] { return !allowed("_NET_WM_ACTION_MAXIMIZE"); }, 30000))
      << Xprop(frame, "_NET_WM_ALLOWED_ACTIONS");
}

// Every tool panel shows whole: its Start and Cancel buttons lie inside the
// view, above the status bar, the first panel at start as much as the rest.
TEST_F(WindowTest, EveryPanelsButtonsLieAboveTheStatusBar) {
  static const int kTools[5] = {ID_BUTTON_CLASSIFYFILES, ID_BUTTON_RESIZEIMAGES, ID_BUTTON_CLONEEXIF,
                                ID_BUTTON_CONVERTOR, ID_BUTTON_MERGEIMGS};
  static const char* const kNames[5] = {"classify", "resize", "clone", "convert", "merge"};
  // The viewer was left maximised: the start in the tools layout changes
  // the window's size after the first panel is made.
  std::ofstream(CPixelwharfApp::WindowStateFilePath())
      << "[Workspace]\nX=60\nY=50\nWidth=1100\nHeight=850\nMaximized=1\n";
  ASSERT_NE(Start(), nullptr);
  // The tools layout has its final size, which the first panel follows.
  const wxRect area = ScreenArea();
  const wxRect centred(area.x + area.width / 2 - 400, area.y + area.height / 2 - 300, 800, 600);
  ASSERT_TRUE(WaitUntil([&] { return OnScreen(frame) == centred; })) << Describe(OnScreen(frame));
  Settle();
  for (int tool = 0; tool < 5; ++tool) {
    SCOPED_TRACE(kNames[tool]);
    frame->DoCommand(kTools[tool]);
    Settle();
    wxWindow* panel = frame->ToolHost().GetPanel(tool);
    ASSERT_NE(panel, nullptr);
    const wxRect statusBar = frame->GetRibbonStatusBar()->GetScreenRect();
    const wxRect view = frame->GetActiveView()->GetScreenRect();
    const wxRect shown = panel->GetScreenRect();
    int buttons = 0;
    for (wxWindow* child : panel->GetChildren()) {
      auto* button = wxDynamicCast(child, wxButton);
      if (!button || !button->IsShown()) continue;
      const wxString label = button->GetLabel();
      if (!label.StartsWith(wxString::FromUTF8("开")) && !label.StartsWith(wxString::FromUTF8("取")) &&
          !label.StartsWith(wxString::FromUTF8("重")))
        continue;
      ++buttons;
      const wxRect rect = button->GetScreenRect();
      EXPECT_LE(rect.GetBottom(), statusBar.GetTop() - 1) << label;
      EXPECT_TRUE(view.Contains(rect)) << label;
      EXPECT_TRUE(shown.Contains(rect)) << label << " cut off by its own panel";
    }
    EXPECT_GE(buttons, 2);
    Screenshot(std::string("panel-") + kNames[tool]);
  }
}

// A picture named on the command line of a maximised start is placed for
// the maximised window, not for the size the window had before.
TEST_F(WindowTest, PictureOpenedAtAMaximisedStartIsPlacedForTheMaximisedView) {
  const std::string picture = folder + "/wide.tif";
  ASSERT_EQ(std::system(("convert-im6.q16 -size 600x300 xc:red -type TrueColor '" + picture + "'").c_str()), 0);
  WriteIni(kViewer);
  std::ofstream(CPixelwharfApp::WindowStateFilePath())
      << "[Workspace]\nX=100\nY=80\nWidth=800\nHeight=600\nMaximized=1\n";
  wxArrayString args;
  args.push_back(wxString::FromUTF8(picture));
  ASSERT_NE(Start(args), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsMaximized() && frame->GetDocument() &&
                                     !frame->GetDocument()->GetPath().empty(); }));
  Screenshot("viewer-maximised-start");
  // The picture (smaller than the view, so shown at its own size) lies at
  // the centre of the maximised view: the view's centre is in it and its
  // lower-left corner, where a picture placed for the smaller window ends
  // up, is background.
  wxWindow* view = frame->GetActiveView();
  const wxRect rect = view->GetScreenRect();
  ASSERT_GT(rect.width, 1000);
  auto colourAt = [&](int x, int y) {
    const std::string shot = folder + "/pixel.png";
    const std::string command = "import-im6.q16 -window root -crop 1x1+" + std::to_string(x) + "+" +
                                std::to_string(y) + " +repage '" + shot + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    wxImage pixel(wxString::FromUTF8(shot));
    return pixel.IsOk() ? wxColour(pixel.GetRed(0, 0), pixel.GetGreen(0, 0), pixel.GetBlue(0, 0)) : wxColour();
  };
  const wxColour background = colourAt(rect.GetRight() - 5, rect.y + 5);
  // The view reads the picture on its worker: shown once it is there.
  EXPECT_TRUE(WaitUntil([&] { return colourAt(rect.x + rect.width / 2, rect.y + rect.height / 2) != background; }));
  EXPECT_EQ(colourAt(rect.x + 150, rect.GetBottom() - 150), background);
}

// Closing is prompt when no run is in progress: by the close button (the
// window manager's close request) and by the session's SIGTERM, with every
// panel made and a picture open. Prompt is the time the close takes, less
// the time a busy machine kept the UI thread from a processor.
TEST_F(WindowTest, ClosingIsPrompt) {
  const std::string picture = folder + "/close.tif";
  ASSERT_EQ(std::system(("convert-im6.q16 -size 3000x2000 gradient:red-blue -type TrueColor '" + picture + "'").c_str()), 0);
  for (const char* how : {"close", "sigterm"}) {
    SCOPED_TRACE(how);
    ASSERT_NE(Start(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
    for (int tool : {ID_BUTTON_CLASSIFYFILES, ID_BUTTON_RESIZEIMAGES, ID_BUTTON_CLONEEXIF, ID_BUTTON_CONVERTOR,
                     ID_BUTTON_MERGEIMGS})
      frame->DoCommand(tool);
    ASSERT_TRUE(frame->OpenDocumentFile(wxString::FromUTF8(picture)));
    Settle();
    const auto start = std::chrono::steady_clock::now();
    const UiThreadClock closing;
    Stop(how);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("%s: closed in %lld ms, %lld ms of it not waiting for a processor\n", how,
                static_cast<long long>(took.count()), static_cast<long long>(closing.Elapsed().count()));
    EXPECT_LE(closing.Elapsed().count(), pwtest::kLongestUiWait.count()) << "closing took that long (" << took.count() << " ms in all)";
  }
}
