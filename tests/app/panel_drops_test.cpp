// Files dragged onto a tool panel's path field, through the window
// system's own drag and drop: a drag source window of the test's own
// offers the files (and, as file managers do, their addresses as text), the
// pointer is driven by xdotool, and the panel's field takes the drop as the
// panel does.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "app/panels/ToolPanelFrame.h"
#include "app/StatusBar.h"
#include "app/ToolPanelHost.h"
#include "gui_fixture.h"
#include "panel_modal.h"
#include "platform/text.h"
#include "tests/needed_programs.h"
#include "tests/tools/panel_driver.h"

namespace fs = std::filesystem;
using paneltest::WaitFor;

namespace {

bool Xdotool(const std::string& arguments) {
  const std::string command = "xdotool " + arguments;
  return pwtest::CheckProgramOf(command) && std::system(command.c_str()) == 0;
}

std::string At(wxPoint point) { return std::to_string(point.x) + " " + std::to_string(point.y); }

// A small window that drags the given files out as a file manager does:
// their addresses as a URI list and, when asked, as text too (offered
// first, so a field that takes text would take it).
class DragSource {
 public:
  DragSource(wxPoint at, const std::vector<std::string>& paths, bool offersText) {
    for (const std::string& path : paths) {
      gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
      uris_.push_back(uri);
      g_free(uri);
    }
    window_ = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_move(GTK_WINDOW(window_), at.x, at.y);
    gtk_window_set_default_size(GTK_WINDOW(window_), kSize, kSize);
    GtkWidget* box = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(window_), box);
    GtkTargetList* targets = gtk_target_list_new(nullptr, 0);
    if (offersText) gtk_target_list_add_text_targets(targets, kAsText);
    gtk_target_list_add_uri_targets(targets, kAsUris);
    gtk_drag_source_set(box, GDK_BUTTON1_MASK, nullptr, 0, GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_MOVE));
    gtk_drag_source_set_target_list(box, targets);
    gtk_target_list_unref(targets);
    g_signal_connect(box, "button-press-event", G_CALLBACK(OnPress), this);
    g_signal_connect(box, "drag-begin", G_CALLBACK(OnBegin), this);
    g_signal_connect(box, "drag-data-get", G_CALLBACK(OnDataGet), this);
    g_signal_connect(box, "drag-end", G_CALLBACK(OnEnd), this);
    gtk_widget_show_all(window_);
  }
  ~DragSource() { gtk_widget_destroy(window_); }
  DragSource(const DragSource&) = delete;
  DragSource& operator=(const DragSource&) = delete;

  bool Shown() const {
    GdkWindow* gdk = gtk_widget_get_window(window_);
    return gdk && gdk_window_is_viewable(gdk);
  }
  wxPoint Middle() const {
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    return wxPoint(x + kSize / 2, y + kSize / 2);
  }
  bool pressed = false, begun = false, ended = false;

 private:
  static constexpr int kSize = 80;
  enum { kAsUris = 1, kAsText = 2 };
  static gboolean OnPress(GtkWidget*, GdkEvent*, DragSource* self) {
    self->pressed = true;
    return FALSE;
  }
  static void OnBegin(GtkWidget*, GdkDragContext*, DragSource* self) { self->begun = true; }
  static void OnEnd(GtkWidget*, GdkDragContext*, DragSource* self) { self->ended = true; }
  static void OnDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint info, guint, DragSource* self) {
    if (info == kAsUris) {
      std::vector<gchar*> list;
      for (std::string& uri : self->uris_) list.push_back(uri.data());
      list.push_back(nullptr);
      gtk_selection_data_set_uris(data, list.data());
    } else {
      std::string text;
      for (const std::string& uri : self->uris_) text += uri + "\r\n";
      gtk_selection_data_set_text(data, text.c_str(), -1);
    }
  }
  GtkWidget* window_ = nullptr;
  std::vector<std::string> uris_;
};

// Counts the drag motions the window system has delivered to edits.
gboolean CountEditMotion(GSignalInvocationHint*, guint count, const GValue* values, gpointer motions) {
  if (count > 0 && GTK_IS_ENTRY(g_value_get_object(&values[0]))) ++*static_cast<int*>(motions);
  return TRUE;
}

