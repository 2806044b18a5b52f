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
#include "app/panels/SizeStepper.h"
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

TEST_F(Panels, ResizeCheckBoxesHoldEachOther) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_RESIZEIMAGES);
  Pump();
  CResizePictures* panel = frame->ToolHost().resizePictures;
  ASSERT_NE(panel, nullptr);
  auto ticked = [panel](int id) { return dynamic_cast<wxCheckBox*>(panel->FindWindow(id))->GetValue(); };
  const int kFixedWidth = 1041, kKeepRatio = 1027, kFixedHeight = 1042;

  Tick(panel, kKeepRatio, false);
  EXPECT_FALSE(ticked(kFixedWidth));
  EXPECT_FALSE(ticked(kFixedHeight));
  // Fixing the width keeps the ratio and frees the height.
  Tick(panel, kFixedHeight, true);
  EXPECT_TRUE(ticked(kKeepRatio));
  Tick(panel, kFixedWidth, true);
  EXPECT_TRUE(ticked(kFixedWidth));
  EXPECT_FALSE(ticked(kFixedHeight));
  EXPECT_TRUE(ticked(kKeepRatio));
  // And the other way round.
  Tick(panel, kFixedHeight, true);
  EXPECT_FALSE(ticked(kFixedWidth));
  EXPECT_TRUE(ticked(kKeepRatio));
  // Clearing a fixed side leaves the others as they are.
  Tick(panel, kFixedHeight, false);
  EXPECT_FALSE(ticked(kFixedWidth));
  EXPECT_TRUE(ticked(kKeepRatio));
  // Giving up the ratio frees both sides.
  Tick(panel, kFixedWidth, true);
  Tick(panel, kKeepRatio, false);
  EXPECT_FALSE(ticked(kFixedWidth));
  EXPECT_FALSE(ticked(kFixedHeight));
  // Ticking the ratio alone fixes no side.
  Tick(panel, kKeepRatio, true);
  EXPECT_FALSE(ticked(kFixedWidth));
  EXPECT_FALSE(ticked(kFixedHeight));
}

// Keys typed into the size edits through the window system, as a person
// types them: only digits and backspace get in.
TEST_F(Panels, SizeEditsTakeOnlyDigits) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_RESIZEIMAGES);
  Pump();
  CResizePictures* panel = frame->ToolHost().resizePictures;
  ASSERT_NE(panel, nullptr);
  frame->Raise();
  for (int id : {1028, 1030}) {
    auto* edit = dynamic_cast<wxTextCtrl*>(panel->FindWindow(id));
    edit->ChangeValue(wxEmptyString);
    edit->SetFocus();
    Pump(10);
    ASSERT_EQ(wxWindow::FindFocus(), edit);
    wxUIActionSimulator typist;
    typist.Text("12a-3.,x 4");
    Pump(10);
    EXPECT_EQ(edit->GetValue(), "1234") << "edit " << id;
    typist.Char(WXK_BACK);
    Pump(10);
    EXPECT_EQ(edit->GetValue(), "123") << "edit " << id;
    // The digits typed reach the size the panel keeps.
    EXPECT_EQ(id == 1028 ? g_ResizeWidth : g_ResizeHeight, 123);
  }
}

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

// Collects what the process writes to its standard error while it lives.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    path_ = (fs::temp_directory_path() / ("pw-stderr-" + std::to_string(getpid()))).string();
    saved_ = dup(2);
    FILE* file = std::fopen(path_.c_str(), "w");
    dup2(fileno(file), 2);
    std::fclose(file);
  }
  ~StderrCapture() { Stop(); }
  std::string Stop() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
      std::ifstream in(path_);
      std::stringstream s;
      s << in.rdbuf();
      text_ = s.str();
      fs::remove(path_);
    }
    return text_;
  }

 private:
  std::string path_, text_;
  int saved_ = -1;
};

TEST_F(Panels, EveryPanelOpensWithoutToolkitComplaints) {
  StderrCapture capture;
  ASSERT_NE(Start(), nullptr);
  const struct {
    int command;
    const char* name;
  } tools[] = {{pw::cmd::ID_BUTTON_CLASSIFYFILES, "classify"},
               {pw::cmd::ID_BUTTON_RESIZEIMAGES, "resize"},
               {pw::cmd::ID_BUTTON_CLONEEXIF, "clone"},
               {pw::cmd::ID_BUTTON_CONVERTOR, "convert"},
               {pw::cmd::ID_BUTTON_MERGEIMGS, "merge"}};
  for (const auto& tool : tools) {
    frame->DoCommand(tool.command);
    Pump(10);
    Screenshot(std::string("panel-") + tool.name);
  }
  // The steppers beside the size edits, used: within 1.., with separators
  // as the system's up-down control writes them.
  auto step = [](wxWindow* panel, int stepper, bool up) {
    auto* control = dynamic_cast<pw::SizeStepper*>(panel->FindWindow(stepper));
    ASSERT_NE(control, nullptr);
    wxButton* button = up ? control->UpButton() : control->DownButton();
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
  };
  CResizePictures* resize = frame->ToolHost().resizePictures;
  SetText(resize, 1028, "1919");
  step(resize, 1029, true);
  EXPECT_EQ(dynamic_cast<wxTextCtrl*>(resize->FindWindow(1028))->GetValue(), "1,920");
  SetText(resize, 1030, "1");
  step(resize, 1031, false);
  EXPECT_EQ(dynamic_cast<wxTextCtrl*>(resize->FindWindow(1030))->GetValue(), "1");
  CMergeImgs* merge = frame->ToolHost().mergeImgs;
  SetText(merge, 1030, "1,000");
  step(merge, 1031, false);
  EXPECT_EQ(dynamic_cast<wxTextCtrl*>(merge->FindWindow(1030))->GetValue(), "999");
  Pump(5);
  const std::string log = capture.Stop();
  for (const char* complaint : {"Gtk-CRITICAL", "Gtk-WARNING", "for_size smaller"})
    EXPECT_EQ(log.find(complaint), std::string::npos) << complaint << " in:\n" << log;
}

}  // namespace
