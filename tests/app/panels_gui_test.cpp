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
#include <wx/frame.h>
#include <wx/image.h>
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
#include "tests/needed_programs.h"

namespace fs = std::filesystem;
using paneltest::Click;
using paneltest::Select;
using paneltest::SetText;
using paneltest::Tick;

namespace {

bool Sh(const std::string& command) {
  return pwtest::CheckProgramOf(command) && std::system(command.c_str()) == 0;
}
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
  // How much of the gauge is painted filled, as the X server shows it: the
  // share of its width, on its most filled row, in the fill's colour (a
  // saturated colour against the grey trough).
  double PaintedGauge() const {
    const wxRect rect = frame->GetProgressBar()->GetGauge()->GetScreenRect();
    const std::string shot = folder + "/gauge.png";
    if (!Sh("import-im6.q16 -window root -crop " + std::to_string(rect.width) + "x" + std::to_string(rect.height) +
            "+" + std::to_string(rect.x) + "+" + std::to_string(rect.y) + " +repage " + Quote(shot)))
      return -1;
    wxImage image(wxString::FromUTF8(shot));
    if (!image.IsOk()) return -1;
    int best = 0;
    for (int y = 0; y < image.GetHeight(); ++y) {
      int filled = 0;
      for (int x = 0; x < image.GetWidth(); ++x) {
        const int r = image.GetRed(x, y), g = image.GetGreen(x, y), b = image.GetBlue(x, y);
        filled += std::max({r, g, b}) - std::min({r, g, b}) > 60;
      }
      best = std::max(best, filled);
    }
    return double(best) / image.GetWidth();
  }
  // The gauge is painted full, as a person sees it when a run has ended.
  bool GaugePaintedFull() {
    for (int round = 0; round < 100; ++round) {
      frame->GetProgressBar()->GetGauge()->Update();
      Pump(5);
      if (PaintedGauge() >= 0.95) return true;
    }
    return false;
  }

  std::string Picture(const std::string& path, const std::string& size) {
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_TRUE(Sh("convert-im6.q16 -size " + size + " plasma:fractal -seed 3 " + Quote(path)));
    return path;
  }

  std::vector<int> barAtBox;
};

// ---- the progress bar at the end of a run ----------------------------------

TEST_F(Panels, ShortRunsEndWithTheBarFull) {
  const std::string a = Picture(folder + "/files/a.jpg", "640x480");
  const std::string b = Picture(folder + "/files/b.png", "300x500");
  Picture(folder + "/m1/x.png", "40x30");
  Picture(folder + "/m1/y.png", "30x40");
  Picture(folder + "/m2/z.png", "50x20");
  Picture(folder + "/m2/w.png", "20x50");
  ASSERT_NE(Start(), nullptr);

  // Two files resized.
  frame->DoCommand(pw::cmd::ID_BUTTON_RESIZEIMAGES);
  Pump();
  CResizePictures* resize = frame->ToolHost().resizePictures;
  ASSERT_NE(resize, nullptr);
  SetText(resize, pw::kIdPathField, a + "|" + b);
  SetText(resize, 1028, "64");
  SetText(resize, 1030, "64");
  Click(resize, 1011);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(fs::exists(folder + "/files/amorvalen.jpg"));
  EXPECT_EQ(barAtBox.back(), 100);
  EXPECT_EQ(SettledBar(), 100);
  EXPECT_EQ(GaugeValue(), 100);
  EXPECT_FALSE(frame->GetProgressBar()->IsPulsing());

  // A conversion with nothing to do: no target format ticked.
  frame->DoCommand(pw::cmd::ID_BUTTON_CONVERTOR);
  Pump();
  CConvertor* convert = frame->ToolHost().convertor;
  ASSERT_NE(convert, nullptr);
  SetText(convert, pw::kIdPathField, folder + "/m1");
  for (int id : {1018, 1019, 1020, 1021}) Tick(convert, id, false);
  messages.clear();
  Click(convert, 1022);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(SettledBar(), 100);
  EXPECT_EQ(GaugeValue(), 100);
  EXPECT_FALSE(frame->GetProgressBar()->IsPulsing());

  // Two folders merged.
  frame->DoCommand(pw::cmd::ID_BUTTON_MERGEIMGS);
  Pump();
  CMergeImgs* merge = frame->ToolHost().mergeImgs;
  ASSERT_NE(merge, nullptr);
  SetText(merge, pw::kIdPathField, folder + "/m1|" + folder + "/m2");
  SetText(merge, 1013, "*.png");
  SetText(merge, 1028, "100");
  SetText(merge, 1030, "100");
  messages.clear();
  Click(merge, 1036);
  ASSERT_FALSE(messages.empty());
  EXPECT_TRUE(fs::exists(folder + "/m1_Horizontal.png"));
  EXPECT_TRUE(fs::exists(folder + "/m2_Horizontal.png"));
  EXPECT_EQ(barAtBox.back(), 100);
  EXPECT_EQ(SettledBar(), 100);
  EXPECT_EQ(GaugeValue(), 100);
  EXPECT_TRUE(GaugePaintedFull()) << PaintedGauge();
  Screenshot("panels-merge-done");

  // Merged again, from the group of files and from one folder: each run
  // ends with the gauge full on the screen as well.
  for (const std::string& sources : {folder + "/m1/x.png|" + folder + "/m2/z.png", folder + "/m2"}) {
    SCOPED_TRACE(sources);
    for (const char* made : {"/m1_Horizontal.png", "/m2_Horizontal.png", "/m2/m2_Horizontal.png"})
      fs::remove(folder + made);
    fs::remove(folder + "/" + fs::path(folder).filename().string() + "_Horizontal.png");
    SetText(merge, pw::kIdPathField, sources);
    messages.clear();
    Click(merge, 1036);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(barAtBox.back(), 100);
    EXPECT_EQ(SettledBar(), 100);
    EXPECT_TRUE(GaugePaintedFull()) << PaintedGauge();
  }
}

