// Ending the program: every way out saves the settings (with what changed
// during the run) before the tool panels are destroyed.
#include <csignal>
#include <fstream>
#include <sstream>

#include "app/CommandIds.h"
#include "app/Lifecycle.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "gui_fixture.h"

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
  Stop(GetParam());
  pw::SetLifecycleObserver({});

  EXPECT_FALSE(Running());
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
  frame->CallAfter([] { std::raise(SIGTERM); });
  int answer = pw::MessageBox("waiting");
  EXPECT_EQ(answer, wxCANCEL);
  for (int i = 0; i < 50 && Running(); ++i) Pump(2);
  EXPECT_FALSE(Running());
  EXPECT_EQ(IniValue("SEL_INDEX"), 2);
}
