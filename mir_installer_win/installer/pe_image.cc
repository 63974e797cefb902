#include "mir_installer_win/installer/pe_image.h"

#include "mir_installer_win/installer/attribution_log.h"
#include "mir_installer_win/installer/byte_reader.h"

namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kMinimumOptionalHeader = 0x60;
constexpr uint32_t kCertificateEntry = 4;

// A WIN_CERTIFICATE's content: the signature first, perhaps a record after it.
std::string SearchCertificateContent(ByteSpan content) {
  std::string value = FindChannelInfoTrailerAfterDer(content);
  if (value.empty()) value = FindChannelInfoDelimited(content);
  return value;
}

}  // namespace

std::optional<PeLayout> ParsePeLayout(ByteSpan image) {
  const ByteReader reader(image);
  const uint64_t n = reader.size();
  if (n < 64 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
  const uint64_t e = *reader.U32(0x3C);
  if (e > n || n - e < 24) return std::nullopt;
  if (image[e] != 'P' || image[e + 1] != 'E' || image[e + 2] != 0 || image[e + 3] != 0) {
    return std::nullopt;
  }
  if (n < e + 26) return std::nullopt;
  const uint16_t optional_header_size = *reader.U16(e + 20);
  if (optional_header_size < kMinimumOptionalHeader) return std::nullopt;
  const uint64_t optional_end = e + 24 + optional_header_size;
  if (optional_end > n) return std::nullopt;
  const uint16_t magic = *reader.U16(e + 24);
  uint64_t directories;
  if (magic == kPe32Magic) {
    directories = e + 120;
  } else if (magic == kPe32PlusMagic) {
    directories = e + 136;
  } else {
    return std::nullopt;
  }
  if (directories > optional_end) return std::nullopt;
  const std::optional<uint32_t> directory_count = reader.U32(directories - 4);
  if (!directory_count || *directory_count <= kCertificateEntry) return std::nullopt;
  if (directories + 8 * (kCertificateEntry + 1) > optional_end) return std::nullopt;

  PeLayout layout;
  layout.checksum_offset = e + 24 + 64;
  layout.certificate_entry_offset = directories + 8 * kCertificateEntry;
  layout.directory.cert_rva = *reader.U32(layout.certificate_entry_offset);
  layout.directory.cert_size = *reader.U32(layout.certificate_entry_offset + 4);
  return layout;
}

std::optional<CertificateDirectory> ParsePeHeaders(ByteSpan image) {
  const std::optional<PeLayout> layout = ParsePeLayout(image);
  if (!layout) return std::nullopt;
  return layout->directory;
}

std::string FindChannelInfoInPeImage(ByteSpan image) {
  const ByteReader reader(image);
  const uint64_t n = reader.size();
  if (n == 0) return std::string();
  const std::optional<CertificateDirectory> directory = ParsePeHeaders(image);
  if (!directory) {
    LOG_AT(kAttributionLog, 354, ERROR) << "[InstallAttribution] ParsePeHeaders failed (not a PE "
                                           "or unsupported optional header)";
    return std::string();
  }
  const uint32_t cert_rva = directory->cert_rva;
  const uint32_t cert_size = directory->cert_size;
  if (cert_rva == 0 || cert_size == 0) {
    LOG_AT(kAttributionLog, 360, WARNING)
        << "[InstallAttribution] PE Security directory empty: cert_rva=" << cert_rva
        << " cert_size=" << cert_size << " (unsigned exe or header cleared by repack tool)";
  }
  if (cert_size >= 1 && cert_size <= 7) {
    LOG_AT(kAttributionLog, 367, ERROR)
        << "[InstallAttribution] cert_size too small: " << cert_size;
    return std::string();
  }
  bool walk = cert_rva != 0 && cert_size != 0;
  if (walk && !reader.Contains(cert_rva, cert_size)) {
    LOG_AT(kAttributionLog, 380, WARNING)
        << "[InstallAttribution] DataDirectory[4] overruns file: cert_rva=" << cert_rva
        << " cert_size=" << cert_size << " file_size=" << n
        << "; will try cert_rva..EOF scan only.";
    walk = false;
  }
  const uint32_t first_length = cert_rva != 0 ? reader.U32(cert_rva).value_or(0) : 0;
  uint64_t table_bytes_used = cert_size;
  if (walk && first_length >= 8 && reader.Contains(cert_rva, first_length) &&
      first_length > cert_size) {
    // An injector that grew the entry but not the directory.
    LOG_AT(kAttributionLog, 401, WARNING)
        << "[InstallAttribution] DataDirectory[4].Size (" << cert_size
        << ") < first WIN_CERT.dwLength (" << first_length
        << "); using dwLength for read (fix injector to update both).";
    table_bytes_used = AlignTo8(first_length);
  }

  std::string result;
  for (uint64_t offset = 0; walk && offset < table_bytes_used;) {
    const uint64_t position = uint64_t{cert_rva} + offset;
    if (!reader.Contains(position, 8)) break;
    const uint32_t length = *reader.U32(position);
    if (length < 8) {
      LOG_AT(kAttributionLog, 420, ERROR)
          << "[InstallAttribution] WIN_CERTIFICATE dwLength too small: " << length;
      break;
    }
    const uint64_t aligned = AlignTo8(length);
    if (aligned > table_bytes_used - offset) {
      LOG_AT(kAttributionLog, 429, ERROR)
          << "[InstallAttribution] WIN_CERTIFICATE dwLength exceeds certificate table: " << length
          << " (aligned " << aligned << ") vs remaining " << (table_bytes_used - offset);
      break;
    }
    const std::optional<ByteSpan> entry = reader.Slice(position, length);
    if (!entry) {
      LOG_AT(kAttributionLog, 437, ERROR)
          << "[InstallAttribution] WIN_CERTIFICATE extends past EOF.";
      break;
    }
    // The last entry that yields a value wins.
    std::string value = SearchCertificateContent(entry->subspan(8));
    if (!value.empty()) result = std::move(value);
    offset += aligned;
  }

  if (result.empty() && cert_rva != 0 && reader.Contains(uint64_t{cert_rva} + 8, 0)) {
    result = SearchCertificateContent(image.subspan(uint64_t{cert_rva} + 8));
    if (!result.empty()) {
      LOG_AT(kAttributionLog, 473, WARNING) << "[InstallAttribution] CHANNEL_INFO found via "
                                               "cert_rva..EOF scan (structured walk missed or "
                                               "skipped)";
    }
  }
  if (result.empty()) {
    LOG_AT(kAttributionLog, 479, INFO)
        << "[InstallAttribution] No CHANNEL_INFO after PE-buffer attempts; cert_rva=" << cert_rva
        << " data_dir_size=" << cert_size << " first_dwLength=" << first_length
        << " table_bytes_used=" << table_bytes_used << " file_size=" << n;
  }
  return result;
}
