// The CHANNEL_INFO attribution record: a short UTF-8 text that an injector
// writes into a signed copy of the launcher, in one of two forms:
//
//   trailer:   "MIRBCH01", length N (32-bit little-endian), N bytes of value,
//              then only zero bytes to the end of the searched span;
//   delimited: "CHANNEL_INFO:" value ":CHANNEL_INFO", anywhere in the span.
//
// The bytes come from a part of the file the signature does not cover, so
// every search treats them as hostile: offsets are 64-bit, every read is
// bounds-checked, and only the value found is copied. An empty result means
// no record.
#ifndef MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_
#define MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "mir_installer_win/installer/binary_format.h"

namespace installer {

inline constexpr size_t kMaxChannelInfoLength = 4096;
inline constexpr std::string_view kTrailerMarker = "MIRBCH01";
// The tags are "CHANNEL_INFO:" and ":CHANNEL_INFO". Only the name is kept as
// a constant: with a whole tag among its own bytes, the launcher would find
// a "record" in its own file, made of whatever lies between two of them.
inline constexpr std::string_view kTagName = "CHANNEL_INFO";
inline constexpr size_t kTagLength = kTagName.size() + 1;  // with its colon

// 1 to 4096 bytes of well-formed UTF-8 without noncharacters and without a
// NUL byte: the value is stored as a REG_SZ string, which ends at its first
// NUL, so a value holding one would be stored as another value.
bool IsValidChannelInfo(std::string_view value);
// Why `value` breaks that rule, naming its first fault and where it lies
// ("the value is not well-formed UTF-8 (byte 3)"); empty when it keeps it.
std::string ChannelInfoProblem(std::string_view value);

// The value of a trailer record that ends `span` (before its zero padding).
std::string FindChannelInfoTrailer(ByteSpan span);
// The same for a span that starts with a DER element (a PKCS#7 signature):
// the record must start after that element.
std::string FindChannelInfoTrailerAfterDer(ByteSpan span);

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
std::string FindChannelInfoDelimited(ByteSpan span, MalformedRecordLog& malformed);
std::string FindChannelInfoDelimited(ByteSpan span);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_
