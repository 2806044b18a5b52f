// The EXIF cloning tool end to end: a receiving tree paired with a source
// tree by relative path, tags equal to the source's, times onto the
// receiving picture, the log at the receiving root, and every pair that
// cannot be done left untouched.
#include <gtest/gtest.h>

#include "core/StringHelpers.h"
#include "core/ToolSettings.h"
#include "tests/tools/tool_tree.h"
#include "tools/CloneExif.h"

using namespace tooltest;

namespace {

void Draw(const std::string& path, const std::string& size, const std::string& colour) {
  fs::create_directories(fs::path(path).parent_path());
  Shell("convert-im6.q16 -size " + size + " xc:" + colour + " " + Quote(path));
}

std::vector<std::wstring> Patterns() { return SplitString(kDefaultPicturePatterns, L"|"); }

}  // namespace

TEST(CloneExifPaths, FoldersMustBeApartAndDistinct) {
  TreeCopy tree;
  const std::string s = tree / "photos", r = tree / "recv";
  fs::create_directories(r + "/deep");
  fs::create_directories(s + "x");
  fs::create_directory_symlink(s, tree / "link");
  struct Case {
    std::string source, receiving;
    ClonePathCheck expected;
  } cases[] = {
      {s, r, ClonePathCheck::kOk},
      {s, "", ClonePathCheck::kBadOutput},
      {s, s, ClonePathCheck::kSameAsInput},
      {s, s + "/../photos/", ClonePathCheck::kSameAsInput},  // another spelling
      {s, tree / "link", ClonePathCheck::kSameAsInput},      // through a link
      {s, s + "/sub", ClonePathCheck::kNested},
      {r + "/deep", r, ClonePathCheck::kNested},
      {tree / "link/sub", s, ClonePathCheck::kNested},
      {s, s + "x", ClonePathCheck::kOk},  // a longer name is not inside
      {"", r, ClonePathCheck::kOk},        // no source tree: the EXIF is cleared
      {s, tree / "gone", ClonePathCheck::kMissingReceiving},
      {s, s + "/le.jpg", ClonePathCheck::kMissingReceiving},  // a file is no folder
      {tree / "gone", r, ClonePathCheck::kMissingSource},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " | " + c.receiving);
    EXPECT_EQ(CheckCloneFolders(W(c.source), W(c.receiving)), c.expected);
  }
  EXPECT_EQ(ClonePathCheckText(ClonePathCheck::kSameAsInput), L"输出路径不能等于输入路径！");
  EXPECT_EQ(ClonePathCheckText(ClonePathCheck::kBadOutput), L"输出路径不合法！");
  EXPECT_EQ(N(CloneFoldersCheckText(ClonePathCheck::kMissingSource, W(tree / "gone"), W(r))),
            "输入目录不存在：\n" + (tree / "gone"));
  EXPECT_EQ(N(CloneFoldersCheckText(ClonePathCheck::kMissingReceiving, W(s), W(tree / "gone"))),
            "输出目录不存在：\n" + (tree / "gone"));
  EXPECT_EQ(CheckClonePair(W(s + "/le.jpg"), W(s + "/./le.jpg")), ClonePathCheck::kSameAsInput);
  EXPECT_EQ(CheckClonePair(L"", W(s + "/le.jpg")), ClonePathCheck::kOk);
  EXPECT_EQ(CheckClonePair(W(s + "/le.jpg"), L""), ClonePathCheck::kBadOutput);
}

TEST(CloneExifPaths, OnlyTheLeadingTreeIsExchanged) {
  TreeCopy tree;
  // The receiving folder's name recurs deeper down: only the root changes.
  const std::string r = tree / "r";
  Draw(r + "/x/r/1.jpg", "10x10", "red");
  std::vector<std::wstring> sources, receivings;
  BuildCloneLists(W(tree / "s"), W(r + "/"), Patterns(), sources, receivings);
  ASSERT_EQ(receivings.size(), 1u);
  EXPECT_EQ(N(receivings[0]), r + "/x/r/1.jpg");
  EXPECT_EQ(N(sources[0]), tree / "s/x/r/1.jpg");
}

