// Sets an environment variable of this process for one test and puts the
// earlier value (or its absence) back afterwards.
#ifndef TESTING_SCOPED_ENVIRONMENT_VARIABLE_WIN_H_
#define TESTING_SCOPED_ENVIRONMENT_VARIABLE_WIN_H_

#include <windows.h>

#include <string>

namespace test_support {

class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(name, old, 32768);
    had_value_ = length > 0 && length < 32768;
    if (had_value_) old_ = std::wstring(old, length);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironmentVariable() {
    SetEnvironmentVariableW(name_, had_value_ ? old_.c_str() : nullptr);
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  const wchar_t* name_;
  bool had_value_;
  std::wstring old_;
};

}  // namespace test_support

#endif  // TESTING_SCOPED_ENVIRONMENT_VARIABLE_WIN_H_
