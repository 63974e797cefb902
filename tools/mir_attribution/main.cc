// mir_attribution: stamps a CHANNEL_INFO attribution record into a signed
// launcher, and reads it back the way the launcher does.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logging/logging.h"
#include "mir_installer_win/installer/attribution_locator.h"
#include "strings/utf_string_conversions.h"
#include "tools/mir_attribution/stamp.h"

#if defined(_WIN32)
#include "mir_installer_win/installer/install_attribution_win.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: mir_attribution stamp --value=TEXT [--form=trailer|delimited] [--in-place]\n"
    "                             [--fix-checksum] IN [OUT]\n"
    "       mir_attribution read [--verbose] FILE\n"
    "       mir_attribution --help | stamp --help | read --help\n";
constexpr char kStampHelp[] =
    "mir_attribution stamp --value=TEXT [--form=trailer|delimited] [--in-place] [--fix-checksum]\n"
    "                      IN [OUT]\n"
    "  Writes the record into a copy OUT of the signed launcher IN (or into IN itself with\n"
    "  --in-place), inside its last WIN_CERTIFICATE entry after the signature, so that the\n"
    "  signature stays valid. A record already there is replaced. The default form is the\n"
    "  trailer. --fix-checksum recomputes the PE checksum (reads the whole file).\n"
    "  Nothing is written unless the value and the file are both acceptable.\n";
constexpr char kReadHelp[] =
    "mir_attribution read [--verbose] FILE\n"
    "  Prints the CHANNEL_INFO value the launcher would find in FILE (tail window first,\n"
    "  then the PE certificate table). Exit status 0 when found, 1 when not. --verbose\n"
    "  shows the search's log lines.\n";

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "mir_attribution: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

bool ReadRange(std::fstream& file, uint64_t offset, uint64_t length, std::vector<uint8_t>& bytes) {
  bytes.resize(length);
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
  return static_cast<uint64_t>(file.gcount()) == length;
}

void Write32(std::fstream& file, uint64_t offset, uint32_t value) {
  const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                         static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(bytes, 4);
}

// The PE checksum over the whole file as it now is.
uint32_t ChecksumOf(std::fstream& file, uint64_t checksum_offset) {
  PeChecksum checksum(checksum_offset);
  file.seekg(0);
  std::vector<uint8_t> buffer(1 << 20);
  while (file.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size())) ||
         file.gcount() > 0) {
    checksum.Add(ByteSpan(buffer.data(), static_cast<size_t>(file.gcount())));
  }
  file.clear();
  return checksum.Finish();
}

struct Options {
  std::string command;
  std::vector<std::wstring> files;
  std::wstring value;
  std::wstring form;
  bool has_value = false;
  bool in_place = false;
  bool fix_checksum = false;
  bool verbose = false;
  bool help = false;
  std::string unknown;  // an unknown switch, if any
};

// "--name=value" or "--name value" for --value and --form; "-" or "--" for
// the flags. A path is never a switch, whatever it starts with ("/" included).
Options ParseOptions(const std::vector<std::wstring>& arguments) {
  Options options;
  bool switches = true;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--") {
      switches = false;
      continue;
    }
    if (!switches || argument.size() < 2 || argument[0] != L'-') {
      if (options.command.empty()) {
        options.command = WideToUtf8(argument);
      } else {
        options.files.push_back(argument);
      }
      continue;
    }
    std::wstring name = argument.substr(argument[1] == L'-' ? 2 : 1);
    std::wstring value;
    const size_t equals = name.find(L'=');
    const bool has_inline_value = equals != std::wstring::npos;
    if (has_inline_value) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == L"value" || name == L"form") {
      if (!has_inline_value && i + 1 < arguments.size()) value = arguments[++i];
      if (name == L"value") {
        options.value = value;
        options.has_value = true;
      } else {
        options.form = value;
      }
    } else if (name == L"in-place") {
      options.in_place = true;
    } else if (name == L"fix-checksum") {
      options.fix_checksum = true;
    } else if (name == L"verbose") {
      options.verbose = true;
    } else if (name == L"help" || name == L"h") {
      options.help = true;
    } else {
      options.unknown = WideToUtf8(argument);
    }
  }
  return options;
}

