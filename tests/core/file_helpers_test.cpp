#include "core/FileHelpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/PathHelpers.h"
#include "platform/files.h"
#include "../platform/temp_tree.h"

namespace {

using List = std::vector<std::wstring>;
using pwtest::ReadAll;
using pwtest::TempTree;

std::wstring W(const std::string& narrow) { return NarrowToWide(narrow); }

// A small photo tree: mixed-case names, dot files, a FIFO, a link back up
// the tree (a loop) and a link to a file.
class PhotoTree : public ::testing::Test {
 protected:
  void SetUp() override {
    t.Write("IMG_2.JPG");
    t.Write("img_1.jpg");
    t.Write(".thumb.jpg");
    t.Write("notes.txt");
    t.Write("scan.PNG");
    t.Write("Sub/b.jpeg");
    t.Write("Sub/Deeper/c.Jpg");
    t.Write("album/a.jpg");
    ASSERT_EQ(::mkfifo((t / "pipe.jpg").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("..", (t / "Sub/loop").c_str()), 0);
    ASSERT_EQ(::symlink("img_1.jpg", (t / "z_link.jpg").c_str()), 0);
    root = W(t.path());
  }
  TempTree t;
  std::wstring root;
};

TEST_F(PhotoTree, FindFilesFoldsCaseSortsAndDescendsSafely) {
  List found;
  EXPECT_EQ(FindFiles(root, found, "*.jpg", true), 6u);
  // Files of a folder before its sub-folders; names and sub-folders in byte
  // order ("Sub" < "album"); the FIFO is not listed, the loop not entered.
  const List expected = {
      root + L"/.thumb.jpg", root + L"/IMG_2.JPG",         root + L"/img_1.jpg",
      root + L"/z_link.jpg", root + L"/Sub/Deeper/c.Jpg", root + L"/album/a.jpg",
  };
  EXPECT_EQ(found, expected);

  found = {L"kept"};
  EXPECT_EQ(FindFiles(root + L"/", found, "*.*", false), 7u);
  EXPECT_EQ(found[1], root + L"/.thumb.jpg");
  EXPECT_EQ(FindFiles(root + L"/missing", found, "*", true), 7u);
  EXPECT_EQ(FindFiles(L"", found, "*", true), 7u) << "an empty folder is no folder, not the current one";
  EXPECT_EQ(FindFiles(std::wstring(1, wchar_t(0xD800)), found, "*", true), 7u) << "unencodable folder";
}

TEST_F(PhotoTree, CollectFilesNormalisesPatterns) {
  struct Case {
    List patterns;
    List names;  // relative to the root, in order found
  } cases[] = {
      {{L"jpg", L".png"}, {L".thumb.jpg", L"IMG_2.JPG", L"img_1.jpg", L"z_link.jpg", L"scan.PNG"}},
      {{L"jpg", L"*"}, {L".thumb.jpg", L"IMG_2.JPG", L"img_1.jpg", L"notes.txt", L"scan.PNG", L"z_link.jpg"}},
      {{L"", L"txt"}, {L"notes.txt"}},
      {{L"img_*", L"*.JPG"}, {L"IMG_2.JPG", L"img_1.jpg", L".thumb.jpg", L"IMG_2.JPG", L"img_1.jpg", L"z_link.jpg"}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    List found;
    EXPECT_EQ(CollectFiles(root, found, c.patterns, false), c.names.size());
    List expected;
    for (const std::wstring& n : c.names) expected.push_back(root + L"/" + n);
    EXPECT_EQ(found, expected) << (c.patterns.empty() ? L"(none)" : c.patterns.front());
  }
  List deep;
  CollectFiles(root, deep, SplitString(L"*.jpg|*.jpeg|*.png|*.bmp|*.gif|*.ico", L"|"), true);
  EXPECT_EQ(deep.size(), 8u);
}

TEST(FileHelpers, NamesThatAreNotUtf8SurviveSearchAndOpen) {
  TempTree t;
  const std::string odd = std::string("photo-\xff\xfe-") + "\xe7\x85\xa7" + "\xc0.jpg";  // invalid bytes mixed with 照
  t.Write(odd, "raw bytes");
  t.Write(std::string("dir-\x80/inner.JPG"), "inner");
  List found;
  ASSERT_EQ(FindFiles(W(t.path()), found, "*.jpg", true), 2u);
  std::vector<std::string> contents;
  for (const std::wstring& path : found) {
    const std::string narrow = WideToNarrow(path);
    ASSERT_FALSE(narrow.empty());
    EXPECT_TRUE(FileExists(path));
    contents.push_back(ReadAll(narrow));
  }
  EXPECT_EQ(contents, (std::vector<std::string>{"raw bytes", "inner"}));
  EXPECT_EQ(WideToNarrow(found[0]), t / odd);
}

TEST(FileHelpers, CreateDirectoryTreeTable) {
  TempTree t;
  const std::wstring root = W(t.path());
  t.Write("file");
  struct Case {
    std::wstring path;
    bool ok;
  } cases[] = {
      {root + L"/a/b/c", true},
      {root + L"/a/b/c", true},  // exists already
      {root + L"/x//y/", true},
      {root + L"/照片/2018", true},
      {root + L"/file/sub", false},  // a level is a file
      {L"/", true},
      {L"", false},
      {root + L"/bad" + wchar_t(0xD800), false},
  };
  for (const Case& c : cases) EXPECT_EQ(CreateDirectoryTree(c.path), c.ok) << WideToNarrow(c.path);
  EXPECT_TRUE(pw::FolderExists(t / "a/b/c"));
  EXPECT_TRUE(pw::FolderExists(t / "x/y"));
  EXPECT_TRUE(pw::FolderExists(t / "照片/2018"));
}

TEST(FileHelpers, LinesRoundTripAndAcceptCrLf) {
  TempTree t;
  const std::wstring path = W(t / "log.log");
  const List texts = {L"/照片/a.jpg -> /照片/201801/a.jpg\n", L"second\n", L"\n"};
  EXPECT_EQ(WriteLines(path, texts), 0);
  EXPECT_EQ(ReadAll(t / "log.log"), "/照片/a.jpg -> /照片/201801/a.jpg\nsecond\n\n");
  List lines = {L"stale"};
  EXPECT_EQ(ReadLines(path, lines), 3u);
  EXPECT_EQ(lines, (List{L"/照片/a.jpg -> /照片/201801/a.jpg", L"second", L""}));

  t.Write("crlf.txt", "one\r\ntwo\r\nlast");
  EXPECT_EQ(ReadLines(W(t / "crlf.txt"), lines), 3u);
  EXPECT_EQ(lines, (List{L"one", L"two", L"last"}));

  EXPECT_EQ(ReadLines(W(t / "missing"), lines), 0u);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(ReadLines(W(t.path()), lines), 0u);
  EXPECT_EQ(WriteLines(W(t / "no/such/folder/log.log"), texts), -1);
  EXPECT_EQ(WriteLines(L"", texts), -1);

  // Whether the whole file was read: a missing file is complete (nothing to
  // read); a read that fails part way is not. /proc/self/mem is a regular
  // file whose first page cannot be read.
  bool complete = false;
  ReadLines(path, lines, &complete);
  EXPECT_TRUE(complete);
  ReadLines(W(t / "missing"), lines, &complete);
  EXPECT_TRUE(complete);
  ReadLines(L"/proc/self/mem", lines, &complete);
  EXPECT_FALSE(complete);
}

TEST(FileHelpers, TimesAttributesAndMonth) {
  TempTree t;
  const std::string src = t.Write("src.jpg");
  const std::string dst = t.Write("dst.jpg");
  const timespec access{1262304000 + 86400 * 40, 111};   // 2010-02-10
  const timespec modify{1262304000 + 86400 * 200, 222};  // 2010-07-20
  ASSERT_TRUE(pw::SetFileTimes(src, access, modify));
  EXPECT_TRUE(CopyFileTimes(W(src), W(dst)));
  pw::FileTimes times;
  ASSERT_TRUE(pw::GetFileTimes(dst, times));
  EXPECT_EQ(times.modification.tv_sec, modify.tv_sec);
  EXPECT_EQ(times.modification.tv_nsec, 222);
  EXPECT_EQ(times.access.tv_nsec, 111);
  EXPECT_FALSE(CopyFileTimes(W(src), W(t / "missing")));
  EXPECT_FALSE(CopyFileTimes(W(t.path()), W(dst)));

  ASSERT_EQ(::chmod(dst.c_str(), 0444), 0);
  EXPECT_TRUE(ClearReadOnly(W(dst)));
  EXPECT_FALSE(pw::IsReadOnly(dst));
  EXPECT_FALSE(ClearReadOnly(W(t / "missing")));

  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  std::wstring a, b, c;
  const timespec late{1262303999, 0};  // 2009-12-31 23:59:59 UTC
  EXPECT_TRUE(FormatFileTimes(a, b, c, late, access, modify));
  EXPECT_EQ(a, L"20091231-2359");
  EXPECT_EQ(b, L"20100210-0000");
  EXPECT_EQ(c, L"20100720-0000");
  EXPECT_EQ(GetModifyMonth(W(src)), L"201007");
  EXPECT_EQ(GetModifyMonth(W(t / "missing")), L"");
  ::setenv("TZ", "Asia/Shanghai", 1);  // local time decides the month
  ::tzset();
  EXPECT_TRUE(FormatFileTimes(a, b, c, late, late, late));
  EXPECT_EQ(c, L"20100101-0759");
  if (oldTz) ::setenv("TZ", savedTz.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
