#include "logging/log_format.h"

#include <algorithm>

#include "absl/strings/str_format.h"
#include "strings/string_util.h"
#include "strings/utf_string_conversions.h"

namespace logging {

std::string SeverityName(int severity) {
  if (severity < 0) return "VERBOSE" + std::to_string(-static_cast<int64_t>(severity));
  switch (severity) {
    case 0:
      return "INFO";
    case 1:
      return "WARNING";
    case 2:
      return "ERROR";
    case 3:
      return "FATAL";
    default:
      return "UNKNOWN";
  }
}

std::string_view PrintedSourceFile(std::string_view file) {
  if (!file.empty() && file[0] == '.') return file.substr(std::min<size_t>(6, file.size()));
  return file;
}

std::string FormatLogHeader(const LocalTime& time, int severity, std::string_view file, int line) {
  return absl::StrFormat("[%02d%02d/%02d%02d%02d.%03d:%s:%s:%d] ", time.month, time.day, time.hour,
                         time.minute, time.second, time.millisecond, SeverityName(severity),
                         PrintedSourceFile(file), line);
}

std::wstring CollapseErrorText(std::wstring_view text) {
  text = strings::TrimWideWhitespace(text, strings::TrimPositions::kBoth);
  std::wstring result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (!strings::IsUnicodeWhitespace(text[i])) {
      result.push_back(text[i++]);
      continue;
    }
    bool has_line_break = false;
    for (; i < text.size() && strings::IsUnicodeWhitespace(text[i]); ++i) {
      has_line_break = has_line_break || text[i] == L'\r' || text[i] == L'\n';
    }
    if (!has_line_break) result.push_back(L' ');
  }
  return result;
}

std::string FormatSystemError(std::wstring_view message, uint32_t code) {
  return strings::WideToUtf8(CollapseErrorText(message)) + absl::StrFormat(" (0x%lX)", code);
}

std::string FormatSystemErrorLookupFailure(uint32_t lookup_error, uint32_t code) {
  return absl::StrFormat("Error (0x%lX) while retrieving error. (0x%lX)", lookup_error, code);
}

}  // namespace logging
