#include "mir_installer_win/installer/pe_image_search.h"

#include "mir_installer_win/installer/attribution_log.h"
#include "mir_installer_win/installer/certificate_table.h"
#include "mir_installer_win/installer/pe_image.h"

namespace installer {
namespace {

// A WIN_CERTIFICATE's content, a part of `image`: the signature first,
// perhaps a record after it, whose place is given from the image's start.
std::string SearchCertificateContent(ByteSpan image, ByteSpan content,
                                     MalformedRecordLog& malformed, RecordPlace& place) {
  std::string value = FindChannelInfoTrailerAfterDer(content, &place);
  if (value.empty()) value = FindChannelInfoDelimited(content, malformed, &place);
  place.offset += static_cast<uint64_t>(content.data() - image.data());
  return value;
}

// A walk that ends early is an error of the table; the end of the data where
// the next header would start is not.
void LogWalkStop(const CertificateTableWalk& walk) {
  const CertificateEntry& entry = walk.stopped_at();
  switch (walk.stop()) {
    case CertificateWalkStop::kLengthTooSmall:
      LOG_AT(kAttributionLog, 420, ERROR)
          << "[InstallAttribution] WIN_CERTIFICATE dwLength too small: " << entry.length;
      break;
    case CertificateWalkStop::kPastTable:
      LOG_AT(kAttributionLog, 429, ERROR)
          << "[InstallAttribution] WIN_CERTIFICATE dwLength exceeds certificate table: "
          << entry.length << " (aligned " << entry.aligned_length << ") vs remaining "
          << walk.remaining();
      break;
    case CertificateWalkStop::kPastData:
      LOG_AT(kAttributionLog, 437, ERROR)
          << "[InstallAttribution] WIN_CERTIFICATE extends past EOF.";
      break;
    case CertificateWalkStop::kNone:
    case CertificateWalkStop::kEnd:
    case CertificateWalkStop::kHeaderOutside:
      break;
  }
}

}  // namespace

std::string FindChannelInfoInPeImage(ByteSpan image) {
  MalformedRecordLog malformed;
  return FindChannelInfoInPeImage(image, malformed);
}

std::string FindChannelInfoInPeImage(ByteSpan image, MalformedRecordLog& malformed,
                                     RecordPlace* place) {
  const uint64_t n = image.size();
  if (n == 0) return std::string();
  PeLayout layout;
  if (CheckPeHeaders(image, layout) != PeHeaderCheck::kPassed) {
    LOG_AT(kAttributionLog, 354, ERROR) << "[InstallAttribution] ParsePeHeaders failed (not a PE "
                                           "or unsupported optional header)";
    return std::string();
  }
  const uint32_t cert_rva = layout.directory.cert_rva;
  const uint32_t cert_size = layout.directory.cert_size;
  if (cert_rva == 0 || cert_size == 0) {
    LOG_AT(kAttributionLog, 360, WARNING)
        << "[InstallAttribution] PE Security directory empty: cert_rva=" << cert_rva
        << " cert_size=" << cert_size << " (unsigned exe or header cleared by repack tool)";
  }
  if (cert_size >= 1 && cert_size < kCertificateEntryHeaderSize) {
    LOG_AT(kAttributionLog, 367, ERROR)
        << "[InstallAttribution] cert_size too small: " << cert_size;
    return std::string();
  }
  bool walk = cert_rva != 0 && cert_size != 0;
  if (walk && !Contains(image, cert_rva, cert_size)) {
    LOG_AT(kAttributionLog, 380, WARNING)
        << "[InstallAttribution] DataDirectory[4] overruns file: cert_rva=" << cert_rva
        << " cert_size=" << cert_size << " file_size=" << n
        << "; will try cert_rva..EOF scan only.";
    walk = false;
  }
  const uint32_t first_length = cert_rva != 0 ? ReadLe32(image, cert_rva).value_or(0) : 0;
  uint64_t table_bytes_used = cert_size;
  if (walk && first_length >= kCertificateEntryHeaderSize &&
      Contains(image, cert_rva, first_length) && first_length > cert_size) {
    // An injector that grew the entry but not the directory.
    LOG_AT(kAttributionLog, 401, WARNING)
        << "[InstallAttribution] DataDirectory[4].Size (" << cert_size
        << ") < first WIN_CERT.dwLength (" << first_length
        << "); using dwLength for read (fix injector to update both).";
    table_bytes_used = AlignTo8(first_length);
  }

  std::string result;
  RecordPlace found, result_place;
  if (walk) {
    CertificateTableWalk entries(image.subspan(cert_rva), table_bytes_used);
    CertificateEntry entry;
    while (entries.Next(entry)) {
      // The last entry that yields a value wins.
      std::string value = SearchCertificateContent(image, entry.content, malformed, found);
      if (!value.empty()) {
        result = std::move(value);
        result_place = found;
      }
    }
    LogWalkStop(entries);
  }

  const uint64_t first_content = uint64_t{cert_rva} + kCertificateEntryHeaderSize;
  if (result.empty() && cert_rva != 0 && Contains(image, first_content, 0)) {
    result = SearchCertificateContent(image, image.subspan(first_content), malformed, result_place);
    if (!result.empty()) {
      LOG_AT(kAttributionLog, 473, WARNING) << "[InstallAttribution] CHANNEL_INFO found via "
                                               "cert_rva..EOF scan (structured walk missed or "
                                               "skipped)";
    }
  }
  if (!result.empty() && place) *place = result_place;
  if (result.empty()) {
    LOG_AT(kAttributionLog, 479, INFO)
        << "[InstallAttribution] No CHANNEL_INFO after PE-buffer attempts; cert_rva=" << cert_rva
        << " data_dir_size=" << cert_size << " first_dwLength=" << first_length
        << " table_bytes_used=" << table_bytes_used << " file_size=" << n;
  }
  return result;
}

}  // namespace installer
