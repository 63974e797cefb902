// Process: the owner of a child process's handle. Destroying it closes the
// handle; the child itself keeps running.
#ifndef BASE_PROCESS_PROCESS_WIN_H_
#define BASE_PROCESS_PROCESS_WIN_H_

#include <windows.h>

#include <cstdint>
#include <limits>

#include "base/win/scoped_handle.h"

namespace base {

class Process {
 public:
  static constexpr int64_t kMaxDuration = std::numeric_limits<int64_t>::max();  // microseconds

  Process() = default;
  // Takes ownership; a value that is not held under the owned-handle rule
  // (null, INVALID_HANDLE_VALUE, a pseudo-handle) makes an empty Process.
  explicit Process(HANDLE handle) : handle_(handle) {}
  // The running process itself, through its pseudo-handle.
  static Process Current();

  Process(Process&&) = default;
  Process& operator=(Process&&) = default;

  bool IsUsable() const { return is_current_ || handle_.IsValid(); }
  HANDLE Handle() const { return is_current_ ? ::GetCurrentProcess() : handle_.Get(); }
  // 0 for an empty object or when the query fails.
  DWORD ProcessId() const;

  // Waits up to `microseconds`; on exit stores the exit code (when
  // `exit_code` is given) and returns true. A time-out or failure returns
  // false and leaves `exit_code` alone.
  bool WaitForExitWithTimeout(int64_t microseconds, DWORD* exit_code) const;
  bool WaitUntilExit(DWORD* exit_code) const {
    return WaitForExitWithTimeout(kMaxDuration, exit_code);
  }
  // Terminates the process; with `wait`, waits up to a minute for it to end.
  bool Kill(DWORD exit_code, bool wait) const;

 private:
  ScopedHandle handle_;
  bool is_current_ = false;
};

// The wait time WaitForSingleObject gets for a duration in microseconds.
DWORD WaitMilliseconds(int64_t microseconds);

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_WIN_H_
