// The lines tests expect in a log, as ScopedLogCapture::Bodies() gives them:
// "SEVERITY:source:line] text", without the timestamp.
//
//   EXPECT_THAT(capture.Bodies(), Contains(LauncherLine(188, "Failed to create temp dir",
//   "ERROR")));
#ifndef TESTING_EXPECTED_LOG_LINE_H_
#define TESTING_EXPECTED_LOG_LINE_H_

#include <string>
#include <string_view>

namespace test_support {

inline std::string ExpectedLogLine(std::string_view source, int line, std::string_view text,
                                   std::string_view severity) {
  return std::string(severity) + ":" + std::string(source) + ":" + std::to_string(line) + "] " +
         std::string(text);
}

// A line of the launcher's run.
inline std::string LauncherLine(int line, std::string_view text,
                                std::string_view severity = "INFO") {
  return ExpectedLogLine("mir_installer_win/setup_launcher/setup_launcher_main", line, text,
                         severity);
}

// A line of the attribution code, which starts every text with its tag.
inline std::string AttributionLine(int line, std::string_view text,
                                   std::string_view severity = "INFO") {
  return ExpectedLogLine("mir_installer_win/installer/install_attribution_win", line,
                         "[InstallAttribution] " + std::string(text), severity);
}

}  // namespace test_support

#endif  // TESTING_EXPECTED_LOG_LINE_H_
