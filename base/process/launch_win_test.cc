// Launching the payload probe as a real child process under Wine.
#include "base/process/launch_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/child_process_win.h"
#include "testing/scoped_temp_dir.h"

namespace base {
namespace {

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"MIR_PROBE_REPORT", report().wstring().c_str());
  }
  void TearDown() override {
    for (const wchar_t* name : {L"MIR_PROBE_REPORT", L"MIR_PROBE_EXIT_CODE", L"MIR_PROBE_SLEEP_MS",
                                L"MIR_PROBE_ECHO_ENV", L"MIR_PROBE_STDOUT"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    SetLaunchObserverForTesting(nullptr);
  }
  std::filesystem::path report() const { return dir_.path() / "report.txt"; }
  CommandLine Probe() const { return CommandLine(PathValue(SiblingProgram(L"payload_probe.exe"))); }

  // A launch expected to succeed; a start Wine refuses under load is retried.
  template <typename Command>
  static Process Launch(const Command& command, const ProcessLaunchOptions& options) {
    Process child;
    StartWithRetries([&] {
      child = LaunchProcess(command, options);
      return child.IsUsable();
    });
    return child;
  }

  DWORD RunToEnd(const ProcessLaunchOptions& options, const CommandLine& command) {
    Process child = Launch(command, options);
    EXPECT_TRUE(child.IsUsable()) << GetLastError();
    EXPECT_NE(child.ProcessId(), 0u);
    DWORD exit_code = 0xDEAD;
    EXPECT_TRUE(child.WaitForExitWithTimeout(30 * 1000 * 1000, &exit_code));
    return exit_code;
  }

  ScopedTempDir dir_;
};

TEST_F(LaunchTest, WorkingDirectoryAndShowState) {
  for (bool hide : {false, true}) {
    SCOPED_TRACE(hide);
    ProcessLaunchOptions options;
    options.working_directory = PathValue(dir_.Wide());
    options.hide_window = hide;
    CommandLine command = Probe();
    command.AddSwitch("silent");
    EXPECT_EQ(RunToEnd(options, command), 0u);
    auto probe = ReadProbeReport(report());
    EXPECT_EQ(probe["current_directory"], dir_.path().string());
    EXPECT_EQ(probe["startf_useshowwindow"], "1");
    EXPECT_EQ(probe["show_window"], hide ? "0" : "1");
    EXPECT_THAT(probe["command_line"], ::testing::EndsWith("payload_probe.exe\" --silent"));
  }
}

TEST_F(LaunchTest, ExitCodesAreRelayedUnchanged) {
  for (DWORD code : {0u, 7u, 0xC0000005u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(code);
    SetEnvironmentVariableW(L"MIR_PROBE_EXIT_CODE", std::to_wstring(code).c_str());
    EXPECT_EQ(RunToEnd(ProcessLaunchOptions(), Probe()), code);
  }
}

TEST_F(LaunchTest, EnvironmentChangesAreSeenByTheChild) {
  SetEnvironmentVariableW(L"MIR_KEEP", L"parent");
  SetEnvironmentVariableW(L"MIR_DROP", L"parent");
  ProcessLaunchOptions options;
  options.environment_changes = {{L"MIR_NEW", L"child"},
                                 {L"MIR_DROP", L""},
                                 {L"MIR_PROBE_ECHO_ENV", L"MIR_NEW,MIR_DROP,MIR_KEEP"}};
  EXPECT_EQ(RunToEnd(options, Probe()), 0u);
  auto probe = ReadProbeReport(report());
  EXPECT_EQ(probe["env.MIR_NEW"], "child");
  EXPECT_EQ(probe["env.MIR_DROP"], "<unset>");
  EXPECT_EQ(probe["env.MIR_KEEP"], "parent");

  options.clear_environment = true;
  options.environment_changes[L"MIR_PROBE_REPORT"] = report().wstring();
  EXPECT_EQ(RunToEnd(options, Probe()), 0u);
  probe = ReadProbeReport(report());
  EXPECT_EQ(probe["env.MIR_KEEP"], "<unset>");
  EXPECT_EQ(probe["env.MIR_NEW"], "child");
  SetEnvironmentVariableW(L"MIR_KEEP", nullptr);
  SetEnvironmentVariableW(L"MIR_DROP", nullptr);
}

TEST_F(LaunchTest, StandardOutputThroughAPipeAndAnInheritedHandle) {
  SECURITY_ATTRIBUTES no_inherit = {sizeof(no_inherit), nullptr, FALSE};
  HANDLE read_raw = nullptr, write_raw = nullptr;
  ASSERT_TRUE(CreatePipe(&read_raw, &write_raw, &no_inherit, 0));
  ScopedHandle read_end(read_raw), write_end(write_raw);
  HANDLE error_raw = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), write_raw, GetCurrentProcess(), &error_raw, 0,
                              FALSE, DUPLICATE_SAME_ACCESS));
  ScopedHandle error_end(error_raw);
  ScopedHandle input(CreateFileW(L"NUL", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr));
  ScopedHandle side_file(CreateFileW(dir_.Wide(L"side.txt").c_str(), GENERIC_WRITE, 3, nullptr,
                                     CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(input.IsValid() && side_file.IsValid());

  SetEnvironmentVariableW(L"MIR_PROBE_STDOUT", L"hello through the pipe\n");
  ProcessLaunchOptions options;
  options.std_input = input.Get();
  options.std_output = write_end.Get();
  options.std_error = error_end.Get();
  options.inheritable_handles = {input.Get(), write_end.Get(), error_end.Get(), side_file.Get()};
  const CommandLine command =
      CommandLine::FromCommandText(Probe().CommandText() + L" --write-handle " +
                                   std::to_wstring(reinterpret_cast<uintptr_t>(side_file.Get())));
  EXPECT_EQ(RunToEnd(options, command), 0u);
  write_end.Close();
  error_end.Close();
  side_file.Close();
  std::string output(256, '\0');
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(read_end.Get(), output.data(), 256, &read, nullptr));
  output.resize(read);
  EXPECT_EQ(output, "hello through the pipe\n");
  EXPECT_EQ(ReadBytes(dir_.path() / "side.txt"), "written through the inherited handle\n");
}