// A worker's report still queued when its group has ended must not move
// the bar afterwards, and the end of a group never empties the bar.
TEST_F(Panels, LateProgressAndTheGroupEndLeaveTheBarAlone) {
  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CProgressInterface* progress = frame->GetTaskbarProgress();
  pw::StatusProgressBar* bar = frame->GetProgressBar();
  frame->ToolHost().ResetProgress();

  progress->BeginProgress();
  std::thread worker([progress] { progress->SetProgress(1, 2); });
  worker.join();  // queued for the UI thread, not delivered yet
  progress->EndProgress();
  frame->ToolHost().CompleteProgress();
  Pump(10);
  EXPECT_EQ(bar->GetPos(), 100);

  // A group that measured nothing: its end stops the pulsing and keeps the
  // bar where the run had put it.
  frame->ToolHost().ResetProgress();
  frame->SetPanelProgress(51);
  progress->BeginProgress();
  EXPECT_TRUE(bar->IsPulsing());
  progress->EndProgress();
  EXPECT_EQ(bar->GetPos(), 51);
  EXPECT_FALSE(bar->IsPulsing());
}

// Per-file progress runs inside the group's share of the bar, so the
// group positions of the run stay as they are.
TEST_F(Panels, PerFileProgressStaysInsideTheGroupsShare) {
  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CTaskBarProgress* progress = frame->GetTaskbarProgress();
  pw::StatusProgressBar* bar = frame->GetProgressBar();
  frame->ToolHost().ResetProgress();

  progress->BeginProgress();
  frame->SetPanelProgress(1);
  progress->SetGroupShare(1, 51);
  progress->SetProgress(0, 4);
  EXPECT_EQ(bar->GetPos(), 1);
  progress->SetProgress(2, 4);
  EXPECT_EQ(bar->GetPos(), 26);
  progress->SetProgress(4, 4);
  EXPECT_EQ(bar->GetPos(), 51);
  progress->EndProgress();

  progress->BeginProgress();
  frame->SetPanelProgress(51);
  progress->SetGroupShare(51, 100);
  progress->SetProgress(0, 3);
  EXPECT_EQ(bar->GetPos(), 51);
  progress->SetProgress(1, 3);
  EXPECT_EQ(bar->GetPos(), 67);
  progress->EndProgress();
  EXPECT_EQ(bar->GetPos(), 67);

  // Outside a tool's group (opening a picture) the whole range is used.
  frame->ResetRibbonProgress(1000);
  progress->BeginProgress();
  progress->SetProgress(1, 4);
  EXPECT_EQ(bar->GetPos(), 250);
  progress->EndProgress();
}

