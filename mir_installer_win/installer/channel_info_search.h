// The searches for a CHANNEL_INFO record (channel_info.h) in untrusted
// bytes. The bytes come from a part of the file the signature does not
// cover, so every search treats them as hostile: offsets are 64-bit, every
// read is bounds-checked, and only the value found is copied. An empty
// result means no record; a search given a RecordPlace says there where it
// found the value. Malformed delimited candidates are logged.
#ifndef MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_SEARCH_H_
#define MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_SEARCH_H_

#include <cstdint>
#include <string>

#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/channel_info.h"

namespace installer {

// Where a search found its value: the record's form and the offset of its
// first byte from the start of the bytes searched.
struct RecordPlace {
  RecordForm form = RecordForm::kTrailer;
  uint64_t offset = 0;
};

// The value of a trailer record that ends `span` (before its zero padding).
std::string FindChannelInfoTrailer(ByteSpan span, RecordPlace* place = nullptr);
// The same for a span that starts with a DER element (a PKCS#7 signature):
// the record must start after that element.
std::string FindChannelInfoTrailerAfterDer(ByteSpan span, RecordPlace* place = nullptr);

// The log lines of the malformed delimited candidates that the searches of
// one attribution file skip, however many searches that takes: the first
// kMaxMalformedWarnings one by one, the rest counted and reported in one line
// when the budget ends, so that a file full of them cannot flood the log.
inline constexpr uint64_t kMaxMalformedWarnings = 10;
class MalformedRecordLog {
 public:
  MalformedRecordLog() = default;
  MalformedRecordLog(const MalformedRecordLog&) = delete;
  MalformedRecordLog& operator=(const MalformedRecordLog&) = delete;
  ~MalformedRecordLog();  // the one line with the count beyond the budget

  void Skipped(uint64_t length);

 private:
  uint64_t count_ = 0;
};

// The value of the last valid delimited record. Malformed candidates are
// skipped and logged through `malformed`, or, without one, through a budget
// of this search's own.
std::string FindChannelInfoDelimited(ByteSpan span, MalformedRecordLog& malformed,
                                     RecordPlace* place = nullptr);
std::string FindChannelInfoDelimited(ByteSpan span);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_SEARCH_H_
