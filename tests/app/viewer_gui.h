// What the viewer's GUI tests share: the running program's window, its
// event loop, the pictures made for the tests and the captured boxes.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <wx/colour.h>
#include <wx/event.h>
#include <wx/gdicmn.h>
#include <wx/image.h>
#include <wx/string.h>

class CMainFrame;
class CPixelwharfView;
class CPixelwharfDoc;

namespace pwtest {
class ScratchDir;
}

namespace viewergui {

using namespace std::chrono_literals;

extern pwtest::ScratchDir* g_dir;
extern std::string g_rgb;  // 200 x 100, 8-bit RGB: red = column, green = row from the top, blue = 7
extern std::string g_u16;  // 300 x 150, 16-bit grey

// Runs the event loop for a while so that paints, CallAfter and idle
// handlers happen.
void Pump(std::chrono::milliseconds time = 100ms);
CMainFrame* Frame();
CPixelwharfView* View();
CPixelwharfDoc* Doc();
// Text of extended status pane 0 (X/Y) or 1 (values).
wxString Pane(int pos);
// Waits until no opening and no re-read is in progress, the view has
// taken the last re-read's picture, and that is painted on the X server.
void Settle();
// Runs the event loop until `done` holds; false when `limit` passed first.
bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit);
// A mouse event at a client point of the view; after a motion, waits until
// the readout's value, when read off the UI thread, has arrived.
void Mouse(wxEventType type, int x, int y, int rotation = 0);
// A real Esc key through the X server while the focus is on the frame.
void PressEscapeOnTheFrame();
// Client position of image pixel (column, row from the top) in the view.
wxPoint ClientOf(double column, double row);
// A real screenshot of the X screen.
wxImage Screenshot(const std::string& name);
// The colour of the screen at a client point of the view.
wxColour ScreenColour(const wxImage& shot, wxPoint client);
// Opens through the document as the ribbon's open command does, and waits
// until the opening has ended and the picture settled.
void OpenThroughDialog(const std::string& path);
// Message boxes shown so far.
std::vector<wxString>& Messages();

}  // namespace viewergui
