// Collects the lines a test logs, and points the log file at a temporary
// file, so that tests see exactly what was emitted and leave nothing behind.
//
//   ScopedLogCapture capture;
//   LOG_AT(kSource, 12, INFO) << "hello";
//   EXPECT_THAT(capture.Bodies(), ElementsAre("INFO:src:12] hello"));
#ifndef TESTING_LOG_CAPTURE_H_
#define TESTING_LOG_CAPTURE_H_

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "logging/logging.h"
#include "testing/scoped_temp_dir.h"

namespace test_support {

class ScopedLogCapture {
 public:
  explicit ScopedLogCapture(uint32_t destinations = logging::DestFile) {
    Lines().clear();
    logging::LogSettings settings;
    settings.destinations = destinations;
    settings.log_file_path = dir_.Wide(L"capture.log");
    settings.old_file_mode = logging::DeleteOld;
    logging::ConfigureLogging(std::move(settings));
    logging::SetLineObserver(&Observe);
  }
  ~ScopedLogCapture() {
    logging::SetLineObserver(nullptr);
    logging::ShutDownLogFile();
    logging::ConfigureLogging(logging::LogSettings());  // no destinations: nothing written
  }
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  // Whole lines, header and line feed included.
  const std::vector<std::string>& lines() const { return Lines(); }

  // Each line without its timestamp and line feed: "INFO:file:line] text".
  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const std::string& line : Lines()) bodies.push_back(Body(line));
    return bodies;
  }

  static std::string Body(std::string_view line) {
    constexpr size_t kTimestampLength = 17;  // "[MMDD/HHMMSS.mmm:"
    if (line.size() < kTimestampLength) return std::string(line);
    line.remove_prefix(kTimestampLength);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return std::string(line);
  }

  // True when `line` starts with "[MMDD/HHMMSS.mmm:" and ends in one line feed.
  static bool HasTimestampAndLineFeed(std::string_view line) {
    constexpr std::string_view kShape = "[dddd/dddddd.ddd:";
    if (line.size() <= kShape.size() || line.back() != '\n') return false;
    if (line.find('\n') != line.size() - 1 || line.find('\r') != std::string_view::npos)
      return false;
    for (size_t i = 0; i < kShape.size(); ++i) {
      const bool digit = line[i] >= '0' && line[i] <= '9';
      if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
    }
    return true;
  }

  // A log file's lines, each checked for its timestamp and reduced to its body.
  static std::vector<std::string> FileBodies(std::string_view content) {
    std::vector<std::string> bodies;
    while (!content.empty()) {
      const size_t end = std::min(content.find('\n'), content.size() - 1) + 1;
      const std::string_view line = content.substr(0, end);
      bodies.push_back(HasTimestampAndLineFeed(line) ? Body(line)
                                                     : "<malformed> " + std::string(line));
      content.remove_prefix(end);
    }
    return bodies;
  }

  std::wstring log_file() const { return dir_.Wide(L"capture.log"); }

 private:
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  static void Observe(logging::LogSeverity, std::string_view line) { Lines().emplace_back(line); }

  ScopedTempDir dir_;
};

}  // namespace test_support

#endif  // TESTING_LOG_CAPTURE_H_
