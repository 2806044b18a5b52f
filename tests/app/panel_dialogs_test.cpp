// The tool panels' real dialogs under openbox: the folder picker opens on
// the path field's folder (or home), and the message boxes are framed with
// their whole title and can only be moved and closed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <pango/pangocairo.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/NativeWindow.h"
#include "app/ToolPanelHost.h"
#include "gui_fixture.h"
#include "panel_modal.h"
#include "tests/needed_programs.h"
#include "tests/tools/panel_driver.h"

namespace fs = std::filesystem;

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (!pwtest::CheckProgramOf(command)) return out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

// The folder picker on screen, or null.
GtkWidget* ShownFolderPicker() {
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* at = windows; at; at = at->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(at->data) && gtk_widget_get_mapped(GTK_WIDGET(at->data)))
      found = GTK_WIDGET(at->data);
  g_list_free(windows);
  return found;
}

// The modal box on screen, or null.
wxDialog* ShownBox() {
  for (wxWindow* window : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog && dialog->IsModal() && dialog->IsShown())
      return dialog;
  return nullptr;
}

class PanelDialogs : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    pics = folder + "/照片 pics";
    fs::create_directories(pics);
    for (const char* name : {"/a.jpg", "/b.jpg"}) std::ofstream(pics + name) << "x";
  }
  wxWindow* OpenPanel(int command) {
    frame->DoCommand(command);
    wxWindow* panel = nullptr;
    paneltest::WaitFor([&] {
      for (int tool = 0; tool < 5 && !panel; ++tool)
        if (wxWindow* candidate = frame->ToolHost().GetPanel(tool); candidate && candidate->IsShown())
          panel = candidate;
      return panel != nullptr;
    });
    return panel;
  }
  std::string pics;
};

// 浏览 opens the picker on the field's folder: the folder itself, the
// folder of dropped files, the nearest folder above a path that has gone;
// 开始 with an empty field, and 浏览 beside one, open it on home.
TEST_F(PanelDialogs, TheFolderPickerOpensOnTheFieldsFolderOrHome) {
  ASSERT_NE(Start(), nullptr);
  pw::SetFileDialogHook({});  // the toolkit's own picker
  const std::string home = std::getenv("HOME");
  const struct {
    const char* name;
    int command, field, button;
    std::string text, opensOn;
  } cases[] = {
      {"resize browse", pw::cmd::ID_BUTTON_RESIZEIMAGES, 1012, 1024, pics, pics},
      {"sort browse, dropped files", pw::cmd::ID_BUTTON_CLASSIFYFILES, 1012, 1013, pics + "/a.jpg|" + pics + "/b.jpg",
       pics},
      {"convert browse, gone path", pw::cmd::ID_BUTTON_CONVERTOR, 1012, 1024, pics + "/gone/deeper", pics},
      {"merge browse, empty field", pw::cmd::ID_BUTTON_MERGEIMGS, 1012, 1024, "", home},
      {"resize start, empty field", pw::cmd::ID_BUTTON_RESIZEIMAGES, 1012, 1011, "", home},
      {"clone source folder", pw::cmd::ID_BUTTON_CLONEEXIF, 1007, 1009, pics + "/a.jpg", pics},
      {"clone receiving folder", pw::cmd::ID_BUTTON_CLONEEXIF, 1008, 1010, "", home},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    wxWindow* panel = OpenPanel(c.command);
    ASSERT_NE(panel, nullptr);
    paneltest::SetText(panel, c.field, c.text);
    std::string openedOn = "(no folder: the picker showed no folder)";
    paneltest::ModalLook look(
        [&] {
          GtkWidget* picker = ShownFolderPicker();
          gchar* current = picker ? gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(picker)) : nullptr;
          if (current) openedOn = current;
          g_free(current);
          return current != nullptr;
        },
        [] {
          GtkWidget* picker = ShownFolderPicker();
          if (picker) gtk_dialog_response(GTK_DIALOG(picker), GTK_RESPONSE_CANCEL);
          return picker != nullptr;
        });
    look.Begin();
    paneltest::Click(panel, c.button);
    look.Stop();
    EXPECT_TRUE(look.Ended()) << "no folder picker";
    EXPECT_EQ(openedOn, c.opensOn);
    // Cancelled: the field keeps its text.
    EXPECT_EQ(dynamic_cast<wxTextCtrl*>(panel->FindWindow(c.field))->GetValue().utf8_string(), c.text);
  }
}

// How openbox frames a box: what the box tells it (its Motif hints), what
// it allows, and the width of its title bar and of the room there for the
// title.
struct Framing {
  std::string properties;
  long functions = -1, decorations = -1;  // of the Motif hints
  int titleBarWidth = -1, labelWidth = -1;
};

