#include "command_line/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "strings/utf_string_conversions.h"

namespace command_line {
namespace {

using ::testing::ElementsAre;
using Elements = CommandLine::StringVector;

TEST(CommandLineTest, SwitchNamesAreLowerCasedAndPrefixesKept) {
  const struct {
    const wchar_t* text;
    const wchar_t* element;
  } cases[] = {{L"prog --Silent", L"--silent"},
               {L"prog -SILENT", L"-silent"},
               {L"prog /silent", L"/silent"},
               {L"prog /silent=0", L"/silent=0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(strings::WideToUtf8(c.text));
    const CommandLine command_line = CommandLine::FromCommandText(c.text);
    EXPECT_TRUE(command_line.IsSwitchPresent("silent"));
    EXPECT_THAT(command_line.elements(), ElementsAre(L"prog", c.element));
    EXPECT_EQ(command_line.CommandText(), std::wstring(c.text).substr(0, 5) + c.element);
  }
}

TEST(CommandLineTest, ValuesSplitAtTheFirstEquals) {
  const CommandLine command_line = CommandLine::FromCommandText(L"prog --a=b=c --e=");
  EXPECT_EQ(command_line.SwitchValueWide("a"), L"b=c");
  EXPECT_TRUE(command_line.IsSwitchPresent("e"));
  EXPECT_EQ(command_line.SwitchValueWide("e"), L"");
  EXPECT_EQ(command_line.CommandText(), L"prog --a=b=c --e");
  EXPECT_FALSE(command_line.IsSwitchPresent("b"));
  EXPECT_EQ(command_line.SwitchValueWide("missing"), L"");
}

TEST(CommandLineTest, TerminatorEndsSwitchParsingAndStays) {
  const CommandLine command_line = CommandLine::FromCommandText(L"prog - / --y -- --x /z");
  EXPECT_THAT(command_line.elements(),
              ElementsAre(L"prog", L"--y", L"-", L"/", L"--", L"--x", L"/z"));
  EXPECT_FALSE(command_line.IsSwitchPresent("x"));
  EXPECT_THAT(command_line.PlainArguments(), ElementsAre(L"-", L"/", L"--", L"--x", L"/z"));
  EXPECT_EQ(command_line.ArgumentsText(), L"--y - / -- --x /z");
}

TEST(CommandLineTest, SwitchGivenTwiceKeepsBothElementsAndTheLaterValue) {
  const CommandLine command_line = CommandLine::FromCommandText(L"prog --v=1 --V=2");
  EXPECT_EQ(command_line.SwitchValueWide("v"), L"2");
  EXPECT_EQ(command_line.CommandText(), L"prog --v=1 --v=2");
  EXPECT_EQ(command_line.switches().size(), 1u);
}

TEST(CommandLineTest, SwitchesPrecedeArgumentsInOrderAdded) {
  const CommandLine command_line = CommandLine::FromCommandText(L"prog a --b c --d");
  EXPECT_THAT(command_line.elements(), ElementsAre(L"prog", L"--b", L"--d", L"a", L"c"));
  EXPECT_EQ(command_line.CommandText(), L"prog --b --d a c");
}

TEST(CommandLineTest, ElementsAreTrimmed) {
  const CommandLine command_line = CommandLine::FromCommandText(L"prog \"  x  \" \"   \" y");
  EXPECT_THAT(command_line.PlainArguments(), ElementsAre(L"x", L"", L"y"));
  EXPECT_EQ(command_line.ArgumentsText(), L"x  y");  // the empty argument is lost in text
}

TEST(CommandLineTest, QuoteArgument) {
  const struct {
    const wchar_t* text;
    const wchar_t* quoted;
  } cases[] = {
      {L"abc", L"abc"},
      {L"", L""},
      {L"a b", L"\"a b\""},
      {L"a\tb", L"\"a\tb\""},
      {L"a\"b", L"\"a\\\"b\""},
      {L"C:\\dir\\", L"\"C:\\dir\\\\\""},
      {L"a\\b", L"\"a\\b\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"a\\\\b c\\\\", L"\"a\\\\b c\\\\\\\\\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(strings::WideToUtf8(c.text));
    EXPECT_EQ(CommandLine::QuoteArgument(c.text), c.quoted);
  }
}

TEST(CommandLineTest, BuiltCommandQuotesThePathAndValues) {
  CommandLine command_line(base::PathValue(L" C:\\Users\\A B\\Temp\\x\\setup.exe "));
  command_line.AddSwitch("silent");
  command_line.AddSwitch("launch-after-install");
  EXPECT_EQ(command_line.CommandText(),
            L"\"C:\\Users\\A B\\Temp\\x\\setup.exe\" --silent --launch-after-install");
  command_line.AddSwitchWithValue("Dir", L"C:\\A B");
  command_line.AddSwitchWithValue("/x", L"1");
  EXPECT_EQ(command_line.ArgumentsText(),
            L"--silent --launch-after-install --dir=\"C:\\A B\" /x=1");
  EXPECT_EQ(command_line.ProgramPath().Text(), L"C:\\Users\\A B\\Temp\\x\\setup.exe");
}

TEST(CommandLineTest, ValueQueries) {
  CommandLine command_line;
  command_line.AddSwitchWithValue("ascii", L"plain");
  command_line.AddSwitchWithValue("wide", L"caf\u00E9");
  command_line.AddSwitchWithValue("path", std::wstring_view(L"C:\\a\0b", 6));
  EXPECT_EQ(command_line.SwitchValueAscii("ascii"), "plain");
  EXPECT_EQ(command_line.SwitchValueWide("wide"), L"caf\u00E9");
  EXPECT_EQ(command_line.SwitchValueAscii("wide"), "");
  EXPECT_EQ(command_line.SwitchValuePath("path").Text(), L"C:\\a");
}

TEST(CommandLineTest, SingleArgumentTakesTheRawRest) {
  const CommandLine taken = CommandLine::FromCommandText(L"prog --single-argument  x y");
  EXPECT_TRUE(taken.single_argument());
  EXPECT_TRUE(taken.switches().empty());
  EXPECT_THAT(taken.elements(), ElementsAre(L"prog", L" x y"));
  EXPECT_EQ(taken.ArgumentsText(), L"--single-argument  x y");

  const CommandLine dropped = CommandLine::FromCommandText(L"prog --s a --single-argument");
  EXPECT_FALSE(dropped.single_argument());
  EXPECT_THAT(dropped.elements(), ElementsAre(L"prog", L"--s"));

  const CommandLine ordinary = CommandLine::FromCommandText(L"prog --Single-Argument x");
  EXPECT_FALSE(ordinary.single_argument());
  EXPECT_TRUE(ordinary.IsSwitchPresent("single-argument"));
  EXPECT_THAT(ordinary.PlainArguments(), ElementsAre(L"x"));

  const CommandLine with_value = CommandLine::FromCommandText(L"prog /single-argument=v \"q r\"");
  EXPECT_THAT(with_value.elements(), ElementsAre(L"prog", L"v \"q r\""));

  // A list is not command text: the switch is ordinary there.
  CommandLine from_list;
  from_list.ResetFromArgumentList({L"prog", L"--single-argument", L"x"});
  EXPECT_FALSE(from_list.single_argument());
  EXPECT_TRUE(from_list.IsSwitchPresent("single-argument"));
}

TEST(CommandLineTest, BlankTextLeavesTheObjectAsItWas) {
  CommandLine command_line = CommandLine::FromCommandText(L" \t\u3000 ");
  EXPECT_THAT(command_line.elements(), ElementsAre(L""));
  command_line.ParseCommandText(L"prog --a");
  command_line.ParseCommandText(L"   ");
  EXPECT_TRUE(command_line.IsSwitchPresent("a"));
}

TEST(CommandLineTest, ResetReplacesEverything) {
  CommandLine command_line = CommandLine::FromCommandText(L"old --x y");
  command_line.ResetFromArgumentList({std::wstring(L"new\0tail", 8), L"--z"});
  EXPECT_THAT(command_line.elements(), ElementsAre(L"new", L"--z"));
  EXPECT_FALSE(command_line.IsSwitchPresent("x"));
  command_line.ResetFromArgumentList({});
  EXPECT_THAT(command_line.elements(), ElementsAre(L""));
}

// Natively this checks the stand-in splitter, under Wine the system's.
TEST(CommandLineTest, SplitsByTheSystemRules) {
  const CommandLine command_line = CommandLine::FromCommandText(
      L"\"C:\\A B\\x.exe\" c\\\\\\\"d --k=\"v w\" \"a\"\"b\" e\\\\f \"g\\\\\"");
  EXPECT_EQ(command_line.ProgramPath().Text(), L"C:\\A B\\x.exe");
  EXPECT_EQ(command_line.SwitchValueWide("k"), L"v w");
  // The doubled quote gives one quote and ends the quoted part, so the
  // quote after "b" opens a new one that runs on past the blanks.
  EXPECT_THAT(command_line.PlainArguments(), ElementsAre(L"c\\\"d", L"a\"b e\\\\f g\\"));
}

TEST(CommandLineDeathTest, QueryNameMustBeLowerCase) {
  const CommandLine command_line;
  EXPECT_DEATH(command_line.IsSwitchPresent("Silent"), "lower case");
}

}  // namespace
}  // namespace command_line