TEST_F(Panels, TwoFolderResizeShowsTheGroupPositionsAndEndsFull) {
  Picture(folder + "/d1/a.png", "200x100");
  Picture(folder + "/d1/b.png", "100x200");
  Picture(folder + "/d1/e.png", "120x90");
  Picture(folder + "/d2/c.png", "200x100");
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_RESIZEIMAGES);
  Pump();
  CResizePictures* resize = frame->ToolHost().resizePictures;
  SetText(resize, pw::kIdPathField, folder + "/d1|" + folder + "/d2");
  SetText(resize, 1013, "*.png");
  SetText(resize, 1028, "50");
  SetText(resize, 1030, "50");

  // Every position the bar takes, in order.
  std::vector<int> positions;
  wxGauge* gauge = frame->GetProgressBar()->GetGauge();
  pw::SetProgressBarWatch([&](int pos) { positions.push_back(pos); });
  Click(resize, 1011);
  Pump(20);
  pw::SetProgressBarWatch({});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(fs::exists(folder + "/d2/cmorvalen.png"));
  // Folder 0 of 2 starts at 1 and fills to 51; folder 1 starts at 51 and
  // fills to 100; nothing moves the bar after the end.
  ASSERT_FALSE(positions.empty());
  EXPECT_NE(std::find(positions.begin(), positions.end(), 1), positions.end());
  auto at51 = std::find(positions.begin(), positions.end(), 51);
  ASSERT_NE(at51, positions.end());
  EXPECT_TRUE(std::all_of(positions.begin(), at51, [](int p) { return p == 0 || (p >= 1 && p <= 51); }));
  // The first folder's files move the bar on from its start, inside its
  // share, before the second folder starts.
  EXPECT_NE(std::find_if(positions.begin(), at51, [](int p) { return p > 1 && p < 51; }), at51)
      << "the bar stood still while the first folder's files were done";
  EXPECT_TRUE(std::all_of(at51, positions.end(), [](int p) { return p >= 51; }));
  EXPECT_EQ(positions.back(), 100);
  EXPECT_EQ(gauge->GetValue(), 100);
}

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
  const std::string trees = folder + "/trees", receiving = trees + "/receiving";
  const std::string gone = trees + "/gone";
  const struct {
    std::string source, receiving, text;
  } refused[] = {
      {trees, "", "输出路径不合法！"},
      {receiving, receiving + "/", "输出路径不能等于输入路径！"},
      {trees, receiving, "输入目录与输出目录不能相互包含！"},
      {trees, gone, "输出目录不存在：\n" + gone},
      {gone, receiving, "输入目录不存在：\n" + gone},
      {"", gone, "输出目录不存在：\n" + gone},
  };
  for (const auto& paths : refused) {
    messages.clear();
    SetText(panel, 1007, paths.source);
    SetText(panel, 1008, paths.receiving);
    Click(panel, 1018);
    // Only the refusal: no question first.
    ASSERT_EQ(messages.size(), 1u) << paths.source << " / " << paths.receiving;
    EXPECT_EQ(messages[0], wxString::FromUTF8(paths.text));
  }
  EXPECT_FALSE(fs::exists(receiving + "/log.log"));  // nothing ran
  EXPECT_FALSE(fs::exists(gone));

  // An empty source field is the one way to clear: the question says so.
  messages.clear();
  SetText(panel, 1007, "");
  SetText(panel, 1008, receiving);
  Click(panel, 1018);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], wxString::FromUTF8("输入目录为空，将清除以下目录中所有图片的EXIF信息：\n" +
                                            receiving + "\n\n是否继续？"));
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

// The status bar laid out in a window far too small for it, as a window
// manager may map the main window before giving it its size: the gauge
// waits for room instead of asking the toolkit for a negative size.
TEST_F(Panels, TheGaugeSitsOutATooSmallStatusBar) {
  StderrCapture capture;
  auto* window = new wxFrame(nullptr, wxID_ANY, "bar");
  auto* bar = new pw::CRibbonStatusBar(window, wxID_ANY);
  window->SetStatusBar(bar);
  bar->AddElements();
  window->SetSize(600, 200);
  window->Show();
  for (wxSize size : {wxSize(600, 40), wxSize(30, 1), wxSize(1, 1), wxSize(600, 40)}) {
    bar->SetSize(size);
    Pump(5);
  }
  EXPECT_GT(bar->GetProgressBar()->GetGauge()->GetSize().y, 0);
  window->Destroy();
  Pump(2);
  const std::string log = capture.Stop();
  EXPECT_EQ(log.find("Gtk-CRITICAL"), std::string::npos) << log;
}

}  // namespace
