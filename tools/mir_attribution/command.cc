#include "tools/mir_attribution/command.h"

#include <algorithm>
#include <string>

namespace mir_attribution {

std::optional<int> ParseCommandLine(const Command& command, std::span<const Argument> arguments,
                                    std::initializer_list<Switch> switches,
                                    CommandOptions& options) {
  bool help = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const Argument& argument = arguments[i];
    const std::string_view text = argument.bytes;
    if (text == "--") {
      options.operands.insert(options.operands.end(), arguments.begin() + i + 1, arguments.end());
      break;
    }
    if (text.size() < 2 || text[0] != '-') {
      options.operands.push_back(argument);
      continue;
    }
    std::string_view name = text.substr(text[1] == '-' ? 2 : 1);
    const size_t equals = name.find('=');
    std::optional<Argument> value;
    if (equals != std::string_view::npos) {
      // The value's bytes after "="; as a path, the argument's own text after
      // it (on Windows UTF-16, where the switch's ASCII has the same length).
      const size_t prefix = text.size() - name.size() + equals + 1;
      value = Argument{std::string(text.substr(prefix)),
                       std::filesystem::path(argument.path.native().substr(prefix)),
                       argument.bytes_exact};
      name = name.substr(0, equals);
    }
    const auto found = std::find_if(switches.begin(), switches.end(),
                                    [name](const Switch& s) { return s.name == name; });
    bool* const* const flag = found == switches.end() ? nullptr : std::get_if<bool*>(&found->field);
    if ((name == "help" || name == "h") && !value) {
      help = true;
    } else if (found == switches.end()) {
      return UsageError("unknown switch " + std::string(text), &command);
    } else if (flag && value) {
      return UsageError("--" + std::string(name) + " takes no value", &command);
    } else if (flag) {
      **flag = true;
    } else if (value || i + 1 < arguments.size()) {
      *std::get<std::optional<Argument>*>(found->field) = value ? *value : arguments[++i];
    } else {
      return UsageError(std::string(text) + " without its value", &command);
    }
  }
  if (!help) return std::nullopt;
  PrintHelp(command, stdout);
  return 0;
}

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
