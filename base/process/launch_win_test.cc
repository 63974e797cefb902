// Launching the payload probe as a real child process under Wine.
#include "base/process/launch_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/child_process_win.h"
#include "testing/scoped_temp_dir.h"

namespace base {
namespace {

using test_support::ReadBytes;
using test_support::ReadProbeReport;
using test_support::ScopedTempDir;
using test_support::SiblingProgram;
using test_support::StartWithRetries;
using test_support::WriteBytes;

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
  }
  std::filesystem::path report() const { return dir_.path() / "report.txt"; }
  command_line::CommandLine Probe() const {
    return command_line::CommandLine(PathValue(SiblingProgram(L"payload_probe.exe")));
  }

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

  DWORD RunToEnd(const ProcessLaunchOptions& options, const command_line::CommandLine& command) {
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
    command_line::CommandLine command = Probe();
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
  ScopedHandle read_end, write_end, error_end;
  ASSERT_TRUE(CreatePipe(read_end.Receive(), write_end.Receive(), &no_inherit, 0));
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), write_end.Get(), GetCurrentProcess(),
                              error_end.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS));
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
  const command_line::CommandLine command = command_line::CommandLine::FromCommandText(
      Probe().CommandText() + L" --write-handle " +
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
  Process child = LaunchProcess(command_line::CommandLine(PathValue(dir_.Wide(L"missing.exe"))),
                                ProcessLaunchOptions());
  EXPECT_FALSE(child.IsUsable());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(child.ProcessId(), 0u);
}

TEST_F(LaunchTest, NotAnExecutableFailsToStart) {
  WriteBytes(dir_.path() / "payload.exe", "this is not a program");
  Process child = LaunchProcess(command_line::CommandLine(PathValue(dir_.Wide(L"payload.exe"))),
                                ProcessLaunchOptions());
  EXPECT_FALSE(child.IsUsable());
  EXPECT_NE(GetLastError(), 0u);
}

