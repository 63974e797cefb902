#include "mir_installer_win/installer/channel_info_search.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/log_capture.h"
#include "testing/synthetic_pe_image.h"

namespace installer {
namespace {

using test_support::PointsAtRecord;
using test_support::ScopedLogCapture;

using ::testing::ElementsAre;

std::string Le32(uint32_t value) {
  return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                     static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}

std::string Z(size_t count) { return std::string(count, '\0'); }

TEST(ChannelInfoTest, Validity) {
  const struct {
    std::string value;
    bool valid;
  } cases[] = {
      {"src=web", true},
      {"", false},
      {std::string(4096, 'a'), true},
      {std::string(4097, 'a'), false},
      {std::string("a\0b", 3), false},  // REG_SZ would end at the NUL
      {std::string("\0campaign", 9), false},
      {"\x01\x7F", true},
      {"\xC3\xA9", true},
      {"\xF0\x9F\x98\x80", true},
      {"\xEF\xB7\x90", false},      // U+FDD0
      {"\xEF\xB7\xAF", false},      // U+FDEF
      {"\xEF\xB7\xB0", true},       // U+FDF0
      {"\xEF\xBF\xBE", false},      // U+FFFE
      {"\xF0\x9F\xBF\xBF", false},  // U+1FFFF
      {"\xF4\x8F\xBF\xBF", false},  // U+10FFFF
      {"\xED\xA0\x80", false},      // surrogate
      {"\xC0\xAF", false},          // overlong
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xF0\x8F\xBF\xBD", false},  // overlong 4-byte form of U+FFFD
      {"\xF0\x90\x80\x80", true},   // U+10000
      {"\xE2\x82", false},          // truncated
      {"\x80", false},              // stray continuation
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.value.substr(0, 16)));
    EXPECT_EQ(IsValidChannelInfo(c.value), c.valid);
  }
}

