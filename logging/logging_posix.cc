// The native build's stand-ins for the Windows services logging uses, so the
// portable code that logs can be built and tested on the host.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "logging/logging_platform.h"
#include "strings/utf_string_conversions.h"

namespace logging {

bool LogFileTraits::IsHeld(Handle file) { return file >= 0; }

void LogFileTraits::Close(Handle file) { close(file); }

namespace platform {

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

LogFile OpenForAppend(const std::wstring& path) {
  LogFile file(open(strings::WideToUtf8(path).c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  struct stat info;
  if (!file.IsValid() || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_nlink != 1) {
    return LogFile();  // only a plain file with this one name
  }
  return file;
}

void WriteToFile(const LogFile& file, std::string_view bytes) {
  [[maybe_unused]] ssize_t ignored = write(file.Get(), bytes.data(), bytes.size());
}

void DeleteFileIgnoringErrors(const std::wstring& path) {
  unlink(strings::WideToUtf8(path).c_str());
}

std::wstring DefaultLogFileName() {
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return std::wstring();
  std::string name(path, static_cast<size_t>(length));
  name.resize(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  return strings::Utf8ToWide(name + "debug.log");
}

std::optional<std::wstring> CurrentDirectory() {
  char directory[PATH_MAX];
  if (!getcwd(directory, sizeof(directory))) return std::nullopt;
  return strings::Utf8ToWide(std::string(directory) + "/");
}

void WriteToDebugger(const std::string&) {}

void WriteToStderr(std::string_view line) {
  WriteFully(line, [](std::string_view rest) { return write(2, rest.data(), rest.size()); });
}

std::optional<std::wstring> SystemMessage(uint32_t code, uint32_t&) {
  return strings::Utf8ToWide(std::strerror(static_cast<int>(code)));
}

void Trap() { __builtin_trap(); }

}  // namespace platform
}  // namespace logging
