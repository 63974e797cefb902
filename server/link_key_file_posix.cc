#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/posix/scoped_descriptor.h"
#include "server/link_key_file.h"
#include "server/link_token.h"

namespace server {

bool ReadLinkKeyFile(const std::string& path, std::vector<uint8_t>& key, std::string& error) {
  const base::ScopedDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat status {};
  if (fd.Get() < 0 || fstat(fd.Get(), &status) != 0) {
    error = "cannot be read (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = "is not a regular file";
    return false;
  }
  if (status.st_mode & S_IROTH) {
    error = "is readable by every user; make it private (chmod o-r)";
    return false;
  }
  if (status.st_size < static_cast<off_t>(kMinLinkKeySize) ||
      status.st_size > static_cast<off_t>(kMaxLinkKeySize)) {
    error = "holds " + std::to_string(status.st_size) + " bytes; a key is 32 to 4096 bytes";
    return false;
  }
  key.assign(static_cast<size_t>(status.st_size), 0);
  for (size_t done = 0; done < key.size();) {
    const ssize_t got = read(fd.Get(), key.data() + done, key.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = "cannot be read whole";
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace server
