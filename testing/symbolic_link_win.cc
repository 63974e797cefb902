#include "testing/symbolic_link_win.h"

#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "strings/utf_string_conversions.h"

namespace test_support {
namespace {

using UnixFileName = char*(CDECL*)(const wchar_t*);

// Wine's conversion of a Windows path to a Unix one; null on Windows.
UnixFileName WineUnixFileName() {
  return reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

// The Unix path Wine gives `path`, whose folder must exist. Wine keeps
// "\\host\share\rest" in <prefix>/dosdevices/unc/host/share/rest, which need
// not exist yet.
std::string UnixPath(UnixFileName unix_file_name, const std::wstring& path) {
  if (path.rfind(L"\\\\", 0) == 0) {
    const std::string drive = UnixPath(unix_file_name, L"C:\\");  // ".../dosdevices/c:/"
    if (drive.size() < 3) return std::string();
    std::string rest = strings::WideToUtf8(path.substr(2));
    for (char& c : rest) c = c == '\\' ? '/' : c;
    return drive.substr(0, drive.size() - 3) + "unc/" + rest;
  }
  char* name = unix_file_name(path.c_str());
  if (!name) return std::string();
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// Runs `script` with /bin/sh, the Unix paths of `paths` as $1, $2, ..., and
// waits until it has succeeded (a marker file appears): Wine gives no handle
// to a Unix program. False after ten seconds.
bool RunShell(UnixFileName unix_file_name, const std::string& script,
              std::initializer_list<std::wstring> paths) {
  const std::wstring marker = *paths.begin() + L".done";
  std::string command =
      "sh -c \"(" + script + ") && : >\\\"$0\\\"\" \"" + UnixPath(unix_file_name, marker) + "\"";
  for (const std::wstring& path : paths) {
    const std::string unix_path = UnixPath(unix_file_name, path);
    if (unix_path.empty()) return false;
    command += " \"" + unix_path + "\"";
  }
  std::wstring wide_command = strings::Utf8ToWide(command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", wide_command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &started)) {
    return false;
  }
  if (started.hProcess) CloseHandle(started.hProcess);
  if (started.hThread) CloseHandle(started.hThread);
  for (int i = 0; i < 1000; ++i) {
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
      DeleteFileW(marker.c_str());
      return true;
    }
    Sleep(10);
  }
  return false;
}

}  // namespace

ScopedSymbolicLink::ScopedSymbolicLink(std::wstring link, const std::wstring& target,
                                       bool directory)
    : link_(std::move(link)), directory_(directory) {
  if (const UnixFileName unix_file_name = WineUnixFileName()) {
    made_ = RunShell(unix_file_name,
                     "mkdir -p \\\"$(dirname \\\"$2\\\")\\\" && ln -s \\\"$2\\\" \\\"$1\\\"",
                     {link_, target});
  } else {
    made_ = CreateSymbolicLinkW(link_.c_str(), target.c_str(),
                                (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                                    SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
  }
}

ScopedSymbolicLink::~ScopedSymbolicLink() {
  if (!made_) return;
  if (const UnixFileName unix_file_name = WineUnixFileName()) {
    RunShell(unix_file_name, "rm -f \\\"$1\\\"", {link_});
  } else if (directory_) {
    RemoveDirectoryW(link_.c_str());
  } else {
    DeleteFileW(link_.c_str());
  }
}

}  // namespace test_support
