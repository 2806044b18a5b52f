// Ending the program: every way out saves the settings (with what changed
// during the run) before the tool panels are destroyed, and ends promptly,
// also while a message box is up.
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "app/CommandIds.h"
#include "app/Lifecycle.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "app/TaskBarProgress.h"
#include "gui_fixture.h"
#include "platform/batch_runner.h"

using namespace pw::cmd;

class ShutdownWays : public GuiTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShutdownWays, SavesSettingsBeforeDestroyingPanels) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_BUTTON_RESIZEIMAGES);
  frame->DoCommand(ID_BUTTON_MERGEIMGS);  // three panels now exist; SEL_INDEX 4
  ASSERT_EQ(IniValue("SEL_INDEX", -1), -1) << "nothing written before the end";

  std::vector<std::string> events;
  long selAtFirstPanel = -999;
  pw::SetLifecycleObserver([&](const std::string& e) {
    if (e.rfind("panel-destroyed", 0) == 0 && selAtFirstPanel == -999) selAtFirstPanel = IniValue("SEL_INDEX");
    events.push_back(e);
  });
  const UiThreadClock ending;
  Stop(GetParam());
  const auto took = ending.Elapsed();
  pw::SetLifecycleObserver({});

  EXPECT_FALSE(Running());
  EXPECT_LE(took.count(), pwtest::kLongestUiWait.count()) << "the window took that long to close";
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0], "settings-saved");
  EXPECT_EQ(events[1], "panel-destroyed CClassifyFiles");
  EXPECT_EQ(events[2], "panel-destroyed CResizePictures");
  EXPECT_EQ(events[3], "panel-destroyed CMergeImgs");
  EXPECT_EQ(selAtFirstPanel, 4);
  EXPECT_EQ(IniValue("CAT_INDEX"), 2);
}

INSTANTIATE_TEST_SUITE_P(Ways, ShutdownWays, ::testing::Values("exit", "close", "sigterm", "sigint"));

TEST_F(GuiTest, SettingsFileIsRewrittenWholeAtExit) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\nSEL_INDEX = 3\r\n\r\n[OLD]\r\nKEY = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  Stop();
  std::string ini = ReadIni();
  EXPECT_EQ(ini.rfind("\xEF\xBB\xBF[SEL_INDEX]", 0), 0u) << ini;
  EXPECT_EQ(IniValue("CAT_INDEX"), 1);
  EXPECT_EQ(IniValue("SEL_INDEX"), 3);
  EXPECT_EQ(ini.find("[OLD]"), std::string::npos);
  EXPECT_NE(ini.find("[MERGE_IMGS]"), std::string::npos);
}

TEST_F(GuiTest, TerminationWhileAMessageIsUpEndsTheMessageAndSaves) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_BUTTON_CLONEEXIF);
  pw::SetMessageBoxHook({});  // a real box this time
  std::optional<UiThreadClock> sinceSignal;  // started as the box's loop raises the signal
  frame->CallAfter([&] {
    sinceSignal.emplace();
    std::raise(SIGTERM);
  });
  int answer = pw::MessageBox("waiting");
  EXPECT_EQ(answer, wxCANCEL);
  EXPECT_TRUE(WaitFor([&] { return !Running(); })) << "the window was still there a minute after the signal";
  ASSERT_TRUE(sinceSignal);
  EXPECT_LE(sinceSignal->Elapsed().count(), pwtest::kLongestUiWait.count()) << "the program took that long to end";
  EXPECT_EQ(IniValue("SEL_INDEX"), 2);
}

// A close request that arrives while a tool's handler is still running (its
// message box is up, or its batch run is pumping the window) waits until the
// handler has returned: the close destroys the panels and the progress object
// that handler is using.
TEST_F(GuiTest, TerminationDuringAPanelsMessageWaitsForItsHandler) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_BUTTON_CLONEEXIF);
  wxWindow* panel = frame->ToolHost().GetPanel(2);
  ASSERT_NE(panel, nullptr);
  pw::SetMessageBoxHook({});  // a real box, owned by the panel as its own boxes are
  std::optional<UiThreadClock> sinceSignal;  // started as the box's loop raises the signal
  frame->CallAfter([&] {
    sinceSignal.emplace();
    std::raise(SIGTERM);
  });
  EXPECT_EQ(pw::MessageBox("waiting", wxOK, panel), wxCANCEL);
  // Back in the "handler": the panel must still be there.
  EXPECT_FALSE(frame->IsShutDown());
  EXPECT_EQ(frame->ToolHost().GetPanel(2), panel);
  EXPECT_TRUE(WaitFor([&] { return !Running(); })) << "the window was still there a minute after the signal";
  ASSERT_TRUE(sinceSignal);
  EXPECT_LE(sinceSignal->Elapsed().count(), pwtest::kLongestUiWait.count()) << "the program took that long to end";
  EXPECT_EQ(IniValue("SEL_INDEX"), 2);
}

namespace {
CMainFrame* g_closingFrame = nullptr;
std::atomic<bool> g_closeAsked{false};
int CloseAskingWorker(const std::wstring&, const std::wstring&, const uint64_t& index) {
  if (index == 2)
    g_closingFrame->CallAfter([] {
      g_closingFrame->Close();  // as the window's close button does
      g_closeAsked = true;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  return 0;
}
}  // namespace

TEST_F(GuiTest, CloseRequestDuringABatchRunWaitsForTheRun) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_BUTTON_RESIZEIMAGES);
  frame->CreateTaskbarProgress();
  CProgressInterface* progress = frame->GetTaskbarProgress();
  g_closingFrame = frame;
  FileList sources(12, L"/nonexistent/a"), destinations(12, L"/nonexistent/b");
  EXPECT_EQ(ProcessVector(sources, destinations, CloseAskingWorker, progress, 2), 0);
  const UiThreadClock sinceTheRun;
  EXPECT_TRUE(g_closeAsked.load());
  // The run's progress object and panel lived through the whole run.
  EXPECT_FALSE(frame->IsShutDown());
  EXPECT_EQ(frame->GetTaskbarProgress(), progress);
  EXPECT_NE(frame->ToolHost().GetPanel(1), nullptr);
  // Once the run is over, the window closes as asked, promptly, saving the
  // settings.
  EXPECT_TRUE(WaitFor([&] { return !Running(); }));
  EXPECT_LE(sinceTheRun.Elapsed().count(), pwtest::kLongestUiWait.count()) << "the window took that long to close";
  EXPECT_EQ(IniValue("SEL_INDEX"), 1);
}
