// What the main window's own timers are for, seen when the window's move
// and size events do not come: on a loaded machine the window manager's
// configure may arrive before its frame is known, and none follows it.
#include <fstream>

#include <gtk/gtk.h>
#include <wx/event.h>

#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "window_test.h"

namespace {

// Keeps the frame's move and size events from it while it lives.
class PlacementEventsWithheld : public wxEvtHandler {
 public:
  explicit PlacementEventsWithheld(wxWindow* window) : window_(window) { window_->PushEventHandler(this); }
  ~PlacementEventsWithheld() override { window_->RemoveEventHandler(this); }
  PlacementEventsWithheld(const PlacementEventsWithheld&) = delete;
  PlacementEventsWithheld& operator=(const PlacementEventsWithheld&) = delete;

  bool ProcessEvent(wxEvent& event) override {
    const wxEventType type = event.GetEventType();
    if (type == wxEVT_SIZE || type == wxEVT_MOVE) return true;
    return wxEvtHandler::ProcessEvent(event);
  }

 private:
  wxWindow* window_;
};

}  // namespace

class WindowTimers : public WindowTest {
 protected:
  // A viewer start that was left maximised, the window shown but none of
  // its events delivered yet.
  void StartMaximisedUndelivered() {
    WriteIni(kViewer);
    std::ofstream(CPixelwharfApp::WindowStateFilePath())
        << "[Workspace]\nX=120\nY=90\nWidth=900\nHeight=650\nMaximized=1\n";
    ASSERT_TRUE(PwApp().InitInstance(wxArrayString()));
    frame = PwApp().GetMainFrame();
    ASSERT_NE(frame, nullptr);
  }
};

// A maximised start is maximised once the window manager has framed the
// window, even when no configure event follows the framing.
TEST_F(WindowTimers, AMaximisedStartIsMaximisedWithoutAConfigureAfterTheFraming) {
  ASSERT_NO_FATAL_FAILURE(StartMaximisedUndelivered());
  {
    // Withheld before any event of the new window is delivered.
    PlacementEventsWithheld withheld(frame);
    auto maximisedByTheWindowManager = [&] {
      const std::string state = Xprop(frame, "_NET_WM_STATE");
      return state.find("_NET_WM_STATE_MAXIMIZED_VERT") != std::string::npos &&
             state.find("_NET_WM_STATE_MAXIMIZED_HORZ") != std::string::npos;
    };
    EXPECT_TRUE(WaitUntil([&] { return frame->IsMaximized() && maximisedByTheWindowManager(); }, 60000))
        << Xprop(frame, "_NET_WM_STATE");
  }
  Stop();
  std::ifstream state(CPixelwharfApp::WindowStateFilePath());
  const std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Maximized=1"), std::string::npos) << text;
}

// A placement change that comes while a maximised start still waits for
// its window to be framed is not the user's: ended then, the program keeps
// the maximised state it started with.
TEST_F(WindowTimers, APlacementChangeBeforeTheMaximisedStartIsMadeDoesNotUnmaximiseTheSavedState) {
  ASSERT_NO_FATAL_FAILURE(StartMaximisedUndelivered());
  // Shown but not yet framed (no event of the window has been delivered):
  // the toolkit's own size and move for the window it has just shown.
  ASSERT_TRUE(frame->IsShown());
  ASSERT_FALSE(frame->IsMaximized());
  wxSizeEvent size(frame->GetSize(), frame->GetId());
  size.SetEventObject(frame);
  frame->GetEventHandler()->ProcessEvent(size);
  wxMoveEvent move(frame->GetPosition(), frame->GetId());
  move.SetEventObject(frame);
  frame->GetEventHandler()->ProcessEvent(move);
  frame->Close();  // saves the placement at once
  Stop();
  std::ifstream state(CPixelwharfApp::WindowStateFilePath());
  const std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Maximized=1"), std::string::npos) << text;
  EXPECT_NE(text.find("Width=900"), std::string::npos) << text;
}

// The fixed tools layout keeps its 800 x 600 with the window manager's
// frame when that frame changes behind the program's back: the window
// manager redraws it without a size change to tell the program.
TEST_F(WindowTimers, AFixedLayoutWhoseFrameChangedUntoldIsPinnedBack) {
  ASSERT_NE(Start(), nullptr);  // a first start: the tools layout
  const wxRect area = ScreenArea();
  const wxRect centred(area.x + area.width / 2 - 400, area.y + area.height / 2 - 300, 800, 600);
  wxSize content;
  auto pinned = [&] {
    const std::string hints = Xprop(frame, "WM_NORMAL_HINTS");
    const std::string size = std::to_string(content.x) + " by " + std::to_string(content.y);
    return hints.find("minimum size: " + size) != std::string::npos &&
           hints.find("maximum size: " + size) != std::string::npos;
  };
  ASSERT_TRUE(WaitUntil([&] { return OnScreen(frame, &content) == centred && pinned(); }, 60000))
      << Describe(OnScreen(frame, &content)) << "\n" << Xprop(frame, "WM_NORMAL_HINTS");
  Settle();
  const wxSize framedContent = content;
  const std::string framedExtents = Xprop(frame, "_NET_FRAME_EXTENTS");
  {
    PlacementEventsWithheld withheld(frame);
    // Another client takes the window manager's decorations away.
    gdk_window_set_decorations(gtk_widget_get_window(frame->GetHandle()), GdkWMDecoration(0));
    EXPECT_TRUE(WaitUntil([&] {
      const wxRect outer = OnScreen(frame, &content);
      return Xprop(frame, "_NET_FRAME_EXTENTS") != framedExtents && outer.GetSize() == wxSize(800, 600) &&
             content != framedContent && pinned();
    }, 60000)) << Describe(OnScreen(frame, &content)) << " content " << content.x << "x" << content.y << ", was "
               << framedContent.x << "x" << framedContent.y << "\n" << Xprop(frame, "_NET_FRAME_EXTENTS WM_NORMAL_HINTS");
  }
}
