// What the window tests under a window manager share: the frame's X
// properties as the window manager sees them, and waits that end when the
// window manager and the program have caught up, however loaded the
// machine is.
#pragma once
#include <cstdio>
#include <functional>
#include <string>

#include <gtk/gtk.h>
#include <wx/display.h>
#include <wx/gdicmn.h>
#include <wx/utils.h>

#include "app/MainFrame.h"
#include "app/NativeWindow.h"
#include "app/PixelwharfApp.h"
#include "gui_fixture.h"

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

// Properties of the frame's X window as the window manager sees them.
[[maybe_unused]] std::string Xprop(CMainFrame* frame, const std::string& properties) {
  const unsigned long id = pw::NativeWindowId(frame);
  return Output("xprop -id " + std::to_string(id) + " " + properties);
}

[[maybe_unused]] wxRect ScreenArea() { return wxDisplay(0u).GetClientArea(); }

[[maybe_unused]] std::string Describe(const wxRect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

[[maybe_unused]] const std::string kViewer = "[SEL_INDEX]\r\nCAT_INDEX = 1\r\n";

}  // namespace

class WindowTest : public GuiTest {
 protected:
  // Lets the window manager's answers arrive until done() holds (a holding
  // condition ends the wait at once; a loaded machine answers late).
  static bool WaitUntil(const std::function<bool()>& done, int ms = 30000) {
    // Not every round: the conditions ask outside programs.
    return WaitFor([&] {
      if (done()) return true;
      wxMilliSleep(15);
      return false;
    }, (ms + 999) / 1000);
  }
  // The program has heard of the window's last change: the X server, the
  // toolkit's record of the window and its layout agree on the size.
  static bool ProgramCaughtUp(CMainFrame* frame) {
    GtkWidget* widget = frame ? frame->GetHandle() : nullptr;
    GdkWindow* gdk = widget ? gtk_widget_get_window(widget) : nullptr;
    if (!gdk) return false;
    int x = 0, y = 0, width = 0, height = 0;
    gdk_window_get_geometry(gdk, &x, &y, &width, &height);  // asks the X server
    return width == gdk_window_get_width(gdk) && height == gdk_window_get_height(gdk) &&
           gtk_widget_get_allocated_width(widget) == width && gtk_widget_get_allocated_height(widget) == height;
  }
  // Returns once the window manager has dealt with every request the
  // window made so far and the program has heard the outcome.
  static void Settle() {
    CMainFrame* frame = PwApp().GetMainFrame();
    if (!frame) return;
    EXPECT_TRUE(WindowManagerCaughtUp(frame)) << "the window manager never took the window's requests";
  }
  // The window manager answers requests in order, so when it has set (and
  // then cleared) a state asked for last, the earlier ones are done.
  static bool WindowManagerCaughtUp(CMainFrame* frame) {
    GdkWindow* gdk = gtk_widget_get_window(frame->GetHandle());
    if (!gdk) return false;
    auto above = [&] { return Xprop(frame, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE") != std::string::npos; };
    gdk_window_set_keep_above(gdk, TRUE);
    const bool set = WaitUntil(above, 30000);
    gdk_window_set_keep_above(gdk, FALSE);
    return set && WaitUntil([&] { return !above(); }, 30000) && WaitUntil([&] { return ProgramCaughtUp(frame); });
  }
  // The window with the window manager's frame, as the X server has it.
  static wxRect OnScreen(CMainFrame* frame, wxSize* content = nullptr) {
    wxRect rect;
    pw::FrameRect(frame, rect, content);
    return rect;
  }
};
