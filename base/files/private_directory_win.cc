#include "base/files/private_directory_win.h"

#include <windows.h>
#include <winternl.h>

#include <vector>

#include "base/win/system_library.h"

namespace base {
namespace {

// The user's SID from the process token, SYSTEM's and the Administrators'.
struct Trustees {
  std::vector<BYTE> user;
  BYTE system[SECURITY_MAX_SID_SIZE] = {};
  BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
};

bool QueryTrustees(Trustees& trustees) {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return false;
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return false;
  const PSID user = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  const BYTE* user_bytes = static_cast<const BYTE*>(user);
  trustees.user.assign(user_bytes, user_bytes + ::GetLengthSid(user));
  DWORD system_size = sizeof(trustees.system);
  DWORD administrators_size = sizeof(trustees.administrators);
  return ::CreateWellKnownSid(WinLocalSystemSid, nullptr, trustees.system, &system_size) &&
         ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, trustees.administrators,
                              &administrators_size);
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
  Trustees trustees;
  if (!QueryTrustees(trustees)) return false;
  const PSID sids[] = {const_cast<BYTE*>(trustees.user.data()), const_cast<BYTE*>(trustees.system),
                       const_cast<BYTE*>(trustees.administrators)};
  DWORD size = sizeof(ACL);
  for (PSID sid : sids) size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid);
  acl_.assign(size, 0);
  auto* acl = reinterpret_cast<ACL*>(acl_.data());
  if (!::InitializeAcl(acl, size, ACL_REVISION)) return false;
  for (PSID sid : sids) {
    if (!::AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                 FILE_ALL_ACCESS, sid)) {
      return false;
    }
  }
  return ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
         ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
         ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
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
