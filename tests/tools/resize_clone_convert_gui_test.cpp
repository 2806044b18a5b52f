// The resizing, EXIF cloning and conversion panels in the real window
// under Xvfb: each tool started from its panel, its questions and refusals,
// the end-of-run box, the results on disk and the settings copied back.
#include <regex>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dnd.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/StatusBar.h"
#include "app/ToolPanelHost.h"
#include "app/panels/CloneExif.h"
#include "app/panels/Convertor.h"
#include "app/panels/ResizePictures.h"
#include "tests/app/gui_fixture.h"
#include "tests/tools/panel_driver.h"
#include "tests/tools/tool_tree.h"
#include "tools/ResizePictures.h"

using namespace tooltest;
using namespace paneltest;

namespace {

class BatchPanels : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    pw::SetMessageBoxHook([this](const wxString& text, long style) {
      messages.push_back(text);
      captions.push_back(pw::LastMessageBoxCaption());
      return (style & wxYES_NO) ? answer : wxOK;
    });
  }
  std::string StatusText(int pane) const {
    return frame->GetStatusExElement(pane)->GetText().ToStdString(wxConvUTF8);
  }
  std::string Message(size_t i) const { return messages.at(i).ToStdString(wxConvUTF8); }
  std::string Caption(size_t i) const { return captions.at(i).ToStdString(wxConvUTF8); }
  void Photo(const std::string& path, const std::string& size, const std::string& model) {
    fs::create_directories(fs::path(path).parent_path());
    Shell("convert-im6.q16 -size " + size + " gradient:red-blue -quality 90 " + Quote(path) +
          " && exiftool -q -overwrite_original -Make=Pixelwharf -Model=" + model + " " +
          Quote(path));
  }

  std::vector<wxString> captions;
  int answer = wxYES;
};

const std::regex kEndBox("耗时:\\d+分\\d+秒\n\n处理完成啦！");

}  // namespace

TEST_F(BatchPanels, ResizeFromThePanel) {
  const std::string photos = folder + "/照片";
  Photo(photos + "/a.jpg", "640x480", "A");
  Photo(photos + "/sub/b.jpg", "300x600", "B");

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_RESIZEIMAGES);
  Pump();
  CResizePictures* panel = frame->ToolHost().resizePictures;
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(panel->IsShown());

  // One picture dropped: its size as shown, and its aspect for the edits.
  wxArrayString names;
  names.Add(wxString::FromUTF8(photos + "/a.jpg"));
  dynamic_cast<wxFileDropTarget*>(panel->GetDropTarget())->OnDropFiles(0, 0, names);
  EXPECT_EQ(StatusText(0), "原始尺寸：640 x 480");
  EXPECT_DOUBLE_EQ(g_ResizeAspect, 640.0 / 480.0);

  // A picture stored landscape and shown portrait (orientation 6): its
  // shown size, and typing a width fills in the height by that aspect.
  const std::string turned = folder + "/turned.jpg";
  Photo(turned, "400x300", "T");
  Shell("exiftool -q -overwrite_original -Orientation#=6 " + Quote(turned));
  names.Clear();
  names.Add(wxString::FromUTF8(turned));
  dynamic_cast<wxFileDropTarget*>(panel->GetDropTarget())->OnDropFiles(0, 0, names);
  EXPECT_EQ(StatusText(0), "原始尺寸：300 x 400");
  EXPECT_DOUBLE_EQ(g_ResizeAspect, 0.75);
  auto* width = dynamic_cast<wxTextCtrl*>(panel->FindWindow(1028));
  width->SetFocus();
  Pump();
  ASSERT_EQ(wxWindow::FindFocus(), width);
  width->SetValue("150");
  EXPECT_EQ(dynamic_cast<wxTextCtrl*>(panel->FindWindow(1030))->GetValue(), "200");
  // The program's own change of the height (no focus there) changes nothing back.
  EXPECT_EQ(width->GetValue(), "150");
  // Several items: no aspect any more.
  names.Add(wxString::FromUTF8(photos));
  dynamic_cast<wxFileDropTarget*>(panel->GetDropTarget())->OnDropFiles(0, 0, names);
  EXPECT_EQ(StatusText(0), "多个文件(夹)加载成功！");
  EXPECT_EQ(g_ResizeAspect, 0.0);

  SetText(panel, pw::kIdPathField, photos);
  SetText(panel, 1028, "0");
  Click(panel, 1011);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Message(0), "宽高不合法！");
  EXPECT_EQ(Caption(0), "参数非法！");

  SetText(panel, 1028, "1,000");
  SetText(panel, 1030, "320");
  Screenshot("resize-panel");
  Click(panel, 1011);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(std::regex_match(Message(1), kEndBox)) << Message(1);
  EXPECT_EQ(Caption(1), "終わり！");
  EXPECT_EQ(StatusText(0), "处理完成！");
  EXPECT_EQ(StatusText(1), "OVER!");
  // Keep ratio 1000 x 320: a landscape picture by its height, a portrait
  // one by its width.
  EXPECT_EQ(Identify(photos + "/amorvalen.jpg"), "428x320;");
  EXPECT_EQ(Identify(photos + "/sub/bmorvalen.jpg"), "1000x2000;");
  EXPECT_EQ(Tag(photos + "/amorvalen.jpg", "Model"), "A");
  EXPECT_NE(ReadFile(photos + "/log.log").find(photos + "/a.jpg->" + photos + "/amorvalen.jpg\n"),
            std::string::npos);
  EXPECT_EQ(frame->Settings().selIndex, 1);
  EXPECT_EQ(frame->Settings().resizeWidth, 1000);
  EXPECT_EQ(frame->Settings().resizeHeight, 320);
  EXPECT_EQ(frame->Settings().resizeDirValue, W(photos));

  // Overwrite: asked first; "No" runs nothing.
  Select(panel, 1026);
  answer = wxNO;
  const std::string before = ReadFile(photos + "/a.jpg");
  Click(panel, 1011);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(Caption(2), "覆盖模式提示");
  EXPECT_EQ(Message(2), N(kResizeOverwriteText));
  EXPECT_EQ(ReadFile(photos + "/a.jpg"), before);
  answer = wxYES;
  Click(panel, 1011);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_TRUE(std::regex_match(Message(4), kEndBox));
  EXPECT_EQ(Identify(photos + "/a.jpg"), "428x320;");
  EXPECT_EQ(frame->Settings().resizeIndex, 1);
  Screenshot("resize-done");

  Click(panel, 1014);  // reset
  EXPECT_EQ(dynamic_cast<wxTextCtrl*>(panel->FindWindow(1028))->GetValue(), "1920");
  EXPECT_TRUE(dynamic_cast<wxRadioButton*>(panel->FindWindow(1025))->GetValue());
}

