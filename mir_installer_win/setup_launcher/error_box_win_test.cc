#include "mir_installer_win/setup_launcher/error_box_win.h"

#include <gtest/gtest.h>

namespace setup_launcher {
namespace {

UINT g_style = 0;

int WINAPI RecordStyle(HWND, const wchar_t*, const wchar_t*, UINT style) {
  g_style = style;
  return IDOK;
}

// Caption, text, owner, button and the presence of an icon are read from
// the real boxes by the end-to-end tests; which icon it is, only here.
TEST(ErrorBoxTest, AsksForTheErrorIconAndOneOkButton) {
  SetMessageBoxForTesting(&RecordStyle);
  ShowErrorBox(kStartFailedText);
  SetMessageBoxForTesting(nullptr);
  EXPECT_EQ(g_style, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(g_style, 0x10u);
}

}  // namespace
}  // namespace setup_launcher