class PanelDrops : public GuiTest {
 protected:
  // Drags from the source onto `target` and lets go once the edit there
  // has been told of the drag (so its answer has been sent before the
  // button is released); true when the drag ran to its end.
  bool DragOnto(DragSource& source, wxPoint target) {
    if (!WaitFor([&] { return source.Shown(); })) return false;
    const wxPoint from = source.Middle();
    Xdotool("mousemove " + At(from));
    if (!WaitFor([&] { return wxGetMousePosition() == from; })) return false;
    Xdotool("mousedown 1");
    const bool begun = WaitFor([&] { return source.pressed; }) &&
                       Xdotool("mousemove " + At(from + wxPoint(24, 24))) &&
                       WaitFor([&] { return source.begun; });
    int motions = 0;
    const guint signal = g_signal_lookup("drag-motion", GTK_TYPE_WIDGET);
    const gulong hook = g_signal_add_emission_hook(signal, 0, CountEditMotion, &motions, nullptr);
    // Nudge the pointer over the edit until it has heard of the drag.
    for (int nudge = 0; begun && motions == 0 && nudge < 60; ++nudge) {
      Xdotool("mousemove " + At(target + wxPoint(nudge % 2, 0)));
      WaitFor([&] { return motions > 0; }, 1);
    }
    g_signal_remove_emission_hook(signal, hook);
    Xdotool("mouseup 1");
    return begun && motions > 0 && WaitFor([&] { return source.ended; });
  }

  wxString StatusText() const { return frame->GetStatusExElement(0)->GetText(); }
};

TEST_F(PanelDrops, FilesDroppedOnAPathFieldActAsADropOnThePanel) {
  const std::string pics = folder + "/照片 pics";
  fs::create_directories(pics + "/旅行");
  for (const char* name : {"/a 1.jpg", "/b.png"}) std::ofstream(pics + name) << "x";
  ASSERT_NE(Start(), nullptr);
  frame->Raise();
  const wxString several = wxString::FromUTF8("多个文件(夹)加载成功！");
  const struct {
    const char* name;
    int command, field;
    std::string before;
    std::vector<std::string> dropped;
    bool offersText;
    std::string after;  // the field's text after the drop
    wxString status;    // status pane 0 after the drop; empty: unchanged
  } cases[] = {
      {"sort, a folder with its address as text too", pw::cmd::ID_BUTTON_CLASSIFYFILES, 1012, "", {pics + "/旅行"}, true,
       pics + "/旅行", wxString::FromUTF8("旅行 加载成功！")},
      {"resize, two files with text", pw::cmd::ID_BUTTON_RESIZEIMAGES, 1012, "/old", {pics + "/a 1.jpg", pics + "/b.png"},
       true, pics + "/a 1.jpg|" + pics + "/b.png", several},
      {"convert, a file only as a file", pw::cmd::ID_BUTTON_CONVERTOR, 1012, "", {pics + "/b.png"}, false,
       pics + "/b.png", wxString::FromUTF8(pics + "/b.png 加载成功！")},
      {"merge, a folder and a file with text", pw::cmd::ID_BUTTON_MERGEIMGS, 1012, "", {pics, pics + "/b.png"}, true,
       pics + "|" + pics + "/b.png", several},
      // The cloning panel's edits keep drops to themselves and ignore them.
      {"clone's receiving picture ignores it", pw::cmd::ID_BUTTON_CLONEEXIF, 1004, "/kept.jpg", {pics + "/b.png"}, true,
       "/kept.jpg", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frame->DoCommand(c.command);
    wxWindow* panel = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      for (int tool = 0; tool < 5 && !panel; ++tool)
        if (wxWindow* shown = frame->ToolHost().GetPanel(tool); shown && shown->IsShownOnScreen()) panel = shown;
      return panel != nullptr;
    }));
    auto* field = dynamic_cast<wxTextCtrl*>(panel->FindWindow(c.field));
    ASSERT_NE(field, nullptr);
    paneltest::SetText(panel, c.field, c.before);
    const wxString statusBefore = StatusText();
    const wxRect fieldRect = field->GetScreenRect();
    const wxRect frameRect = frame->GetScreenRect();
    // Beside the window, clear of it.
    const wxPoint sourceAt = frameRect.GetRight() + 140 < 1280 ? wxPoint(frameRect.GetRight() + 40, frameRect.y + 40)
                                                              : wxPoint(frameRect.x + 40, frameRect.GetBottom() + 40);
    DragSource source(sourceAt, c.dropped, c.offersText);
    EXPECT_TRUE(DragOnto(source, wxPoint(fieldRect.x + fieldRect.width / 2, fieldRect.y + fieldRect.height / 2)));
    const wxString expectedStatus = c.status.empty() ? statusBefore : c.status;
    // The drop has been taken once the drag ended; its texts may land a
    // little later.
    WaitFor([&] { return field->GetValue().utf8_string() == c.after && StatusText() == expectedStatus; });
    EXPECT_EQ(field->GetValue().utf8_string(), c.after);
    EXPECT_EQ(StatusText(), expectedStatus);
  }
}

