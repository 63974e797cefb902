#include "mir_installer_win/installer/pe_image.h"

#include <algorithm>

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
  layout.directory.cert_size = *ReadLe32(image, layout.certificate_size_offset());
  layout.section_table_offset = optional_end;
  layout.section_count = *ReadLe16(image, e + kSectionCountField);
  layout.headers_end = std::max(optional_end + kSectionHeaderSize * layout.section_count,
                                uint64_t{*ReadLe32(image, optional_header + kSizeOfHeadersField)});
  return PeHeaderCheck::kPassed;
}

std::optional<std::string> SectionNameAt(ByteSpan headers, const PeLayout& layout,
                                         uint64_t offset) {
  for (uint64_t i = 0; i < layout.section_count; ++i) {
    const uint64_t header = layout.section_table_offset + kSectionHeaderSize * i;
    if (!Contains(headers, header, kSectionHeaderSize)) break;
    const uint64_t start = *ReadLe32(headers, header + kSectionRawOffsetField);
    const uint64_t size = *ReadLe32(headers, header + kSectionRawSizeField);
    if (offset < start || offset - start >= size) continue;
    std::string name;
    for (uint64_t at = header; at < header + kSectionNameSize && headers[at] != 0; ++at) {
      name += headers[at] >= 0x20 && headers[at] < 0x7F ? static_cast<char>(headers[at]) : '?';
    }
    return name;
  }
  return std::nullopt;
}

}  // namespace installer
