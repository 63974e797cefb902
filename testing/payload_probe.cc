// A stand-in payload for tests. It reports how it was started and exits with
// the code it is told to use; everything is steered by environment variables,
// which a launched payload inherits from the launcher:
//   MIR_PROBE_REPORT     file to write the report to (UTF-8, key=value lines)
//   MIR_PROBE_EXIT_CODE  exit code, decimal or 0x-hexadecimal (default 0)
//   MIR_PROBE_ECHO_ENV   comma-separated variable names whose values to report
//   MIR_PROBE_STDOUT     text to write to standard output
//   MIR_PROBE_SLEEP_MS   how long to wait before exiting
//   MIR_PROBE_HOLD_FILE  leave a process behind that holds this file open,
//                        without delete sharing, for MIR_PROBE_HOLD_MS (3000)
//   MIR_PROBE_RUN        a program in the current directory to start, as the
//                        setup guide starts the installer, with "--exit 7";
//                        its exit code (or the start's error) is reported
// "--write-handle N" writes a line to the inherited handle N.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/win/scoped_handle.h"
#include "strings/utf_string_conversions.h"
#include "testing/child_process_win.h"
#include "testing/file_checksum.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

uint64_t ParseNumber(const std::wstring& text) { return std::wcstoull(text.c_str(), nullptr, 0); }

bool WriteAll(HANDLE handle, const std::string& bytes) {
  DWORD written = 0;
  return ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

int HoldFile(const wchar_t* path, DWORD milliseconds) {
  base::ScopedHandle file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  Sleep(milliseconds);
  return file.IsValid() ? 0 : 1;
}

void LeaveHolderBehind(const std::wstring& path) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring hold_ms = Env(L"MIR_PROBE_HOLD_MS");
  if (hold_ms.empty()) hold_ms = L"3000";
  std::wstring command = L"\"" + std::wstring(self) + L"\" --hold \"" + path + L"\" " + hold_ms;
  base::ScopedHandle holder = test_support::StartChild(command, {});
  if (!holder.IsValid()) return;
  // Return only once the holder has the file open.
  for (int i = 0; i < 500 && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(10);
  }
}

}  // namespace

// Starts `name` from the current directory and waits for it: "run_exit_code"
// or "run_error" for the report.
std::wstring RunSibling(const std::wstring& name) {
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  std::wstring command = L"\"" + std::wstring(directory) + L"\\" + name + L"\" --exit 7";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return L"run_error=" + std::to_wstring(GetLastError()) + L"\n";
  }
  base::ScopedHandle process(started.hProcess);
  base::ScopedHandle thread(started.hThread);
  DWORD exit_code = 0;
  WaitForSingleObject(process.Get(), INFINITE);
  GetExitCodeProcess(process.Get(), &exit_code);
  return L"run_exit_code=" + std::to_wstring(exit_code) + L"\n";
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--exit") == 0) {
    return static_cast<int>(ParseNumber(argv[2]));
  }
  if (argc == 4 && std::wcscmp(argv[1], L"--hold") == 0) {
    return HoldFile(argv[2], static_cast<DWORD>(ParseNumber(argv[3])));
  }
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--write-handle") == 0) {
      WriteAll(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(ParseNumber(argv[i + 1]))),
               "written through the inherited handle\n");
    }
  }

  const std::wstring report_path = Env(L"MIR_PROBE_REPORT");
  if (!report_path.empty()) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    wchar_t module_path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module_path, MAX_PATH);
    test_support::FileChecksum checksum;
    test_support::ChecksumFile(module_path, checksum);

    std::wstring report;
    report += L"command_line=" + std::wstring(GetCommandLineW()) + L"\n";
    report += L"current_directory=" + std::wstring(directory) + L"\n";
    report += L"startf_useshowwindow=" +
              std::to_wstring((startup.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0) + L"\n";
    report += L"show_window=" + std::to_wstring(startup.wShowWindow) + L"\n";
    report += L"module_path=" + std::wstring(module_path) + L"\n";
    report += L"file_size=" + std::to_wstring(checksum.size) + L"\n";
    report += L"file_checksum=" + std::to_wstring(checksum.hash) + L"\n";
    const std::wstring run = Env(L"MIR_PROBE_RUN");
    if (!run.empty()) report += RunSibling(run);
    std::wstring names = Env(L"MIR_PROBE_ECHO_ENV");
    for (size_t start = 0; start < names.size();) {
      size_t end = names.find(L',', start);
      if (end == std::wstring::npos) end = names.size();
      const std::wstring name = names.substr(start, end - start);
      const bool present = GetEnvironmentVariableW(name.c_str(), nullptr, 0) > 0;
      report += L"env." + name + L"=" + (present ? Env(name.c_str()) : L"<unset>") + L"\n";
      start = end + 1;
    }
    base::ScopedHandle file(CreateFileW(report_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsValid()) WriteAll(file.Get(), strings::WideToUtf8(report));
  }

  const std::wstring stdout_text = Env(L"MIR_PROBE_STDOUT");
  if (!stdout_text.empty())
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), strings::WideToUtf8(stdout_text));
  const std::wstring hold_file = Env(L"MIR_PROBE_HOLD_FILE");
  if (!hold_file.empty()) LeaveHolderBehind(hold_file);
  const std::wstring sleep_ms = Env(L"MIR_PROBE_SLEEP_MS");
  if (!sleep_ms.empty()) Sleep(static_cast<DWORD>(ParseNumber(sleep_ms)));
  return static_cast<int>(static_cast<uint32_t>(ParseNumber(Env(L"MIR_PROBE_EXIT_CODE"))));
}
