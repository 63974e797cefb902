#include "tools/mir_attribution/cli.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <string_view>

#include "base/hash/sha256.h"
#include "logging/logging.h"
#include "mir_installer_win/installer/attribution_file.h"
#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/attribution_slot.h"
#include "mir_installer_win/installer/channel_info.h"
#include "server/download_etag.h"
#include "server/link_key_file.h"
#include "server/link_token.h"
#include "server/link_url.h"
#include "server/release_base.h"
#include "tools/mir_attribution/output_file.h"
#include "tools/mir_attribution/stamp.h"

namespace mir_attribution {
namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: mir_attribution stamp (--value=TEXT | --value-file=FILE) [--form=trailer|delimited]\n"
    "                             [--fix-checksum] (IN OUT | --in-place FILE)\n"
    "       mir_attribution reserve IN BASE\n"
    "       mir_attribution plan [--value=TEXT | --value-file=FILE] BASE\n"
    "       mir_attribution read [--verbose] FILE\n"
    "       mir_attribution link --key-file=FILE --key-id=ID --expires=UNIX_TIME\n"
    "                            (--value=TEXT | --value-file=FILE) [--file-name=NAME] URL_PREFIX\n"
    "       mir_attribution --help | COMMAND --help | --version\n";
constexpr char kStampHelp[] =
    "mir_attribution stamp (--value=TEXT | --value-file=FILE) [--form=trailer|delimited]\n"
    "                      [--fix-checksum] (IN OUT | --in-place FILE)\n"
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
    "  --form=delimited   the record as \"CHANNEL_INFO:\" value \":CHANNEL_INFO\"\n"
    "  --fix-checksum     recompute the PE checksum (reads the whole file once more; not for\n"
    "                     a base, whose copies all share its headers)\n"
    "  --in-place         stamp FILE itself: in a base only the slot is written; otherwise\n"
    "                     the record first and the lengths last, and on a failure the file\n"
    "                     is put back as it was. Without it, IN is only read, and OUT\n"
    "                     appears whole, with IN's permission bits, or not at all.\n"
    "\n"
    "  The value must be one the launcher stores: 1 to 4096 bytes of well-formed UTF-8\n"
    "  without noncharacters and without NUL bytes. Before anything is written, the\n"
    "  launcher's own search runs over the stamped file as it will be; unless it finds\n"
    "  exactly the value, nothing is written. Files over 512 MiB, which the launcher never\n"
    "  reads, and certificate tables over 1 MiB are refused before they are read. Exit\n"
    "  status: 0 stamped, 1 refused or failed (OUT, or FILE, as it was), 2 a usage error.\n";
constexpr char kReserveHelp[] =
    "mir_attribution reserve IN BASE\n"
    "  Writes BASE, the base of a release: the signed launcher IN with its last certificate\n"
    "  entry grown by an empty attribution slot of 4112 bytes that any record fits, with\n"
    "  the entry's length and the certificate directory's size final. The PE checksum is\n"
    "  left alone (the signature does not cover it). Stamping BASE then only fills the\n"
    "  slot: every stamped copy has BASE's length and headers. Refuses an unsigned or an\n"
    "  already reserved IN. Exit status: 0 written, 1 refused or failed, 2 a usage error.\n";
constexpr char kPlanHelp[] =
    "mir_attribution plan [--value=TEXT | --value-file=FILE] BASE\n"
    "  Prints, as JSON, what a server needs to serve stamped copies of BASE without this\n"
    "  tool: file_size, slot_offset and slot_size (a stamped copy is BASE's first\n"
    "  slot_offset bytes, then the trailer record \"MIRBCH01\", the value's length as 32-bit\n"
    "  little-endian and the value, then zeros up to file_size), form, base_sha256, the\n"
    "  ETag of BASE (the first 16 hex digits of the SHA-256 of the bytes its signature does\n"
    "  not cover, so every copy of the release has it), and stamped_etag, the rule for a\n"
    "  stamped copy's ETag: BASE's with \"-\" and the first 16 hex digits of the value's\n"
    "  SHA-256 added. With a value, also stamped_sha256 and stamped_etag for it. A stamped\n"
    "  copy is refused. Exit status: 0 printed, 1 refused or failed, 2 a usage error.\n";
constexpr char kReadHelp[] =
    "mir_attribution read [--verbose] FILE\n"
    "  Prints the CHANNEL_INFO value the launcher would find in FILE (tail window first,\n"
    "  then the PE certificate table), as its bytes followed by a line feed.\n"
    "\n"
    "  --verbose  the search's log lines, on standard error\n"
    "\n"
    "  Exit status: 0 found, 1 not found or unreadable, 2 a usage error.\n";

constexpr char kLinkHelp[] =
    "mir_attribution link --key-file=FILE --key-id=ID --expires=UNIX_TIME\n"
    "                     (--value=TEXT | --value-file=FILE) [--file-name=NAME] URL_PREFIX\n"
    "  Prints a signed download link, URL_PREFIX/<token>/NAME, as its last line, NAME\n"
    "  percent-encoded as one path segment. A server that holds the key under ID sends\n"
    "  the release's base stamped with the value through it until UNIX_TIME.\n"
    "\n"
    "  --key-file=FILE    the key: the file's bytes, 32 to 4096 of them; a regular file\n"
    "                     owned by root or the user running this, not readable by\n"
    "                     others, not writable by its group or others\n"
    "  --key-id=ID        the key's id, 1 to 32 of A-Z a-z 0-9 - _\n"
    "  --expires=TIME     when the link stops working, in seconds since 1970 (UTC), 1 to\n"
    "                     19 digits, in the future\n"
    "  --value=TEXT       the value, as for stamp\n"
    "  --value-file=FILE  the value: the bytes of FILE exactly\n"
    "  --file-name=NAME   the release's file name (default mirelo_browser_setup.exe);\n"
    "                     the link is valid for that name only. Empty, \".\", \"..\", and\n"
    "                     names holding '/' or control characters are refused\n"
    "\n"
    "  A value the launcher would not store, an expiry that is not in the future and a\n"
    "  URL_PREFIX holding a space, control character, non-ASCII byte, '?' or '#' are\n"
    "  refused. Exit status: 0 printed, 1 refused, 2 a usage error.\n";

struct Options {
  std::string command;
  std::vector<fs::path> files;
  std::optional<Argument> value;
  std::optional<fs::path> value_file;
  std::string form;
  std::optional<Argument> key_file;
  std::optional<std::string> key_id, expires, file_name;
  bool in_place = false;
  bool fix_checksum = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  std::string unknown;  // an unknown switch, if any
};

// "--name=value" or "--name value" for the switches with values; "-" or "--"
// for the flags. After "--", and for anything that does not start with "-",
// an argument is a file.
Options ParseOptions(const std::vector<Argument>& arguments) {
  Options options;
  bool switches = true;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const Argument& argument = arguments[i];
    const std::string_view text = argument.bytes;
    if (switches && text == "--") {
      switches = false;
      continue;
    }
    if (!switches || text.size() < 2 || text[0] != '-') {
      if (options.command.empty()) {
        options.command = argument.bytes;
      } else {
        options.files.push_back(argument.path);
      }
      continue;
    }
    std::string_view name = text.substr(text[1] == '-' ? 2 : 1);
    const size_t equals = name.find('=');
    std::optional<Argument> value;
    if (equals != std::string_view::npos) {
      // The value's bytes after "="; as a path, the argument's own text after it.
      const std::string prefix(text.substr(0, text.size() - name.size() + equals + 1));
      value =
          Argument{std::string(name.substr(equals + 1)),
                   fs::path(argument.path.native().substr(prefix.size())), argument.bytes_exact};
      name = name.substr(0, equals);
    }
    const bool takes_value = name == "value" || name == "value-file" || name == "form" ||
                             name == "key-file" || name == "key-id" || name == "expires" ||
                             name == "file-name";
    if (takes_value && !value && i + 1 < arguments.size()) value = arguments[++i];
    if (takes_value && !value) {
      options.unknown = std::string(text) + " (without its value)";
    } else if (name == "value") {
      options.value = value;
    } else if (name == "value-file") {
      options.value_file = value->path;
    } else if (name == "form") {
      options.form = value->bytes;
    } else if (name == "key-file") {
      options.key_file = value;
    } else if (name == "key-id") {
      options.key_id = value->bytes;
    } else if (name == "expires") {
      options.expires = value->bytes;
    } else if (name == "file-name") {
      options.file_name = value->bytes;
    } else if (name == "in-place") {
      options.in_place = true;
    } else if (name == "fix-checksum") {
      options.fix_checksum = true;
    } else if (name == "verbose") {
      options.verbose = true;
    } else if (name == "help" || name == "h") {
      options.help = true;
    } else if (name == "version") {
      options.version = true;
    } else {
      options.unknown = text;
    }
  }
  return options;
}

