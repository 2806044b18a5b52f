// What the window manager is told about the main window beyond what the
// toolkit passes on by itself. The toolkit fixes a window's decorations and
// functions when the window is made; the tools layout needs them changed on
// a window that already exists.
#pragma once

#include <wx/gdicmn.h>

class wxTopLevelWindow;
class wxWindow;

namespace pw {

// Fixed: no resize or maximise function, so the window manager drops the
// maximise button and the sizing border (the size hints pin the size).
// Not fixed: all functions back.
void SetFixedFrameFunctions(wxTopLevelWindow* window, bool fixed);

// Where the window is on the screen with the window manager's frame, as
// the window system has it, and the size of its content (the window without
// that frame); false while the window is not shown with its size yet.
bool FrameRect(wxTopLevelWindow* window, wxRect& rect, wxSize* content = nullptr);

// Pins the content's size: the window manager's size hints say that size
// as both the smallest and the largest, and the window is resized to it.
// The toolkit's own hints go by a frame width that it may not know yet.
void PinContentSize(wxTopLevelWindow* window, const wxSize& content);

// Lays a gauge's bar out again at once for its current value: GTK only
// queues that, and a queued layout of a widget inside the toolkit's own
// containers may never be done, leaving an earlier value painted.
void LayOutGaugeNow(wxWindow* gauge);

// The X window id of a top-level window, 0 when it has none (tests read the
// window manager's view of it through this).
unsigned long NativeWindowId(wxTopLevelWindow* window);

}  // namespace pw
