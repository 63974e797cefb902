#include "command_line/command_line.h"

#include <algorithm>

#include "logging/logging.h"
#include "strings/string_util.h"
#include "strings/utf_string_conversions.h"

namespace command_line {
namespace {

constexpr logging::LogSource kSource{"command_line/command_line"};
constexpr std::wstring_view kSwitchTerminator = L"--";
constexpr std::wstring_view kSingleArgument = L"single-argument";

std::wstring_view TrimBoth(std::wstring_view text) {
  return strings::TrimWideWhitespace(text, strings::TrimPositions::kBoth);
}

void CheckLowerCase(std::string_view name) {
  if (strings::AsciiToLower(name) != name) {
    LOG_AT(kSource, 1, FATAL) << "Switch names must be queried in lower case: " << name;
  }
}

}  // namespace

size_t SwitchPrefixLength(std::wstring_view text) {
  if (text.size() >= 2 && text.substr(0, 2) == L"--") return 2;
  if (!text.empty() && (text[0] == L'-' || text[0] == L'/')) return 1;
  return 0;
}

bool SplitSwitch(std::wstring_view element, std::wstring& name, std::wstring& value) {
  const size_t prefix = SwitchPrefixLength(element);
  if (prefix == 0 || prefix == element.size()) return false;
  const size_t equals = element.find(L'=');
  name = std::wstring(element.substr(0, equals));
  value =
      equals == std::wstring_view::npos ? std::wstring() : std::wstring(element.substr(equals + 1));
  return true;
}

CommandLine::CommandLine() : elements_(1) {}

CommandLine::CommandLine(const base::PathValue& program) : elements_(1) { SetProgramPath(program); }

CommandLine CommandLine::FromCommandText(std::wstring_view text) {
  CommandLine command_line;
  command_line.ParseCommandText(text);
  return command_line;
}

void CommandLine::ParseCommandText(std::wstring_view text) {
  const std::wstring_view trimmed = TrimBoth(text);
  if (trimmed.empty()) return;
  raw_command_text_ = trimmed;
  // The splitter gets everything from the first non-blank character to the
  // end of the caller's text, trailing blanks included.
  const std::wstring terminated(text.substr(static_cast<size_t>(trimmed.data() - text.data())));
  ResetFromArgumentList(SplitCommandText(terminated.c_str()));
  raw_command_text_ = {};
}

void CommandLine::ResetFromArgumentList(const StringVector& list) {
  elements_.assign(1, std::wstring());
  switches_.clear();
  begin_args_ = 1;
  SetProgramPath(list.empty() ? base::PathValue() : base::PathValue(list[0]));
  AddSwitchesAndArguments(list, 1);
}

base::PathValue CommandLine::ProgramPath() const { return base::PathValue(elements_[0]); }

void CommandLine::SetProgramPath(const base::PathValue& path) {
  elements_[0] = std::wstring(TrimBoth(path.Text()));
}

void CommandLine::AddSwitch(std::string_view name) { AddSwitchWithValue(name, {}); }

void CommandLine::AddSwitchWithValue(std::string_view name, std::wstring_view value) {
  const std::string key = strings::AsciiToLower(name);
  std::wstring element = strings::Utf8ToWide(key);
  const size_t prefix = SwitchPrefixLength(element);
  switches_[key.substr(prefix)] = std::wstring(value);
  if (prefix == 0) element.insert(0, L"--");
  if (!value.empty()) element.append(L"=").append(value);
  elements_.insert(elements_.begin() + begin_args_, std::move(element));
  ++begin_args_;
}

void CommandLine::AddSwitchesAndArguments(const StringVector& list, size_t first) {
  bool parse_switches = true;
  for (size_t i = first; i < list.size(); ++i) {
    const std::wstring element(TrimBoth(list[i]));
    if (element == kSwitchTerminator) {
      parse_switches = false;
    } else if (std::wstring name, value; parse_switches && SplitSwitch(element, name, value)) {
      if (!raw_command_text_.empty() &&
          std::wstring_view(name).substr(SwitchPrefixLength(name)) == kSingleArgument) {
        TakeRestAsSingleArgument(name);
        return;
      }
      AddSwitchWithValue(strings::WideToUtf8(name), value);
      continue;
    }
    elements_.push_back(element);
  }
}

void CommandLine::TakeRestAsSingleArgument(std::wstring_view switch_text) {
  elements_.resize(static_cast<size_t>(begin_args_));
  const size_t position = raw_command_text_.find(switch_text);
  // One character after the switch is skipped: the blank, or the "=" of a value.
  size_t start = switch_text.size();
  if (position != std::wstring_view::npos) start += position + 1;
  if (start >= raw_command_text_.size()) return;
  single_argument_ = true;
  elements_.emplace_back(raw_command_text_.substr(start));
}

bool CommandLine::IsSwitchPresent(std::string_view name) const {
  CheckLowerCase(name);
  return switches_.count(std::string(name)) > 0;
}

std::wstring CommandLine::SwitchValueWide(std::string_view name) const {
  CheckLowerCase(name);
  const auto found = switches_.find(std::string(name));
  return found == switches_.end() ? std::wstring() : found->second;
}

std::string CommandLine::SwitchValueAscii(std::string_view name) const {
  const std::wstring value = SwitchValueWide(name);
  return strings::IsAsciiText(value) ? strings::WideToUtf8(value) : std::string();
}

base::PathValue CommandLine::SwitchValuePath(std::string_view name) const {
  return base::PathValue(SwitchValueWide(name));
}

CommandLine::StringVector CommandLine::PlainArguments() const {
  return StringVector(elements_.begin() + begin_args_, elements_.end());
}

std::wstring CommandLine::QuoteArgument(std::wstring_view text) {
  if (text.find_first_of(L" \t\\\"") == std::wstring_view::npos) return std::wstring(text);
  std::wstring quoted = L"\"";
  for (size_t i = 0; i < text.size();) {
    if (text[i] == L'\\') {
      const size_t run_end = std::min(text.find_first_not_of(L'\\', i), text.size());
      // Backslashes are doubled only where a quote follows them: the text's
      // own quote or the closing one.
      const bool before_quote = run_end == text.size() || text[run_end] == L'"';
      quoted.append((run_end - i) * (before_quote ? 2 : 1), L'\\');
      i = run_end;
    } else if (text[i] == L'"') {
      quoted.append(L"\\\"");
      ++i;
    } else {
      quoted.push_back(text[i++]);
    }
  }
  quoted.push_back(L'"');
  return quoted;
}

std::wstring CommandLine::ArgumentsText() const {
  std::wstring text;
  bool parse_switches = true;
  for (size_t i = 1; i < elements_.size(); ++i) {
    const std::wstring& element = elements_[i];
    const bool is_terminator = element == kSwitchTerminator;
    if (i > 1) text.push_back(L' ');
    std::wstring name, value;
    if (parse_switches && !is_terminator && SplitSwitch(element, name, value)) {
      text.append(name);
      if (!value.empty()) text.append(L"=").append(QuoteArgument(value));
    } else if (single_argument_) {
      text.append(L"--").append(kSingleArgument).append(L" ").append(element);
    } else {
      text.append(QuoteArgument(element));
    }
    parse_switches = parse_switches && !is_terminator;
  }
  return text;
}

std::wstring CommandLine::CommandText() const {
  std::wstring text = QuoteArgument(elements_[0]);
  const std::wstring arguments = ArgumentsText();
  if (!arguments.empty()) text.append(L" ").append(arguments);
  return text;
}

}  // namespace command_line
