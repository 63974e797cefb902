// The PE headers of an image as far as the certificate-table directory
// entry: whether they are whole and where the fields lie that the searches
// and the stamping tool read or rewrite. Nothing here logs.
#ifndef MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_
#define MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_

#include <cstdint>
#include <optional>

#include "mir_installer_win/installer/binary_format.h"

namespace installer {

// Where the fields read here lie. e is e_lfanew, the offset of the NT headers.
inline constexpr uint64_t kNtHeadersOffsetField = 0x3C;   // e_lfanew
inline constexpr uint64_t kOptionalHeaderSizeField = 20;  // from e: SizeOfOptionalHeader
inline constexpr uint64_t kOptionalHeaderStart = 24;      // from e: Magic
inline constexpr uint64_t kChecksumField = 64;            // from the optional header
inline constexpr uint64_t kChecksumSize = 4;              // CheckSum
inline constexpr uint64_t kPe32Directories = 96;          // from the optional header
inline constexpr uint64_t kPe32PlusDirectories = 112;     // from the optional header
inline constexpr uint64_t kDirectoryEntrySize = 8;        // VirtualAddress, Size
inline constexpr uint32_t kCertificateTableEntry = 4;     // DataDirectory[4]
inline constexpr uint16_t kPe32Magic = 0x10B;
inline constexpr uint16_t kPe32PlusMagic = 0x20B;
inline constexpr uint16_t kMinimumOptionalHeaderSize = 0x60;

struct CertificateDirectory {
  uint32_t cert_rva = 0;  // for this entry a file offset, not a memory address
  uint32_t cert_size = 0;
};

// Offsets of the fields a stamping tool rewrites, with the entry's values.
struct PeLayout {
  uint64_t checksum_offset = 0;
  uint64_t certificate_entry_offset = 0;  // DataDirectory[4]
  CertificateDirectory directory;
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

// Makes the checks in order and fills `layout` when all pass.
PeHeaderCheck CheckPeHeaders(ByteSpan image, PeLayout& layout);

// The certificate-table directory entry of a PE32 or PE32+ image, or nothing
// when the image is not one or its optional header is too short.
std::optional<CertificateDirectory> ParsePeHeaders(ByteSpan image);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_
