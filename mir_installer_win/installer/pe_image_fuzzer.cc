// The PE certificate-table search over any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  const std::string value = FindChannelInfoInPeImage(ByteSpan(data, size));
  if (!value.empty() && !IsValidChannelInfo(value)) abort();
  return 0;
}
