#include "tools/mir_attribution/cli.h"

#include <cstdio>

#include "logging/logging.h"
#include "tools/mir_attribution/command.h"

// The release's version, from the build; a build without one says so.
#ifndef MIR_TOOL_VERSION
#define MIR_TOOL_VERSION "0.0.0.0 (unreleased)"
#endif

namespace mir_attribution {
namespace {

constexpr const Command* kCommands[] = {&kStampCommand, &kReserveCommand, &kPlanCommand,
                                        &kReadCommand, &kLinkCommand};

constexpr char kAbout[] =
    "mir_attribution stamps download-attribution values into the signed Mirelo Browser\n"
    "setup launcher without breaking its signature, makes the base of a release that a\n"
    "download server stamps per download, and signs the links such a server accepts.\n";
constexpr char kGlobalUsage[] = "mir_attribution --help | --version | COMMAND --help\n";

void PrintUsages(FILE* out) {
  std::fputs("usage:\n", out);
  for (const Command* command : kCommands) {
    std::fwrite(command->usage.data(), 1, command->usage.size(), out);
  }
  std::fputs(kGlobalUsage, out);
}

// Every command's usage and help: what the manual page is made of.
void PrintToolHelp() {
  std::fputs(kAbout, stdout);
  std::fputc('\n', stdout);
  PrintUsages(stdout);
  for (const Command* command : kCommands) {
    std::fputc('\n', stdout);
    PrintHelp(*command, stdout);
  }
}

}  // namespace

int RunAttributionTool(const std::vector<Argument>& arguments) {
  // The searches log what they find; only read --verbose shows it.
  logging::ConfigureLogging(logging::LogSettings());
  const std::string_view first = arguments.size() > 1 ? arguments[1].bytes : "";
  if (first == "--help" || first == "-h") {
    PrintToolHelp();
    return 0;
  }
  if (first == "--version") {
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
  PrintUsages(stderr);
  return 2;
}

}  // namespace mir_attribution
