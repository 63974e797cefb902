#include "mir_installer_win/installer/attribution_slot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mir_installer_win/installer/channel_info_search.h"
#include "testing/synthetic_pe_image.h"

namespace installer {
namespace {

using test_support::SyntheticImage;

TEST(AttributionSlotTest, FillsTheSlotOrNamesWhyNot) {
  const std::string longest(4096, 'a');
  const struct {
    std::string value;
    RecordForm form;
    std::string record;  // or, when empty, part of the reason
    std::string error;
  } cases[] = {
      {"src=web", RecordForm::kTrailer, std::string("MIRBCH01\x07\0\0\0src=web", 19), ""},
      {"src=web", RecordForm::kDelimited, "CHANNEL_INFO:src=web:CHANNEL_INFO", ""},
      {longest, RecordForm::kTrailer, std::string("MIRBCH01\0\x10\0\0", 12) + longest, ""},
      {longest, RecordForm::kDelimited, "", "the record is 4122 bytes; the slot holds 4112"},
      {"xMIRBCH01y", RecordForm::kDelimited, "CHANNEL_INFO:xMIRBCH01y:CHANNEL_INFO", ""},
      {"xMIRBCH01y", RecordForm::kTrailer, "", "cannot carry a value that holds \"MIRBCH01\""},
      {"a:CHANNEL_INFOb", RecordForm::kDelimited, "", "holds \":CHANNEL_INFO\""},
      {std::string("a\0b", 3), RecordForm::kDelimited, "", "holds a NUL byte (byte 1)"},
      {std::string("\0abc", 4), RecordForm::kTrailer, "", "holds a NUL byte (byte 0)"},
      {"", RecordForm::kTrailer, "", "the value is empty"},
      {longest + "a", RecordForm::kTrailer, "", "4097 bytes long"},
      {"bad\xFF", RecordForm::kTrailer, "", "not well-formed UTF-8 (byte 3)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.value.substr(0, 16)));
    // Bytes of an earlier, longer record must not survive.
    std::vector<uint8_t> slot(kAttributionSlotSize, 0xAA);
    std::string error;
    ASSERT_EQ(FillAttributionSlot(c.value, c.form, slot, error), c.error.empty());
    EXPECT_THAT(error, testing::HasSubstr(c.error));
    if (!c.error.empty()) continue;
    std::vector<uint8_t> expected(c.record.begin(), c.record.end());
    expected.resize(kAttributionSlotSize);
    EXPECT_EQ(slot, expected);
    // The launcher's searches find the value again behind a signature.
    slot.insert(slot.begin(), {0x30, 0x01, 0x00});
    EXPECT_EQ(c.form == RecordForm::kTrailer ? FindChannelInfoTrailerAfterDer(slot)
                                             : FindChannelInfoDelimited(slot),
              c.value);
  }
}

TEST(AttributionSlotTest, EncodesBothForms) {
  std::string record, error;
  ASSERT_TRUE(EncodeRecord("src=web", RecordForm::kTrailer, record, error));
  EXPECT_EQ(record, std::string("MIRBCH01\x07\0\0\0src=web", 19));
  ASSERT_TRUE(EncodeRecord("src=web", RecordForm::kDelimited, record, error));
  EXPECT_EQ(record, "CHANNEL_INFO:src=web:CHANNEL_INFO");
}

TEST(AttributionSlotTest, NamesWhyTheLauncherWouldRefuseAValue) {
  const struct {
    std::string value;
    std::string problem;
  } cases[] = {
      {"src=web", ""},
      {std::string("a\0b", 3),
       "the value holds a NUL byte (byte 1), where the stored string would end"},
      {"\xF0\x9F\xBF\xBF", "the value holds the noncharacter U+1FFFF (byte 0)"},
      {"", "the value is empty"},
      {std::string(4097, 'a'), "the value is 4097 bytes long; at most 4096 are stored"},
      {"bad\xFF", "the value is not well-formed UTF-8 (byte 3)"},
      {"a\x80"
       "b",
       "the value is not well-formed UTF-8 (byte 1)"},
      {"x\xED\xA0\x80", "the value is not well-formed UTF-8 (byte 1)"},
      {"ok\xEF\xBF\xBE", "the value holds the noncharacter U+FFFE (byte 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.value.substr(0, 16)));
    EXPECT_EQ(ChannelInfoProblem(c.value), c.problem);
    std::string record, error;
    EXPECT_EQ(EncodeRecord(c.value, RecordForm::kDelimited, record, error), c.problem.empty());
    EXPECT_EQ(error, c.problem);
  }
}

TEST(AttributionSlotTest, RefusesValuesAFormCannotCarry) {
  const struct {
    std::string value;
    RecordForm form;
  } cases[] = {{std::string("ends in NUL\0", 12), RecordForm::kTrailer},
               {"a:CHANNEL_INFOb", RecordForm::kDelimited}};
  for (const auto& c : cases) {
    std::string record, error;
    EXPECT_FALSE(EncodeRecord(c.value, c.form, record, error)) << c.value;
    EXPECT_FALSE(error.empty());
  }
  // The launcher would store the value only up to its first NUL.
  std::string record, error;
  EXPECT_FALSE(EncodeRecord(std::string("NUL\0inside", 10), RecordForm::kTrailer, record, error));
}

TEST(AttributionSlotTest, FindsTheSlotOfAReservedBaseOnly) {
  constexpr uint64_t kReservedSize = 0x210 + kAttributionSlotSize;
  const struct {
    const char* name;
    void (*change)(SyntheticImage&);
    uint64_t file_size;  // 0: the image's own
    std::string error;   // empty: the slot is found
    bool empty;
  } cases[] = {
      {"a reserved base", [](SyntheticImage&) {}, 0, "", true},
      {"a stamped copy",
       [](SyntheticImage& i) { i.Put(0x210, std::string("MIRBCH01\x01\0\0\0x", 13)); }, 0, "",
       false},
      {"a record before the slot", [](SyntheticImage& i) { i.Put(0x20F, "x"); }, 0,
       "no attribution slot", false},
      {"a signed image without one",
       [](SyntheticImage& i) { i = test_support::BaseSyntheticImage(); }, 0, "no attribution slot",
       false},
      {"an entry that stops short of the end",
       [](SyntheticImage& i) { i.Put32(0x200, 0x10 + 4104); }, 0, "malformed", false},
      {"a dwLength short of the aligned end",
       [](SyntheticImage& i) { i.Put32(0x200, 0x10 + 4108); }, 0, "no attribution slot", false},
      {"a signature that ends where the slot starts",
       [](SyntheticImage& i) { i.Put(0x208, std::string("\x30\x06", 2) + "signed"); }, 0, "", true},
      {"unsigned", [](SyntheticImage& i) { i.Put32(0x12C, 0); }, 0, "no certificate table", false},
      {"a table inside the optional header", [](SyntheticImage& i) { i.Put32(0x128, 0x120); }, 0,
       "starts inside the headers (at 288)", false},
      {"a table inside the section table", [](SyntheticImage& i) { i.Put16(0x86, 5); }, 0,
       "starts inside the headers", false},
      {"a table inside SizeOfHeaders", [](SyntheticImage& i) { i.Put32(0xD4, 0x400); }, 0,
       "starts inside the headers", false},
      {"a directory past the end", [](SyntheticImage& i) { i.Put32(0x128, 0x10000); }, 0,
       "points past the end of the file (table at 65536", false},
      {"a table cut short", [](SyntheticImage& i) { i.PadTo(0x1000); }, 0,
       "cut short: it should end at 4640, the file ends at 4096", false},
      {"bytes after the table", [](SyntheticImage& i) { i.Append("XYZ"); }, 0, "bytes follow it",
       false},
      {"a table of 2 MiB", [](SyntheticImage& i) { i.Put32(0x12C, 2097152); }, 0x200 + 2097152,
       "the certificate table is 2097152 bytes; at most 1048576 are read", false},
      {"a file of 512 MiB, the most the launcher reads", [](SyntheticImage&) {}, 536870912,
       "the certificate table does not end the file", false},
      {"a file over 512 MiB", [](SyntheticImage&) {}, 536870913,
       "the file is 536870913 bytes; the launcher reads no file over 536870912", false},
      {"not an Authenticode signature", [](SyntheticImage& i) { i.Put16(0x206, 1); }, 0,
       "not an Authenticode signature", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticImage image = test_support::ReservedSyntheticImage();
    c.change(image);
    // A file of `size` bytes, zeros after the image: an oversized file or
    // table is refused before it is read.
    const uint64_t size = c.file_size ? c.file_size : image.bytes.size();
    struct PaddedSource : ByteSource {
      const std::vector<uint8_t>& bytes;
      uint64_t size, asked = 0;
      PaddedSource(const std::vector<uint8_t>& b, uint64_t s) : bytes(b), size(s) {}
      bool Size(uint64_t& out, uint32_t&) override { return out = size, true; }
      bool ReadAt(uint64_t offset, MutableByteSpan into, uint32_t&) override {
        asked += into.size();
        if (offset > size || into.size() > size - offset) return false;
        for (size_t i = 0; i < into.size(); ++i) {
          into[i] = offset + i < bytes.size() ? bytes[offset + i] : 0;
        }
        return true;
      }
    } source(image.bytes, size);
    SignedImage signed_image;
    AttributionSlot slot;
    std::string error;
    ASSERT_EQ(ReadSignedImage(source, signed_image, error) &&
                  FindAttributionSlot(signed_image, slot, error),
              c.error.empty())
        << error;
    EXPECT_THAT(error, testing::HasSubstr(c.error));
    EXPECT_LT(source.asked, 131072u);
    if (!c.error.empty()) continue;
    EXPECT_EQ(slot.file_size, kReservedSize);
    EXPECT_EQ(slot.offset, 0x210u);
    EXPECT_EQ(slot.size, kAttributionSlotSize);
    EXPECT_EQ(slot.empty, c.empty);
  }
}

}  // namespace
}  // namespace installer
