#include <windows.h>

#include <shlobj.h>

#include "base/files/file_util.h"
#include "base/win/system_library.h"
#include "command_line/process_command_line.h"
#include "logging/logging.h"
#include "product/product_details.h"
#include "strings/string_util.h"

namespace command_line {
namespace {

constexpr logging::LogSource kProcessCommandLineLog{"command_line/process_command_line"};

}  // namespace

std::wstring ProcessCommandText() { return ::GetCommandLineW(); }

std::string ReadCommandConfig() {
  const base::SystemFunction<decltype(&::SHGetFolderPathW)> get_folder(L"shell32.dll",
                                                                       "SHGetFolderPathW");
  wchar_t folder[MAX_PATH] = {};
  if (!get_folder ||
      FAILED(get_folder(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ||
      folder[0] == L'\0') {
    return std::string();
  }
  const base::PathValue path = base::PathValue(folder)
                                   .AppendAsciiComponent(product::kProductPathName8Bit)
                                   .AppendAsciiComponent("mir_command.config");
  std::string contents;
  if (!base::ReadWholeFileWithLimit(path, &contents, kMaxCommandConfigSize)) {
    // A read stopped by the limit leaves exactly the limit's worth of bytes.
    if (contents.size() == kMaxCommandConfigSize) {
      LOG_AT(kProcessCommandLineLog, 40, WARNING)
          << "[ProcessCommandLine] Ignoring " << path << ": larger than " << kMaxCommandConfigSize
          << " bytes";
    }
    return std::string();
  }
  return std::string(strings::TrimAsciiWhitespace(contents, strings::TrimPositions::kBoth));
}

}  // namespace command_line
