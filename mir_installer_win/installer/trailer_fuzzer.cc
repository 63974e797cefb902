// FindChannelInfoTrailer over any bytes: no crash, no read outside the span,
// and a value found is always a valid CHANNEL_INFO.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  const std::string value = FindChannelInfoTrailer(ByteSpan(data, size));
  if (!value.empty() && !IsValidChannelInfo(value)) abort();
  return 0;
}
