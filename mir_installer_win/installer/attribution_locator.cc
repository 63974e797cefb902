#include "mir_installer_win/installer/attribution_locator.h"

#include <algorithm>
#include <vector>

#include "mir_installer_win/installer/attribution_log.h"
#include "mir_installer_win/installer/pe_image_search.h"

namespace installer {

namespace {

std::string FindInFile(AttributionFile& file, MalformedRecordLog& malformed, RecordPlace& place) {
  int64_t size = 0;
  uint32_t error = 0;
  if (!file.Size(size, error)) {
    LOG_AT(kAttributionLog, 504, ERROR) << "[InstallAttribution] GetFileSizeEx failed: " << error;
    return std::string();
  }
  if (size <= 0 || size > kMaxAttributionFileSize) {
    LOG_AT(kAttributionLog, 511, ERROR) << "[InstallAttribution] File size out of range: " << size
                                        << " (max " << kMaxAttributionFileSize << ")";
    return std::string();
  }

  const uint64_t window = std::min<uint64_t>(static_cast<uint64_t>(size), kTailWindowSize);
  if (!file.SeekFromStart(size - static_cast<int64_t>(window), error)) {
    LOG_AT(kAttributionLog, 525, ERROR)
        << "[InstallAttribution] SetFilePointerEx (tail) failed: " << error;
    return std::string();
  }
  std::vector<uint8_t> tail(window);
  uint32_t read = 0;
  if (!file.Read(tail.data(), static_cast<uint32_t>(window), read) || read == 0) {
    LOG_AT(kAttributionLog, 536, ERROR) << "[InstallAttribution] ReadFile (tail window) failed";
    return std::string();
  }
  tail.resize(read);  // a short read is accepted

  std::string value = FindChannelInfoTrailer(tail, &place);
  if (value.empty()) value = FindChannelInfoDelimited(tail, malformed, &place);
  if (!value.empty()) {
    file.Close();
    place.offset += static_cast<uint64_t>(size) - window;
    LOG_AT(kAttributionLog, 545, INFO)
        << "[InstallAttribution] CHANNEL_INFO from file tail window (" << read
        << " bytes, same idea as 4f51b96/8656c3c2)";
    return value;
  }

  if (static_cast<uint64_t>(size) <= kTailWindowSize) {
    file.Close();  // the tail holds the whole file already
    return FindChannelInfoInPeImage(tail, malformed, &place);
  }
  if (static_cast<uint64_t>(size) > kWholeImageScanLimit) {
    file.Close();
    LOG_AT(kAttributionLog, 558, INFO)
        << "[InstallAttribution] Tail window miss; file_size=" << size
        << " exceeds whole-file PE scan limit " << kWholeImageScanLimit
        << " \xE2\x80\x94 skip loading entire image.";
    return std::string();
  }
  if (!file.SeekFromStart(0, error)) {
    LOG_AT(kAttributionLog, 566, ERROR)
        << "[InstallAttribution] SetFilePointerEx (BOF) failed: " << error;
    return std::string();
  }
  tail = std::vector<uint8_t>();  // release the window before the image is allocated
  std::vector<uint8_t> image(static_cast<size_t>(size));
  if (!file.Read(image.data(), static_cast<uint32_t>(size), read) || read < image.size()) {
    LOG_AT(kAttributionLog, 577, ERROR) << "[InstallAttribution] ReadFile (full image) failed";
    return std::string();
  }
  file.Close();
  return FindChannelInfoInPeImage(image, malformed, &place);
}

}  // namespace

std::string FindAttributionInFile(AttributionFile& file, RecordPlace* place) {
  // One budget for every search of the file: its summary line comes last.
  MalformedRecordLog malformed;
  RecordPlace found;
  std::string value = FindInFile(file, malformed, found);
  if (!value.empty() && place) *place = found;
  return value;
}

}  // namespace installer
