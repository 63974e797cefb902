#include "testing/child_process_win.h"

namespace test_support {
namespace {

std::wstring EnvironmentBlockWith(const EnvironmentOverrides& overrides) {
  std::map<std::wstring, std::wstring> variables;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    std::wstring text(entry);
    const size_t equals = text.find(L'=', 1);
    if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : overrides) {
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::wstring result;
  for (const auto& [name, value] : variables) result += name + L"=" + value + L'\0';
  result += L'\0';
  return result;
}

}  // namespace

bool StartWithRetries(const std::function<bool()>& start) {
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    if (start()) return true;
    if (attempt == kAttempts) return false;
    const DWORD error = GetLastError();
    Sleep(100 * attempt);
    SetLastError(error);
  }
}

base::ScopedHandle StartChild(std::wstring command, const EnvironmentOverrides& overrides,
                              const wchar_t* current_directory) {
  std::wstring environment = EnvironmentBlockWith(overrides);
  PROCESS_INFORMATION info = {};
  const bool started = StartWithRetries([&] {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, environment.data(), current_directory,
                          &startup, &info) != FALSE;
  });
  if (!started) return base::ScopedHandle();
  base::ScopedHandle thread(info.hThread);
  return base::ScopedHandle(info.hProcess);
}

DWORD RunChild(std::wstring command, const EnvironmentOverrides& overrides, DWORD timeout_ms) {
  base::ScopedHandle process = StartChild(std::move(command), overrides);
  if (!process.IsValid()) return 0xDEADBEEF;
  if (WaitForSingleObject(process.Get(), timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    return 0xDEADBEEF;
  }
  DWORD exit_code = 0xDEADBEEF;
  GetExitCodeProcess(process.Get(), &exit_code);
  return exit_code;
}

}  // namespace test_support
