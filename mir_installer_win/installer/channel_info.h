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

// 1 to 4096 bytes of well-formed UTF-8 without noncharacters.
bool IsValidChannelInfo(std::string_view value);
// Why IsValidChannelInfo refuses `value` (too long, not UTF-8, ...), or
// empty when it holds.
std::string ChannelInfoProblem(std::string_view value);
// The UTF-8 part of the rule alone, for any length.
bool IsWellFormedWithoutNoncharacters(std::string_view bytes);

// The value of a trailer record that ends `span` (before its zero padding).
std::string FindChannelInfoTrailer(ByteSpan span);
// The same for a span that starts with a DER element (a PKCS#7 signature):
// the record must start after that element.
std::string FindChannelInfoTrailerAfterDer(ByteSpan span);
// The value of the last valid delimited record. Malformed candidates are
// skipped; the first kMaxMalformedWarnings of them are logged one by one and
// the rest in one line with their count, so that a file full of them cannot
// flood the log.
inline constexpr uint64_t kMaxMalformedWarnings = 10;
std::string FindChannelInfoDelimited(ByteSpan span);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_CHANNEL_INFO_H_
