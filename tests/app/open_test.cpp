// Opening files from every road: they show in the viewer category, land in
// the recent list, and a file that cannot be read says so.
#include <fstream>
#include <map>
#include <sstream>

#include <wx/filehistory.h>
#include <wx/menu.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "gui_fixture.h"

using namespace pw::cmd;

namespace {

// A 1 x 1 24-bit BMP: a real raster, whatever name it is given (the
// reader goes by the content).
std::string TinyPicture() {
  std::string b = "BM";
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(char((v >> (8 * i)) & 0xFF)); };
  auto u16 = [&](uint16_t v) { b.push_back(char(v & 0xFF)); b.push_back(char(v >> 8)); };
  u32(58); u32(0); u32(54);             // file size, reserved, pixel offset
  u32(40); u32(1); u32(1); u16(1); u16(24);  // header size, 1 x 1, planes, bits
  u32(0); u32(4); u32(2835); u32(2835); u32(0); u32(0);
  b += std::string("\x10\x20\x30\x00", 4);  // one BGR pixel and its row padding
  return b;
}

// A started opening is still reading (it does so off the UI thread).
bool Opening(CMainFrame* frame) {
  return frame->GetActiveView() && frame->GetActiveView()->IsOpening();
}

wxArrayString Args(const std::string& file) {
  wxArrayString args;
  args.push_back(wxString::FromUTF8(file));
  return args;
}

enum class Road { CommandLine, Drop, Recent, OpenCommand, QuickOpen };

struct RoadCase {
  const char* name;
  Road road;
};

void PrintTo(const RoadCase& c, std::ostream* os) { *os << c.name; }

class OpenRoads : public GuiTest, public ::testing::WithParamInterface<RoadCase> {};

const RoadCase kRoads[] = {{"CommandLine", Road::CommandLine},
                           {"Drop", Road::Drop},
                           {"Recent", Road::Recent},
                           {"OpenCommand", Road::OpenCommand}};

}  // namespace

TEST_P(OpenRoads, FileOpenedInToolsLayoutShowsInTheViewer) {
  std::string picture = MakeFile("picture.tif", TinyPicture());
  wxArrayString args;
  if (GetParam().road == Road::Recent) {
    // A first run puts the file on the recent list.
    ASSERT_NE(Start(Args(picture)), nullptr);
    Stop();
    WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 2\r\nSEL_INDEX = 1\r\n");
  }
  if (GetParam().road == Road::CommandLine) args.push_back(wxString::FromUTF8(picture));
  ASSERT_NE(Start(args), nullptr);

  switch (GetParam().road) {
    case Road::CommandLine:
      break;
    case Road::Drop: {
      ASSERT_EQ(frame->GetActiveCategory(), 2);
      wxArrayString files;
      files.push_back(wxString::FromUTF8(MakeFile("first.png", TinyPicture())));
      files.push_back(wxString::FromUTF8(picture));
      frame->OnDropFiles(files);
      break;
    }
    case Road::Recent:
      ASSERT_EQ(frame->GetActiveCategory(), 2);
      ASSERT_GE(PwApp().GetFileHistory()->GetCount(), 1u);
      frame->DoCommand(wxID_FILE1);
      break;
    case Road::OpenCommand:
    case Road::QuickOpen:
      ASSERT_EQ(frame->GetActiveCategory(), 2);
      dialogAnswers.push_back(wxString::FromUTF8(picture).ToStdWstring());
      frame->DoCommand(ID_FILE_OPEN);
      ASSERT_EQ(dialogs.size(), 1u);
      EXPECT_EQ(dialogs[0].filter, wxString::FromUTF8("所有文件(*.*)|*"));
      break;
  }
  Pump();
  for (int i = 0; i < 400 && Opening(frame); ++i) Pump(2);
  EXPECT_EQ(frame->GetActiveCategory(), 1);
  EXPECT_FALSE(frame->IsFixedLayout());
  for (int tool = 0; tool < 5; ++tool)
    if (wxWindow* panel = frame->ToolHost().GetPanel(tool)) {
      EXPECT_FALSE(panel->IsShown());
    }
  EXPECT_EQ(wxString(frame->GetDocument()->GetPath()), wxString::FromUTF8(picture));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(PwApp().GetFileHistory()->GetHistoryFile(0), wxString::FromUTF8(picture));
  Stop();
  EXPECT_EQ(IniValue("CAT_INDEX"), 1);
}

INSTANTIATE_TEST_SUITE_P(Roads, OpenRoads, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GuiTest, UnreadableFileSaysSoAndLeavesTheRecentList) {
  std::string picture = MakeFile("gone.jpg", TinyPicture());
  ASSERT_NE(Start(Args(picture)), nullptr);
  for (int i = 0; i < 400 && Opening(frame); ++i) Pump(2);
  ASSERT_EQ(PwApp().GetFileHistory()->GetCount(), 1u);
  ASSERT_TRUE(messages.empty());
  std::remove(picture.c_str());
  frame->DoCommand(ID_BUTTON_CLASSIFYFILES);
  EXPECT_FALSE(frame->OpenDocumentFile(wxString::FromUTF8(picture)));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(wxString::FromUTF8(picture)), wxNOT_FOUND);
  EXPECT_EQ(PwApp().GetFileHistory()->GetCount(), 0u);
  EXPECT_FALSE(frame->OpenDocumentFile(wxString::FromUTF8(folder)));  // a folder is no file
  EXPECT_EQ(messages.size(), 2u);
}

