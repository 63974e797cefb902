#include "tools/mir_attribution/stamp.h"

#include <algorithm>
#include <array>

#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/certificate_table.h"

namespace mir_attribution {
namespace {

// Puts the little-endian `value` over the bytes of [start, start + into.size())
// that fall on [offset, offset + 4).
void Overlay(uint64_t start, installer::MutableByteSpan into, uint64_t offset, uint32_t value) {
  std::array<uint8_t, 4> field;
  installer::WriteLe32(field, 0, value);
  for (uint64_t i = 0; i < field.size(); ++i) {
    if (offset + i >= start && offset + i - start < into.size()) {
      into[offset + i - start] = field[i];
    }
  }
}

std::vector<uint8_t> BytesOf(uint32_t value) {
  std::vector<uint8_t> bytes(4);
  installer::WriteLe32(bytes, 0, value);
  return bytes;
}

}  // namespace

std::vector<StampEdit::Write> StampEdit::InPlaceWrites() const {
  if (slot_fill) return {{table_offset, table}};
  const uint64_t content = entry_offset + installer::kCertificateEntryHeaderSize;
  std::vector<Write> writes = {
      {table_offset + content,
       std::vector<uint8_t>(table.begin() + static_cast<ptrdiff_t>(content), table.end())},
      {table_offset + entry_offset, BytesOf(*installer::ReadLe32(table, entry_offset))},
      {directory_size_offset, BytesOf(directory_size)},
  };
  if (checksum) writes.push_back({checksum_offset, BytesOf(*checksum)});
  return writes;
}

std::vector<StampEdit::Write> StampEdit::CopyWrites() const {
  std::vector<Write> writes = {{table_offset, table}};
  if (!slot_fill) writes.push_back({directory_size_offset, BytesOf(directory_size)});
  if (checksum) writes.push_back({checksum_offset, BytesOf(*checksum)});
  return writes;
}

bool LayOutSlotFill(const installer::AttributionSlot& slot, std::string_view value, RecordForm form,
                    StampEdit& edit, std::string& error) {
  edit = StampEdit();
  edit.table.resize(slot.size);
  if (!installer::FillAttributionSlot(value, form, edit.table, error)) return false;
  edit.table_offset = slot.offset;
  edit.slot_fill = true;
  return true;
}

bool LayOutStamp(const installer::SignedImage& image, const std::string& record, StampEdit& edit,
                 std::string& error) {
  const std::vector<uint8_t>& table = image.table;
  installer::SignatureEntry last;
  if (!installer::FindSignatureEntry(table, last, error)) return false;
  // Header, signature, record, zeros: whatever followed the signature (an
  // earlier record) is replaced.
  const uint64_t kept = last.signature_end;
  const uint64_t signature_length = kept - last.offset - installer::kCertificateEntryHeaderSize;
  const uint64_t entry_length = installer::AlignTo8(installer::kCertificateEntryHeaderSize +
                                                    signature_length + record.size());
  const uint64_t new_table_size = last.offset + entry_length;
  if (new_table_size > 0xFFFFFFFFu) {
    error = "the certificate table would grow past 4 GiB";
    return false;
  }
  edit.table_offset = image.layout.directory.cert_rva;
  edit.table.assign(table.begin(), table.begin() + static_cast<ptrdiff_t>(kept));
  edit.table.insert(edit.table.end(), record.begin(), record.end());
  edit.table.resize(new_table_size, 0);
  installer::WriteLe32(edit.table, last.offset, static_cast<uint32_t>(entry_length));
  edit.entry_offset = last.offset;
  edit.directory_size_offset = image.layout.certificate_size_offset();
  edit.directory_size = static_cast<uint32_t>(new_table_size);
  edit.checksum_offset = image.layout.checksum_offset;
  edit.checksum.reset();
  return true;
}

bool StampedSource::Size(uint64_t& size, uint32_t&) {
  size = edit_.stamped_size();
  return true;
}

bool StampedSource::ReadAt(uint64_t offset, installer::MutableByteSpan into, uint32_t& error) {
  const StampEdit& edit = edit_;
  if (offset > edit.stamped_size() || into.size() > edit.stamped_size() - offset) {
    error = installer::kReadPastEnd;
    return false;
  }
  const uint64_t end = offset + into.size();
  if (offset < edit.table_offset) {
    const installer::MutableByteSpan head = into.first(std::min(end, edit.table_offset) - offset);
    if (!source_.ReadAt(offset, head, error)) return false;
    if (!edit.slot_fill) Overlay(offset, head, edit.directory_size_offset, edit.directory_size);
    if (edit.checksum) Overlay(offset, head, edit.checksum_offset, *edit.checksum);
  }
  if (end > edit.table_offset) {
    const uint64_t from = std::max(offset, edit.table_offset);
    std::copy(edit.table.begin() + static_cast<ptrdiff_t>(from - edit.table_offset),
              edit.table.begin() + static_cast<ptrdiff_t>(end - edit.table_offset),
              into.begin() + static_cast<ptrdiff_t>(from - offset));
  }
  return true;
}

std::string LauncherReads(const StampEdit& edit, installer::ByteSource& source,
                          installer::RecordPlace* place) {
  return installer::FindAttributionInFile(std::make_unique<StampedSource>(edit, source), place);
}

std::string DescribeRecordPlace(const installer::RecordPlace& place,
                                const installer::SignedImage& image) {
  return std::string(place.form == RecordForm::kTrailer ? "a trailer" : "a delimited") +
         " record at offset " + std::to_string(place.offset) + ", " +
         installer::DescribeFileOffset(image, place.offset);
}

void PeChecksum::Add(installer::ByteSpan bytes) {
  for (uint8_t byte : bytes) {
    const uint64_t at = position_++;
    const bool in_checksum = at >= checksum_offset_ && at < checksum_offset_ + 4;
    const uint8_t value = in_checksum ? 0 : byte;
    if (pending_ < 0) {
      pending_ = value;
      continue;
    }
    const std::array<uint8_t, 2> word = {static_cast<uint8_t>(pending_), value};
    sum_ += *installer::ReadLe16(word, 0);
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    pending_ = -1;
  }
}

uint32_t PeChecksum::Finish() const {
  uint64_t sum = sum_;
  if (pending_ >= 0) sum += static_cast<uint64_t>(pending_);  // an odd last byte
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + position_);
}

}  // namespace mir_attribution
