#include "tools/mir_attribution/command_input.h"

#include <algorithm>
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
  input.file = installer::OpenAttributionFile(path.c_str(), system_error);
  int64_t size = 0;
  if (!input.file || !input.file->Size(size, system_error)) {
    error = "cannot be read (" + std::to_string(system_error) + ")";
    return false;
  }
  input.size = static_cast<uint64_t>(size);
  input.read = [file = input.file.get()](uint64_t offset, installer::MutableByteSpan into) {
    uint32_t ignored = 0;
    if (!file->SeekFromStart(static_cast<int64_t>(offset), ignored)) return false;
    for (size_t done = 0; done < into.size();) {
      uint32_t read = 0;
      const auto ask = static_cast<uint32_t>(std::min<size_t>(into.size() - done, 1 << 20));
      if (!file->Read(into.data() + done, ask, read) || read == 0) return false;
      done += read;
    }
    return true;
  };
  return true;
}

bool OpenSignedImage(const std::filesystem::path& path, InputFile& input,
                     installer::SignedImage& image, std::string& error) {
  return OpenInputFile(path, input, error) &&
         installer::ReadSignedImage(input.size, input.read, image, error);
}

}  // namespace mir_attribution
