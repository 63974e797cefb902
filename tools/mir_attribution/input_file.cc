#include "tools/mir_attribution/input_file.h"

#include <algorithm>

namespace mir_attribution {

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
