#include "core/StringHelpers.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using List = std::vector<std::wstring>;

TEST(StringHelpers, NumbersAndCase) {
  EXPECT_EQ(ToWideString(0), L"0");
  EXPECT_EQ(ToWideString(-1234567), L"-1234567");
  EXPECT_EQ(ToWideString(INT32_MIN), L"-2147483648");
  EXPECT_EQ(UnsignedToWideString(4294967295u), L"4294967295");
  EXPECT_EQ(ChangeCase(L"AbC-ÄÖ照z", true), L"abc-ÄÖ照z");   // only A-Z change
  EXPECT_EQ(ChangeCase(L"abc-äö照Z", false), L"ABC-äö照Z");
}

TEST(StringHelpers, TrimSpacesTable) {
  struct Case {
    const wchar_t* in;
    wchar_t extra;
    const wchar_t* out;
  } cases[] = {
      {L"  ::x::  ", L':', L"x"},
      {L" \t\r\n", L':', L""},
      {L"", L' ', L""},
      {L"::", L':', L""},
      {L": x :", L':', L" x "},          // blanks are taken first, the extra character after
      {L"\n/a/b/\t", L'/', L"a/b"},
      {L"x y", L' ', L"x y"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimSpaces(c.in, c.extra), c.out) << c.in;
}

TEST(StringHelpers, PrefixTests) {
  struct Case {
    const wchar_t* text;
    const wchar_t* prefix;
    bool result;
  } cases[] = {
      {L"/Photos/2018", L"/photos", true},
      {L"  /photos/x", L"/PHOTOS ", true},
      {L"/ab/x", L"/a", true},  // textual: callers that need components use IsSameOrBelow
      {L"/a", L"/ab", false},
      {L"anything", L"", true},
      {L"", L"x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(StartsWithNoCase(c.text, c.prefix), c.result) << c.text << " / " << c.prefix;
  EXPECT_TRUE(AllStartWithNoCase({}, L"/x"));
  EXPECT_TRUE(AllStartWithNoCase({L"/X/1", L"/x/2"}, L"/x"));
  EXPECT_FALSE(AllStartWithNoCase({L"/x/1", L"/y/2"}, L"/x"));
  EXPECT_EQ(IndexOfString({L"a", L"B", L"b", L"b"}, L"b"), 2);
  EXPECT_EQ(IndexOfString({L"a"}, L"A"), -1);
  EXPECT_EQ(IndexOfString({}, L""), -1);
}

TEST(StringHelpers, ReplaceTable) {
  struct Case {
    const wchar_t* text;
    const wchar_t* pattern;
    const wchar_t* replacement;
    const wchar_t* all;
    const wchar_t* forward;
  } cases[] = {
      {L"aabb", L"ab", L"", L"", L"ab"},          // a deletion that forms a new occurrence
      {L"x..y...z", L"..", L".", L"x.y.z", L"x.y..z"},
      {L"abc", L"", L"x", L"abc", L"abc"},
      {L"abc", L"b", L"bb", L"abbc", L"abbc"},    // growing: one forward pass, no endless loop
      {L"aaa", L"a", L"b", L"bbb", L"bbb"},
      {L"照片照片", L"照", L"", L"片片", L"片片"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.all) << c.text;
    EXPECT_EQ(ReplaceAllForward(c.text, c.pattern, c.replacement), c.forward) << c.text;
  }
}

TEST(StringHelpers, SplitTable) {
  struct Case {
    const wchar_t* text;
    List pieces;
  } cases[] = {
      {L"", {}},
      {L"|", {L"", L""}},
      {L"*.jpg|*.png", {L"*.jpg", L"*.png"}},
      {L"a||b", {L"a", L"", L"b"}},
      {L"a|", {L"a", L""}},
      {L"one", {L"one"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitString(c.text, L"|"), c.pieces) << c.text;
    List out = {L"kept"};
    EXPECT_EQ(SplitCString(c.text, L'|', out), c.pieces.size() + 1) << c.text;
    EXPECT_EQ(out.front(), L"kept");
  }
  EXPECT_EQ(SplitString(L"a<>b<>", L"<>"), (List{L"a", L"b", L""}));
}

}  // namespace