// The state words a drag source in another process has written so far.
std::string SourceState(const std::string& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits as a run waits for its workers: only the window's own events are
// delivered (the run's pump), not the user's clicks and keys.
bool WaitAsARunDoes(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(paneltest::kPatienceSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    PwApp().PumpWhileBusy();
    wxMilliSleep(5);
  }
  return true;
}

gboolean CountMotion(GSignalInvocationHint*, guint, const GValue*, gpointer motions) {
  ++*static_cast<int*>(motions);
  return TRUE;
}

// A file dragged onto a tool panel while its run goes on: the drop is
// refused then, and nothing comes of it when the run has ended (the window
// stays in the tools layout, the path field keeps its text).
TEST_F(PanelDrops, ADropDuringARunDoesNothing) {
  const std::string pics = folder + "/pics", dropped = folder + "/dropped.png";
  fs::create_directories(pics);
  ASSERT_EQ(std::system(("convert-im6.q16 -size 64x48 xc:red '" + pics + "/a.png' && convert-im6.q16 -size 40x30 "
                         "xc:blue '" + dropped + "'").c_str()), 0);
  pw::SetMessageBoxHook([this](const wxString& text, long style) {
    messages.push_back(text);
    return (style & wxYES_NO) ? wxYES : wxOK;
  });
  ASSERT_NE(Start(), nullptr);
  frame->Raise();
  frame->DoCommand(pw::cmd::ID_BUTTON_RESIZEIMAGES);
  wxWindow* panel = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    panel = frame->ToolHost().GetPanel(1);
    return panel && panel->IsShownOnScreen();
  }));
  paneltest::SetText(panel, pw::kIdPathField, pics);
  paneltest::SetText(panel, 1028, "32");
  paneltest::SetText(panel, 1030, "32");
  auto* field = dynamic_cast<wxTextCtrl*>(panel->FindWindow(pw::kIdPathField));
  const wxRect fieldRect = field->GetScreenRect();
  const wxPoint target(fieldRect.x + fieldRect.width / 2, fieldRect.y + fieldRect.height / 2);
  const wxRect frameRect = frame->GetScreenRect();
  const wxPoint sourceAt = frameRect.GetRight() + 140 < 1280 ? wxPoint(frameRect.GetRight() + 40, frameRect.y + 40)
                                                            : wxPoint(frameRect.x + 40, frameRect.GetBottom() + 40);
  const std::string state = folder + "/drag.state";

  // The drag is made when the run's group has started (the panel is
  // disabled and the bar set), with the events delivered as the run does.
  bool dragged = false, dropMade = false;
  pw::SetProgressBarWatch([&](int) {
    if (dragged || panel->IsEnabled()) return;
    dragged = true;
    ASSERT_EQ(std::system((std::string(PW_DRAG_SOURCE_EXE) + " " + std::to_string(sourceAt.x) + " " +
                           std::to_string(sourceAt.y) + " '" + state + "' '" + dropped + "' &").c_str()), 0);
    ASSERT_TRUE(WaitAsARunDoes([&] { return SourceState(state).find("shown") != std::string::npos; }));
    const wxPoint from = sourceAt + wxPoint(40, 40);
    ASSERT_TRUE(Xdotool("mousemove " + At(from)));
    ASSERT_TRUE(WaitAsARunDoes([&] { return wxGetMousePosition() == from; }));
    ASSERT_TRUE(Xdotool("mousedown 1") && Xdotool("mousemove " + At(from + wxPoint(24, 24))));
    ASSERT_TRUE(WaitAsARunDoes([&] { return SourceState(state).find("begun") != std::string::npos; }));
    int motions = 0;
    const guint signal = g_signal_lookup("drag-motion", GTK_TYPE_WIDGET);
    const gulong hook = g_signal_add_emission_hook(signal, 0, CountMotion, &motions, nullptr);
    for (int nudge = 0; motions == 0 && nudge < 60; ++nudge) {
      Xdotool("mousemove " + At(target + wxPoint(nudge % 2, 0)));
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      WaitAsARunDoes([&] { return motions > 0 || std::chrono::steady_clock::now() > until; });
    }
    g_signal_remove_emission_hook(signal, hook);
    Xdotool("mouseup 1");
    EXPECT_GT(motions, 0) << "the window heard of the drag";
    // Refused, the drag ends; taken, the drop asks for the files.
    dropMade = WaitAsARunDoes([&] {
      const std::string words = SourceState(state);
      return words.find("ended") != std::string::npos || words.find("data") != std::string::npos;
    });
  });
  paneltest::Click(panel, 1011);
  pw::SetProgressBarWatch({});
  ASSERT_TRUE(dragged) << "the run started";
  EXPECT_TRUE(dropMade);
  ASSERT_FALSE(messages.empty());
  EXPECT_TRUE(messages.back().StartsWith(wxString::FromUTF8("耗时:"))) << messages.back();
  EXPECT_TRUE(fs::exists(pics + "/amorvalen.png"));
  // The drag is over, whether at once or once the run's end let a taken
  // drop's files through.
  ASSERT_TRUE(WaitFor([&] { return SourceState(state).find("ended") != std::string::npos; }));
  Pump();
  EXPECT_EQ(SourceState(state).find("data"), std::string::npos) << "the drop was taken";
  EXPECT_EQ(frame->GetActiveCategory(), 2) << "the window left the tools layout";
  EXPECT_EQ(field->GetValue().utf8_string(), pics);
  Screenshot("drop-during-run");
}

}  // namespace
