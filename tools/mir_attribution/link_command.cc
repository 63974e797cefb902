// mir_attribution link: a signed download link, made with the server's own
// token, expiry, key-file and URL functions.
#include <ctime>

#include "base/hash/secret_bytes.h"
#include "mir_installer_win/installer/attribution_slot.h"
#include "server/link_key_file.h"
#include "server/link_token.h"
#include "server/link_url.h"
#include "tools/mir_attribution/command.h"
#include "tools/mir_attribution/command_input.h"

namespace mir_attribution {
namespace {

struct LinkOptions : CommandOptions {
  std::optional<Argument> key_file, key_id, expires, value, value_file, file_name;
};

int Link(std::span<const Argument> arguments) {
  LinkOptions options;
  if (const auto done = ParseCommandLine(kLinkCommand, arguments,
                                         {{"key-file", &options.key_file},
                                          {"key-id", &options.key_id},
                                          {"expires", &options.expires},
                                          {"value", &options.value},
                                          {"value-file", &options.value_file},
                                          {"file-name", &options.file_name}},
                                         options)) {
    return *done;
  }
  if (options.value.has_value() == options.value_file.has_value() || !options.key_file ||
      !options.key_id || !options.expires || options.operands.size() != 1) {
    return UsageError("", &kLinkCommand);
  }
  uint64_t expires = 0;
  if (!server::ParseLinkExpires(options.expires->bytes, expires)) {
    return UsageError("--expires takes seconds since 1970: 1 to 19 digits");
  }
  if (!server::IsValidKeyId(options.key_id->bytes)) {
    return UsageError("a key id is 1 to 32 of A-Z a-z 0-9 - _");
  }
  const std::string file_name =
      options.file_name ? options.file_name->bytes : "mirelo_browser_setup.exe";
  if (const std::string problem = server::LinkFileNameProblem(file_name); !problem.empty()) {
    return UsageError("--file-name: " + problem);
  }
  std::string value, error;
  base::SecretBytes key;
  if (!ReadValue(options.value, options.value_file, value, error)) return Refuse("link", error);
  // The one rule the launcher and every server apply: the slot is filled as a
  // server would fill it, and the link is refused when that fails.
  std::vector<uint8_t> slot(installer::kAttributionSlotSize);
  if (!installer::FillAttributionSlot(value, installer::RecordForm::kTrailer, slot, error)) {
    return Refuse("link", "the launcher would refuse the value: " + error);
  }
  const std::string key_file = options.key_file->path.string();
  if (!server::ReadLinkKeyFile(key_file, key, error)) {
    return Refuse("link", "key file " + key_file + " " + error);
  }
  if (expires <= static_cast<uint64_t>(std::time(nullptr))) {
    return Refuse("link",
                  "the link would have expired already (--expires=" + options.expires->bytes + ")");
  }
  const std::string token =
      server::MakeLinkToken(options.key_id->bytes, key.span(), file_name, value, expires);
  std::string url;
  if (!server::FormatLinkUrl(options.operands[0].bytes, token, file_name, url, error)) {
    return Refuse("link", error);
  }
  std::printf("%s\n", url.c_str());
  return 0;
}

}  // namespace

extern const Command kLinkCommand = {
    "link",
    "mir_attribution link --key-file=FILE --key-id=ID --expires=UNIX_TIME\n"
    "                     (--value=TEXT | --value-file=FILE) [--file-name=NAME] URL_PREFIX\n",
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
    "  refused. Exit status: 0 printed, 1 refused, 2 a usage error.\n",
    Link,
};

}  // namespace mir_attribution
