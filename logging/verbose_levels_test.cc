#include "logging/verbose_levels.h"

#include <gtest/gtest.h>

namespace logging {
namespace {

TEST(VerboseLevelsTest, ParseWholeInt) {
  const struct {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"1", true, 1},
               {"-2", true, -2},
               {"+3", true, 3},
               {"2147483647", true, 2147483647},
               {"-2147483648", true, -2147483647 - 1},
               {"2147483648", false, 0},
               {"", false, 0},
               {"-", false, 0},
               {" 1", false, 0},
               {"1 ", false, 0},
               {"1x", false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int value = 0;
    EXPECT_EQ(ParseWholeInt(c.text, value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(VerboseLevelsTest, MatchVerbosePattern) {
  const struct {
    const char* pattern;
    const char* text;
    bool matches;
  } cases[] = {
      {"foo", "foo", true},     {"foo", "foobar", false}, {"f*", "foobar", true},
      {"*bar", "foobar", true}, {"f?o", "foo", true},     {"f?o", "fo", false},
      {"*", "", true},          {"", "", true},           {"", "x", false},
      {"a/b", "a\\b", true},    {"a\\*", "a/b/c", true},  {"*a*b*", "xaybz", true},
      {"*a*b", "xaybz", false}, {"a**", "a", true},       {"?", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchVerbosePattern(c.pattern, c.text), c.matches) << c.pattern << " ~ " << c.text;
  }
}

TEST(VerboseLevelsTest, ModuleName) {
  EXPECT_EQ(VerboseModuleName("a/b/foo-inl.h"), "foo");
  EXPECT_EQ(VerboseModuleName("a\\b\\foo.cc"), "foo");
  EXPECT_EQ(VerboseModuleName("x.y.z"), "x.y");
  EXPECT_EQ(VerboseModuleName("mir_installer_win/setup_launcher/setup_launcher_main"),
            "setup_launcher_main");
}

TEST(VerboseLevelsTest, TableTakesTheFirstMatchingPattern) {
  int minimum_severity = 0;
  VerboseTable table("2", " net/*=3 , ,main==4,x=5y,bare, launcher*=-1", &minimum_severity);
  EXPECT_EQ(minimum_severity, -2);
  ASSERT_EQ(table.patterns().size(), 5u);
  EXPECT_EQ(table.patterns()[3].pattern, "");  // a piece without "="
  EXPECT_EQ(table.patterns()[3].level, 0);
  EXPECT_EQ(table.LevelFor("net/socket.cc"), 3);
  EXPECT_EQ(table.LevelFor("src/net/socket.cc"), 2);  // a path pattern must match the whole text
  EXPECT_EQ(table.LevelFor("app/main.cc"), 4);
  EXPECT_EQ(table.LevelFor("x.cc"), 5);
  EXPECT_EQ(table.LevelFor("launcher_main.cc"), -1);
  EXPECT_EQ(table.LevelFor("other.cc"), 2);
}

TEST(VerboseLevelsTest, UnparsableVLeavesTheMinimumSeverity) {
  int minimum_severity = 1;
  VerboseTable table("high", "", &minimum_severity);
  EXPECT_EQ(minimum_severity, 1);
  EXPECT_EQ(table.LevelFor("a.cc"), -1);
}

}  // namespace
}  // namespace logging
