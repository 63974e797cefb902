// A directory that is this process's own from the moment it exists: made
// new (nothing of that name may be there, not even a link), with an access
// list that grants only the user, SYSTEM and the Administrators, inherits
// nothing from its parent (%TEMP% may be C:\Windows\Temp, where any user may
// add to subfolders), and is passed on to everything created inside it. The
// directory is opened by the very call that creates it, so the handle is that
// directory, whatever happens to its name afterwards.
//
//   base::ScopedHandle hold;
//   if (!base::CreatePrivateDirectory(path, hold)) return false;  // GetLastError() says why
#ifndef BASE_FILES_PRIVATE_DIRECTORY_WIN_H_
#define BASE_FILES_PRIVATE_DIRECTORY_WIN_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {

// The security descriptor such a directory is made with: a protected DACL
// of three entries (the process's user, SYSTEM, the Administrators), each
// with full access, passed on to files and folders inside.
class PrivateDirectorySecurity {
 public:
  // False, with the Windows error in force, when the user's SID cannot be
  // read or the descriptor cannot be built.
  bool Build();
  PSECURITY_DESCRIPTOR descriptor() const { return descriptor_.Get(); }

 private:
  ScopedLocalMemory descriptor_;
};

// Creates `path` (its parent must exist) and leaves it open in `hold`,
// shared for reading and writing but not deletion, so that it can be neither
// renamed nor removed while held. False, with `hold` empty and the Windows
// error in force (ERROR_ALREADY_EXISTS for any existing name), on failure.
bool CreatePrivateDirectory(const PathValue& path, ScopedHandle& hold);

}  // namespace base

#endif  // BASE_FILES_PRIVATE_DIRECTORY_WIN_H_
