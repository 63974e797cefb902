// mir_attribution reserve: the base of a release, the signed launcher with
// an empty attribution slot that every stamp then fills.
#include "tools/mir_attribution/command.h"
#include "tools/mir_attribution/command_input.h"
#include "tools/mir_attribution/output_file.h"
#include "tools/mir_attribution/stamp.h"

namespace mir_attribution {
namespace {

int Reserve(std::span<const Argument> arguments) {
  CommandOptions options;
  if (const auto done = ParseCommandLine(kReserveCommand, arguments, {}, options)) return *done;
  if (options.operands.size() != 2) return UsageError("", &kReserveCommand);
  const std::filesystem::path& in = options.operands[0].path;
  const std::filesystem::path& out = options.operands[1].path;
  std::string error;
  InputFile input;
  installer::SignedImage image;
  if (!OpenSignedImage(in, input, image, error)) return Refuse(in, error);
  installer::AttributionSlot slot;
  if (installer::FindAttributionSlot(image, slot, error)) {
    return Refuse(in, "it is a base already: it has an attribution slot");
  }
  // The slot is a record of zeros: the entry grows by it, padded to 8.
  StampEdit edit;
  if (!LayOutStamp(image, std::string(installer::kAttributionSlotSize, '\0'), edit, error)) {
    return Refuse(in, error);
  }
  installer::RecordPlace place;
  if (!LauncherReads(edit, *input.file, &place).empty()) {
    return Refuse(
        in, "the launcher would find a value in the base: " + DescribeRecordPlace(place, image));
  }
  if (!WriteFileCopy(in, out, edit.table_offset, edit.CopyWrites(), edit.stamped_size(), error)) {
    return Refuse(out, error);
  }
  std::printf("reserved %s\n", out.string().c_str());
  return 0;
}

}  // namespace

extern const Command kReserveCommand = {
    "reserve",
    "mir_attribution reserve IN BASE\n",
    "  Writes BASE, the base of a release: the signed launcher IN with its last certificate\n"
    "  entry grown by an empty attribution slot of 4112 bytes that any record fits, with\n"
    "  the entry's length and the certificate directory's size final. The PE checksum is\n"
    "  left alone (the signature does not cover it). Stamping BASE then only fills the\n"
    "  slot: every stamped copy has BASE's length and headers. Refuses an unsigned or an\n"
    "  already reserved IN, and an IN in which the launcher would find a value (the\n"
    "  message says where the record lies: a payload may hold one). Exit status: 0\n"
    "  written, 1 refused or failed, 2 a usage error.\n",
    Reserve,
};

}  // namespace mir_attribution
