#include "base/files/file_path.h"

#include <algorithm>

#include "strings/utf_string_conversions.h"

namespace base {
namespace {

bool HasDriveLetter(std::wstring_view path) {
  if (path.size() < 2 || path[1] != L':') return false;
  const wchar_t c = path[0];
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

std::wstring_view BeforeFirstNul(std::wstring_view text) {
  return text.substr(0, text.find(L'\0'));
}

bool IsDotOrBlank(wchar_t c) {
  return c == L'.' || c == L' ' || c == L'\n' || c == L'\r' || c == L'\t';
}

}  // namespace

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

PathValue::PathValue(std::wstring_view text) : text_(BeforeFirstNul(text)) {}

PathValue PathValue::TrimTrailingSeparators() const {
  PathValue result = *this;
  std::wstring& path = result.text_;
  const size_t start = HasDriveLetter(path) ? 3 : 1;
  size_t last_stripped = std::wstring::npos;
  for (size_t pos = path.size(); pos > start && IsPathSeparator(path[pos - 1]); --pos) {
    // Two leading separators name a network root and stay; three or more
    // collapse to one.
    if (pos != start + 1 || last_stripped == start + 2 || !IsPathSeparator(path[start - 1])) {
      path.resize(pos - 1);
      last_stripped = pos;
    }
  }
  return result;
}

PathValue PathValue::AppendComponent(std::wstring_view component) const {
  component = BeforeFirstNul(component);
  if (text_ == L"." && !component.empty()) return PathValue(component);
  PathValue result = TrimTrailingSeparators();
  std::wstring& path = result.text_;
  const bool bare_drive = path.size() == 2 && HasDriveLetter(path);
  if (!component.empty() && !path.empty() && !IsPathSeparator(path.back()) && !bare_drive) {
    path.push_back(L'\\');
  }
  path.append(component);
  return result;
}

PathValue PathValue::AppendAsciiComponent(std::string_view component) const {
  return AppendComponent(strings::Utf8ToWide(component));
}

PathValue PathValue::ParentDir() const {
  PathValue result = TrimTrailingSeparators();
  const std::wstring& path = result.text_;
  const size_t last_separator = path.find_last_of(L"\\/");
  if (last_separator == std::wstring::npos) {
    return HasDriveLetter(path) ? PathValue(std::wstring_view(path).substr(0, 2)) : PathValue(L".");
  }
  return PathValue(std::wstring_view(path).substr(0, last_separator + 1)).TrimTrailingSeparators();
}

PathValue PathValue::LastComponent() const {
  PathValue trimmed = TrimTrailingSeparators();
  std::wstring_view path = trimmed.text_;
  if (HasDriveLetter(path)) path.remove_prefix(2);
  const size_t last_separator = path.find_last_of(L"\\/");
  if (last_separator != std::wstring_view::npos && last_separator + 1 != path.size()) {
    path.remove_prefix(last_separator + 1);
  }
  return PathValue(path);
}

bool PathValue::HasParentReference() const {
  if (text_.find(L"..") == std::wstring::npos) return false;
  std::wstring_view rest = text_;
  if (HasDriveLetter(rest)) rest.remove_prefix(2);  // the drive is a component of its own
  while (!rest.empty()) {
    const size_t end = std::min(rest.find_first_of(L"\\/"), rest.size());
    const std::wstring_view component = rest.substr(0, end);
    bool dots_and_blanks_only = true;
    for (wchar_t c : component) dots_and_blanks_only = dots_and_blanks_only && IsDotOrBlank(c);
    if (dots_and_blanks_only && component.find(L"..") != std::wstring_view::npos) return true;
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return false;
}

bool PathValue::IsAbsolutePath() const {
  if (HasDriveLetter(text_)) return text_.size() > 2 && IsPathSeparator(text_[2]);
  return text_.size() >= 2 && IsPathSeparator(text_[0]) && IsPathSeparator(text_[1]);
}

std::string PathValue::ToUtf8() const { return strings::WideToUtf8(text_); }

}  // namespace base
