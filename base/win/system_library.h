// Functions of DLLs that are not among Windows' known DLLs (shell32's
// dependencies, userenv, ...), resolved at run time from the System32 copy
// only. The launcher runs from a Downloads folder where anyone may have left
// a DLL of such a name: imported statically, it would be loaded from there
// before wWinMain. So the import table names only known DLLs, and the rest
// comes through here, and only on the path that needs it.
//
//   SystemFunction<decltype(&::SHGetFolderPathW)> get_folder(L"shell32.dll", "SHGetFolderPathW");
//   if (!get_folder) return false;  // GetLastError() says why
//   HRESULT result = get_folder(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, buffer);
#ifndef BASE_WIN_SYSTEM_LIBRARY_H_
#define BASE_WIN_SYSTEM_LIBRARY_H_

#include <windows.h>

#include <utility>

#include "base/win/scoped_handle.h"

namespace base {

// `library` from System32, never from the program's folder or the path.
inline ScopedLibrary LoadSystemLibrary(const wchar_t* library) {
  return ScopedLibrary(::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// One function of a System32 library, which stays loaded while this lives.
template <typename Function>
class SystemFunction {
 public:
  SystemFunction(const wchar_t* library, const char* name) : library_(LoadSystemLibrary(library)) {
    if (library_.IsValid()) {
      function_ = reinterpret_cast<Function>(
          reinterpret_cast<void*>(::GetProcAddress(library_.Get(), name)));
    }
  }

  // Whether the library itself could be loaded.
  bool library_loaded() const { return library_.IsValid(); }
  explicit operator bool() const { return function_ != nullptr; }

  template <typename... Arguments>
  auto operator()(Arguments&&... arguments) const {
    return function_(std::forward<Arguments>(arguments)...);
  }

 private:
  ScopedLibrary library_;
  Function function_ = nullptr;
};

}  // namespace base

#endif  // BASE_WIN_SYSTEM_LIBRARY_H_