int Fail(const fs::path& file, const std::string& reason) {
  std::fprintf(stderr, "mir_attribution: %s: %s\n", file.string().c_str(), reason.c_str());
  return 1;
}

bool HasValue(const Options& options) { return options.value || options.value_file; }

// The value to stamp, from --value or --value-file; false with the reason.
bool ValueBytes(const Options& options, std::string& value, std::string& error) {
  if (options.value) {
    if (!options.value->bytes_exact) {
      error = "the value has no UTF-8 form (it holds a lone UTF-16 surrogate)";
      return false;
    }
    value = options.value->bytes;
    return true;
  }
  std::ifstream file(*options.value_file, std::ios::binary);
  if (!file) {
    error = options.value_file->string() + ": cannot be read";
    return false;
  }
  // One byte more than a value may have is enough to refuse a longer one.
  value.resize(installer::kMaxChannelInfoLength + 1);
  file.read(value.data(), static_cast<std::streamsize>(value.size()));
  value.resize(static_cast<size_t>(file.gcount()));
  if (file.bad()) {
    error = options.value_file->string() + ": cannot be read";
    return false;
  }
  if (value.size() > installer::kMaxChannelInfoLength) {
    error = options.value_file->string() + ": the value is longer than 4096 bytes";
    return false;
  }
  return true;
}

