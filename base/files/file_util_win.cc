#include <windows.h>

#include <io.h>
#include <share.h>
#include <shlobj.h>

#include <algorithm>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "strings/utf_string_conversions.h"

namespace base {
namespace {

constexpr size_t kMaxPathLength = MAX_PATH;  // 260

bool IsGoneError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

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
  ScopedHandle file(::CreateFileW(path.Text().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  ScopedPreserveLastError keep_write_error;
  file.Close();
  return ok && written == data.size();
}

bool DoDeleteFile(const PathValue& path, bool recursive) {
  if (path.empty()) return true;
  if (path.Text().size() >= kMaxPathLength) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  const std::wstring last = path.LastComponent().Text();
  if (last.find_first_of(L"*?") != std::wstring::npos) {
    const uint32_t result = DeleteMatchingEntries(path.ParentDir(), last, recursive);
    if (result == 0) return true;
    ::SetLastError(result);
    return false;
  }
  const wchar_t* name = path.Text().c_str();
  bool deleted = false;
  DWORD attributes = ::GetFileAttributesW(name);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (!(attributes & FILE_ATTRIBUTE_READONLY) ||
       ::SetFileAttributesW(name, attributes & ~FILE_ATTRIBUTE_READONLY))) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A linked directory goes as a link: its target is not ours to empty.
      if (recursive && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const uint32_t result = DeleteMatchingEntries(path, L"*", true);
        if (result != 0) {
          ::SetLastError(result);
          return false;
        }
      }
      deleted = ::RemoveDirectoryW(name);
    } else {
      deleted = ::DeleteFileW(name);
    }
  }
  if (deleted) return true;
  const DWORD error = ::GetLastError();
  if (error == 0 || IsGoneError(error)) return true;
  ::SetLastError(error);
  return false;
}

bool DeleteRecursively(const PathValue& path) { return DoDeleteFile(path, true); }

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
  std::wstring wide_mode = Utf8ToWide(mode);
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
  wchar_t buffer[kMaxPathLength] = {};
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buffer)) &&
      buffer[0] != L'\0') {
    return PathValue(buffer);
  }
  PathValue temp;
  if (QueryTempDirectory(temp)) return temp;
  return PathValue(L"C:\\");
}

}  // namespace base
