// The frame's smaller promises: buttons without a command are greyed, the
// toolkit's own texts are Chinese like the rest, the status panes show
// their texts whole in the 800-pixel tools window, and the black look is
// dark with readable labels.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include <glib/gi18n.h>
#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/ribbon/art.h>
#include <wx/ribbon/bar.h>
#include <wx/ribbon/buttonbar.h>
#include <wx/translation.h>

#include "app/CommandIds.h"
#include "app/Looks.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "gui_fixture.h"

using namespace pw::cmd;

TEST_F(GuiTest, ClipboardButtonsAreGreyedAndDoNothing) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  Pump();
  ASSERT_EQ(frame->InertCommands().size(), 4u);
  for (int id : frame->InertCommands()) {
    EXPECT_FALSE(frame->IsCommandEnabled(id)) << id;
    EXPECT_FALSE(frame->DoCommand(id)) << id;
  }
  // Still greyed after the states are brought up to date at idle time.
  Pump();
  for (int id : frame->InertCommands()) EXPECT_FALSE(frame->IsCommandEnabled(id)) << id;
  EXPECT_TRUE(frame->IsCommandEnabled(ID_BUTTON_OPEN));
  Screenshot("viewer-ribbon");
}

TEST_F(GuiTest, ToolkitTextsAreSimplifiedChinese) {
  ASSERT_NE(Start(), nullptr);
  // wxWidgets' own texts: the print preview's, the standard buttons'.
  EXPECT_NE(wxGetTranslation("Print Preview"), "Print Preview");
  EXPECT_EQ(wxTranslations::Get()->GetBestTranslation("wxstd"), "zh_CN");
  // GTK's own texts: its file dialogs' buttons.
  EXPECT_STREQ(g_dgettext("gtk30", "_Cancel"), "取消(_C)");
  EXPECT_STREQ(g_dgettext("gtk30", "_Open"), "打开(_O)");
}

TEST_F(GuiTest, StatusPanesShowTheirTextsWhole) {
  ASSERT_NE(Start(), nullptr);
  ASSERT_EQ(frame->GetSize().x, 800);
  pw::CRibbonStatusBar* bar = frame->GetRibbonStatusBar();
  // The position pane also carries the tools' hints and the viewer's
  // invitation; the colour pane the ready text.
  const std::vector<std::vector<const char*>> texts = {
      {"X=--------------- Y=---------------", "点击打开或者直接拖拽文件！", "有log.log时可以恢复位置！",
       "不固定宽高时将自动选择！", "输入为空将清除EXIF！", "转换格式不会影响原始文件！",
       "格式和尺寸参考第一张图片！"},
      {"R=--------- G=--------- B=---------", "准备就绪！"}};
  for (int pane : {0, 1}) {
    wxRect rect;
    ASSERT_TRUE(bar->GetFieldRect(3 + pane, rect));
    for (const char* text : texts[pane]) {
      const int width = bar->GetTextExtent(wxString::FromUTF8(text)).x;
      EXPECT_LE(width + 6, rect.width) << "pane " << pane << ": " << text;
    }
  }
  Screenshot("status-bar-800");

  // The colour pane's readouts, floating-point ones too, show whole in the
  // viewer, whose window is wider (digits are wider than the empty
  // readout's dashes), and the position readout keeps its room.
  frame->ActivateRibbonCategory(1);
  frame->SetSize(wxSize(1100, 760));
  Pump();
  pw::StatusElement* colour = frame->GetStatusExElement(1);
  for (const char* text : {"R=-213.63 G=-213.63 B=-213.63", "R=-213.6300 G=65535 B=-0.0001234",
                           "索引=255 R=255 G=255 B=255", "R=-3.402823e+38 G=1.175494e-38 B=-3.402823e+38",
                           "R=4294967295 G=4294967295 B=4294967295"}) {
    colour->SetText(wxString::FromUTF8(text));
    wxRect rect;
    ASSERT_TRUE(bar->GetFieldRect(4, rect));
    EXPECT_LE(bar->GetTextExtent(wxString::FromUTF8(text)).x + 6, rect.width) << text;
    ASSERT_TRUE(bar->GetFieldRect(3, rect));
    EXPECT_LE(bar->GetTextExtent("X=--------------- Y=---------------").x + 6, rect.width) << text;
  }
  Screenshot("status-bar-values");
}

// The message box keeps its text off its border, like the toolkit's own
// dialogs.
TEST_F(GuiTest, MessageBoxTextKeepsOffItsBorder) {
  ASSERT_NE(Start(), nullptr);
  pw::SetMessageBoxHook({});
  int left = -1, right = -1, top = -1;
  bool seen = false;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* box = wxDynamicCast(window, wxDialog);
      if (!box || !box->IsModal()) continue;
      box->Update();
      std::function<void(wxWindow*)> find = [&](wxWindow* w) {
        for (wxWindow* child : w->GetChildren()) {
          if (auto* text = wxDynamicCast(child, wxStaticText); text && text->GetLabel().Contains("Z")) {
            const wxRect inner = box->GetClientRect();
            const wxRect rect(box->ScreenToClient(text->GetScreenPosition()), text->GetSize());
            left = rect.x - inner.x;
            right = inner.GetRight() - rect.GetRight();
            top = rect.y - inner.y;
            seen = true;
          }
          find(child);
        }
      };
      find(box);
      const wxRect shown = box->GetScreenRect();
      const std::string command = "import-im6.q16 -window root -crop " + std::to_string(shown.width) + "x" +
                                  std::to_string(shown.height) + "+" + std::to_string(shown.x) + "+" +
                                  std::to_string(shown.y) + " +repage '" PW_TEST_ARTIFACTS "/message-box.png'";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
    pw::CloseMessageBoxes();
  });
  timer.StartOnce(600);
  pw::MessageBox(wxString::FromUTF8("文件不存在或者无法读取，请检查路径：/tmp/一个很长的文件夹名字/图片Z.jpg"),
                 wxOK | wxICON_EXCLAMATION, frame);
  ASSERT_TRUE(seen);
  EXPECT_GE(left, 16);
  EXPECT_GE(right, 16);
  EXPECT_GE(top, 16);
}

