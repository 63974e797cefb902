// The stamping tool against the launcher's own search: any value bytes, in
// either form, stamped into a signed image of varied layout, are either
// refused or found again, exactly, by the launcher's locator in the stamped
// file. A copy and a stamp in place must come out the same, and filling a
// base's slot must change only the slot.
//
// Input: four bytes of choices, then the value.
//   0: bit 0 the delimited form; bit 1 a table past the tail window; bit 2 a
//      record stamped already; bit 3 a base (a reserved slot)
//   1: the table's position after the headers, in units of 8 bytes
//   2: bits 0-1 the number of entries before the signature; bits 2-7 their
//      content length
//   3: the length of the signature's DER content (long form from 128)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "logging/logging.h"
#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/attribution_slot.h"
#include "mir_installer_win/installer/channel_info.h"
#include "testing/synthetic_pe_image.h"
#include "tools/mir_attribution/stamp.h"

namespace {

using mir_attribution::RecordForm;
using mir_attribution::StampEdit;

// The synthetic image's headers, then a certificate table at `table_at`:
// `entries` entries of `content` bytes, then a signature of `der` bytes.
std::vector<uint8_t> SignedImage(uint32_t table_at, int entries, uint32_t content, uint32_t der) {
  test_support::SyntheticImage image = test_support::BaseSyntheticImage();
  image.PadTo(table_at);
  for (int i = 0; i < entries; ++i) {
    const size_t at = image.bytes.size();
    image.Put32(at, 8 + content);
    image.Put16(at + 4, 0x0200);
    image.Put16(at + 6, 0x0002);
    image.Append(std::string(content, 'e')).PadTo(installer::AlignTo8(image.bytes.size()));
  }
  const size_t at = image.bytes.size();
  std::string signature = "\x30";
  if (der >= 128) signature += '\x81';
  signature += static_cast<char>(der);
  signature += std::string(der, 's');
  image.Put32(at, static_cast<uint32_t>(8 + signature.size()));
  image.Put16(at + 4, 0x0200);
  image.Put16(at + 6, 0x0002);
  image.Append(signature).PadTo(installer::AlignTo8(image.bytes.size()));
  image.Put32(0x128, table_at);
  image.Put32(0x12C, static_cast<uint32_t>(image.bytes.size() - table_at));
  return image.bytes;
}

// Applies `edit` both ways; the two results must agree.
std::vector<uint8_t> Apply(const std::vector<uint8_t>& image, const StampEdit& edit) {
  std::vector<uint8_t> copy(edit.stamped_size());
  installer::MemorySource source(image);
  uint32_t error = 0;
  if (!mir_attribution::StampedSource(edit, source).ReadAt(0, copy, error)) abort();
  std::vector<uint8_t> from_copy_writes(image.begin(),
                                        image.begin() + static_cast<ptrdiff_t>(edit.table_offset));
  std::vector<uint8_t> in_place = image;
  for (auto* target : {&from_copy_writes, &in_place}) {
    for (const StampEdit::Write& write :
         target == &in_place ? edit.InPlaceWrites() : edit.CopyWrites()) {
      if (target->size() < write.offset + write.bytes.size()) {
        target->resize(write.offset + write.bytes.size());
      }
      std::copy(write.bytes.begin(), write.bytes.end(),
                target->begin() + static_cast<ptrdiff_t>(write.offset));
    }
    target->resize(edit.stamped_size());
    if (*target != copy) abort();
  }
  return copy;
}

// Stamps `value` into `image` the way the tool does; false when it would
// refuse.
bool Stamp(std::vector<uint8_t>& image, const std::string& value, RecordForm form) {
  std::string record, error;
  installer::SignedImage signed_image;
  if (!installer::EncodeRecord(value, form, record, error) ||
      !test_support::ReadSignedImageOf(image, signed_image, error)) {
    return false;
  }
  StampEdit edit;
  installer::AttributionSlot slot;
  const bool base = installer::FindAttributionSlot(signed_image, slot, error);
  if (base ? !mir_attribution::LayOutSlotFill(slot, value, form, edit, error)
           : !mir_attribution::LayOutStamp(signed_image, record, edit, error)) {
    return false;
  }
  std::vector<uint8_t> stamped = Apply(image, edit);
  // A base keeps its size and headers: only its slot changes.
  if (base && (stamped.size() != image.size() ||
               !std::equal(image.begin(), image.begin() + static_cast<ptrdiff_t>(slot.offset),
                           stamped.begin()))) {
    abort();
  }
  // The tool writes only what the launcher reads back exactly.
  if (installer::FindAttributionInFile(std::make_unique<installer::MemorySource>(stamped)) != value)
    return false;
  image = std::move(stamped);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  if (size < 4) return 0;
  const RecordForm form = data[0] & 1 ? RecordForm::kDelimited : RecordForm::kTrailer;
  const uint32_t table_at = (data[0] & 2 ? 0x180000 : 0x200) + 8u * data[1];
  std::vector<uint8_t> image = SignedImage(table_at, data[2] & 3, data[2] >> 2, data[3]);
  if (data[0] & 8) {
    StampEdit edit;
    std::string error;
    installer::SignedImage signed_image;
    if (!test_support::ReadSignedImageOf(image, signed_image, error) ||
        !mir_attribution::LayOutStamp(
            signed_image, std::string(installer::kAttributionSlotSize, '\0'), edit, error)) {
      abort();
    }
    image = Apply(image, edit);
  }
  if (data[0] & 4 && !Stamp(image, "an earlier record", RecordForm::kDelimited)) abort();
  const std::string value(reinterpret_cast<const char*>(data) + 4, size - 4);
  if (!Stamp(image, value, form)) return 0;
  // Whatever was accepted is in the file, once, as the launcher stores it.
  if (!installer::IsValidChannelInfo(value)) abort();
  if (installer::FindAttributionInFile(std::make_unique<installer::MemorySource>(image)) != value)
    abort();
  return 0;
}
