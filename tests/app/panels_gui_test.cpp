// The tool panels in the real window under Xvfb: where the status-bar
// progress bar stands when a run has ended, the bar's share of each group,
// the resizing panel's check boxes and size edits, the cloning panel's
// batch checks, and a clean toolkit log with every panel open.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <thread>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "app/ToolPanelHost.h"
#include "app/panels/CloneExif.h"
#include "app/panels/Convertor.h"
#include "app/panels/MergeImgs.h"
#include "app/panels/ResizePictures.h"
#include "gui_fixture.h"
#include "tests/tools/panel_driver.h"
#include "platform/text.h"
#include "tools/CloneExif.h"
#include "tools/ResizePictures.h"

namespace fs = std::filesystem;
using paneltest::Click;
using paneltest::Select;
using paneltest::SetText;
using paneltest::Tick;

namespace {

bool Sh(const std::string& command) { return std::system(command.c_str()) == 0; }
std::string Quote(const std::string& path) { return "'" + path + "'"; }

class Panels : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    // Yes to every question; the bar is read when each box appears.
    pw::SetMessageBoxHook([this](const wxString& text, long style) {
      messages.push_back(text);
      if (frame && frame->GetProgressBar()) barAtBox.push_back(frame->GetProgressBar()->GetPos());
      return (style & wxYES_NO) ? wxYES : wxOK;
    });
  }

  // Where the bar stands once everything queued has been delivered, as a
  // person sees it after closing the end box.
  int SettledBar() {
    Pump(20);
    return frame->GetProgressBar()->GetPos();
  }
  int GaugeValue() const { return frame->GetProgressBar()->GetGauge()->GetValue(); }

  std::string Picture(const std::string& path, const std::string& size) {
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_TRUE(Sh("convert-im6.q16 -size " + size + " plasma:fractal -seed 3 " + Quote(path)));
    return path;
  }

  std::vector<int> barAtBox;
};

// ---- the progress bar at the end of a run ----------------------------------

// ---- the resizing panel's controls --------------------------------------

// ---- the cloning panel ----------------------------------------------------

TEST_F(Panels, CloneBatchChecksTheFoldersBeforeAsking) {
  fs::create_directories(folder + "/trees/receiving");
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLONEEXIF);
  Pump();
  CCloneExif* panel = frame->ToolHost().cloneExif;
  ASSERT_NE(panel, nullptr);
  Select(panel, 1002);
  const struct {
    std::string source, receiving;
  } refused[] = {{folder + "/trees", ""},
                 {folder + "/trees/receiving", folder + "/trees/receiving/"},
                 {folder + "/trees", folder + "/trees/receiving"}};
  for (const auto& paths : refused) {
    messages.clear();
    SetText(panel, 1007, paths.source);
    SetText(panel, 1008, paths.receiving);
    Click(panel, 1018);
    // Only the refusal: no question first.
    ASSERT_EQ(messages.size(), 1u) << paths.source << " / " << paths.receiving;
    EXPECT_EQ(messages[0], wxString(ClonePathCheckText(CheckCloneFolders(
                               pw::NarrowToWide(paths.source), pw::NarrowToWide(paths.receiving)))));
    EXPECT_EQ(messages[0].Find(L"是否继续"), wxNOT_FOUND);
  }
  EXPECT_FALSE(fs::exists(folder + "/trees/receiving/log.log"));  // nothing ran
}

// ---- the toolkit's log ----------------------------------------------------

}  // namespace
