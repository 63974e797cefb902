#include "mir_installer_win/setup_launcher/installation_probe_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "product/product_details.h"
#include "testing/expected_log_line.h"
#include "testing/log_capture.h"
#include "testing/scoped_registry_key_win.h"

namespace setup_launcher {
namespace {

using test_support::LauncherLine;
using test_support::ScopedLogCapture;
using test_support::ScopedRegistryTree;

using ::testing::ElementsAre;

class InstallationProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { product::InitProductDetails(); }

  ScopedRegistryTree uninstall_{
      HKEY_CURRENT_USER,
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelo Browser"};
  ScopedLogCapture capture_;
};

std::vector<std::string> Opening() {
  return {LauncherLine(112, "[IsAlreadyInstalled] START"),
          LauncherLine(115, "[IsAlreadyInstalled] Product: Mirelo Browser"),
          LauncherLine(123,
                       "[IsAlreadyInstalled] Registry key path: Software\\Microsoft\\Windows\\"
                       "CurrentVersion\\Uninstall\\Mirelo Browser"),
          LauncherLine(126, "[IsAlreadyInstalled] Opening registry key...")};
}

std::vector<std::string> ThroughOpen() {
  std::vector<std::string> lines = Opening();
  lines.push_back(LauncherLine(133, "[IsAlreadyInstalled] Registry key opened successfully"));
  lines.push_back(LauncherLine(136, "[IsAlreadyInstalled] Reading InstallLocation value..."));
  return lines;
}

TEST_F(InstallationProbeTest, NoKeyIsAFirstInstall) {
  EXPECT_FALSE(IsAlreadyInstalled());
  std::vector<std::string> expected = Opening();
  expected.push_back(LauncherLine(129,
                                  "[IsAlreadyInstalled] Registry key not found (first install), "
                                  "returning false"));
  EXPECT_EQ(capture_.Bodies(), expected);
}

TEST_F(InstallationProbeTest, ValueOutcomes) {
  const DWORD number = 1;
  const struct {
    const char* name;
    std::function<void(const ScopedRegistryTree&)> set_up;
    bool installed;
    std::vector<std::string> tail;
  } cases[] = {
      {"key without value",
       [](const ScopedRegistryTree& tree) { tree.SetString(L"DisplayName", L"Mirelo Browser"); },
       false,
       {LauncherLine(139,
                     "[IsAlreadyInstalled] InstallLocation value not found, error code: 2, "
                     "returning false")}},
      {"REG_DWORD value",
       [&](const ScopedRegistryTree& tree) {
         tree.SetRaw(L"InstallLocation", REG_DWORD, &number, 4);
       },
       false,
       {LauncherLine(139,
                     "[IsAlreadyInstalled] InstallLocation value not found, error code: 1012, "
                     "returning false")}},
      {"empty value",
       [](const ScopedRegistryTree& tree) { tree.SetString(L"InstallLocation", L""); },
       false,
       {LauncherLine(143, "[IsAlreadyInstalled] InstallLocation read successfully: "),
        LauncherLine(145, "[IsAlreadyInstalled] Result: NOT INSTALLED"),
        LauncherLine(146, "[IsAlreadyInstalled] END - returning false")}},
      {"installed in a directory that is gone",
       [](const ScopedRegistryTree& tree) {
         tree.SetString(L"InstallLocation", L"C:\\No\\Such\\Mir\u00E9lo");
       },
       true,
       {LauncherLine(143,
                     "[IsAlreadyInstalled] InstallLocation read successfully: "
                     "C:\\No\\Such\\Mir\xC3\xA9lo"),
        LauncherLine(145, "[IsAlreadyInstalled] Result: INSTALLED"),
        LauncherLine(146, "[IsAlreadyInstalled] END - returning true")}},
      {"blanks count as installed",
       [](const ScopedRegistryTree& tree) { tree.SetString(L"InstallLocation", L"  "); },
       true,
       {LauncherLine(143, "[IsAlreadyInstalled] InstallLocation read successfully:   "),
        LauncherLine(145, "[IsAlreadyInstalled] Result: INSTALLED"),
        LauncherLine(146, "[IsAlreadyInstalled] END - returning true")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedRegistryTree tree(HKEY_CURRENT_USER, uninstall_.path());
    c.set_up(tree);
    ScopedLogCapture capture;
    EXPECT_EQ(IsAlreadyInstalled(), c.installed);
    std::vector<std::string> expected = ThroughOpen();
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(capture.Bodies(), expected);
  }
}

TEST_F(InstallationProbeTest, MachineWideRegistrationIsNotSeen) {
  ScopedRegistryTree machine(HKEY_LOCAL_MACHINE, uninstall_.path());
  ASSERT_EQ(machine.SetString(L"InstallLocation", L"C:\\Program Files\\Mirelo"), ERROR_SUCCESS);
  EXPECT_FALSE(IsAlreadyInstalled());
}

}  // namespace
}  // namespace setup_launcher
