#include "logging/logging.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "logging/logging_platform.h"
#include "testing/log_capture.h"

namespace logging {
namespace {

using test_support::ReadBytes;
using test_support::ScopedLogCapture;
using test_support::ScopedTempDir;
using test_support::WriteBytes;

using ::testing::ElementsAre;

constexpr LogSource kSource{"mir_installer_win/installer/install_attribution_win"};

int CountingArgument(int& evaluations) { return ++evaluations; }

TEST(LoggingTest, StatementWritesHeaderTextAndOneLineFeed) {
  ScopedLogCapture capture;
  LOG_AT(kSource, 327, WARNING) << "[InstallAttribution] Ignoring malformed CHANNEL_INFO"
                                << " (len=" << 4097u << ")";
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_TRUE(ScopedLogCapture::HasTimestampAndLineFeed(capture.lines()[0])) << capture.lines()[0];
  EXPECT_THAT(capture.Bodies(),
              ElementsAre("WARNING:mir_installer_win/installer/install_attribution_win:327] "
                          "[InstallAttribution] Ignoring malformed CHANNEL_INFO (len=4097)"));
  const std::string file = ReadBytes(std::filesystem::path(capture.log_file()));
  EXPECT_EQ(file, capture.lines()[0]);
}

TEST(LoggingTest, WideTextAndPathsAreWrittenAsUtf8) {
  ScopedLogCapture capture;
  const std::wstring wide = L"caf\u00E9";
  LOG_AT(kSource, 1, INFO) << wide << " " << L"\u20AC" << " " << base::PathValue(L"C:\\T\u00E9mp")
                           << " " << -1073741819 << " " << 4294967295u;
  EXPECT_THAT(capture.Bodies(),
              ElementsAre("INFO:mir_installer_win/installer/install_attribution_win:1] "
                          "caf\xC3\xA9 \xE2\x82\xAC C:\\T\xC3\xA9mp -1073741819 4294967295"));
}

// An insertion that fails puts the stream in a bad state.
struct FailingInsertion {};
std::ostream& operator<<(std::ostream& out, const FailingInsertion&) {
  out.setstate(std::ios::badbit);
  return out;
}

TEST(LoggingTest, LineEndsWithItsLineFeedWhenAnInsertionFails) {
  ScopedLogCapture capture;
  LOG_AT(kSource, 1, INFO) << "before " << FailingInsertion() << "after";
  PLOG_AT(kSource, 2, ERROR, 5) << FailingInsertion();
  LOG_AT(kSource, 3, INFO) << "next";
  ASSERT_EQ(capture.lines().size(), 3u);
  for (const std::string& line : capture.lines()) {
    EXPECT_TRUE(ScopedLogCapture::HasTimestampAndLineFeed(line)) << line;
  }
  EXPECT_THAT(capture.Bodies()[1], ::testing::EndsWith(" (0x5)"));
  const std::string file = ReadBytes(std::filesystem::path(capture.log_file()));
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3);
}

TEST(LoggingTest, NumbersOfEveryWidthAreDecimal) {
  ScopedLogCapture capture;
  LOG_AT(kSource, 1, INFO) << uint8_t{200} << " " << int8_t{-5} << " " << uint16_t{65535} << " "
                           << int64_t{-9000000000} << " " << 'c' << " "
                           << static_cast<const char*>(nullptr);
  EXPECT_THAT(capture.Bodies(), ElementsAre(::testing::EndsWith("] 200 -5 65535 -9000000000 c "
                                                                "(null)")));
}

TEST(LoggingTest, SeveritiesAboveFatalPrintUnknownAndGoOn) {
  ScopedLogCapture capture;
  { LogMessage(kSource, 4, 7).stream() << "odd severity"; }
  LOG_AT(kSource, 5, INFO) << "still running";
  EXPECT_THAT(capture.Bodies(),
              ElementsAre("UNKNOWN:mir_installer_win/installer/install_attribution_win:4] odd "
                          "severity",
                          ::testing::EndsWith("5] still running")));
}

TEST(LoggingTest, WritesFullyUntilAWriteFailsOrTakesNothing) {
  const struct {
    const char* name;
    std::vector<int> results;  // what each write call returns, in turn
    std::string written;
  } cases[] = {
      {"all at once", {8}, "12345678"},
      {"in pieces", {3, 2, 3}, "12345678"},
      {"a failure", {3, -1}, "123"},
      {"a write that takes nothing", {3, 0}, "123"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t call = 0;
    std::string written;
    platform::WriteFully("12345678", [&](std::string_view rest) {
      // Past the end of the list it takes nothing a few times, then fails,
      // so that a loop that does not stop at nothing still ends.
      const int result =
          call < c.results.size() ? c.results[call] : (call < c.results.size() + 5 ? 0 : -1);
      ++call;
      if (result > 0) written.append(rest.substr(0, static_cast<size_t>(result)));
      return result;
    });
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(call, c.results.size());
  }
}

TEST(LoggingTest, GatedOffStatementEvaluatesNothing) {
  ScopedLogCapture capture;
  ConfigureLogging(LogSettings());  // no destinations: INFO and WARNING are gated off
  int evaluations = 0;
  LOG_AT(kSource, 1, INFO) << CountingArgument(evaluations);
  LOG_AT(kSource, 1, WARNING) << CountingArgument(evaluations);
  EXPECT_EQ(evaluations, 0);
  EXPECT_FALSE(ShouldLog(LOG_INFO));
  EXPECT_FALSE(ShouldLog(LOG_WARNING));
  EXPECT_TRUE(ShouldLog(LOG_ERROR));
  EXPECT_TRUE(capture.lines().empty());
}

TEST(LoggingTest, StatementIsOneExpressionInAnUnbracedIf) {
  ScopedLogCapture capture;
  for (bool condition : {true, false}) {
    if (condition)
      LOG_AT(kSource, 1, INFO) << "then";
    else
      LOG_AT(kSource, 2, INFO) << "else";
  }
  EXPECT_THAT(capture.Bodies(),
              ElementsAre(::testing::EndsWith("then"), ::testing::EndsWith("else")));
}

TEST(LoggingTest, ErrorWithoutDestinationsGoesToStandardErrorOnly) {
  ScopedLogCapture capture;
  ConfigureLogging(LogSettings());
  ::testing::internal::CaptureStderr();
  LOG_AT(kSource, 9, ERROR) << "to stderr";
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, ::testing::EndsWith(
                       "ERROR:mir_installer_win/installer/install_attribution_win:9] to stderr\n"));
}

TEST(LoggingTest, InfoWithTheFileDestinationStaysOutOfStandardError) {
  ScopedLogCapture capture;
  ::testing::internal::CaptureStderr();
  LOG_AT(kSource, 9, INFO) << "file only";
  LOG_AT(kSource, 10, ERROR) << "file and stderr";
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::EndsWith("file and stderr\n"));
  EXPECT_EQ(capture.lines().size(), 2u);
}

