// mir_attribution stamp: a CHANNEL_INFO record written into a signed
// launcher, or into a base's slot, after the launcher's own search has read
// the stamped file back exactly.
#include "tools/mir_attribution/command.h"
#include "tools/mir_attribution/command_input.h"
#include "tools/mir_attribution/output_file.h"
#include "tools/mir_attribution/stamp.h"

namespace mir_attribution {
namespace {

namespace fs = std::filesystem;

struct StampOptions : CommandOptions {
  std::optional<Argument> value, value_file, form;
  bool fix_checksum = false, in_place = false;
};

// The PE checksum of the stamped file, read in chunks; nothing when a read
// fails.
std::optional<uint32_t> StampedChecksum(const StampEdit& edit, installer::ByteSource& source) {
  PeChecksum checksum(edit.checksum_offset);
  StampedSource stamped(edit, source);
  uint32_t error = 0;
  if (!installer::ReadInChunks(
          stamped, 0, edit.stamped_size(),
          [&checksum](installer::ByteSpan part) {
            checksum.Add(part);
            return true;
          },
          error)) {
    return std::nullopt;
  }
  return checksum.Finish();
}

// Applies the edit to `path` itself: the record first, the lengths last. On
// a failure the bytes it overwrote and its size are put back.
bool WriteInPlace(const StampEdit& edit, const fs::path& path, InputFile& input,
                  std::string& error) {
  const std::vector<StampEdit::Write> writes = edit.InPlaceWrites();
  std::vector<StampEdit::Write> saved;
  for (const StampEdit::Write& write : writes) {
    if (write.offset >= input.size) continue;
    saved.push_back({write.offset, std::vector<uint8_t>(std::min<uint64_t>(
                                       write.bytes.size(), input.size - write.offset))});
    uint32_t ignored = 0;
    if (!input.file->ReadAt(write.offset, saved.back().bytes, ignored)) {
      error = "cannot be read";
      return false;
    }
  }
  input.file.reset();  // closed before it is opened for writing
  switch (ApplyInPlace(path, writes, edit.stamped_size())) {
    case InPlaceWrite::kWritten:
      return true;
    case InPlaceWrite::kNotOpened:
      error = "cannot be opened for writing";
      return false;
    case InPlaceWrite::kNotWritten:
      break;
  }
  error = ApplyInPlace(path, saved, input.size) == InPlaceWrite::kWritten
              ? "cannot be written; it was put back as it was"
              : "cannot be written, nor put back as it was: it may no longer be signed";
  return false;
}

int Stamp(std::span<const Argument> arguments) {
  StampOptions options;
  if (const auto done = ParseCommandLine(kStampCommand, arguments,
                                         {{"value", &options.value},
                                          {"value-file", &options.value_file},
                                          {"form", &options.form},
                                          {"fix-checksum", &options.fix_checksum},
                                          {"in-place", &options.in_place}},
                                         options)) {
    return *done;
  }
  const size_t files = options.in_place ? 1 : 2;
  if (options.value.has_value() == options.value_file.has_value() ||
      options.operands.size() != files) {
    return UsageError("", &kStampCommand);
  }
  RecordForm form = RecordForm::kTrailer;
  if (options.form && options.form->bytes == "delimited") {
    form = RecordForm::kDelimited;
  } else if (options.form && options.form->bytes != "trailer") {
    return UsageError("unknown --form " + options.form->bytes + " (trailer or delimited)");
  }
  const fs::path& in = options.operands[0].path;
  std::string value, record, error;
  if (!ReadValue(options.value, options.value_file, value, error) ||
      !installer::EncodeRecord(value, form, record, error)) {
    return Refuse(in, error);
  }

  // Everything is read and checked before anything is written.
  InputFile input;
  installer::SignedImage image;
  if (!OpenSignedImage(in, input, image, error)) return Refuse(in, error);
  StampEdit edit;
  installer::AttributionSlot slot;
  std::string not_a_base;
  if (installer::FindAttributionSlot(image, slot, not_a_base)) {
    if (options.fix_checksum) {
      return Refuse(in, "a base's checksum is left alone: its stamped copies share its headers");
    }
    if (!LayOutSlotFill(slot, value, form, edit, error)) return Refuse(in, error);
  } else if (!LayOutStamp(image, record, edit, error)) {
    return Refuse(in, error);
  }
  if (options.fix_checksum && !(edit.checksum = StampedChecksum(edit, *input.file))) {
    return Refuse(in, "cannot be read");
  }
  installer::RecordPlace place;
  const std::string read_back = LauncherReads(edit, *input.file, &place);
  if (read_back.empty()) return Refuse(in, "the launcher would find no value in the stamped file");
  if (read_back != value) {
    return Refuse(in, "the launcher would find another value in the stamped file: " +
                          DescribeRecordPlace(place, image));
  }

  const fs::path& out = options.operands.back().path;
  if (options.in_place ? !WriteInPlace(edit, out, input, error)
                       : !WriteFileCopy(in, out, edit.table_offset, edit.CopyWrites(),
                                        edit.stamped_size(), error)) {
    return Refuse(out, error);
  }
  std::printf("stamped %s\n", out.string().c_str());
  return 0;
}

}  // namespace

extern const Command kStampCommand = {
    "stamp",
    "mir_attribution stamp (--value=TEXT | --value-file=FILE) [--form=trailer|delimited]\n"
    "                      [--fix-checksum] (IN OUT | --in-place FILE)\n",
    "  Writes a CHANNEL_INFO record that carries the value into the signed launcher, inside\n"
    "  its last WIN_CERTIFICATE entry after the signature, so that the signature stays\n"
    "  valid. A record already there is replaced. In a base (see reserve) the record fills\n"
    "  the attribution slot and nothing else changes: the stamped file is the base with its\n"
    "  last 4112 bytes replaced.\n"
    "\n"
    "  --value=TEXT       the value: the argument's bytes as given (on Windows, the UTF-8\n"
    "                     form of the argument, which must have one)\n"
    "  --value-file=FILE  the value: the bytes of FILE exactly, for values that a shell\n"
    "                     cannot pass (line feeds at the end, say)\n"
    "  --form=trailer     the record after the signature with its length (the default)\n"
    "  --form=delimited   the record as the tag CHANNEL_INFO and a colon, the value, a colon\n"
    "                     and the tag again\n"
    "  --fix-checksum     recompute the PE checksum (reads the whole file once more; not for\n"
    "                     a base, whose copies all share its headers)\n"
    "  --in-place         stamp FILE itself: in a base only the slot is written; otherwise\n"
    "                     the record first and the lengths last, and on a failure the file\n"
    "                     is put back as it was. Without it, IN is only read, and OUT\n"
    "                     appears whole, with IN's permission bits, or not at all. Either\n"
    "                     way the file is on disk (synced) before the command ends.\n"
    "\n"
    "  The value must be one the launcher stores: 1 to 4096 bytes of well-formed UTF-8\n"
    "  without noncharacters and without NUL bytes. Before anything is written, the\n"
    "  launcher's own search runs over the stamped file as it will be; unless it finds\n"
    "  exactly the value, nothing is written, and the message says where the record it\n"
    "  would find lies. Files over 512 MiB, which the launcher never reads, and\n"
    "  certificate tables over 1 MiB are refused before they are read. Exit status: 0\n"
    "  stamped, 1 refused or failed (OUT, or FILE, as it was), 2 a usage error.\n",
    Stamp,
};

}  // namespace mir_attribution
