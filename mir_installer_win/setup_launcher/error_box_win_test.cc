#include "mir_installer_win/setup_launcher/error_box_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct BoxRequest {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT style;
};
BoxRequest g_request;

int WINAPI RecordBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  g_request = {owner, text, caption, style};
  return IDOK;
}

TEST(ErrorBoxTest, AsksForAnOwnerlessErrorBoxWithOk) {
  SetMessageBoxForTesting(&RecordBox);
  ShowErrorBox(kStartFailedText);
  SetMessageBoxForTesting(nullptr);
  EXPECT_EQ(g_request.owner, nullptr);
  EXPECT_EQ(g_request.caption, L"Mirelo Browser Setup");
  EXPECT_EQ(g_request.text,
            L"Setup could not start the installer. Please run the setup again or contact support.");
  EXPECT_EQ(g_request.style, 0x10u);
}

}  // namespace