TEST(LoggingTest, MessagesKeepErrno) {
  ScopedLogCapture capture;
  errno = ENOENT;
  LOG_AT(kSource, 1, INFO) << "errno is " << errno;
  EXPECT_EQ(errno, ENOENT);
  EXPECT_THAT(capture.Bodies(),
              ElementsAre(::testing::EndsWith("errno is " + std::to_string(ENOENT))));
}

TEST(LoggingTest, SystemErrorMessageAppendsTheErrorText) {
  ScopedLogCapture capture;
  PLOG_AT(kSource, 3, ERROR, 5) << "Open failed";
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_THAT(capture.Bodies()[0],
              ::testing::StartsWith("ERROR:mir_installer_win/installer/install_attribution_win:"
                                    "3] Open failed: "));
  EXPECT_THAT(capture.Bodies()[0], ::testing::EndsWith(" (0x5)"));
}

TEST(LoggingTest, ReopensAndAppendsAfterShutDown) {
  ScopedLogCapture capture;
  LOG_AT(kSource, 1, INFO) << "before";
  ShutDownLogFile();
  LOG_AT(kSource, 2, INFO) << "after";
  const std::string file = ReadBytes(std::filesystem::path(capture.log_file()));
  EXPECT_EQ(file, capture.lines()[0] + capture.lines()[1]);
}

TEST(LoggingTest, DeleteOldStartsAFreshFile) {
  ScopedTempDir dir;
  WriteBytes(dir.path() / "run.log", "an earlier run\n");
  LogSettings settings;
  settings.destinations = DestFile;
  settings.log_file_path = dir.Wide(L"run.log");
  settings.old_file_mode = DeleteOld;
  ASSERT_TRUE(ConfigureLogging(std::move(settings)));
  LOG_AT(kSource, 1, INFO) << "fresh";
  ShutDownLogFile();
  ConfigureLogging(LogSettings());
  EXPECT_THAT(ScopedLogCapture::FileBodies(ReadBytes(dir.path() / "run.log")),
              ElementsAre(::testing::EndsWith("1] fresh")));
}

TEST(LoggingTest, AppendToOldKeepsTheFile) {
  ScopedTempDir dir;
  WriteBytes(dir.path() / "run.log", "an earlier run\n");
  LogSettings settings;
  settings.destinations = DestFile;
  settings.log_file_path = dir.Wide(L"run.log");
  ASSERT_TRUE(ConfigureLogging(std::move(settings)));
  LOG_AT(kSource, 1, INFO) << "appended";
  ShutDownLogFile();
  ConfigureLogging(LogSettings());
  const std::string content = ReadBytes(dir.path() / "run.log");
  ASSERT_THAT(content, ::testing::StartsWith("an earlier run\n"));
  EXPECT_THAT(ScopedLogCapture::FileBodies(content.substr(15)),
              ElementsAre(::testing::EndsWith("1] appended")));
}

TEST(LoggingDeathTest, FatalEndsTheProcessAfterTheLine) {
  EXPECT_DEATH(
      {
        ConfigureLogging(LogSettings());
        LOG_AT(kSource, 1, FATAL) << "fatal line";
      },
      "fatal line");
}

bool ReadVerboseOne(std::string& v, std::string& vmodule) {
  v = "-1";  // minimum severity 1: INFO is skipped
  vmodule = "install_attribution_win=3";
  return true;
}

bool CommandLineNotReady(std::string&, std::string&) { return false; }

// The verbose table is published once per process, so each case runs in a
// process of its own.
TEST(LoggingDeathTest, VerboseSwitchesApplyOnlyOnceTheCommandLineExists) {
  EXPECT_EXIT(
      {
        SetVerboseSwitchReader(&CommandLineNotReady);
        ConfigureLogging(LogSettings{DestStderr, L"", AppendToOld, {}});
        const bool ok = ShouldLog(LOG_INFO) && VerboseLevelFor(kSource.file) == 0;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        SetVerboseSwitchReader(&ReadVerboseOne);
        ConfigureLogging(LogSettings{DestStderr, L"", AppendToOld, {}});
        const bool ok = !ShouldLog(LOG_INFO) && ShouldLog(LOG_WARNING) &&
                        VerboseLevelFor(kSource.file) == 3 && VerboseLevelFor("other.cc") == -1;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(LoggingTest, DefaultVerboseLevel) { EXPECT_EQ(VerboseLevelFor("any.cc"), 0); }

}  // namespace
}  // namespace logging
