#include <windows.h>

#include <shellapi.h>

#include "base/win/scoped_handle.h"
#include "command_line/command_line.h"

CommandLine::StringVector SplitCommandText(const wchar_t* text) {
  using SplitFunction = wchar_t**(WINAPI*)(const wchar_t*, int*);
  ScopedLibrary library(::LoadLibraryExW(L"api-ms-win-downlevel-shell32-l1-1-0.dll", nullptr,
                                         LOAD_LIBRARY_SEARCH_SYSTEM32));
  SplitFunction split = &::CommandLineToArgvW;
  if (library.IsValid()) {
    split = reinterpret_cast<SplitFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library.Get(), "CommandLineToArgvW")));
  }
  CommandLine::StringVector elements;
  if (!split) return elements;  // the library lacks the function: an empty command
  int count = 0;
  wchar_t** array = split(text, &count);
  ScopedLocalMemory owner(array);
  for (int i = 0; array && i < count; ++i) elements.emplace_back(array[i]);
  return elements;
}
