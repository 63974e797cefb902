// The native build's file, for the stamping tool, the nginx module and the
// tests on the host.
#include "mir_installer_win/installer/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "base/posix/scoped_descriptor.h"

namespace installer {
namespace {

bool Failed(uint32_t& error) {
  error = static_cast<uint32_t>(errno);
  return false;
}

// Reads with pread, so the descriptor's position is left alone; closes it
// when it owns it.
class DescriptorSource final : public ByteSource {
 public:
  DescriptorSource(int descriptor, base::ScopedDescriptor owned)
      : descriptor_(descriptor), owned_(std::move(owned)) {}

  bool Size(uint64_t& size, uint32_t& error) override {
    struct stat status;
    if (fstat(descriptor_, &status) != 0) return Failed(error);
    size = static_cast<uint64_t>(status.st_size);
    return true;
  }
  bool ReadAt(uint64_t offset, MutableByteSpan into, uint32_t& error) override {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) - into.size()) {
      error = kReadPastEnd;
      return false;
    }
    for (size_t done = 0; done < into.size();) {
      const ssize_t got = pread(descriptor_, into.data() + done, into.size() - done,
                                static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return Failed(error);
      if (got == 0) {
        error = kReadPastEnd;
        return false;
      }
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int descriptor_;
  base::ScopedDescriptor owned_;
};

}  // namespace

std::unique_ptr<ByteSource> BorrowedDescriptorSource(int descriptor) {
  return std::make_unique<DescriptorSource>(descriptor, base::ScopedDescriptor());
}

std::unique_ptr<ByteSource> OpenFileSource(const NativePathChar* path, uint32_t& error) {
  base::ScopedDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
  if (!file.IsValid()) {
    Failed(error);
    return nullptr;
  }
  const int descriptor = file.Get();
  return std::make_unique<DescriptorSource>(descriptor, std::move(file));
}

}  // namespace installer
