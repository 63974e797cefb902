// Logging against the real Windows file system and error codes.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "base/win/scoped_handle.h"
#include "logging/logging.h"
#include "logging/logging_platform.h"
#include "testing/log_capture.h"

namespace logging {
namespace {

using test_support::ReadBytes;
using test_support::ScopedLogCapture;
using test_support::ScopedTempDir;
using test_support::WriteBytes;

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
  base::ScopedHandle reader(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  EXPECT_TRUE(reader.IsValid()) << GetLastError();
  base::ScopedHandle writer(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  EXPECT_TRUE(writer.IsValid()) << GetLastError();
  // Nobody may delete it while it is open.
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  StopLogging();
}

TEST(LoggingWinTest, LogFileCannotBeReadThroughItsOwnHandle) {
  ScopedTempDir dir;
  const LogFile owner = platform::OpenForAppend(dir.Wide(L"own.log"));
  ASSERT_TRUE(owner.IsValid());
  char byte;
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(owner.Get(), &byte, 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// The log is written only into a plain file with one name: never through a
// hard link to a file elsewhere, never into a directory or a device.
TEST(LoggingWinTest, LogFileOpensOnlyAPlainFileWithOneName) {
  ScopedTempDir dir;
  WriteBytes(dir.path() / "elsewhere.txt", "not a log\n");
  WriteBytes(dir.path() / "earlier.log", "an earlier run\n");
  ASSERT_TRUE(CreateHardLinkW(dir.Wide(L"linked.log").c_str(), dir.Wide(L"elsewhere.txt").c_str(),
                              nullptr));
  std::filesystem::create_directory(dir.path() / "directory.log");
  const struct {
    const wchar_t* name;
    bool opened;
  } cases[] = {
      {L"new.log", true},        {L"earlier.log", true}, {L"linked.log", false},
      {L"directory.log", false}, {L"NUL", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    const std::wstring path = std::wstring(c.name) == L"NUL" ? L"NUL" : dir.Wide(c.name);
    EXPECT_EQ(platform::OpenForAppend(path).IsValid(), c.opened);
  }
  EXPECT_EQ(ReadBytes(dir.path() / "elsewhere.txt"), "not a log\n");
}

TEST(LoggingWinTest, DeleteOldAppendsWhenTheOldFileIsHeldOpen) {
  ScopedTempDir dir;
  const std::wstring path = dir.Wide(L"held.log");
  WriteBytes(path, "still running\n");
  base::ScopedHandle holder(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
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
        for (const wchar_t* name : {L"first.log", L"second.log"}) {
          LogSettings settings;
          settings.destinations = DestFile;
          settings.log_file_handle = platform::OpenForAppend(dir.Wide(name));
          ConfigureLogging(std::move(settings));  // closes the first file before taking the second
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
  base::ScopedHandle missing(
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

// Each statement's own logging fails in its own way; the caller's
// last-error code and errno come out of it as they went in.
TEST(LoggingWinTest, ErrorsSurviveAStatementWhoseOwnLoggingFails) {
  ScopedTempDir dir;
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Wide().c_str()));  // where the fallback log goes
  const struct {
    const char* name;
    void (*statement)();
  } cases[] = {
      {"a log file that cannot be opened again", [] { LOG_AT(kLauncher, 1, INFO) << "line"; }},
      {"an error text that cannot be found",
       [] { PLOG_AT(kLauncher, 2, ERROR, 0x12345678) << "line"; }},
      {"a closed standard error",
       [] {
         const int saved = _dup(2);
         _close(2);
         LOG_AT(kLauncher, 3, ERROR) << "line";
         _dup2(saved, 2);
         _close(saved);
       }},
  };
  // The log file's directory goes away after it was opened: the next
  // statement's open fails, and it falls back to the current directory.
  const std::filesystem::path gone = dir.path() / "gone";
  std::filesystem::create_directory(gone);
  ASSERT_TRUE(ConfigureLogging(FileSettings((gone / "x.log").wstring(), AppendToOld)));
  ShutDownLogFile();
  std::filesystem::remove_all(gone);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(1234);
    errno = 42;
    c.statement();
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(errno, 42);
  }
  StopLogging();
  SetCurrentDirectoryW(previous);
}

// A pipe that takes nothing more and does not block: each write succeeds
// having written 0 bytes.
TEST(LoggingWinTest, StandardErrorThatTakesNothingDoesNotHoldTheStatement) {
  // The write end goes to the run-time library's descriptor, which owns it.
  base::ScopedHandle read_end;
  HANDLE write_raw = nullptr;
  ASSERT_TRUE(CreatePipe(read_end.Receive(), &write_raw, nullptr, 4096));
  DWORD mode = PIPE_NOWAIT;
  ASSERT_TRUE(SetNamedPipeHandleState(write_raw, &mode, nullptr, nullptr));
  const std::string block(4096, 'x');
  DWORD written = 1;
  for (int i = 0; i < 1000 && written != 0; ++i) {
    ASSERT_TRUE(WriteFile(write_raw, block.data(), 4096, &written, nullptr));
  }
  ASSERT_EQ(written, 0u);
  const int pipe_descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(write_raw), _O_BINARY);
  const int saved = _dup(2);
  ASSERT_EQ(_dup2(pipe_descriptor, 2), 0);

  ConfigureLogging(LogSettings());  // no destinations: errors go to standard error alone
  std::atomic<bool> done{false};
  std::thread statement([&done] {
    LOG_AT(kLauncher, 1, ERROR) << "into a full pipe";
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) Sleep(10);
  const bool returned = done;
  _dup2(saved, 2);
  _close(saved);
  _close(pipe_descriptor);
  EXPECT_TRUE(returned);
  if (returned) {
    statement.join();
  } else {
    statement.detach();  // spinning: it ends with the process
  }
}

}  // namespace
}  // namespace logging
