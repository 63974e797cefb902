// The locator's file stage against a file that fails where it is told to.
#include "mir_installer_win/installer/attribution_locator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/expected_log_line.h"
#include "testing/log_capture.h"
#include "testing/synthetic_pe_image.h"

namespace installer {
namespace {

using test_support::AttributionLine;
using test_support::ScopedLogCapture;

// A file of `size` bytes (zeros, with `content` at `content_at`, none of
// them held but the content) whose reads fail, or end early as a file that
// shrank does, as a case asks.
class FakeSource : public ByteSource {
 public:
  struct Faults {
    bool size_fails = false;
    int failing_read = -1;  // the first read is 0
    int short_read = -1;    // that read gets half of what was asked, then the end
    bool read_returns_nothing = false;
  };
  FakeSource(uint64_t size, std::string_view content, uint64_t content_at, Faults faults)
      : size_(size), content_(content), content_at_(content_at), faults_(faults) {}

  bool Size(uint64_t& size, uint32_t& error) override {
    if (faults_.size_fails) return Fail(6, error);
    size = size_;
    return true;
  }
  bool ReadAt(uint64_t offset, MutableByteSpan into, uint32_t& error) override {
    const int call = reads_++;
    if (call == faults_.failing_read) return Fail(23, error);
    uint64_t count = into.size();
    if (call == faults_.short_read) count /= 2;
    if (faults_.read_returns_nothing) count = 0;
    for (uint64_t i = 0, at = offset; i < count; ++i, ++at) {
      into[i] =
          at >= content_at_ && at - content_at_ < content_.size() ? content_[at - content_at_] : 0;
    }
    return count == into.size() || Fail(kReadPastEnd, error);
  }

 private:
  static bool Fail(uint32_t code, uint32_t& error) {
    error = code;
    return false;
  }

  uint64_t size_;
  std::string_view content_;
  uint64_t content_at_;
  Faults faults_;
  int reads_ = 0;
};

constexpr uint64_t kTwoMebibytes = 2 * 1048576;

TEST(AttributionLocatorTest, ReadFailuresAreLoggedAndGiveNothing) {
  const std::string record = "CHANNEL_INFO:d=1:CHANNEL_INFO";
  const struct {
    const char* name;
    uint64_t size;
    uint64_t record_at;
    FakeSource::Faults faults;
    std::string value;
    std::vector<std::string> lines;
  } cases[] = {
      {"the size cannot be read",
       4096,
       0,
       {.size_fails = true},
       "",
       {AttributionLine(504, "GetFileSizeEx failed: 6", "ERROR")}},
      {"the tail cannot be read",
       4096,
       0,
       {.failing_read = 0},
       "",
       {AttributionLine(536, "ReadFile (tail window) failed", "ERROR")}},
      {"the tail reads nothing",
       4096,
       0,
       {.read_returns_nothing = true},
       "",
       {AttributionLine(536, "ReadFile (tail window) failed", "ERROR")}},
      {"a tail read that the file's end cuts short",
       4096,
       100,
       {.short_read = 0},
       "",
       {AttributionLine(536, "ReadFile (tail window) failed", "ERROR")}},
      {"a record in the last MiB of a larger file",
       kTwoMebibytes,
       kTwoMebibytes - 100,
       {},
       "d=1",
       {AttributionLine(545,
                        "CHANNEL_INFO from file tail window (1048576 bytes, same idea as "
                        "4f51b96/8656c3c2)")}},
      {"a file of 512 MiB, the most the launcher reads",
       536870912,
       0,
       {},
       "",
       {AttributionLine(558,
                        "Tail window miss; file_size=536870912 exceeds whole-file PE scan limit "
                        "67108864 \xE2\x80\x94 skip loading entire image.")}},
      {"a file over 512 MiB",
       536870913,
       0,
       {},
       "",
       {AttributionLine(511, "File size out of range: 536870913 (max 536870912)", "ERROR")}},
      {"the whole image cannot be read",
       kTwoMebibytes,
       0,
       {.failing_read = 1},
       "",
       {AttributionLine(577, "ReadFile (full image) failed", "ERROR")}},
      {"the whole image reads short",
       kTwoMebibytes,
       0,
       {.short_read = 1},
       "",
       {AttributionLine(577, "ReadFile (full image) failed", "ERROR")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedLogCapture capture;
    RecordPlace place;
    EXPECT_EQ(FindAttributionInFile(
                  std::make_unique<FakeSource>(c.size, record, c.record_at, c.faults), &place),
              c.value);
    EXPECT_EQ(capture.Bodies(), c.lines);
    if (!c.value.empty()) {
      EXPECT_EQ(place.offset, c.record_at);
    }
  }
}

// However many entries and searches a file takes, its malformed records give
// ten lines one by one and then one with the count of the rest.
TEST(AttributionLocatorTest, OneWarningBudgetPerFile) {
  test_support::SyntheticImage image = test_support::BaseSyntheticImage();
  image.PadTo(0x200).Put32(0x12C, 2000 * 40);
  const std::string entry = std::string("\x27\0\0\0\0\x02\x02\0\x30\x03\x02\x01\x01", 13) +
                            "CHANNEL_INFO::CHANNEL_INFO" + std::string(1, '\0');
  for (int i = 0; i < 2000; ++i) image.Append(entry);
  ScopedLogCapture capture;
  EXPECT_EQ(FindAttributionInFile(std::make_unique<MemorySource>(image.bytes)), "");
  std::vector<std::string> expected(
      10, AttributionLine(327, "Ignoring malformed CHANNEL_INFO (len=0)", "WARNING"));
  expected.push_back(
      AttributionLine(479,
                      "No CHANNEL_INFO after PE-buffer attempts; cert_rva=512 data_dir_size=80000 "
                      "first_dwLength=39 table_bytes_used=80000 file_size=80512"));
  // Each of the 2,000 is met by the tail search, the walk and the scan.
  expected.push_back(AttributionLine(328, "Ignoring 5990 more malformed CHANNEL_INFO", "WARNING"));
  EXPECT_EQ(capture.Bodies(), expected);
}

}  // namespace
}  // namespace installer
