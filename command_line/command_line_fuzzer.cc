// Parses an argument list (one element per line) and writes it back. Any
// list must parse without harm; a list of elements that the text form can
// carry (the shapes the launcher builds: plain words without a switch
// prefix, switches named in lower-case ASCII) must parse back from its text
// form into exactly the same command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "command_line/command_line.h"
#include "strings/string_util.h"
#include "strings/utf_string_conversions.h"

namespace {

bool IsCarriedName(std::wstring_view name) {
  if (name.size() < 3 || name.substr(0, 2) != L"--" || name == L"--single-argument") return false;
  for (wchar_t c : name.substr(2)) {
    if (!((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-')) return false;
  }
  return true;
}

bool IsCarriedWord(std::wstring_view element) {
  return !element.empty() && element.find(L'\0') == std::wstring_view::npos &&
         strings::TrimWideWhitespace(element, strings::TrimPositions::kBoth).size() ==
             element.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text =
      strings::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  command_line::CommandLine::StringVector list;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L'\n') {
      list.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  command_line::CommandLine command_line;
  command_line.ResetFromArgumentList(list);
  const command_line::CommandLine reparsed =
      command_line::CommandLine::FromCommandText(command_line.CommandText());
  command_line.ArgumentsText();

  bool carried = !list.empty() && IsCarriedWord(list[0]) &&
                 list[0].find(L'"') == std::wstring::npos && list[0].back() != L'\\';
  for (size_t i = 1; i < list.size() && carried; ++i) {
    std::wstring name, value;
    if (command_line::SplitSwitch(list[i], name, value)) {
      carried = IsCarriedName(name) && (value.empty() || IsCarriedWord(value));
    } else {
      carried = IsCarriedWord(list[i]) && list[i][0] != L'-' && list[i][0] != L'/';
    }
  }
  if (carried && reparsed.elements() != command_line.elements()) abort();
  return 0;
}
