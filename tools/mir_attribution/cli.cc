#include "tools/mir_attribution/cli.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <random>
#include <string_view>

#include "logging/logging.h"
#include "mir_installer_win/installer/attribution_file.h"
#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/attribution_slot.h"
#include "mir_installer_win/installer/channel_info.h"
#include "server/link_key_file.h"
#include "server/link_token.h"
#include "tools/mir_attribution/stamp.h"

namespace mir_attribution {
namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: mir_attribution stamp (--value=TEXT | --value-file=FILE) [--form=trailer|delimited]\n"
    "                             [--fix-checksum] (IN OUT | --in-place FILE)\n"
    "       mir_attribution read [--verbose] FILE\n"
    "       mir_attribution link --key-file=FILE --key-id=ID --expires=UNIX_TIME\n"
    "                            (--value=TEXT | --value-file=FILE) [--file-name=NAME] URL_PREFIX\n"
    "       mir_attribution --help | stamp --help | read --help | link --help\n";
constexpr char kStampHelp[] =
    "mir_attribution stamp (--value=TEXT | --value-file=FILE) [--form=trailer|delimited]\n"
    "                      [--fix-checksum] (IN OUT | --in-place FILE)\n"
    "  Writes a CHANNEL_INFO record that carries the value into the signed launcher, inside\n"
    "  its last WIN_CERTIFICATE entry after the signature, so that the signature stays\n"
    "  valid. A record already there is replaced.\n"
    "\n"
    "  --value=TEXT       the value: the argument's bytes as given (on Windows, the UTF-8\n"
    "                     form of the argument, which must have one)\n"
    "  --value-file=FILE  the value: the bytes of FILE exactly, for values that a shell\n"
    "                     cannot pass (a NUL byte, say)\n"
    "  --form=trailer     the record after the signature with its length (the default)\n"
    "  --form=delimited   the record as \"CHANNEL_INFO:\" value \":CHANNEL_INFO\"\n"
    "  --fix-checksum     recompute the PE checksum (reads the whole file once more)\n"
    "  --in-place         stamp FILE itself, record first and lengths last. An interruption\n"
    "                     can still leave it unsigned: meant for a fresh copy. Without it,\n"
    "                     IN is only read, and OUT is written whole under a temporary name\n"
    "                     beside it and then renamed into place.\n"
    "\n"
    "  The value must be one the launcher stores: 1 to 4096 bytes of well-formed UTF-8\n"
    "  without noncharacters. Before anything is written, the launcher's own search runs\n"
    "  over the stamped file as it will be; unless it finds exactly the value, nothing is\n"
    "  written. Exit status: 0 stamped, 1 refused or failed (OUT, or FILE, as it was),\n"
    "  2 a usage error.\n";
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
    "  Prints a signed download link, URL_PREFIX/<token>/NAME, as its last line. A\n"
    "  server that holds the key under ID sends the release's base stamped with the\n"
    "  value through it until UNIX_TIME.\n"
    "\n"
    "  --key-file=FILE    the key: the file's bytes, 32 to 4096 of them, not readable\n"
    "                     by every user\n"
    "  --key-id=ID        the key's id, 1 to 32 of A-Z a-z 0-9 - _\n"
    "  --expires=TIME     when the link stops working, in seconds since 1970 (UTC)\n"
    "  --value=TEXT       the value, as for stamp\n"
    "  --value-file=FILE  the value: the bytes of FILE exactly\n"
    "  --file-name=NAME   the release's file name (default mirelo_browser_setup.exe);\n"
    "                     the link is valid for that name only\n"
    "\n"
    "  A value the launcher would not store is refused. Exit status: 0 printed,\n"
    "  1 refused, 2 a usage error.\n";

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
  return true;
}

