// Preloaded (LD_PRELOAD) by tests to make a program's writes fail the way a
// full or failing disk makes them fail, which a test cannot arrange on a
// shared machine:
//   MIR_FAIL_IO=enospc:N  once N bytes are written, a write that would grow
//                         a file fails with ENOSPC; overwriting, and growing
//                         a file with ftruncate, still work, as on a full disk
//   MIR_FAIL_IO=sync      fsync, and the close of a descriptor that was
//                         written, fail with EIO (where a device reports a
//                         write it could not make)
//   MIR_FAIL_IO=fsync     fsync alone fails with EIO: a local disk reports a
//                         lost write there, not at close
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long long> written_bytes{0};
std::atomic<bool> written_descriptor[4096];

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

const char* Mode() {
  const char* mode = std::getenv("MIR_FAIL_IO");
  return mode ? mode : "";
}

// Whether writing `count` bytes at `offset` (-1: the descriptor's position)
// must fail; records the write.
bool MustFail(int descriptor, size_t count, off_t offset = -1) {
  if (descriptor >= 0 && descriptor < 4096) written_descriptor[descriptor] = true;
  if (std::strncmp(Mode(), "enospc:", 7) != 0) return false;
  struct stat status;
  if (offset < 0) offset = lseek(descriptor, 0, SEEK_CUR);
  const bool grows = fstat(descriptor, &status) != 0 || offset < 0 ||
                     offset + static_cast<off_t>(count) > status.st_size;
  if (grows && written_bytes + static_cast<long long>(count) > std::atoll(Mode() + 7)) {
    errno = ENOSPC;
    return true;
  }
  written_bytes += static_cast<long long>(count);
  return false;
}

bool SyncFails(int descriptor, bool closing) {
  const bool fails =
      std::strcmp(Mode(), "sync") == 0 || (!closing && std::strcmp(Mode(), "fsync") == 0);
  if (!fails || descriptor < 0 || descriptor >= 4096 || !written_descriptor[descriptor]) {
    return false;
  }
  errno = EIO;
  return true;
}

}  // namespace

extern "C" {

ssize_t write(int descriptor, const void* bytes, size_t count) {
  if (MustFail(descriptor, count)) return -1;
  return Next<ssize_t (*)(int, const void*, size_t)>("write")(descriptor, bytes, count);
}

ssize_t writev(int descriptor, const struct iovec* vector, int parts) {
  size_t count = 0;
  for (int i = 0; i < parts; ++i) count += vector[i].iov_len;
  if (MustFail(descriptor, count)) return -1;
  return Next<ssize_t (*)(int, const struct iovec*, int)>("writev")(descriptor, vector, parts);
}

ssize_t pwrite(int descriptor, const void* bytes, size_t count, off_t offset) {
  if (MustFail(descriptor, count, offset)) return -1;
  return Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(descriptor, bytes, count,
                                                                      offset);
}

ssize_t pwrite64(int descriptor, const void* bytes, size_t count, off_t offset) {
  return pwrite(descriptor, bytes, count, offset);
}

ssize_t copy_file_range(int in, loff_t* in_offset, int out, loff_t* out_offset, size_t count,
                        unsigned int flags) {
  if (MustFail(out, count, out_offset ? *out_offset : -1)) return -1;
  return Next<ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned int)>("copy_file_range")(
      in, in_offset, out, out_offset, count, flags);
}

int fsync(int descriptor) {
  if (SyncFails(descriptor, false)) return -1;
  return Next<int (*)(int)>("fsync")(descriptor);
}

int close(int descriptor) {
  const bool fails = SyncFails(descriptor, true);
  if (descriptor >= 0 && descriptor < 4096) written_descriptor[descriptor] = false;
  const int closed = Next<int (*)(int)>("close")(descriptor);
  if (fails) errno = EIO;
  return fails ? -1 : closed;
}

}  // extern "C"