// An input file, open for reading, with its size and a reader of ranges.
struct Input {
  std::unique_ptr<installer::AttributionFile> file;
  uint64_t size = 0;
  installer::ReadAtAttributionFile::ReadAt read;
};

bool OpenInput(const fs::path& path, Input& input, std::string& error) {
  uint32_t system_error = 0;
  input.file = installer::OpenAttributionFile(path.c_str(), system_error);
  int64_t size = 0;
  if (!input.file || !input.file->Size(size, system_error)) {
    error = "cannot be read (" + std::to_string(system_error) + ")";
    return false;
  }
  input.size = static_cast<uint64_t>(size);
  // Reads ranges of the open file, however many read calls each takes.
  input.read = [file = input.file.get()](uint64_t offset, installer::MutableByteSpan into) {
    uint32_t ignored = 0;
    if (!file->SeekFromStart(static_cast<int64_t>(offset), ignored)) return false;
    for (size_t done = 0; done < into.size();) {
      uint32_t read = 0;
      const auto ask = static_cast<uint32_t>(std::min<size_t>(into.size() - done, 1 << 20));
      if (!file->Read(into.data() + done, ask, read) || read == 0) return false;
      done += read;
    }
    return true;
  };
  return true;
}

// Plans writing `record` after the last signature of a signed image, the
// way a file without a slot is stamped (and a base is made).
bool PlanFromInput(const Input& input, const std::string& record, StampEdit& edit,
                   std::string& error) {
  // A file larger than the launcher reads is refused before anything is read.
  std::vector<uint8_t> headers;
  if (input.size <= static_cast<uint64_t>(installer::kMaxAttributionFileSize)) {
    headers.resize(std::min<uint64_t>(input.size, 65536));
    if (!input.read(0, headers)) {
      error = "cannot be read";
      return false;
    }
  }
  installer::PeLayout layout;
  if (!installer::CheckSignedImage(headers, input.size, layout, error)) return false;
  // The layout check has capped the table's size.
  std::vector<uint8_t> table(layout.directory.cert_size);
  if (!input.read(layout.directory.cert_rva, table)) {
    error = "cannot read its certificate table";
    return false;
  }
  return PlanStamp(headers, input.size, table, record, edit, error);
}

// Hands the stamped file to `consume` in chunks of up to a mebibyte.
bool StreamStamped(const StampEdit& edit,
                   const installer::ReadAtAttributionFile::ReadAt& read_source,
                   const std::function<bool(installer::ByteSpan)>& consume) {
  std::vector<uint8_t> chunk(1 << 20);
  for (uint64_t offset = 0; offset < edit.stamped_size();) {
    const installer::MutableByteSpan part(
        chunk.data(), std::min<uint64_t>(chunk.size(), edit.stamped_size() - offset));
    if (!edit.ReadStamped(offset, part, read_source) || !consume(part)) return false;
    offset += part.size();
  }
  return true;
}

