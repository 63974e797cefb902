#include "tools/mir_attribution/stamp.h"

#include "mir_installer_win/installer/byte_reader.h"
#include "mir_installer_win/installer/pe_image.h"

namespace {

constexpr uint64_t kEntryHeader = 8;

void Put32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The length of the DER element at the start of `content` (header included).
bool DerElementLength(ByteSpan content, uint64_t& length) {
  if (content.size() < 2) return false;
  uint64_t header = 2;
  uint64_t body = content[1];
  if (content[1] >= 0x80) {
    const uint64_t count = content[1] & 0x7F;
    if (count < 1 || count > 4 || content.size() < 2 + count) return false;
    body = 0;
    for (uint64_t i = 0; i < count; ++i) body = body << 8 | content[2 + i];
    header += count;
  }
  length = header + body;
  return length <= content.size();
}

}  // namespace

bool EncodeRecord(std::string_view value, RecordForm form, std::string& record,
                  std::string& error) {
  if (!IsValidChannelInfo(value)) {
    error = "the value must be 1 to 4096 bytes of well-formed UTF-8 without noncharacters";
    return false;
  }
  if (form == RecordForm::kTrailer) {
    if (value.back() == '\0') {
      error = "a trailer record cannot carry a value whose last byte is 0x00";
      return false;
    }
    const uint32_t length = static_cast<uint32_t>(value.size());
    record.assign(kTrailerMarker);
    for (int i = 0; i < 4; ++i) record.push_back(static_cast<char>(length >> (8 * i)));
    record.append(value);
    return true;
  }
  const std::string closing = std::string(":") + std::string(kTagName);
  if (value.find(closing) != std::string_view::npos) {
    error = "a delimited record cannot carry a value that holds \"" + closing + "\"";
    return false;
  }
  record = std::string(kTagName) + ":" + std::string(value) + closing;
  return true;
}

bool CertificateTableOffset(ByteSpan headers, uint64_t file_size, uint64_t& offset,
                            std::string& error) {
  const std::optional<PeLayout> layout = ParsePeLayout(headers);
  if (!layout) {
    error = "not a PE image (or an unsupported optional header)";
    return false;
  }
  const CertificateDirectory& directory = layout->directory;
  if (directory.cert_rva == 0 || directory.cert_size == 0) {
    error = "the image has no certificate table (is it signed?)";
    return false;
  }
  if (uint64_t{directory.cert_rva} + directory.cert_size != file_size) {
    error = "the certificate table does not end the file (bytes follow it)";
    return false;
  }
  offset = directory.cert_rva;
  return true;
}

bool PlanStamp(ByteSpan headers, uint64_t file_size, ByteSpan table, const std::string& record,
               StampEdit& edit, std::string& error) {
  uint64_t table_offset = 0;
  if (!CertificateTableOffset(headers, file_size, table_offset, error)) return false;
  const PeLayout layout = *ParsePeLayout(headers);
  if (table.size() != file_size - table_offset) {
    error = "the certificate table was not read whole";
    return false;
  }
  // Walk to the last entry; each starts 8-byte aligned after the one before.
  const ByteReader reader(table);
  uint64_t last = 0;
  for (uint64_t offset = 0;;) {
    const std::optional<uint32_t> length = reader.U32(offset);
    if (!length || *length < kEntryHeader || !reader.Contains(offset, *length)) {
      error = "the certificate table holds a malformed WIN_CERTIFICATE entry";
      return false;
    }
    last = offset;
    offset += AlignTo8(*length);
    if (offset >= table.size()) break;
  }
  const uint32_t last_length = *reader.U32(last);
  uint64_t signature_length = 0;
  if (!DerElementLength(table.subspan(last + kEntryHeader, last_length - kEntryHeader),
                        signature_length)) {
    error = "the last certificate entry does not start with a DER element";
    return false;
  }
  // Header, signature, record, zeros: whatever followed the signature (an
  // earlier record) is replaced.
  const uint64_t entry_length = AlignTo8(kEntryHeader + signature_length + record.size());
  const uint64_t new_table_size = last + entry_length;
  if (new_table_size > 0xFFFFFFFFu) {
    error = "the certificate table would grow past 4 GiB";
    return false;
  }
  edit.table_offset = table_offset;
  edit.table.assign(table.begin(), table.begin() + last + kEntryHeader + signature_length);
  edit.table.insert(edit.table.end(), record.begin(), record.end());
  edit.table.resize(new_table_size, 0);
  Put32(edit.table, last, static_cast<uint32_t>(entry_length));
  edit.directory_size_offset = layout.certificate_entry_offset + 4;
  edit.directory_size = static_cast<uint32_t>(new_table_size);
  edit.checksum_offset = layout.checksum_offset;
  return true;
}

void PeChecksum::Add(ByteSpan bytes) {
  for (uint8_t byte : bytes) {
    const uint64_t at = position_++;
    const bool in_checksum = at >= checksum_offset_ && at < checksum_offset_ + 4;
    const uint8_t value = in_checksum ? 0 : byte;
    if (pending_ < 0) {
      pending_ = value;
      continue;
    }
    sum_ += static_cast<uint64_t>(pending_) | static_cast<uint64_t>(value) << 8;
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
