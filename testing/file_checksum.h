// FNV-1a over a file's bytes: enough to tell that a payload arrived whole.
#ifndef TESTING_FILE_CHECKSUM_H_
#define TESTING_FILE_CHECKSUM_H_

#include <cstdint>
#include <cstdio>

namespace test_support {

struct FileChecksum {
  uint64_t size = 0;
  uint64_t hash = 0xcbf29ce484222325ull;

  void Add(const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    size += count;
  }
};

// The checksum of the file at `path`; false when it cannot be read.
inline bool ChecksumFile(const wchar_t* path, FileChecksum& checksum) {
  FILE* file = _wfopen(path, L"rb");
  if (!file) return false;
  checksum = FileChecksum();
  static unsigned char buffer[1 << 16];
  for (size_t read; (read = fread(buffer, 1, sizeof(buffer), file)) > 0;)
    checksum.Add(buffer, read);
  fclose(file);
  return true;
}

}  // namespace test_support

#endif  // TESTING_FILE_CHECKSUM_H_
