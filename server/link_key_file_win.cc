#include <fstream>

#include "server/link_key_file.h"
#include "server/link_token.h"

namespace server {

// Windows guards the file with its ACL; only the size is checked here.
bool ReadLinkKeyFile(const std::string& path, std::vector<uint8_t>& key, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot be read";
    return false;
  }
  // One byte more than a key may have is enough to refuse a longer one.
  key.assign(kMaxLinkKeySize + 1, 0);
  file.read(reinterpret_cast<char*>(key.data()), static_cast<std::streamsize>(key.size()));
  key.resize(static_cast<size_t>(file.gcount()));
  if (file.bad() || key.size() < kMinLinkKeySize || key.size() > kMaxLinkKeySize) {
    error = "is not 32 to 4096 bytes long";
    return false;
  }
  return true;
}

}  // namespace server
