#include "command_line/process_command_line.h"

#include "logging/logging.h"
#include "strings/utf_string_conversions.h"

namespace command_line {
namespace {

// Created once at start-up and never freed; only read afterwards.
CommandLine* g_process_command_line = nullptr;

bool ReadVerboseSwitches(std::string& v, std::string& vmodule) {
  const CommandLine* command_line = GetProcessCommandLine();
  if (!command_line ||
      !(command_line->IsSwitchPresent("v") || command_line->IsSwitchPresent("vmodule"))) {
    return false;
  }
  v = command_line->SwitchValueAscii("v");
  vmodule = command_line->SwitchValueAscii("vmodule");
  return true;
}

}  // namespace

bool InitProcessCommandLine() {
  if (g_process_command_line) return false;
  g_process_command_line = new CommandLine();
  logging::SetVerboseSwitchReader(&ReadVerboseSwitches);
  const std::string config = ReadCommandConfig();
  g_process_command_line->ParseCommandText(AppendCommandConfig(ProcessCommandText(), config));
  return true;
}

const CommandLine* GetProcessCommandLine() { return g_process_command_line; }

bool IsProcessCommandLineReady() { return g_process_command_line != nullptr; }

std::wstring AppendCommandConfig(std::wstring typed, std::string_view config) {
  if (!config.empty()) typed.append(L" ").append(strings::Utf8ToWide(config));
  return typed;
}

}  // namespace command_line
