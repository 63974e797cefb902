#include <windows.h>

#include "base/win/scoped_handle.h"
#include "base/win/system_library.h"
#include "command_line/command_line.h"

namespace command_line {
namespace {

using SplitFunction = wchar_t**(WINAPI*)(const wchar_t*, int*);

CommandLine::StringVector Split(const base::SystemFunction<SplitFunction>& split,
                                const wchar_t* text) {
  CommandLine::StringVector elements;
  if (!split) return elements;  // the library lacks the function: an empty command
  int count = 0;
  wchar_t** array = split(text, &count);
  base::ScopedLocalMemory owner(array);
  for (int i = 0; array && i < count; ++i) elements.emplace_back(array[i]);
  return elements;
}

}  // namespace

CommandLine::StringVector SplitCommandText(const wchar_t* text) {
  // The downlevel API set first; where it does not exist, shell32's own.
  const base::SystemFunction<SplitFunction> downlevel(L"api-ms-win-downlevel-shell32-l1-1-0.dll",
                                                      "CommandLineToArgvW");
  if (downlevel.library_loaded()) return Split(downlevel, text);
  return Split(base::SystemFunction<SplitFunction>(L"shell32.dll", "CommandLineToArgvW"), text);
}

}  // namespace command_line
