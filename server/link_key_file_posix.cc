#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/posix/scoped_descriptor.h"
#include "mir_installer_win/installer/byte_source.h"
#include "server/link_key_file.h"
#include "server/link_token.h"

namespace server {
namespace {

// Why the file cannot hold a key that only root can change, or empty.
std::string KeyFileProblem(const struct stat& status) {
  if (!S_ISREG(status.st_mode)) return "is not a regular file";
  if (status.st_mode & S_IROTH) {
    return "is readable by every user; make it private (chmod o-r)";
  }
  if (status.st_mode & (S_IWGRP | S_IWOTH)) {
    return "is writable by its group or every user; make it writable by its owner only "
           "(chmod go-w)";
  }
  if (status.st_uid != 0 && status.st_uid != geteuid()) {
    return "is owned by user " + std::to_string(status.st_uid) + ", neither root nor user " +
           std::to_string(geteuid()) + " who reads it; chown it";
  }
  if (status.st_size < static_cast<off_t>(kMinLinkKeySize) ||
      status.st_size > static_cast<off_t>(kMaxLinkKeySize)) {
    return "holds " + std::to_string(status.st_size) + " bytes; a key is 32 to 4096 bytes";
  }
  return "";
}

}  // namespace

bool ReadLinkKeyFile(const std::string& path, base::SecretBytes& key, std::string& error) {
  key = base::SecretBytes();
  const base::ScopedDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat status {};
  if (fd.Get() < 0 || fstat(fd.Get(), &status) != 0) {
    error = "cannot be read (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  error = KeyFileProblem(status);
  if (!error.empty()) return false;
  // One byte more than the file had tells a file that grew since fstat.
  const auto size = static_cast<size_t>(status.st_size);
  base::SecretBytes bytes(size + 1);
  const std::unique_ptr<installer::ByteSource> source =
      installer::BorrowedDescriptorSource(fd.Get());
  uint32_t code = 0;
  const bool whole = source->ReadAt(0, bytes.span().first(size), code);
  if (whole ? source->ReadAt(size, bytes.span().last(1), code) : code == installer::kReadPastEnd) {
    error = "changed while it was read";
    return false;
  }
  if (code != installer::kReadPastEnd) {
    error = "cannot be read (" + std::string(std::strerror(static_cast<int>(code))) + ")";
    return false;
  }
  bytes.Shrink(size);
  key = std::move(bytes);
  return true;
}

}  // namespace server
