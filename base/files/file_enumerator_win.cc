#include <windows.h>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

// The error of a failed removal, where "already gone" is no error.
uint32_t RemovalError(BOOL removed) {
  if (removed) return 0;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
}

}  // namespace

uint32_t DeleteMatchingEntries(const PathValue& directory, std::wstring_view pattern,
                               bool recursive) {
  WIN32_FIND_DATAW entry;
  ScopedFindHandle listing(::FindFirstFileExW(directory.AppendComponent(pattern).Text().c_str(),
                                              FindExInfoBasic, &entry, FindExSearchNameMatch,
                                              nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) return 0;  // nothing to list is nothing to delete
  uint32_t result = 0;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const PathValue path = directory.AppendComponent(name);
    const wchar_t* text = path.Text().c_str();
    const DWORD attributes = entry.dwFileAttributes;
    const bool is_directory = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && (recursive || !is_directory)) {
      ::SetFileAttributesW(text, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    uint32_t entry_result = 0;
    if (is_directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A junction or symbolic link: remove the link, never walk into it.
      if (recursive) entry_result = RemovalError(::RemoveDirectoryW(text));
    } else if (is_directory) {
      if (recursive) {
        entry_result = DeleteMatchingEntries(path, pattern, true);
        if (entry_result == 0) entry_result = RemovalError(::RemoveDirectoryW(text));
      }
    } else {
      entry_result = RemovalError(::DeleteFileW(text));
    }
    if (result == 0) result = entry_result;
  } while (::FindNextFileW(listing.Get(), &entry));
  return result;
}

}  // namespace base
