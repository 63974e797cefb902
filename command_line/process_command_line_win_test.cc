// The process command line with real configuration files in the prefix's
// local application-data folder.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "command_line/process_command_line.h"
#include "logging/logging.h"
#include "testing/log_capture.h"
#include "testing/scoped_command_config_win.h"

namespace command_line {
namespace {

using test_support::ScopedCommandConfig;
using test_support::ScopedLogCapture;

using ::testing::ElementsAre;

CommandLine Parse(const std::wstring& typed, std::string_view config) {
  return CommandLine::FromCommandText(AppendCommandConfig(typed, config));
}

TEST(ProcessCommandLineTest, ReadsTheTrimmedConfiguration) {
  ScopedCommandConfig config;
  EXPECT_EQ(ReadCommandConfig(), "");  // no file
  const struct {
    std::string_view file;
    std::string_view text;
  } cases[] = {
      {"--silent", "--silent"},
      {"\r\n\n  --silent --x=1 \t\r\n\n", "--silent --x=1"},
      {" \t\r\n\v\f ", ""},
      {"\xEF\xBB\xBF--silent\n", "\xEF\xBB\xBF--silent"},
      {"--a\n--b=c\r\nplain", "--a\n--b=c\r\nplain"},
      {"--v=\xFF\xC0", "--v=\xFF\xC0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    config.Write(c.file);
    EXPECT_EQ(ReadCommandConfig(), c.text);
  }
}

TEST(ProcessCommandLineTest, OversizedConfigurationIsIgnoredWithAWarning) {
  ScopedCommandConfig config;
  ScopedLogCapture capture;
  // As long as a command line can be: read.
  config.Write("--silent" + std::string(kMaxCommandConfigSize - 8, ' '));
  EXPECT_EQ(ReadCommandConfig(), "--silent");
  EXPECT_TRUE(capture.lines().empty());
  // One byte more: ignored, and said so.
  config.Write("--silent" + std::string(kMaxCommandConfigSize - 7, ' '));
  EXPECT_EQ(ReadCommandConfig(), "");
  EXPECT_THAT(capture.Bodies(),
              ElementsAre(::testing::AllOf(
                  ::testing::StartsWith("WARNING:command_line/process_command_line:40] "
                                        "[ProcessCommandLine] Ignoring "),
                  ::testing::EndsWith("mir_command.config: larger than 32767 bytes"))));
}

TEST(ProcessCommandLineTest, ConfigurationFollowsTheTypedText) {
  EXPECT_EQ(AppendCommandConfig(L"launcher.exe --a", ""), L"launcher.exe --a");
  EXPECT_EQ(AppendCommandConfig(L"launcher.exe --a", "--b"), L"launcher.exe --a --b");

  const CommandLine overridden = Parse(L"launcher.exe --mir-attribution-source=C:\\y\\b.exe",
                                       "--mir-attribution-source=C:\\x\\a.exe");
  EXPECT_EQ(overridden.SwitchValuePath("mir-attribution-source").Text(), L"C:\\x\\a.exe");
  EXPECT_EQ(overridden.elements().size(), 3u);  // both elements stay

  const CommandLine terminated = Parse(L"launcher.exe -- x", "--silent");
  EXPECT_FALSE(terminated.IsSwitchPresent("silent"));
  EXPECT_THAT(terminated.PlainArguments(), ElementsAre(L"--", L"x", L"--silent"));

  const CommandLine marked = Parse(L"launcher.exe", "\xEF\xBB\xBF--silent");
  EXPECT_FALSE(marked.IsSwitchPresent("silent"));
  EXPECT_THAT(marked.PlainArguments(), ElementsAre(L"\uFEFF--silent"));

  // CommandLineToArgvW splits at blanks and tabs only: line breaks stay
  // inside the element they stand in.
  const CommandLine lines = Parse(L"launcher.exe", "--a\n--b=c\r\nplain --d");
  EXPECT_TRUE(lines.IsSwitchPresent("a\n--b"));
  EXPECT_EQ(lines.SwitchValueWide("a\n--b"), L"c\r\nplain");
  EXPECT_TRUE(lines.IsSwitchPresent("d"));

  const CommandLine ill_formed = Parse(L"launcher.exe", "--v=\xFF\xC0");
  EXPECT_EQ(ill_formed.SwitchValueWide("v"), L"\uFFFD\uFFFD");

  const CommandLine unclosed = Parse(L"launcher.exe \"open", "--silent");
  EXPECT_FALSE(unclosed.IsSwitchPresent("silent"));
  EXPECT_THAT(unclosed.PlainArguments(), ElementsAre(L"open --silent"));
}

// The process command line is built once per process, so this runs in one
// of its own.
TEST(ProcessCommandLineDeathTest, InitialisesOnceWithTheConfiguration) {
  ScopedCommandConfig config;
  config.Write("\n--silent --v=-1\n");
  EXPECT_EXIT(
      {
        bool ok = !IsProcessCommandLineReady() && !GetProcessCommandLine();
        ok = ok && InitProcessCommandLine() && IsProcessCommandLineReady();
        ok = ok && GetProcessCommandLine()->IsSwitchPresent("silent");
        ok = ok && GetProcessCommandLine()->SwitchValueAscii("v") == "-1";
        ok = ok && !InitProcessCommandLine();
        // Logging configured after the command line exists reads "v".
        logging::ConfigureLogging(
            logging::LogSettings{logging::DestStderr, L"", logging::AppendToOld, {}});
        ok = ok && !logging::ShouldLog(logging::LOG_INFO);
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace command_line