TEST(CloneExifBatch, TagsTimesCollisionsAndLog) {
  TreeCopy tree;
  const std::string s = tree / "photos", r = tree / "recv";
  // Receiving pictures without EXIF, under the source tree's names.
  for (const char* rel : {"le.jpg", "be.jpg", "sub/le.jpg", "旅行 照片.jpg"})
    Draw(r + "/" + rel, "120x90", "gray");
  Shell("cp -p " + Quote(s + "/le.jpg") + " " + Quote(s + "/a.jpg") + " && cp -p " +
        Quote(s + "/be.jpg") + " " + Quote(s + "/a.jpeg"));
  Draw(r + "/a.jpg", "50x50", "blue");    // its own ".jpg": rewritten
  Draw(r + "/a.jpeg", "60x40", "green");  // would become a.jpg: refused
  Draw(r + "/a.png", "70x30", "red");     // source a.png is not a JPEG
  Draw(r + "/missing.jpg", "40x40", "white");
  Draw(r + "/alpha.png", "20x20", "black");
  const std::string untouched[] = {"a.jpeg", "a.png", "missing.jpg", "alpha.png"};
  std::map<std::string, std::string> before;
  for (const std::string& rel : untouched) before[rel] = ReadFile(r + "/" + rel);

  struct Counter : BatchRunObserver {
    int started = 0;
    void GroupStarted(int bar) override { started += bar == 50; }
  } observer;
  const CloneBatchOutcome outcome =
      RunCloneExifBatch(W(s), W(r), Patterns(), 4, nullptr, &observer);
  EXPECT_EQ(observer.started, 1);
  EXPECT_EQ(outcome.done, 5u);
  EXPECT_EQ(outcome.failed, 4u);

  for (const char* rel : {"le.jpg", "be.jpg", "sub/le.jpg", "旅行 照片.jpg", "a.jpg"}) {
    SCOPED_TRACE(rel);
    const std::string source = s + "/" + rel, receiving = r + "/" + rel;
    EXPECT_TRUE(TagsKept(source, receiving));
    EXPECT_TRUE(SameMtime(source, receiving));
  }
  EXPECT_EQ(Tag(r + "/sub/le.jpg", "Model"), "SUB");  // its own source, not le.jpg's
  EXPECT_TRUE(GpsNear(r + "/be.jpg", s + "/be.jpg"));
  EXPECT_EQ(Identify(r + "/a.jpg"), "50x50;");  // a.jpg kept its own pixels
  for (const std::string& rel : untouched) EXPECT_EQ(ReadFile(r + "/" + rel), before[rel]) << rel;
  EXPECT_FALSE(fs::exists(r + "/missing.jpg.jpg"));
  EXPECT_FALSE(fs::exists(r + "/alpha.jpg"));
  EXPECT_TRUE(StagedLeftovers(r).empty());

  // The only log, at the receiving root, in the order of the patterns.
  const std::string expected =
      s + "/a.jpg->" + r + "/a.jpg\n" + s + "/be.jpg->" + r + "/be.jpg\n" + s + "/le.jpg->" + r +
      "/le.jpg\n" + "CloneExif" + s + "/missing.jpg Failed!\n" + s + "/旅行 照片.jpg->" + r +
      "/旅行 照片.jpg\n" + s + "/sub/le.jpg->" + r + "/sub/le.jpg\n" + "CloneExif" + s +
      "/a.jpeg Failed!\n" + "CloneExif" + s + "/a.png Failed!\n" + "CloneExif" + s +
      "/alpha.png Failed!\n";
  EXPECT_EQ(ReadFile(r + "/log.log"), expected);
  EXPECT_FALSE(fs::exists(r + "/sub/log.log"));
  EXPECT_FALSE(fs::exists(s + "/log.log"));
}

TEST(CloneExifSingle, PngReceivingAndAnUnrelatedJpeg) {
  TreeCopy tree;
  const std::string source = tree / "photos/le.jpg";
  const std::string png = tree / "single/b.png", jpg = tree / "single/b.jpg";
  Draw(png, "64x32", "red");
  Draw(jpg, "16x16", "blue");
  const std::string pngBefore = ReadFile(png), jpgBefore = ReadFile(jpg);

  // b.jpg is another picture: not replaced unless the user agreed.
  EXPECT_TRUE(CloneNeedsReplaceConsent(W(png)));
  EXPECT_FALSE(RunCloneExifSingle(W(source), W(png), false));
  EXPECT_EQ(ReadFile(jpg), jpgBefore);
  EXPECT_EQ(ReadFile(png), pngBefore);
  EXPECT_EQ(N(g_CloneExifLog[0]), "CloneExif" + source + " Failed!\n");

  EXPECT_TRUE(RunCloneExifSingle(W(source), W(png), true));
  EXPECT_EQ(Identify(jpg), "64x32;");
  EXPECT_TRUE(TagsKept(source, jpg));
  EXPECT_EQ(ReadFile(png), pngBefore);  // the PNG stays and takes the times
  EXPECT_TRUE(SameMtime(png, source));
  EXPECT_EQ(N(g_CloneExifLog[0]), source + "->" + jpg + "\n");
  EXPECT_FALSE(g_CloneExifReplaceOther);
}

