// Stamping a CHANNEL_INFO record into a signed launcher, the way that keeps
// its Authenticode signature valid: inside the last WIN_CERTIFICATE entry,
// right after its PKCS#7 DER element, zero-padded to a multiple of 8, with
// both the entry's dwLength and DataDirectory[4].Size grown to match. The
// signature's hash covers neither the certificate table nor that directory
// entry (nor the checksum), so nothing it covers changes.
//
// Only the headers and the certificate table are read and rewritten, so a
// launcher of any size is stamped in place by rewriting its tail.
#ifndef TOOLS_MIR_ATTRIBUTION_STAMP_H_
#define TOOLS_MIR_ATTRIBUTION_STAMP_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mir_installer_win/installer/channel_info.h"

enum class RecordForm { kTrailer, kDelimited };

// The record's bytes, or an error text when `value` cannot be carried in `form`.
bool EncodeRecord(std::string_view value, RecordForm form, std::string& record,
                  std::string& error);

// What to write back: the file is cut at `table_offset` and `table` follows;
// `directory_size` goes into DataDirectory[4].Size at `directory_size_offset`.
struct StampEdit {
  uint64_t table_offset = 0;
  std::vector<uint8_t> table;
  uint64_t directory_size_offset = 0;
  uint32_t directory_size = 0;
  uint64_t checksum_offset = 0;
};

// Plans the stamp from the file's first bytes (`headers`, at least up to the
// end of the optional header), its size and its certificate table (the
// bytes from DataDirectory[4].VirtualAddress to the end). A record already
// in the last entry is replaced. Returns false with an error text when the
// file is not a PE image, has no certificate table, or the table does not
// end the file.
bool PlanStamp(ByteSpan headers, uint64_t file_size, ByteSpan table, const std::string& record,
               StampEdit& edit, std::string& error);

// Where the certificate table starts, from the headers; false with an error.
bool CertificateTableOffset(ByteSpan headers, uint64_t file_size, uint64_t& offset,
                            std::string& error);

// The PE checksum of a whole image whose checksum field is at `checksum_offset`.
class PeChecksum {
 public:
  explicit PeChecksum(uint64_t checksum_offset) : checksum_offset_(checksum_offset) {}
  // Feeds the next bytes of the image, in order.
  void Add(ByteSpan bytes);
  uint32_t Finish() const;

 private:
  uint64_t checksum_offset_;
  uint64_t position_ = 0;
  uint64_t sum_ = 0;
  int pending_ = -1;  // the low byte of a word split across two calls
};

#endif  // TOOLS_MIR_ATTRIBUTION_STAMP_H_
