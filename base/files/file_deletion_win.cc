// Deleting files and directory trees. Every entry is opened as itself (a
// link is not followed) and decided from that handle: its attributes come
// from it, a link is never descended into, a directory is listed through
// it, and the entry is deleted through it. While an entry is held, without
// delete sharing, nobody can rename or replace it, so a directory cannot be
// swapped for a link between being looked at and having its contents listed
// and deleted.
#include <windows.h>

#include <winternl.h>

#include <vector>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

bool IsGoneError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The error of a failed removal, where "already gone" is no error.
uint32_t RemovalError(BOOL removed) {
  if (removed) return 0;
  const DWORD error = ::GetLastError();
  return IsGoneError(error) ? 0 : error;
}

// The names in a directory that match a pattern (with the wildcards and
// rules of FindFirstFileExW), read through a handle to that very directory:
// FindFirstFileExW would open it again by name.
class DirectoryListing {
 public:
  DirectoryListing(HANDLE directory, std::wstring_view pattern)
      : directory_(directory), pattern_(pattern) {}

  // The next name, "." and ".." left out; false at the end, and when the
  // listing fails (then what is left is simply not listed).
  bool Next(std::wstring& name) {
    while (true) {
      if (offset_ == kNone && !Fill()) return false;
      const auto* entry = reinterpret_cast<const NamesInformation*>(buffer_.data() + offset_);
      name.assign(entry->file_name, entry->file_name_length / sizeof(wchar_t));
      offset_ = entry->next_entry_offset == 0 ? kNone : offset_ + entry->next_entry_offset;
      if (name != L"." && name != L"..") return true;
    }
  }

 private:
  struct NamesInformation {  // FILE_NAMES_INFORMATION
    ULONG next_entry_offset;
    ULONG file_index;
    ULONG file_name_length;
    WCHAR file_name[1];
  };
  using QueryFunction = NTSTATUS(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, void*,
                                         ULONG, FILE_INFORMATION_CLASS, BOOLEAN, UNICODE_STRING*,
                                         BOOLEAN);
  static constexpr size_t kNone = ~size_t{0};

  bool Fill() {
    // ntdll is in every process before anything else, so it cannot be planted.
    const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryDirectoryFile")));
    if (!query) return false;
    UNICODE_STRING mask = {static_cast<USHORT>(pattern_.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(pattern_.size() * sizeof(wchar_t)),
                           const_cast<wchar_t*>(pattern_.data())};
    IO_STATUS_BLOCK status_block = {};
    const NTSTATUS status =
        query(directory_, nullptr, nullptr, nullptr, &status_block, buffer_.data(),
              static_cast<ULONG>(buffer_.size()), FileNamesInformation, FALSE,
              started_ ? nullptr : &mask, started_ ? FALSE : TRUE);
    started_ = true;
    // The end (STATUS_NO_MORE_FILES, or no match at all) is a status like
    // any failure; either way nothing more is listed.
    if (status != 0) return false;
    offset_ = 0;
    return true;
  }

  HANDLE directory_;
  std::wstring pattern_;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
  size_t offset_ = kNone;
  bool started_ = false;
};

uint32_t DeleteEntry(const PathValue& path, std::wstring_view pattern, bool recursive,
                     bool skip_directories);

// Deletes the entries matching `pattern` in `directory`, listed through
// `handle`, which holds that directory. Goes on after an error; returns the
// first one.
uint32_t DeleteListedEntries(HANDLE handle, const PathValue& directory, std::wstring_view pattern,
                             bool recursive) {
  DirectoryListing listing(handle, pattern);
  uint32_t result = 0;
  for (std::wstring name; listing.Next(name);) {
    const uint32_t entry_result =
        DeleteEntry(directory.AppendComponent(name), pattern, recursive, !recursive);
    if (result == 0) result = entry_result;
  }
  return result;
}

// Marks the entry for deletion when its handle closes; a read-only entry
// cannot be marked, so that bit goes first.
uint32_t DeleteThroughHandle(HANDLE entry, FILE_BASIC_INFO basic) {
  if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return RemovalError(
      ::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof(disposition)));
}

