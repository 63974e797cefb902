// mir_attribution on Windows: each UTF-16 argument as a path, and as UTF-8
// bytes for the value, which must convert without replacement.
#include "strings/utf_string_conversions.h"
#include "tools/mir_attribution/cli.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<mir_attribution::Argument> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::wstring text = argv[i];
    const std::string bytes = strings::WideToUtf8(text);
    arguments.push_back({bytes, std::filesystem::path(text), strings::Utf8ToWide(bytes) == text});
  }
  return mir_attribution::RunAttributionTool(arguments);
}
