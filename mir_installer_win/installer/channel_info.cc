#include "mir_installer_win/installer/channel_info.h"

#include <cstdint>

#include "absl/strings/str_format.h"
#include "strings/utf_string_conversions.h"

namespace installer {
namespace {

// The value rule, checked once for both the yes-or-no answer and the reason.
enum class ValueFault { kNone, kEmpty, kTooLong, kNul, kIllFormed, kNoncharacter };
struct ValueCheck {
  ValueFault fault = ValueFault::kNone;
  size_t position = 0;  // the first byte of the fault
  uint32_t code_point = 0;
};

ValueCheck CheckChannelInfo(std::string_view value) {
  if (value.empty()) return {ValueFault::kEmpty};
  if (value.size() > kMaxChannelInfoLength) return {ValueFault::kTooLong};
  for (size_t position = 0; position < value.size();) {
    if (value[position] == '\0') return {ValueFault::kNul, position};
    size_t length = 0;
    const uint32_t code_point = strings::DecodeUtf8Sequence(value.substr(position), length);
    if (code_point == strings::kInvalidCodePoint) return {ValueFault::kIllFormed, position};
    if (strings::IsNoncharacter(code_point)) {
      return {ValueFault::kNoncharacter, position, code_point};
    }
    position += length;
  }
  return {};
}

}  // namespace

bool IsValidChannelInfo(std::string_view value) {
  return CheckChannelInfo(value).fault == ValueFault::kNone;
}

std::string ChannelInfoProblem(std::string_view value) {
  const ValueCheck check = CheckChannelInfo(value);
  const std::string at = " (byte " + std::to_string(check.position) + ")";
  switch (check.fault) {
    case ValueFault::kNone:
      return std::string();
    case ValueFault::kEmpty:
      return "the value is empty";
    case ValueFault::kTooLong:
      return "the value is " + std::to_string(value.size()) + " bytes long; at most " +
             std::to_string(kMaxChannelInfoLength) + " are stored";
    case ValueFault::kNul:
      return "the value holds a NUL byte" + at + ", where the stored string would end";
    case ValueFault::kIllFormed:
      return "the value is not well-formed UTF-8" + at;
    case ValueFault::kNoncharacter:
      return absl::StrFormat("the value holds the noncharacter U+%04X", check.code_point) + at;
  }
  return "the value is refused";
}

}  // namespace installer
