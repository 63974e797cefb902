// The one reader of a PE attribute certificate table: a walk over its
// WIN_CERTIFICATE entries that the launcher's search and the stamping tool
// share, so that both agree on where each entry lies and on where a table
// stops making sense.
//
//   CertificateTableWalk walk(image.subspan(cert_rva), cert_size);
//   CertificateEntry entry;
//   while (walk.Next(entry)) Search(entry.content);
//   if (walk.stop() != CertificateWalkStop::kEnd) ... DescribeCertificateWalkStop(walk.stop())
#ifndef MIR_INSTALLER_WIN_INSTALLER_CERTIFICATE_TABLE_H_
#define MIR_INSTALLER_WIN_INSTALLER_CERTIFICATE_TABLE_H_

#include <cstdint>

#include "mir_installer_win/installer/binary_format.h"

namespace installer {

// A WIN_CERTIFICATE entry: dwLength, wRevision, wCertificateType, then the
// certificate; entries follow each other at 8-byte alignment.
inline constexpr uint64_t kCertificateEntryHeaderSize = 8;
inline constexpr uint64_t kCertificateRevisionField = 4;
inline constexpr uint64_t kCertificateTypeField = 6;
inline constexpr uint16_t kCertificateRevision2 = 0x0200;      // WIN_CERT_REVISION_2_0
inline constexpr uint16_t kCertificateTypePkcsSignedData = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA

struct CertificateEntry {
  uint64_t offset = 0;          // from the start of the table
  uint32_t length = 0;          // dwLength, header included
  uint64_t aligned_length = 0;  // dwLength rounded up to 8: where the next entry starts
  uint16_t revision = 0;
  uint16_t type = 0;
  ByteSpan content;  // the dwLength - 8 bytes after the header
};

// Why a walk ended, in the order the checks are made for each entry.
enum class CertificateWalkStop {
  kNone,            // the walk goes on
  kEnd,             // the entries reached the end of the table
  kHeaderOutside,   // fewer than 8 bytes of data where the next entry starts
  kLengthTooSmall,  // dwLength below 8
  kPastTable,       // dwLength, rounded up to 8, runs past the end of the table
  kPastData,        // the entry runs past the end of the data
};
// What the stop is about, for messages.
const char* DescribeCertificateWalkStop(CertificateWalkStop stop);

// A walk over the entries of a table of `table_size` bytes whose bytes, as
// far as they are held, are `data` (which may be shorter: a table may claim
// more than the file holds). Offsets are 64-bit; every read is bounds-checked.
class CertificateTableWalk {
 public:
  CertificateTableWalk(ByteSpan data, uint64_t table_size) : data_(data), table_size_(table_size) {}

  // The next entry, or false once the walk has stopped.
  bool Next(CertificateEntry& entry);

  CertificateWalkStop stop() const { return stop_; }
  // When stopped at a bad entry, that entry's offset, length and aligned
  // length as far as they were read (its content stays empty).
  const CertificateEntry& stopped_at() const { return stopped_at_; }
  // The table's bytes left from the entry the walk is at.
  uint64_t remaining() const { return table_size_ - offset_; }

 private:
  bool Stop(CertificateWalkStop stop);

  ByteSpan data_;
  uint64_t table_size_;
  uint64_t offset_ = 0;
  CertificateWalkStop stop_ = CertificateWalkStop::kNone;
  CertificateEntry stopped_at_;
};

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_CERTIFICATE_TABLE_H_
