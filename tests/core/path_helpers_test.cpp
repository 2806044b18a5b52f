#include "core/PathHelpers.h"

#include <gtest/gtest.h>

namespace {

using List = std::vector<std::wstring>;

TEST(PathHelpers, TrimAndClimb) {
  struct Case {
    const wchar_t* path;
    const wchar_t* trimmed;
    const wchar_t* parent;
    const wchar_t* last;
  } cases[] = {
      {L"/photos/2018/ ", L"/photos/2018", L"/photos", L"2018"},
      {L"/photos/2018/", L"/photos/2018", L"/photos", L"2018"},
      {L"/photos//\t\r\n", L"/photos", L"/", L"photos"},
      {L"/a", L"/a", L"/", L"a"},
      {L"/", L"/", L"/", L""},
      {L"///", L"/", L"/", L""},
      {L"name", L"name", L"name", L"name"},
      {L"", L"", L"", L""},
      {L"a\\b", L"a\\b", L"a\\b", L"a\\b"},  // a backslash is an ordinary character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimTrailingSeparators(c.path), c.trimmed) << c.path;
    EXPECT_EQ(GetParentDir(c.path), c.parent) << c.path;
    EXPECT_EQ(GetLastComponent(c.path), c.last) << c.path;
  }
  EXPECT_EQ(EnsureTrailingSeparator(L"/a"), L"/a/");
  EXPECT_EQ(EnsureTrailingSeparator(L"/a/"), L"/a/");
  EXPECT_EQ(EnsureTrailingSeparator(L""), L"");
  EXPECT_EQ(GetParentDir(L"C:\\x\\y", L'\\'), L"C:\\x");
}

TEST(PathHelpers, NamesAndExtensions) {
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
    const wchar_t* stem;
    const wchar_t* ext;
    const wchar_t* replaced;  // ReplaceExtension with ".ini"
    bool jpeg;
  } cases[] = {
      {L"a/b.c/file", L"file", L"file", L"", L"a/b.c/file.ini", false},
      {L"x/name.JPG", L"name.JPG", L"name", L".JPG", L"x/name.ini", true},
      {L"x.jpg.bak", L"x.jpg.bak", L"x.jpg", L".bak", L"x.jpg.ini", false},
      {L"/p/photo.jpeg", L"photo.jpeg", L"photo", L".jpeg", L"/p/photo.ini", true},
      {L"/home/u/.bashrc", L".bashrc", L".bashrc", L"", L"/home/u/.bashrc.ini", false},
      {L"/usr/bin/pixelwharf", L"pixelwharf", L"pixelwharf", L"", L"/usr/bin/pixelwharf.ini", false},
      {L"/d/", L"", L"", L"", L"/d/.ini", false},
      {L"archive.tar.gz", L"archive.tar.gz", L"archive.tar", L".gz", L"archive.tar.ini", false},
      {L"/p/.jpg", L".jpg", L".jpg", L"", L"/p/.jpg.ini", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetFileName(c.path, true), c.name) << c.path;
    EXPECT_EQ(GetFileName(c.path, false), c.stem) << c.path;
    EXPECT_EQ(GetExtension(c.path, true), c.ext) << c.path;
    EXPECT_EQ(GetExtension(c.path, false), *c.ext ? c.ext + 1 : L"") << c.path;
    EXPECT_EQ(ReplaceExtension(c.path, L".ini"), c.replaced) << c.path;
    EXPECT_EQ(IsJpegFile(c.path), c.jpeg) << c.path;
  }
}

TEST(PathHelpers, CommonParentComparesWholeComponents) {
  struct Case {
    List paths;
    const wchar_t* parent;
  } cases[] = {
      {{}, L""},
      {{L"/photos/2018/a.jpg"}, L"/photos/2018"},
      {{L"/photos/2018/a.jpg", L"/photos/2018/b.jpg"}, L"/photos/2018"},
      {{L"/photos/2018/a.jpg", L"/photos/2019/x/b.jpg"}, L"/photos"},
      {{L"/a/x", L"/ab/y"}, L"/"},  // "/a" is not a parent of "/ab/y"
      {{L"/a/x", L"/b/y"}, L"/"},
      {{L"/Photos/a", L"/photos/b"}, L"/"},  // paths are case-sensitive here
      {{L"/a/b/", L"/a/b/c/d"}, L"/a"},
      {{L"rel/x", L"other/y"}, L"/"},
      {{L"/"}, L"/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetCommonParentDir(c.paths), c.parent) << (c.paths.empty() ? L"(empty)" : c.paths.front());
  }
  EXPECT_TRUE(IsSameOrBelow(L"/a/b", L"/a"));
  EXPECT_TRUE(IsSameOrBelow(L"/a", L"/a"));
  EXPECT_TRUE(IsSameOrBelow(L"/a/b", L"/"));
  EXPECT_FALSE(IsSameOrBelow(L"/ab", L"/a"));
  EXPECT_FALSE(IsSameOrBelow(L"/a", L""));
}

}  // namespace
