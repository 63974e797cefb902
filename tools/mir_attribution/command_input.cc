#include "tools/mir_attribution/command_input.h"

#include <fstream>

#include "mir_installer_win/installer/channel_info.h"

namespace mir_attribution {

bool ReadValue(const std::optional<Argument>& text, const std::optional<Argument>& file,
               std::string& value, std::string& error) {
  if (text) {
    value = text->bytes;
    if (!text->bytes_exact)
      error = "the value has no UTF-8 form (it holds a lone UTF-16 surrogate)";
    return text->bytes_exact;
  }
  error.clear();
  std::ifstream stream(file->path, std::ios::binary);
  // One byte more than a value may have is enough to refuse a longer one.
  value.resize(installer::kMaxChannelInfoLength + 1);
  stream.read(value.data(), static_cast<std::streamsize>(value.size()));
  value.resize(static_cast<size_t>(stream.gcount()));
  if (!stream.is_open() || stream.bad()) {
    error = file->path.string() + ": cannot be read";
  } else if (value.size() > installer::kMaxChannelInfoLength) {
    error = file->path.string() + ": the value is longer than 4096 bytes";
  }
  return error.empty();
}

bool OpenInputFile(const std::filesystem::path& path, InputFile& input, std::string& error) {
  uint32_t system_error = 0;
  input.file = installer::OpenFileSource(path.c_str(), system_error);
  if (!input.file || !input.file->Size(input.size, system_error)) {
    error = "cannot be read (" + std::to_string(system_error) + ")";
    return false;
  }
  return true;
}

bool OpenSignedImage(const std::filesystem::path& path, InputFile& input,
                     installer::SignedImage& image, std::string& error) {
  return OpenInputFile(path, input, error) && installer::ReadSignedImage(*input.file, image, error);
}

}  // namespace mir_attribution