// A file that holds no raster (a text file) gets the box a missing file
// gets, with its own reason; it leaves the recent list, and the viewer's
// commands stay disabled.
TEST_F(GuiTest, AFileWithoutARasterSaysSoAsAMissingOneDoes) {
  ASSERT_NE(Start(), nullptr);
  const std::string missing = folder + "/notes.txt";
  EXPECT_FALSE(frame->OpenDocumentFile(wxString::FromUTF8(missing)));
  ASSERT_EQ(messages.size(), 1u);
  const wxString missingBox = messages[0];
  messages.clear();

  MakeFile("notes.txt", "just some words, no picture\n");
  frame->OpenDocumentFile(wxString::FromUTF8(missing));
  for (int i = 0; i < 400 && Opening(frame); ++i) Pump(2);
  Pump();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].BeforeLast('\n'), missingBox.BeforeLast('\n'));
  EXPECT_EQ(missingBox.AfterLast('\n'), wxString::FromUTF8("文件不存在"));
  EXPECT_EQ(messages[0].AfterLast('\n'), wxString::FromUTF8("不是可识别的栅格影像"));
  EXPECT_EQ(PwApp().GetFileHistory()->GetCount(), 0u);
  EXPECT_TRUE(frame->GetDocument()->GetPath().empty());
  EXPECT_EQ(frame->GetActiveView()->GetRenderer(), nullptr);
  for (int id : {ID_CHECK_REALPIXVALUE, ID_CHECK_YREVERSE, ID_BUTTON_CVT2EIGHT})
    EXPECT_FALSE(frame->IsCommandEnabled(id)) << id;
}

TEST_F(GuiTest, RecentListKeepsFourFiles) {
  ASSERT_NE(Start(), nullptr);
  for (int i = 0; i < 6; ++i)
    frame->OpenDocumentFile(wxString::FromUTF8(MakeFile("p" + std::to_string(i) + ".png", TinyPicture())));
  wxFileHistory* history = PwApp().GetFileHistory();
  ASSERT_EQ(history->GetCount(), 4u);
  EXPECT_TRUE(history->GetHistoryFile(0).EndsWith("p5.png"));
  Stop();
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(PwApp().GetFileHistory()->GetCount(), 4u);
}

TEST_F(GuiTest, SaveCommandsNeverWriteOverTheOpenImage) {
  std::string bytes = "original picture bytes";
  std::string picture = MakeFile("keep.tif", bytes);
  ASSERT_NE(Start(Args(picture)), nullptr);
  EXPECT_FALSE(frame->IsCommandEnabled(ID_FILE_SAVE));
  dialogAnswers.push_back(wxString::FromUTF8(picture).ToStdWstring());
  frame->DoCommand(ID_FILE_SAVE);
  frame->DoCommand(ID_FILE_SAVE_AS);
  Stop();
  std::ifstream in(picture, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), bytes);
  EXPECT_TRUE(dialogs.empty());
}

namespace {
std::vector<wxString> g_asserts;
void RecordAssert(const wxString& file, int line, const wxString&, const wxString& cond, const wxString&) {
  g_asserts.push_back(file + ":" + wxString::Format("%d", line) + " " + cond);
}
}  // namespace

// The 文件 drop-down: built without the toolkit objecting (an objection is a
// modal box in front of the user), with the table's entries, and choosing an
// entry runs its command.
TEST_F(GuiTest, FileMenuEntriesRunTheirCommands) {
  ASSERT_NE(Start(), nullptr);
  g_asserts.clear();
  wxAssertHandler_t previous = wxSetAssertHandler(RecordAssert);
  wxMenu menu;
  frame->BuildFileMenu(menu);
  wxSetAssertHandler(previous);
  EXPECT_TRUE(g_asserts.empty()) << g_asserts.front();

  std::vector<wxString> labels;
  std::map<wxString, int> ids;
  for (wxMenuItem* item : menu.GetMenuItems()) {
    if (item->IsSeparator()) continue;
    labels.push_back(item->GetItemLabel());
    ids[item->GetItemLabel()] = item->GetId();
    if (item->IsSubMenu())
      for (wxMenuItem* sub : item->GetSubMenu()->GetMenuItems()) ids[sub->GetItemLabel()] = sub->GetId();
  }
  const std::vector<wxString> expected = {
      wxString::FromUTF8("新建(&N)"), wxString::FromUTF8("打开(&O)..."),     wxString::FromUTF8("保存(&S)"),
      wxString::FromUTF8("另存为(&A)..."), wxString::FromUTF8("打印"), wxString::FromUTF8("最近使用的文档"),
      wxString::FromUTF8("退出(&X)")};
  EXPECT_EQ(labels, expected);
  for (const char* sub : {"预览并打印文档", "快速打印(&Q)", "打印预览(&V)", "打印设置(&U)"})
    EXPECT_EQ(ids.count(wxString::FromUTF8(sub)), 1u) << sub;

  // Chosen from the menu, 打开 asks for a file and 退出 ends the program.
  wxCommandEvent open(wxEVT_MENU, ids[wxString::FromUTF8("打开(&O)...")]);
  frame->ProcessWindowEvent(open);
  EXPECT_EQ(dialogs.size(), 1u);
  wxCommandEvent exit(wxEVT_MENU, ids[wxString::FromUTF8("退出(&X)")]);
  frame->ProcessWindowEvent(exit);
  for (int i = 0; i < 50 && Running(); ++i) Pump(2);
  EXPECT_FALSE(Running());
}

