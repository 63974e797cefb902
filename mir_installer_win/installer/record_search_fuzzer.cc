// One record search over any bytes: no crash, no read outside the span, and
// a value found is always a valid CHANNEL_INFO. The build names the search
// (MIR_FUZZED_SEARCH) for each fuzz target made from this file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info_search.h"
#include "mir_installer_win/installer/pe_image_search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  const std::string value = MIR_FUZZED_SEARCH(installer::ByteSpan(data, size));
  if (!value.empty() && !installer::IsValidChannelInfo(value)) abort();
  return 0;
}
