// The sorting and merge panels in the real window under Xvfb: runs started
// with the Start button, the progress bar moving, the end-of-run box, the
// dated run log, dropped files, and the settings each run copies back.
#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <string_view>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/StatusBar.h"
#include "app/ToolPanelHost.h"
#include "app/panels/ClassifyFiles.h"
#include "app/panels/MergeImgs.h"
#include "imagelib/PxImage.h"
#include "platform/paths.h"
#include "tests/app/gui_fixture.h"
#include "tests/tools/panel_driver.h"
#include "tools_test_support.h"

using namespace tooltest;
using paneltest::SetText;
using paneltest::Select;
namespace fs = std::filesystem;

// The tools open each picture with fopen. Armed, the opening of the n-th
// picture in a folder waits until the test lets it go (at most a minute),
// so a run is held part-way at a known point until the window has been
// seen doing what the test looks for, however fast or slow the machine.
namespace heldopen {
std::mutex mutex;
std::condition_variable changed;
std::string folder;
int holdAt = 0, opened = 0;
bool released = false;

void Arm(const std::string& inFolder, int nth) {
  std::lock_guard<std::mutex> lock(mutex);
  folder = inFolder + "/";
  holdAt = nth;
  opened = 0;
  released = false;
}
void Release() {
  std::lock_guard<std::mutex> lock(mutex);
  released = true;
  changed.notify_all();
}
void Disarm() {
  std::lock_guard<std::mutex> lock(mutex);
  holdAt = 0;
  released = true;
  changed.notify_all();
}
}  // namespace heldopen

// Named by its symbol: this file may be built with 64-bit file offsets,
// where the headers rename fopen, while the tools call fopen itself.
extern "C" FILE* HeldFopen(const char* path, const char* mode) __asm__("fopen");
extern "C" FILE* HeldFopen(const char* path, const char* mode) {
  using Open = FILE* (*)(const char*, const char*);
  static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "fopen"));
  {
    std::unique_lock<std::mutex> lock(heldopen::mutex);
    if (heldopen::holdAt > 0 && path && std::string_view(path).starts_with(heldopen::folder) &&
        ++heldopen::opened == heldopen::holdAt)
      heldopen::changed.wait_for(lock, std::chrono::seconds(60), [] { return heldopen::released; });
  }
  return real(path, mode);
}

namespace {

class ToolPanels : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    // Yes to every question; every box's text and title is kept.
    pw::SetMessageBoxHook([this](const wxString& text, long style) {
      messages.push_back(text);
      captions.push_back(pw::LastMessageBoxCaption());
      if (frame && frame->GetProgressBar()) barAtBox.push_back(frame->GetProgressBar()->GetPos());
      return (style & wxYES_NO) ? wxYES : wxOK;
    });
  }

  // Only an enabled button is clicked: a run keeps its panel disabled.
  void Click(wxWindow* panel, int id) {
    auto* button = dynamic_cast<wxButton*>(panel->FindWindow(id));
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->IsEnabled());
    paneltest::Click(panel, id);
  }
  std::string RunLog() const {
    if (!fs::is_directory(folder + "/pixelwharf")) return std::string();
    for (const auto& entry : fs::directory_iterator(folder + "/pixelwharf"))
      if (entry.path().extension() == ".log") return pwtest::ReadAll(entry.path().string());
    return std::string();
  }
  std::string StatusText(int pane) const {
    return frame->GetStatusExElement(pane)->GetText().ToStdString(wxConvUTF8);
  }

  std::vector<wxString> captions;
  std::vector<int> barAtBox;
};

// Samples the status-bar progress bar while a run keeps the window alive;
// a position part-way lets a held picture go.
class BarSampler : public wxTimer {
 public:
  explicit BarSampler(CMainFrame* frame) : frame_(frame) { Start(2); }
  void Notify() override {
    const int position = frame_->GetProgressBar()->GetPos();
    positions.insert(position);
    if (position > 0 && position < 100) heldopen::Release();
  }
  std::set<int> positions;

