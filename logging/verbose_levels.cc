#include "logging/verbose_levels.h"

#include <cstdint>
#include <limits>

#include "strings/string_util.h"

namespace logging {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool CharactersMatch(char pattern, char text) {
  return pattern == '?' || pattern == text || (IsSeparator(pattern) && IsSeparator(text));
}

// Reads an optional sign and digits from the start of `text` after leading
// whitespace, stopping at the first other character; 0 without digits.
int LeadingInt(std::string_view text) {
  text = strings::TrimAsciiWhitespace(text, strings::TrimPositions::kLeading);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      return negative ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    }
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

bool ParseWholeInt(std::string_view text, int& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int>(result);
  return true;
}

bool MatchVerbosePattern(std::string_view pattern, std::string_view text) {
  // Greedy matching that remembers the last "*" and retries from there:
  // O(pattern x text) at worst, no recursion.
  size_t p = 0, t = 0;
  size_t star = std::string_view::npos, star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && CharactersMatch(pattern[p], text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string_view VerboseModuleName(std::string_view file) {
  const size_t last_separator = file.find_last_of("/\\");
  if (last_separator != std::string_view::npos) file.remove_prefix(last_separator + 1);
  const size_t last_dot = file.rfind('.');
  if (last_dot != std::string_view::npos) file = file.substr(0, last_dot);
  constexpr std::string_view kInlSuffix = "-inl";
  if (file.size() >= kInlSuffix.size() &&
      file.substr(file.size() - kInlSuffix.size()) == kInlSuffix) {
    file.remove_suffix(kInlSuffix.size());
  }
  return file;
}

VerboseTable::VerboseTable(std::string_view v_switch, std::string_view vmodule_switch,
                           int* minimum_severity)
    : minimum_severity_(minimum_severity) {
  int v = 0;
  if (ParseWholeInt(v_switch, v)) {
    *minimum_severity = v == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -v;
  }
  while (!vmodule_switch.empty()) {
    const size_t comma = vmodule_switch.find(',');
    std::string_view piece = strings::TrimAsciiWhitespace(vmodule_switch.substr(0, comma),
                                                          strings::TrimPositions::kBoth);
    vmodule_switch.remove_prefix(comma == std::string_view::npos ? vmodule_switch.size()
                                                                 : comma + 1);
    if (piece.empty()) continue;
    Pattern entry{std::string(), 0, false};
    const size_t equals = piece.find('=');
    if (equals != std::string_view::npos) {
      entry.pattern = std::string(piece.substr(0, equals));
      std::string_view level = piece.substr(equals);
      while (!level.empty() && level[0] == '=') level.remove_prefix(1);
      entry.level = LeadingInt(level);
    }
    entry.match_whole_path = entry.pattern.find_first_of("/\\") != std::string::npos;
    patterns_.push_back(std::move(entry));
  }
}

int VerboseTable::LevelFor(std::string_view file) const {
  const std::string_view module = VerboseModuleName(file);
  for (const Pattern& entry : patterns_) {
    if (MatchVerbosePattern(entry.pattern, entry.match_whole_path ? file : module)) {
      return entry.level;
    }
  }
  return -*minimum_severity_;
}

}  // namespace logging
