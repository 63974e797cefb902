// The native build's stand-ins for the Windows services logging uses, so the
// portable code that logs can be built and tested on the host.
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "logging/logging_platform.h"
#include "strings/utf_string_conversions.h"

namespace logging::platform {
namespace {

// Descriptors travel in a FileHandle as descriptor + 1, so 0 means none.
int Descriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }

}  // namespace

ScopedErrorState::ScopedErrorState() : last_error_(0), errno_(errno) { errno = 0; }

ScopedErrorState::~ScopedErrorState() { errno = errno_; }

LocalTime CurrentLocalTime() {
  timeval now;
  gettimeofday(&now, nullptr);
  tm local;
  localtime_r(&now.tv_sec, &local);
  return {local.tm_mon + 1, local.tm_mday, local.tm_hour,
          local.tm_min,     local.tm_sec,  static_cast<int>(now.tv_usec / 1000)};
}

FileHandle OpenForAppend(const std::wstring& path) {
  const int fd = open(WideToUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return fd < 0 ? nullptr : reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1);
}

bool IsOpenFile(FileHandle file) { return file != nullptr; }

void WriteToFile(FileHandle file, std::string_view bytes) {
  [[maybe_unused]] ssize_t ignored = write(Descriptor(file), bytes.data(), bytes.size());
}

void CloseFile(FileHandle file) { close(Descriptor(file)); }

void DeleteFileIgnoringErrors(const std::wstring& path) { unlink(WideToUtf8(path).c_str()); }

std::wstring DefaultLogFileName() {
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  std::string name(path, length > 0 ? static_cast<size_t>(length) : 0);
  name.resize(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  return Utf8ToWide(name + "debug.log");
}

std::optional<std::wstring> CurrentDirectory() {
  char directory[PATH_MAX];
  if (!getcwd(directory, sizeof(directory))) return std::nullopt;
  return Utf8ToWide(std::string(directory) + "/");
}

void WriteToDebugger(const std::string&) {}

void WriteToStderr(std::string_view line) {
  while (!line.empty()) {
    const ssize_t written = write(2, line.data(), line.size());
    if (written < 0) return;
    line.remove_prefix(static_cast<size_t>(written));
  }
}

std::optional<std::wstring> SystemMessage(uint32_t code, uint32_t&) {
  return Utf8ToWide(std::strerror(static_cast<int>(code)));
}

void Trap() { __builtin_trap(); }

}  // namespace logging::platform
