// The two layouts as the user switches between them, the tool commands and
// their panels, with a picture of each layout kept for people to look at.
#include <wx/ribbon/bar.h>
#include <wx/ribbon/buttonbar.h>
#include <wx/uiaction.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "app/panels/ClassifyFiles.h"
#include "app/panels/MergeImgs.h"
#include "gui_fixture.h"

using namespace pw::cmd;

namespace {

// What the ribbon does when the user picks a tab: it changes the page and
// reports the change.
void UserPicksCategory(CMainFrame* frame, int category) {
  wxRibbonBar* ribbon = frame->GetRibbonBar();
  ribbon->SetActivePage(static_cast<size_t>(category - 1));
  wxRibbonBarEvent event(wxEVT_RIBBONBAR_PAGE_CHANGED, ribbon->GetId(), ribbon->GetPage(category - 1));
  event.SetEventObject(ribbon);
  ribbon->ProcessWindowEvent(event);
}

}  // namespace

TEST_F(GuiTest, CategorySwitchesChangeLayoutCatIndexAndStatusTexts) {
  ASSERT_NE(Start(), nullptr);
  ASSERT_EQ(frame->GetActiveCategory(), 2);
  Screenshot("layout-tools");

  UserPicksCategory(frame, 1);
  Pump();
  EXPECT_EQ(frame->Settings().catIndex, 1);
  EXPECT_FALSE(frame->IsFixedLayout());
  EXPECT_TRUE(frame->HasFlag(wxRESIZE_BORDER));
  EXPECT_EQ(frame->GetStatusExElement(0)->GetText(), wxString::FromUTF8("点击打开或者直接拖拽文件！"));
  EXPECT_EQ(frame->GetStatusExElement(1)->GetText(), wxString::FromUTF8("准备就绪！"));
  ASSERT_NE(frame->ToolHost().classifyFiles, nullptr);
  EXPECT_FALSE(frame->ToolHost().classifyFiles->IsShown()) << "tool panel left over the viewer";
  frame->SetSize(wxSize(1000, 760));  // the viewer may be resized
  Pump();
  EXPECT_EQ(frame->GetSize(), wxSize(1000, 760));
  Screenshot("layout-viewer");

  UserPicksCategory(frame, 2);
  Pump();
  EXPECT_EQ(frame->Settings().catIndex, 2);
  EXPECT_TRUE(frame->IsFixedLayout());
  EXPECT_EQ(frame->GetSize(), wxSize(800, 600));
  EXPECT_TRUE(frame->ToolHost().classifyFiles->IsShown());
  EXPECT_EQ(frame->GetStatusExElement(0)->GetText(), wxString::FromUTF8("有log.log时可以恢复位置！"));

  UserPicksCategory(frame, 1);
  Stop();
  EXPECT_EQ(IniValue("CAT_INDEX"), 1);
}

TEST_F(GuiTest, ToolCommandsShowOnePanelAtATimeWithItsHint) {
  ASSERT_NE(Start(), nullptr);
  struct Tool { int command; const char* hint; };
  const Tool tools[] = {{ID_BUTTON_RESIZEIMAGES, "不固定宽高时将自动选择！"},
                        {ID_BUTTON_CLONEEXIF, "输入为空将清除EXIF！"},
                        {ID_BUTTON_CONVERTOR, "转换格式不会影响原始文件！"},
                        {ID_BUTTON_MERGEIMGS, "格式和尺寸参考第一张图片！"},
                        {ID_BUTTON_CLASSIFYFILES, "有log.log时可以恢复位置！"}};
  const int dialogIds[5] = {IDD_RESIZE_PICTURES, IDD_CLONE_EXIF, IDD_CONVERTOR, IDD_MERGE_IMGS,
                            IDD_CLASSIFY_FILES};
  const int toolIndex[5] = {1, 2, 3, 4, 0};
  for (int i = 0; i < 5; ++i) {
    frame->GetStatusExElement(1)->SetText("x");
    frame->DoCommand(tools[i].command);
    EXPECT_EQ(frame->Settings().selIndex, toolIndex[i]);
    EXPECT_EQ(frame->GetStatusExElement(0)->GetText(), wxString::FromUTF8(tools[i].hint));
    EXPECT_EQ(frame->GetStatusExElement(1)->GetText(), wxString::FromUTF8("准备就绪！"));
    int shown = 0;
    for (int t = 0; t < 5; ++t)
      if (wxWindow* p = frame->ToolHost().GetPanel(t); p && p->IsShown()) {
        ++shown;
        EXPECT_EQ(t, toolIndex[i]);
        EXPECT_EQ(p->GetId(), dialogIds[i]);
        EXPECT_EQ(p->GetParent(), frame->GetActiveView());
      }
    EXPECT_EQ(shown, 1);
    for (int t = 0; t < 5; ++t)
      EXPECT_EQ(frame->IsCommandEnabled(tools[t].command), t != i) << "after tool " << i;
  }
}

