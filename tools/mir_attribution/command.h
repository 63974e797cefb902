// The tool's commands, one file each (<name>_command.cc, its help beside
// it), and what they share: the one parser of their command lines, and how
// they say why they stopped. Exit status: 0 done, 1 refused or failed (a
// message names the file and the reason), 2 a usage error.
//
// A command declares its switches, each setting one field of its own
// options, a bool (a flag) or an std::optional<Argument> (a switch with a
// value), and gets them parsed, or its help printed, or a usage error:
//
//   ReadOptions options;
//   if (auto done = ParseCommandLine(kReadCommand, arguments,
//                                    {{"verbose", &options.verbose}}, options)) return *done;
//
// A switch is "--name" or "-name"; one with a value "--name=VALUE" or
// "--name VALUE"; "--help" and "-h" are every command's. After "--", and for
// anything that does not start with "-", an argument is an operand. A
// switch the command does not have (another command's too), a flag given a
// value and a switch without its value are usage errors.
#ifndef TOOLS_MIR_ATTRIBUTION_COMMAND_H_
#define TOOLS_MIR_ATTRIBUTION_COMMAND_H_

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/mir_attribution/cli.h"

namespace mir_attribution {

struct Command {
  std::string_view name;
  std::string_view usage;  // its synopsis, "mir_attribution NAME ..." (lines)
  std::string_view help;   // what it does, its switches and its exit status
  // Runs it on the arguments after its name; returns the exit status.
  int (*run)(std::span<const Argument> arguments);
};
extern const Command kStampCommand, kReserveCommand, kPlanCommand, kReadCommand, kLinkCommand;

// What every command's options hold.
struct CommandOptions {
  std::vector<Argument> operands;  // the arguments that are not switches, in order
};

struct Switch {
  std::string_view name;
  std::variant<bool*, std::optional<Argument>*> field;
};

// Parses `arguments` into the fields of `switches` and `options`; nothing
// when the command is to run, else its exit status: 0 with its help printed
// for --help, 2 with the reason and its help for a usage error.
std::optional<int> ParseCommandLine(const Command& command, std::span<const Argument> arguments,
                                    std::initializer_list<Switch> switches,
                                    CommandOptions& options);

// The command's usage and help, as --help prints them.
void PrintHelp(const Command& command, FILE* out);
// "mir_attribution: FILE: REASON" on standard error; returns 1.
int Refuse(const std::filesystem::path& file, std::string_view reason);
// `reason` (if any), then `command`'s usage and help (if any), on standard
// error; returns 2.
int UsageError(std::string_view reason, const Command* command = nullptr);

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_COMMAND_H_