TEST_F(BatchPanels, CloneExifFromThePanel) {
  const std::string source = folder + "/源", receiving = folder + "/目标";
  Photo(source + "/x/1.jpg", "80x60", "SRC");
  fs::create_directories(receiving + "/x");
  Shell("convert-im6.q16 -size 40x30 xc:gray " + Quote(receiving + "/x/1.jpg"));

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLONEEXIF);
  Pump();
  CCloneExif* panel = frame->ToolHost().cloneExif;
  ASSERT_NE(panel, nullptr);

  // Batch mode: nested folders are refused before anything runs, and
  // before the question.
  Select(panel, 1002);
  EXPECT_FALSE(panel->FindWindow(1003)->IsEnabled());
  EXPECT_TRUE(panel->FindWindow(1007)->IsEnabled());
  SetText(panel, 1007, source);
  SetText(panel, 1008, source + "/x");
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Message(0), "输入目录与输出目录不能相互包含！");
  EXPECT_FALSE(fs::exists(source + "/x/log.log"));

  SetText(panel, 1008, receiving);
  Screenshot("clone-panel");
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(Caption(1), "提示");
  EXPECT_TRUE(std::regex_match(Message(2), kEndBox)) << Message(2);
  EXPECT_EQ(Tag(receiving + "/x/1.jpg", "Model"), "SRC");
  EXPECT_EQ(ReadFile(receiving + "/log.log"),
            source + "/x/1.jpg->" + receiving + "/x/1.jpg\n");
  EXPECT_EQ(frame->Settings().selIndex, 2);
  EXPECT_EQ(frame->Settings().cloneIndex, 1);
  EXPECT_EQ(frame->Settings().clonePaths[ToolSettings::kCloneDirDst], W(receiving));

  // Single mode onto a PNG whose ".jpg" name is taken: asked, "No" keeps it.
  const std::string png = folder + "/b.png", jpg = folder + "/b.jpg";
  Shell("convert-im6.q16 -size 20x10 xc:red " + Quote(png) + " && convert-im6.q16 -size 8x8 xc:blue " +
        Quote(jpg));
  Select(panel, 1001);
  SetText(panel, 1003, source + "/x/1.jpg");
  SetText(panel, 1004, png);
  answer = wxNO;
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(Message(3), jpg + " 已经存在，是否覆盖？");
  EXPECT_EQ(Identify(jpg), "8x8;");
  answer = wxYES;
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(Message(5), "克隆EXIF完成！");
  EXPECT_EQ(StatusText(0), "克隆EXIF完成！");
  EXPECT_EQ(Identify(jpg), "20x10;");
  EXPECT_EQ(Tag(jpg, "Model"), "SRC");
  EXPECT_EQ(frame->Settings().cloneIndex, 0);

  // An empty source clears the EXIF block, only after the user agreed.
  SetText(panel, 1003, "");
  SetText(panel, 1004, jpg);
  answer = wxNO;
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 7u);
  EXPECT_EQ(Message(6), "输入为空或不存在，将清除以下图片的EXIF信息：\n" + jpg + "\n\n是否继续？");
  EXPECT_EQ(Tag(jpg, "Model"), "SRC");
  answer = wxYES;
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 9u);
  EXPECT_EQ(Message(8), "EXIF已清除！");
  EXPECT_EQ(StatusText(0), "EXIF已清除！");
  EXPECT_EQ(Tag(jpg, "Model"), "");
  EXPECT_EQ(Identify(jpg), "20x10;");
}

