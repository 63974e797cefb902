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

// The stops that the launcher's and the tool's tables never reach, and the
// content spans of entries that follow each other.
TEST(CertificateTableTest, WalkStops) {
  const struct {
    std::string data;
    uint64_t table_size;
    std::vector<uint64_t> offsets;
    CertificateWalkStop stop;
  } cases[] = {
      {Header(8) + Header(9) + "x", 24, {0, 8}, CertificateWalkStop::kEnd},
      {Header(0xFFFFFFF9), 8, {}, CertificateWalkStop::kPastTable},  // no 32-bit wrap
      {Header(16), 16, {}, CertificateWalkStop::kPastData},          // a table longer than the data
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table_size);
    const ByteSpan data = AsBytes(c.data);
    CertificateTableWalk walk(data, c.table_size);
    std::vector<uint64_t> offsets;
    for (CertificateEntry entry; walk.Next(entry);) {
      offsets.push_back(entry.offset);
      EXPECT_EQ(entry.content.data(), data.data() + entry.offset + 8);
      EXPECT_EQ(entry.content.size(), entry.length - 8u);
    }
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(walk.stop(), c.stop);
  }
}

}  // namespace
}  // namespace installer
