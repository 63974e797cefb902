#include "tools/mir_attribution/stamp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/pe_image_search.h"
#include "testing/synthetic_pe_image.h"

namespace mir_attribution {
namespace {

using test_support::BaseSyntheticImage;
using test_support::SyntheticImage;

// The bytes from `offset` of the copy that `edit` makes of `image`.
bool ReadStamped(const StampEdit& edit, uint64_t offset, installer::MutableByteSpan into,
                 installer::ByteSpan image) {
  installer::MemorySource source(image);
  uint32_t error = 0;
  return StampedSource(edit, source).ReadAt(offset, into, error);
}

installer::SignedImage Read(const std::vector<uint8_t>& image) {
  installer::SignedImage signed_image;
  std::string error;
  EXPECT_TRUE(test_support::ReadSignedImageOf(image, signed_image, error));
  return signed_image;
}

bool LayOut(const std::vector<uint8_t>& image, std::string_view value, RecordForm form,
            StampEdit& edit, std::string& error) {
  std::string record;
  installer::SignedImage signed_image;
  return installer::EncodeRecord(value, form, record, error) &&
         test_support::ReadSignedImageOf(image, signed_image, error) &&
         LayOutStamp(signed_image, record, edit, error);
}

// The stamped image as a copy would hold it, or nothing with the reason.
std::vector<uint8_t> Stamped(const std::vector<uint8_t>& image, std::string_view value,
                             RecordForm form, std::string* error = nullptr) {
  StampEdit edit;
  std::string reason;
  if (!LayOut(image, value, form, edit, reason)) {
    if (error) *error = reason;
    return {};
  }
  std::vector<uint8_t> stamped(edit.stamped_size());
  EXPECT_TRUE(ReadStamped(edit, 0, stamped, image));
  return stamped;
}

std::string LauncherReads(const std::vector<uint8_t>& image) {
  return installer::FindAttributionInFile(std::make_unique<installer::MemorySource>(image));
}

TEST(StampTest, StampsAfterTheSignatureAndGrowsBothLengths) {
  for (RecordForm form : {RecordForm::kTrailer, RecordForm::kDelimited}) {
    const std::vector<uint8_t> image =
        Stamped(BaseSyntheticImage().bytes, "source=newsletter", form);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.size() % 8, 0u);
    const uint32_t entry_length = *installer::ReadLe32(image, 0x200);
    EXPECT_EQ(entry_length, image.size() - 0x200);
    EXPECT_EQ(*installer::ReadLe32(image, 0x12C), entry_length);  // DataDirectory[4].Size
    // The signature (the DER element) is kept byte for byte.
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x208, image.begin() + 0x20D),
              (std::vector<uint8_t>{0x30, 0x03, 0x02, 0x01, 0x01}));
    // The launcher finds it in the tail and in the table.
    EXPECT_EQ(LauncherReads(image), "source=newsletter");
    EXPECT_EQ(installer::FindChannelInfoInPeImage(image), "source=newsletter");
  }
}