 private:
  CMainFrame* frame_;
};

TEST_F(ToolPanels, SortAndRestoreFromThePanel) {
  const std::string photos = folder + "/相册 2016";
  fs::create_directories(photos);
  // Sorting PNGs by size decodes every one; the ninth picture opened waits
  // until the window has shown the bar part-way.
  ASSERT_TRUE(Sh("convert-im6.q16 -size 1200x900 plasma:fractal -seed 1 " + Quote(photos + "/p0.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 600x400 plasma:fractal -seed 2 " + Quote(photos + "/q0.png")));
  for (int i = 1; i < 16; ++i) {
    fs::copy_file(photos + "/p0.png", photos + "/p" + std::to_string(i) + ".png");
    fs::copy_file(photos + "/q0.png", photos + "/q" + std::to_string(i) + ".png");
  }
  const std::string before = TreeDigest(photos);

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  Pump();
  CClassifyFiles* panel = frame->ToolHost().classifyFiles;
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(panel->IsShown());
  SetText(panel, pw::kIdPathField, photos);
  Select(panel, 1045);  // by resolution
  Screenshot("classify-panel");

  heldopen::Arm(photos, 9);
  BarSampler sampler(frame);
  Click(panel, 1006);
  sampler.Stop();
  heldopen::Disarm();

  // The question first, then the end-of-run box with the elapsed time.
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(captions[0], wxString(L"提示"));
  EXPECT_EQ(captions[1], wxString(L"終わり！"));
  EXPECT_TRUE(std::regex_match(messages[1].ToStdString(wxConvUTF8),
                               std::regex("耗时:\\d+分\\d+秒\n文件整理到目录中啦！")))
      << messages[1];
  EXPECT_EQ(barAtBox.back(), 100);
  // The bar moved through positions between the start and the end.
  EXPECT_TRUE(std::any_of(sampler.positions.begin(), sampler.positions.end(),
                          [](int p) { return p > 0 && p < 100; }))
      << "positions seen: " << sampler.positions.size();
  EXPECT_EQ(StatusText(0), "处理完成！");
  EXPECT_EQ(StatusText(1), "OVER!");
  EXPECT_TRUE(panel->IsEnabled());
  EXPECT_TRUE(fs::exists(photos + "/1200_900/p15.png"));
  EXPECT_TRUE(fs::exists(photos + "/600_400/q0.png"));
  EXPECT_TRUE(fs::exists(photos + "/log.log"));
  EXPECT_EQ(frame->Settings().selIndex, 0);
  EXPECT_EQ(frame->Settings().classifyMethod, 1);
  EXPECT_EQ(frame->Settings().classifyDirValue, pw::NarrowToWide(photos));

  const std::string log = RunLog();
  const std::regex line("^\\d+分\\d+秒\t\t\\d{4}年\\d{2}月\\d{2}日 \\d{2}:\\d{2}:\\d{2}\t\t(.*)\n$");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(log, m, line)) << log;
  EXPECT_EQ(m[1].str(), photos);
  Screenshot("classify-done");

  // Restore from the same panel: no question, the tree as it was.
  messages.clear();
  captions.clear();
  Select(panel, 1016);
  EXPECT_FALSE(panel->FindWindow(1018)->IsEnabled());
  Click(panel, 1006);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(captions[0], wxString(L"終わり！"));
  EXPECT_EQ(TreeDigest(photos), before);
  EXPECT_EQ(frame->Settings().classifyIndex, 0);
}

// Asks the main window to close once, while a run keeps the panel disabled.
class CloseDuringRun : public wxTimer {
 public:
  CloseDuringRun(CMainFrame* frame, wxWindow* panel) : frame_(frame), panel_(panel) { Start(2); }
  void Notify() override {
    if (tried || panel_->IsEnabled()) return;
    tried = true;
    closed = frame_->Close(false);
    heldopen::Release();
  }
  bool tried = false;
  bool closed = true;

