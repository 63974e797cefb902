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

#include "mir_installer_win/installer/attribution_file.h"
#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/pe_image.h"

namespace installer {

enum class RecordForm { kTrailer, kDelimited };

// The 12-byte trailer head and the longest value, padded to 8: any trailer
// record fits.
inline constexpr uint64_t kAttributionSlotSize = 4112;

// A real certificate table holds a few KiB of signatures; a larger one is
// refused before it is read.
inline constexpr uint64_t kMaxCertificateTableSize = 1048576;

struct AttributionSlot {
  uint64_t file_size = 0;  // the base's (and every stamped copy's) size
  uint64_t offset = 0;     // = file_size - kAttributionSlotSize
  uint64_t size = kAttributionSlotSize;
  bool empty = true;  // only zeros: a base, not a stamped copy of one
};

// The layout of a signed image from its first bytes (at least up to the end
// of its optional header) and its size. False with the reason when the file
// is larger than the launcher reads, is not a PE image, is unsigned, or its
// certificate table starts inside the headers, does not end the file or is
// larger than kMaxCertificateTableSize.
bool CheckSignedImage(ByteSpan headers, uint64_t file_size, PeLayout& layout, std::string& error);

// The last WIN_CERTIFICATE entry of `table` when it is an Authenticode
// signature (revision 2.0, PKCS#7 signed data, a DER SEQUENCE that fits the
// entry): its offset, length and where the signature ends, all from the
// table's start. False with the reason otherwise.
struct SignatureEntry {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t signature_end = 0;
};
bool FindSignatureEntry(ByteSpan table, SignatureEntry& entry, std::string& error);

// Takes, in file order, the bytes of a base that its signature does not
// cover, the slot aside: the PE checksum field, the certificate-table
// directory entry and the certificate table up to the slot. The signature's
// signed digest covers every other byte, so these identify the whole base.
using UncoveredBytesSink = std::function<void(ByteSpan)>;

// Reads the headers and the certificate table of a reserved base through
// `read_at` (size-capped before any allocation) and finds its slot; false
// with the reason (not PE, unsigned, not reserved, ...). When the slot is
// found, `uncovered_bytes` (if any) has been given the bytes above.
bool FindAttributionSlot(uint64_t file_size, const ReadAtAttributionFile::ReadAt& read_at,
                         AttributionSlot& slot, std::string& error,
                         const UncoveredBytesSink& uncovered_bytes = nullptr);

// The slot's bytes for `value`: the record in `form`, then zeros. False with
// the reason when the launcher would refuse the value (NUL bytes included:
// it stores the value as a string that ends at the first NUL), when the form
// cannot carry it, or when the record does not fit.
bool FillAttributionSlot(std::string_view value, RecordForm form, MutableByteSpan slot_bytes,
                         std::string& error);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_SLOT_H_
