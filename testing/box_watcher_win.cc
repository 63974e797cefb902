#include "testing/box_watcher_win.h"

namespace test_support {
namespace {

constexpr int kBoxTextControl = 0xFFFF;

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  GetWindowTextW(window, buffer, 4096);
  return buffer;
}

bool HasIcon(HWND box) {
  // The icon control's id differs between Wine (0x440) and Windows (0x14).
  for (int id : {0x440, 0x14}) {
    HWND control = GetDlgItem(box, id);
    if (control && SendMessageW(control, STM_GETICON, 0, 0) != 0) return true;
  }
  return false;
}

}  // namespace

std::optional<BoxInfo> DismissBoxOnce(const wchar_t* caption) {
  HWND box = FindWindowW(L"#32770", caption);
  if (!box || !IsWindowVisible(box) || !GetDlgItem(box, kBoxTextControl)) return std::nullopt;
  BoxInfo info;
  info.caption = WindowText(box);
  wchar_t text[4096] = {};
  GetDlgItemTextW(box, kBoxTextControl, text, 4096);
  info.text = text;
  info.has_owner = GetWindow(box, GW_OWNER) != nullptr;
  info.has_icon = HasIcon(box);
  info.has_ok_button = GetDlgItem(box, IDOK) != nullptr;
  info.has_cancel_button = GetDlgItem(box, IDCANCEL) != nullptr;
  // WM_CLOSE would answer IDCANCEL under Wine; the user presses OK.
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(10);
  return info;
}

std::optional<BoxInfo> WaitForBox(const wchar_t* caption, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  do {
    if (auto box = DismissBoxOnce(caption)) return box;
    Sleep(20);
  } while (GetTickCount64() < deadline);
  return std::nullopt;
}

WatchedRun WaitWatchingBoxes(HANDLE process, const wchar_t* caption, DWORD timeout_ms) {
  WatchedRun run;
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (GetTickCount64() < deadline) {
    if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0) {
      run.exited = true;
      GetExitCodeProcess(process, &run.exit_code);
      return run;
    }
    if (auto box = DismissBoxOnce(caption)) run.boxes.push_back(*box);
  }
  TerminateProcess(process, 0xDEAD);
  WaitForSingleObject(process, 5000);
  return run;
}

}  // namespace test_support