 private:
  CMainFrame* frame_;
  wxWindow* panel_;
};

TEST_F(ToolPanels, TheWindowDoesNotCloseUnderARun) {
  const std::string photos = folder + "/photos";
  fs::create_directories(photos);
  ASSERT_TRUE(Sh("convert-im6.q16 -size 1200x900 plasma:fractal -seed 3 " + Quote(photos + "/p0.png")));
  for (int i = 1; i < 12; ++i)
    fs::copy_file(photos + "/p0.png", photos + "/p" + std::to_string(i) + ".png");

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  Pump();
  CClassifyFiles* panel = frame->ToolHost().classifyFiles;
  ASSERT_NE(panel, nullptr);
  SetText(panel, pw::kIdPathField, photos);
  Select(panel, 1045);  // by resolution: every picture is decoded

  // The second picture opened waits until the close has been tried.
  heldopen::Arm(photos, 2);
  CloseDuringRun closer(frame, panel);
  Click(panel, 1006);
  closer.Stop();
  heldopen::Disarm();

  ASSERT_TRUE(closer.tried);
  EXPECT_FALSE(closer.closed);
  EXPECT_FALSE(frame->IsBeingDeleted());
  EXPECT_EQ(frame->ToolHost().classifyFiles, panel);
  ASSERT_EQ(captions.size(), 2u);
  EXPECT_EQ(captions[1], wxString(L"終わり！"));
  EXPECT_TRUE(fs::exists(photos + "/1200_900/p11.png"));
}

TEST_F(ToolPanels, MergeFromThePanelAndItsChecks) {
  const std::string pics = folder + "/pics";
  fs::create_directories(pics);
  ASSERT_TRUE(Sh("convert-im6.q16 -size 200x100 xc:red " + Quote(pics + "/a.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 50x50 xc:blue " + Quote(pics + "/b.png")));

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_MERGEIMGS);
  Pump();
  CMergeImgs* panel = frame->ToolHost().mergeImgs;
  ASSERT_NE(panel, nullptr);
  SetText(panel, pw::kIdPathField, pics);
  SetText(panel, 1013, "*.png");

  // Width and height 0: refused whatever the check boxes say.
  SetText(panel, 1028, "0");
  SetText(panel, 1030, "0");
  Click(panel, 1036);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], wxString(L"宽高不合法！"));
  EXPECT_EQ(captions[0], wxString(L"参数非法！"));
  EXPECT_FALSE(fs::exists(folder + "/pics_Vertical.png"));

  // A fixed height of 0 or below: the same answer, before anything runs.
  Select(panel, 1035);
  dynamic_cast<wxCheckBox*>(panel->FindWindow(1042))->SetValue(true);
  SetText(panel, 1028, "800");
  for (const char* height : {"-5", "0", "-1,000"}) {
    SCOPED_TRACE(height);
    messages.clear();
    captions.clear();
    SetText(panel, 1030, height);
    Click(panel, 1036);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], wxString(L"固定的宽度或高度不合法，什么也没有做！"));
    EXPECT_EQ(captions[0], wxString(L"参数非法！"));
    EXPECT_FALSE(fs::exists(folder + "/pics_Horizontal.png"));
    EXPECT_EQ(RunLog(), "") << "no run was made";
    EXPECT_TRUE(panel->IsEnabled());
  }
  dynamic_cast<wxCheckBox*>(panel->FindWindow(1042))->SetValue(false);
  messages.clear();
  captions.clear();

  Select(panel, 1038);
  EXPECT_TRUE(panel->FindWindow(1028)->IsEnabled());
  EXPECT_FALSE(panel->FindWindow(1030)->IsEnabled());
  dynamic_cast<wxCheckBox*>(panel->FindWindow(1041))->SetValue(true);
  SetText(panel, 1028, "1,000");
  Screenshot("merge-panel");
  Click(panel, 1036);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(std::regex_match(messages[0].ToStdString(wxConvUTF8),
                               std::regex("耗时:\\d+分\\d+秒\n\n处理完成啦！")));
  EXPECT_EQ(captions[0], wxString(L"終わり！"));
  PxImage merged;
  ASSERT_TRUE(merged.LoadFile(pw::NarrowToWide(folder + "/pics_Vertical.png"), kFormatUnknown));
  EXPECT_EQ(merged.Width(), 1000u);
  EXPECT_EQ(merged.Height(), 500u + 1000u);
  EXPECT_EQ(frame->Settings().mergeWidth, 1000);
  EXPECT_EQ(frame->Settings().mergeIndex, 1);
  EXPECT_EQ(frame->Settings().selIndex, 4);
  EXPECT_NE(RunLog().find("\t\t" + pics + "\n"), std::string::npos);
}