// Openbox frames a window with child windows of its own: the title bar is
// the one with the most children, and the room for the title is the widest
// of those that can hold a line of text.
void ReadTitleBar(const std::string& window, Framing& framing) {
  const std::string info = Output("xwininfo -children -id " + window);
  const size_t at = info.find("Parent window id: ");
  if (at == std::string::npos) return;
  std::istringstream tree(Output("xwininfo -tree -id " + info.substr(at + 18, info.find(' ', at + 18) - at - 18)));
  struct Node {
    size_t depth;  // its indent in the tree
    int width, height;
  };
  std::vector<Node> nodes;
  for (std::string line; std::getline(tree, line);) {
    const size_t id = line.find("0x");
    if (id == std::string::npos || id != line.find_first_not_of(' ')) continue;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      int width = 0, height = 0, x = 0, y = 0;
      if (std::sscanf(word.c_str(), "%dx%d+%d+%d", &width, &height, &x, &y) == 4) {
        nodes.push_back({id, width, height});
        break;
      }
    }
  }
  size_t bar = nodes.size(), most = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    size_t below = 0;
    for (size_t j = i + 1; j < nodes.size() && nodes[j].depth > nodes[i].depth; ++j) ++below;
    if (below > most) most = below, bar = i;
  }
  if (bar == nodes.size()) return;
  framing.titleBarWidth = nodes[bar].width;
  for (size_t j = bar + 1; j < nodes.size() && nodes[j].depth > nodes[bar].depth; ++j)
    if (nodes[j].height >= 10 && nodes[j].width > framing.labelWidth) framing.labelWidth = nodes[j].width;
}

// The width of a text in the title font of openbox's default theme.
int TitleTextWidth(const wxString& title) {
  PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
  PangoLayout* layout = pango_layout_new(context);
  PangoFontDescription* font = pango_font_description_from_string("sans bold 8");
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, title.utf8_str(), -1);
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  pango_font_description_free(font);
  g_object_unref(layout);
  g_object_unref(context);
  return width;
}

// A box can be moved and closed, nothing more, and openbox has room for its
// whole title. (Openbox draws its minimise button, and an inactive
// maximise button, on every dialog whatever the dialog says: what is read
// here is what the box tells it and what it then allows.)
TEST_F(PanelDialogs, BoxesShowTheirWholeTitleAndCanOnlyBeMovedAndClosed) {
  ASSERT_NE(Start(), nullptr);
  pw::SetMessageBoxHook({});  // the real boxes
  wxWindow* merge = OpenPanel(pw::cmd::ID_BUTTON_MERGEIMGS);
  ASSERT_NE(merge, nullptr);
  const struct {
    const char* name;
    std::function<void()> show;
    wxString title;
  } cases[] = {
      {"merge's refusal of its sizes",
       [&] {
         paneltest::SetText(merge, 1012, pics);
         paneltest::SetText(merge, 1028, "0");
         paneltest::SetText(merge, 1030, "0");
         paneltest::Click(merge, 1036);
       },
       wxString::FromUTF8("参数非法！")},
      {"a short box with the program's title", [&] { pw::MessageBox("OK", wxOK, merge); }, "Pixelwharf"},
  };
  // Motif hints: functions resize 2, minimise 8, maximise 16 (1: all but
  // those named); decorations resize handle 4, minimise 32, maximise 64.
  const long kAllBut = 1, kResize = 2, kMinimise = 8, kMaximise = 16;
  const long kResizeHandle = 4, kMinimiseButton = 32, kMaximiseButton = 64;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Framing seen;
    int boxWidth = -1;
    paneltest::ModalLook look(
        [&] {
          wxDialog* box = ShownBox();
          const unsigned long window = box ? pw::NativeWindowId(box) : 0;
          if (!window) return false;
          const std::string id = std::to_string(window);
          seen.properties = Output("xprop -id " + id + " _NET_FRAME_EXTENTS _NET_WM_ALLOWED_ACTIONS _MOTIF_WM_HINTS");
          const size_t motif = seen.properties.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = ");
          if (seen.properties.find("_NET_FRAME_EXTENTS(CARDINAL) = ") == std::string::npos ||
              seen.properties.find("_NET_WM_ALLOWED_ACTIONS(ATOM) = ") == std::string::npos ||
              motif == std::string::npos)
            return false;
          long flags = 0;
          std::sscanf(seen.properties.c_str() + motif + 35, "%li, %li, %li", &flags, &seen.functions,
                      &seen.decorations);
          // Framed at the box's own final width.
          ReadTitleBar(id, seen);
          const std::string geometry = Output("xwininfo -id " + id);
          const size_t width = geometry.find("Width: ");
          boxWidth = width == std::string::npos ? -1 : std::atoi(geometry.c_str() + width + 7);
          return seen.titleBarWidth == boxWidth;
        },
        [] {
          wxDialog* box = ShownBox();
          if (box) box->EndModal(wxID_OK);
          return box != nullptr;
        });
    look.Begin();
    c.show();
    look.Stop();
    ASSERT_TRUE(look.Ended()) << "no box";
    ASSERT_TRUE(look.Seen()) << "openbox never framed the box at its width " << boxWidth << " (title bar "
                              << seen.titleBarWidth << "):\n" << seen.properties;
    EXPECT_EQ(pw::LastMessageBoxCaption(), c.title);
    EXPECT_GE(seen.labelWidth, TitleTextWidth(c.title)) << "the title is cut";
    EXPECT_NE(seen.properties.find("_NET_WM_ACTION_CLOSE"), std::string::npos) << seen.properties;
    for (const char* action : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"})
      EXPECT_EQ(seen.properties.find(action), std::string::npos) << seen.properties;
    EXPECT_EQ(seen.functions & (kAllBut | kResize | kMinimise | kMaximise), 0) << seen.properties;
    EXPECT_EQ(seen.decorations & (kAllBut | kResizeHandle | kMinimiseButton | kMaximiseButton), 0) << seen.properties;
  }
}

}  // namespace
