#include <windows.h>

#include <io.h>

#include <cerrno>

#include "base/win/scoped_handle.h"
#include "logging/logging_platform.h"

namespace logging::platform {

ScopedErrorState::ScopedErrorState() : last_error_(::GetLastError()), errno_(errno) {
  ::SetLastError(0);
  errno = 0;
}

ScopedErrorState::~ScopedErrorState() {
  errno = errno_;
  ::SetLastError(last_error_);
}

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

FileHandle OpenForAppend(const std::wstring& path) {
  // Append-data is the only right: every write lands at the end, and other
  // processes may read and write the file while it is open.
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpenFile(file) ? file : nullptr;
}

bool IsOpenFile(FileHandle file) { return KernelHandleTraits::IsHeld(file); }

void WriteToFile(FileHandle file, std::string_view bytes) {
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void CloseFile(FileHandle file) { ScopedHandle closer(file); }

void DeleteFileIgnoringErrors(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

std::wstring DefaultLogFileName() {
  wchar_t module_path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  std::wstring name(module_path);
  const size_t last_backslash = name.rfind(L'\\');
  name.resize(last_backslash == std::wstring::npos ? 0 : last_backslash + 1);
  return name + L"debug.log";
}

std::optional<std::wstring> CurrentDirectory() {
  wchar_t directory[MAX_PATH] = {};
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, directory);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  return std::wstring(directory, length);
}

void WriteToDebugger(const std::string& line) { ::OutputDebugStringA(line.c_str()); }

void WriteToStderr(std::string_view line) {
  while (!line.empty()) {
    const int written = ::_write(2, line.data(), static_cast<unsigned>(line.size()));
    if (written < 0) return;
    line.remove_prefix(static_cast<size_t>(written));
  }
}

std::optional<std::wstring> SystemMessage(uint32_t code, uint32_t& lookup_error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0) {
    lookup_error = ::GetLastError();
    return std::nullopt;
  }
  ScopedLocalMemory owner(buffer);
  return std::wstring(buffer, length);
}

void Trap() { __builtin_trap(); }

}  // namespace logging::platform
