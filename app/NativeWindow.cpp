#include "app/NativeWindow.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <wx/toplevel.h>
#include <wx/window.h>

namespace pw {
namespace {
GdkWindow* RealizedGdkWindow(wxTopLevelWindow* window) {
  if (!window || !window->GetHandle()) return nullptr;
  // Not realised yet: the toolkit realises it when it is shown, and does
  // not expect anyone to have done it before.
  GtkWidget* widget = window->GetHandle();
  return gtk_widget_get_realized(widget) ? gtk_widget_get_window(widget) : nullptr;
}
}  // namespace

void SetFixedFrameFunctions(wxTopLevelWindow* window, bool fixed) {
  GdkWindow* gdk = RealizedGdkWindow(window);
  if (!gdk) return;
  gdk_window_set_functions(gdk, fixed ? GdkWMFunction(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE)
                                      : GDK_FUNC_ALL);
  // Some window managers draw the maximise button from the decorations
  // alone.
  gdk_window_set_decorations(gdk, fixed ? GdkWMDecoration(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU |
                                                          GDK_DECOR_MINIMIZE)
                                        : GDK_DECOR_ALL);
  if (!fixed) {
    // Free again: no size limits (a pinned size is dropped).
    GdkGeometry none{};
    gtk_window_set_geometry_hints(GTK_WINDOW(window->GetHandle()), nullptr, &none, GdkWindowHints(0));
  }
}

namespace {
// The window manager's frame around the window as it states it
// (_NET_FRAME_EXTENTS: left, right, top, bottom); false until it has.
bool StatedFrameExtents(GdkWindow* gdk, int extents[4]) {
  GdkAtom type = GDK_NONE;
  gint format = 0, length = 0;
  guchar* data = nullptr;
  if (!gdk_property_get(gdk, gdk_atom_intern_static_string("_NET_FRAME_EXTENTS"),
                        gdk_atom_intern_static_string("CARDINAL"), 0, 16, FALSE, &type, &format, &length, &data))
    return false;
  // 32-bit items come as longs.
  const bool whole = data && format == 32 && length >= int(4 * sizeof(long));
  if (whole)
    for (int i = 0; i < 4; ++i) extents[i] = int(reinterpret_cast<const long*>(data)[i]);
  g_free(data);
  return whole;
}
}  // namespace

bool FrameRect(wxTopLevelWindow* window, wxRect& rect, wxSize* content) {
  GdkWindow* gdk = RealizedGdkWindow(window);
  if (!gdk || !gdk_window_is_viewable(gdk)) return false;
  const int width = gdk_window_get_width(gdk), height = gdk_window_get_height(gdk);
  if (width <= 1 || height <= 1) return false;  // not given its size yet
  int extents[4];
  if (GDK_IS_X11_WINDOW(gdk) && StatedFrameExtents(gdk, extents)) {
    // The frame as the window manager states it, around the window where
    // it is: the frame's own outline, read while a resize is under way,
    // may already have the new size while the window still has the old.
    if (extents[0] < 0 || extents[1] < 0 || extents[2] < 0 || extents[3] < 0) return false;
    int x = 0, y = 0;
    gdk_window_get_origin(gdk, &x, &y);
    rect = wxRect(x - extents[0], y - extents[2], width + extents[0] + extents[1], height + extents[2] + extents[3]);
    if (content) *content = wxSize(width, height);
    return true;
  }
  GdkRectangle frame{};
  gdk_window_get_frame_extents(gdk, &frame);
  // While the window is being framed the extents may describe something
  // else (the window alone, or a frame of a size not yet its own).
  const int aroundX = frame.width - width, aroundY = frame.height - height;
  if (aroundX < 0 || aroundY < 0 || aroundX > 64 || aroundY > 128) return false;
  rect = wxRect(frame.x, frame.y, frame.width, frame.height);
  if (content) *content = wxSize(width, height);
  return true;
}

void PinContentSize(wxTopLevelWindow* window, const wxSize& content) {
  if (!window || !window->GetHandle() || content.x <= 0 || content.y <= 0) return;
  GtkWindow* gtk = GTK_WINDOW(window->GetHandle());
  GdkGeometry hints{};
  hints.min_width = hints.max_width = content.x;
  hints.min_height = hints.max_height = content.y;
  gtk_window_set_geometry_hints(gtk, nullptr, &hints, GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
  gtk_window_resize(gtk, content.x, content.y);
  // GTK asks nothing of the window manager when it believes the window
  // already has that size, which it may after a maximise it has not caught
  // up with: ask the window system directly as well.
  GdkWindow* gdk = gtk_widget_get_window(window->GetHandle());
  if (gdk && gdk_window_is_visible(gdk)) gdk_window_resize(gdk, content.x, content.y);
}

void LayOutGaugeNow(wxWindow* gauge) {
  GtkWidget* widget = gauge ? gauge->GetHandle() : nullptr;
  if (!widget || !gtk_widget_get_realized(widget)) return;
  GtkAllocation allocation;
  gtk_widget_get_allocation(widget, &allocation);
  if (allocation.width <= 1 || allocation.height <= 1) return;
  gtk_widget_size_allocate(widget, &allocation);
  gtk_widget_queue_draw(widget);
}

unsigned long NativeWindowId(wxTopLevelWindow* window) {
  GdkWindow* gdk = RealizedGdkWindow(window);
  return gdk && GDK_IS_X11_WINDOW(gdk) ? GDK_WINDOW_XID(gdk) : 0;
}

}  // namespace pw
