// The stamping tool against the launcher's own search: any value bytes, in
// either form, stamped into a small signed image (or a large one, or one
// stamped before), are either refused or found again, exactly, by the
// launcher's locator in the stamped file. A copy and a stamp in place must
// come out the same.
//
// Input: one byte of choices (bit 0: the delimited form; bit 1: a file larger
// than the tail window; bit 2: a record stamped already), then the value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "logging/logging.h"
#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/channel_info.h"
#include "testing/synthetic_pe_image.h"
#include "tools/mir_attribution/stamp.h"

namespace {

using test_support::BaseSyntheticImage;
using test_support::SyntheticImage;

// The synthetic image with its certificate table moved to `table_at`.
std::vector<uint8_t> SignedImage(uint32_t table_at) {
  SyntheticImage image = BaseSyntheticImage();
  const std::vector<uint8_t> table(image.bytes.begin() + 0x200, image.bytes.end());
  image.PadTo(table_at);
  image.Put32(0x128, table_at);
  image.bytes.insert(image.bytes.end(), table.begin(), table.end());
  return image.bytes;
}

// Stamps `value` into `image` both ways; false when the tool would refuse.
bool Stamp(std::vector<uint8_t>& image, const std::string& value,
           mir_attribution::RecordForm form) {
  std::string record, error;
  if (!mir_attribution::EncodeRecord(value, form, record, error)) return false;
  const uint64_t table_offset = *installer::ReadLe32(image, 0x128);
  const installer::ByteSpan table = installer::ByteSpan(image).subspan(table_offset);
  mir_attribution::StampEdit edit;
  if (!mir_attribution::PlanStamp(image, image.size(), table, record, edit, error)) return false;
  const auto read_source = [&image](uint64_t offset, installer::MutableByteSpan into) {
    if (!installer::Contains(image, offset, into.size())) return false;
    std::copy_n(image.begin() + static_cast<ptrdiff_t>(offset), into.size(), into.begin());
    return true;
  };
  std::vector<uint8_t> copy(edit.stamped_size());
  if (!edit.ReadStamped(0, copy, read_source)) abort();
  std::vector<uint8_t> in_place = image;
  for (const mir_attribution::StampEdit::Write& write : edit.InPlaceWrites()) {
    if (in_place.size() < write.offset + write.bytes.size()) {
      in_place.resize(write.offset + write.bytes.size());
    }
    std::copy(write.bytes.begin(), write.bytes.end(),
              in_place.begin() + static_cast<ptrdiff_t>(write.offset));
  }
  in_place.resize(edit.stamped_size());
  if (in_place != copy) abort();
  // The tool writes only what the launcher reads back exactly.
  installer::ReadAtAttributionFile stamped = installer::MemoryAttributionFile(copy);
  if (installer::FindAttributionInFile(stamped) != value) return false;
  image = std::move(copy);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = logging::ConfigureLogging(logging::LogSettings());  // no log file
  (void)quiet;
  if (size == 0) return 0;
  const uint8_t choices = data[0];
  const mir_attribution::RecordForm form =
      choices & 1 ? mir_attribution::RecordForm::kDelimited : mir_attribution::RecordForm::kTrailer;
  std::vector<uint8_t> image = SignedImage(choices & 2 ? 0x180000 : 0x200);
  if (choices & 4 && !Stamp(image, "an earlier record", mir_attribution::RecordForm::kDelimited))
    abort();
  const std::string value(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (!Stamp(image, value, form)) return 0;
  // Whatever was accepted is in the file, once, as the launcher stores it.
  if (!installer::IsValidChannelInfo(value)) abort();
  installer::ReadAtAttributionFile stamped = installer::MemoryAttributionFile(image);
  if (installer::FindAttributionInFile(stamped) != value) abort();
  return 0;
}
