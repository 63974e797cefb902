#include "base/process/launch_win.h"

#include <shellapi.h>
#include <userenv.h>

#include "base/win/scoped_handle.h"
#include "base/win/system_library.h"

namespace base {
namespace {

// A block from userenv's CreateEnvironmentBlock, given back to userenv.
struct EnvironmentBlockTraits {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static bool IsHeld(Handle block) { return block != nullptr; }
  static void Close(Handle block) {
    const SystemFunction<decltype(&::DestroyEnvironmentBlock)> destroy(L"userenv.dll",
                                                                       "DestroyEnvironmentBlock");
    if (destroy) destroy(block);
  }
};
using ScopedEnvironmentBlock = WinUniqueHandle<EnvironmentBlockTraits>;

// An attribute list with room for `count` attributes, or an empty owner.
ScopedAttributeList MakeAttributeList(DWORD count) {
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
  auto* list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(::HeapAlloc(::GetProcessHeap(), 0, size));
  if (!list) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return ScopedAttributeList();
  }
  if (!::InitializeProcThreadAttributeList(list, count, 0, &size)) {
    ScopedPreserveLastError keep_error;
    ::HeapFree(::GetProcessHeap(), 0, list);
    return ScopedAttributeList();
  }
  return ScopedAttributeList(list);
}

bool ParentEnvironment(std::wstring& block) {
  wchar_t* strings = ::GetEnvironmentStringsW();
  if (!strings) return false;
  const wchar_t* end = strings;
  while (*end) end += wcslen(end) + 1;  // entries until the empty one
  block.assign(strings, static_cast<size_t>(end - strings) + 1);
  ::FreeEnvironmentStringsW(strings);
  return true;
}

}  // namespace

bool SupportsShadowStackPolicy() {
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto get_version = reinterpret_cast<GetVersionFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!get_version || get_version(&version) != 0) return false;
  return version.dwMajorVersion > 10 ||
         (version.dwMajorVersion == 10 && version.dwBuildNumber >= 19041);
}

std::optional<LaunchPlan> PlanLaunch(std::wstring_view command_text,
                                     const ProcessLaunchOptions& options,
                                     bool shadow_stack_policy_exists) {
  LaunchPlan plan;
  plan.command_text = command_text;
  plan.current_directory = options.working_directory.Text();
  plan.inherit_handles = options.handle_inheritance == ProcessLaunchOptions::AllInheritable;
  if (!options.inheritable_handles.empty()) {
    if (options.inheritable_handles.size() * sizeof(HANDLE) > 0xFFFFFFF8u) return std::nullopt;
    plan.handle_list = options.inheritable_handles;
    plan.inherit_handles = TRUE;  // the list alone decides what is inherited
  }
  plan.disable_shadow_stack = options.disable_shadow_stack && shadow_stack_policy_exists;
  if (plan.attribute_count() > 0) plan.creation_flags |= EXTENDED_STARTUPINFO_PRESENT;

  if (options.no_feedback_cursor) plan.startup_flags |= STARTF_FORCEOFFFEEDBACK;
  plan.blank_desktop = options.blank_desktop;
  plan.startup_flags |= STARTF_USESHOWWINDOW;
  plan.show_window = options.hide_window ? SW_HIDE : SW_SHOWNORMAL;
  if (options.std_input || options.std_output || options.std_error) {
    const bool all_three = options.std_input && options.std_output && options.std_error;
    if (plan.handle_list.empty() && !all_three) return std::nullopt;
    plan.startup_flags |= STARTF_USESTDHANDLES;
    plan.std_input = options.std_input;
    plan.std_output = options.std_output;
    plan.std_error = options.std_error;
  }

  if (options.breakaway_from_job) plan.creation_flags |= CREATE_BREAKAWAY_FROM_JOB;
  plan.user_token = options.user_token;
  // A token brings its user's environment; the changes apply only without one.
  plan.alter_environment =
      !options.user_token && (options.clear_environment || !options.environment_changes.empty());
  if (plan.alter_environment) {
    plan.clear_environment = options.clear_environment;
    plan.environment_changes = options.environment_changes;
  }
  if (plan.user_token || plan.alter_environment) plan.creation_flags |= CREATE_UNICODE_ENVIRONMENT;

  plan.job_object = options.job_object;
  plan.grant_foreground = options.grant_foreground;
  plan.wait_for_exit = options.wait_for_exit;
  return plan;
}

