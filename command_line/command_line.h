// CommandLine: one command as a program path, switches with optional values
// and plain arguments, in Windows syntax. It is parsed from command text
// (split by the system's CommandLineToArgvW) or built element by element, and
// written back as text that CommandLineToArgvW splits into the same elements.
//
//   CommandLine child(PathValue(L"C:\\Users\\A B\\setup.exe"));
//   child.AddSwitch("silent");
//   child.CommandText();  // "C:\Users\A B\setup.exe" --silent  (path quoted)
//
// Switches start with "--", "-" or "/"; "=" separates a value; "--" ends
// switch parsing. Switch names are ASCII-case-insensitive and stored lower-case.
#ifndef COMMAND_LINE_COMMAND_LINE_H_
#define COMMAND_LINE_COMMAND_LINE_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace command_line {

class CommandLine {
 public:
  using StringVector = std::vector<std::wstring>;

  // An empty program, no switches, no arguments.
  CommandLine();
  explicit CommandLine(const base::PathValue& program);

  static CommandLine FromCommandText(std::wstring_view text);

  // Replaces everything with the parse of `text`; a text of whitespace only
  // leaves the object as it is.
  void ParseCommandText(std::wstring_view text);
  // `list[0]` is the program path; the rest are parsed as switches and arguments.
  void ResetFromArgumentList(const StringVector& list);

  base::PathValue ProgramPath() const;
  void SetProgramPath(const base::PathValue& path);

  void AddSwitch(std::string_view name);
  void AddSwitchWithValue(std::string_view name, std::wstring_view value);

  // Queries take the name without prefix, in lower case; any other name is a
  // programming error that stops the process.
  bool IsSwitchPresent(std::string_view name) const;
  std::wstring SwitchValueWide(std::string_view name) const;
  // The value when it is all ASCII, else empty.
  std::string SwitchValueAscii(std::string_view name) const;
  base::PathValue SwitchValuePath(std::string_view name) const;

  // Every element after the program, switches first.
  std::wstring ArgumentsText() const;
  // The quoted program, then a blank and ArgumentsText() when there is any.
  std::wstring CommandText() const;

  // One element in the form CommandLineToArgvW splits back unchanged.
  static std::wstring QuoteArgument(std::wstring_view text);

  const StringVector& elements() const { return elements_; }
  const std::map<std::string, std::wstring>& switches() const { return switches_; }
  // The plain arguments, a parsed "--" included.
  StringVector PlainArguments() const;
  bool single_argument() const { return single_argument_; }

 private:
  void AddSwitchesAndArguments(const StringVector& list, size_t first);
  void TakeRestAsSingleArgument(std::wstring_view switch_text);

  std::wstring_view raw_command_text_;  // set only while ParseCommandText runs
  bool single_argument_ = false;
  StringVector elements_;
  std::map<std::string, std::wstring> switches_;
  int64_t begin_args_ = 1;
};

// 2 for "--", 1 for "-" or "/", 0 when `text` has no switch prefix.
size_t SwitchPrefixLength(std::wstring_view text);

// Splits a switch element into its name (prefix kept) and value. False when
// `element` has no prefix or is nothing but a prefix.
bool SplitSwitch(std::wstring_view element, std::wstring& name, std::wstring& value);

// Splits command text into elements by the rules of CommandLineToArgvW: the
// system's own function on Windows. `text` must be NUL-terminated.
CommandLine::StringVector SplitCommandText(const wchar_t* text);

}  // namespace command_line

#endif  // COMMAND_LINE_COMMAND_LINE_H_
