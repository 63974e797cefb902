#include "tools/mir_attribution/cli.h"

#include <cstdio>
#include <utility>

#include "logging/logging.h"
#include "tools/mir_attribution/command.h"

namespace mir_attribution {
namespace {

constexpr const Command* kCommands[] = {&kStampCommand, &kReserveCommand, &kPlanCommand,
                                        &kReadCommand, &kLinkCommand};

// Every command's usage, the manual page's synopsis: "usage: " before the
// first line, each line after it indented as much.
void PrintUsage(FILE* out) {
  const char* indent = "usage: ";
  for (const Command* command : kCommands) {
    for (std::string_view rest = command->usage; !rest.empty(); indent = "       ") {
      const std::string_view line = rest.substr(0, rest.find('\n') + 1);
      std::fprintf(out, "%s%.*s", indent, static_cast<int>(line.size()), line.data());
      rest.remove_prefix(line.size());
    }
  }
  std::fprintf(out, "%smir_attribution --help | COMMAND --help | --version\n", indent);
}

}  // namespace

int RunAttributionTool(const std::vector<Argument>& arguments) {
  // The searches log what they find; only read --verbose shows it. Without
  // a destination their errors would still reach stderr, as internal lines
  // beside the tool's own message: a debugger is the one place that stays
  // silent (on Linux, nowhere).
  logging::LogSettings settings;
  settings.destinations = logging::DestDebugger;
  logging::ConfigureLogging(std::move(settings));
  const std::string_view first =
      arguments.size() > 1 ? std::string_view(arguments[1].bytes) : std::string_view();
  if ((first == "--help" || first == "-h") && arguments.size() == 2) {
    PrintUsage(stdout);
    return 0;
  }
  if (first == "--version" && arguments.size() == 2) {
    std::printf("mir_attribution %s\n", MIR_TOOL_VERSION);
    return 0;
  }
  for (const Command* command : kCommands) {
    if (first == command->name) return command->run(std::span(arguments).subspan(2));
  }
  if (!first.empty()) {
    std::fprintf(stderr, "mir_attribution: unknown %s %s\n", first[0] == '-' ? "switch" : "command",
                 arguments[1].bytes.c_str());
  }
  PrintUsage(stderr);
  return 2;
}

}  // namespace mir_attribution
