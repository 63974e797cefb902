// Finds the modal message boxes a program under test shows, reads them and
// presses OK, so that tests can check a box that should block the program.
//
//   WatchedRun run = WaitWatchingBoxes(process, L"Mirelo Browser Setup", 30000);
//   ASSERT_EQ(run.boxes.size(), 1u);
//   EXPECT_EQ(run.boxes[0].text, L"...");
#ifndef TESTING_BOX_WATCHER_WIN_H_
#define TESTING_BOX_WATCHER_WIN_H_

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct BoxInfo {
  std::wstring caption;
  std::wstring text;
  bool has_owner = false;
  bool has_icon = false;
  bool has_ok_button = false;
  bool has_cancel_button = false;
};

// Looks for a visible box with `caption` once; when there is one, reads it
// and dismisses it with OK.
std::optional<BoxInfo> DismissBoxOnce(const wchar_t* caption);

// Waits up to `timeout_ms` for a box with `caption`, then dismisses it.
std::optional<BoxInfo> WaitForBox(const wchar_t* caption, DWORD timeout_ms);

struct WatchedRun {
  bool exited = false;  // false: still running after the timeout (it has been killed)
  DWORD exit_code = 0;
  std::vector<BoxInfo> boxes;
};

// Waits for `process` to end, dismissing every box with `caption` it shows.
WatchedRun WaitWatchingBoxes(HANDLE process, const wchar_t* caption, DWORD timeout_ms);

}  // namespace test_support

#endif  // TESTING_BOX_WATCHER_WIN_H_
