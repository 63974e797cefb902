#include "tools/mir_attribution/stamp.h"

#include <gtest/gtest.h>

#include "mir_installer_win/installer/pe_image.h"
#include "testing/synthetic_pe_image.h"

namespace {

std::vector<uint8_t> Stamped(std::vector<uint8_t> image, std::string_view value, RecordForm form,
                             std::string* error = nullptr) {
  std::string record, reason;
  StampEdit edit;
  const ByteSpan table = ByteSpan(image).subspan(0x200);
  if (!EncodeRecord(value, form, record, reason) ||
      !PlanStamp(image, image.size(), table, record, edit, reason)) {
    if (error) *error = reason;
    return {};
  }
  image.resize(edit.table_offset);
  image.insert(image.end(), edit.table.begin(), edit.table.end());
  for (int i = 0; i < 4; ++i) {
    image[edit.directory_size_offset + i] = static_cast<uint8_t>(edit.directory_size >> (8 * i));
  }
  return image;
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

TEST(StampTest, EncodesBothForms) {
  std::string record, error;
  ASSERT_TRUE(EncodeRecord("src=web", RecordForm::kTrailer, record, error));
  EXPECT_EQ(record, std::string("MIRBCH01\x07\0\0\0src=web", 19));
  ASSERT_TRUE(EncodeRecord("src=web", RecordForm::kDelimited, record, error));
  EXPECT_EQ(record, "CHANNEL_INFO:src=web:CHANNEL_INFO");
}

TEST(StampTest, RefusesValuesAFormCannotCarry) {
  const struct {
    std::string value;
    RecordForm form;
  } cases[] = {{"", RecordForm::kTrailer},
               {std::string(4097, 'a'), RecordForm::kDelimited},
               {"\xFF", RecordForm::kTrailer},
               {"\xEF\xBF\xBE", RecordForm::kDelimited},
               {std::string("ends in NUL\0", 12), RecordForm::kTrailer},
               {"a:CHANNEL_INFOb", RecordForm::kDelimited}};
  for (const auto& c : cases) {
    std::string record, error;
    EXPECT_FALSE(EncodeRecord(c.value, c.form, record, error)) << c.value.substr(0, 16);
    EXPECT_FALSE(error.empty());
  }
  std::string record, error;
  EXPECT_TRUE(EncodeRecord(std::string("NUL\0inside", 10), RecordForm::kTrailer, record, error));
}

TEST(StampTest, StampsAfterTheSignatureAndGrowsBothLengths) {
  for (RecordForm form : {RecordForm::kTrailer, RecordForm::kDelimited}) {
    const std::vector<uint8_t> image =
        Stamped(BaseSyntheticImage().bytes, "source=newsletter", form);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.size() % 8, 0u);
    const uint32_t entry_length = U32At(image, 0x200);
    EXPECT_EQ(entry_length, image.size() - 0x200);
    EXPECT_EQ(U32At(image, 0x12C), entry_length);  // DataDirectory[4].Size
    // The signature (the DER element) is kept byte for byte.
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x208, image.begin() + 0x20D),
              (std::vector<uint8_t>{0x30, 0x03, 0x02, 0x01, 0x01}));
    // The launcher's search finds it in the tail and in the table.
    std::string tail = FindChannelInfoTrailer(image);
    if (tail.empty()) tail = FindChannelInfoDelimited(image);
    EXPECT_EQ(tail, "source=newsletter");
    EXPECT_EQ(FindChannelInfoInPeImage(image), "source=newsletter");
  }
}

TEST(StampTest, RestampingReplacesTheRecord) {
  std::vector<uint8_t> image = Stamped(BaseSyntheticImage().bytes, "first", RecordForm::kDelimited);
  image = Stamped(image, "second", RecordForm::kTrailer);
  ASSERT_FALSE(image.empty());
  const std::string text(image.begin(), image.end());
  EXPECT_EQ(text.find("first"), std::string::npos);
  EXPECT_EQ(text.find("CHANNEL_INFO"), std::string::npos);
  EXPECT_EQ(FindChannelInfoTrailer(image), "second");
}

TEST(StampTest, StampsTheLastOfSeveralEntries) {
  SyntheticImage two = BaseSyntheticImage();
  two.PadTo(0x228);
  two.Put32(0x12C, 0x28 + 0x20);
  two.Append(std::string("\x20\0\0\0\0\x02\x02\0\x30\x03\x02\x01\x02", 13));
  two.PadTo(0x248);
  const std::vector<uint8_t> image = Stamped(two.bytes, "later", RecordForm::kTrailer);
  ASSERT_FALSE(image.empty());
  EXPECT_EQ(U32At(image, 0x200), 0x25u);  // the first entry is left alone
  EXPECT_EQ(U32At(image, 0x12C), image.size() - 0x200);
  EXPECT_EQ(FindChannelInfoInPeImage(image), "later");
}

TEST(StampTest, RefusesFilesItCannotStampSafely) {
  const struct {
    const char* name;
    void (*change)(SyntheticImage&);
    const char* error;
  } cases[] = {
      {"not a PE image", [](SyntheticImage& i) { i.Put(0, "ZM"); }, "not a PE image"},
      {"unsigned", [](SyntheticImage& i) { i.Put32(0x12C, 0); }, "no certificate table"},
      {"bytes after the table", [](SyntheticImage& i) { i.Append("XYZ"); }, "does not end"},
      {"entry too short", [](SyntheticImage& i) { i.Put32(0x200, 4); }, "malformed"},
      {"no DER element", [](SyntheticImage& i) { i.Put(0x209, "\x7F"); }, "DER"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticImage image = BaseSyntheticImage();
    c.change(image);
    std::string error;
    EXPECT_TRUE(Stamped(image.bytes, "v", RecordForm::kTrailer, &error).empty());
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(StampTest, PeChecksum) {
  PeChecksum small(100);
  small.Add(std::vector<uint8_t>{0x01, 0x02, 0x03});
  EXPECT_EQ(small.Finish(), 0x0201u + 0x03u + 3u);
  PeChecksum carry(100);
  carry.Add(std::vector<uint8_t>{0xFF, 0xFF});
  carry.Add(std::vector<uint8_t>{0x02});  // a word split across calls
  carry.Add(std::vector<uint8_t>{0x00});
  EXPECT_EQ(carry.Finish(), 0x0002u + 4u);  // 0xFFFF + 0x0002 folds to 0x0002
  PeChecksum skipped(0);
  skipped.Add(std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0x00});
  EXPECT_EQ(skipped.Finish(), 0x0001u + 6u);  // the checksum field counts as zero
}

}  // namespace
