// The PE headers of an image as far as the certificate-table directory
// entry: whether they are whole, where the fields lie that the searches and
// the stamping tool read or rewrite, and which section holds a file offset.
// Every PE offset the project uses is written here. Nothing here logs.
#ifndef MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_
#define MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "mir_installer_win/installer/binary_format.h"

namespace installer {

// Where the fields read here lie. e is e_lfanew, the offset of the NT headers.
inline constexpr uint64_t kNtHeadersOffsetField = 0x3C;   // e_lfanew
inline constexpr uint64_t kSectionCountField = 6;         // from e: NumberOfSections
inline constexpr uint64_t kOptionalHeaderSizeField = 20;  // from e: SizeOfOptionalHeader
inline constexpr uint64_t kOptionalHeaderStart = 24;      // from e: Magic
inline constexpr uint64_t kSizeOfHeadersField = 60;       // from the optional header
inline constexpr uint64_t kChecksumField = 64;            // from the optional header
inline constexpr uint64_t kChecksumSize = 4;              // CheckSum
inline constexpr uint64_t kPe32Directories = 96;          // from the optional header
inline constexpr uint64_t kPe32PlusDirectories = 112;     // from the optional header
inline constexpr uint64_t kDirectoryEntrySize = 8;        // VirtualAddress, Size
inline constexpr uint64_t kDirectorySizeField = 4;        // from a directory entry: Size
inline constexpr uint32_t kCertificateTableEntry = 4;     // DataDirectory[4]
inline constexpr uint16_t kPe32Magic = 0x10B;
inline constexpr uint16_t kPe32PlusMagic = 0x20B;
inline constexpr uint16_t kMinimumOptionalHeaderSize = 0x60;
inline constexpr uint64_t kSectionHeaderSize = 40;      // the section table's entries
inline constexpr uint64_t kSectionNameSize = 8;         // from a section header: Name
inline constexpr uint64_t kSectionRawSizeField = 16;    // SizeOfRawData
inline constexpr uint64_t kSectionRawOffsetField = 20;  // PointerToRawData
// Where the headers the checks read lie: e_lfanew and the optional header in
// the first 64 KiB of a file, as in every image a linker writes.
inline constexpr uint64_t kMaxHeadersRead = 65536;

struct CertificateDirectory {
  uint32_t cert_rva = 0;  // for this entry a file offset, not a memory address
  uint32_t cert_size = 0;
};

// Where the headers' parts lie, from the file's start, and the values the
// certificate table is found by.
struct PeLayout {
  uint64_t checksum_offset = 0;
  uint64_t certificate_entry_offset = 0;  // DataDirectory[4]
  CertificateDirectory directory;
  uint64_t section_table_offset = 0;  // right after the optional header
  uint16_t section_count = 0;
  // Where the headers end: after the section table, or at SizeOfHeaders
  // when that is later. Nothing of the headers may lie in a certificate table.
  uint64_t headers_end = 0;

  uint64_t certificate_size_offset() const {
    return certificate_entry_offset + kDirectorySizeField;
  }
};

// The header checks, in the order they are made; the first that fails says
// why an image is not parsed.
enum class PeHeaderCheck {
  kPassed,
  kNoMzHeader,               // fewer than 64 bytes, or no "MZ"
  kNtHeadersOutside,         // e_lfanew past the end, or fewer than 24 bytes there
  kNoPeSignature,            // not "PE\0\0" at e_lfanew
  kFileHeaderCut,            // fewer than e + 26 bytes
  kOptionalHeaderTooSmall,   // SizeOfOptionalHeader below 96
  kOptionalHeaderOutside,    // the optional header runs past the end
  kUnknownMagic,             // neither PE32 nor PE32+
  kDirectoriesOutside,       // the directories start past the optional header
  kTooFewDirectories,        // NumberOfRvaAndSizes below 5
  kCertificateEntryOutside,  // DataDirectory[4] ends past the optional header
};
// What the check is about, for messages.
const char* DescribePeHeaderCheck(PeHeaderCheck check);

// Makes the checks in order and fills `layout` when all pass. `image` needs
// to hold the headers as far as the end of the optional header only.
PeHeaderCheck CheckPeHeaders(ByteSpan image, PeLayout& layout);

// The name of the section whose raw data holds file offset `offset` (its
// printable characters, others as '?'), from the section table as far as
// `headers` holds it; nothing when no section does.
std::optional<std::string> SectionNameAt(ByteSpan headers, const PeLayout& layout, uint64_t offset);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_
