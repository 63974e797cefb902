#include "mir_installer_win/installer/pe_image.h"

namespace installer {

const char* DescribePeHeaderCheck(PeHeaderCheck check) {
  switch (check) {
    case PeHeaderCheck::kPassed:
      return "a PE image";
    case PeHeaderCheck::kNoMzHeader:
      return "no MZ header";
    case PeHeaderCheck::kNtHeadersOutside:
      return "e_lfanew points outside the file";
    case PeHeaderCheck::kNoPeSignature:
      return "no PE signature";
    case PeHeaderCheck::kFileHeaderCut:
      return "the file header is cut short";
    case PeHeaderCheck::kOptionalHeaderTooSmall:
      return "the optional header is too small";
    case PeHeaderCheck::kOptionalHeaderOutside:
      return "the optional header runs past the end of the file";
    case PeHeaderCheck::kUnknownMagic:
      return "neither PE32 nor PE32+";
    case PeHeaderCheck::kDirectoriesOutside:
    case PeHeaderCheck::kTooFewDirectories:
    case PeHeaderCheck::kCertificateEntryOutside:
      return "the optional header has no certificate-table entry";
  }
  return "";
}

PeHeaderCheck CheckPeHeaders(ByteSpan image, PeLayout& layout) {
  const uint64_t n = image.size();
  if (n < 64 || image[0] != 'M' || image[1] != 'Z') return PeHeaderCheck::kNoMzHeader;
  const uint64_t e = *ReadLe32(image, kNtHeadersOffsetField);
  if (e > n || n - e < 24) return PeHeaderCheck::kNtHeadersOutside;
  if (image[e] != 'P' || image[e + 1] != 'E' || image[e + 2] != 0 || image[e + 3] != 0) {
    return PeHeaderCheck::kNoPeSignature;
  }
  if (n < e + 26) return PeHeaderCheck::kFileHeaderCut;
  const uint16_t optional_header_size = *ReadLe16(image, e + kOptionalHeaderSizeField);
  if (optional_header_size < kMinimumOptionalHeaderSize) {
    return PeHeaderCheck::kOptionalHeaderTooSmall;
  }
  const uint64_t optional_header = e + kOptionalHeaderStart;
  const uint64_t optional_end = optional_header + optional_header_size;
  if (optional_end > n) return PeHeaderCheck::kOptionalHeaderOutside;
  const uint16_t magic = *ReadLe16(image, optional_header);
  uint64_t directories;
  if (magic == kPe32Magic) {
    directories = optional_header + kPe32Directories;
  } else if (magic == kPe32PlusMagic) {
    directories = optional_header + kPe32PlusDirectories;
  } else {
    return PeHeaderCheck::kUnknownMagic;
  }
  if (directories > optional_end) return PeHeaderCheck::kDirectoriesOutside;
  // NumberOfRvaAndSizes is the field just before the directories.
  if (*ReadLe32(image, directories - 4) <= kCertificateTableEntry) {
    return PeHeaderCheck::kTooFewDirectories;
  }
  const uint64_t entry = directories + kDirectoryEntrySize * kCertificateTableEntry;
  if (entry + kDirectoryEntrySize > optional_end) return PeHeaderCheck::kCertificateEntryOutside;

  layout.checksum_offset = optional_header + kChecksumField;
  layout.certificate_entry_offset = entry;
  layout.directory.cert_rva = *ReadLe32(image, entry);
  layout.directory.cert_size = *ReadLe32(image, entry + 4);
  return PeHeaderCheck::kPassed;
}

std::optional<CertificateDirectory> ParsePeHeaders(ByteSpan image) {
  PeLayout layout;
  if (CheckPeHeaders(image, layout) != PeHeaderCheck::kPassed) return std::nullopt;
  return layout.directory;
}

}  // namespace installer
