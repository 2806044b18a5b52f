// The main window as the window manager (openbox) handles it: where it is
// placed, what maximise and restore give back, the fixed tools layout, and
// the first tool panel whole above the status bar.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

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
#include "gui_fixture.h"

using namespace pw::cmd;

namespace {

// Properties of the frame's X window as the window manager sees them.
std::string Xprop(CMainFrame* frame, const std::string& properties) {
  const unsigned long id = pw::NativeWindowId(frame);
  std::string command = "xprop -id " + std::to_string(id) + " " + properties;
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

wxRect ScreenArea() { return wxDisplay(0u).GetClientArea(); }

const std::string kViewer = "[SEL_INDEX]\r\nCAT_INDEX = 1\r\n";

}  // namespace

class WindowTest : public GuiTest {
 protected:
  // Lets the window manager's answers arrive until done() holds (a holding
  // condition ends the wait at once; a loaded machine answers late).
  static bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (done()) return true;
      Pump(1);
      wxMilliSleep(15);
    }
    return done();
  }
  // A few rounds more, for the configure events that follow a change.
  static void Settle() { Pump(25); }
  // The window with the window manager's frame, as the X server has it.
  static wxRect OnScreen(CMainFrame* frame, wxSize* content = nullptr) {
    wxRect rect;
    pw::FrameRect(frame, rect, content);
    return rect;
  }
};

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
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
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
  Settle();
  const wxRect area = ScreenArea();
  const wxRect seen = OnScreen(frame);
  EXPECT_TRUE(area.Contains(seen)) << "at " << seen.x << "," << seen.y << " " << seen.width << "x" << seen.height;
}

// The tools layout is a fixed 800 x 600 window, centred, that neither the
// window manager's maximise nor a resize changes; the viewer's is free.
TEST_F(WindowTest, ToolsLayoutIsFixedAndTheViewerResizable) {
  ASSERT_NE(Start(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
  Settle();
  const wxRect area = ScreenArea();
  const wxRect centred(area.x + area.width / 2 - 400, area.y + area.height / 2 - 300, 800, 600);
  const bool outerExact = WaitUntil([&] { return OnScreen(frame) == centred; });
  wxSize content;
  const wxRect fixed = OnScreen(frame, &content);
  if (!outerExact) {
    // On a loaded machine the window manager may frame the window only
    // after its size was pinned and then keep the 800 x 600 client area
    // (a known fault, docs/status.md): still centred and fixed.
    EXPECT_EQ(content, wxSize(800, 600)) << fixed.width << "x" << fixed.height;
    EXPECT_EQ(fixed.GetPosition(), centred.GetPosition());
  }

  std::string hints = Xprop(frame, "WM_NORMAL_HINTS _NET_WM_ALLOWED_ACTIONS");
  const std::string pinned = std::to_string(content.x) + " by " + std::to_string(content.y);
  EXPECT_NE(hints.find("minimum size: " + pinned), std::string::npos) << hints;
  EXPECT_NE(hints.find("maximum size: " + pinned), std::string::npos) << hints;
  EXPECT_EQ(hints.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << hints;
  EXPECT_EQ(hints.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << hints;

  frame->Maximize(true);
  Settle();
  WaitUntil([&] { return frame->IsMaximized(); }, 600);
  EXPECT_EQ(OnScreen(frame), fixed);
  frame->SetSize(wxSize(1100, 900));
  Settle();
  EXPECT_EQ(OnScreen(frame).GetSize(), fixed.GetSize());

  frame->DoCommand(ID_BUTTON_CLASSIFYFILES);  // nothing changes while the layout holds
  frame->ActivateRibbonCategory(1);
  Settle();
  hints = Xprop(frame, "_NET_WM_ALLOWED_ACTIONS");
  EXPECT_NE(hints.find("_NET_WM_ACTION_MAXIMIZE_HORZ"), std::string::npos) << hints;
  EXPECT_NE(hints.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << hints;
  frame->SetSize(wxSize(1000, 760));
  EXPECT_TRUE(WaitUntil([&] { return OnScreen(frame).width > 900 && OnScreen(frame).height > 700; }));
  frame->Maximize(true);
  EXPECT_TRUE(WaitUntil([&] { return frame->IsMaximized() && OnScreen(frame).width > 1100; }));

  // And back to the tools: fixed again, at the centre.
  frame->ActivateRibbonCategory(2);
  EXPECT_TRUE(WaitUntil([&] { return !frame->IsMaximized() && OnScreen(frame) == centred; }, 8000))
      << OnScreen(frame).x << "," << OnScreen(frame).y << " " << OnScreen(frame).width << "x"
      << OnScreen(frame).height;
  hints = Xprop(frame, "_NET_WM_ALLOWED_ACTIONS");
  EXPECT_EQ(hints.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << hints;
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
  ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen(); }));
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
  for (int i = 0; i < 100; ++i) Pump(1);  // the view reads the picture on its worker
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
  EXPECT_NE(colourAt(rect.x + rect.width / 2, rect.y + rect.height / 2), background);
  EXPECT_EQ(colourAt(rect.x + 150, rect.GetBottom() - 150), background);
}

// Closing is prompt when no run is in progress: by the close button (the
// window manager's close request) and by the session's SIGTERM, with every
// panel made and a picture open.
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
    Stop(how);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 500);
  }
}
