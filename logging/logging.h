// Process-wide logging: one line of text per statement, to a log file, the
// debugger and standard error.
//
// Every statement names a fixed source location, because log readers key on
// the location printed in the header, not on where the code happens to live:
//
//   constexpr logging::LogSource kLauncher{"mir_installer_win/setup_launcher/setup_launcher_main"};
//   LOG_AT(kLauncher, 330, INFO) << "Setup Launcher Starting";
//   PLOG_AT(kLauncher, 52, ERROR, ::GetLastError()) << "GetModuleHandle failed";
//
// The gate (ShouldLog) is asked first; when it says no, nothing of the
// statement is evaluated. Creating and emitting a message leaves errno and
// the thread's last-error code as they were.
#ifndef LOGGING_LOGGING_H_
#define LOGGING_LOGGING_H_

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "logging/log_file.h"

namespace logging {

using LogSeverity = int;
inline constexpr LogSeverity LOG_VERBOSE = -1;
inline constexpr LogSeverity LOG_INFO = 0;
inline constexpr LogSeverity LOG_WARNING = 1;
inline constexpr LogSeverity LOG_ERROR = 2;
inline constexpr LogSeverity LOG_FATAL = 3;

enum LoggingDestination : uint32_t {
  DestFile = 1,      // the log file
  DestDebugger = 2,  // OutputDebugStringA
  DestStderr = 4,    // descriptor 2
};

enum OldFileMode : int32_t { DeleteOld = 0, AppendToOld = 1 };

struct LogSettings {
  uint32_t destinations = 0;
  std::wstring log_file_path;
  OldFileMode old_file_mode = AppendToOld;
  LogFile log_file_handle;  // an open file to log into instead of a path; logging takes it
};

// Applies `settings`. Returns true, or, when file output was asked for
// through a path, whether that file could be opened.
bool ConfigureLogging(LogSettings settings);

// True when a statement of `severity` would be emitted anywhere.
bool ShouldLog(LogSeverity severity);

// Closes the log file; a later message reopens it by name and appends.
void ShutDownLogFile();

// The verbose level in force for statements from `source_file`.
int VerboseLevelFor(std::string_view source_file);

// The system's text for a Windows error code on one line, with " (0xCODE)".
std::string DescribeSystemError(uint32_t error_code);

// The "v" and "vmodule" switches of the process command line. Logging asks
// this reader only once the command line exists; it returns false until then.
using VerboseSwitchReader = bool (*)(std::string& v, std::string& vmodule);
void SetVerboseSwitchReader(VerboseSwitchReader reader);

// Sees every emitted line (header, text and line feed) before it is written:
// the hook where event tracing, and tests, attach.
using LineObserver = void (*)(LogSeverity severity, std::string_view line);
void SetLineObserver(LineObserver observer);

// A source-file text with static lifetime, printed in every line's header.
struct LogSource {
  const char* file;
};

// Collects one message; numbers go in as decimal (8-bit integers too), wide
// text and paths as UTF-8.
class LogStream {
 public:
  template <typename T>
  LogStream& operator<<(const T& value) {
    out_ << value;
    return *this;
  }
  LogStream& operator<<(unsigned char value) { return *this << static_cast<unsigned>(value); }
  LogStream& operator<<(signed char value) { return *this << static_cast<int>(value); }
  LogStream& operator<<(const char* text) {
    return *this << std::string_view(text ? text : "(null)");
  }
  LogStream& operator<<(std::wstring_view text);
  LogStream& operator<<(const std::wstring& text) { return *this << std::wstring_view(text); }
  LogStream& operator<<(const wchar_t* text) {
    return *this << std::wstring_view(text ? text : L"(null)");
  }
  LogStream& operator<<(const base::PathValue& path) { return *this << path.ToUtf8(); }

  std::string str() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

class LogMessage {
 public:
  LogMessage(LogSource source, int line, LogSeverity severity);
  virtual ~LogMessage();  // emits the line
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  LogStream& stream() { return stream_; }

 protected:
  // Text that follows the streamed text whatever became of the stream.
  void AppendAfterStream(std::string_view text) { suffix_.append(text); }

 private:
  LogSeverity severity_;
  LogSource source_;
  int line_;
  LogStream stream_;
  std::string suffix_;
};

// Appends ": " and DescribeSystemError(error_code) before it is emitted.
class SystemErrorLogMessage : public LogMessage {
 public:
  SystemErrorLogMessage(LogSource source, int line, LogSeverity severity, uint32_t error_code);
  ~SystemErrorLogMessage() override;

 private:
  uint32_t error_code_;
};

// Lets the statement macros be expressions of type void.
struct LogMessageVoidify {
  void operator&(LogStream&) {}
};

}  // namespace logging

#define MIR_LAZY_LOG_STREAM(message, severity) \
  !::logging::ShouldLog(severity) ? (void)0 : ::logging::LogMessageVoidify() & (message).stream()

#define LOG_AT(source, line, severity)                                                \
  MIR_LAZY_LOG_STREAM(::logging::LogMessage(source, line, ::logging::LOG_##severity), \
                      ::logging::LOG_##severity)

#define PLOG_AT(source, line, severity, error_code)                                          \
  MIR_LAZY_LOG_STREAM(                                                                       \
      ::logging::SystemErrorLogMessage(source, line, ::logging::LOG_##severity, error_code), \
      ::logging::LOG_##severity)

#endif  // LOGGING_LOGGING_H_
