// Starting a child process from a command line and a set of options, in two
// steps: PlanLaunch works out, without calling the system, exactly what
// CreateProcessW (or CreateProcessAsUserW) is given; StartPlannedProcess
// hands that over unchanged. LaunchProcess does both.
//
//   ProcessLaunchOptions options;
//   options.working_directory = work_directory;
//   options.hide_window = silent;
//   Process child = LaunchProcess(command, options);
//   if (!child.IsUsable()) ... GetLastError() is the failed call's code
#ifndef BASE_PROCESS_LAUNCH_WIN_H_
#define BASE_PROCESS_LAUNCH_WIN_H_

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/environment.h"
#include "base/process/process_win.h"
#include "command_line/command_line.h"

namespace base {

struct ProcessLaunchOptions {
  enum Inheritance : int32_t { ListedOnly = 0, AllInheritable = 1 };

  bool wait_for_exit = false;       // return only after the child has ended
  PathValue working_directory;      // empty: the parent's
  bool hide_window = false;         // SW_HIDE instead of SW_SHOWNORMAL
  bool run_elevated = false;        // through the shell with "runas"
  bool no_feedback_cursor = false;  // STARTF_FORCEOFFFEEDBACK
  // Consulted only when `inheritable_handles` is empty.
  Inheritance handle_inheritance = ListedOnly;
  std::vector<HANDLE> inheritable_handles;  // the only handles the child inherits
  HANDLE user_token = nullptr;              // run as this user, with that user's environment
  bool blank_desktop = false;
  HANDLE job_object = nullptr;  // the child is put into this job
  HANDLE std_input = nullptr;   // the three standard handles come together
  HANDLE std_output = nullptr;
  HANDLE std_error = nullptr;
  bool breakaway_from_job = false;
  bool grant_foreground = false;
  bool disable_shadow_stack = false;
  EnvironmentMap environment_changes;  // an empty value removes the variable
  bool clear_environment = false;      // start from an empty environment
};

// What the create call is given, and what is done with the child after it.
struct LaunchPlan {
  std::wstring command_text;       // passed as a writable copy; no application name
  std::wstring current_directory;  // empty: none given, the parent's
  DWORD creation_flags = 0;
  BOOL inherit_handles = FALSE;
  // STARTUPINFOW
  DWORD startup_flags = 0;
  WORD show_window = SW_SHOWNORMAL;
  bool blank_desktop = false;  // lpDesktop = L""
  HANDLE std_input = nullptr;
  HANDLE std_output = nullptr;
  HANDLE std_error = nullptr;
  // The attribute list: PROC_THREAD_ATTRIBUTE_HANDLE_LIST with these handles
  // (made inheritable) when there are any, and the mitigation policy that
  // turns user-mode shadow stacks off.
  std::vector<HANDLE> handle_list;
  bool disable_shadow_stack = false;
  // The environment: the token user's (CreateProcessAsUserW), a block made
  // from the parent's (or an empty one) with the changes applied, or, with
  // neither, none given: the parent's is inherited.
  HANDLE user_token = nullptr;
  bool alter_environment = false;
  bool clear_environment = false;
  EnvironmentMap environment_changes;
  // After the create call.
  HANDLE job_object = nullptr;
  bool grant_foreground = false;
  bool wait_for_exit = false;

  size_t attribute_count() const { return (handle_list.empty() ? 0 : 1) + disable_shadow_stack; }
};

// The plan for a launch that is not elevated, or nothing when the options
// cannot be carried out (standard handles given in part without a handle
// list, a handle list too large for the attribute). The shadow-stack policy
// is asked for only where the system knows it (`shadow_stack_policy_exists`).
std::optional<LaunchPlan> PlanLaunch(std::wstring_view command_text,
                                     const ProcessLaunchOptions& options,
                                     bool shadow_stack_policy_exists);

// Carries out `plan`. An empty Process means failure, with the failing
// Windows call's code as the thread's last-error code.
Process StartPlannedProcess(const LaunchPlan& plan);

// An empty Process means failure; the thread's last-error code is then the
// failing Windows call's (ERROR_INVALID_PARAMETER for options that cannot be
// carried out).
Process LaunchProcess(const command_line::CommandLine& command,
                      const ProcessLaunchOptions& options);
Process LaunchProcess(const std::wstring& command_text, const ProcessLaunchOptions& options);
Process LaunchElevatedProcess(const command_line::CommandLine& command, bool hide_window,
                              bool wait_for_exit);

// True on Windows 10 build 19041 and later, where the shadow-stack policy exists.
bool SupportsShadowStackPolicy();

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_WIN_H_
