// The native build's file, for the stamping tool and the tests on the host.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/posix/scoped_descriptor.h"
#include "mir_installer_win/installer/attribution_file.h"

namespace installer {
namespace {

using base::ScopedDescriptor;

class PosixAttributionFile : public AttributionFile {
 public:
  explicit PosixAttributionFile(ScopedDescriptor file) : file_(std::move(file)) {}

  bool Size(int64_t& size, uint32_t& error) override {
    struct stat status;
    if (fstat(file_.Get(), &status) != 0) return Failed(error);
    size = status.st_size;
    return true;
  }
  bool SeekFromStart(int64_t offset, uint32_t& error) override {
    return lseek(file_.Get(), offset, SEEK_SET) >= 0 || Failed(error);
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) override {
    const ssize_t count = ::read(file_.Get(), buffer, size);
    read = count > 0 ? static_cast<uint32_t>(count) : 0;
    return count >= 0;
  }
  void Close() override { file_.Close(); }

 private:
  static bool Failed(uint32_t& error) {
    error = static_cast<uint32_t>(errno);
    return false;
  }

  ScopedDescriptor file_;
};

}  // namespace

std::unique_ptr<AttributionFile> OpenAttributionFile(const NativePathChar* path, uint32_t& error) {
  ScopedDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
  if (!file.IsValid()) {
    error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  return std::make_unique<PosixAttributionFile>(std::move(file));
}

}  // namespace installer