namespace {
double Luminance(const wxColour& c) { return 0.2126 * c.Red() + 0.7152 * c.Green() + 0.0722 * c.Blue(); }
int Tint(const wxColour& c) {
  return std::max({c.Red(), c.Green(), c.Blue()}) - std::min({c.Red(), c.Green(), c.Blue()});
}
}  // namespace

// The black look is dark grey, not blue, with light labels on it.
TEST_F(GuiTest, BlackLookIsDarkWithLightLabels) {
  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(ID_VIEW_APPLOOK_OFF_2007_BLACK);
  wxRibbonArtProvider* art = frame->GetRibbonBar()->GetArtProvider();
  const wxColour page = art->GetColour(wxRIBBON_ART_PAGE_BACKGROUND_COLOUR);
  const wxColour chrome = art->GetColour(wxRIBBON_ART_TAB_CTRL_BACKGROUND_COLOUR);
  for (const wxColour& back : {page, chrome, art->GetColour(wxRIBBON_ART_PANEL_LABEL_BACKGROUND_COLOUR)}) {
    EXPECT_LE(Tint(back), 12) << back.GetAsString(wxC2S_HTML_SYNTAX);
    EXPECT_LT(Luminance(back), 110) << back.GetAsString(wxC2S_HTML_SYNTAX);
  }
  for (int id : {wxRIBBON_ART_BUTTON_BAR_LABEL_COLOUR, wxRIBBON_ART_PANEL_LABEL_COLOUR, wxRIBBON_ART_TAB_LABEL_COLOUR})
    EXPECT_GT(Luminance(art->GetColour(id)) - Luminance(page), 120) << id;
  Screenshot("look-black");
  frame->DoCommand(ID_VIEW_APPLOOK_OFF_2007_BLUE);
}

namespace {
// The strongest difference in brightness between the pixels of the lower
// half of a ribbon button (its label) and that half's commonest colour
// (the background), as the X server shows it.
int LabelContrast(const std::string& shot, const wxRect& button) {
  wxImage image(wxString::FromUTF8(shot));
  if (!image.IsOk()) return -1;
  std::map<unsigned long, int> counts;
  const int top = button.y + button.height / 2;
  for (int y = top; y <= button.GetBottom(); ++y)
    for (int x = button.x; x <= button.GetRight(); ++x)
      ++counts[(unsigned long)image.GetRed(x, y) << 16 | image.GetGreen(x, y) << 8 | image.GetBlue(x, y)];
  const auto background = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
    return a.second < b.second;
  })->first;
  const double back = Luminance(wxColour(background >> 16, (background >> 8) & 0xFF, background & 0xFF));
  double strongest = 0;
  for (int y = top; y <= button.GetBottom(); ++y)
    for (int x = button.x; x <= button.GetRight(); ++x)
      strongest = std::max(strongest, std::abs(Luminance(wxColour(image.GetRed(x, y), image.GetGreen(x, y),
                                                                   image.GetBlue(x, y))) - back));
  return int(strongest);
}

// The ribbon button of a command, on the screen.
wxRect RibbonButtonRect(wxWindow* parent, int id) {
  for (wxWindow* child : parent->GetChildren()) {
    if (auto* bar = wxDynamicCast(child, wxRibbonButtonBar); bar && bar->GetItemById(id)) {
      const wxRect rect = bar->GetItemRect(id);
      return wxRect(bar->ClientToScreen(rect.GetPosition()), rect.GetSize());
    }
    const wxRect found = RibbonButtonRect(child, id);
    if (!found.IsEmpty()) return found;
  }
  return wxRect();
}
}  // namespace

// The greyed clipboard buttons look greyed in every look the ribbon
// offers: their labels stand out from the ribbon much less than the label
// of a button that can be used.
TEST_F(GuiTest, GreyedButtonsLookGreyedInEveryLook) {
  WriteIni("[SEL_INDEX]\r\nCAT_INDEX = 1\r\n");
  ASSERT_NE(Start(), nullptr);
  for (int look : {ID_VIEW_APPLOOK_OFF_2007_BLUE, ID_VIEW_APPLOOK_OFF_2007_BLACK, ID_VIEW_APPLOOK_OFF_2007_SILVER,
                   ID_VIEW_APPLOOK_OFF_2007_AQUA, ID_VIEW_APPLOOK_WINDOWS_7}) {
    SCOPED_TRACE(look);
    frame->DoCommand(look);
    const std::string name = "look-" + std::to_string(look) + "-ribbon";
    Screenshot(name);
    const std::string shot = std::string(PW_TEST_ARTIFACTS) + "/" + name + ".png";
    const wxPoint origin = frame->GetScreenRect().GetPosition();
    auto contrast = [&](int id) {
      wxRect rect = RibbonButtonRect(frame->GetRibbonBar(), id);
      rect.Offset(-origin);
      return LabelContrast(shot, rect);
    };
    const int usable = contrast(ID_BUTTON_OPEN);
    ASSERT_GT(usable, 60) << "the usable button's label is not found";
    for (int id : frame->InertCommands()) {
      ASSERT_FALSE(frame->IsCommandEnabled(id));
      EXPECT_LT(contrast(id), usable * 7 / 10) << "button " << id << " looks usable (" << usable << ")";
    }
  }
  frame->DoCommand(ID_VIEW_APPLOOK_OFF_2007_BLUE);
}
