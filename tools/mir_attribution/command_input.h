// What the commands read: the value of stamp, plan and link (--value=TEXT,
// the argument's bytes, or --value-file=FILE, the file's bytes exactly, for
// values a shell cannot pass), and the file stamp, reserve and plan read,
// with its size.
#ifndef TOOLS_MIR_ATTRIBUTION_COMMAND_INPUT_H_
#define TOOLS_MIR_ATTRIBUTION_COMMAND_INPUT_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "mir_installer_win/installer/byte_source.h"
#include "mir_installer_win/installer/signed_image.h"
#include "tools/mir_attribution/cli.h"

namespace mir_attribution {

// The value from whichever of `text` and `file` is given; false with the
// reason when it has no exact bytes, cannot be read or is longer than any
// value may be (a longer file is not read whole).
bool ReadValue(const std::optional<Argument>& text, const std::optional<Argument>& file,
               std::string& value, std::string& error);

struct InputFile {
  std::unique_ptr<installer::ByteSource> file;
  uint64_t size = 0;
};

// False with the reason when `path` cannot be opened or its size read.
bool OpenInputFile(const std::filesystem::path& path, InputFile& input, std::string& error);
// The same, with the headers and certificate table of the signed launcher
// it must be (installer::ReadSignedImage, whose reason it gives).
bool OpenSignedImage(const std::filesystem::path& path, InputFile& input,
                     installer::SignedImage& image, std::string& error);

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_COMMAND_INPUT_H_
