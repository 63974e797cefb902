#include "mir_installer_win/installer/attribution_locator.h"

#include <algorithm>
#include <vector>

#include "mir_installer_win/installer/attribution_log.h"
#include "mir_installer_win/installer/pe_image_search.h"

namespace installer {

namespace {

std::string FindInFile(std::unique_ptr<ByteSource> file, MalformedRecordLog& malformed,
                       RecordPlace& place) {
  uint64_t size = 0;
  uint32_t error = 0;
  if (!file->Size(size, error)) {
    LOG_AT(kAttributionLog, 504, ERROR) << "[InstallAttribution] GetFileSizeEx failed: " << error;
    return std::string();
  }
  if (size == 0 || size > static_cast<uint64_t>(kMaxAttributionFileSize)) {
    LOG_AT(kAttributionLog, 511, ERROR) << "[InstallAttribution] File size out of range: " << size
                                        << " (max " << kMaxAttributionFileSize << ")";
    return std::string();
  }

  const uint64_t window = std::min(size, kTailWindowSize);
  std::vector<uint8_t> tail(window);
  if (!file->ReadAt(size - window, tail, error)) {
    LOG_AT(kAttributionLog, 536, ERROR) << "[InstallAttribution] ReadFile (tail window) failed";
    return std::string();
  }

  std::string value = FindChannelInfoTrailer(tail, &place);
  if (value.empty()) value = FindChannelInfoDelimited(tail, malformed, &place);
  if (!value.empty()) {
    file.reset();
    place.offset += size - window;
    LOG_AT(kAttributionLog, 545, INFO)
        << "[InstallAttribution] CHANNEL_INFO from file tail window (" << window
        << " bytes, same idea as 4f51b96/8656c3c2)";
    return value;
  }

  if (size <= kTailWindowSize) {
    file.reset();  // the tail holds the whole file already
    return FindChannelInfoInPeImage(tail, malformed, &place);
  }
  if (size > kWholeImageScanLimit) {
    file.reset();
    LOG_AT(kAttributionLog, 558, INFO)
        << "[InstallAttribution] Tail window miss; file_size=" << size
        << " exceeds whole-file PE scan limit " << kWholeImageScanLimit
        << " \xE2\x80\x94 skip loading entire image.";
    return std::string();
  }
  tail = std::vector<uint8_t>();  // release the window before the image is allocated
  std::vector<uint8_t> image(static_cast<size_t>(size));
  if (!file->ReadAt(0, image, error)) {
    LOG_AT(kAttributionLog, 577, ERROR) << "[InstallAttribution] ReadFile (full image) failed";
    return std::string();
  }
  file.reset();
  return FindChannelInfoInPeImage(image, malformed, &place);
}

}  // namespace

std::string FindAttributionInFile(std::unique_ptr<ByteSource> file, RecordPlace* place) {
  // One budget for every search of the file: its summary line comes last.
  MalformedRecordLog malformed;
  RecordPlace found;
  std::string value = FindInFile(std::move(file), malformed, found);
  if (!value.empty() && place) *place = found;
  return value;
}

}  // namespace installer