// The record follows the whole signature, however its DER length is written.
TEST(StampTest, KeepsTheWholeSignature) {
  const struct {
    std::string header;
    size_t content;
  } cases[] = {{"\x30\x05", 5}, {"\x30\x81\x80", 128}, {std::string("\x30\x82\x01\x00", 4), 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    const std::string signature = c.header + std::string(c.content, 's');
    const uint32_t length = static_cast<uint32_t>(8 + signature.size());
    SyntheticImage image = BaseSyntheticImage().PadTo(0x200);
    image.Put32(0x12C, static_cast<uint32_t>(installer::AlignTo8(length))).Put32(0x200, length);
    image.Put(0x204, std::string("\0\x02\x02\0", 4) + signature);
    image.PadTo(0x200 + installer::AlignTo8(length));
    const std::vector<uint8_t> stamped = Stamped(image.bytes, "kept", RecordForm::kTrailer);
    ASSERT_GT(stamped.size(), 0x208 + signature.size() + 8);
    EXPECT_EQ(std::string(stamped.begin() + 0x208, stamped.begin() + 0x210 + signature.size()),
              signature + "MIRBCH01");
  }
}

TEST(StampTest, RestampingReplacesTheRecord) {
  std::vector<uint8_t> image = Stamped(BaseSyntheticImage().bytes, "first", RecordForm::kDelimited);
  image = Stamped(image, "second", RecordForm::kTrailer);
  ASSERT_FALSE(image.empty());
  const std::string text(image.begin(), image.end());
  EXPECT_EQ(text.find("first"), std::string::npos);
  EXPECT_EQ(text.find("CHANNEL_INFO"), std::string::npos);
  EXPECT_EQ(LauncherReads(image), "second");
}

TEST(StampTest, StampsTheLastOfSeveralEntries) {
  SyntheticImage two = BaseSyntheticImage();
  two.PadTo(0x228);
  two.Put32(0x12C, 0x28 + 0x20);
  two.Append(std::string("\x20\0\0\0\0\x02\x02\0\x30\x03\x02\x01\x02", 13));
  two.PadTo(0x248);
  const std::vector<uint8_t> image = Stamped(two.bytes, "later", RecordForm::kTrailer);
  ASSERT_FALSE(image.empty());
  EXPECT_EQ(*installer::ReadLe32(image, 0x200), 0x25u);  // the first entry is left alone
  EXPECT_EQ(*installer::ReadLe32(image, 0x12C), image.size() - 0x200);
  EXPECT_EQ(installer::FindChannelInfoInPeImage(image), "later");
}

TEST(StampTest, RefusesFilesItCannotStampSafely) {
  const struct {
    const char* name;
    void (*change)(SyntheticImage&);
    const char* error;
  } cases[] = {
      {"not a PE image", [](SyntheticImage& i) { i.Put(0, "ZM"); }, "not a PE image: no MZ"},
      {"a PE32+ header too short", [](SyntheticImage& i) { i.Put16(0x94, 0x90); },
       "not a PE image: the optional header has no certificate-table entry"},
      {"unsigned", [](SyntheticImage& i) { i.Put32(0x12C, 0); }, "no certificate table"},
      {"bytes after the table", [](SyntheticImage& i) { i.Append("XYZ"); }, "does not end"},
      {"entry too short", [](SyntheticImage& i) { i.Put32(0x200, 4); }, "malformed"},
      {"Size 7", [](SyntheticImage& i) { i.PadTo(0x207).Put32(0x12C, 7); }, "header lies past"},
      {"Size equal to an unaligned dwLength",
       [](SyntheticImage& i) { i.PadTo(0x225).Put32(0x12C, 37); },
       "rounded up to 8, runs past the end of the table"},
      {"an entry running past the table", [](SyntheticImage& i) { i.Put32(0x200, 41); },
       "rounded up to 8, runs past the end of the table"},
      {"an empty last entry",
       [](SyntheticImage& i) { i.Put32(0x12C, 0x30).PadTo(0x230).Put32(0x228, 8); },
       "not an Authenticode signature"},
      {"another revision", [](SyntheticImage& i) { i.Put16(0x204, 0x0100); },
       "not an Authenticode signature"},
      {"another certificate type", [](SyntheticImage& i) { i.Put16(0x206, 0x0001); },
       "not an Authenticode signature"},
      {"not a SEQUENCE", [](SyntheticImage& i) { i.Put(0x208, "\x31"); },
       "not an Authenticode signature"},
      {"a DER length past the entry", [](SyntheticImage& i) { i.Put(0x209, "\x7F"); },
       "not an Authenticode signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticImage image = BaseSyntheticImage();
    c.change(image);
    std::string error;
    EXPECT_TRUE(Stamped(image.bytes, "v", RecordForm::kTrailer, &error).empty());
    EXPECT_THAT(error, ::testing::HasSubstr(c.error));
  }
}

// An opening tag in the signature's bytes swallows the record that follows:
// the launcher reads another value. The tool reads the laid-out file back the
// launcher's way and sees it.
TEST(StampTest, ReadingBackCatchesAValueTheLauncherWouldNotFind) {
  SyntheticImage image = BaseSyntheticImage();
  image.Put(0x208,
            "\x30\x0E"
            "CHANNEL_INFO:x");
  const std::vector<uint8_t> stamped = Stamped(image.bytes, "later", RecordForm::kDelimited);
  ASSERT_FALSE(stamped.empty());
  EXPECT_EQ(LauncherReads(stamped), "xCHANNEL_INFO:later");
}

TEST(StampTest, InPlaceWritesGiveTheSameFileRecordFirst) {
  for (const char* previous : {"", "a much longer earlier value that the new one replaces"}) {
    SCOPED_TRACE(previous);
    std::vector<uint8_t> image = BaseSyntheticImage().bytes;
    if (*previous) image = Stamped(image, previous, RecordForm::kDelimited);
    StampEdit edit;
    std::string error;
    ASSERT_TRUE(LayOut(image, "new", RecordForm::kTrailer, edit, error)) << error;
    edit.checksum = 0x12345678;
    std::vector<uint8_t> copy(edit.stamped_size());
    ASSERT_TRUE(ReadStamped(edit, 0, copy, image));
    std::vector<uint8_t> in_place = image;
    const std::vector<StampEdit::Write> writes = edit.InPlaceWrites();
    for (const StampEdit::Write& write : writes) {
      in_place.resize(std::max<size_t>(in_place.size(), write.offset + write.bytes.size()));
      std::copy(write.bytes.begin(), write.bytes.end(), in_place.begin() + write.offset);
    }
    in_place.resize(edit.stamped_size());
    EXPECT_EQ(in_place, copy);
    EXPECT_EQ(*installer::ReadLe32(copy, 0xD8), 0x12345678u);
    // The record goes first; the entry's length, the directory's and the
    // checksum after it.
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].offset, 0x208u);
    EXPECT_EQ(writes[1].offset, 0x200u);
    EXPECT_EQ(writes[2].offset, 0x12Cu);
    EXPECT_EQ(writes[3].offset, 0xD8u);
  }
}

