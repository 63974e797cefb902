// Stamping a CHANNEL_INFO record into a signed launcher, the way that keeps
// its Authenticode signature valid: inside the last WIN_CERTIFICATE entry,
// right after its PKCS#7 DER element, zero-padded to a multiple of 8, with
// both the entry's dwLength and DataDirectory[4].Size grown to match. The
// signature's hash covers neither the certificate table nor that directory
// entry (nor the checksum), so nothing it covers changes.
//
// A stamp is planned first (StampEdit), from the headers and the table
// alone: a launcher of any size is stamped without being read whole. The
// plan can then be read as the stamped file would be, before anything is
// written, to run the launcher's own search over it.
#ifndef TOOLS_MIR_ATTRIBUTION_STAMP_H_
#define TOOLS_MIR_ATTRIBUTION_STAMP_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mir_installer_win/installer/attribution_file.h"
#include "mir_installer_win/installer/attribution_slot.h"
#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/pe_image.h"

namespace mir_attribution {

using installer::ChannelInfoProblem;
using installer::RecordForm;

// The record's bytes for `value` in `form`, as an attribution slot holds
// them; false with the reason when the slot would refuse the value.
bool EncodeRecord(std::string_view value, RecordForm form, std::string& record, std::string& error);

// What stamping changes: the file is cut at `table_offset` and `table`
// follows, DataDirectory[4].Size becomes `directory_size`, and the checksum
// is rewritten when one is given.
struct StampEdit {
  uint64_t table_offset = 0;
  std::vector<uint8_t> table;  // the whole new certificate table
  uint64_t entry_offset = 0;   // in `table`: the last entry, the one that carries the record
  uint64_t directory_size_offset = 0;
  uint32_t directory_size = 0;
  uint64_t checksum_offset = 0;
  std::optional<uint32_t> checksum;
  // A base's slot filled: `table` is the slot's new bytes and nothing else
  // changes, no length and no checksum.
  bool slot_fill = false;

  uint64_t stamped_size() const { return table_offset + table.size(); }

  // Fills `into` with the stamped file's bytes from `offset`; `read_source`
  // gives the bytes of the file as it is. False when a read fails or the
  // range runs past the end.
  bool ReadStamped(uint64_t offset, installer::MutableByteSpan into,
                   const installer::ReadAtAttributionFile::ReadAt& read_source) const;

  // The writes that turn the file into the stamped one where it lies, in
  // order: the record first, the two length fields (and the checksum) last,
  // so that an interrupted stamp leaves the old lengths in place. The file
  // is then cut to stamped_size().
  struct Write {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  std::vector<Write> InPlaceWrites() const;
  // The writes that turn a copy of the file's first table_offset bytes into
  // the stamped file.
  std::vector<Write> CopyWrites() const;
};

// Plans the stamp from the file's first bytes (`headers`, at least up to the
// end of the optional header), its size and its certificate table (the
// bytes from DataDirectory[4].VirtualAddress to the end). A record already in
// the last entry is replaced. Refuses, with the reason, a file whose last
// entry is not an Authenticode signature (revision 2.0, PKCS#7 signed data,
// a DER SEQUENCE that fits the entry).
bool PlanStamp(installer::ByteSpan headers, uint64_t file_size, installer::ByteSpan table,
               const std::string& record, StampEdit& edit, std::string& error);

// Plans filling the slot of a reserved base with the record for `value`;
// false with the reason when installer::FillAttributionSlot refuses it.
bool PlanSlotFill(const installer::AttributionSlot& slot, std::string_view value, RecordForm form,
                  StampEdit& edit, std::string& error);

// The PE checksum of a whole image whose checksum field is at `checksum_offset`.
class PeChecksum {
 public:
  explicit PeChecksum(uint64_t checksum_offset) : checksum_offset_(checksum_offset) {}
  // Feeds the next bytes of the image, in order.
  void Add(installer::ByteSpan bytes);
  uint32_t Finish() const;

 private:
  uint64_t checksum_offset_;
  uint64_t position_ = 0;
  uint64_t sum_ = 0;
  int pending_ = -1;  // the low byte of a word split across two calls
};

}  // namespace mir_attribution

#endif  // TOOLS_MIR_ATTRIBUTION_STAMP_H_