int Stamp(const Options& options) {
  if (!options.has_value || options.files.empty() || options.files.size() > 2 ||
      (options.files.size() == 2) == options.in_place) {
    std::fputs(kStampHelp, stderr);
    return 2;
  }
  RecordForm form = RecordForm::kTrailer;
  if (options.form == L"delimited") {
    form = RecordForm::kDelimited;
  } else if (!options.form.empty() && options.form != L"trailer") {
    std::fprintf(stderr, "mir_attribution: unknown --form %s (trailer or delimited)\n",
                 WideToUtf8(options.form).c_str());
    return 2;
  }
  const fs::path in(options.files[0]);
  const std::string in_name = WideToUtf8(options.files[0]);
  std::string record, error;
  if (!EncodeRecord(WideToUtf8(options.value), form, record, error)) return Fail(in_name, error);

  // Read and check everything before anything is written.
  std::error_code size_error;
  const uint64_t size = fs::file_size(in, size_error);
  if (size_error) return Fail(in_name, size_error.message());
  std::fstream source(in, std::ios::in | std::ios::binary);
  std::vector<uint8_t> headers, table;
  if (!source || !ReadRange(source, 0, std::min<uint64_t>(size, 65536), headers)) {
    return Fail(in_name, "cannot be read");
  }
  uint64_t table_offset = 0;
  if (!CertificateTableOffset(headers, size, table_offset, error)) return Fail(in_name, error);
  if (!ReadRange(source, table_offset, size - table_offset, table)) {
    return Fail(in_name, "cannot read its certificate table");
  }
  source.close();
  StampEdit edit;
  if (!PlanStamp(headers, size, table, record, edit, error)) return Fail(in_name, error);

  fs::path target = in;
  if (!options.in_place) {
    target = fs::path(options.files[1]);
    std::error_code copy_error;
    fs::copy_file(in, target, fs::copy_options::overwrite_existing, copy_error);
    if (copy_error) return Fail(WideToUtf8(options.files[1]), copy_error.message());
  }
  const std::string target_name = WideToUtf8(target.wstring());
  {
    std::fstream out(target, std::ios::in | std::ios::out | std::ios::binary);
    if (!out) return Fail(target_name, "cannot be opened for writing");
    out.seekp(static_cast<std::streamoff>(edit.table_offset));
    out.write(reinterpret_cast<const char*>(edit.table.data()),
              static_cast<std::streamsize>(edit.table.size()));
    Write32(out, edit.directory_size_offset, edit.directory_size);
    if (!out) return Fail(target_name, "write failed");
  }
  std::error_code resize_error;
  fs::resize_file(target, edit.table_offset + edit.table.size(), resize_error);
  if (resize_error) return Fail(target_name, resize_error.message());
  if (options.fix_checksum) {
    std::fstream out(target, std::ios::in | std::ios::out | std::ios::binary);
    Write32(out, edit.checksum_offset, ChecksumOf(out, edit.checksum_offset));
    if (!out) return Fail(target_name, "write failed");
  }
  std::printf("stamped %s\n", target_name.c_str());
  return 0;
}

#if !defined(_WIN32)
// The launcher's locator on a native file.
class StreamAttributionFile : public AttributionFile {
 public:
  explicit StreamAttributionFile(const fs::path& path) : path_(path), file_(path, std::ios::binary) {}
  bool is_open() const { return file_.is_open(); }

  bool Size(int64_t& size, uint32_t& error) override {
    std::error_code code;
    size = static_cast<int64_t>(fs::file_size(path_, code));
    error = static_cast<uint32_t>(code.value());
    return !code;
  }
  bool SeekFromStart(int64_t offset, uint32_t& error) override {
    file_.clear();
    error = file_.seekg(offset) ? 0 : static_cast<uint32_t>(EINVAL);
    return error == 0;
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) override {
    file_.read(reinterpret_cast<char*>(buffer), size);
    read = static_cast<uint32_t>(file_.gcount());
    return !file_.bad();
  }
  void Close() override { file_.close(); }

 private:
  fs::path path_;
  std::ifstream file_;
};
#endif

int Read(const Options& options) {
  if (options.files.size() != 1) {
    std::fputs(kReadHelp, stderr);
    return 2;
  }
  logging::LogSettings settings;
  settings.destinations = options.verbose ? uint32_t{logging::DestStderr} : 0;
  logging::ConfigureLogging(std::move(settings));
#if defined(_WIN32)
  const std::string value = ReadAttributionFromFile(options.files[0].c_str());
#else
  StreamAttributionFile file{fs::path(options.files[0])};
  if (!file.is_open()) return Fail(WideToUtf8(options.files[0]), "cannot be opened");
  const std::string value = FindAttributionInFile(file);
#endif
  if (value.empty()) {
    std::fprintf(stderr, "mir_attribution: %s: no CHANNEL_INFO record found\n",
                 WideToUtf8(options.files[0]).c_str());
    return 1;
  }
  std::fwrite(value.data(), 1, value.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

int Run(const std::vector<std::wstring>& arguments) {
  const Options options = ParseOptions(arguments);
  if (!options.unknown.empty()) {
    std::fprintf(stderr, "mir_attribution: unknown switch %s\n%s", options.unknown.c_str(), kUsage);
    return 2;
  }
  if (options.command == "stamp") {
    if (options.help) return std::fputs(kStampHelp, stdout), 0;
    return Stamp(options);
  }
  if (options.command == "read") {
    if (options.help) return std::fputs(kReadHelp, stdout), 0;
    return Read(options);
  }
  std::fputs(kUsage, options.help ? stdout : stderr);
  return options.help ? 0 : 2;
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  return Run(std::vector<std::wstring>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8ToWide(argv[i]));
  return Run(arguments);
}
#endif
