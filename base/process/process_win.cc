#include "base/process/process_win.h"

namespace base {
namespace {

constexpr DWORD kKillWaitMilliseconds = 60000;

}  // namespace

DWORD WaitMilliseconds(int64_t microseconds) {
  int64_t milliseconds;
  if (microseconds == std::numeric_limits<int64_t>::max()) {
    milliseconds = std::numeric_limits<int64_t>::max();
  } else if (microseconds == std::numeric_limits<int64_t>::min()) {
    milliseconds = std::numeric_limits<int64_t>::min();
  } else {
    milliseconds = microseconds / 1000;
  }
  if (milliseconds < 0) return 0;
  if (milliseconds > int64_t{0xFFFFFFFF}) return INFINITE;
  return static_cast<DWORD>(milliseconds);
}

Process Process::Current() {
  Process process;
  process.is_current_ = true;
  return process;
}

DWORD Process::ProcessId() const {
  if (!IsUsable()) return 0;
  return ::GetProcessId(Handle());
}

bool Process::WaitForExitWithTimeout(int64_t microseconds, DWORD* exit_code) const {
  if (::WaitForSingleObject(Handle(), WaitMilliseconds(microseconds)) != WAIT_OBJECT_0) {
    return false;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(Handle(), &code)) return false;
  if (exit_code) *exit_code = code;
  return true;
}

bool Process::Kill(DWORD exit_code, bool wait) const {
  if (::TerminateProcess(Handle(), exit_code)) {
    if (wait) ::WaitForSingleObject(Handle(), kKillWaitMilliseconds);
    return true;
  }
  // It may already be ending; then it counts as killed once it has ended.
  if (!wait) return false;
  if (::WaitForSingleObject(Handle(), kKillWaitMilliseconds) != WAIT_OBJECT_0) return false;
  DWORD ignored;
  ::GetExitCodeProcess(Handle(), &ignored);
  return true;
}

}  // namespace base