Process StartPlannedProcess(const LaunchPlan& plan) {
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  ScopedAttributeList attributes;
  if (plan.attribute_count() > 0) {
    attributes = MakeAttributeList(static_cast<DWORD>(plan.attribute_count()));
    if (!attributes.IsValid()) return Process();
    startup.lpAttributeList = attributes.Get();
  }
  // Both words of the policy, with user-mode shadow stacks always off.
  DWORD64 mitigation_policy[2] = {0, 0x20000000};
  if (plan.disable_shadow_stack &&
      !::UpdateProcThreadAttribute(attributes.Get(), 0, PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY,
                                   mitigation_policy, sizeof(mitigation_policy), nullptr,
                                   nullptr)) {
    return Process();
  }
  // The attribute refers to this copy until the process has been created.
  std::vector<HANDLE> handles = plan.handle_list;
  if (!handles.empty()) {
    for (HANDLE handle : handles) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    if (!::UpdateProcThreadAttribute(attributes.Get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     handles.data(), handles.size() * sizeof(HANDLE), nullptr,
                                     nullptr)) {
      return Process();
    }
  }

  STARTUPINFOW& info = startup.StartupInfo;
  info.dwFlags = plan.startup_flags;
  info.wShowWindow = plan.show_window;
  wchar_t empty_desktop[] = L"";
  if (plan.blank_desktop) info.lpDesktop = empty_desktop;
  info.hStdInput = plan.std_input;
  info.hStdOutput = plan.std_output;
  info.hStdError = plan.std_error;

  ScopedEnvironmentBlock user_environment;
  std::wstring altered_environment;
  void* environment = nullptr;
  if (plan.user_token) {
    const SystemFunction<decltype(&::CreateEnvironmentBlock)> create_block(
        L"userenv.dll", "CreateEnvironmentBlock");
    if (!create_block || !create_block(user_environment.Receive(), plan.user_token, FALSE)) {
      return Process();
    }
    environment = user_environment.Get();
  } else if (plan.alter_environment) {
    std::wstring base_block(1, L'\0');
    if (!plan.clear_environment && !ParentEnvironment(base_block)) return Process();
    altered_environment = AlterEnvironmentBlock(base_block, plan.environment_changes);
    environment = altered_environment.data();
  }

  std::wstring writable_command = plan.command_text;
  const wchar_t* current_directory =
      plan.current_directory.empty() ? nullptr : plan.current_directory.c_str();
  PROCESS_INFORMATION process_info = {};
  const BOOL created =
      plan.user_token
          ? ::CreateProcessAsUserW(plan.user_token, nullptr, writable_command.data(), nullptr,
                                   nullptr, plan.inherit_handles, plan.creation_flags, environment,
                                   current_directory, &info, &process_info)
          : ::CreateProcessW(nullptr, writable_command.data(), nullptr, nullptr,
                             plan.inherit_handles, plan.creation_flags, environment,
                             current_directory, &info, &process_info);
  if (!created) return Process();
  ScopedHandle thread(process_info.hThread);
  Process process(process_info.hProcess);

  if (plan.job_object && !::AssignProcessToJobObject(plan.job_object, process.Handle())) {
    ScopedPreserveLastError keep_error;
    process.Kill(1, true);
    return Process();
  }
  if (plan.grant_foreground) ::AllowSetForegroundWindow(process.ProcessId());
  if (plan.wait_for_exit) ::WaitForSingleObject(process.Handle(), INFINITE);
  return process;
}

Process LaunchProcess(const command_line::CommandLine& command,
                      const ProcessLaunchOptions& options) {
  if (options.run_elevated) {
    return LaunchElevatedProcess(command, options.hide_window, options.wait_for_exit);
  }
  return LaunchProcess(command.CommandText(), options);
}

Process LaunchProcess(const std::wstring& command_text, const ProcessLaunchOptions& options) {
  if (options.run_elevated) {
    return LaunchElevatedProcess(command_line::CommandLine::FromCommandText(command_text),
                                 options.hide_window, options.wait_for_exit);
  }
  const std::optional<LaunchPlan> plan =
      PlanLaunch(command_text, options, SupportsShadowStackPolicy());
  if (!plan) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return Process();
  }
  return StartPlannedProcess(*plan);
}

Process LaunchElevatedProcess(const command_line::CommandLine& command, bool hide_window,
                              bool wait_for_exit) {
  const SystemFunction<decltype(&::ShellExecuteExW)> shell_execute(L"shell32.dll",
                                                                   "ShellExecuteExW");
  if (!shell_execute) return Process();
  const std::wstring program = command.ProgramPath().Text();
  const std::wstring arguments = command.ArgumentsText();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = ::GetActiveWindow();
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = hide_window ? SW_HIDE : SW_SHOWNORMAL;
  if (!shell_execute(&info)) return Process();
  Process process(info.hProcess);
  if (wait_for_exit) ::WaitForSingleObject(process.Handle(), INFINITE);
  return process;
}

}  // namespace base
