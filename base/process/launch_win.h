// Starting a child process from a command line and a set of options.
//
//   ProcessLaunchOptions options;
//   options.working_directory = work_directory;
//   options.hide_window = silent;
//   Process child = LaunchProcess(command, options);
//   if (!child.IsUsable()) ... GetLastError() is the failed call's code
#ifndef BASE_PROCESS_LAUNCH_WIN_H_
#define BASE_PROCESS_LAUNCH_WIN_H_

#include <windows.h>

#include <string>
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

// An empty Process means failure; the thread's last-error code is then the
// failing Windows call's.
Process LaunchProcess(const CommandLine& command, const ProcessLaunchOptions& options);
Process LaunchProcess(const std::wstring& command_text, const ProcessLaunchOptions& options);
Process LaunchElevatedProcess(const CommandLine& command, bool hide_window, bool wait_for_exit);

// What a launch hands to CreateProcessW, before it is handed over; exposed so
// tests can see the effect of options that the child cannot observe.
struct LaunchParameters {
  DWORD creation_flags = 0;
  BOOL inherit_handles = FALSE;
  DWORD startup_flags = 0;
  WORD show_window = 0;
  const wchar_t* desktop = nullptr;
  size_t attribute_count = 0;
  bool has_environment = false;
  const wchar_t* current_directory = nullptr;
};
using LaunchObserver = void (*)(const LaunchParameters& parameters);
void SetLaunchObserverForTesting(LaunchObserver observer);

// True on Windows 10 build 19041 and later, where the shadow-stack policy exists.
bool SupportsShadowStackPolicy();

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_WIN_H_
