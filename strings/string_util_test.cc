#include "strings/string_util.h"

#include <gtest/gtest.h>

namespace strings {
namespace {

TEST(StringUtilTest, AsciiToLowerTouchesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiToLower("Launch-After-INSTALL"), "launch-after-install");
  EXPECT_EQ(AsciiToLower("\xC3\x89@[`{"), "\xC3\x89@[`{");
}

TEST(StringUtilTest, TrimAsciiWhitespace) {
  const struct {
    std::string_view text;
    TrimPositions ends;
    std::string_view expected;
  } cases[] = {
      {" \t\v\f\r\nx y\r\n ", TrimPositions::kBoth, "x y"},
      {"  x  ", TrimPositions::kLeading, "x  "},
      {"  x  ", TrimPositions::kTrailing, "  x"},
      {"   ", TrimPositions::kBoth, ""},
      {"\xA0x\xA0", TrimPositions::kBoth, "\xA0x\xA0"},
      {"\xEF\xBB\xBFx", TrimPositions::kBoth, "\xEF\xBB\xBFx"},  // a byte-order mark stays
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TrimAsciiWhitespace(c.text, c.ends), c.expected);
  }
}

TEST(StringUtilTest, TrimWideWhitespaceUsesTheUnicodeSet) {
  EXPECT_EQ(TrimWideWhitespace(L"\u3000\u00A0 x \u2028\u205F", TrimPositions::kBoth), L"x");
  EXPECT_EQ(TrimWideWhitespace(L"\uFEFFx\uFEFF", TrimPositions::kBoth), L"\uFEFFx\uFEFF");
  EXPECT_EQ(TrimWideWhitespace(L"\u200Bx", TrimPositions::kBoth), L"\u200Bx");  // not a space
  int count = 0;
  for (uint32_t c = 0; c <= 0xFFFF; ++c) count += IsUnicodeWhitespace(static_cast<wchar_t>(c));
  EXPECT_EQ(count, 25);
}

TEST(StringUtilTest, IsAsciiText) {
  EXPECT_TRUE(IsAsciiText(std::string_view()));
  EXPECT_TRUE(IsAsciiText(std::string_view("\x7F")));
  EXPECT_FALSE(IsAsciiText(std::string_view("\x80")));
  EXPECT_TRUE(IsAsciiText(std::wstring_view(L"abc")));
  EXPECT_FALSE(IsAsciiText(std::wstring_view(L"\u0080")));
}

}  // namespace
}  // namespace strings
