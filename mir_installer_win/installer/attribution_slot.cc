#include "mir_installer_win/installer/attribution_slot.h"

#include <algorithm>
#include <vector>

#include "absl/strings/str_format.h"
#include "mir_installer_win/installer/certificate_table.h"
#include "mir_installer_win/installer/channel_info.h"

namespace installer {
namespace {

constexpr uint8_t kDerSequence = 0x30;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionCountField = 6;    // from e: NumberOfSections
constexpr uint64_t kSizeOfHeadersField = 60;  // from the optional header
constexpr uint64_t kMaxHeadersRead = 65536;   // e_lfanew and the optional header lie in here
constexpr uint64_t kTrailerHeadSize = 12;     // marker and length
static_assert(kAttributionSlotSize == (kTrailerHeadSize + kMaxChannelInfoLength + 7) / 8 * 8);

// Where the headers end: after the section table, or at SizeOfHeaders when
// that is later. CheckPeHeaders has read as far as the optional header.
uint64_t HeadersEnd(ByteSpan headers, const PeLayout& layout) {
  const uint64_t optional_header = layout.checksum_offset - kChecksumField;
  const uint64_t e = optional_header - kOptionalHeaderStart;
  const uint64_t sections = ReadLe16(headers, e + kSectionCountField).value_or(0);
  const uint64_t optional_size = ReadLe16(headers, e + kOptionalHeaderSizeField).value_or(0);
  const uint64_t section_table_end =
      optional_header + optional_size + kSectionHeaderSize * sections;
  return std::max<uint64_t>(section_table_end,
                            ReadLe32(headers, optional_header + kSizeOfHeadersField).value_or(0));
}

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

// The record for `value` in `form`; false with the reason when the form
// cannot carry the value.
bool BuildRecord(std::string_view value, RecordForm form, std::string& record, std::string& error) {
  if (form == RecordForm::kTrailer) {
    // The launcher examines only the last marker before the zeros.
    if (value.find(kTrailerMarker) != std::string_view::npos) {
      return Fail(error, "a trailer record cannot carry a value that holds \"" +
                             std::string(kTrailerMarker) + "\"");
    }
    record.assign(kTrailerMarker);
    AppendLe32(record, static_cast<uint32_t>(value.size()));
    record.append(value);
    return true;
  }
  const std::string closing = ":" + std::string(kTagName);
  if (value.find(closing) != std::string_view::npos) {
    return Fail(error, "a delimited record cannot carry a value that holds \"" + closing + "\"");
  }
  record = std::string(kTagName) + ":" + std::string(value) + closing;
  return true;
}

}  // namespace

bool CheckSignedImage(ByteSpan headers, uint64_t file_size, PeLayout& layout, std::string& error) {
  if (file_size > static_cast<uint64_t>(kMaxAttributionFileSize)) {
    return Fail(error, absl::StrFormat("the file is %u bytes; the launcher reads no file over %u",
                                       file_size, kMaxAttributionFileSize));
  }
  const PeHeaderCheck check = CheckPeHeaders(headers, layout);
  if (check != PeHeaderCheck::kPassed) {
    return Fail(error, std::string("not a PE image: ") + DescribePeHeaderCheck(check));
  }
  const uint64_t start = layout.directory.cert_rva;
  const uint64_t end = start + layout.directory.cert_size;
  if (start == 0 || layout.directory.cert_size == 0) {
    return Fail(error, "the image has no certificate table (is it signed?)");
  }
  if (start < HeadersEnd(headers, layout)) {
    return Fail(error,
                absl::StrFormat("the certificate table starts inside the headers (at %u)", start));
  }
  if (start >= file_size) {
    return Fail(error, absl::StrFormat("the certificate directory points past the end of the file "
                                       "(table at %u, file of %u bytes)",
                                       start, file_size));
  }
  if (end > file_size) {
    return Fail(error, absl::StrFormat("the certificate table is cut short: it should end at %u, "
                                       "the file ends at %u",
                                       end, file_size));
  }
  if (end != file_size) {
    return Fail(error, "the certificate table does not end the file (bytes follow it)");
  }
  if (layout.directory.cert_size > kMaxCertificateTableSize) {
    return Fail(error, absl::StrFormat("the certificate table is %u bytes; at most %u are read",
                                       layout.directory.cert_size, kMaxCertificateTableSize));
  }
  return true;
}

bool FindSignatureEntry(ByteSpan table, SignatureEntry& entry, std::string& error) {
  // The launcher's walk to the last entry, which must end exactly where the
  // table does.
  CertificateTableWalk walk(table, table.size());
  CertificateEntry last;
  for (CertificateEntry next; walk.Next(next);) last = next;
  if (walk.stop() != CertificateWalkStop::kEnd) {
    return Fail(error, std::string("the certificate table holds a malformed WIN_CERTIFICATE "
                                   "entry: ") +
                           DescribeCertificateWalkStop(walk.stop()));
  }
  const std::optional<DerElement> signature = ReadDerElement(last.content);
  if (last.revision != kCertificateRevision2 || last.type != kCertificateTypePkcsSignedData ||
      !signature || signature->tag != kDerSequence) {
    return Fail(error, "the last certificate entry is not an Authenticode signature");
  }
  entry.offset = last.offset;
  entry.length = last.length;
  entry.signature_end = last.offset + kCertificateEntryHeaderSize + signature->length;
  return true;
}

bool FindAttributionSlot(uint64_t file_size, const ReadAtAttributionFile::ReadAt& read_at,
                         AttributionSlot& slot, std::string& error,
                         const UncoveredBytesSink& uncovered_bytes) {
  // The size is checked before anything is read or allocated.
  PeLayout layout;
  std::vector<uint8_t> headers;
  if (file_size <= static_cast<uint64_t>(kMaxAttributionFileSize)) {
    headers.resize(std::min(file_size, kMaxHeadersRead));
    if (!read_at(0, headers)) return Fail(error, "cannot read its headers");
  }
  if (!CheckSignedImage(headers, file_size, layout, error)) return false;
  std::vector<uint8_t> table(layout.directory.cert_size);
  if (!read_at(layout.directory.cert_rva, table)) {
    return Fail(error, "cannot read its certificate table");
  }
  SignatureEntry entry;
  if (!FindSignatureEntry(table, entry, error)) return false;
  // The slot is the end of the last entry, which ends the table; only zeros
  // lie between the signature and the slot.
  const ByteSpan after = ByteSpan(table).subspan(entry.signature_end);
  if (entry.offset + entry.length != table.size() || after.size() < kAttributionSlotSize ||
      !std::all_of(after.begin(), after.end() - kAttributionSlotSize,
                   [](uint8_t byte) { return byte == 0; })) {
    return Fail(error, "the file has no attribution slot (it is not a reserved base)");
  }
  slot.file_size = file_size;
  slot.offset = file_size - kAttributionSlotSize;
  slot.size = kAttributionSlotSize;
  slot.empty = std::all_of(after.end() - kAttributionSlotSize, after.end(),
                           [](uint8_t byte) { return byte == 0; });
  if (uncovered_bytes) {
    uncovered_bytes(ByteSpan(headers).subspan(layout.checksum_offset, kChecksumSize));
    uncovered_bytes(
        ByteSpan(headers).subspan(layout.certificate_entry_offset, kDirectoryEntrySize));
    uncovered_bytes(ByteSpan(table).first(table.size() - kAttributionSlotSize));
  }
  return true;
}

bool FillAttributionSlot(std::string_view value, RecordForm form, MutableByteSpan slot_bytes,
                         std::string& error) {
  error = ChannelInfoProblem(value);
  if (!error.empty()) return false;
  std::string record;
  if (!BuildRecord(value, form, record, error)) return false;
  if (record.size() > slot_bytes.size()) {
    return Fail(error, absl::StrFormat("the record is %u bytes; the slot holds %u", record.size(),
                                       slot_bytes.size()));
  }
  std::fill(std::copy(record.begin(), record.end(), slot_bytes.begin()), slot_bytes.end(),
            uint8_t{0});
  return true;
}

}  // namespace installer