// Reads ranges of an open file, however many read calls each takes.
installer::ReadAtAttributionFile::ReadAt RangeReader(installer::AttributionFile& file) {
  return [&file](uint64_t offset, installer::MutableByteSpan into) {
    uint32_t error = 0;
    if (!file.SeekFromStart(static_cast<int64_t>(offset), error)) return false;
    for (size_t done = 0; done < into.size();) {
      uint32_t read = 0;
      const auto ask = static_cast<uint32_t>(std::min<size_t>(into.size() - done, 1 << 20));
      if (!file.Read(into.data() + done, ask, read) || read == 0) return false;
      done += read;
    }
    return true;
  };
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

bool WriteBytes(std::fstream& file, uint64_t offset, installer::ByteSpan bytes) {
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return file.good();
}

// A name for a temporary file beside `target` that nothing uses yet.
fs::path TemporaryBeside(const fs::path& target) {
  std::random_device random;
  for (;;) {
    fs::path candidate = target;
    candidate += ".stamping-" + std::to_string(random());
    std::error_code ignored;
    if (!fs::exists(candidate, ignored)) return candidate;
  }
}

// Writes the stamped file to `out` whole: under a temporary name beside it,
// every write and the close checked, then renamed over it. On any failure
// the temporary file goes and `out` is as it was.
bool WriteStampedCopy(const StampEdit& edit,
                      const installer::ReadAtAttributionFile::ReadAt& read_source,
                      const fs::path& out, std::string& error) {
  const fs::path temporary = TemporaryBeside(out);
  bool written;
  {
    std::fstream file(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
    written = file.is_open() && StreamStamped(edit, read_source, [&file](installer::ByteSpan part) {
                file.write(reinterpret_cast<const char*>(part.data()),
                           static_cast<std::streamsize>(part.size()));
                return file.good();
              });
    if (file.is_open()) {
      file.flush();
      file.close();
      written = written && !file.fail();
    }
  }
  std::error_code rename_error;
  if (written) fs::rename(temporary, out, rename_error);
  if (!written || rename_error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    error = written ? rename_error.message() : "cannot be written";
    return false;
  }
  return true;
}

// Applies the edit to `path` itself: the record first, the lengths last.
bool WriteInPlace(const StampEdit& edit, const fs::path& path, std::string& error) {
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file.is_open()) {
      error = "cannot be opened for writing";
      return false;
    }
    for (const StampEdit::Write& write : edit.InPlaceWrites()) {
      if (!WriteBytes(file, write.offset, write.bytes)) {
        error = "a write failed; the file may no longer be signed";
        return false;
      }
    }
    file.flush();
    file.close();
    if (file.fail()) {
      error = "the file could not be closed; it may no longer be signed";
      return false;
    }
  }
  std::error_code resize_error;
  if (fs::file_size(path, resize_error) != edit.stamped_size()) {
    fs::resize_file(path, edit.stamped_size(), resize_error);
  }
  if (resize_error) {
    error = "could not be cut to its new length (" + resize_error.message() +
            "); it is no longer signed";
    return false;
  }
  return true;
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
  uint32_t system_error = 0;
  std::unique_ptr<installer::AttributionFile> source =
      installer::OpenAttributionFile(in.c_str(), system_error);
  int64_t size = 0;
  if (!source || !source->Size(size, system_error)) {
    return Fail(in, "cannot be read (" + std::to_string(system_error) + ")");
  }
  const installer::ReadAtAttributionFile::ReadAt read_source = RangeReader(*source);
  const auto file_size = static_cast<uint64_t>(size);
  std::vector<uint8_t> headers(std::min<uint64_t>(file_size, 65536));
  if (!read_source(0, headers)) return Fail(in, "cannot be read");
  installer::PeLayout layout;
  if (!SignedImageLayout(headers, file_size, layout, error)) return Fail(in, error);
  const uint64_t table_offset = layout.directory.cert_rva;
  std::vector<uint8_t> table(file_size - table_offset);
  if (!read_source(table_offset, table)) return Fail(in, "cannot read its certificate table");
  StampEdit edit;
  if (!PlanStamp(headers, file_size, table, record, edit, error)) return Fail(in, error);
  if (options.fix_checksum) {
    PeChecksum checksum(edit.checksum_offset);
    if (!StreamStamped(edit, read_source, [&checksum](installer::ByteSpan part) {
          checksum.Add(part);
          return true;
        })) {
      return Fail(in, "cannot be read");
    }
    edit.checksum = checksum.Finish();
  }
  // The launcher's own search, over the file as it will be.
  installer::ReadAtAttributionFile stamped(
      edit.stamped_size(), [&edit, &read_source](uint64_t offset, installer::MutableByteSpan into) {
        return edit.ReadStamped(offset, into, read_source);
      });
  const std::string read_back = installer::FindAttributionInFile(stamped);
  if (read_back != value) {
    return Fail(in, read_back.empty()
                        ? "the launcher would find no value in the stamped file"
                        : "the launcher would find another value in the stamped file");
  }

  if (options.in_place) {
    source->Close();
    if (!WriteInPlace(edit, in, error)) return Fail(in, error);
  } else if (!WriteStampedCopy(edit, read_source, options.files[1], error)) {
    return Fail(options.files[1], error);
  }
  std::printf("stamped %s\n", options.files.back().string().c_str());
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
  const std::string& text = *options.expires;
  if (text.empty() || text.size() > server::kMaxExpiresDigits ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    std::fprintf(stderr, "mir_attribution: --expires takes seconds since 1970 in decimal\n");
    return 2;
  }
  expires = std::stoull(text);
  if (!server::IsValidKeyId(*options.key_id)) {
    std::fprintf(stderr, "mir_attribution: a key id is 1 to 32 of A-Z a-z 0-9 - _\n");
    return 2;
  }
  const std::string file_name = options.file_name.value_or("mirelo_browser_setup.exe");
  if (file_name.empty() || file_name.find('/') != std::string::npos) {
    std::fprintf(stderr, "mir_attribution: --file-name takes a file name without '/'\n");
    return 2;
  }
  std::string value, error;
  std::vector<uint8_t> key;
  if (!ValueBytes(options, value, error)) return Fail(options.files[0], error);
  // The one rule the launcher and every server apply: the slot is filled as a
  // server would fill it, and the link is refused when that fails.
  std::vector<uint8_t> slot(installer::kAttributionSlotSize);
  if (!installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot, error)) {
    return Fail(options.files[0], "the launcher would refuse the value: " + error);
  }
  if (!server::ReadLinkKeyFile(options.key_file->path.string(), key, error)) {
    return Fail(options.key_file->path, error);
  }
  if (expires <= static_cast<uint64_t>(std::time(nullptr))) {
    std::fprintf(stderr, "mir_attribution: warning: the link has expired already\n");
  }
  std::string prefix = options.files[0].string();
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  const std::string token = server::MakeLinkToken(*options.key_id, key, file_name, value, expires);
  std::printf("%s/%s/%s\n", prefix.c_str(), token.c_str(), file_name.c_str());
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
  std::fputs(kUsage, options.help ? stdout : stderr);
  return options.help ? 0 : 2;
}

}  // namespace mir_attribution
