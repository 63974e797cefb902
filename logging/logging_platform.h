// What logging needs from the operating system. logging_win.cc implements it
// with Win32, logging_posix.cc for the native build of the portable code.
#ifndef LOGGING_LOGGING_PLATFORM_H_
#define LOGGING_LOGGING_PLATFORM_H_

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logging/log_format.h"
#include "logging/logging.h"

namespace logging::platform {

// Saves errno and the thread's last-error code and zeroes both; the
// destructor puts them back.
class ScopedErrorState {
 public:
  ScopedErrorState();
  ~ScopedErrorState();
  ScopedErrorState(const ScopedErrorState&) = delete;
  ScopedErrorState& operator=(const ScopedErrorState&) = delete;

 private:
  [[maybe_unused]] uint32_t last_error_;  // Windows only
  int errno_;
};

LocalTime CurrentLocalTime();

// A file opened for appending with read and write sharing, or an empty owner
// when the name is not a plain file with one link (a directory, a device, a
// symbolic or hard link), so that the log never writes through a link.
LogFile OpenForAppend(const std::wstring& path);
// One write call; the result is of no interest.
void WriteToFile(const LogFile& file, std::string_view bytes);
void DeleteFileIgnoringErrors(const std::wstring& path);

// The running program's directory with "debug.log" appended; empty when the
// program's path cannot be read whole.
std::wstring DefaultLogFileName();
// The current directory, or nothing when it cannot be read into 260 characters.
std::optional<std::wstring> CurrentDirectory();

void WriteToDebugger(const std::string& line);
void WriteToStderr(std::string_view line);

// Hands `bytes` to `write` (one system write call: the count it wrote, or a
// negative value) again and again until all are written. Stops when a call
// fails or writes nothing: a full pipe that does not block would otherwise
// keep the statement spinning.
template <typename Write>
void WriteFully(std::string_view bytes, Write write) {
  while (!bytes.empty()) {
    const auto written = write(bytes);
    if (written <= 0) return;
    bytes.remove_prefix(std::min(static_cast<size_t>(written), bytes.size()));
  }
}

// The system's message for `code`, or nothing with the lookup's own error.
std::optional<std::wstring> SystemMessage(uint32_t code, uint32_t& lookup_error);

[[noreturn]] void Trap();

}  // namespace logging::platform

#endif  // LOGGING_LOGGING_PLATFORM_H_
