// The CHANNEL_INFO attribution record: a short UTF-8 text that an injector
// writes into a signed copy of the launcher, in one of two forms:
//
//   trailer:   "MIRBCH01", length N (32-bit little-endian), N bytes of value,
//              then only zero bytes to the end of the searched span;
//   delimited: "CHANNEL_INFO:" value ":CHANNEL_INFO", anywhere in the span.
//
// Here the record's constants and the rule for its value; the searches are
// in channel_info_search.h. Nothing here logs: servers link it.
#ifndef MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_
#define MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace installer {

enum class RecordForm { kTrailer, kDelimited };

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

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_
