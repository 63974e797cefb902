// Every search over any bytes: no crash, no read outside the span, and any
// value found is a valid CHANNEL_INFO.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  const ByteSpan span(data, size);
  for (const std::string& value :
       {FindChannelInfoTrailer(span), FindChannelInfoTrailerAfterDer(span),
        FindChannelInfoDelimited(span)}) {
    if (!value.empty() && !IsValidChannelInfo(value)) abort();
  }
  IsValidChannelInfo(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