TEST(ChannelInfoTest, TrailerForm) {
  const std::string marker(kTrailerMarker);
  const struct {
    const char* name;
    std::string span;
    std::string value;
  } cases[] = {
      {"padded", "junk" + marker + Le32(5) + "hello" + Z(3), "hello"},
      {"unpadded", marker + Le32(5) + "hello", "hello"},
      {"short length", "junk" + marker + Le32(4) + "hello", ""},
      {"non-zero after the value", marker + Le32(5) + "hello\x01", ""},
      {"marker inside the value is the last", marker + Le32(16) + "pre" + marker + "post!", ""},
      {"only the last marker counts", marker + Le32(1) + "a" + marker + Le32(9) + "b", ""},
      {"zero length", "xxxx" + marker + Le32(0), ""},
      {"4096 bytes", marker + Le32(4096) + std::string(4096, 'a'), std::string(4096, 'a')},
      {"4097 bytes", marker + Le32(4097) + std::string(4097, 'a'), ""},
      {"noncharacter", marker + Le32(3) + "\xEF\xB7\x90", ""},
      {"surrogate", marker + Le32(3) + "\xED\xA0\x80", ""},
      {"overlong", marker + Le32(2) + "\xC0\xAF", ""},
      {"inner NUL", marker + Le32(3) + std::string("a\0b", 3), ""},
      {"an M in the value", marker + Le32(17) + "src=Mail-campaign", "src=Mail-campaign"},
      {"a value ending in the marker", marker + Le32(9) + "xMIRBCH01" + Z(4), ""},
      {"eleven bytes", "MIRBCH01" + std::string("\x01\0\0", 3) + Z(5), ""},
      {"zeros only", Z(64), ""},
      {"empty", "", ""},
      {"length field cut by the end", "xxxx" + marker + "\x05", ""},
      {"length field reaching into the padding", "xxxx" + marker + std::string("\x05\0\0\0", 4),
       ""},
      {"huge length cannot wrap", marker + Le32(0xFFFFFFFF) + "abc", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordPlace place;
    EXPECT_EQ(FindChannelInfoTrailer(AsBytes(c.span), &place), c.value);
    EXPECT_TRUE(c.value.empty() || PointsAtRecord(AsBytes(c.span), place, c.value));
  }
}

TEST(ChannelInfoTest, TrailerAfterDerElement) {
  const std::string record = std::string(kTrailerMarker) + Le32(2) + "ok";
  const struct {
    const char* name;
    std::string span;
    std::string value;
  } cases[] = {
      {"short form",
       "\x30\x03"
       "abc" +
           record,
       "ok"},
      {"long form, one length byte",
       "\x30\x81\x03"
       "abc" +
           record,
       "ok"},
      {"long form, 128", "\x30\x81\x80" + std::string(128, 'x') + record, "ok"},
      {"long form, 256", std::string("\x30\x82\x01\x00", 4) + std::string(256, 'x') + record, "ok"},
      // A marker starting in the element's last bytes: a length decoded
      // short, or its header left uncounted, would let the record through.
      {"element of 128 ends one byte into the marker",
       "\x30\x81\x80" + std::string(127, 'x') + record, ""},
      {"element of 256 ends two bytes into the marker",
       std::string("\x30\x82\x01\x00", 4) + std::string(254, 'x') + record, ""},
      {"long form, four length bytes", std::string("\x30\x84\0\0\0\x03", 6) + "abc" + record, "ok"},
      {"element covers the marker", "\x30\x0E" + record, ""},
      {"element overruns the span", "\x30\x7F" + std::string(20, 'x'), ""},
      // Five length bytes that would describe an element ending before the record.
      {"five length bytes", std::string("\x30\x85\0\0\0\0\x03", 7) + "abc" + record, ""},
      {"indefinite length", "\x30\x80" + record, ""},
      {"long form cut short", "\x30\x82\x01", ""},
      {"one byte", "\x30", ""},
      {"tag not examined", std::string("\xFF\x00", 2) + record, "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordPlace place;
    EXPECT_EQ(FindChannelInfoTrailerAfterDer(AsBytes(c.span), &place), c.value);
    EXPECT_TRUE(c.value.empty() || PointsAtRecord(AsBytes(c.span), place, c.value));
  }
}

TEST(ChannelInfoTest, DelimitedForm) {
  const std::string malformed_4097 = "CHANNEL_INFO:" + std::string(4097, 'a') + ":CHANNEL_INFO";
  const struct {
    const char* name;
    std::string span;
    std::string value;
    std::vector<std::string> warnings;
  } cases[] = {
      {"anywhere", "xxCHANNEL_INFO:src=web:CHANNEL_INFOyy", "src=web", {}},
      {"the last wins", "CHANNEL_INFO:a:CHANNEL_INFO CHANNEL_INFO:b:CHANNEL_INFO", "b", {}},
      {"an empty one is skipped",
       "CHANNEL_INFO:a:CHANNEL_INFO CHANNEL_INFO::CHANNEL_INFO",
       "a",
       {"(len=0)"}},
      {"opening tag inside a value",
       "CHANNEL_INFO:xCHANNEL_INFO:y:CHANNEL_INFO",
       "xCHANNEL_INFO:y",
       {}},
      {"no closing tag", "CHANNEL_INFO:abc", "", {}},
      {"too long", malformed_4097, "", {"(len=4097)"}},
      {"ill-formed between good ones",
       "CHANNEL_INFO:a:CHANNEL_INFOCHANNEL_INFO:\xFF:CHANNEL_INFO",
       "a",
       {"(len=1)"}},
      {"closing tag alone", ":CHANNEL_INFO", "", {}},
      {"a NUL in the value",
       std::string("CHANNEL_INFO:\0campaign:CHANNEL_INFO", 35),
       "",
       {"(len=9)"}},
      {"tags overlapping", "CHANNEL_INFO:CHANNEL_INFO", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedLogCapture capture;
    MalformedRecordLog malformed;
    RecordPlace place;
    EXPECT_EQ(FindChannelInfoDelimited(AsBytes(c.span), malformed, &place), c.value);
    EXPECT_TRUE(c.value.empty() || PointsAtRecord(AsBytes(c.span), place, c.value));
    std::vector<std::string> expected;
    for (const std::string& length : c.warnings) {
      expected.push_back(
          "WARNING:mir_installer_win/installer/install_attribution_win:327] "
          "[InstallAttribution] Ignoring malformed CHANNEL_INFO " +
          length);
    }
    EXPECT_EQ(capture.Bodies(), expected);
  }
}

TEST(ChannelInfoTest, MalformedCandidatesCannotFloodTheLog) {
  std::string span;
  for (int i = 0; i < 25; ++i) span += "CHANNEL_INFO::CHANNEL_INFO";
  span += "CHANNEL_INFO:good:CHANNEL_INFO";
  ScopedLogCapture capture;
  EXPECT_EQ(FindChannelInfoDelimited(AsBytes(span)), "good");
  const std::string one =
      "WARNING:mir_installer_win/installer/install_attribution_win:327] "
      "[InstallAttribution] Ignoring malformed CHANNEL_INFO (len=0)";
  std::vector<std::string> expected(kMaxMalformedWarnings, one);
  expected.push_back(
      "WARNING:mir_installer_win/installer/install_attribution_win:328] "
      "[InstallAttribution] Ignoring 15 more malformed CHANNEL_INFO");
  EXPECT_EQ(capture.Bodies(), expected);
}

}  // namespace
}  // namespace installer
