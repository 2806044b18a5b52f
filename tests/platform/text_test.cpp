#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConversion, RoundTripsValidAndInvalidBytes) {
  const std::string cases[] = {
      "",
      "plain ascii",
      "照片 2018",                      // valid UTF-8, Chinese
      std::string("\xff\xfe", 2),       // never valid in UTF-8
      std::string("a\xc0\xaf" "b", 4),  // overlong "/"
      std::string("\xed\xa0\x80", 3),   // an encoded surrogate
      std::string("\xe5\x9b", 2),       // truncated sequence
      std::string("x\0y", 3),           // an embedded NUL survives
  };
  for (const std::string& narrow : cases) {
    const std::wstring wide = pw::NarrowToWide(narrow);
    EXPECT_EQ(pw::WideToNarrow(wide), narrow) << narrow;
  }
}

TEST(TextConversion, EscapesInvalidBytesAsLowSurrogates) {
  EXPECT_EQ(pw::NarrowToWide(std::string("a\xff", 2)), std::wstring(L"a") + wchar_t(0xDCFF));
  EXPECT_EQ(pw::NarrowToWide("照"), std::wstring(1, wchar_t(0x7167)));
}

TEST(TextConversion, UnencodableWideTextGivesEmpty) {
  EXPECT_EQ(pw::WideToNarrow(std::wstring(L"a") + wchar_t(0xD800)), "");
  EXPECT_EQ(pw::WideToNarrow(std::wstring(L"a") + wchar_t(0xDC10)), "");  // below the escape range
  EXPECT_EQ(pw::WideToNarrow(std::wstring(1, wchar_t(0x110000))), "");
  EXPECT_FALSE(pw::IsEncodable(std::wstring(1, wchar_t(0xD800))));
  EXPECT_TRUE(pw::IsEncodable(L"照片"));
}

}  // namespace
