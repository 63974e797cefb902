// The log file's owner on each platform: a HANDLE on Windows, a descriptor in
// the native build of the portable code. The header stays free of windows.h,
// so on Windows the handle travels as the void* a HANDLE is.
#ifndef LOGGING_LOG_FILE_H_
#define LOGGING_LOG_FILE_H_

#include "base/unique_handle.h"

namespace logging {

#if defined(_WIN32)
using NativeFile = void*;
inline constexpr NativeFile kNoFile = nullptr;
#else
using NativeFile = int;
inline constexpr NativeFile kNoFile = -1;
#endif

struct LogFileTraits {
  using Handle = NativeFile;
  static Handle Empty() { return kNoFile; }
  static bool IsHeld(Handle file);  // on Windows, the owned-handle rule
  static void Close(Handle file);
};
using LogFile = base::UniqueHandle<LogFileTraits>;

}  // namespace logging

#endif  // LOGGING_LOG_FILE_H_