// A receiving tree with a folder the tool cannot list (its path is longer
// than the system lets a folder be opened by, root or not): the clone's end
// box says the run failed there, naming the folder, rather than success.
TEST_F(BatchPanels, CloneNamesAReceivingFolderItCannotList) {
  const std::string source = folder + "/src", receiving = folder + "/dst";
  Photo(source + "/1.jpg", "80x60", "SRC");
  fs::create_directories(receiving);
  Shell("convert-im6.q16 -size 40x30 xc:gray " + Quote(receiving + "/1.jpg"));
  const std::string level(240, 'd');
  Shell("cd " + Quote(receiving) + " && for i in $(seq 1 18); do mkdir " + level + " && cd " + level + " || exit 1; done");

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CLONEEXIF);
  Pump();
  CCloneExif* panel = frame->ToolHost().cloneExif;
  ASSERT_NE(panel, nullptr);
  Select(panel, 1002);
  SetText(panel, 1007, source);
  SetText(panel, 1008, receiving);
  Click(panel, 1018);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(Caption(1), "終わり！");
  const std::string box = Message(1);
  EXPECT_EQ(box.find("处理完成啦！"), std::string::npos) << box;
  EXPECT_NE(box.find("以下文件夹无法读取，其中的文件没有处理：\n  " + receiving + "/" + level + "/"),
            std::string::npos) << box;
  EXPECT_NE(box.find("有 1 个文件处理失败！"), std::string::npos) << box;
  EXPECT_NE(box.find("失败记录见日志：\n  " + receiving + "/log.log\n"), std::string::npos) << box;
  EXPECT_EQ(Tag(receiving + "/1.jpg", "Model"), "SRC");
  const std::string log = ReadFile(receiving + "/log.log");
  EXPECT_EQ(log.find(source + "/1.jpg->" + receiving + "/1.jpg\nCloneExif" + receiving + "/" + level), 0u) << log;
  EXPECT_NE(log.find(" Failed! (无法读取此文件夹)\n"), std::string::npos) << log;
  // A folder this deep is beyond the test folder's own clean-up.
  Shell("rm -rf " + Quote(receiving + "/" + level));
}

TEST_F(BatchPanels, ConvertFromThePanel) {
  const std::string pictures = folder + "/p";
  Shell("mkdir -p " + Quote(pictures + "/x") + " && convert-im6.q16 -size 30x20 xc:red " +
        Quote(pictures + "/a.bmp") + " && convert-im6.q16 -size 20x30 xc:blue " +
        Quote(pictures + "/x/b.png"));

  ASSERT_NE(Start(), nullptr);
  frame->DoCommand(pw::cmd::ID_BUTTON_CONVERTOR);
  Pump();
  CConvertor* panel = frame->ToolHost().convertor;
  ASSERT_NE(panel, nullptr);
  SetText(panel, pw::kIdPathField, pictures);
  SetText(panel, 1013, "*.bmp|*.png");
  Tick(panel, 1018, false);
  EXPECT_FALSE(panel->FindWindow(pw::kIdQualityList)->IsEnabled());
  Tick(panel, 1018, true);
  EXPECT_TRUE(panel->FindWindow(pw::kIdQualityList)->IsEnabled());
  Tick(panel, 1019, true);
  Screenshot("convert-panel");
  Click(panel, 1022);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(std::regex_match(Message(0), kEndBox)) << Message(0);
  EXPECT_EQ(ReadFile(pictures + "/log.log"),
            pictures + "/a.bmp->" + pictures + "/JPG/a.jpg\n" + pictures + "/x/b.png->" +
                pictures + "/JPG/x/b.jpg\n" + pictures + "/a.bmp->" + pictures + "/PNG/a.png\n" +
                pictures + "/x/b.png->" + pictures + "/PNG/x/b.png\n");
  EXPECT_EQ(Identify(pictures + "/JPG/x/b.jpg"), "20x30;");
  EXPECT_EQ(frame->Settings().selIndex, 3);
  EXPECT_TRUE(frame->Settings().convertPng);
  EXPECT_EQ(frame->Settings().convertDirValue, W(pictures));
  Screenshot("convert-done");
}
