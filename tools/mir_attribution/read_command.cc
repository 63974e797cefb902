// mir_attribution read: the value the launcher would find in a file.
#include "logging/logging.h"
#include "mir_installer_win/installer/attribution_locator.h"
#include "tools/mir_attribution/command.h"

namespace mir_attribution {
namespace {

struct ReadOptions : CommandOptions {
  bool verbose = false;
};

int Read(std::span<const Argument> arguments) {
  ReadOptions options;
  if (const auto done =
          ParseCommandLine(kReadCommand, arguments, {{"verbose", &options.verbose}}, options)) {
    return *done;
  }
  if (options.operands.size() != 1) return UsageError("", &kReadCommand);
  if (options.verbose) {
    logging::LogSettings settings;
    settings.destinations = logging::DestStderr;
    logging::ConfigureLogging(std::move(settings));
  }
  const std::filesystem::path& path = options.operands[0].path;
  uint32_t error = 0;
  std::unique_ptr<installer::ByteSource> file = installer::OpenFileSource(path.c_str(), error);
  if (!file) return Refuse(path, "cannot be opened (" + std::to_string(error) + ")");
  const std::string value = installer::FindAttributionInFile(std::move(file));
  if (value.empty()) return Refuse(path, "no CHANNEL_INFO record found");
  std::fwrite(value.data(), 1, value.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

}  // namespace

extern const Command kReadCommand = {
    "read",
    "mir_attribution read [--verbose] FILE\n",
    "  Prints the CHANNEL_INFO value the launcher would find in FILE (tail window first,\n"
    "  then the PE certificate table), as its bytes followed by a line feed.\n"
    "\n"
    "  --verbose  the search's log lines, on standard error\n"
    "\n"
    "  Exit status: 0 found, 1 not found or unreadable, 2 a usage error.\n",
    Read,
};

}  // namespace mir_attribution
