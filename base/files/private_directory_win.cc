#include "base/files/private_directory_win.h"

#include <windows.h>
// After windows.h, whose types they use.
#include <sddl.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "base/win/system_library.h"

namespace base {
namespace {

// The user's SID from the process token, as SDDL writes it.
bool QueryUserSid(std::wstring& sid) {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return false;
  std::vector<BYTE> buffer(size);
  wchar_t* text = nullptr;
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size) ||
      !::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid,
                                &text)) {
    return false;
  }
  const ScopedLocalMemory owner(text);
  sid = text;
  return true;
}

// The native calls, from ntdll (never imported: the import table names only
// DLLs that Windows always takes from System32, and ntdll's functions are
// looked up in the System32 copy).
struct NativeCalls {
  SystemFunction<decltype(&::RtlDosPathNameToNtPathName_U)> to_nt_path{
      L"ntdll.dll", "RtlDosPathNameToNtPathName_U"};
  SystemFunction<decltype(&::RtlFreeUnicodeString)> free_string{L"ntdll.dll",
                                                                "RtlFreeUnicodeString"};
  SystemFunction<decltype(&::NtCreateFile)> create_file{L"ntdll.dll", "NtCreateFile"};
  SystemFunction<decltype(&::RtlNtStatusToDosError)> to_error{L"ntdll.dll",
                                                              "RtlNtStatusToDosError"};
  bool Complete() const { return to_nt_path && free_string && create_file && to_error; }
};

}  // namespace

bool PrivateDirectorySecurity::Build() {
  std::wstring user;
  if (!QueryUserSid(user)) return false;
  // Protected (P): nothing is inherited from the parent. Full access (FA) for
  // each, passed on to files (OI) and folders (CI) inside.
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return false;
  }
  descriptor_.Reset(descriptor);
  return true;
}

bool CreatePrivateDirectory(const PathValue& path, ScopedHandle& hold) {
  hold.Close();
  PrivateDirectorySecurity security;
  if (!security.Build()) return false;
  const NativeCalls native;
  if (!native.Complete()) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  UNICODE_STRING nt_path = {};
  if (!native.to_nt_path(path.Text().c_str(), &nt_path, nullptr, nullptr)) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &nt_path, OBJ_CASE_INSENSITIVE, nullptr,
                             security.descriptor());
  IO_STATUS_BLOCK io = {};
  HANDLE directory = nullptr;
  // FILE_CREATE: a name that exists in any form, a link included, is failure;
  // FILE_OPEN_REPARSE_POINT: should that ever be a link, it is not followed.
  const NTSTATUS status = native.create_file(
      &directory, FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL | SYNCHRONIZE, &attributes,
      &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
      FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  native.free_string(&nt_path);
  if (status < 0) {
    ::SetLastError(native.to_error(status));
    return false;
  }
  hold.Reset(directory);
  return true;
}

}  // namespace base
