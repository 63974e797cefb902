// Reading a link key from its file. The key is the file's bytes exactly
// (make one with `head -c 32 /dev/urandom >FILE`), 32 to 4096 of them. On
// POSIX systems a key file that every user may read is refused: the key is
// as secret as the release's signing key for attribution.
#ifndef SERVER_LINK_KEY_FILE_H_
#define SERVER_LINK_KEY_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace server {

// False with the reason (missing, unreadable, world-readable, too short or
// too long); the size is checked before the key is read. The reason never
// holds any of the key's bytes.
bool ReadLinkKeyFile(const std::string& path, std::vector<uint8_t>& key, std::string& error);

}  // namespace server

#endif  // SERVER_LINK_KEY_FILE_H_
