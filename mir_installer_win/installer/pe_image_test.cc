#include "mir_installer_win/installer/pe_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mir_installer_win/installer/attribution_locator.h"
#include "mir_installer_win/installer/pe_image_search.h"
#include "testing/expected_log_line.h"
#include "testing/log_capture.h"
#include "testing/synthetic_pe_image.h"

namespace installer {
namespace {

using test_support::AttributionLine;
using test_support::BaseSyntheticImage;
using test_support::PeVariant;
using test_support::PeVariants;
using test_support::PointsAtRecord;
using test_support::ScopedLogCapture;
using test_support::SyntheticImage;

TEST(PeImageTest, Variants) {
  for (const PeVariant& variant : PeVariants()) {
    SCOPED_TRACE(variant.name);
    const std::vector<uint8_t>& image = variant.image.bytes;
    MalformedRecordLog malformed;
    RecordPlace place;
    ScopedLogCapture capture;
    EXPECT_EQ(FindChannelInfoInPeImage(image, malformed, &place), variant.value);
    // Found by the tail, the image holds the record where the walk finds it too.
    EXPECT_EQ(capture.Bodies(), variant.found_by_tail ? std::vector<std::string>() : variant.lines);
    EXPECT_TRUE(variant.value.empty() || PointsAtRecord(image, place, variant.value));
    // The file search, a tail window first: the same value, where it lies.
    ScopedLogCapture file_capture;
    EXPECT_EQ(FindAttributionInFile(std::make_unique<MemorySource>(image), &place), variant.value);
    EXPECT_EQ(file_capture.Bodies(), variant.lines);
    EXPECT_TRUE(variant.value.empty() || PointsAtRecord(image, place, variant.value));
  }
}

TEST(PeImageTest, Layout) {
  PeLayout layout;
  ASSERT_EQ(CheckPeHeaders(BaseSyntheticImage().bytes, layout), PeHeaderCheck::kPassed);
  EXPECT_EQ(layout.directory.cert_rva, 0x200u);
  EXPECT_EQ(layout.directory.cert_size, 0x28u);
  EXPECT_EQ(layout.certificate_entry_offset, 0x128u);
  EXPECT_EQ(layout.certificate_size_offset(), 0x12Cu);
  EXPECT_EQ(layout.checksum_offset, 0xD8u);
  EXPECT_EQ(layout.section_table_offset, 0x188u);
  EXPECT_EQ(layout.section_count, 0u);
  EXPECT_EQ(layout.headers_end, 0x188u);
}

// Two sections' raw data, .text at 0x400 and a name of eight bytes at
// 0x600, after the section table at 0x188; SizeOfHeaders 0x400.
TEST(PeImageTest, SectionsHoldingAnOffset) {
  SyntheticImage image = BaseSyntheticImage();
  image.Put16(0x86, 2).Put32(0xD4, 0x400);
  image.Put(0x188, ".text");
  image.Put32(0x188 + 16, 0x200).Put32(0x188 + 20, 0x400);
  image.Put(0x1B0, std::string("\x01rsrc\xFF"
                               "78",
                               8));
  image.Put32(0x1B0 + 16, 0x100).Put32(0x1B0 + 20, 0x600);
  PeLayout layout;
  ASSERT_EQ(CheckPeHeaders(image.bytes, layout), PeHeaderCheck::kPassed);
  EXPECT_EQ(layout.headers_end, 0x400u);
  const struct {
    uint64_t offset;
    std::optional<std::string> section;
    size_t headers = 0x1D8;  // the bytes held: the section table whole
  } cases[] = {
      {0x3FF, std::nullopt},        {0x400, ".text"},    {0x5FF, ".text"},
      {0x600, "?rsrc?78"},          {0x6FF, "?rsrc?78"}, {0x700, std::nullopt},
      {0x600, std::nullopt, 0x1D7},  // the second header cut short
      {0x400, ".text", 0x1B0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(SectionNameAt(ByteSpan(image.bytes).first(c.headers), layout, c.offset), c.section);
  }
}

// Each image fails the check it is named for, and only that one where the
// checks allow it: with the check gone, the image would pass or fail later.
TEST(PeImageTest, HeaderChecksFailInTheirOrder) {
  const struct {
    const char* name;
    void (*change)(SyntheticImage&);
    PeHeaderCheck first_failed;
  } cases[] = {
      {"shorter than 64 bytes", [](SyntheticImage& i) { i.bytes.resize(63); },
       PeHeaderCheck::kNoMzHeader},
      {"no MZ", [](SyntheticImage& i) { i.Put(0, "ZM"); }, PeHeaderCheck::kNoMzHeader},
      {"e_lfanew past the end", [](SyntheticImage& i) { i.Put32(0x3C, 0x229); },
       PeHeaderCheck::kNtHeadersOutside},
      {"e_lfanew near 4 GiB", [](SyntheticImage& i) { i.Put32(0x3C, 0xFFFFFFF0); },
       PeHeaderCheck::kNtHeadersOutside},
      {"23 bytes from e_lfanew", [](SyntheticImage& i) { i.Put32(0x3C, 0x228 - 23); },
       PeHeaderCheck::kNtHeadersOutside},
      {"no PE signature", [](SyntheticImage& i) { i.Put(0x82, "X"); },
       PeHeaderCheck::kNoPeSignature},
      {"file header cut after 25 bytes", [](SyntheticImage& i) { i.bytes.resize(0x80 + 25); },
       PeHeaderCheck::kFileHeaderCut},
      {"optional header below 96", [](SyntheticImage& i) { i.Put16(0x94, 0x5F); },
       PeHeaderCheck::kOptionalHeaderTooSmall},
      {"optional header past the end", [](SyntheticImage& i) { i.Put16(0x94, 0xFFFF); },
       PeHeaderCheck::kOptionalHeaderOutside},
      {"unknown magic", [](SyntheticImage& i) { i.Put16(0x98, 0x107); },
       PeHeaderCheck::kUnknownMagic},
      {"PE32+ directories past a 96-byte optional header",
       [](SyntheticImage& i) { i.Put16(0x94, 0x60); }, PeHeaderCheck::kDirectoriesOutside},
      {"four directories", [](SyntheticImage& i) { i.Put32(0x104, 4); },
       PeHeaderCheck::kTooFewDirectories},
      {"PE32+ with 144 bytes of optional header", [](SyntheticImage& i) { i.Put16(0x94, 0x90); },
       PeHeaderCheck::kCertificateEntryOutside},
      {"PE32 with 135 bytes of optional header",
       [](SyntheticImage& i) {
         i.Put16(0x98, 0x10B);
         i.Put16(0x94, 0x87);
         i.Put32(0xF4, 16);
       },
       PeHeaderCheck::kCertificateEntryOutside},
      {"the first of several failures",
       [](SyntheticImage& i) {
         i.Put(0x82, "X");
         i.Put16(0x98, 0x107);
       },
       PeHeaderCheck::kNoPeSignature},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticImage image = BaseSyntheticImage();
    c.change(image);
    PeLayout layout;
    EXPECT_EQ(CheckPeHeaders(image.bytes, layout), c.first_failed);
    ScopedLogCapture capture;
    EXPECT_EQ(FindChannelInfoInPeImage(image.bytes), "");
    EXPECT_THAT(
        capture.Bodies(),
        ::testing::ElementsAre(AttributionLine(
            354, "ParsePeHeaders failed (not a PE or unsupported optional header)", "ERROR")));
  }
  ScopedLogCapture capture;
  EXPECT_EQ(FindChannelInfoInPeImage({}), "");
  EXPECT_TRUE(capture.lines().empty());
}

// A WIN_CERTIFICATE at `offset` with dwLength `length`, revision 2.0, signed
// data, and `content` (a DER element first) after its 8-byte header.
void PutEntry(SyntheticImage& image, size_t offset, std::string_view content, uint32_t length) {
  image.PadTo(std::max(image.bytes.size(), offset + 8 + content.size()));
  image.Put32(offset, length);
  image.Put16(offset + 4, 0x0200);
  image.Put16(offset + 6, 0x0002);
  image.Put(offset + 8, content);
}

const std::string kDer = std::string("\x30\x03\x02\x01\x01", 5);

TEST(PeImageTest, WalkAndScan) {
  const struct {
    const char* name;
    SyntheticImage (*make)();
    std::string value;
    std::vector<std::string> lines;
  } cases[] = {
      {"a walk error keeps what an earlier entry gave",
       [] {
         SyntheticImage image = BaseSyntheticImage();
         image.PadTo(0x200);
         image.Put32(0x12C, 64);
         PutEntry(image, 0x200, kDer + std::string("MIRBCH01\x03\0\0\0one", 15), 28);
         PutEntry(image, 0x220, kDer, 4);  // dwLength too small
         image.PadTo(0x240);
         return image;
       },
       "one",
       {AttributionLine(420, "WIN_CERTIFICATE dwLength too small: 4", "ERROR")}},
      {"after an overrunning table the scan still finds the record",
       [] {
         SyntheticImage image = BaseSyntheticImage();
         image.Put32(0x12C, 256);
         return image;
       },
       "source=promo",
       {AttributionLine(380,
                        "DataDirectory[4] overruns file: cert_rva=512 cert_size=256 "
                        "file_size=552; will try cert_rva..EOF scan only.",
                        "WARNING"),
        AttributionLine(473,
                        "CHANNEL_INFO found via cert_rva..EOF scan (structured walk missed or "
                        "skipped)",
                        "WARNING")}},
      {"a delimited record after the table, found by the scan alone",
       [] {
         SyntheticImage image = BaseSyntheticImage();
         image.PadTo(0x200);
         image.Put32(0x12C, 16);
         PutEntry(image, 0x200, kDer, 13);
         image.PadTo(0x228);
         image.Append("CHANNEL_INFO:d=1:CHANNEL_INFO");
         return image;
       },
       "d=1",
       {AttributionLine(473,
                        "CHANNEL_INFO found via cert_rva..EOF scan (structured walk missed or "
                        "skipped)",
                        "WARNING")}},
      {"within one entry the trailer wins over a delimited record",
       [] {
         SyntheticImage image = BaseSyntheticImage();
         image.PadTo(0x200);
         const std::string content = kDer + "CHANNEL_INFO:delimited:CHANNEL_INFO" +
                                     std::string("MIRBCH01\x07\0\0\0", 12) + "trailer";
         image.Put32(0x12C, static_cast<uint32_t>(AlignTo8(8 + content.size())));
         PutEntry(image, 0x200, content, static_cast<uint32_t>(8 + content.size()));
         image.PadTo(0x200 + AlignTo8(8 + content.size()));
         return image;
       },
       "trailer",
       {}},
      {"Size 7",
       [] { return BaseSyntheticImage().Put32(0x12C, 7); },
       "",
       {AttributionLine(367, "cert_size too small: 7", "ERROR")}},
      {"Size 8",
       [] { return BaseSyntheticImage().Put32(0x12C, 8); },
       "source=promo",
       {AttributionLine(401,
                        "DataDirectory[4].Size (8) < first WIN_CERT.dwLength (37); using "
                        "dwLength for read (fix injector to update both).",
                        "WARNING")}},
      {"Size equal to an unaligned dwLength",
       [] { return BaseSyntheticImage().Put32(0x12C, 37); },
       "source=promo",
       {AttributionLine(429,
                        "WIN_CERTIFICATE dwLength exceeds certificate table: 37 (aligned 40) vs "
                        "remaining 37",
                        "ERROR"),
        AttributionLine(473,
                        "CHANNEL_INFO found via cert_rva..EOF scan (structured walk missed or "
                        "skipped)",
                        "WARNING")}},
      {"an empty entry before the signature",
       [] {
         SyntheticImage image = BaseSyntheticImage();
         const std::vector<uint8_t> entry(image.bytes.begin() + 0x200, image.bytes.end());
         PutEntry(image.PadTo(0x200).Put32(0x12C, 0x30), 0x200, "", 8);
         image.bytes.insert(image.bytes.end(), entry.begin(), entry.end());
         return image.Append("XYZ");
       },
       "source=promo",
       {}},
      {"a directory far past the end of the file",
       [] { return BaseSyntheticImage().Put32(0x128, 0xFFFFFF00); },
       "",
       {AttributionLine(380,
                        "DataDirectory[4] overruns file: cert_rva=4294967040 cert_size=40 "
                        "file_size=552; will try cert_rva..EOF scan only.",
                        "WARNING"),
        AttributionLine(479,
                        "No CHANNEL_INFO after PE-buffer attempts; cert_rva=4294967040 "
                        "data_dir_size=40 first_dwLength=0 table_bytes_used=40 file_size=552")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SyntheticImage image = c.make();
    ScopedLogCapture capture;
    EXPECT_EQ(FindChannelInfoInPeImage(image.bytes), c.value);
    EXPECT_EQ(capture.Bodies(), c.lines);
  }
}

TEST(PeImageTest, WalkErrorsStillLetTheScanRun) {
  // An entry longer than the table and the file: the walk stops, the scan
  // from the first entry's content finds the record.
  SyntheticImage image = BaseSyntheticImage();
  image.Put32(0x200, 4096);
  image.PadTo(0x300);
  ScopedLogCapture capture;
  EXPECT_EQ(FindChannelInfoInPeImage(image.bytes), "source=promo");
  EXPECT_THAT(capture.Bodies(),
              ::testing::ElementsAre(
                  AttributionLine(429,
                                  "WIN_CERTIFICATE dwLength exceeds certificate table: 4096 "
                                  "(aligned 4096) vs remaining 40",
                                  "ERROR"),
                  AttributionLine(473,
                                  "CHANNEL_INFO found via cert_rva..EOF scan (structured walk "
                                  "missed or skipped)",
                                  "WARNING")));
}

}  // namespace
}  // namespace installer
