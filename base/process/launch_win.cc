#include "base/process/launch_win.h"

#include <shellapi.h>
#include <userenv.h>

#include <memory>

namespace base {
namespace {

LaunchObserver g_launch_observer = nullptr;

// An initialised attribute list, deleted on every way out.
class AttributeList {
 public:
  bool Initialize(DWORD count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    buffer_ = std::make_unique<char[]>(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
    if (!::InitializeProcThreadAttributeList(list, count, 0, &size)) {
      buffer_.reset();
      return false;
    }
    return true;
  }
  ~AttributeList() {
    if (!buffer_) return;
    ScopedPreserveLastError keep_error;
    ::DeleteProcThreadAttributeList(get());
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
  }

 private:
  std::unique_ptr<char[]> buffer_;
};

// A block from CreateEnvironmentBlock, destroyed without disturbing the
// last-error code of the call that used it.
struct UserEnvironment {
  void* block = nullptr;
  ~UserEnvironment() {
    if (!block) return;
    ScopedPreserveLastError keep_error;
    ::DestroyEnvironmentBlock(block);
  }
};

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

void SetLaunchObserverForTesting(LaunchObserver observer) { g_launch_observer = observer; }

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

Process LaunchProcess(const CommandLine& command, const ProcessLaunchOptions& options) {
  if (options.run_elevated) {
    return LaunchElevatedProcess(command, options.hide_window, options.wait_for_exit);
  }
  return LaunchProcess(command.CommandText(), options);
}

Process LaunchProcess(const std::wstring& command_text, const ProcessLaunchOptions& options) {
  if (options.run_elevated) {
    return LaunchElevatedProcess(CommandLine::FromCommandText(command_text), options.hide_window,
                                 options.wait_for_exit);
  }
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  DWORD creation_flags = 0;
  BOOL inherit_handles = options.handle_inheritance == ProcessLaunchOptions::AllInheritable;

  const bool use_handle_list = !options.inheritable_handles.empty();
  const bool disable_shadow_stack = options.disable_shadow_stack && SupportsShadowStackPolicy();
  const DWORD attribute_count = (use_handle_list ? 1 : 0) + (disable_shadow_stack ? 1 : 0);
  AttributeList attributes;
  if (attribute_count > 0) {
    if (!attributes.Initialize(attribute_count)) return Process();
    startup.lpAttributeList = attributes.get();
    creation_flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  // Both words of the policy, with user-mode shadow stacks always off.
  DWORD64 mitigation_policy[2] = {0, 0x20000000};
  if (disable_shadow_stack && !::UpdateProcThreadAttribute(
                                  attributes.get(), 0, PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY,
                                  mitigation_policy, sizeof(mitigation_policy), nullptr, nullptr)) {
    return Process();
  }
  std::vector<HANDLE> handles = options.inheritable_handles;
  if (use_handle_list) {
    if (handles.size() * sizeof(HANDLE) > 0xFFFFFFF8u) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return Process();
    }
    for (HANDLE handle : handles) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    if (!::UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     handles.data(), handles.size() * sizeof(HANDLE), nullptr,
                                     nullptr)) {
      return Process();
    }
    inherit_handles = TRUE;
  }

  STARTUPINFOW& info = startup.StartupInfo;
  if (options.no_feedback_cursor) info.dwFlags |= STARTF_FORCEOFFFEEDBACK;
  wchar_t empty_desktop[] = L"";
  if (options.blank_desktop) info.lpDesktop = empty_desktop;
  info.dwFlags |= STARTF_USESHOWWINDOW;
  info.wShowWindow = options.hide_window ? SW_HIDE : SW_SHOWNORMAL;
  if (options.std_input || options.std_output || options.std_error) {
    const bool all_three = options.std_input && options.std_output && options.std_error;
    if (!use_handle_list && !all_three) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return Process();
    }
    info.dwFlags |= STARTF_USESTDHANDLES;
    info.hStdInput = options.std_input;
    info.hStdOutput = options.std_output;
    info.hStdError = options.std_error;
  }

  if (options.breakaway_from_job) creation_flags |= CREATE_BREAKAWAY_FROM_JOB;
  const wchar_t* current_directory =
      options.working_directory.empty() ? nullptr : options.working_directory.Text().c_str();
  std::wstring writable_command = command_text;
  // The child's environment: the token user's, an altered block, or none
  // (the parent's is inherited).
  UserEnvironment user_environment;
  std::wstring environment;
  void* environment_block = nullptr;
  if (options.user_token) {
    if (!::CreateEnvironmentBlock(&user_environment.block, options.user_token, FALSE)) {
      return Process();
    }
    environment_block = user_environment.block;
  } else if (options.clear_environment || !options.environment_changes.empty()) {
    std::wstring base_block(1, L'\0');
    if (!options.clear_environment && !ParentEnvironment(base_block)) return Process();
    environment = AlterEnvironmentBlock(base_block, options.environment_changes);
    environment_block = environment.data();
  }
  if (environment_block) creation_flags |= CREATE_UNICODE_ENVIRONMENT;
  if (g_launch_observer) {
    g_launch_observer({creation_flags, inherit_handles, info.dwFlags, info.wShowWindow,
                       info.lpDesktop, attribute_count, environment_block != nullptr,
                       current_directory});
  }
  PROCESS_INFORMATION process_info = {};
  const BOOL created =
      options.user_token
          ? ::CreateProcessAsUserW(options.user_token, nullptr, writable_command.data(), nullptr,
                                   nullptr, inherit_handles, creation_flags, environment_block,
                                   current_directory, &info, &process_info)
          : ::CreateProcessW(nullptr, writable_command.data(), nullptr, nullptr, inherit_handles,
                             creation_flags, environment_block, current_directory, &info,
                             &process_info);
  if (!created) return Process();
  ScopedHandle thread(process_info.hThread);
  Process process(process_info.hProcess);

  if (options.job_object && !::AssignProcessToJobObject(options.job_object, process.Handle())) {
    ScopedPreserveLastError keep_error;
    process.Kill(1, true);
    return Process();
  }
  if (options.grant_foreground) ::AllowSetForegroundWindow(process.ProcessId());
  if (options.wait_for_exit) ::WaitForSingleObject(process.Handle(), INFINITE);
  return process;
}

Process LaunchElevatedProcess(const CommandLine& command, bool hide_window, bool wait_for_exit) {
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
  if (!::ShellExecuteExW(&info)) return Process();
  Process process(info.hProcess);
  if (wait_for_exit) ::WaitForSingleObject(process.Handle(), INFINITE);
  return process;
}

}  // namespace base