// A panel made before another tool's run copies back only its own section.
TEST_F(ToolPanels, ARunNeverRevertsAnotherToolsSettings) {
  const std::string empty = folder + "/empty";
  fs::create_directories(empty);
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  frame->DoCommand(pw::cmd::ID_BUTTON_MERGEIMGS);
  Pump();
  CMergeImgs* merge = frame->ToolHost().mergeImgs;
  SetText(merge, pw::kIdPathField, empty);
  SetText(merge, 1030, "777");
  Click(merge, 1036);
  EXPECT_EQ(frame->Settings().mergeHeight, 777);

  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  Pump();
  CClassifyFiles* sort = frame->ToolHost().classifyFiles;
  SetText(sort, pw::kIdPathField, empty);
  Click(sort, 1006);
  EXPECT_EQ(frame->Settings().mergeHeight, 777);
  EXPECT_EQ(frame->Settings().selIndex, 0);
  Stop();
  const std::string ini = ReadIni();
  const size_t section = ini.find("[MERGE_IMGS]");
  ASSERT_NE(section, std::string::npos);
  EXPECT_NE(ini.find("HEIGHT = 777", section), std::string::npos) << ini;
}

TEST_F(ToolPanels, DroppedItemsFillThePathField) {
  const std::string a = MakeFile("a.jpg"), b = folder + "/folder b";
  fs::create_directories(b);
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  Pump();
  CClassifyFiles* panel = frame->ToolHost().classifyFiles;
  auto* field = dynamic_cast<wxTextCtrl*>(panel->FindWindow(pw::kIdPathField));

  panel->OnDropSources({pw::NarrowToWide(a), pw::NarrowToWide(folder + "/gone"), pw::NarrowToWide(b)});
  EXPECT_EQ(field->GetValue().ToStdString(wxConvUTF8), a + "|" + b);
  EXPECT_EQ(StatusText(0), "多个文件(夹)加载成功！");
  panel->OnDropSources({pw::NarrowToWide(b)});
  EXPECT_EQ(StatusText(0), "folder b 加载成功！");
  panel->OnDropSources({pw::NarrowToWide(folder + "/gone")});
  EXPECT_EQ(field->GetValue(), wxString());
  EXPECT_EQ(StatusText(0), "什么也没有发生！");

  frame->DoCommand(pw::cmd::ID_BUTTON_MERGEIMGS);
  Pump();
  frame->ToolHost().mergeImgs->OnDropSources({pw::NarrowToWide(a)});
  EXPECT_EQ(StatusText(0), "a.jpg 加载成功！");
}

}  // namespace

