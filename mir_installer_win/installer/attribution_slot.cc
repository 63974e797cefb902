#include "mir_installer_win/installer/attribution_slot.h"

#include <algorithm>

#include "absl/strings/str_format.h"

namespace installer {
namespace {

constexpr uint64_t kTrailerHeadSize = 12;  // marker and length
static_assert(kAttributionSlotSize == (kTrailerHeadSize + kMaxChannelInfoLength + 7) / 8 * 8);

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

bool IsZero(uint8_t byte) { return byte == 0; }

}  // namespace

bool FindAttributionSlot(const SignedImage& image, AttributionSlot& slot, std::string& error,
                         const UncoveredBytesSink& uncovered_bytes) {
  const std::vector<uint8_t>& table = image.table;
  SignatureEntry entry;
  if (!FindSignatureEntry(table, entry, error)) return false;
  // The slot is the end of the last entry, which ends the table; only zeros
  // lie between the signature and the slot.
  const ByteSpan after = ByteSpan(table).subspan(entry.signature_end);
  if (entry.offset + entry.length != table.size() || after.size() < kAttributionSlotSize ||
      !std::all_of(after.begin(), after.end() - kAttributionSlotSize, IsZero)) {
    return Fail(error, "the file has no attribution slot (it is not a reserved base)");
  }
  slot.file_size = image.file_size;
  slot.offset = image.file_size - kAttributionSlotSize;
  slot.size = kAttributionSlotSize;
  slot.empty = std::all_of(after.end() - kAttributionSlotSize, after.end(), IsZero);
  if (uncovered_bytes) {
    const ByteSpan headers(image.headers);
    const PeLayout& layout = image.layout;
    uncovered_bytes(layout.checksum_offset, headers.subspan(layout.checksum_offset, kChecksumSize));
    uncovered_bytes(layout.certificate_entry_offset,
                    headers.subspan(layout.certificate_entry_offset, kDirectoryEntrySize));
    uncovered_bytes(layout.directory.cert_rva,
                    ByteSpan(table).first(table.size() - kAttributionSlotSize));
  }
  return true;
}

bool EncodeRecord(std::string_view value, RecordForm form, std::string& record,
                  std::string& error) {
  error = ChannelInfoProblem(value);
  if (!error.empty()) return false;
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

bool FillAttributionSlot(std::string_view value, RecordForm form, MutableByteSpan slot_bytes,
                         std::string& error) {
  std::string record;
  if (!EncodeRecord(value, form, record, error)) return false;
  if (record.size() > slot_bytes.size()) {
    return Fail(error, absl::StrFormat("the record is %u bytes; the slot holds %u", record.size(),
                                       slot_bytes.size()));
  }
  std::fill(std::copy(record.begin(), record.end(), slot_bytes.begin()), slot_bytes.end(),
            uint8_t{0});
  return true;
}

}  // namespace installer
