#include "tools/mir_attribution/options.h"

#include <algorithm>

namespace mir_attribution {
namespace {

bool Refuse(std::string reason, std::string& error) {
  error = std::move(reason);
  return false;
}

}  // namespace

bool SplitArguments(std::span<const Argument> arguments, std::span<const SwitchShape> shapes,
                    std::vector<std::pair<size_t, Argument>>& given, CommandOptions& common,
                    std::string& error) {
  bool switches = true;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const Argument& argument = arguments[i];
    const std::string_view text = argument.bytes;
    if (switches && text == "--") {
      switches = false;
      continue;
    }
    if (!switches || text.size() < 2 || text[0] != '-') {
      common.operands.push_back(argument);
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
    if (!value && (name == "help" || name == "h")) {
      common.help = true;
      continue;
    }
    const auto shape = std::find_if(shapes.begin(), shapes.end(),
                                    [name](const SwitchShape& s) { return s.name == name; });
    if (shape == shapes.end()) return Refuse("unknown switch " + std::string(text), error);
    if (!shape->takes_value && value) {
      return Refuse("--" + std::string(name) + " takes no value", error);
    }
    if (shape->takes_value && !value) {
      if (i + 1 == arguments.size()) return Refuse(std::string(text) + " without its value", error);
      value = arguments[++i];
    }
    given.emplace_back(static_cast<size_t>(shape - shapes.begin()), value.value_or(Argument{}));
  }
  return true;
}

}  // namespace mir_attribution
