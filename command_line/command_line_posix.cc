// The native build has no CommandLineToArgvW; this follows its documented
// rules so that the portable code around it can be tested on the host. The
// Windows tests check the quoting against the real function.
#include "command_line/command_line.h"

namespace command_line {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

CommandLine::StringVector SplitCommandText(const wchar_t* text) {
  CommandLine::StringVector elements;
  const wchar_t* p = text;
  // The program: up to the next quote when quoted, else up to a blank; no
  // backslash escapes.
  std::wstring program;
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) program.push_back(*p);
    if (*p == L'"') ++p;
  } else {
    for (; *p && !IsBlank(*p); ++p) program.push_back(*p);
  }
  elements.push_back(program);
  while (IsBlank(*p)) ++p;
  while (*p) {
    std::wstring element;
    bool quoted = false;
    for (; *p && (quoted || !IsBlank(*p));) {
      if (*p == L'\\') {
        size_t backslashes = 0;
        for (; *p == L'\\'; ++p) ++backslashes;
        if (*p == L'"') {
          element.append(backslashes / 2, L'\\');
          if (backslashes % 2) {
            element.push_back(L'"');
            ++p;
          }
        } else {
          element.append(backslashes, L'\\');
        }
      } else if (*p == L'"') {
        ++p;
        if (quoted && *p == L'"') {  // a doubled quote inside quotes: one quote, quoting ends
          element.push_back(L'"');
          ++p;
        }
        quoted = !quoted;
      } else {
        element.push_back(*p++);
      }
    }
    elements.push_back(element);
    while (IsBlank(*p)) ++p;
  }
  return elements;
}

}  // namespace command_line
