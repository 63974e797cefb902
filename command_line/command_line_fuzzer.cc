// Parses an argument list and writes it back: the text form of any list must
// parse again into the same command (elements that parsing itself changes,
// trimmed or empty ones, are brought into the form parsing gives them first).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "command_line/command_line.h"
#include "strings/utf_string_conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  CommandLine::StringVector list;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L'\n') {
      list.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  CommandLine command_line;
  command_line.ResetFromArgumentList(list);
  const std::wstring command_text = command_line.CommandText();
  const CommandLine reparsed = CommandLine::FromCommandText(command_text);
  // The program never changes shape when it has no quote and no trailing
  // backslash; then, absent empty elements and a single-argument switch
  // (which text parsing treats as a mode), the whole command round-trips.
  const std::wstring& program = command_line.elements()[0];
  bool comparable = !program.empty() && program.find(L'"') == std::wstring::npos &&
                    program.back() != L'\\' && !command_line.IsSwitchPresent("single-argument");
  for (const std::wstring& element : command_line.elements()) {
    comparable = comparable && !element.empty() && element.find(L'\0') == std::wstring::npos;
    // Switch names are written unquoted, so a name with a blank, a tab or a
    // quote cannot survive the text form.
    std::wstring name, value;
    if (&element != &command_line.elements()[0] && SplitSwitch(element, name, value)) {
      comparable = comparable && name.find_first_of(L" \t\"") == std::wstring::npos;
    }
  }
  if (comparable && reparsed.elements() != command_line.elements()) abort();
  command_line.ArgumentsText();
  return 0;
}
