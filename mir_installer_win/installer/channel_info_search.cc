#include "mir_installer_win/installer/channel_info_search.h"

#include "mir_installer_win/installer/attribution_log.h"

namespace installer {
namespace {

std::string_view AsText(ByteSpan span) {
  return std::string_view(reinterpret_cast<const char*>(span.data()), span.size());
}

// The last start of the marker that ends at or before `end`. A plain byte
// loop: string_view::rfind compares at every position.
size_t FindLastMarker(std::string_view bytes, size_t end) {
  if (end < kTrailerMarker.size()) return std::string_view::npos;
  for (size_t pos = end - kTrailerMarker.size() + 1; pos-- > 0;) {
    if (bytes[pos] == kTrailerMarker[0] &&
        bytes.compare(pos, kTrailerMarker.size(), kTrailerMarker) == 0) {
      return pos;
    }
  }
  return std::string_view::npos;
}

// The trailer search with the marker required at or after `earliest_marker`.
std::string FindTrailerFrom(ByteSpan span, uint64_t earliest_marker, RecordPlace* place) {
  const std::string_view bytes = AsText(span);
  const size_t last_non_zero = bytes.find_last_not_of('\0');
  if (last_non_zero == std::string_view::npos) return std::string();
  const uint64_t trimmed = uint64_t{last_non_zero} + 1;
  if (trimmed <= 11) return std::string();
  // Only the last marker is examined; an earlier one is never tried.
  const size_t marker = FindLastMarker(bytes, trimmed);
  if (marker == std::string_view::npos) return std::string();
  if (marker < earliest_marker) return std::string();
  // The length field must lie wholly before the end of the trimmed span.
  const std::optional<uint32_t> length = ReadLe32(span.first(trimmed), uint64_t{marker} + 8);
  if (!length) return std::string();
  const uint64_t value_start = uint64_t{marker} + 12;
  if (value_start + *length != trimmed) return std::string();
  if (*length < 1 || *length > kMaxChannelInfoLength) return std::string();
  const std::string_view value = bytes.substr(value_start, *length);
  if (!IsValidChannelInfo(value)) return std::string();
  if (place) *place = {RecordForm::kTrailer, marker};
  return std::string(value);
}

// The first opening tag, the name followed by a colon, at or after `from`.
size_t FindOpeningTag(std::string_view bytes, size_t from) {
  for (size_t name = bytes.find(kTagName, from); name != std::string_view::npos;
       name = bytes.find(kTagName, name + 1)) {
    if (name + kTagName.size() < bytes.size() && bytes[name + kTagName.size()] == ':') return name;
  }
  return std::string_view::npos;
}

// The first closing tag, a colon followed by the name, starting at or after `from`.
size_t FindClosingTag(std::string_view bytes, size_t from) {
  for (size_t name = bytes.find(kTagName, from + 1); name != std::string_view::npos;
       name = bytes.find(kTagName, name + 1)) {
    if (bytes[name - 1] == ':') return name - 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string FindChannelInfoTrailer(ByteSpan span, RecordPlace* place) {
  return FindTrailerFrom(span, 0, place);
}

std::string FindChannelInfoTrailerAfterDer(ByteSpan span, RecordPlace* place) {
  const std::optional<DerElement> signature = ReadDerElement(span);  // the tag is not examined
  if (!signature) return std::string();
  return FindTrailerFrom(span, signature->length, place);
}

MalformedRecordLog::~MalformedRecordLog() {
  if (count_ > kMaxMalformedWarnings) {
    LOG_AT(kAttributionLog, 328, WARNING)
        << "[InstallAttribution] Ignoring " << count_ - kMaxMalformedWarnings
        << " more malformed CHANNEL_INFO";
  }
}

void MalformedRecordLog::Skipped(uint64_t length) {
  if (++count_ <= kMaxMalformedWarnings) {
    LOG_AT(kAttributionLog, 327, WARNING) << "[InstallAttribution] Ignoring malformed CHANNEL_INFO"
                                          << " (len=" << length << ")";
  }
}

std::string FindChannelInfoDelimited(ByteSpan span, MalformedRecordLog& malformed,
                                     RecordPlace* place) {
  const std::string_view bytes = AsText(span);
  std::string result;
  size_t p = 0;
  while (bytes.size() - p >= kTagLength) {
    const size_t start = FindOpeningTag(bytes, p);
    if (start == std::string_view::npos) break;
    const size_t value_start = start + kTagLength;
    // Without a closing tag here, no later opening tag can have one either.
    const size_t end = FindClosingTag(bytes, value_start);
    if (end == std::string_view::npos) break;
    const std::string_view candidate = bytes.substr(value_start, end - value_start);
    if (IsValidChannelInfo(candidate)) {
      result.assign(candidate);
      if (place) *place = {RecordForm::kDelimited, start};
    } else {
      malformed.Skipped(candidate.size());
    }
    p = end + kTagLength;
  }
  return result;
}

std::string FindChannelInfoDelimited(ByteSpan span) {
  MalformedRecordLog malformed;
  return FindChannelInfoDelimited(span, malformed);
}

}  // namespace installer
