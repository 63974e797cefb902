#include "logging/log_format.h"

#include <gtest/gtest.h>

namespace logging {
namespace {

TEST(LogFormatTest, HeaderHasFixedWidthTimeSeverityAndLocation) {
  EXPECT_EQ(FormatLogHeader({4, 12, 15, 30, 45, 123}, 0,
                            "mir_installer_win/setup_launcher/setup_launcher_main", 330),
            "[0412/153045.123:INFO:mir_installer_win/setup_launcher/setup_launcher_main:330] ");
  EXPECT_EQ(FormatLogHeader({1, 2, 3, 4, 5, 7}, 2, "f", 1), "[0102/030405.007:ERROR:f:1] ");
}

TEST(LogFormatTest, SeverityNames) {
  const struct {
    int severity;
    const char* name;
  } cases[] = {{-1, "VERBOSE1"}, {-2, "VERBOSE2"}, {0, "INFO"},    {1, "WARNING"},
               {2, "ERROR"},     {3, "FATAL"},     {4, "UNKNOWN"}, {7, "UNKNOWN"}};
  for (const auto& c : cases) EXPECT_EQ(SeverityName(c.severity), c.name) << c.severity;
}

TEST(LogFormatTest, SourceFilesStartingWithADotLoseSixCharacters) {
  const struct {
    const char* file;
    const char* printed;
  } cases[] = {{"..\\..\\x\\y", "x\\y"},
               {"..\\..\\app\\main", "app\\main"},
               {".", ""},
               {"..\\a", ""},
               {"mir_installer_win/installer/install_attribution_win",
                "mir_installer_win/installer/install_attribution_win"}};
  for (const auto& c : cases) EXPECT_EQ(PrintedSourceFile(c.file), c.printed) << c.file;
}

TEST(LogFormatTest, CollapseErrorText) {
  const struct {
    std::wstring_view text;
    std::wstring_view expected;
  } cases[] = {
      {L"Access is denied.\r\n", L"Access is denied."},
      {L"  two\t\tparts  ", L"two parts"},
      {L"line one.\r\nline two.", L"line one.line two."},
      {L"a \r\n b", L"ab"},
      {L"a\u00A0\u3000b", L"a b"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(CollapseErrorText(c.text), c.expected);
}

TEST(LogFormatTest, SystemErrorTexts) {
  EXPECT_EQ(FormatSystemError(L"Access is denied.\r\n", 5), "Access is denied. (0x5)");
  EXPECT_EQ(FormatSystemError(L"x", 0xC0000005u), "x (0xC0000005)");
  EXPECT_EQ(FormatSystemErrorLookupFailure(317, 0x12345678),
            "Error (0x13D) while retrieving error. (0x12345678)");
}

}  // namespace
}  // namespace logging
