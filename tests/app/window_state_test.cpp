// The look, the window's placement and the recent files are kept beside the
// settings file, by the same folder rule (PIXELWHARF_HOME here), and nowhere
// under the user's configuration folder.
#include <filesystem>
#include <fstream>

#include "app/CommandIds.h"
#include "app/Looks.h"
#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "gui_fixture.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

TEST_F(GuiTest, WindowStateLivesBesideTheSettingsFile) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_VIEW_APPLOOK_OFF_2007_SILVER);
  Stop();

  const fs::path state = CPixelwharfApp::WindowStateFilePath();
  EXPECT_EQ(state.parent_path(), fs::path(IniPath()).parent_path());
  EXPECT_EQ(state.parent_path(), fs::path(folder + "/pixelwharf"));
  std::ifstream in(state);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("ApplicationLook=217"), std::string::npos) << text;
  EXPECT_NE(text.find("[Workspace]"), std::string::npos) << text;
  // Nothing in the configuration folder of the user.
  EXPECT_TRUE(fs::is_empty(folder + "/config"));

  // And the next start reads it from there.
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(StoredLook(), 217);
  EXPECT_EQ(pw::g_nAppLook, pw::cmd::ID_VIEW_APPLOOK_OFF_2007_SILVER);
}
