#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "base/posix/scoped_descriptor.h"
#include "mir_installer_win/installer/byte_source.h"
#include "tools/mir_attribution/output_file.h"

namespace mir_attribution {
namespace {

namespace fs = std::filesystem;

using base::ScopedDescriptor;

bool Failed(const char* what, std::string& error) {
  error = std::string(what) + " (" + std::strerror(errno) + ")";
  return false;
}

bool WriteAll(int file, uint64_t offset, const uint8_t* bytes, uint64_t count) {
  while (count > 0) {
    const ssize_t written = pwrite(file, bytes, count, static_cast<off_t>(offset));
    if (written <= 0) return false;
    bytes += written;
    offset += static_cast<uint64_t>(written);
    count -= static_cast<uint64_t>(written);
  }
  return true;
}

// The first `count` bytes of `source` into `file`: in the kernel where the
// file system can, else through a buffer.
bool CopyPrefix(int source, int file, uint64_t count) {
  loff_t in_offset = 0, out_offset = 0;
  while (static_cast<uint64_t>(in_offset) < count) {
    const ssize_t copied = copy_file_range(source, &in_offset, file, &out_offset,
                                           count - static_cast<uint64_t>(in_offset), 0);
    if (copied > 0) continue;
    if (copied == 0) return false;  // the input is shorter than it was
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
    break;
  }
  auto offset = static_cast<uint64_t>(in_offset);
  uint32_t ignored = 0;
  return installer::ReadInChunks(
      *installer::BorrowedDescriptorSource(source), offset, count - offset,
      [&](installer::ByteSpan part) {
        offset += part.size();
        return WriteAll(file, offset - part.size(), part.data(), part.size());
      },
      ignored);
}

// `writes` in order, then `size` bytes, on disk.
bool WriteAndSync(int file, const std::vector<StampEdit::Write>& writes, uint64_t size) {
  for (const StampEdit::Write& write : writes) {
    if (!WriteAll(file, write.offset, write.bytes.data(), write.bytes.size())) return false;
  }
  return ftruncate(file, static_cast<off_t>(size)) == 0 && fsync(file) == 0;
}

// A name beside `target` that nothing has, taken by `take` (which fails
// with EEXIST when something has it after all).
template <typename Take>
bool TakeTemporaryName(const fs::path& target, fs::path& name, Take take) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target;
    name += ".stamping-" + std::to_string(random());
    if (take(name)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

bool WriteFileCopy(const fs::path& in, const fs::path& out, uint64_t copied,
                   const std::vector<StampEdit::Write>& writes, uint64_t size, std::string& error) {
  ScopedDescriptor source(open(in.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status;
  if (!source.IsValid() || fstat(source.Get(), &status) != 0) return Failed("cannot read", error);
  const fs::path directory = out.has_parent_path() ? out.parent_path() : fs::path(".");
  ScopedDescriptor file(open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  fs::path named;  // without unnamed files: the temporary name, created exclusively
  if (!file.IsValid()) {
    if (errno != EOPNOTSUPP && errno != EISDIR) return Failed("cannot be created", error);
    const bool created = TakeTemporaryName(out, named, [&file](const fs::path& name) {
      file.Reset(open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
      return file.IsValid();
    });
    if (!created) return Failed("cannot be created", error);
  }
  if (!CopyPrefix(source.Get(), file.Get(), copied) ||
      fchmod(file.Get(), status.st_mode & 07777) != 0 || !WriteAndSync(file.Get(), writes, size)) {
    Failed("cannot be written", error);
    if (!named.empty()) unlink(named.c_str());
    return false;
  }
  if (!named.empty()) {
    const int closed = close(file.Release());
    if (closed != 0 || rename(named.c_str(), out.c_str()) != 0) {
      Failed(closed != 0 ? "cannot be written" : "cannot be renamed into place", error);
      unlink(named.c_str());
      return false;
    }
    return true;
  }
  // The complete file gets its name: OUT's own when it is free, else a
  // temporary one that is then renamed over OUT.
  const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
  const auto link_as = [&self](const fs::path& name) {
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  };
  if (link_as(out)) return true;
  if (errno != EEXIST || !TakeTemporaryName(out, named, link_as)) {
    return Failed("cannot be given its name", error);
  }
  if (rename(named.c_str(), out.c_str()) != 0) {
    Failed("cannot be renamed into place", error);
    unlink(named.c_str());
    return false;
  }
  return true;
}

InPlaceWrite ApplyInPlace(const fs::path& path, const std::vector<StampEdit::Write>& writes,
                          uint64_t size) {
  ScopedDescriptor file(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!file.IsValid()) return InPlaceWrite::kNotOpened;
  const bool written = WriteAndSync(file.Get(), writes, size);
  return close(file.Release()) == 0 && written ? InPlaceWrite::kWritten : InPlaceWrite::kNotWritten;
}

}  // namespace mir_attribution
