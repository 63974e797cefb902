#include "base/files/file_util.h"

namespace base {

FileErrorCode ToFileErrorCode(uint32_t windows_error) {
  switch (windows_error) {
    case 32:
    case 1175:
    case 1176:
    case 1177:
      return kFileErrorInUse;
    case 80:
    case 183:
      return kFileErrorExists;
    case 2:
    case 3:
      return kFileErrorNotFound;
    case 5:
    case 33:
      return kFileErrorAccessDenied;
    case 4:
      return kFileErrorTooManyOpened;
    case 8:
    case 14:
      return kFileErrorNoMemory;
    case 39:
    case 112:
    case 314:
      return kFileErrorNoSpace;
    case 1224:
      return kFileErrorInvalidOperation;
    case 21:
    case 27:
    case 31:
    case 55:
    case 1117:
    case 1127:
    case 1392:
    case 1393:
      return kFileErrorIo;
    default:
      return kFileErrorFailed;
  }
}

}  // namespace base
