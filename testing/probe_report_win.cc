// What the test programs built beside the tests report. Kept apart from
// starting programs, so that the payload probe, which starts one, stays small.
#include <fstream>

#include "testing/child_process_win.h"

namespace test_support {

std::map<std::string, std::string> ReadProbeReport(const std::filesystem::path& path) {
  std::map<std::string, std::string> report;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) report[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return report;
}

std::wstring SiblingProgram(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / name).wstring();
}

}  // namespace test_support
