// Stamping a CHANNEL_INFO record into a signed launcher, the way that keeps
// its Authenticode signature valid: inside the last WIN_CERTIFICATE entry,
// right after its PKCS#7 DER element, zero-padded to a multiple of 8, with
// both the entry's dwLength and DataDirectory[4].Size grown to match. The
// signature's hash covers neither the certificate table nor that directory
// entry (nor the checksum), so nothing it covers changes.
//
// A stamp is laid out first (StampEdit), from the headers and the table
// alone: a launcher of any size is stamped without being read whole. The
// layout can then be read as the stamped file would be, before anything is
// written, to run the launcher's own search over it.
#ifndef TOOLS_MIR_ATTRIBUTION_STAMP_H_
#define TOOLS_MIR_ATTRIBUTION_STAMP_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mir_installer_win/installer/attribution_slot.h"
#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/byte_source.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/channel_info_search.h"
#include "mir_installer_win/installer/signed_image.h"

namespace mir_attribution {

using installer::RecordForm;

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

// Lays out writing `record` (installer::EncodeRecord's, or a slot's zeros)
// after the signature in the last entry of `image`'s certificate table. A
// record already there is replaced. Refuses, with the reason, an image whose
// last entry is not an Authenticode signature (installer::FindSignatureEntry).
bool LayOutStamp(const installer::SignedImage& image, const std::string& record, StampEdit& edit,
                 std::string& error);

// Lays out filling the slot of a reserved base with the record for `value`;
// false with the reason when installer::FillAttributionSlot refuses it.
bool LayOutSlotFill(const installer::AttributionSlot& slot, std::string_view value, RecordForm form,
                    StampEdit& edit, std::string& error);

// The file as `edit` makes it, read from the file as it is (`source`); both
// must outlive it.
class StampedSource final : public installer::ByteSource {
 public:
  StampedSource(const StampEdit& edit, installer::ByteSource& source)
      : edit_(edit), source_(source) {}
  bool Size(uint64_t& size, uint32_t& error) override;
  bool ReadAt(uint64_t offset, installer::MutableByteSpan into, uint32_t& error) override;

 private:
  const StampEdit& edit_;
  installer::ByteSource& source_;
};

// What the launcher's own search finds in the file as `edit` makes it, read
// from the file as it is (`source`); `place`, if any, says where.
std::string LauncherReads(const StampEdit& edit, installer::ByteSource& source,
                          installer::RecordPlace* place = nullptr);

// Where the launcher finds a record in `image` (or a stamp of it), for
// messages: "a delimited record at offset 1536, inside section .rdata".
std::string DescribeRecordPlace(const installer::RecordPlace& place,
                                const installer::SignedImage& image);

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
