// Looks: the stored "ApplicationLook", the art each look gives the ribbon,
// and values the ribbon does not offer.
#include <wx/ribbon/art.h>
#include <wx/ribbon/bar.h>

#include "app/CommandIds.h"
#include "app/Looks.h"
#include "app/MainFrame.h"
#include "gui_fixture.h"

using namespace pw::cmd;

namespace {

wxColour Primary(CMainFrame* frame) {
  auto* art = dynamic_cast<wxRibbonMSWArtProvider*>(frame->GetRibbonBar()->GetArtProvider());
  if (!art) return wxNullColour;
  wxColour primary, secondary, tertiary;
  art->GetColourScheme(&primary, &secondary, &tertiary);
  return primary;
}

wxColour PrimaryOfLook(int look) {
  std::unique_ptr<wxRibbonArtProvider> art(pw::CreateLookArtProvider(look));
  wxColour primary, secondary, tertiary;
  art->GetColourScheme(&primary, &secondary, &tertiary);
  return primary;
}

}  // namespace

TEST_F(GuiTest, ChosenLookSurvivesARestart) {
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(pw::g_nAppLook, 215);
  EXPECT_EQ(StoredLook(), 215);  // written back at creation
  bool enabled, checked;
  frame->QueryCommandState(ID_VIEW_APPLOOK_OFF_2007_BLUE, enabled, checked);
  EXPECT_TRUE(checked);
  frame->QueryCommandState(ID_VIEW_APPLOOK_OFF_2007_BLACK, enabled, checked);
  EXPECT_FALSE(checked);
  frame->DoCommand(ID_VIEW_APPLOOK_OFF_2007_BLACK);
  EXPECT_EQ(StoredLook(), 216);
  frame->QueryCommandState(ID_VIEW_APPLOOK_OFF_2007_BLACK, enabled, checked);
  EXPECT_TRUE(checked);
  frame->QueryCommandState(ID_VIEW_APPLOOK_OFF_2007_BLUE, enabled, checked);
  EXPECT_FALSE(checked);
  Stop();

  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(pw::g_nAppLook, 216);
  EXPECT_EQ(pw::CurrentOfficeStyle(), pw::OfficeStyle::ObsidianBlack);
  EXPECT_EQ(Primary(frame), PrimaryOfLook(216));
  EXPECT_NE(Primary(frame), PrimaryOfLook(215));
}

TEST_F(GuiTest, LooksTheRibbonDoesNotOfferAreWrittenBackUnchanged) {
  for (long stored : {211L, 212L, 214L, 300L, -5L, 204L}) {
    StoreLook(stored);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(pw::g_nAppLook, stored);
    EXPECT_EQ(StoredLook(), stored);
    EXPECT_FALSE(frame->IsWindows7Look());
    // The Office 2007 art in its current colour style.
    EXPECT_EQ(Primary(frame), PrimaryOfLook(215)) << stored;
    Stop();
  }
}

TEST_F(GuiTest, WindowsSevenLookIsOnlyFor219) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_VIEW_APPLOOK_WINDOWS_7);
  EXPECT_TRUE(frame->IsWindows7Look());
  EXPECT_EQ(Primary(frame), PrimaryOfLook(219));
  wxRibbonMSWArtProvider plain;
  wxColour p, s, t;
  plain.GetColourScheme(&p, &s, &t);
  EXPECT_EQ(Primary(frame), p);  // the provider's own scheme
  for (int look : {215, 217, 218, 205, 212}) {
    frame->DoCommand(look);
    EXPECT_FALSE(frame->IsWindows7Look()) << look;
  }
  frame->DoCommand(207);
  EXPECT_NE(dynamic_cast<wxRibbonAUIArtProvider*>(frame->GetRibbonBar()->GetArtProvider()), nullptr);
  // Silver chosen, then a look outside the offered ones keeps silver.
  frame->DoCommand(ID_VIEW_APPLOOK_OFF_2007_SILVER);
  frame->DoCommand(213);
  EXPECT_EQ(Primary(frame), PrimaryOfLook(217));
  EXPECT_EQ(StoredLook(), 213);
}
