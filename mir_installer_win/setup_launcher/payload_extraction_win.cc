#include "mir_installer_win/setup_launcher/payload_extraction_win.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "absl/strings/str_format.h"
#include "base/files/file_util.h"
#include "base/files/private_directory_win.h"
#include "mir_installer_win/setup_launcher/launcher_log.h"
#include "strings/utf_string_conversions.h"

namespace setup_launcher {
namespace {

// Opens `path` shared for reading only and checks that it holds exactly
// `bytes`. Written and closed a moment ago, the file could have been
// replaced or changed in between; while the handle is held, it cannot be.
base::ScopedHandle HoldWrittenFile(const base::PathValue& path, std::span<const char> bytes) {
  base::ScopedHandle file(::CreateFileW(path.Text().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) return file;
  constexpr DWORD kChunkSize = 1 << 20;
  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunkSize]);
  if (!chunk) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return base::ScopedHandle();
  }
  size_t compared = 0;
  for (DWORD read = 0;; compared += read) {
    if (!::ReadFile(file.Get(), chunk.get(), kChunkSize, &read, nullptr))
      return base::ScopedHandle();
    if (read == 0) break;
    if (read > bytes.size() - compared ||
        std::memcmp(chunk.get(), bytes.data() + compared, read) != 0) {
      break;
    }
  }
  if (compared != bytes.size()) {
    ::SetLastError(ERROR_FILE_INVALID);  // altered from outside since it was written
    return base::ScopedHandle();
  }
  return file;
}

}  // namespace

base::PathValue CreateWorkDirectory(base::ScopedHandle& hold) {
  hold.Close();
  base::PathValue temp;
  if (!base::QueryTempDirectory(temp)) return base::PathValue();
  const DWORD ticks = ::GetTickCount();
  const DWORD process_id = ::GetCurrentProcessId();
  const base::PathValue directory = temp.AppendComponent(
      strings::Utf8ToWide(absl::StrFormat("MirSetup_%lu_%lu", process_id, ticks)));
  // The temporary directory may be missing (GetTempPathW does not check);
  // the work directory itself must be new, and is held from its creation.
  if (!base::EnsureDirectory(temp) || !base::CreatePrivateDirectory(directory, hold))
    return base::PathValue();
  LOG_AT(kLauncherLog, 195, INFO) << "Temp directory created: " << directory;
  return directory;
}

bool ExtractResourceToFile(int32_t id, const base::PathValue& path, base::ScopedHandle& hold) {
  hold.Close();
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
  const std::span<const char> payload(buffer.get(), size);
  if (!buffer) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    memcpy(buffer.get(), bytes, size);
    if (base::WriteFile(path, payload)) hold = HoldWrittenFile(path, payload);
  }
  if (!hold.IsValid()) {
    const DWORD error = ::GetLastError();
    LOG_AT(kLauncherLog, 85, ERROR) << "WriteFile failed for " << path << ", error: " << error;
    return false;
  }
  LOG_AT(kLauncherLog, 89, INFO) << "Successfully extracted resource to " << path;
  return true;
}

}  // namespace setup_launcher
