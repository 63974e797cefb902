// QuoteArgument against the system's own CommandLineToArgvW: text built by
// CommandText must split back into exactly the elements it was built from.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>

#include "command_line/command_line.h"
#include "strings/utf_string_conversions.h"

namespace command_line {
namespace {

std::vector<std::wstring> SystemSplit(const std::wstring& text) {
  int count = 0;
  wchar_t** array = CommandLineToArgvW(text.c_str(), &count);
  std::vector<std::wstring> elements(array, array + count);
  LocalFree(array);
  return elements;
}

std::wstring RandomElement(std::mt19937& random) {
  static const wchar_t* const kPieces[] = {
      L"a",    L"B",      L" ",      L"\t", L"\"",     L"\\",     L"\\\\",
      L"\\\"", L"\\\\\"", L"=",      L"-",  L"\u00E9", L"\u20AC", L"\xD83D\xDE00",
      L"x y",  L"''",     L"%TEMP%", L"^",  L"&"};
  std::wstring element;
  const int length = 1 + static_cast<int>(random() % 8);
  for (int i = 0; i < length; ++i) element += kPieces[random() % std::size(kPieces)];
  // Parsing trims each element and reads a leading "-" or "/" as a switch.
  if (element.front() == L' ' || element.front() == L'\t' || element.front() == L'-') {
    element.insert(0, L"x");
  }
  if (element.back() == L' ' || element.back() == L'\t') element.push_back(L'z');
  return element;
}

TEST(CommandLineWinTest, QuotedTextSplitsBackIntoTheSameElements) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::wstring> list = {L"C:\\Program Files\\Mirelo\\setup.exe"};
    const int count = static_cast<int>(random() % 5);
    for (int i = 0; i < count; ++i) list.push_back(RandomElement(random));
    CommandLine command_line;
    command_line.ResetFromArgumentList(list);
    command_line.AddSwitchWithValue("value", RandomElement(random));
    const std::wstring text = command_line.CommandText();
    ASSERT_EQ(SystemSplit(text), command_line.elements()) << strings::WideToUtf8(text);
    ASSERT_EQ(CommandLine::FromCommandText(text).elements(), command_line.elements());
  }
}

TEST(CommandLineWinTest, ElementsThatDoNotSurvive) {
  // The program is split without escapes, so a quoted path ending in a
  // backslash keeps the doubled backslash; an empty argument disappears.
  CommandLine command_line(base::PathValue(L"C:\\dir with blank\\"));
  command_line.ResetFromArgumentList({L"C:\\dir with blank\\", L"", L"x"});
  EXPECT_EQ(SystemSplit(command_line.CommandText()),
            (std::vector<std::wstring>{L"C:\\dir with blank\\\\", L"x"}));
}

}  // namespace
}  // namespace command_line
