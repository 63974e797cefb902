// The file a command reads (stamp's IN, reserve's IN, plan's BASE): open for
// reading, with its size and a reader of byte ranges for the record
// library's ReadAt.
#ifndef TOOLS_MIR_ATTRIBUTION_INPUT_FILE_H_
#define TOOLS_MIR_ATTRIBUTION_INPUT_FILE_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "mir_installer_win/installer/attribution_file.h"
#include "mir_installer_win/installer/signed_image.h"

namespace mir_attribution {

struct InputFile {
  std::unique_ptr<installer::AttributionFile> file;
  uint64_t size = 0;
  // Reads a range of the open file, however many read calls it takes.
  installer::ReadAtAttributionFile::ReadAt read;
};

// False with the reason when `path` cannot be opened or its size read.
bool OpenInputFile(const std::filesystem::path& path, InputFile& input, std::string& error);

// The same, with the headers and certificate table of the signed launcher
// it must be read (installer::ReadSignedImage, whose reason it gives).
bool OpenSignedImage(const std::filesystem::path& path, InputFile& input,
                     installer::SignedImage& image, std::string& error);

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_INPUT_FILE_H_
