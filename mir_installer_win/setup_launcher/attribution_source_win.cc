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
  const bool drive_letter =
      full.size() >= 3 &&
      ((full[0] >= L'A' && full[0] <= L'Z') || (full[0] >= L'a' && full[0] <= L'z')) &&
      full[1] == L':' && full[2] == L'\\';
  if (!drive_letter) return base::PathValue();
  const wchar_t root[] = {full[0], L':', L'\\', L'\0'};
  if (!IsLocalDriveType(::GetDriveTypeW(root))) return base::PathValue();
  return base::PathValue(full);
}

}  // namespace setup_launcher
