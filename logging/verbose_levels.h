// The verbose-level table built from the "v" and "vmodule" switches.
//
//   VerboseTable table("1", "net/*=2,main=3", &minimum_severity);
//   table.LevelFor("app/net/socket.cc");  // 2: a pattern with "/" matches the whole text
//   table.LevelFor("src/main.cc");        // 3: matched against the module name "main"
//   table.LevelFor("other.cc");           // 1: the level of "v"
#ifndef LOGGING_VERBOSE_LEVELS_H_
#define LOGGING_VERBOSE_LEVELS_H_

#include <string>
#include <string_view>
#include <vector>

namespace logging {

// Parses the whole of `text` as a signed 32-bit decimal number: an optional
// sign and digits, nothing else, no overflow.
bool ParseWholeInt(std::string_view text, int& value);

// "*" matches any run, "?" one character, "/" and "\" match each other.
bool MatchVerbosePattern(std::string_view pattern, std::string_view text);

// The file text after its last separator, cut at its last "." and without a
// final "-inl": "a/b/foo-inl.h" -> "foo".
std::string_view VerboseModuleName(std::string_view file);

class VerboseTable {
 public:
  // A "v" that parses as a number sets *minimum_severity to its negation.
  VerboseTable(std::string_view v_switch, std::string_view vmodule_switch, int* minimum_severity);

  // The level of the first matching pattern, else the negation of the
  // minimum severity.
  int LevelFor(std::string_view file) const;

  struct Pattern {
    std::string pattern;
    int level;
    bool match_whole_path;
  };
  const std::vector<Pattern>& patterns() const { return patterns_; }

 private:
  std::vector<Pattern> patterns_;
  const int* minimum_severity_;
};

}  // namespace logging

#endif  // LOGGING_VERBOSE_LEVELS_H_