// A base is the signed image with a zero slot after its signature; filling
// the slot is one write of the slot, in place or in a copy.
TEST(StampTest, ReservingAndFillingABase) {
  StampEdit edit;
  std::string error;
  const std::vector<uint8_t> image = BaseSyntheticImage().bytes;
  ASSERT_TRUE(
      LayOutStamp(Read(image), std::string(installer::kAttributionSlotSize, '\0'), edit, error));
  std::vector<uint8_t> reserved(edit.stamped_size());
  ASSERT_TRUE(ReadStamped(edit, 0, reserved, image));
  EXPECT_EQ(reserved, test_support::ReservedSyntheticImage().bytes);
  EXPECT_EQ(LauncherReads(reserved), "");

  installer::AttributionSlot slot;
  ASSERT_TRUE(installer::FindAttributionSlot(Read(reserved), slot, error));
  ASSERT_TRUE(LayOutSlotFill(slot, "src=base", RecordForm::kTrailer, edit, error)) << error;
  const std::vector<StampEdit::Write> writes = edit.InPlaceWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].offset, reserved.size() - installer::kAttributionSlotSize);
  EXPECT_EQ(writes[0].bytes.size(), installer::kAttributionSlotSize);
  std::vector<uint8_t> stamped(edit.stamped_size());
  ASSERT_TRUE(ReadStamped(edit, 0, stamped, reserved));
  EXPECT_TRUE(std::equal(reserved.begin(), reserved.begin() + 0x210, stamped.begin()));
  EXPECT_EQ(stamped.size(), reserved.size());
  EXPECT_EQ(LauncherReads(stamped), "src=base");
  // A delimited record of the longest values does not fit.
  EXPECT_TRUE(LayOutSlotFill(slot, std::string(4086, 'a'), RecordForm::kDelimited, edit, error));
  EXPECT_FALSE(LayOutSlotFill(slot, std::string(4087, 'a'), RecordForm::kDelimited, edit, error));
}

TEST(StampTest, StampedFileReadsTheSameInAnyPieces) {
  const std::vector<uint8_t> image = BaseSyntheticImage().bytes;
  StampEdit edit;
  std::string error;
  ASSERT_TRUE(LayOut(image, "pieces", RecordForm::kTrailer, edit, error));
  edit.checksum = 0xAABBCCDD;
  std::vector<uint8_t> whole(edit.stamped_size());
  ASSERT_TRUE(ReadStamped(edit, 0, whole, image));
  for (size_t piece : {1u, 3u, 7u, 64u}) {
    SCOPED_TRACE(piece);
    std::vector<uint8_t> pieced;
    for (uint64_t offset = 0; offset < edit.stamped_size(); offset += piece) {
      std::vector<uint8_t> part(std::min<uint64_t>(piece, edit.stamped_size() - offset));
      ASSERT_TRUE(ReadStamped(edit, offset, part, image));
      pieced.insert(pieced.end(), part.begin(), part.end());
    }
    EXPECT_EQ(pieced, whole);
  }
  std::vector<uint8_t> past_the_end(2);
  EXPECT_FALSE(ReadStamped(edit, edit.stamped_size() - 1, past_the_end, image));
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

// Words that carry past 32 bits, and an odd last byte that carries: the sum
// must be folded at every carry.
TEST(StampTest, PeChecksumFoldsEveryCarry) {
  // 2^32 - 1 in words of 0xFFFF, then two words of 0x8000.
  std::vector<uint8_t> carries(2 * 65537 + 4, 0xFF);
  carries[2 * 65537] = carries[2 * 65537 + 2] = 0x00;
  carries[2 * 65537 + 1] = carries[2 * 65537 + 3] = 0x80;
  const struct {
    std::vector<uint8_t> bytes;
    uint32_t checksum;
  } cases[] = {
      {carries, 0x0001 + 131078},  // 0x1'0000'FFFF folds to 0x0001
      {{0xFF, 0xFF, 0x01}, 0x0001 + 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    PeChecksum checksum(1u << 30);
    checksum.Add(c.bytes);
    EXPECT_EQ(checksum.Finish(), c.checksum);
  }
}

}  // namespace
}  // namespace mir_attribution
