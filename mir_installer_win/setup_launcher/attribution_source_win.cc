#include "mir_installer_win/setup_launcher/attribution_source_win.h"

#include <windows.h>

#include <string>
#include <vector>

namespace setup_launcher {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "\\host\share", "\\.\pipe\x", "\\?\..." and their slash forms.
bool StartsWithTwoSeparators(const std::wstring& path) {
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

bool IsLocalDriveType(UINT type) {
  return type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_CDROM ||
         type == DRIVE_RAMDISK;
}

// "X:\..."
bool StartsWithDriveLetter(const std::wstring& path) {
  return path.size() >= 3 &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && path[2] == L'\\';
}

// A symbolic link, junction or mount point: a name that leads elsewhere.
// Other reparse points (deduplicated or cloud files) are the files
// themselves. Unknown when the handle cannot be asked: treated as a link.
bool IsLink(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof(info))) {
    return true;
  }
  return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         IsReparseTagNameSurrogate(info.ReparseTag);
}

// The path the system gives for the opened `file`, without the "\\?\"
// prefix ("X:\..." or "UNC\host\share\..."), or empty.
std::wstring OpenedPath(HANDLE file) {
  constexpr DWORD kFlags = FILE_NAME_OPENED | VOLUME_NAME_DOS;
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD length = ::GetFinalPathNameByHandleW(file, buffer.data(), MAX_PATH, kFlags);
  if (length >= MAX_PATH && length <= 32768) {  // the size it needs, terminator included
    buffer.resize(length);
    length = ::GetFinalPathNameByHandleW(file, buffer.data(), length, kFlags);
  }
  if (length == 0 || length >= buffer.size()) return std::wstring();
  const std::wstring path(buffer.data(), length);
  return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

AttributionSource Judged(AttributionSource::Verdict verdict, uint32_t error = 0) {
  AttributionSource source;
  source.verdict = verdict;
  source.error = error;
  return source;
}

}  // namespace

base::PathValue LocalAttributionSource(const base::PathValue& source) {
  const std::wstring& text = source.Text();
  if (text.empty() || StartsWithTwoSeparators(text)) return base::PathValue();
  // The full form shows where a relative path or a reserved name ("NUL",
  // "COM1") really leads.
  const DWORD size = ::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
  if (size == 0) return base::PathValue();
  std::vector<wchar_t> buffer(size);
  const DWORD length = ::GetFullPathNameW(text.c_str(), size, buffer.data(), nullptr);
  if (length == 0 || length >= size) return base::PathValue();
  const std::wstring full(buffer.data(), length);
  if (!StartsWithDriveLetter(full)) return base::PathValue();
  const wchar_t root[] = {full[0], L':', L'\\', L'\0'};
  if (!IsLocalDriveType(::GetDriveTypeW(root))) return base::PathValue();
  return base::PathValue(full);
}

AttributionSource OpenAttributionSource(const base::PathValue& source) {
  using Verdict = AttributionSource::Verdict;
  const std::wstring path = LocalAttributionSource(source).Text();
  if (path.empty()) return Judged(Verdict::kNotLocal);
  std::vector<base::ScopedHandle> folders;
  for (size_t end = path.find(L'\\', 3); end != std::wstring::npos;
       end = path.find(L'\\', end + 1)) {
    base::ScopedHandle folder(::CreateFileW(
        path.substr(0, end).c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.IsValid()) return Judged(Verdict::kOpenFailed, ::GetLastError());
    if (IsLink(folder.Get())) return Judged(Verdict::kThroughLink);
    folders.push_back(std::move(folder));
  }
  // Identification only: should the name lead to a pipe after all, its
  // server learns who is reading but cannot act as the reader.
  base::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                        nullptr));
  if (!file.IsValid()) return Judged(Verdict::kOpenFailed, ::GetLastError());
  if (IsLink(file.Get())) return Judged(Verdict::kThroughLink);
  // Wine follows Unix links even when asked not to and shows no trace of
  // them in the handle; the path of the file it opened shows where it led.
  const std::wstring opened = OpenedPath(file.Get());
  if (!StartsWithDriveLetter(opened)) return Judged(Verdict::kNotLocal);
  if (::CompareStringOrdinal(opened.c_str(), static_cast<int>(opened.size()), path.c_str(),
                             static_cast<int>(path.size()), TRUE) != CSTR_EQUAL) {
    return Judged(Verdict::kThroughLink);
  }
  AttributionSource result = Judged(Verdict::kOpened);
  result.file = std::move(file);
  return result;
}

}  // namespace setup_launcher
