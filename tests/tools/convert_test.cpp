// The conversion tool end to end: planned order and names (a taken name
// gets "_k" and is never written over), EXIF tags or a shooting time from
// the modification time, kept times, GIF frames, and the exact log lines.
#include <gtest/gtest.h>

#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "tests/tools/tool_tree.h"
#include "tools/Convertor.h"

using namespace tooltest;

namespace {

void Draw(const std::string& path, const std::string& size, const std::string& colour) {
  fs::create_directories(fs::path(path).parent_path());
  Shell("convert-im6.q16 -size " + size + " xc:" + colour + " " + Quote(path));
}

void SetOptions(bool keepTime, bool photoTime, bool grey = false) {
  g_ConvertKeepModifyTime = keepTime;
  g_ConvertSetPhotoTime = photoTime;
  g_ConvertGrayscale = grey;
}

ConvertTargets Targets(bool bmp, bool jpg, bool png, bool gif) {
  ConvertTargets t;
  t.bmp = bmp;
  t.jpg = jpg;
  t.png = png;
  t.gif = gif;
  return t;
}

std::vector<std::string> Narrow(const std::vector<std::wstring>& list) {
  std::vector<std::string> out;
  for (const std::wstring& w : list) out.push_back(N(w));
  return out;
}

}  // namespace

TEST(ConvertPlan, NewFolderOrderAndFolders) {
  TreeCopy tree;
  const std::string p = tree / "p";
  Draw(p + "/a.bmp", "10x10", "red");
  Draw(p + "/x/b.png", "10x10", "blue");
  for (const std::string& base : {p, p + "/"}) {
    SCOPED_TRACE(base);
    g_ConvertBaseDir = W(base);
    std::vector<std::wstring> sources, destinations;
    const size_t n = BuildConvertLists({W(p + "/a.bmp"), W(p + "/x/b.png")},
                                       Targets(false, true, true, false), false, sources,
                                       destinations);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(Narrow(sources), (std::vector<std::string>{p + "/a.bmp", p + "/x/b.png",
                                                         p + "/a.bmp", p + "/x/b.png"}));
    EXPECT_EQ(Narrow(destinations), (std::vector<std::string>{p + "/JPG/a.jpg", p + "/JPG/x/b.jpg",
                                                              p + "/PNG/a.png", p + "/PNG/x/b.png"}));
  }
  // The folders are made while planning, before any conversion.
  EXPECT_TRUE(fs::is_directory(p + "/JPG/x"));
  EXPECT_TRUE(fs::is_directory(p + "/PNG/x"));
  EXPECT_FALSE(fs::exists(p + "/JPG/a.jpg"));
}

TEST(ConvertPlan, TakenNamesGetANumber) {
  TreeCopy tree;
  const std::string q = tree / "q";
  Draw(q + "/a.jpg", "10x10", "red");
  Draw(q + "/a.png", "10x10", "red");
  Draw(q + "/a.gif", "10x10", "red");
  Draw(q + "/a_1.bmp", "10x10", "red");
  g_ConvertBaseDir = W(q);
  std::vector<std::wstring> sources, destinations;
  // Same folder, to JPG and BMP: bmp first, then jpg.
  BuildConvertLists({W(q + "/a.jpg"), W(q + "/a.png"), W(q + "/a.gif")},
                    Targets(true, true, false, false), true, sources, destinations);
  EXPECT_EQ(Narrow(destinations),
            (std::vector<std::string>{q + "/a.bmp", q + "/a_2.bmp", q + "/a_3.bmp",  // a_1.bmp exists
                                      q + "/a_1.jpg", q + "/a_2.jpg", q + "/a_3.jpg"}));
  // No target ticked: nothing planned.
  sources.clear();
  destinations.clear();
  EXPECT_EQ(BuildConvertLists({W(q + "/a.jpg")}, Targets(false, false, false, false), false,
                              sources, destinations),
            0u);
}

