// The owner of a POSIX file descriptor, for the native build's file code:
// closed once, on every path.
//
//   base::ScopedDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
//   if (!file.IsValid()) ... errno says why
#ifndef BASE_POSIX_SCOPED_DESCRIPTOR_H_
#define BASE_POSIX_SCOPED_DESCRIPTOR_H_

#include <unistd.h>

#include "base/unique_handle.h"

namespace base {

struct DescriptorTraits {
  using Handle = int;
  static Handle Empty() { return -1; }
  static bool IsHeld(Handle descriptor) { return descriptor >= 0; }
  static void Close(Handle descriptor) { close(descriptor); }
};
using ScopedDescriptor = UniqueHandle<DescriptorTraits>;

}  // namespace base

#endif  // BASE_POSIX_SCOPED_DESCRIPTOR_H_
