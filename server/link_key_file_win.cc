#include <fstream>

#include "server/link_key_file.h"
#include "server/link_token.h"

namespace server {

// Windows guards the file with its ACL; only the size is checked here.
bool ReadLinkKeyFile(const std::string& path, base::SecretBytes& key, std::string& error) {
  key = base::SecretBytes();
  std::ifstream file;
  // Unbuffered: the key's bytes go straight into memory that is wiped.
  file.rdbuf()->pubsetbuf(nullptr, 0);
  file.open(path, std::ios::binary);
  if (!file) {
    error = "cannot be read";
    return false;
  }
  // One byte more than a key may have is enough to refuse a longer one.
  base::SecretBytes bytes(kMaxLinkKeySize + 1);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const auto size = static_cast<size_t>(file.gcount());
  if (file.bad() || size < kMinLinkKeySize || size > kMaxLinkKeySize) {
    error = "is not 32 to 4096 bytes long";
    return false;
  }
  bytes.Shrink(size);
  key = std::move(bytes);
  return true;
}

}  // namespace server