TEST(ConvertRun, NewFolderRunWritesTheLogInPlanOrder) {
  TreeCopy tree;
  const std::string p = tree / "p";
  Draw(p + "/a.bmp", "30x20", "red");
  Draw(p + "/x/b.png", "20x30", "blue");
  SetOptions(true, true);
  ConvertRequest request;
  request.sources = SplitSources(W(p + "/"));
  request.patterns = {L"*.bmp", L"*.png"};  // a.bmp is found first
  request.targets = Targets(false, true, true, false);
  request.threadCount = 3;
  const ConvertOutcome outcome = RunConvert(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 4u);
  const std::string lines[][2] = {{"/a.bmp", "/JPG/a.jpg"}, {"/x/b.png", "/JPG/x/b.jpg"},
                                  {"/a.bmp", "/PNG/a.png"}, {"/x/b.png", "/PNG/x/b.png"}};
  std::string expected;
  for (const auto& line : lines) {
    expected += p + "/" + line[0].substr(1) + "->" + p + line[1] + "\n";
    EXPECT_EQ(Identify(p + line[1]), line[0] == "/a.bmp" ? "30x20;" : "20x30;");
    EXPECT_TRUE(SameMtime(p + line[0], p + line[1]));
  }
  // The folder entry's own spelling ("p/") leads to "p//a.bmp" nowhere.
  EXPECT_EQ(ReadFile(p + "/log.log"), expected);

  // A second run converts the first run's results too, into JPG/JPG; the
  // first result's name is taken now.
  request.targets = Targets(false, true, false, false);
  request.patterns = SplitString(kConvertDefaultPatterns, L"|");
  RunConvert(request, nullptr, nullptr);
  EXPECT_EQ(Identify(p + "/JPG/a_1.jpg"), "30x20;");
  EXPECT_EQ(Identify(p + "/JPG/JPG/a.jpg"), "30x20;");
  EXPECT_EQ(Identify(p + "/JPG/PNG/a.jpg"), "30x20;");
}

TEST(ConvertRun, SameFolderOverTheTree) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetOptions(true, true);
  ConvertRequest request;
  request.sources = SplitSources(W(photos));
  request.patterns = {L"*.jpg", L"*.png", L"*.ico"};
  request.targets = Targets(false, true, false, false);
  request.sameFolder = true;
  RunConvert(request, nullptr, nullptr);

  // JPEG sources: a new name, their own tags; times kept.
  for (const char* rel : {"le.jpg", "be.jpg", "sub/le.jpg", "旅行 照片.jpg", "meta.jpg"}) {
    SCOPED_TRACE(rel);
    const std::string source = photos + "/" + rel;
    const std::string result = N(ReplaceExtension(W(source), L"_1.jpg"));
    EXPECT_FALSE(Identify(result).empty());
    EXPECT_TRUE(TagsKept(source, result));
    EXPECT_TRUE(SameMtime(source, result));
  }
  // A JPEG turned by its orientation stays as stored, tag and all.
  EXPECT_EQ(Identify(photos + "/turned_1.jpg"), "640x480;");
  EXPECT_EQ(Tag(photos + "/turned_1.jpg", "Orientation"), "6");
  // PNG to JPG: no tags to copy, so the shooting time comes from the
  // modification time (set by the tree's maker to 2018-11-14 15:30:05 local).
  EXPECT_EQ(Identify(photos + "/alpha.jpg"), "200x100;");
  EXPECT_EQ(Tag(photos + "/alpha.jpg", "DateTimeOriginal"), "2018:11:14 15:30:05");
  EXPECT_TRUE(SameMtime(photos + "/alpha.png", photos + "/alpha.jpg"));
  // B.JPG gets a new B.jpg beside it on a file system that tells case apart.
  EXPECT_EQ(Identify(photos + "/B.jpg"), "300x200;");
  EXPECT_EQ(Tag(photos + "/B.jpg", "Model"), "CASE");

  const std::string log = ReadFile(photos + "/log.log");
  EXPECT_NE(log.find(photos + "/alpha.png->" + photos + "/alpha.jpg\n"), std::string::npos);
  EXPECT_NE(log.find(photos + "/sub/le.jpg->" + photos + "/sub/le_1.jpg\n"), std::string::npos);
  // The icon converts from its widest frame, the later of its two 48x48
  // ones (blue).
  EXPECT_NE(log.find(photos + "/icon.ico->" + photos + "/icon.jpg\n"), std::string::npos);
  EXPECT_EQ(Identify(photos + "/icon.jpg"), "48x48;");
  EXPECT_EQ(Shell("convert-im6.q16 " + Quote(photos + "/icon.jpg") + " -format '%[fx:int(mean.b*255+0.5)>200 && "
                  "int(mean.g*255+0.5)<40]' info:"),
            "1");
  EXPECT_TRUE(StagedLeftovers(photos).empty());
}

