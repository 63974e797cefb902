#include "base/files/file_util.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(FileUtilTest, ToFileErrorCode) {
  const struct {
    uint32_t windows_error;
    FileErrorCode code;
  } cases[] = {{32, kFileErrorInUse},
               {1177, kFileErrorInUse},
               {80, kFileErrorExists},
               {183, kFileErrorExists},
               {2, kFileErrorNotFound},
               {3, kFileErrorNotFound},
               {5, kFileErrorAccessDenied},
               {33, kFileErrorAccessDenied},
               {4, kFileErrorTooManyOpened},
               {14, kFileErrorNoMemory},
               {112, kFileErrorNoSpace},
               {314, kFileErrorNoSpace},
               {1224, kFileErrorInvalidOperation},
               {21, kFileErrorIo},
               {1393, kFileErrorIo},
               {0, kFileErrorFailed},
               {87, kFileErrorFailed},
               {145, kFileErrorFailed}};
  for (const auto& c : cases)
    EXPECT_EQ(ToFileErrorCode(c.windows_error), c.code) << c.windows_error;
}

}  // namespace
}  // namespace base
