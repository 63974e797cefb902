// PathValue: a Windows path as UTF-16 text, with the path rules every file
// operation relies on. Backslash and slash both separate components; a
// separator that PathValue inserts is always a backslash. Pure computation:
// nothing here touches the file system.
//
//   PathValue log = PathValue(L"C:\\Temp\\").AppendComponent(L"x.log");  // C:\Temp\x.log
//   log.ParentDir();      // C:\Temp
//   log.LastComponent();  // x.log
#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

#include <string>
#include <string_view>

namespace base {

class PathValue {
 public:
  PathValue() = default;
  // Holds `text` up to, not including, its first NUL character.
  explicit PathValue(std::wstring_view text);

  const std::wstring& Text() const { return text_; }
  bool empty() const { return text_.empty(); }

  // This path, then a backslash unless one is there already (or the path is
  // empty or a bare drive such as "C:"), then `component`. The component's
  // form is not examined; "." appended with "x" gives "x".
  PathValue AppendComponent(std::wstring_view component) const;
  PathValue AppendAsciiComponent(std::string_view component) const;

  // Removes trailing separators, but keeps a lone root separator ("\", "C:\")
  // and exactly two leading ones ("\\").
  PathValue TrimTrailingSeparators() const;
  // "C:\a\b" -> "C:\a"; "C:\a" -> "C:\"; "C:a" -> "C:"; "a" -> ".".
  PathValue ParentDir() const;
  // "C:\a\b" -> "b"; "C:\" -> "\"; "C:" -> empty.
  PathValue LastComponent() const;

  // True when some component is made of dots and blanks (or CR, LF, HT)
  // only and contains "..".
  bool HasParentReference() const;
  // "C:\x" and "\\server\x" are absolute; "C:x", "\x" and "x" are not.
  bool IsAbsolutePath() const;

  std::string ToUtf8() const;

  friend bool operator==(const PathValue&, const PathValue&) = default;

 private:
  std::wstring text_;
};

bool IsPathSeparator(wchar_t c);

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
