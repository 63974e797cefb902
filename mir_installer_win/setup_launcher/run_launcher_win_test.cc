// The parts of the run that another process cannot see.
#include "mir_installer_win/setup_launcher/run_launcher_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "testing/box_watcher_win.h"
#include "testing/expected_log_line.h"
#include "testing/log_capture.h"

namespace setup_launcher {
namespace {

using test_support::BoxInfo;
using test_support::LauncherLine;
using test_support::ScopedLogCapture;
using test_support::WaitForBox;

// What CreateProcessW gets for the child is what the plan says: the launcher
// lets the child inherit no handle of its own, in either mode.
TEST(RunLauncherTest, ChildInheritsNothing) {
  const base::PathValue work(L"C:\\Users\\A B\\Temp\\MirSetup_1_2");
  command_line::CommandLine command(work.AppendComponent(L"mir_installer_win_temp.exe"));
  command.AddSwitch("silent");
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent);
    const std::optional<base::LaunchPlan> plan =
        base::PlanLaunch(command.CommandText(), ChildLaunchOptions(work, silent), true);
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->inherit_handles, FALSE);
    EXPECT_TRUE(plan->handle_list.empty());
    EXPECT_EQ(plan->creation_flags, 0u);
    EXPECT_EQ(plan->startup_flags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(plan->show_window, silent ? SW_HIDE : SW_SHOWNORMAL);
    EXPECT_EQ(plan->current_directory, work.Text());
    EXPECT_FALSE(plan->alter_environment);
    EXPECT_EQ(plan->user_token, nullptr);
    EXPECT_EQ(plan->command_text,
              L"\"C:\\Users\\A B\\Temp\\MirSetup_1_2\\mir_installer_win_temp.exe\" --silent");
  }
}

// Without a process command line (this test program never makes one) the
// run ends at once, with its line and the initialization box.
TEST(RunLauncherTest, NoCommandLineEndsTheRunWithABox) {
  ScopedLogCapture capture;
  std::future<std::optional<BoxInfo>> box =
      std::async(std::launch::async, [] { return WaitForBox(L"Mirelo Browser Setup", 30000); });
  EXPECT_EQ(RunLauncher(), 1);
  const std::optional<BoxInfo> shown = box.get();
  ASSERT_TRUE(shown.has_value());
  EXPECT_EQ(shown->text, L"Setup initialization failed. Please run the setup again.");
  EXPECT_TRUE(shown->has_icon);
  EXPECT_THAT(capture.Bodies(),
              ::testing::ElementsAre(LauncherLine(152, "RunLauncher starting..."),
                                     LauncherLine(156, "Failed to get CommandLine", "ERROR")));
}

}  // namespace
}  // namespace setup_launcher
