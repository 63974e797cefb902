#include "mir_installer_win/installer/pe_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/log_capture.h"
#include "testing/synthetic_pe_image.h"

namespace {

TEST(PeImageTest, Variants) {
  for (const PeVariant& variant : PeVariants()) {
    SCOPED_TRACE(variant.name);
    ScopedLogCapture capture;
    EXPECT_EQ(FindChannelInfoInPeImage(variant.image.bytes), variant.value);
    // Found by the tail, the image holds the record where the walk finds it too.
    EXPECT_EQ(capture.Bodies(), variant.found_by_tail ? std::vector<std::string>() : variant.lines);
  }
}

TEST(PeImageTest, ParsePeHeaders) {
  const std::optional<CertificateDirectory> directory = ParsePeHeaders(BaseSyntheticImage().bytes);
  ASSERT_TRUE(directory.has_value());
  EXPECT_EQ(directory->cert_rva, 0x200u);
  EXPECT_EQ(directory->cert_size, 0x28u);
  const std::optional<PeLayout> layout = ParsePeLayout(BaseSyntheticImage().bytes);
  ASSERT_TRUE(layout.has_value());
  EXPECT_EQ(layout->certificate_entry_offset, 0x128u);
  EXPECT_EQ(layout->checksum_offset, 0xD8u);
}

TEST(PeImageTest, HeaderChecksFailInOrder) {
  const struct {
    const char* name;
    void (*change)(SyntheticImage&);
  } cases[] = {
      {"shorter than 64 bytes", [](SyntheticImage& i) { i.bytes.resize(63); }},
      {"no MZ", [](SyntheticImage& i) { i.Put(0, "ZM"); }},
      {"e_lfanew past the end", [](SyntheticImage& i) { i.Put32(0x3C, 0x229); }},
      {"e_lfanew huge", [](SyntheticImage& i) { i.Put32(0x3C, 0xFFFFFFF0); }},
      {"fewer than 24 bytes of headers", [](SyntheticImage& i) { i.Put32(0x3C, 0x228 - 23); }},
      {"no PE signature", [](SyntheticImage& i) { i.Put(0x82, "X"); }},
      {"optional header below 96", [](SyntheticImage& i) { i.Put16(0x94, 0x5F); }},
      {"optional header past the end", [](SyntheticImage& i) { i.Put16(0x94, 0xFFFF); }},
      {"unknown magic", [](SyntheticImage& i) { i.Put16(0x98, 0x107); }},
      {"four directories", [](SyntheticImage& i) { i.Put32(0x104, 4); }},
      {"PE32 with a short header",
       [](SyntheticImage& i) {
         i.Put16(0x98, 0x10B);
         i.Put16(0x94, 0x87);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticImage image = BaseSyntheticImage();
    c.change(image);
    ScopedLogCapture capture;
    EXPECT_EQ(FindChannelInfoInPeImage(image.bytes), "");
    EXPECT_THAT(capture.Bodies(),
                ::testing::ElementsAre(::testing::HasSubstr(":354] [InstallAttribution] "
                                                            "ParsePeHeaders failed")));
  }
  ScopedLogCapture capture;
  EXPECT_EQ(FindChannelInfoInPeImage({}), "");
  EXPECT_TRUE(capture.lines().empty());
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
                  ::testing::HasSubstr("ERROR:mir_installer_win/installer/"
                                       "install_attribution_win:429] [InstallAttribution] "
                                       "WIN_CERTIFICATE dwLength exceeds certificate table: 4096 "
                                       "(aligned 4096) vs remaining 40"),
                  ::testing::HasSubstr(":473] [InstallAttribution] CHANNEL_INFO found via "
                                       "cert_rva..EOF scan")));
}

}  // namespace
