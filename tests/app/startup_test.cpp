// Start-up: the layout chosen from the settings file, the file written at
// exit, and the values that name no category or tool.
#include <filesystem>

#include <wx/display.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "app/StatusBar.h"
#include "app/ToolPanelHost.h"
#include "gui_fixture.h"

using namespace pw::cmd;

namespace {

struct StartCase {
  const char* name;
  const char* ini;      // SEL_INDEX section written before the start; null: no file
  int category;         // the ribbon category active after start-up
  bool fixed;           // the fixed 800 x 600 tools layout
  bool centred;         // moved to 800 x 600 at the centre of the screen
  int shownTool;        // panel shown, -1 none
  long catAtExit;       // CAT_INDEX in the file after exit
};

const StartCase kStarts[] = {
    {"NoSettingsFile", nullptr, 2, true, true, 0, 2},
    {"Viewer", "[SEL_INDEX]\r\nCAT_INDEX = 1\r\nSEL_INDEX = 0\r\n", 1, false, false, -1, 1},
    {"CategoryZero", "[SEL_INDEX]\r\nCAT_INDEX = 0\r\nSEL_INDEX = 0\r\n", 1, false, true, -1, 0},
    {"CategoryThree", "[SEL_INDEX]\r\nCAT_INDEX = 3\r\nSEL_INDEX = 0\r\n", 1, false, true, -1, 3},
    {"CategoryMinusOne", "[SEL_INDEX]\r\nCAT_INDEX = -1\r\nSEL_INDEX = 0\r\n", 1, false, true, -1, -1},
    {"ToolSeven", "[SEL_INDEX]\r\nCAT_INDEX = 2\r\nSEL_INDEX = 7\r\n", 2, true, true, -1, 2},
    {"MergeTool", "[SEL_INDEX]\r\nCAT_INDEX = 2\r\nSEL_INDEX = 4\r\n", 2, true, true, 4, 2},
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartTable : public GuiTest, public ::testing::WithParamInterface<StartCase> {};

constexpr int kToolButtons[5] = {ID_BUTTON_CLASSIFYFILES, ID_BUTTON_RESIZEIMAGES, ID_BUTTON_CLONEEXIF,
                                 ID_BUTTON_CONVERTOR, ID_BUTTON_MERGEIMGS};

}  // namespace

TEST_P(StartTable, OpensInTheLayoutTheSettingsName) {
  const StartCase& c = GetParam();
  if (c.ini) WriteIni(c.ini);
  ASSERT_NE(Start(), nullptr);

  EXPECT_EQ(frame->GetActiveCategory(), c.category);
  EXPECT_EQ(frame->IsFixedLayout(), c.fixed);
  wxRect rect = frame->GetRect();
  wxRect area = wxDisplay(0u).GetClientArea();
  wxRect centred(area.x + area.width / 2 - 400, area.y + area.height / 2 - 300, 800, 600);
  if (c.centred) {
    EXPECT_EQ(rect, centred);
  }
  if (c.fixed) {
    // Not resizable: no sizing border, no maximise box, and the size is pinned.
    EXPECT_FALSE(frame->HasFlag(wxRESIZE_BORDER));
    EXPECT_FALSE(frame->HasFlag(wxMAXIMIZE_BOX));
    EXPECT_EQ(frame->GetMinSize(), wxSize(800, 600));
    EXPECT_EQ(frame->GetMaxSize(), wxSize(800, 600));
  } else {
    EXPECT_TRUE(frame->HasFlag(wxRESIZE_BORDER));
    EXPECT_TRUE(frame->HasFlag(wxMAXIMIZE_BOX));
    EXPECT_NE(frame->GetMaxSize(), wxSize(800, 600));
  }

  const ToolPanelHost& host = frame->ToolHost();
  for (int tool = 0; tool < 5; ++tool) {
    wxWindow* panel = host.GetPanel(tool);
    if (tool == c.shownTool) {
      ASSERT_NE(panel, nullptr);
      EXPECT_TRUE(panel->IsShown());
      EXPECT_FALSE(frame->IsCommandEnabled(kToolButtons[tool])) << "button of the tool on show";
    } else {
      EXPECT_EQ(panel, nullptr) << "tool " << tool << " created without being shown";
      if (c.category == 2) {
        EXPECT_TRUE(frame->IsCommandEnabled(kToolButtons[tool]));
      }
    }
  }

  Stop();
  ASSERT_TRUE(std::filesystem::exists(IniPath()));
  EXPECT_EQ(IniValue("CAT_INDEX"), c.catAtExit);
}

INSTANTIATE_TEST_SUITE_P(Starts, StartTable, ::testing::ValuesIn(kStarts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GuiTest, DefaultStartShowsTheSortingHintsAndTheInitialReadouts) {
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(frame->GetStatusElement(0)->GetText(), wxString::FromUTF8("处理进度"));
  EXPECT_EQ(frame->GetStatusExElement(0)->GetText(), wxString::FromUTF8("有log.log时可以恢复位置！"));
  EXPECT_EQ(frame->GetStatusExElement(1)->GetText(), wxString::FromUTF8("准备就绪！"));
  EXPECT_EQ(frame->GetStatusElement(1)->GetID(), ID_STATUSBAR_PROGRESS);
  EXPECT_EQ(frame->GetStatusElement(3), nullptr);
  EXPECT_EQ(frame->GetStatusExElement(2), nullptr);
  EXPECT_EQ(frame->GetTitle(), "Pixelwharf");
}

TEST_F(GuiTest, ViewerStartKeepsTheInitialReadoutTexts) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(frame->GetStatusExElement(0)->GetText(), "X=--------------- Y=---------------");
  EXPECT_EQ(frame->GetStatusExElement(1)->GetText(), "R=--------- G=--------- B=---------");
}

TEST_F(GuiTest, ViewerStartRestoresThePlacementLeftLastTime) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  frame->SetSize(wxRect(50, 40, 900, 700));
  Pump();
  wxRect left = frame->GetRect();
  Stop();
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(frame->GetRect(), left);
}

TEST_F(GuiTest, ChangedToolAndCategorySurviveARestart) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_BUTTON_CONVERTOR);
  Stop();
  EXPECT_EQ(IniValue("SEL_INDEX"), 3);
  ASSERT_NE(Start(), nullptr);
  ASSERT_NE(frame->ToolHost().convertor, nullptr);
  EXPECT_EQ(frame->ToolHost().classifyFiles, nullptr);
  EXPECT_FALSE(frame->IsCommandEnabled(ID_BUTTON_CONVERTOR));
  EXPECT_TRUE(frame->IsCommandEnabled(ID_BUTTON_CLASSIFYFILES));
}
