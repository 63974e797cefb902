// The value of stamp, plan and link: --value=TEXT (the argument's bytes) or
// --value-file=FILE (the file's bytes exactly, for values a shell cannot
// pass), read with its size capped before anything is allocated.
#ifndef TOOLS_MIR_ATTRIBUTION_VALUE_ARGUMENT_H_
#define TOOLS_MIR_ATTRIBUTION_VALUE_ARGUMENT_H_

#include <optional>
#include <string>

#include "tools/mir_attribution/cli.h"

namespace mir_attribution {

// The value from whichever of `text` and `file` is given; false with the
// reason when it has no exact bytes, cannot be read or is longer than any
// value may be.
bool ReadValue(const std::optional<Argument>& text, const std::optional<Argument>& file,
               std::string& value, std::string& error);

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_VALUE_ARGUMENT_H_
