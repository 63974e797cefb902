// The attribution slot of a release's base: the signed launcher with its last
// WIN_CERTIFICATE entry grown, once, by 4,112 zero bytes at the very end of
// the file. Any record fits there, so every stamped copy of the base has the
// base's length and headers and differs from it only in those last bytes:
//
//   stamped = base[0, slot.offset) + FillAttributionSlot(value)
//
// The stamping tool and the download server both fill the slot through this
// one function, so both refuse exactly the values the launcher would not
// store. Nothing here logs: a server links it too.
#ifndef MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_SLOT_H_
#define MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_SLOT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/signed_image.h"

namespace installer {

// The 12-byte trailer head and the longest value, padded to 8: any trailer
// record fits.
inline constexpr uint64_t kAttributionSlotSize = 4112;

struct AttributionSlot {
  uint64_t file_size = 0;  // the base's (and every stamped copy's) size
  uint64_t offset = 0;     // = file_size - kAttributionSlotSize
  uint64_t size = kAttributionSlotSize;
  bool empty = true;  // only zeros: a base, not a stamped copy of one
};

// Takes, in file order, the bytes of a base that its signature does not
// cover, the slot aside: the PE checksum field, the certificate-table
// directory entry and the certificate table up to the slot, each with its
// file offset. The signature's signed digest covers every other byte, so
// these identify the whole base.
using UncoveredBytesSink = std::function<void(uint64_t file_offset, ByteSpan bytes)>;

// The slot of a reserved base; false with the reason when the image is not
// one (its last entry is no signature, or does not end in a slot with only
// zeros between the two). When the slot is found, `uncovered_bytes` (if any)
// has been given the bytes above.
bool FindAttributionSlot(const SignedImage& image, AttributionSlot& slot, std::string& error,
                         const UncoveredBytesSink& uncovered_bytes = nullptr);

// The record for `value` in `form`; false with the reason when the launcher
// would refuse the value (NUL bytes included: it stores the value as a
// string that ends at the first NUL) or when the form cannot carry it.
bool EncodeRecord(std::string_view value, RecordForm form, std::string& record, std::string& error);

// The slot's bytes for `value`: the record in `form`, then zeros. False with
// the reason when the launcher would refuse the value (NUL bytes included:
// it stores the value as a string that ends at the first NUL), when the form
// cannot carry it, or when the record does not fit.
bool FillAttributionSlot(std::string_view value, RecordForm form, MutableByteSpan slot_bytes,
                         std::string& error);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_SLOT_H_
