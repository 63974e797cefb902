// The file stage of the attribution search, apart from how the file is
// opened: the tail window first, then the whole image of a file of at most
// 64 MiB for the PE search. The launcher runs it on a Windows file handle;
// the stamping tool, natively, on a descriptor.
#ifndef MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOCATOR_H_
#define MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOCATOR_H_

#include <cstdint>
#include <string>

inline constexpr int64_t kMaxAttributionFileSize = 536870912;  // 512 MiB
inline constexpr uint64_t kTailWindowSize = 1048576;           // 1 MiB
inline constexpr uint64_t kWholeImageScanLimit = 67108864;     // 64 MiB

// An open file, read synchronously. Failing calls set `error` to the
// platform's error code.
class AttributionFile {
 public:
  virtual ~AttributionFile() = default;
  virtual bool Size(int64_t& size, uint32_t& error) = 0;
  virtual bool SeekFromStart(int64_t offset, uint32_t& error) = 0;
  // One read call of up to `size` bytes.
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) = 0;
  virtual void Close() = 0;
};

// The CHANNEL_INFO value in `file`, or empty. The file is closed before the
// PE search starts; every outcome is logged.
std::string FindAttributionInFile(AttributionFile& file);

#endif  // MIR_INSTALLER_WIN_INSTALLER_ATTRIBUTION_LOCATOR_H_