// What the launcher's own search finds in the file as it will be.
std::string LauncherReads(const StampEdit& edit,
                          const installer::ReadAtAttributionFile::ReadAt& read_source) {
  installer::ReadAtAttributionFile stamped(
      edit.stamped_size(), [&edit, &read_source](uint64_t offset, installer::MutableByteSpan into) {
        return edit.ReadStamped(offset, into, read_source);
      });
  return installer::FindAttributionInFile(stamped);
}

// Applies `writes` to `path` and gives it `size` bytes.
bool ApplyWrites(const fs::path& path, const std::vector<StampEdit::Write>& writes, uint64_t size) {
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const StampEdit::Write& write : writes) {
      file.seekp(static_cast<std::streamoff>(write.offset));
      file.write(reinterpret_cast<const char*>(write.bytes.data()),
                 static_cast<std::streamsize>(write.bytes.size()));
    }
    file.close();
    if (file.fail()) return false;
  }
  std::error_code error;
  if (fs::file_size(path, error) != size && !error) fs::resize_file(path, size, error);
  return !error;
}

// Applies the edit to `path` itself: the record first, the lengths last. On
// a failure the bytes it overwrote and its size are put back.
bool WriteInPlace(const StampEdit& edit, const fs::path& path, Input& input, std::string& error) {
  const std::vector<StampEdit::Write> writes = edit.InPlaceWrites();
  std::vector<StampEdit::Write> saved;
  for (const StampEdit::Write& write : writes) {
    if (write.offset >= input.size) continue;
    saved.push_back({write.offset, std::vector<uint8_t>(std::min<uint64_t>(
                                       write.bytes.size(), input.size - write.offset))});
    if (!input.read(write.offset, saved.back().bytes)) {
      error = "cannot be read";
      return false;
    }
  }
  input.file->Close();
  if (!std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).is_open()) {
    error = "cannot be opened for writing";
    return false;
  }
  if (ApplyWrites(path, writes, edit.stamped_size())) return true;
  error = ApplyWrites(path, saved, input.size)
              ? "cannot be written; it was put back as it was"
              : "cannot be written, nor put back as it was: it may no longer be signed";
  return false;
}

int Stamp(const Options& options) {
  const bool one_value = options.value.has_value() != options.value_file.has_value();
  const size_t files = options.in_place ? 1 : 2;
  if (!one_value || options.files.size() != files) {
    std::fputs(kStampHelp, stderr);
    return 2;
  }
  RecordForm form = RecordForm::kTrailer;
  if (options.form == "delimited") {
    form = RecordForm::kDelimited;
  } else if (!options.form.empty() && options.form != "trailer") {
    std::fprintf(stderr, "mir_attribution: unknown --form %s (trailer or delimited)\n",
                 options.form.c_str());
    return 2;
  }
  const fs::path& in = options.files[0];
  std::string value, record, error;
  if (!ValueBytes(options, value, error) || !EncodeRecord(value, form, record, error)) {
    return Fail(in, error);
  }

  // Everything is read and checked before anything is written.
  Input input;
  if (!OpenInput(in, input, error)) return Fail(in, error);
  StampEdit edit;
  installer::AttributionSlot slot;
  std::string not_a_base;
  if (installer::FindAttributionSlot(input.size, input.read, slot, not_a_base)) {
    if (options.fix_checksum) {
      return Fail(in, "a base's checksum is left alone: its stamped copies share its headers");
    }
    if (!PlanSlotFill(slot, value, form, edit, error)) return Fail(in, error);
  } else if (!PlanFromInput(input, record, edit, error)) {
    return Fail(in, error);
  }
  if (options.fix_checksum) {
    PeChecksum checksum(edit.checksum_offset);
    if (!StreamStamped(edit, input.read, [&checksum](installer::ByteSpan part) {
          checksum.Add(part);
          return true;
        })) {
      return Fail(in, "cannot be read");
    }
    edit.checksum = checksum.Finish();
  }
  const std::string read_back = LauncherReads(edit, input.read);
  if (read_back != value) {
    return Fail(in, read_back.empty()
                        ? "the launcher would find no value in the stamped file"
                        : "the launcher would find another value in the stamped file");
  }

  if (options.in_place) {
    if (!WriteInPlace(edit, in, input, error)) return Fail(in, error);
  } else if (!WriteFileCopy(in, options.files[1], edit.table_offset, edit.CopyWrites(),
                            edit.stamped_size(), error)) {
    return Fail(options.files[1], error);
  }
  std::printf("stamped %s\n", options.files.back().string().c_str());
  return 0;
}

