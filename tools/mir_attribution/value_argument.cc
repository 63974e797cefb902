#include "tools/mir_attribution/value_argument.h"

#include <fstream>

#include "mir_installer_win/installer/channel_info.h"

namespace mir_attribution {

bool ReadValue(const std::optional<Argument>& text, const std::optional<Argument>& file,
               std::string& value, std::string& error) {
  if (text) {
    if (!text->bytes_exact) {
      error = "the value has no UTF-8 form (it holds a lone UTF-16 surrogate)";
      return false;
    }
    value = text->bytes;
    return true;
  }
  std::ifstream stream(file->path, std::ios::binary);
  // One byte more than a value may have is enough to refuse a longer one.
  value.resize(installer::kMaxChannelInfoLength + 1);
  stream.read(value.data(), static_cast<std::streamsize>(value.size()));
  value.resize(static_cast<size_t>(stream.gcount()));
  if (!stream.is_open() || stream.bad()) {
    error = file->path.string() + ": cannot be read";
    return false;
  }
  if (value.size() > installer::kMaxChannelInfoLength) {
    error = file->path.string() + ": the value is longer than 4096 bytes";
    return false;
  }
  return true;
}

}  // namespace mir_attribution
