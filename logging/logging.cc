#include "logging/logging.h"

#include <algorithm>
#include <atomic>
#include <optional>

#include "logging/log_format.h"
#include "logging/logging_platform.h"
#include "logging/verbose_levels.h"
#include "strings/utf_string_conversions.h"

namespace logging {
namespace {

// The process-wide state. It is never destroyed: messages may still be
// logged while the process shuts down.
struct LoggingState {
  uint32_t destinations = DestFile;
  std::optional<std::wstring> log_file_name;  // once set, never cleared
  LogFile log_file;
  int minimum_severity = LOG_INFO;
  std::atomic<VerboseTable*> verbose_table{nullptr};
  VerboseSwitchReader verbose_switch_reader = nullptr;
  LineObserver line_observer = nullptr;
};

LoggingState& State() {
  static LoggingState* state = new LoggingState;
  return *state;
}

void CloseLogFile() {
  LoggingState& state = State();
  if (!state.log_file.IsValid()) return;
  state.log_file.Close();
  // A file that came as a handle has no name to reopen it by.
  if (!state.log_file_name) state.destinations &= ~DestFile;
}

bool OpenLogFileIfNeeded() {
  LoggingState& state = State();
  if (state.log_file.IsValid()) return true;
  if (!state.log_file_name) state.log_file_name = platform::DefaultLogFileName();
  if (!(state.destinations & DestFile)) return true;
  // Without a name (the program's own path could not be read), only the
  // current directory is left.
  if (!state.log_file_name->empty()) {
    state.log_file = platform::OpenForAppend(*state.log_file_name);
    if (state.log_file.IsValid()) return true;
  }

  std::optional<std::wstring> directory = platform::CurrentDirectory();
  if (!directory) return false;
  if (directory->empty() || directory->back() != L'\\') directory->push_back(L'\\');
  state.log_file_name = *directory + L"debug.log";
  state.log_file = platform::OpenForAppend(*state.log_file_name);
  return state.log_file.IsValid();
}

void PublishVerboseTable() {
  LoggingState& state = State();
  std::string v, vmodule;
  if (!state.verbose_switch_reader || !state.verbose_switch_reader(v, vmodule)) return;
  if (state.verbose_table.load(std::memory_order_acquire)) return;  // the first table stays
  auto* table = new VerboseTable(v, vmodule, &state.minimum_severity);
  VerboseTable* expected = nullptr;
  if (!state.verbose_table.compare_exchange_strong(expected, table, std::memory_order_acq_rel)) {
    delete table;
  }
}

void EmitLine(LogSeverity severity, const std::string& line) {
  LoggingState& state = State();
  if (state.line_observer) state.line_observer(severity, line);
  if (state.destinations & DestDebugger) platform::WriteToDebugger(line);
  // Errors must reach someone even when the only destination is the file.
  const bool only_file_or_nothing = (state.destinations & ~uint32_t{DestFile}) == 0;
  if ((state.destinations & DestStderr) || (severity >= LOG_ERROR && only_file_or_nothing)) {
    platform::WriteToStderr(line);
  }
  if ((state.destinations & DestFile) && OpenLogFileIfNeeded()) {
    platform::WriteToFile(state.log_file, line);
  }
}

}  // namespace

bool ConfigureLogging(LogSettings settings) {
  LoggingState& state = State();
  PublishVerboseTable();
  state.destinations = settings.destinations;
  if (!(state.destinations & DestFile)) return true;
  CloseLogFile();
  if (settings.log_file_handle.IsValid()) {
    state.log_file = std::move(settings.log_file_handle);
    // Closing an earlier adopted handle dropped the file destination; the
    // new handle is the file these settings ask for.
    state.destinations = settings.destinations;
    return true;
  }
  if (settings.log_file_path.empty()) return false;
  state.log_file_name = settings.log_file_path;
  if (settings.old_file_mode == DeleteOld) platform::DeleteFileIgnoringErrors(*state.log_file_name);
  return OpenLogFileIfNeeded();
}

bool ShouldLog(LogSeverity severity) {
  const LoggingState& state = State();
  return severity >= state.minimum_severity && (state.destinations != 0 || severity >= LOG_ERROR);
}

void ShutDownLogFile() { CloseLogFile(); }

int VerboseLevelFor(std::string_view source_file) {
  const LoggingState& state = State();
  if (const VerboseTable* table = state.verbose_table.load(std::memory_order_acquire)) {
    return table->LevelFor(source_file);
  }
  return std::max(-state.minimum_severity, -1);
}

std::string DescribeSystemError(uint32_t error_code) {
  uint32_t lookup_error = 0;
  if (std::optional<std::wstring> message = platform::SystemMessage(error_code, lookup_error)) {
    return FormatSystemError(*message, error_code);
  }
  return FormatSystemErrorLookupFailure(lookup_error, error_code);
}

void SetVerboseSwitchReader(VerboseSwitchReader reader) { State().verbose_switch_reader = reader; }

void SetLineObserver(LineObserver observer) { State().line_observer = observer; }

LogStream& LogStream::operator<<(std::wstring_view text) {
  out_ << strings::WideToUtf8(text);
  return *this;
}

LogMessage::LogMessage(LogSource source, int line, LogSeverity severity)
    : severity_(severity), source_(source), line_(line) {
  platform::ScopedErrorState keep_errors;
  stream_ << FormatLogHeader(platform::CurrentLocalTime(), severity_, source_.file, line_);
}

LogMessage::~LogMessage() {
  platform::ScopedErrorState keep_errors;
  // Put together outside the stream: an insertion that failed has put the
  // stream in a bad state, and the line must still end with its line feed.
  std::string line = stream_.str();
  line.append(suffix_).push_back('\n');
  EmitLine(severity_, line);
  // Only FATAL ends the process; the unknown severities above it do not.
  if (severity_ == LOG_FATAL) platform::Trap();
}

SystemErrorLogMessage::SystemErrorLogMessage(LogSource source, int line, LogSeverity severity,
                                             uint32_t error_code)
    : LogMessage(source, line, severity), error_code_(error_code) {}

SystemErrorLogMessage::~SystemErrorLogMessage() {
  platform::ScopedErrorState keep_errors;
  AppendAfterStream(": " + DescribeSystemError(error_code_));
}

}  // namespace logging