int Reserve(const Options& options) {
  if (options.files.size() != 2 || HasValue(options) || options.in_place) {
    std::fputs(kReserveHelp, stderr);
    return 2;
  }
  const fs::path& in = options.files[0];
  std::string error;
  Input input;
  if (!OpenInput(in, input, error)) return Fail(in, error);
  installer::AttributionSlot slot;
  if (installer::FindAttributionSlot(input.size, input.read, slot, error)) {
    return Fail(in, "it is a base already: it has an attribution slot");
  }
  // The slot is a record of zeros: the entry grows by it, padded to 8.
  StampEdit edit;
  if (!PlanFromInput(input, std::string(installer::kAttributionSlotSize, '\0'), edit, error)) {
    return Fail(in, error);
  }
  if (!LauncherReads(edit, input.read).empty()) {
    return Fail(in, "the launcher would find a value in the base");
  }
  if (!WriteFileCopy(in, options.files[1], edit.table_offset, edit.CopyWrites(),
                     edit.stamped_size(), error)) {
    return Fail(options.files[1], error);
  }
  std::printf("reserved %s\n", options.files[1].string().c_str());
  return 0;
}

// A JSON string holding `text`, which is ASCII.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

int Plan(const Options& options) {
  if (options.files.size() != 1 || (options.value && options.value_file) || options.in_place) {
    std::fputs(kPlanHelp, stderr);
    return 2;
  }
  const fs::path& path = options.files[0];
  std::string value, error;
  if (HasValue(options) && !ValueBytes(options, value, error)) return Fail(path, error);
  Input input;
  if (!OpenInput(path, input, error)) return Fail(path, error);
  server::ReleaseBase release;
  if (!server::FindReleaseBase(input.size, input.read, release, error)) return Fail(path, error);
  const installer::AttributionSlot& slot = release.slot;
  std::vector<uint8_t> slot_bytes(slot.size);
  if (HasValue(options) &&
      !installer::FillAttributionSlot(value, RecordForm::kTrailer, slot_bytes, error)) {
    return Fail(path, error);
  }
  // One pass over the base: its digest and, from the slot on, the copy's.
  base::Sha256 base_hash;
  std::vector<uint8_t> chunk(1 << 20);
  for (uint64_t offset = 0; offset < slot.offset;) {
    const installer::MutableByteSpan part(chunk.data(),
                                          std::min<uint64_t>(chunk.size(), slot.offset - offset));
    if (!input.read(offset, part)) return Fail(path, "cannot be read");
    base_hash.Update(part);
    offset += part.size();
  }
  base::Sha256 stamped_hash = base_hash;
  base_hash.Update(std::vector<uint8_t>(slot.size));
  stamped_hash.Update(slot_bytes);

  std::printf("{\n  \"file_size\": %llu,\n  \"slot_offset\": %llu,\n  \"slot_size\": %llu,\n",
              static_cast<unsigned long long>(slot.file_size),
              static_cast<unsigned long long>(slot.offset),
              static_cast<unsigned long long>(slot.size));
  std::printf("  \"form\": \"trailer\",\n  \"base_sha256\": \"%s\",\n",
              base::HexEncode(base_hash.Finish()).c_str());
  std::printf("  \"etag\": %s,\n",
              Quoted(server::DownloadEtag(release.digest, std::nullopt)).c_str());
  if (HasValue(options)) {
    std::printf("  \"stamped_sha256\": \"%s\",\n  \"stamped_etag\": %s\n}\n",
                base::HexEncode(stamped_hash.Finish()).c_str(),
                Quoted(server::DownloadEtag(release.digest, value)).c_str());
  } else {
    std::printf("  \"stamped_etag\": %s\n}\n",
                Quoted(server::StampedEtagRule(release.digest)).c_str());
  }
  return 0;
}

