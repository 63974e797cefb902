// Starting test programs: a command with extra environment variables, and
// reading back the payload probe's report.
#ifndef TESTING_CHILD_PROCESS_WIN_H_
#define TESTING_CHILD_PROCESS_WIN_H_

#include <windows.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/win/scoped_handle.h"

namespace test_support {

using EnvironmentOverrides = std::vector<std::pair<std::wstring, std::wstring>>;

// Calls `start` until it reports success, a few times at most. Wine under
// load sometimes refuses to create a process (CreateProcessW fails with
// ERROR_INTERNAL_ERROR) and takes it on a later try. False with the last
// attempt's error in force when every attempt failed.
bool StartWithRetries(const std::function<bool()>& start);

// Starts `command` with this process's environment plus `overrides` (an
// empty value removes the variable), retrying a refused start. Returns an
// empty handle, with the error in force, when it cannot be started.
base::ScopedHandle StartChild(std::wstring command, const EnvironmentOverrides& overrides,
                              const wchar_t* current_directory = nullptr);

// Starts `command` and waits up to `timeout_ms`; returns its exit code, or
// 0xDEADBEEF when it could not be started or did not end in time.
DWORD RunChild(std::wstring command, const EnvironmentOverrides& overrides,
               DWORD timeout_ms = 30000);

// The probe's key=value report, or an empty map when there is none.
std::map<std::string, std::string> ReadProbeReport(const std::filesystem::path& path);

// The path of a program built next to the running test program.
std::wstring SiblingProgram(const wchar_t* name);

}  // namespace test_support

#endif  // TESTING_CHILD_PROCESS_WIN_H_
