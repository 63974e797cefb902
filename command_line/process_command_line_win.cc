#include <windows.h>

#include <shlobj.h>

#include "base/files/file_util.h"
#include "command_line/process_command_line.h"
#include "product/product_details.h"
#include "strings/string_util.h"

std::wstring ProcessCommandText() { return ::GetCommandLineW(); }

std::string ReadCommandConfig() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(
          ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ||
      folder[0] == L'\0') {
    return std::string();
  }
  const PathValue path = PathValue(folder)
                             .AppendAsciiComponent(product::kProductPathName8Bit)
                             .AppendAsciiComponent("mir_command.config");
  std::string contents;
  if (!base::ReadWholeFile(path, &contents)) return std::string();
  return std::string(TrimAsciiWhitespace(contents, TrimPositions::kBoth));
}
