#include "mir_installer_win/installer/certificate_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace installer {
namespace {

// An entry's header: dwLength, revision 2.0, signed data.
std::string Header(uint32_t length) {
  std::string header(8, '\0');
  WriteLe32(MutableByteSpan(reinterpret_cast<uint8_t*>(header.data()), 8), 0, length);
  return header.replace(4, 4, std::string("\0\x02\x02\0", 4));
}

TEST(CertificateTableTest, WalkStopsWhereTheTableStopsMakingSense) {
  const struct {
    const char* name;
    std::string data;
    uint64_t table_size;
    std::vector<uint64_t> offsets;
    CertificateWalkStop stop;
  } cases[] = {
      {"one entry",
       Header(13) + "12345" + std::string(3, '\0'),
       16,
       {0},
       CertificateWalkStop::kEnd},
      {"two, the first empty", Header(8) + Header(9) + "x", 24, {0, 8}, CertificateWalkStop::kEnd},
      {"no table", "", 0, {}, CertificateWalkStop::kEnd},
      {"a header cut by the data",
       Header(8).substr(0, 7),
       8,
       {},
       CertificateWalkStop::kHeaderOutside},
      {"dwLength 7", Header(7), 8, {}, CertificateWalkStop::kLengthTooSmall},
      {"aligned past the table", Header(13) + "12345", 13, {}, CertificateWalkStop::kPastTable},
      {"dwLength near 4 GiB", Header(0xFFFFFFF9), 8, {}, CertificateWalkStop::kPastTable},
      {"a table longer than the data", Header(16), 16, {}, CertificateWalkStop::kPastData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ByteSpan data = AsBytes(c.data);
    CertificateTableWalk walk(data, c.table_size);
    std::vector<uint64_t> offsets;
    for (CertificateEntry entry; walk.Next(entry);) {
      offsets.push_back(entry.offset);
      EXPECT_EQ(entry.content.data(), data.data() + entry.offset + 8);
      EXPECT_EQ(entry.content.size(), entry.length - 8u);
      EXPECT_EQ(entry.revision, kCertificateRevision2);
      EXPECT_EQ(entry.type, kCertificateTypePkcsSignedData);
    }
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(walk.stop(), c.stop);
  }
}

}  // namespace
}  // namespace installer