TEST(ConvertRun, OptionsOffAndANameTakenAfterPlanning) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetOptions(false, false, true);
  g_ConvertLog.assign(2, std::wstring());
  const std::wstring png = W(photos + "/alpha.png");
  ASSERT_EQ(ConvertOne(png, W(photos + "/alpha.jpg"), 0), 0);
  EXPECT_EQ(Tag(photos + "/alpha.jpg", "DateTimeOriginal"), "");
  EXPECT_FALSE(SameMtime(photos + "/alpha.png", photos + "/alpha.jpg"));
  EXPECT_EQ(Shell("identify-im6.q16 -format '%[colorspace]' " + Quote(photos + "/alpha.jpg")),
            "Gray");
  // The destination appeared between planning and running: left alone.
  const std::string taken = photos + "/taken.jpg";
  { std::ofstream(taken) << "not ours"; }
  EXPECT_EQ(ConvertOne(png, W(taken), 1), -1);
  EXPECT_EQ(ReadFile(taken), "not ours");
  EXPECT_EQ(N(g_ConvertLog[1]), "Convert" + photos + "/alpha.png Failed!\n");
  EXPECT_TRUE(StagedLeftovers(photos).empty());
}

TEST(ConvertRun, GifFramesAndDelays) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetOptions(true, false);
  struct Texts : BatchRunObserver {
    std::vector<std::wstring> texts;
    void GroupText(const std::wstring& text) override { texts.push_back(text); }
  } observer;
  ConvertRequest request;
  request.sources = SplitSources(W(photos + "/anim.gif"));
  request.targets = Targets(false, false, false, true);
  request.sameFolder = true;
  const ConvertOutcome outcome = RunConvert(request, nullptr, &observer);
  EXPECT_EQ(observer.texts, std::vector<std::wstring>{kConvertFilesGifText});
  const std::string result = photos + "/anim_1.gif";
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(Identify(result), "64x48;64x48;64x48;");
  EXPECT_EQ(Shell("identify-im6.q16 -format '%T;' " + Quote(result)), "10;20;30;");
  EXPECT_TRUE(SameMtime(photos + "/anim.gif", result));
  // Folders show the other GIF text.
  observer.texts.clear();
  request.sources = SplitSources(W(photos + "/sub"));
  request.patterns = {L"*.jpg"};
  RunConvert(request, nullptr, &observer);
  EXPECT_EQ(observer.texts, std::vector<std::wstring>{kBusyText});
}

TEST(ConvertRun, PhotoshopDocumentConvertsThroughTheImageLibrary) {
  TreeCopy tree;
  const std::string p = tree / "psd";
  fs::create_directories(p);
  // A layered document with transparency, written by ImageMagick.
  Shell("convert-im6.q16 -size 24x16 gradient:red-blue \\( -size 24x16 xc:none -fill green "
        "-draw 'rectangle 2,2 9,9' \\) " + Quote(p + "/doc.psd"));
  SetOptions(false, false);
  ConvertRequest request;
  request.sources = SplitSources(W(p + "/"));
  request.patterns = {L"*.psd"};
  request.targets = Targets(false, false, true, false);
  request.threadCount = 2;
  const ConvertOutcome outcome = RunConvert(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(Identify(p + "/PNG/doc.png"), "24x16;");
  // The merged picture's pixels, as ImageMagick reads the document.
  EXPECT_EQ(Shell("compare-im6.q16 -metric AE " + Quote(p + "/PNG/doc.png") + " " +
                  Quote(p + "/doc.psd[0]") + " null: 2>&1"),
            "0");
}

TEST(ConvertRun, TheBarIsFullAfterTheGroupOfFiles) {
  TreeCopy tree;
  const std::string photos = tree / "photos";
  SetOptions(true, false);
  struct Bars : BatchRunObserver {
    std::vector<std::string> steps;
    void GroupStarted(int bar) override { steps.push_back("start " + std::to_string(bar)); }
    void GroupFinished() override { steps.push_back("end"); }
    void BarAt(int bar) override { steps.push_back("bar " + std::to_string(bar)); }
  } observer;
  ConvertRequest request;
  // The folder, then a file: the file's group runs first, at 50; the
  // folder at position 0 of 2 entries at 1.
  request.sources = SplitSources(W(photos + "/sub|" + photos + "/le.jpg"));
  request.patterns = {L"*.jpg"};
  request.targets = Targets(false, false, true, false);
  request.sameFolder = true;
  RunConvert(request, nullptr, &observer);
  EXPECT_EQ(observer.steps, (std::vector<std::string>{"start 50", "end", "bar 100", "start 1", "end"}));
}
