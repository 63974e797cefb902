// The platform's file source and the memory source against the same bytes:
// reads that the end cuts short or that start past it fail as kReadPastEnd,
// and a chunk loop stops at the first failing read or refused piece.
#include "mir_installer_win/installer/byte_source.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "testing/scoped_temp_dir.h"

namespace installer {
namespace {

TEST(ByteSourceTest, ChunkedReadsAndTheirFaults) {
  std::vector<uint8_t> bytes(kChunkSize + kChunkSize / 2);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const uint64_t size = bytes.size();
  test_support::ScopedTempDir dir;
  const std::filesystem::path path = dir.path() / "source.bin";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  uint32_t error = 0;
  const std::unique_ptr<ByteSource> file = OpenFileSource(path.c_str(), error);
  ASSERT_TRUE(file) << error;
  MemorySource memory(bytes);

  const struct {
    const char* name;
    uint64_t offset, length;
    size_t refused_piece;  // the piece `use` refuses, 0: none
    bool read;
    size_t pieces;  // given to `use`
    uint32_t error;
  } cases[] = {
      {"the whole source, in two pieces", 0, size, 0, true, 2, 0},
      {"a range inside one piece", 5, 100, 0, true, 1, 0},
      {"a read that the end cuts short", size - 10, 20, 0, false, 0, kReadPastEnd},
      {"a read that starts past the end", size + 1, 1, 0, false, 0, kReadPastEnd},
      {"the end met in the second piece", 0, size + 1, 0, false, 1, kReadPastEnd},
      {"the first piece refused", 0, size, 1, false, 1, 0},
  };
  for (ByteSource* source : {file.get(), static_cast<ByteSource*>(&memory)}) {
    SCOPED_TRACE(source == &memory ? "memory" : "file");
    uint64_t source_size = 0;
    ASSERT_TRUE(source->Size(source_size, error));
    EXPECT_EQ(source_size, size);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      std::vector<uint8_t> got;
      size_t pieces = 0;
      error = 12345;
      const bool read = ReadInChunks(
          *source, c.offset, c.length,
          [&](ByteSpan piece) {
            got.insert(got.end(), piece.begin(), piece.end());
            return ++pieces != c.refused_piece;
          },
          error);
      EXPECT_EQ(read, c.read);
      EXPECT_EQ(pieces, c.pieces);
      if (read) {
        EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + c.offset));
      } else {
        EXPECT_EQ(error, c.error);
      }
    }
  }
}

}  // namespace
}  // namespace installer