int Read(const Options& options) {
  if (options.files.size() != 1) {
    std::fputs(kReadHelp, stderr);
    return 2;
  }
  const fs::path& path = options.files[0];
  uint32_t error = 0;
  const std::unique_ptr<installer::AttributionFile> file =
      installer::OpenAttributionFile(path.c_str(), error);
  if (!file) return Fail(path, "cannot be opened (" + std::to_string(error) + ")");
  const std::string value = installer::FindAttributionInFile(*file);
  if (value.empty()) return Fail(path, "no CHANNEL_INFO record found");
  std::fwrite(value.data(), 1, value.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

int Link(const Options& options) {
  const bool one_value = options.value.has_value() != options.value_file.has_value();
  if (!one_value || !options.key_file || !options.key_id || !options.expires ||
      options.files.size() != 1) {
    std::fputs(kLinkHelp, stderr);
    return 2;
  }
  uint64_t expires = 0;
  if (!server::ParseLinkExpires(*options.expires, expires)) {
    std::fprintf(stderr, "mir_attribution: --expires takes seconds since 1970: 1 to 19 digits\n");
    return 2;
  }
  if (!server::IsValidKeyId(*options.key_id)) {
    std::fprintf(stderr, "mir_attribution: a key id is 1 to 32 of A-Z a-z 0-9 - _\n");
    return 2;
  }
  const std::string file_name = options.file_name.value_or("mirelo_browser_setup.exe");
  if (const std::string problem = server::LinkFileNameProblem(file_name); !problem.empty()) {
    std::fprintf(stderr, "mir_attribution: --file-name: %s\n", problem.c_str());
    return 2;
  }
  const auto refuse = [](const std::string& reason) {
    std::fprintf(stderr, "mir_attribution: link: %s\n", reason.c_str());
    return 1;
  };
  std::string value, error;
  base::SecretBytes key;
  if (!ValueBytes(options, value, error)) return refuse(error);
  // The one rule the launcher and every server apply: the slot is filled as a
  // server would fill it, and the link is refused when that fails.
  std::vector<uint8_t> slot(installer::kAttributionSlotSize);
  if (!installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot, error)) {
    return refuse("the launcher would refuse the value: " + error);
  }
  if (!server::ReadLinkKeyFile(options.key_file->path.string(), key, error)) {
    return refuse("key file " + options.key_file->path.string() + " " + error);
  }
  if (expires <= static_cast<uint64_t>(std::time(nullptr))) {
    return refuse("the link would have expired already (--expires=" + *options.expires + ")");
  }
  const std::string token =
      server::MakeLinkToken(*options.key_id, key.span(), file_name, value, expires);
  std::string url;
  if (!server::FormatLinkUrl(options.files[0].string(), token, file_name, url, error)) {
    return refuse(error);
  }
  std::printf("%s\n", url.c_str());
  return 0;
}

}  // namespace

int RunAttributionTool(const std::vector<Argument>& arguments) {
  const Options options = ParseOptions(arguments);
  if (!options.unknown.empty()) {
    std::fprintf(stderr, "mir_attribution: unknown switch %s\n%s", options.unknown.c_str(), kUsage);
    return 2;
  }
  // The searches log what they find; only --verbose shows it, on standard error.
  logging::LogSettings settings;
  settings.destinations = options.verbose ? uint32_t{logging::DestStderr} : 0;
  logging::ConfigureLogging(std::move(settings));
  if (options.version) {
    if (!options.command.empty() || options.help) return std::fputs(kUsage, stderr), 2;
    std::printf("mir_attribution %s\n", MIR_TOOL_VERSION);
    return 0;
  }
  if (options.command == "stamp") {
    if (options.help) return std::fputs(kStampHelp, stdout), 0;
    return Stamp(options);
  }
  if (options.command == "link") {
    if (options.help) return std::fputs(kLinkHelp, stdout), 0;
    return Link(options);
  }
  if (options.command == "read") {
    if (options.help) return std::fputs(kReadHelp, stdout), 0;
    return Read(options);
  }
  if (options.command == "reserve") {
    if (options.help) return std::fputs(kReserveHelp, stdout), 0;
    return Reserve(options);
  }
  if (options.command == "plan") {
    if (options.help) return std::fputs(kPlanHelp, stdout), 0;
    return Plan(options);
  }
  std::fputs(kUsage, options.help ? stdout : stderr);
  return options.help ? 0 : 2;
}

}  // namespace mir_attribution
