// The vmodule parser and the pattern matcher take any bytes: the input is
// split into a switch value and a file text to look up.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logging/verbose_levels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string_view vmodule = input.substr(0, split);
  const std::string_view file = split == std::string_view::npos ? input : input.substr(split + 1);
  int minimum_severity = 0;
  logging::VerboseTable table(vmodule.substr(0, 12), vmodule, &minimum_severity);
  table.LevelFor(file);
  logging::MatchVerbosePattern(vmodule, file);
  return 0;
}
