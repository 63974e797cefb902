// Synchronous file-system operations on PathValue paths. Each reports failure
// by its result (false, an empty path or a non-zero code) with the Windows
// error left in the thread's last-error code; nothing here logs.
//
//   PathValue temp;
//   if (!base::QueryTempDirectory(temp)) return false;
//   PathValue work = temp.AppendComponent(L"MirSetup_812_123");
//   if (!base::EnsureDirectory(work)) return false;  // GetLastError() says why
#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "absl/functional/function_ref.h"
#include "base/files/file_path.h"

namespace base {

// What CreateDirectoryAndGetError reports, mapped from Windows error codes.
enum FileErrorCode : int32_t {
  kFileErrorFailed = -1,
  kFileErrorInUse = -2,
  kFileErrorExists = -3,
  kFileErrorNotFound = -4,
  kFileErrorAccessDenied = -5,
  kFileErrorTooManyOpened = -6,
  kFileErrorNoMemory = -7,
  kFileErrorNoSpace = -8,
  kFileErrorNotADirectory = -9,
  kFileErrorInvalidOperation = -10,
  kFileErrorIo = -16,
};
FileErrorCode ToFileErrorCode(uint32_t windows_error);

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using ScopedFile = std::unique_ptr<FILE, FileCloser>;

// The user's temporary directory without trailing separators; `path` is left
// alone on failure (including a directory of 260 characters or more).
bool QueryTempDirectory(PathValue& path);

// Creates `path` and every missing directory above it. An existing directory
// is success; an existing file is failure (kFileErrorNotADirectory, error 80).
bool CreateDirectoryAndGetError(const PathValue& path, FileErrorCode* error);
bool EnsureDirectory(const PathValue& path);

// Replaces the file with `data`, written by one call. A failed or short write
// leaves the partial file in place and an error in force: the failing call's,
// or ERROR_WRITE_FAULT for a write that succeeded short.
bool WriteFile(const PathValue& path, std::span<const char> data);

// Deletes a file, or a directory (with its contents when `recursive`). A last
// component with "*" or "?" deletes the matching entries of the parent. A
// path that is already gone counts as deleted. Each entry is judged from a
// handle to the entry itself: links (reparse points) are removed themselves,
// never descended into, and what they point to is never touched. A
// directory that someone else holds without delete sharing stays (error 32),
// but what is in it is deleted all the same when `recursive`.
bool DoDeleteFile(const PathValue& path, bool recursive);
bool DeleteRecursively(const PathValue& path);

// Deletes the entries of `directory` matching `pattern` (into subdirectories
// when `recursive`). Returns 0, or the first Windows error met; it goes on
// with the other entries after an error.
uint32_t DeleteMatchingEntries(const PathValue& directory, std::wstring_view pattern,
                               bool recursive);

// Reads the whole file into `contents` (emptied first). False when the path
// has a parent reference, the file cannot be opened or read, or it is larger
// than `max_size` (then `contents` holds the first `max_size` bytes).
bool ReadWholeFileWithLimit(const PathValue& path, std::string* contents, size_t max_size);
bool ReadWholeFile(const PathValue& path, std::string* contents);

// _wfsopen with `mode` plus "N" (not inherited by children), shared for all.
ScopedFile OpenFile(const PathValue& path, std::string_view mode);

// Reads `stream` from its start into the buffer that `resize` makes (given a
// size, it sizes the destination and returns its storage). The first read
// asks for one byte more than the file's size, so one call sees the end.
bool ReadStreamToSpanWithMaxSize(FILE* stream, size_t max_size,
                                 absl::FunctionRef<char*(size_t)> resize);

bool PathExists(const PathValue& path);
bool DirectoryExists(const PathValue& path);
// Whether `path` can be opened with the access that fits its kind.
bool PathHasAccess(const PathValue& path, uint32_t directory_access, uint32_t file_access);
bool PathAllowsWriting(const PathValue& path);
// The absolute form of `path`, or an empty path.
PathValue MakeAbsoluteFilePath(const PathValue& path);
bool QueryCurrentDirectory(PathValue& path);
// The user's profile folder, else the temporary directory, else "C:\".
PathValue QueryHomeDirectory();

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
