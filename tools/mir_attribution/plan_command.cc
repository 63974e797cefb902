// mir_attribution plan: what a server needs to serve stamped copies of a
// base without this tool, as JSON, with the server's own ETag function.
#include "absl/strings/str_format.h"
#include "absl/strings/str_join.h"
#include "absl/strings/str_replace.h"
#include "base/hash/sha256.h"
#include "server/download_etag.h"
#include "server/release_base.h"
#include "tools/mir_attribution/command.h"
#include "tools/mir_attribution/command_input.h"

namespace mir_attribution {
namespace {

struct PlanOptions : CommandOptions {
  std::optional<Argument> value, value_file;
};

// A JSON string holding `text`, which is ASCII.
std::string Quoted(const std::string& text) {
  return "\"" + absl::StrReplaceAll(text, {{"\\", "\\\\"}, {"\"", "\\\""}}) + "\"";
}

int Plan(std::span<const Argument> arguments) {
  PlanOptions options;
  if (const auto done = ParseCommandLine(
          kPlanCommand, arguments, {{"value", &options.value}, {"value-file", &options.value_file}},
          options)) {
    return *done;
  }
  if (options.operands.size() != 1 || (options.value && options.value_file)) {
    return UsageError("", &kPlanCommand);
  }
  const std::filesystem::path& path = options.operands[0].path;
  const bool has_value = options.value || options.value_file;
  std::string value, error;
  if (has_value && !ReadValue(options.value, options.value_file, value, error)) {
    return Refuse(path, error);
  }
  InputFile input;
  server::ReleaseBase release;
  if (!OpenInputFile(path, input, error) || !server::FindReleaseBase(*input.file, release, error)) {
    return Refuse(path, error);
  }
  const installer::AttributionSlot& slot = release.slot;
  std::vector<uint8_t> slot_bytes(slot.size);
  if (has_value &&
      !installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot_bytes, error)) {
    return Refuse(path, error);
  }
  // One pass over the base: its digest and, from the slot on, the copy's.
  base::Sha256 base_hash;
  uint32_t read_error = 0;
  if (!installer::ReadInChunks(
          *input.file, 0, slot.offset,
          [&base_hash](installer::ByteSpan part) {
            base_hash.Update(part);
            return true;
          },
          read_error)) {
    return Refuse(path, "cannot be read");
  }
  base::Sha256 stamped_hash = base_hash;
  base_hash.Update(std::vector<uint8_t>(slot.size));
  stamped_hash.Update(slot_bytes);

  absl::PrintF(
      "{\n  \"file_size\": %d,\n  \"slot_offset\": %d,\n  \"slot_size\": %d,\n  \"form\": "
      "\"trailer\",\n  \"base_sha256\": \"%s\",\n  \"etag\": %s,\n",
      slot.file_size, slot.offset, slot.size, base::HexEncode(base_hash.Finish()),
      Quoted(server::DownloadEtag(release.digest, std::nullopt)));
  std::vector<std::string> ranges;
  for (const server::FileRange& range : release.uncovered) {
    ranges.push_back(absl::StrFormat("[%d, %d]", range.offset, range.size));
  }
  absl::PrintF("  \"release_check\": {\"sha256\": \"%s\", \"ranges\": [%s]},\n",
               base::HexEncode(release.digest), absl::StrJoin(ranges, ", "));
  if (has_value) {
    absl::PrintF("  \"stamped_sha256\": \"%s\",\n", base::HexEncode(stamped_hash.Finish()));
  }
  absl::PrintF("  \"stamped_etag\": %s\n}\n",
               Quoted(has_value ? server::DownloadEtag(release.digest, value)
                                : server::StampedEtagRule(release.digest)));
  return 0;
}

}  // namespace

extern const Command kPlanCommand = {
    "plan",
    "mir_attribution plan [--value=TEXT | --value-file=FILE] BASE\n",
    "  Prints, as JSON, what a server needs to serve stamped copies of BASE without this\n"
    "  tool: file_size, slot_offset and slot_size (a stamped copy is BASE's first\n"
    "  slot_offset bytes, then the trailer record \"MIRBCH01\", the value's length as 32-bit\n"
    "  little-endian and the value, then zeros up to file_size), form, base_sha256, the\n"
    "  ETag of BASE (the first 16 hex digits of the SHA-256 of the bytes its signature does\n"
    "  not cover, so every copy of the release has it), release_check (the SHA-256 of those\n"
    "  bytes and their [offset, size] ranges in the file: whoever fetches the base from\n"
    "  elsewhere can check an object is this release from these ranges alone), and\n"
    "  stamped_etag, the rule for a\n"
    "  stamped copy's ETag: BASE's with \"-\" and the first 16 hex digits of the value's\n"
    "  SHA-256 added. With a value, also stamped_sha256 and stamped_etag for it. A stamped\n"
    "  copy is refused. Exit status: 0 printed, 1 refused or failed, 2 a usage error.\n",
    Plan,
};

}  // namespace mir_attribution
