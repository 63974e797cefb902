#include "mir_installer_win/setup_launcher/payload_extraction_win.h"

#include <windows.h>

#include <memory>
#include <new>

#include "absl/strings/str_format.h"
#include "base/files/file_util.h"
#include "mir_installer_win/setup_launcher/launcher_log.h"
#include "strings/utf_string_conversions.h"

PathValue CreateWorkDirectory() {
  PathValue temp;
  if (!base::QueryTempDirectory(temp)) return PathValue();
  const DWORD ticks = ::GetTickCount();
  const DWORD process_id = ::GetCurrentProcessId();
  const PathValue directory =
      temp.AppendComponent(Utf8ToWide(absl::StrFormat("MirSetup_%lu_%lu", process_id, ticks)));
  if (!base::EnsureDirectory(directory)) return PathValue();
  LOG_AT(kLauncherLog, 195, INFO) << "Temp directory created: " << directory;
  return directory;
}

bool ExtractResourceToFile(int32_t id, const PathValue& path) {
  LOG_AT(kLauncherLog, 48, INFO) << "Extracting resource " << id << " to " << path;
  HMODULE module = ::GetModuleHandleW(nullptr);
  if (!module) {
    LOG_AT(kLauncherLog, 52, ERROR) << "GetModuleHandle failed, error: " << ::GetLastError();
    return false;
  }
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"BINARY");
  if (!resource) {
    const DWORD error = ::GetLastError();
    LOG_AT(kLauncherLog, 59, ERROR) << "FindResource failed for " << id << ", error: " << error;
    return false;
  }
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (!loaded) {
    const DWORD error = ::GetLastError();
    LOG_AT(kLauncherLog, 66, ERROR) << "LoadResource failed for " << id << ", error: " << error;
    return false;
  }
  const void* bytes = ::LockResource(loaded);
  const DWORD size = ::SizeofResource(module, resource);
  if (!bytes || size == 0) {
    LOG_AT(kLauncherLog, 73, ERROR) << "Invalid resource for " << id << ", size: " << size;
    return false;
  }
  LOG_AT(kLauncherLog, 77, INFO) << "Resource size: " << size << " bytes";

  // One heap copy of the whole payload, written by one call.
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  bool written = false;
  if (buffer) {
    memcpy(buffer.get(), bytes, size);
    written = base::WriteFile(path, std::span<const char>(buffer.get(), size));
  } else {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (!written) {
    const DWORD error = ::GetLastError();
    LOG_AT(kLauncherLog, 85, ERROR) << "WriteFile failed for " << path << ", error: " << error;
    return false;
  }
  LOG_AT(kLauncherLog, 89, INFO) << "Successfully extracted resource to " << path;
  return true;
}
