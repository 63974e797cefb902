// The tool's commands, one file each (<name>_command.cc, its help beside
// it), and what they share: how a command is run from its arguments, and
// how it says why it stopped. Exit status: 0 done, 1 refused or failed (a
// message names the file and the reason), 2 a usage error.
#ifndef TOOLS_MIR_ATTRIBUTION_COMMAND_H_
#define TOOLS_MIR_ATTRIBUTION_COMMAND_H_

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "tools/mir_attribution/cli.h"
#include "tools/mir_attribution/options.h"

namespace mir_attribution {

struct Command {
  std::string_view name;
  std::string_view usage;  // its synopsis, "mir_attribution NAME ..." (lines)
  std::string_view help;   // what it does, its switches and its exit status
  // Runs it on the arguments after its name; returns the exit status.
  int (*run)(std::span<const Argument> arguments);
};

extern const Command kStampCommand;
extern const Command kReserveCommand;
extern const Command kPlanCommand;
extern const Command kReadCommand;
extern const Command kLinkCommand;

// The command's usage and help, as --help prints them.
void PrintHelp(const Command& command, FILE* out);
// "mir_attribution: FILE: REASON" on standard error; returns 1.
int Refuse(const std::filesystem::path& file, std::string_view reason);
// `reason` (if any), then `command`'s usage and help (if any), on standard
// error; returns 2.
int UsageError(std::string_view reason, const Command* command = nullptr);

// The options type of a command's function.
template <typename Options>
Options OptionsOf(int (*)(const Options&));

// A command's `run`: parses the arguments with `switches` and runs `run` on
// the options; prints the help instead for --help, and refuses what the
// parser refuses as a usage error.
template <const Command& command, auto run, const auto& switches>
int ParseAndRun(std::span<const Argument> arguments) {
  decltype(OptionsOf(run)) options;
  std::string error;
  if (!ParseOptions(arguments, std::span(switches), options, error)) {
    return UsageError(error, &command);
  }
  if (!options.help) return run(options);
  PrintHelp(command, stdout);
  return 0;
}

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_COMMAND_H_
