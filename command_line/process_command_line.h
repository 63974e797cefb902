// The process command line: the one CommandLine describing how the launcher
// was started. It is the text Windows holds for the process, followed by one
// blank and the text of "mir_command.config" in the user's
// "<local application data>\Mirelo Browser" folder, so switches in that file
// are parsed like typed ones and, coming later, override them.
#ifndef COMMAND_LINE_PROCESS_COMMAND_LINE_H_
#define COMMAND_LINE_PROCESS_COMMAND_LINE_H_

#include <string>
#include <string_view>

#include "command_line/command_line.h"

namespace command_line {

// Builds the process command line once. False when it already exists.
bool InitProcessCommandLine();
// The process command line, or null before InitProcessCommandLine.
const CommandLine* GetProcessCommandLine();
bool IsProcessCommandLineReady();

// The largest configuration file read: a command line holds at most 32,767
// UTF-16 units, and each byte of the file gives at most one.
inline constexpr size_t kMaxCommandConfigSize = 32767;

// The configuration file's text trimmed of ASCII whitespace, or empty when
// there is no such file, it cannot be read, or it is larger than
// kMaxCommandConfigSize (then a warning says so).
std::string ReadCommandConfig();

// The command text Windows holds for the process (GetCommandLineW).
std::wstring ProcessCommandText();

// `typed`, then one blank and `config` as UTF-16 when `config` is not empty.
std::wstring AppendCommandConfig(std::wstring typed, std::string_view config);

}  // namespace command_line

#endif  // COMMAND_LINE_PROCESS_COMMAND_LINE_H_
