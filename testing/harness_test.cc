// The test harness itself: boxes really block under the null driver and can
// be read and dismissed, and the payload probe reports what it was given.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "testing/box_watcher_win.h"
#include "testing/child_process_win.h"
#include "testing/scoped_temp_dir.h"

namespace test_support {
namespace {

TEST(BoxWatcherTest, ReadsAndDismissesABlockingBox) {
  int result = 0;
  std::thread shower([&] {
    result = MessageBoxW(nullptr, L"Something failed.", L"Harness Box", MB_OK | MB_ICONERROR);
  });
  std::optional<BoxInfo> box = WaitForBox(L"Harness Box", 10000);
  shower.join();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, L"Harness Box");
  EXPECT_EQ(box->text, L"Something failed.");
  EXPECT_FALSE(box->has_owner);
  EXPECT_TRUE(box->has_icon);
  EXPECT_TRUE(box->has_ok_button);
  EXPECT_EQ(result, IDOK);
}

TEST(BoxWatcherTest, NoBoxIsNoBox) { EXPECT_FALSE(WaitForBox(L"No Such Box", 100).has_value()); }

TEST(PayloadProbeTest, ReportsItsStartAndExitsWithTheGivenCode) {
  ScopedTempDir dir;
  const std::wstring probe = SiblingProgram(L"payload_probe.exe");
  for (DWORD code : {0u, 7u, 0xC0000005u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(code);
    const DWORD exit_code = RunChild(L"\"" + probe + L"\" --silent x",
                                     {{L"MIR_PROBE_REPORT", dir.Wide(L"report.txt")},
                                      {L"MIR_PROBE_EXIT_CODE", std::to_wstring(code)},
                                      {L"MIR_PROBE_ECHO_ENV", L"MIR_PROBE_EXIT_CODE,MIR_NOT_SET"}});
    EXPECT_EQ(exit_code, code);
    auto report = ReadProbeReport(dir.path() / "report.txt");
    EXPECT_NE(report["command_line"].find("--silent x"), std::string::npos);
    EXPECT_EQ(report["env.MIR_PROBE_EXIT_CODE"], std::to_string(code));
    EXPECT_EQ(report["env.MIR_NOT_SET"], "<unset>");
    EXPECT_EQ(report["file_size"], std::to_string(std::filesystem::file_size(probe)));
  }
}

}  // namespace
}  // namespace test_support
