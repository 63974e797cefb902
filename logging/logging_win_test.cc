// Logging against the real Windows file system and error codes.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/win/scoped_handle.h"
#include "logging/logging.h"
#include "logging/logging_platform.h"
#include "testing/log_capture.h"

namespace logging {
namespace {

constexpr LogSource kLauncher{"mir_installer_win/setup_launcher/setup_launcher_main"};

LogSettings FileSettings(const std::wstring& path, OldFileMode mode) {
  LogSettings settings;
  settings.destinations = DestFile;
  settings.log_file_path = path;
  settings.old_file_mode = mode;
  return settings;
}

void StopLogging() {
  ShutDownLogFile();
  ConfigureLogging(LogSettings());
}

TEST(LoggingWinTest, LauncherSettingsWriteTheSpecifiedLines) {
  ScopedTempDir dir;
  const std::wstring path = dir.Wide(L"mir_setup_launcher.log");
  WriteBytes(path, "left by an earlier run\n");
  ASSERT_TRUE(ConfigureLogging(FileSettings(path, DeleteOld)));
  LOG_AT(kLauncher, 329, INFO) << "======================================";
  LOG_AT(kLauncher, 330, INFO) << "Setup Launcher Starting";
  LOG_AT(kLauncher, 335, INFO) << "Setup Launcher Completed with exit code: " << -1073741819;
  StopLogging();
  const std::string where = "INFO:mir_installer_win/setup_launcher/setup_launcher_main:";
  EXPECT_THAT(ScopedLogCapture::FileBodies(ReadBytes(path)),
              ::testing::ElementsAre(where + "329] ======================================",
                                     where + "330] Setup Launcher Starting",
                                     where + "335] Setup Launcher Completed with exit code: "
                                             "-1073741819"));
}

TEST(LoggingWinTest, LogFileIsSharedForReadingAndWriting) {
  ScopedTempDir dir;
  const std::wstring path = dir.Wide(L"shared.log");
  ASSERT_TRUE(ConfigureLogging(FileSettings(path, DeleteOld)));
  LOG_AT(kLauncher, 1, INFO) << "first";
  ScopedHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(reader.IsValid()) << GetLastError();
  ScopedHandle writer(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
  EXPECT_TRUE(writer.IsValid()) << GetLastError();
  // Nobody may delete it while it is open.
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  StopLogging();
}

TEST(LoggingWinTest, LogFileCannotBeReadThroughItsOwnHandle) {
  ScopedTempDir dir;
  FileHandle file = platform::OpenForAppend(dir.Wide(L"own.log"));
  ASSERT_TRUE(platform::IsOpenFile(file));
  ScopedHandle owner(file);
  char byte;
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(owner.Get(), &byte, 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LoggingWinTest, DeleteOldAppendsWhenTheOldFileIsHeldOpen) {
  ScopedTempDir dir;
  const std::wstring path = dir.Wide(L"held.log");
  WriteBytes(path, "still running\n");
  ScopedHandle holder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  ASSERT_TRUE(ConfigureLogging(FileSettings(path, DeleteOld)));
  LOG_AT(kLauncher, 1, INFO) << "second run";
  StopLogging();
  const std::string content = ReadBytes(path);
  ASSERT_THAT(content, ::testing::StartsWith("still running\n"));
  EXPECT_THAT(ScopedLogCapture::FileBodies(content.substr(14)),
              ::testing::ElementsAre("INFO:mir_installer_win/setup_launcher/setup_launcher_main:1] "
                                     "second run"));
}

TEST(LoggingWinTest, UnopenableFileFallsBackToTheCurrentDirectory) {
  ScopedTempDir dir;
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Wide().c_str()));
  EXPECT_TRUE(ConfigureLogging(FileSettings(dir.Wide(L"missing\\dir\\x.log"), DeleteOld)));
  LOG_AT(kLauncher, 1, INFO) << "fallback";
  StopLogging();
  SetCurrentDirectoryW(previous);
  EXPECT_THAT(ScopedLogCapture::FileBodies(ReadBytes(dir.path() / "debug.log")),
              ::testing::ElementsAre(::testing::EndsWith("] fallback")));
}

// Only a process that never had a log file name drops the file destination
// when it closes an adopted handle, so this runs in one of its own.
TEST(LoggingWinDeathTest, SecondAdoptedHandleKeepsFileOutput) {
  ScopedTempDir dir;
  EXPECT_EXIT(
      {
        LogSettings settings;
        settings.destinations = DestFile;
        for (const wchar_t* name : {L"first.log", L"second.log"}) {
          settings.log_file_handle = platform::OpenForAppend(dir.Wide(name));
          ConfigureLogging(settings);  // closes the first handle before adopting the second
          LOG_AT(kLauncher, 1, INFO) << "into " << name;
        }
        ShutDownLogFile();
        const bool ok =
            ReadBytes(dir.path() / "second.log").find("into second.log") != std::string::npos &&
            ReadBytes(dir.path() / "first.log").find("into first.log") != std::string::npos;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(LoggingWinTest, LastErrorSurvivesTheMessage) {
  ScopedLogCapture capture;
  SetLastError(0);
  ScopedHandle missing(
      CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_FALSE(missing.IsValid());
  const DWORD expected = GetLastError();
  LOG_AT(kLauncher, 275, ERROR) << "Failed to launch process, GetLastError: " << GetLastError();
  EXPECT_EQ(GetLastError(), expected);
  PLOG_AT(kLauncher, 2, ERROR, 5) << "with text";
  EXPECT_EQ(GetLastError(), expected);
  ASSERT_EQ(capture.lines().size(), 2u);
  EXPECT_THAT(capture.Bodies()[0],
              ::testing::EndsWith("GetLastError: " + std::to_string(expected)));
}

TEST(LoggingWinTest, DescribeSystemError) {
  const std::string access_denied = DescribeSystemError(ERROR_ACCESS_DENIED);
  EXPECT_THAT(access_denied, ::testing::EndsWith(" (0x5)"));
  EXPECT_GT(access_denied.size(), 6u);
  EXPECT_EQ(access_denied.find_first_of("\r\n"), std::string::npos);

  // No message exists for this code; the text names the lookup's own error.
  wchar_t* buffer = nullptr;
  ASSERT_EQ(FormatMessageW(0x1300, nullptr, 0x12345678, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                           nullptr),
            0u);
  char expected[128];
  snprintf(expected, sizeof(expected), "Error (0x%lX) while retrieving error. (0x12345678)",
           GetLastError());
  EXPECT_EQ(DescribeSystemError(0x12345678), expected);
}

TEST(LoggingWinDeathTest, DefaultFileIsDebugLogBesideTheProgram) {
  EXPECT_EXIT(
      {
        LOG_AT(kLauncher, 1, INFO) << "before any configuration";
        ShutDownLogFile();
        const std::wstring name = platform::DefaultLogFileName();
        const bool written = ReadBytes(name).find("before any configuration") != std::string::npos;
        DeleteFileW(name.c_str());
        std::exit(written ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace logging
