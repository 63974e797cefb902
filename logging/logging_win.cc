#include <windows.h>

#include <io.h>

#include <cerrno>
#include <vector>

#include "base/win/scoped_handle.h"
#include "logging/logging_platform.h"

namespace logging {

bool LogFileTraits::IsHeld(Handle file) { return base::KernelHandleTraits::IsHeld(file); }

void LogFileTraits::Close(Handle file) { base::KernelHandleTraits::Close(file); }

namespace platform {

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

LogFile OpenForAppend(const std::wstring& path) {
  // Append-data is the only right to the contents: every write lands at the
  // end, and other processes may read and write the file while it is open. A
  // link at the name is opened as itself, never followed.
  LogFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) return file;
  // Only a plain file with this one name: never a device, a link, or a
  // second name of a file elsewhere (a hard link planted in the folder the
  // log falls back to, which may be System32 for an elevated caller).
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.Get(), &info) || info.nNumberOfLinks != 1 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return LogFile();
  }
  return file;
}

void WriteToFile(const LogFile& file, std::string_view bytes) {
  DWORD written = 0;
  ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void DeleteFileIgnoringErrors(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

std::wstring DefaultLogFileName() {
  // MAX_PATH first; a longer path (which the system cuts to fit) gets a
  // larger buffer, up to the longest path there is.
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::vector<wchar_t> module_path(size);
    const DWORD length = ::GetModuleFileNameW(nullptr, module_path.data(), size);
    if (length == 0) return std::wstring();
    if (length < size) {
      std::wstring name(module_path.data(), length);
      const size_t last_backslash = name.rfind(L'\\');
      name.resize(last_backslash == std::wstring::npos ? 0 : last_backslash + 1);
      return name + L"debug.log";
    }
  }
  return std::wstring();
}

std::optional<std::wstring> CurrentDirectory() {
  wchar_t directory[MAX_PATH] = {};
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, directory);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  return std::wstring(directory, length);
}

void WriteToDebugger(const std::string& line) { ::OutputDebugStringA(line.c_str()); }

void WriteToStderr(std::string_view line) {
  WriteFully(line, [](std::string_view rest) {
    return ::_write(2, rest.data(), static_cast<unsigned>(rest.size()));
  });
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
  base::ScopedLocalMemory owner(buffer);
  return std::wstring(buffer, length);
}

void Trap() { __builtin_trap(); }

}  // namespace platform
}  // namespace logging
