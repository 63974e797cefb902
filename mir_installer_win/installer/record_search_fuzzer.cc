// One record search over any bytes: no crash, no read outside the span, and
// a value found is always a valid CHANNEL_INFO whose record lies where the
// search says. The build names the search (MIR_FUZZED_SEARCH) for each fuzz
// target made from this file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info_search.h"
#include "mir_installer_win/installer/pe_image_search.h"
#include "testing/synthetic_pe_image.h"

namespace {

using installer::ByteSpan;
using installer::MalformedRecordLog;
using installer::RecordPlace;

// A search, with or without a log of malformed records, that says where.
[[maybe_unused]] std::string Search(std::string (*search)(ByteSpan, RecordPlace*), ByteSpan span,
                                    RecordPlace& place) {
  return search(span, &place);
}
[[maybe_unused]] std::string Search(std::string (*search)(ByteSpan, MalformedRecordLog&,
                                                          RecordPlace*),
                                    ByteSpan span, RecordPlace& place) {
  MalformedRecordLog malformed;
  return search(span, malformed, &place);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  const ByteSpan span(data, size);
  RecordPlace place;
  const std::string value = Search(MIR_FUZZED_SEARCH, span, place);
  if (!value.empty() && (!installer::IsValidChannelInfo(value) ||
                         !test_support::PointsAtRecord(span, place, value))) {
    abort();
  }
  return 0;
}