// Opens `path` itself (a link is not followed) with `access`, shared for
// reading and writing only.
ScopedHandle OpenEntry(const PathValue& path, DWORD access) {
  return ScopedHandle(
      ::CreateFileW(path.Text().c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// What an entry opened as itself is, from its handle's attributes (`basic`)
// and its name's.
struct EntryKind {
  bool directory;
  bool link;
  bool handle_is_link;
};
EntryKind KindOf(const PathValue& path, const FILE_BASIC_INFO& basic) {
  // Wine opens the target of a symbolic link even when asked for the link
  // itself; only the name shows it. A link seen either way is a link.
  const DWORD named_attributes = ::GetFileAttributesW(path.Text().c_str());
  const DWORD named = named_attributes == INVALID_FILE_ATTRIBUTES ? 0 : named_attributes;
  const bool handle_is_link = basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
  return {((basic.FileAttributes | named) & FILE_ATTRIBUTE_DIRECTORY) != 0,
          handle_is_link || (named & FILE_ATTRIBUTE_REPARSE_POINT), handle_is_link};
}

// A directory that someone holds without delete sharing cannot go yet, but
// what is in it can (Wine's console host keeps a just-ended console child's
// current directory a while), so that a retry finds nothing left but the
// directory. It is held, without delete access, while it is emptied.
void EmptyHeldDirectory(const PathValue& path, std::wstring_view pattern) {
  const ScopedHandle directory = OpenEntry(path, FILE_LIST_DIRECTORY);
  FILE_BASIC_INFO basic = {};
  if (!directory.IsValid() ||
      !::GetFileInformationByHandleEx(directory.Get(), FileBasicInfo, &basic, sizeof(basic))) {
    return;
  }
  const EntryKind kind = KindOf(path, basic);
  if (kind.directory && !kind.link) (void)DeleteListedEntries(directory.Get(), path, pattern, true);
}

// Deletes `path`: a file, a link (never what it points to), or a directory,
// after the entries in it that match `pattern` when `recursive`. With
// `skip_directories`, a directory or a link to one is left alone.
uint32_t DeleteEntry(const PathValue& path, std::wstring_view pattern, bool recursive,
                     bool skip_directories) {
  ScopedHandle entry = OpenEntry(path, DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES);
  if (!entry.IsValid()) {
    const uint32_t error = RemovalError(FALSE);
    if (error == ERROR_SHARING_VIOLATION && recursive && !skip_directories) {
      EmptyHeldDirectory(path, pattern);
    }
    return error;
  }
  FILE_BASIC_INFO basic = {};
  if (!::GetFileInformationByHandleEx(entry.Get(), FileBasicInfo, &basic, sizeof(basic))) {
    return ::GetLastError();
  }
  const auto [directory, link, handle_is_link] = KindOf(path, basic);
  if (skip_directories && directory) return 0;
  if (link && !handle_is_link) {
    // The handle is the link's target: remove the link by name, never through it.
    entry.Close();
    return RemovalError(directory ? ::RemoveDirectoryW(path.Text().c_str())
                                  : ::DeleteFileW(path.Text().c_str()));
  }
  if (directory && !link && recursive) {
    const uint32_t result = DeleteListedEntries(entry.Get(), path, pattern, true);
    if (result != 0) return result;
  }
  return DeleteThroughHandle(entry.Get(), basic);
}

}  // namespace

bool DoDeleteFile(const PathValue& path, bool recursive) {
  if (path.empty()) return true;
  if (path.Text().size() >= MAX_PATH) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  const std::wstring last = path.LastComponent().Text();
  const uint32_t result = last.find_first_of(L"*?") != std::wstring::npos
                              ? DeleteMatchingEntries(path.ParentDir(), last, recursive)
                              : DeleteEntry(path, L"*", recursive, false);
  if (result == 0) return true;
  ::SetLastError(result);
  return false;
}

bool DeleteRecursively(const PathValue& path) { return DoDeleteFile(path, true); }

uint32_t DeleteMatchingEntries(const PathValue& directory, std::wstring_view pattern,
                               bool recursive) {
  // Held without delete sharing while its entries go, like every directory
  // that is walked.
  ScopedHandle handle(::CreateFileW(directory.Text().c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) return 0;  // nothing to list is nothing to delete
  return DeleteListedEntries(handle.Get(), directory, pattern, recursive);
}

}  // namespace base
