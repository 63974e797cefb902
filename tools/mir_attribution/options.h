// The tool's one command-line parser. Each command declares its switches,
// each bound to a field of the command's own options struct, and gets that
// struct back filled, or the reason the command line is refused: a switch
// the command does not have (another command's included), a flag given a
// value, a switch without its value.
//
//   struct ReadOptions : CommandOptions { bool verbose = false; };
//   constexpr Switch<ReadOptions> kSwitches[] = {Bind<&ReadOptions::verbose>("verbose")};
//   ReadOptions options;
//   if (!ParseOptions(arguments, kSwitches, options, error)) ... a usage error
//
// A switch is "--name" or "-name"; one with a value is "--name=VALUE" or
// "--name VALUE". "--help" and "-h" are every command's. After "--", and for
// anything that does not start with "-", an argument is an operand.
#ifndef TOOLS_MIR_ATTRIBUTION_OPTIONS_H_
#define TOOLS_MIR_ATTRIBUTION_OPTIONS_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "tools/mir_attribution/cli.h"

namespace mir_attribution {

// What every command's options hold.
struct CommandOptions {
  std::vector<Argument> operands;  // the arguments that are not switches, in order
  bool help = false;
};

inline void Set(bool& flag, Argument) { flag = true; }
inline void Set(std::optional<Argument>& field, Argument value) { field = std::move(value); }

template <typename Options>
struct Switch {
  std::string_view name;
  bool takes_value = false;
  void (*set)(Options& options, Argument value) = nullptr;
};

template <typename Member>
struct MemberOf;
template <typename Class, typename Field>
struct MemberOf<Field Class::*> {
  using Options = Class;
  static constexpr bool kTakesValue = !std::is_same_v<Field, bool>;
};

// The switch `name` that sets `kField`: a bool is a flag, an
// std::optional<Argument> a switch with a value.
template <auto kField>
constexpr Switch<typename MemberOf<decltype(kField)>::Options> Bind(std::string_view name) {
  using Member = MemberOf<decltype(kField)>;
  return {name, Member::kTakesValue, [](typename Member::Options& options, Argument value) {
            Set(options.*kField, std::move(value));
          }};
}

// A switch as the parser meets it: its name and whether it takes a value.
struct SwitchShape {
  std::string_view name;
  bool takes_value = false;
};
// The switches given, as (index in `shapes`, value) in order; false with
// the reason for a command line the shapes refuse.
bool SplitArguments(std::span<const Argument> arguments, std::span<const SwitchShape> shapes,
                    std::vector<std::pair<size_t, Argument>>& given, CommandOptions& common,
                    std::string& error);

template <typename Options>
bool ParseOptions(std::span<const Argument> arguments,
                  std::type_identity_t<std::span<const Switch<Options>>> switches, Options& options,
                  std::string& error) {
  std::vector<SwitchShape> shapes;
  for (const Switch<Options>& s : switches) {
    shapes.push_back({s.name, s.takes_value});
  }
  std::vector<std::pair<size_t, Argument>> given;
  if (!SplitArguments(arguments, shapes, given, options, error)) return false;
  for (auto& [index, value] : given) {
    switches[index].set(options, std::move(value));
  }
  return true;
}

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_OPTIONS_H_