// The end box tells every failure: how many, and the log that lists them, or
// the failed files themselves where no log is kept, or that no log could be
// written. A clean run still says only that it is done.
TEST_F(ToolPanels, TheEndBoxTellsFailures) {
  const std::string sorted = folder + "/sorted";
  fs::create_directories(sorted);
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(sorted + "/fine.png")));
  // A name the move log cannot hold: the file stays and is told.
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(sorted + "/a->b.png")));
  // Nor one with a line end: the box names it on one line, as a log would.
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(sorted + "/a\nb.png")));
  // A move log that cannot be written: nothing moves.
  const std::string nolog = folder + "/nolog";
  fs::create_directories(nolog + "/log.log");
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(nolog + "/a.png")));
  // The user's own log.log, and a picture that does not load.
  const std::string merged = folder + "/merged";
  fs::create_directories(merged);
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(merged + "/a.png")));
  { std::ofstream(merged + "/b.png") << "not a picture"; }
  { std::ofstream(merged + "/log.log") << "my own notes\n"; }
  const std::string dropped = folder + "/dropped";
  fs::create_directories(dropped);
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(dropped + "/a.png")));
  { std::ofstream(dropped + "/b.png") << "not a picture"; }

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  Pump();
  CClassifyFiles* classify = frame->ToolHost().classifyFiles;
  ASSERT_NE(classify, nullptr);
  Select(classify, 1045);  // by resolution
  SetText(classify, pw::kIdPathField, sorted);
  Click(classify, 1006);
  // Every file fails before its group starts: the panes still tell the
  // run's end, not the panel's hints.
  frame->DoCommand(pw::cmd::ID_BUTTON_CLASSIFYFILES);
  Pump();
  ASSERT_EQ(StatusText(0), "有log.log时可以恢复位置！");
  SetText(classify, pw::kIdPathField, nolog);
  Click(classify, 1006);
  EXPECT_EQ(StatusText(0), "处理完成！");
  EXPECT_EQ(StatusText(1), "OVER!");
  frame->DoCommand(pw::cmd::ID_BUTTON_MERGEIMGS);
  Pump();
  CMergeImgs* merge = frame->ToolHost().mergeImgs;
  ASSERT_NE(merge, nullptr);
  SetText(merge, 1013, "*.png");
  SetText(merge, pw::kIdPathField, merged);
  Click(merge, 1036);
  SetText(merge, pw::kIdPathField, dropped + "/a.png|" + dropped + "/b.png");
  Click(merge, 1036);
  fs::remove(dropped + "/dropped_Horizontal.png");  // kept from the run before
  SetText(merge, pw::kIdPathField, dropped + "/a.png");
  Click(merge, 1036);

  struct Expected {
    const char* what;
    std::string box;  // after the elapsed time and an empty line
  } expected[] = {
      {"sort: files stay, no log lists them",
       "有 2 个文件处理失败！\n没有日志记录的失败文件：\n  " + sorted + "/a\\nb.png\n  " + sorted + "/a->b.png\n"},
      {"sort: the move log cannot be written",
       "有 1 个文件处理失败！\n没有日志记录的失败文件：\n  " + nolog + "/a.png\n无法写入日志：\n  " +
           nolog + "/log.log\n"},
      {"merge: a picture failed; the user's log.log is kept",
       "有 1 个文件处理失败！\n失败记录见日志：\n  " + merged + "/log-1.log\n"
       "原有的 log.log 不是本程序写的，未覆盖；结果日志另存为：\n  " + merged + "/log-1.log\n"},
      {"merge of dropped files: a picture failed, no log for them",
       "有 1 个文件处理失败！\n没有日志记录的失败文件：\n  " + dropped + "/dropped_Horizontal.png\n"},
      {"a clean run", "处理完成啦！"},
  };
  // The sort's two questions, then the end boxes.
  ASSERT_EQ(messages.size(), 2u + std::size(expected));
  std::vector<std::string> boxes;
  for (size_t i = 0; i < messages.size(); ++i)
    if (captions[i] == wxString(L"終わり！")) boxes.push_back(messages[i].ToStdString(wxConvUTF8));
  ASSERT_EQ(boxes.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].what);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(boxes[i], m, std::regex("^耗时:\\d+分\\d+秒\n\n"))) << boxes[i];
    EXPECT_EQ(m.suffix().str(), expected[i].box);
  }
  EXPECT_TRUE(fs::exists(sorted + "/a->b.png"));
  EXPECT_TRUE(fs::exists(sorted + "/8_8/fine.png"));
  EXPECT_EQ(pwtest::ReadAll(merged + "/log.log"), "my own notes\n");
}