// A source that is not a JPEG, or not a picture, leaves the receiving
// picture untouched; a source that names nothing clears its EXIF block
// (the panel asked first), keeping its image data, profile and times.
TEST(CloneExifSingle, WithoutASourceTheExifIsCleared) {
  TreeCopy tree;
  const std::string receiving = tree / "photos/B.JPG";
  const std::string before = ReadFile(receiving);
  const std::string tif = tree / "photos/x.tif";
  Shell("convert-im6.q16 -size 8x8 xc:red " + Quote(tif));
  for (const std::string& source : {tif, tree / "photos/README"}) {
    SCOPED_TRACE(source);
    EXPECT_FALSE(CloneClearsExif(W(source)));
    bool cleared = true;
    EXPECT_FALSE(RunCloneExifSingle(W(source), W(receiving), false, &cleared));
    EXPECT_FALSE(cleared);
    EXPECT_EQ(ReadFile(receiving), before);
  }
  for (const std::string& source : {std::string(), tree / "photos/none.jpg"}) {
    SCOPED_TRACE(source);
    const std::string meta = tree / "photos/meta.jpg";
    for (const std::string& path : {receiving, meta}) {
      const std::string image = ImageData(ReadFile(path));
      const std::string icc = Shell("exiftool -b -ICC_Profile " + Quote(path));
      ASSERT_TRUE(CloneClearsExif(W(source)));
      bool cleared = false;
      EXPECT_TRUE(RunCloneExifSingle(W(source), W(path), false, &cleared));
      EXPECT_TRUE(cleared);
      EXPECT_EQ(Shell("exiftool -s -s -s -EXIF:all " + Quote(path)), "");
      EXPECT_EQ(ImageData(ReadFile(path)), image);
      EXPECT_EQ(Shell("exiftool -b -ICC_Profile " + Quote(path)), icc);
      EXPECT_TRUE(SameMtime(path, TreeCopy::Original("photos/" + fs::path(path).filename().string())));
    }
    for (const std::string& path : {receiving, meta})
      Shell("cp -p " + Quote(TreeCopy::Original("photos/" + fs::path(path).filename().string())) +
            " " + Quote(path));
  }
  // B.JPG is its own ".jpg": rewritten in place, no B.jpg beside it.
  EXPECT_FALSE(CloneNeedsReplaceConsent(W(receiving)));
  ASSERT_EQ(::chmod(receiving.c_str(), 0600), 0);  // a private photo stays private
  EXPECT_TRUE(RunCloneExifSingle(W(tree / "photos/le.jpg"), W(receiving), false));
  EXPECT_EQ(Stat(receiving).st_mode & 0777, 0600u);
  EXPECT_FALSE(fs::exists(tree / "photos/B.jpg"));
  EXPECT_EQ(Tag(receiving, "Model"), "LE-1");
  EXPECT_EQ(Identify(receiving), "300x200;");
}

// A batch over folders that do not exist runs nothing and says which one is
// missing; only an empty source field clears the receiving tree's EXIF.
TEST(CloneExifBatch, MissingFoldersRunNothingAndAnEmptySourceClears) {
  TreeCopy tree;
  const std::string s = tree / "photos", r = tree / "recv", gone = tree / "gone";
  Draw(r + "/x/1.jpg", "20x20", "red");
  Shell("exiftool -q -overwrite_original -Make=Receiving " + Quote(r + "/x/1.jpg"));
  const auto listing = [&] {
    return Shell("cd " + Quote(tree.path()) + " && find . -printf '%p %s %T@\\n' | LC_ALL=C sort");
  };
  const std::string digest = listing();
  const struct {
    std::string source, receiving, note;
  } refused[] = {
      {s, gone, "输出目录不存在：\n" + gone},
      {gone, r, "输入目录不存在：\n" + gone},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.note);
    const CloneBatchOutcome outcome =
        RunCloneExifBatch(W(c.source), W(c.receiving), Patterns(), 2, nullptr, nullptr);
    ASSERT_EQ(outcome.report.notes.size(), 1u);
    EXPECT_EQ(N(outcome.report.notes[0]), c.note);
    EXPECT_EQ(outcome.done + outcome.failed, 0u);
    EXPECT_EQ(listing(), digest) << "something was written";
  }
  const std::string image = ImageData(ReadFile(r + "/x/1.jpg"));
  const CloneBatchOutcome outcome = RunCloneExifBatch(L"", W(r), Patterns(), 2, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(outcome.failed, 0u);
  EXPECT_EQ(Shell("exiftool -s -s -s -EXIF:all " + Quote(r + "/x/1.jpg")), "");
  EXPECT_EQ(ImageData(ReadFile(r + "/x/1.jpg")), image);
  EXPECT_EQ(ReadFile(r + "/log.log"), "->" + r + "/x/1.jpg\n");
  EXPECT_TRUE(IsReplaceableResultLog(W(r + "/log.log")));
}
