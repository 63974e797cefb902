// The pieces of a log line that need no platform: the header, severity names
// and the one-line form of a system error message.
#ifndef LOGGING_LOG_FORMAT_H_
#define LOGGING_LOG_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace logging {

struct LocalTime {
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// "INFO", "WARNING", "ERROR", "FATAL", "VERBOSEn" for -n, "UNKNOWN" above 3.
std::string SeverityName(int severity);

// A source-file text beginning with "." loses its first six characters
// (build-relative paths such as "..\..\x"); any other text prints whole.
std::string_view PrintedSourceFile(std::string_view file);

// "[MMDD/HHMMSS.mmm:SEVERITY:file:line] ".
std::string FormatLogHeader(const LocalTime& time, int severity, std::string_view file, int line);

// System messages on one line: the ends trimmed, every whitespace run that
// holds a line break removed, every other run made one blank.
std::wstring CollapseErrorText(std::wstring_view text);

// `message` collapsed, as UTF-8, followed by " (0x<code>)".
std::string FormatSystemError(std::wstring_view message, uint32_t code);
// The text used when the system has no message for `code`.
std::string FormatSystemErrorLookupFailure(uint32_t lookup_error, uint32_t code);

}  // namespace logging

#endif  // LOGGING_LOG_FORMAT_H_
