// Reading a link key from its file. The key is the file's bytes exactly
// (make one with `head -c 32 /dev/urandom >FILE`), 32 to 4096 of them. On
// POSIX systems only root can be allowed to change a key: whoever can write
// the file plants a key they know and forges any link, and whoever can read
// it forges links too. So the file must be a regular file, not readable by
// others, not writable by its group or others, and owned by root or by the
// effective user reading it (nginx's master, or the tool).
#ifndef SERVER_LINK_KEY_FILE_H_
#define SERVER_LINK_KEY_FILE_H_

#include <string>

#include "base/hash/secret_bytes.h"

namespace server {

// False with the reason (missing, unreadable, not private, owned by another
// user, too short or too long); everything is checked before the key is
// read. The reason never holds any of the key's bytes, and `key` is wiped on
// every path that does not return it.
bool ReadLinkKeyFile(const std::string& path, base::SecretBytes& key, std::string& error);

}  // namespace server

#endif  // SERVER_LINK_KEY_FILE_H_