TEST_F(LaunchTest, JobObjectEndsTheChild) {
  ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.IsValid());
  SetEnvironmentVariableW(L"MIR_PROBE_SLEEP_MS", L"30000");
  ProcessLaunchOptions options;
  options.job_object = job.Get();
  Process child = Launch(Probe(), options);
  ASSERT_TRUE(child.IsUsable()) << GetLastError();
  ASSERT_TRUE(TerminateJobObject(job.Get(), 42));
  DWORD exit_code = 0;
  EXPECT_TRUE(child.WaitForExitWithTimeout(10 * 1000 * 1000, &exit_code));
  EXPECT_EQ(exit_code, 42u);
}

TEST_F(LaunchTest, TimedOutWaitLeavesTheCodeAndKillEndsTheChild) {
  SetEnvironmentVariableW(L"MIR_PROBE_SLEEP_MS", L"30000");
  Process child = Launch(Probe(), ProcessLaunchOptions());
  ASSERT_TRUE(child.IsUsable());
  DWORD exit_code = 1234;
  EXPECT_FALSE(child.WaitForExitWithTimeout(100 * 1000, &exit_code));
  EXPECT_FALSE(child.WaitForExitWithTimeout(-5, &exit_code));
  EXPECT_EQ(exit_code, 1234u);
  EXPECT_TRUE(child.Kill(5, true));
  EXPECT_TRUE(child.WaitUntilExit(&exit_code));
  EXPECT_EQ(exit_code, 5u);
  EXPECT_TRUE(child.Kill(6, true));  // already ended: it has ended within the wait
}

TEST_F(LaunchTest, WaitForExitOption) {
  SetEnvironmentVariableW(L"MIR_PROBE_SLEEP_MS", L"300");
  ProcessLaunchOptions options;
  options.wait_for_exit = true;
  Process child = Launch(Probe(), options);
  ASSERT_TRUE(child.IsUsable());
  EXPECT_EQ(WaitForSingleObject(child.Handle(), 0), WAIT_OBJECT_0);
}

TEST_F(LaunchTest, MissingProgramLeavesTheErrorOfTheFailedCall) {
  SetLastError(0);
  Process child =
      LaunchProcess(CommandLine(PathValue(dir_.Wide(L"missing.exe"))), ProcessLaunchOptions());
  EXPECT_FALSE(child.IsUsable());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(child.ProcessId(), 0u);
}

TEST_F(LaunchTest, NotAnExecutableFailsToStart) {
  WriteBytes(dir_.path() / "payload.exe", "this is not a program");
  Process child =
      LaunchProcess(CommandLine(PathValue(dir_.Wide(L"payload.exe"))), ProcessLaunchOptions());
  EXPECT_FALSE(child.IsUsable());
  EXPECT_NE(GetLastError(), 0u);
}

LaunchParameters g_seen;
void Remember(const LaunchParameters& parameters) { g_seen = parameters; }

