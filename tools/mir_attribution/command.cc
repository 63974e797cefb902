#include "tools/mir_attribution/command.h"

#include <cstdio>

namespace mir_attribution {

void PrintHelp(const Command& command, FILE* out) {
  std::fwrite(command.usage.data(), 1, command.usage.size(), out);
  std::fwrite(command.help.data(), 1, command.help.size(), out);
}

int Refuse(const std::filesystem::path& file, std::string_view reason) {
  std::fprintf(stderr, "mir_attribution: %s: %.*s\n", file.string().c_str(),
               static_cast<int>(reason.size()), reason.data());
  return 1;
}

int UsageError(std::string_view reason, const Command* command) {
  if (!reason.empty()) {
    std::fprintf(stderr, "mir_attribution: %.*s\n", static_cast<int>(reason.size()), reason.data());
  }
  if (command) PrintHelp(*command, stderr);
  return 2;
}

}  // namespace mir_attribution
