// mir_attribution's command line: "stamp" writes a CHANNEL_INFO record into a
// signed launcher, "read" prints the record the launcher would find. Both
// platforms' entry points hand their arguments to RunAttributionTool.
#ifndef TOOLS_MIR_ATTRIBUTION_CLI_H_
#define TOOLS_MIR_ATTRIBUTION_CLI_H_

#include <filesystem>
#include <string>
#include <vector>

namespace mir_attribution {

// One command-line argument in the two forms the tool needs: its bytes (on
// Windows the UTF-8 form of the UTF-16 argument) and the path it names.
struct Argument {
  std::string bytes;
  std::filesystem::path path;
  // False when `bytes` is not exactly the argument: a UTF-16 argument with a
  // lone surrogate has no UTF-8 form.
  bool bytes_exact = true;
};

// Runs the tool; `arguments` start with the program's name. Returns the exit
// status: 0 done, 1 refused or failed (with a message), 2 a usage error.
int RunAttributionTool(const std::vector<Argument>& arguments);

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_CLI_H_