TEST_F(LaunchTest, WhatIsPassedToTheSystem) {
  SetLaunchObserverForTesting(&Remember);
  ProcessLaunchOptions defaults;
  ASSERT_EQ(RunToEnd(defaults, Probe()), 0u);
  EXPECT_EQ(g_seen.creation_flags, 0u);
  EXPECT_FALSE(g_seen.inherit_handles);
  EXPECT_FALSE(g_seen.has_environment);
  EXPECT_EQ(g_seen.current_directory, nullptr);
  EXPECT_EQ(g_seen.startup_flags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(g_seen.show_window, SW_SHOWNORMAL);
  EXPECT_EQ(g_seen.attribute_count, 0u);

  ProcessLaunchOptions hidden;
  hidden.hide_window = true;
  ASSERT_EQ(RunToEnd(hidden, Probe()), 0u);
  EXPECT_EQ(g_seen.creation_flags, 0u);
  EXPECT_EQ(g_seen.startup_flags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(g_seen.show_window, SW_HIDE);

  ScopedHandle file(
      CreateFileW(dir_.Wide(L"f").c_str(), GENERIC_WRITE, 3, nullptr, CREATE_ALWAYS, 0, nullptr));
  ProcessLaunchOptions listed;
  listed.inheritable_handles = {file.Get()};
  listed.disable_shadow_stack = true;
  listed.no_feedback_cursor = true;
  listed.blank_desktop = true;
  listed.breakaway_from_job = true;
  listed.grant_foreground = true;
  listed.handle_inheritance = ProcessLaunchOptions::ListedOnly;
  Process child = Launch(Probe(), listed);
  EXPECT_EQ(g_seen.creation_flags & EXTENDED_STARTUPINFO_PRESENT,
            static_cast<DWORD>(EXTENDED_STARTUPINFO_PRESENT));
  EXPECT_EQ(g_seen.creation_flags & CREATE_BREAKAWAY_FROM_JOB,
            static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB));
  EXPECT_TRUE(g_seen.inherit_handles);
  EXPECT_EQ(g_seen.attribute_count, SupportsShadowStackPolicy() ? 2u : 1u);
  EXPECT_EQ(g_seen.startup_flags,
            static_cast<DWORD>(STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK));
  ASSERT_NE(g_seen.desktop, nullptr);
  if (child.IsUsable()) child.WaitUntilExit(nullptr);

  ProcessLaunchOptions all;
  all.handle_inheritance = ProcessLaunchOptions::AllInheritable;
  ASSERT_EQ(RunToEnd(all, Probe()), 0u);
  EXPECT_TRUE(g_seen.inherit_handles);
  EXPECT_EQ(g_seen.attribute_count, 0u);
}

TEST_F(LaunchTest, IncompleteStandardHandlesWithoutAListAreRefused) {
  ProcessLaunchOptions options;
  options.std_output = GetStdHandle(STD_OUTPUT_HANDLE);
  EXPECT_FALSE(LaunchProcess(Probe(), options).IsUsable());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(LaunchTest, ElevatedLaunchIgnoresTheWorkingDirectory) {
  ProcessLaunchOptions options;
  options.run_elevated = true;
  options.wait_for_exit = true;
  options.working_directory = PathValue(dir_.Wide());
  SetEnvironmentVariableW(L"MIR_PROBE_EXIT_CODE", L"9");
  Process child = Launch(Probe().CommandText() + L" --from-shell", options);
  ASSERT_TRUE(child.IsUsable()) << "the shell could not start it: " << GetLastError();
  DWORD exit_code = 0;
  EXPECT_TRUE(child.WaitUntilExit(&exit_code));
  EXPECT_EQ(exit_code, 9u);
  auto probe = ReadProbeReport(report());
  EXPECT_NE(probe["current_directory"], dir_.path().string());
  EXPECT_THAT(probe["command_line"], ::testing::HasSubstr("--from-shell"));
}

TEST(ProcessTest, OwnedHandleRuleAndSelf) {
  EXPECT_FALSE(Process(nullptr).IsUsable());
  EXPECT_FALSE(Process(INVALID_HANDLE_VALUE).IsUsable());
  EXPECT_FALSE(Process(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-12))).IsUsable());
  const Process self = Process::Current();
  EXPECT_TRUE(self.IsUsable());
  EXPECT_EQ(self.ProcessId(), GetCurrentProcessId());
  EXPECT_FALSE(self.WaitForExitWithTimeout(0, nullptr));
}

TEST(ProcessTest, WaitMilliseconds) {
  const struct {
    int64_t microseconds;
    DWORD milliseconds;
  } cases[] = {{1500, 1},
               {999, 0},
               {-1, 0},
               {-5000, 0},
               {0, 0},
               {int64_t{0xFFFFFFFE} * 1000, 0xFFFFFFFE},
               {int64_t{0x100000000} * 1000, INFINITE},
               {Process::kMaxDuration, INFINITE},
               {std::numeric_limits<int64_t>::min(), 0}};
  for (const auto& c : cases)
    EXPECT_EQ(WaitMilliseconds(c.microseconds), c.milliseconds) << c.microseconds;
}

}  // namespace
}  // namespace base