TEST_F(GuiTest, SameToolTwiceReusesItsPanelWhereItWasPlaced) {
  ASSERT_NE(Start(), nullptr);
  CClassifyFiles* panel = frame->ToolHost().classifyFiles;
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->GetRect(), frame->GetActiveView()->GetClientRect());
  EXPECT_EQ(panel->m_owner, static_cast<pw::ToolPanelOwner*>(frame));
  frame->DoCommand(ID_BUTTON_CLASSIFYFILES);
  EXPECT_EQ(frame->ToolHost().classifyFiles, panel);
  EXPECT_EQ(frame->Settings().selIndex, 0);
  EXPECT_TRUE(panel->IsShown());
}

TEST_F(GuiTest, ClickingARibbonButtonShowsItsTool) {
  ASSERT_NE(Start(), nullptr);
  // Find the merge button on the ribbon and click it with the pointer.
  wxRibbonButtonBar* bar = nullptr;
  std::function<void(wxWindow*)> find = [&](wxWindow* w) {
    for (wxWindow* child : w->GetChildren()) {
      if (auto* b = wxDynamicCast(child, wxRibbonButtonBar); b && !b->GetItemRect(ID_BUTTON_MERGEIMGS).IsEmpty())
        bar = b;
      find(child);
    }
  };
  find(frame->GetRibbonBar());
  ASSERT_NE(bar, nullptr);
  wxRect rect = bar->GetItemRect(ID_BUTTON_MERGEIMGS);
  wxPoint centre = bar->ClientToScreen(rect.GetPosition() + rect.GetSize() / 2);
  wxUIActionSimulator mouse;
  mouse.MouseMove(centre);
  Pump(5);
  mouse.MouseClick();
  ASSERT_TRUE(WaitFor([&] { return frame->ToolHost().mergeImgs != nullptr; })) << "the click never reached the button";
  EXPECT_TRUE(frame->ToolHost().mergeImgs->IsShown());
  EXPECT_EQ(frame->Settings().selIndex, 4);
}

TEST_F(GuiTest, StatusBarCommandHidesAndShowsTheBar) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  EXPECT_TRUE(frame->IsCommandChecked(ID_VIEW_STATUS_BAR));
  frame->DoCommand(ID_VIEW_STATUS_BAR);
  EXPECT_FALSE(frame->GetRibbonStatusBar()->IsShown());
  EXPECT_FALSE(frame->IsCommandChecked(ID_VIEW_STATUS_BAR));
  frame->DoCommand(ID_VIEW_STATUS_BAR);
  EXPECT_TRUE(frame->GetRibbonStatusBar()->IsShown());
}

TEST_F(GuiTest, ViewerChecksStayOffWithoutAnImageAndSaveIsNeverOffered) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  EXPECT_FALSE(frame->IsCommandEnabled(ID_CHECK_REALPIXVALUE));
  EXPECT_FALSE(frame->IsCommandEnabled(ID_CHECK_YREVERSE));
  EXPECT_FALSE(frame->IsCommandEnabled(ID_BUTTON_CVT2EIGHT));
  EXPECT_TRUE(frame->IsCommandEnabled(ID_BUTTON_OPEN));
  EXPECT_FALSE(frame->IsCommandEnabled(ID_FILE_SAVE));
  EXPECT_TRUE(frame->IsCommandEnabled(ID_FILE_NEW));
}

TEST_F(GuiTest, PrintCommandsOnTheFrameDoNothingWithoutPreview) {
  ASSERT_NE(Start(), nullptr);
  EXPECT_FALSE(frame->IsPrintPreviewActive());
  frame->OnFilePrint();
  frame->OnFilePrintPreview();
  EXPECT_FALSE(frame->IsPrintPreviewActive());
  bool enabled = false, checked = true;
  frame->QueryCommandState(ID_FILE_PRINT_PREVIEW, enabled, checked);
  EXPECT_FALSE(checked);
}
