#include <windows.h>

#include <io.h>
#include <share.h>
#include <shlobj.h>

#include <algorithm>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "base/win/system_library.h"
#include "strings/utf_string_conversions.h"

namespace base {
namespace {

constexpr size_t kMaxPathLength = MAX_PATH;  // 260
// Missing from MinGW's winerror.h.
constexpr DWORD kErrorDiskResourcesExhausted = 314;

}  // namespace

FileErrorCode ToFileErrorCode(uint32_t windows_error) {
  switch (windows_error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
      return kFileErrorInUse;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return kFileErrorExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kFileErrorNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
      return kFileErrorAccessDenied;
    case ERROR_TOO_MANY_OPEN_FILES:
      return kFileErrorTooManyOpened;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kFileErrorNoMemory;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kErrorDiskResourcesExhausted:
      return kFileErrorNoSpace;
    case ERROR_USER_MAPPED_FILE:
      return kFileErrorInvalidOperation;
    case ERROR_NOT_READY:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_DISK_OPERATION_FAILED:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return kFileErrorIo;
    default:
      return kFileErrorFailed;
  }
}

bool QueryTempDirectory(PathValue& path) {
  wchar_t buffer[kMaxPathLength + 1] = {};
  const DWORD length = ::GetTempPathW(kMaxPathLength, buffer);
  if (length == 0 || length >= kMaxPathLength) return false;
  path = PathValue(std::wstring_view(buffer, length)).TrimTrailingSeparators();
  return true;
}

bool CreateDirectoryAndGetError(const PathValue& path, FileErrorCode* error) {
  const DWORD attributes = ::GetFileAttributesW(path.Text().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    if (error) *error = kFileErrorNotADirectory;
    ::SetLastError(ERROR_FILE_EXISTS);
    return false;
  }
  const PathValue parent = path.ParentDir();
  if (parent == path) {
    if (error) *error = kFileErrorNotFound;
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (!CreateDirectoryAndGetError(parent, error)) return false;
  if (!::CreateDirectoryW(path.Text().c_str(), nullptr)) {
    const DWORD create_error = ::GetLastError();
    // Someone else may have created it in the meantime.
    if (create_error == ERROR_ALREADY_EXISTS && DirectoryExists(path)) return true;
    if (error) *error = ToFileErrorCode(create_error);
    ::SetLastError(create_error);
    return false;
  }
  return true;
}

bool EnsureDirectory(const PathValue& path) { return CreateDirectoryAndGetError(path, nullptr); }

bool WriteFile(const PathValue& path, std::span<const char> data) {
  if (data.size() > MAXDWORD) {
    ::SetLastError(ERROR_INVALID_PARAMETER);  // one call writes at most 4 GiB - 1
    return false;
  }
  // A new file is made as new, and only an existing one replaced: Wine
  // truncates even a file that CREATE_ALWAYS has just created, and ext4 then
  // allocates the whole file and starts writing it out when it is closed
  // (a payload deleted again a moment later, whose deletion then costs more).
  ScopedHandle file(::CreateFileW(path.Text().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid() && ::GetLastError() == ERROR_FILE_EXISTS) {
    file.Reset(::CreateFileW(path.Text().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  if (!file.IsValid()) return false;
  DWORD written = 0;
  if (!::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
    return false;
  }
  if (written != data.size()) {
    // The call succeeded but wrote less (a full disk, a file size limit):
    // the caller reads the error, so it must say so.
    ::SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

bool ReadWholeFileWithLimit(const PathValue& path, std::string* contents, size_t max_size) {
  if (contents) contents->clear();
  if (path.HasParentReference()) return false;
  ScopedFile file = OpenFile(path, "rb");
  if (!file) return false;
  std::string buffer;
  const bool ok = ReadStreamToSpanWithMaxSize(file.get(), max_size, [&buffer](size_t size) {
    buffer.resize(size);
    return buffer.data();
  });
  if (contents) *contents = std::move(buffer);
  return ok;
}

bool ReadWholeFile(const PathValue& path, std::string* contents) {
  return ReadWholeFileWithLimit(path, contents, std::numeric_limits<size_t>::max());
}

ScopedFile OpenFile(const PathValue& path, std::string_view mode) {
  std::wstring wide_mode = strings::Utf8ToWide(mode);
  const size_t comma = wide_mode.find(L',');
  wide_mode.insert(comma == std::wstring::npos ? wide_mode.size() : comma, L"N");
  return ScopedFile(::_wfsopen(path.Text().c_str(), wide_mode.c_str(), _SH_DENYNO));
}

bool ReadStreamToSpanWithMaxSize(FILE* stream, size_t max_size,
                                 absl::FunctionRef<char*(size_t)> resize) {
  if (!stream) return false;
  std::fseek(stream, 0, SEEK_SET);
  size_t chunk = 0xFFFF;
  BY_HANDLE_FILE_INFORMATION info;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  if (::GetFileInformationByHandle(handle, &info)) {
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size > 0) chunk = static_cast<size_t>(std::min<uint64_t>(size, SIZE_MAX - 1));
  }
  chunk = std::min(chunk, max_size) + 1;  // one more, so that the first read sees the end

  char* buffer = resize(chunk);
  size_t total = 0;
  for (size_t count; (count = std::fread(buffer + total, 1, chunk, stream)) > 0;) {
    if (count > max_size - total) {
      resize(max_size);
      return false;
    }
    total += count;
    if (std::feof(stream)) break;
    chunk = 0x10000;
    buffer = resize(total + chunk);
  }
  resize(total);
  return !std::ferror(stream);
}

bool PathExists(const PathValue& path) {
  return ::GetFileAttributesW(path.Text().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const PathValue& path) {
  const DWORD attributes = ::GetFileAttributesW(path.Text().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathHasAccess(const PathValue& path, uint32_t directory_access, uint32_t file_access) {
  const DWORD attributes = ::GetFileAttributesW(path.Text().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const bool is_directory = attributes & FILE_ATTRIBUTE_DIRECTORY;
  ScopedHandle file(
      ::CreateFileW(path.Text().c_str(), is_directory ? directory_access : file_access,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    is_directory ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsValid();
}

bool PathAllowsWriting(const PathValue& path) {
  return PathHasAccess(path, FILE_ADD_FILE, GENERIC_WRITE);
}

PathValue MakeAbsoluteFilePath(const PathValue& path) {
  wchar_t buffer[kMaxPathLength] = {};
  if (!::_wfullpath(buffer, path.Text().c_str(), kMaxPathLength)) return PathValue();
  return PathValue(buffer);
}

bool QueryCurrentDirectory(PathValue& path) {
  wchar_t buffer[kMaxPathLength] = {};
  const DWORD length = ::GetCurrentDirectoryW(kMaxPathLength, buffer);
  if (length == 0 || length > kMaxPathLength) return false;
  path = PathValue(std::wstring_view(buffer, length)).TrimTrailingSeparators();
  return true;
}

PathValue QueryHomeDirectory() {
  const SystemFunction<decltype(&::SHGetFolderPathW)> get_folder(L"shell32.dll",
                                                                 "SHGetFolderPathW");
  wchar_t buffer[kMaxPathLength] = {};
  if (get_folder &&
      SUCCEEDED(get_folder(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buffer)) &&
      buffer[0] != L'\0') {
    return PathValue(buffer);
  }
  PathValue temp;
  if (QueryTempDirectory(temp)) return temp;
  return PathValue(L"C:\\");
}

}  // namespace base
