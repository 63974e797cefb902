#include "strings/utf_string_conversions.h"

#include <gtest/gtest.h>

#include <string>

namespace strings {
namespace {

std::wstring Units(std::initializer_list<uint32_t> units) {
  std::wstring text;
  for (uint32_t unit : units) text.push_back(static_cast<wchar_t>(unit));
  return text;
}

TEST(Utf8ToWideTest, DecodesAndReplacesMaximalSubparts) {
  const struct {
    std::string utf8;
    std::wstring expected;
  } cases[] = {
      {"", L""},
      {"plain ascii", L"plain ascii"},
      {"a\xC3\xA9", Units({'a', 0xE9})},
      {"a\xFF"
       "b",
       Units({'a', 0xFFFD, 'b'})},
      {"\xE2\x82", Units({0xFFFD})},  // cut short: one subpart
      {"\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00})},
      {"\xED\xA0\x80", Units({0xFFFD, 0xFFFD, 0xFFFD})},              // encoded surrogate
      {"\xC0\xAF", Units({0xFFFD, 0xFFFD})},                          // overlong
      {"\xE0\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD})},              // overlong
      {"\xF4\x90\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},  // above U+10FFFF
      {"\xF0\x9F\x98"
       "x",
       Units({0xFFFD, 'x'})},
      {"\x80\x80", Units({0xFFFD, 0xFFFD})},  // stray continuation bytes
      {"\xEF\xBF\xBF", Units({0xFFFF})},      // noncharacters are still characters
      {"\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF})},
      {std::string("a\0b", 3), Units({'a', 0, 'b'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    EXPECT_EQ(Utf8ToWide(c.utf8), c.expected);
  }
}

TEST(WideToUtf8Test, EncodesAndReplacesLoneSurrogates) {
  const struct {
    std::wstring utf16;
    std::string expected;
  } cases[] = {
      {L"", ""},
      {L"abc", "abc"},
      {Units({0xE9}), "\xC3\xA9"},
      {Units({0x20AC}), "\xE2\x82\xAC"},
      {Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
      {Units({0xD800}), "\xEF\xBF\xBD"},
      {Units({0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
      {Units({'a', 0xD800, 'b'}),
       "a\xEF\xBF\xBD"
       "b"},
      {Units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
      {Units({0xD800, 0xDC00}), "\xF0\x90\x80\x80"},
      // Lone surrogates of every kind become U+FFFD, never a 3- or 4-byte
      // form of their own.
      {Units({0xDFFF}), "\xEF\xBF\xBD"},
      {Units({0xDC00, 0xDC00}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {Units({0xD800, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.expected));
    EXPECT_EQ(WideToUtf8(c.utf16), c.expected);
  }
  // A high surrogate that ends the text is alone, whatever follows in memory.
  const std::wstring pair = Units({0xD83D, 0xDE00});
  EXPECT_EQ(WideToUtf8(std::wstring_view(pair.data(), 1)), "\xEF\xBF\xBD");
}

TEST(DecodeUtf8SequenceTest, ReportsSubpartLength) {
  const struct {
    std::string bytes;
    uint32_t code_point;
    size_t length;
  } cases[] = {
      {"A", 'A', 1},
      {"\xC3\xA9", 0xE9, 2},
      {"\xC2", kInvalidCodePoint, 1},
      {"\xE1\x80", kInvalidCodePoint, 2},
      {"\xE1\x80\x41", kInvalidCodePoint, 2},
      {"\xF1\x80\x80", kInvalidCodePoint, 3},
      {"\xED\x9F\xBF", 0xD7FF, 3},
      {"\xF5\x80", kInvalidCodePoint, 1},
      {"\xF0\x8F\xBF\xBF", kInvalidCodePoint, 1},  // overlong
      {"\xF0\x90\x80\x80", 0x10000, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    size_t length = 0;
    EXPECT_EQ(DecodeUtf8Sequence(c.bytes, length), c.code_point);
    EXPECT_EQ(length, c.length);
  }
}

TEST(UtfRoundTripTest, EveryScalarValueSurvives) {
  for (uint32_t cp = 0; cp <= 0x10FFFF; cp += (cp < 0x10000 ? 1 : 97)) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::wstring wide =
        cp < 0x10000 ? Units({cp})
                     : Units({0xD800 + ((cp - 0x10000) >> 10), 0xDC00 + ((cp - 0x10000) & 0x3FF)});
    ASSERT_EQ(Utf8ToWide(WideToUtf8(wide)), wide) << cp;
  }
}

}  // namespace
}  // namespace strings
