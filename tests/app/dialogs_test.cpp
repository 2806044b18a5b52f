// The standard dialogs' requests, the message-box capture and the About box.
#include "app/CommandIds.h"
#include "app/AboutDlg.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "gui_fixture.h"

TEST_F(GuiTest, FileDialogsAskWithTheirFilters) {
  dialogAnswers = {L"/tmp/a.jpg", L"/tmp/b.png", L"/tmp/out_8.tif", L"/tmp/photos"};
  EXPECT_EQ(pw::PickOpenFile(), L"/tmp/a.jpg");
  EXPECT_EQ(pw::PickOpenFileByExtensions({L".jpg", L"png", L"..x"}), L"/tmp/b.png");
  EXPECT_EQ(pw::PickSaveFileByExtensions(L".tif", L"a_8"), L"/tmp/out_8.tif");
  EXPECT_EQ(pw::BrowseForFolder(L"选择文件夹"), L"/tmp/photos");
  ASSERT_EQ(dialogs.size(), 4u);

  EXPECT_EQ(dialogs[0].kind, pw::FileDialogRequest::Open);
  EXPECT_EQ(dialogs[0].filter, wxString::FromUTF8("所有文件(*.*)|*"));
  EXPECT_EQ(dialogs[1].filter, wxString::FromUTF8("jpg文件（*.jpg)|*.jpg;*.JPG|png文件（*.png)|*.png;*.PNG|"
                                                  ".x文件（*..x)|*..x;*..X|所有文件(*.*)|*"));
  EXPECT_EQ(dialogs[2].kind, pw::FileDialogRequest::Save);
  EXPECT_EQ(dialogs[2].filter, wxString::FromUTF8("tif文件（*.tif)|*.tif;*.TIF"));
  EXPECT_EQ(dialogs[2].defaultExtension, ".tif");
  EXPECT_EQ(dialogs[2].defaultName, "a_8");
  EXPECT_EQ(dialogs[3].kind, pw::FileDialogRequest::Folder);
  EXPECT_EQ(dialogs[3].title, wxString::FromUTF8("选择文件夹"));
}

TEST_F(GuiTest, SaveDialogWithoutAnExtensionIsNotShown) {
  dialogAnswers = {L"/tmp/x", L"/tmp/y"};
  EXPECT_EQ(pw::PickSaveFileByExtensions(L"", L"name"), L"");
  EXPECT_EQ(pw::PickSaveFileByExtensions(L"file.", L"name"), L"");
  EXPECT_TRUE(dialogs.empty());
  EXPECT_EQ(pw::PickSaveFileByExtensions(L"archive.bmp", L"n"), L"/tmp/x");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].filter, wxString::FromUTF8("bmp文件（*.bmp)|*.bmp;*.BMP"));
}

TEST_F(GuiTest, CancelledDialogGivesTheEmptyText) {
  EXPECT_EQ(pw::PickOpenFile(), L"");
  EXPECT_EQ(pw::BrowseForFolder(L"t"), L"");
}

TEST_F(GuiTest, PxImageOpenSaysItIsInDevelopmentThenOpens) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_PxImageOpen);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], wxString::FromUTF8("功能开发中！"));
  EXPECT_EQ(dialogs.size(), 1u);  // then the open dialog (cancelled here)
}

TEST_F(GuiTest, AboutBoxNamesTheProductAndVersion) {
  ASSERT_NE(Start(), nullptr);
  CAboutDlg about(frame);
  EXPECT_TRUE(about.GetVersionText().StartsWith("Pixelwharf"));
  EXPECT_NE(about.GetVersionText().find(PW_VERSION_TEXT), wxNOT_FOUND);
  EXPECT_NE(about.FindWindow(wxID_OK), nullptr);
}
