// The one reader of a signed launcher's layout for attribution: its PE
// headers and its certificate table, read once from a ByteSource with every
// size capped before anything is allocated, and checked as the stamping tool
// and the download server both need them: the table ends the file and its
// last entry is an Authenticode signature. Nothing here logs.
//
//   SignedImage image;
//   if (!ReadSignedImage(source, image, error)) ... error says why
//   SignatureEntry last;
//   if (FindSignatureEntry(image.table, last, error)) ... last.signature_end
#ifndef MIR_INSTALLER_WIN_INSTALLER_SIGNED_IMAGE_H_
#define MIR_INSTALLER_WIN_INSTALLER_SIGNED_IMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/byte_source.h"
#include "mir_installer_win/installer/pe_image.h"

namespace installer {

// A real certificate table holds a few KiB of signatures; a larger one is
// refused before it is read.
inline constexpr uint64_t kMaxCertificateTableSize = 1048576;

struct SignedImage {
  uint64_t file_size = 0;
  std::vector<uint8_t> headers;  // the file's first bytes, up to kMaxHeadersRead
  PeLayout layout;
  std::vector<uint8_t> table;  // the whole certificate table: the file's last bytes
};

// Reads and checks the image's headers and certificate table; false with the
// reason when the file's size cannot be read or is larger than the launcher
// reads, the file cannot be read, is not a PE image, is unsigned, or its certificate table starts
// inside the headers, does not end the file or is larger than kMaxCertificateTableSize.
bool ReadSignedImage(ByteSource& source, SignedImage& image, std::string& error);

// The last WIN_CERTIFICATE entry of `table` when it is an Authenticode
// signature (revision 2.0, PKCS#7 signed data, a DER SEQUENCE that fits the
// entry): its offset, length and where the signature ends, all from the
// table's start. False with the reason otherwise.
struct SignatureEntry {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t signature_end = 0;
};
bool FindSignatureEntry(ByteSpan table, SignatureEntry& entry, std::string& error);

// What holds file offset `offset` of the image, for messages: "inside the
// certificate table", "inside section .rsrc", "inside the headers" or
// "outside every section".
std::string DescribeFileOffset(const SignedImage& image, uint64_t offset);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_SIGNED_IMAGE_H_
