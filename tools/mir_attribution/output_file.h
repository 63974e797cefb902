// Writing the tool's output so that it is on disk when the tool ends, and so
// that a failure, or a kill, at any moment leaves a copy's OUT as it was and
// nothing beside it. On Linux the new file has no name until it is complete
// and on disk (O_TMPFILE, then linkat); elsewhere, and on file systems
// without unnamed files, it is written under a temporary name created
// exclusively beside OUT and renamed over it. A file stamped in place is
// written where it lies and synced.
#ifndef TOOLS_MIR_ATTRIBUTION_OUTPUT_FILE_H_
#define TOOLS_MIR_ATTRIBUTION_OUTPUT_FILE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/mir_attribution/stamp.h"

namespace mir_attribution {

// Makes `out` a new file of `size` bytes: the first `copied` bytes of `in`,
// then `writes` at their offsets, with the permission bits of `in`. False
// with the reason, `out` as it was, when anything fails.
bool WriteFileCopy(const std::filesystem::path& in, const std::filesystem::path& out,
                   uint64_t copied, const std::vector<StampEdit::Write>& writes, uint64_t size,
                   std::string& error);

// Applies `writes` in order to the existing file `path`, then gives it `size`
// bytes and syncs it. Not opened: nothing was written.
enum class InPlaceWrite { kWritten, kNotOpened, kNotWritten };
InPlaceWrite ApplyInPlace(const std::filesystem::path& path,
                          const std::vector<StampEdit::Write>& writes, uint64_t size);

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_OUTPUT_FILE_H_