// What the create call is given, for each option that the child itself
// cannot observe.
TEST(PlanLaunchTest, OptionsBecomeWhatTheCreateCallIsGiven) {
  const HANDLE a = reinterpret_cast<HANDLE>(0x40);
  const HANDLE b = reinterpret_cast<HANDLE>(0x44);
  const HANDLE c = reinterpret_cast<HANDLE>(0x48);
  const struct {
    const char* name;
    void (*set)(ProcessLaunchOptions&);
    bool shadow_stack_policy_exists;
    DWORD creation_flags;
    BOOL inherit_handles;
    DWORD startup_flags;
    WORD show_window;
    size_t attribute_count;
  } cases[] = {
      {"defaults", [](ProcessLaunchOptions&) {}, true, 0, FALSE, STARTF_USESHOWWINDOW,
       SW_SHOWNORMAL, 0},
      {"hidden", [](ProcessLaunchOptions& o) { o.hide_window = true; }, true, 0, FALSE,
       STARTF_USESHOWWINDOW, SW_HIDE, 0},
      {"all inheritable", [](ProcessLaunchOptions& o) { o.handle_inheritance = o.AllInheritable; },
       true, 0, TRUE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 0},
      {"a handle list overrules the mode",
       [](ProcessLaunchOptions& o) { o.inheritable_handles = {reinterpret_cast<HANDLE>(0x40)}; },
       true, EXTENDED_STARTUPINFO_PRESENT, TRUE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 1},
      {"shadow stacks off", [](ProcessLaunchOptions& o) { o.disable_shadow_stack = true; }, true,
       EXTENDED_STARTUPINFO_PRESENT, FALSE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 1},
      {"shadow stacks where the policy does not exist",
       [](ProcessLaunchOptions& o) { o.disable_shadow_stack = true; }, false, 0, FALSE,
       STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 0},
      {"both attributes",
       [](ProcessLaunchOptions& o) {
         o.disable_shadow_stack = true;
         o.inheritable_handles = {reinterpret_cast<HANDLE>(0x40)};
       },
       true, EXTENDED_STARTUPINFO_PRESENT, TRUE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 2},
      {"no busy cursor", [](ProcessLaunchOptions& o) { o.no_feedback_cursor = true; }, true, 0,
       FALSE, STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK, SW_SHOWNORMAL, 0},
      {"breakaway", [](ProcessLaunchOptions& o) { o.breakaway_from_job = true; }, true,
       CREATE_BREAKAWAY_FROM_JOB, FALSE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 0},
      {"environment changes", [](ProcessLaunchOptions& o) { o.environment_changes[L"A"] = L"1"; },
       true, CREATE_UNICODE_ENVIRONMENT, FALSE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 0},
      {"an empty environment", [](ProcessLaunchOptions& o) { o.clear_environment = true; }, true,
       CREATE_UNICODE_ENVIRONMENT, FALSE, STARTF_USESHOWWINDOW, SW_SHOWNORMAL, 0},
      {"three standard handles",
       [](ProcessLaunchOptions& o) {
         o.std_input = reinterpret_cast<HANDLE>(0x40);
         o.std_output = reinterpret_cast<HANDLE>(0x44);
         o.std_error = reinterpret_cast<HANDLE>(0x48);
       },
       true, 0, FALSE, STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES, SW_SHOWNORMAL, 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ProcessLaunchOptions options;
    test.set(options);
    const std::optional<LaunchPlan> plan =
        PlanLaunch(L"\"C:\\x\\a b.exe\" --silent", options, test.shadow_stack_policy_exists);
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->command_text, L"\"C:\\x\\a b.exe\" --silent");
    EXPECT_EQ(plan->creation_flags, test.creation_flags);
    EXPECT_EQ(plan->inherit_handles, test.inherit_handles);
    EXPECT_EQ(plan->startup_flags, test.startup_flags);
    EXPECT_EQ(plan->show_window, test.show_window);
    EXPECT_EQ(plan->attribute_count(), test.attribute_count);
    EXPECT_TRUE(plan->current_directory.empty());
    EXPECT_FALSE(plan->blank_desktop);
  }

  ProcessLaunchOptions options;
  options.working_directory = PathValue(L"C:\\work");
  options.blank_desktop = true;
  options.inheritable_handles = {a, b};
  options.std_input = a;
  options.std_output = b;
  const std::optional<LaunchPlan> plan = PlanLaunch(L"x", options, true);
  ASSERT_TRUE(plan.has_value());
  EXPECT_EQ(plan->current_directory, L"C:\\work");
  EXPECT_TRUE(plan->blank_desktop);
  EXPECT_EQ(plan->handle_list, (std::vector<HANDLE>{a, b}));
  EXPECT_EQ(plan->std_input, a);
  EXPECT_EQ(plan->std_output, b);
  EXPECT_EQ(plan->std_error, nullptr);

  // Standard handles in part need a handle list.
  ProcessLaunchOptions partial;
  partial.std_output = c;
  EXPECT_FALSE(PlanLaunch(L"x", partial, true).has_value());
}

TEST(PlanLaunchTest, ATokenBringsItsUsersEnvironment) {
  ProcessLaunchOptions options;
  options.user_token = reinterpret_cast<HANDLE>(0x40);
  options.environment_changes[L"A"] = L"1";
  const std::optional<LaunchPlan> plan = PlanLaunch(L"x", options, true);
  ASSERT_TRUE(plan.has_value());
  EXPECT_EQ(plan->user_token, options.user_token);
  EXPECT_FALSE(plan->alter_environment);
  EXPECT_EQ(plan->creation_flags, static_cast<DWORD>(CREATE_UNICODE_ENVIRONMENT));
}

TEST_F(LaunchTest, EveryAttributeAndFlagIsAcceptedBySystem) {
  ScopedHandle file(
      CreateFileW(dir_.Wide(L"f").c_str(), GENERIC_WRITE, 3, nullptr, CREATE_ALWAYS, 0, nullptr));
  ProcessLaunchOptions listed;
  listed.inheritable_handles = {file.Get()};
  listed.disable_shadow_stack = true;
  listed.no_feedback_cursor = true;
  listed.blank_desktop = true;
  listed.breakaway_from_job = true;
  listed.grant_foreground = true;
  EXPECT_EQ(RunToEnd(listed, Probe()), 0u);
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
