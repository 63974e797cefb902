// The CHANNEL_INFO search of a whole PE file image held in memory: the PE
// headers as far as the certificate-table directory entry, a walk of the
// WIN_CERTIFICATE entries looking behind each signature, and as a last
// attempt everything from the first certificate's content to the end of the
// image. Signatures are never verified; lengths are all that is read.
#ifndef MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_
#define MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "mir_installer_win/installer/channel_info.h"

struct CertificateDirectory {
  uint32_t cert_rva = 0;  // for this entry a file offset, not a memory address
  uint32_t cert_size = 0;
};

// The certificate-table directory entry of a PE32 or PE32+ image, or nothing
// when the image is not one or its optional header is too short.
std::optional<CertificateDirectory> ParsePeHeaders(ByteSpan image);

// Offsets of the fields a stamping tool rewrites, for the same image.
struct PeLayout {
  uint64_t checksum_offset = 0;
  uint64_t certificate_entry_offset = 0;  // DataDirectory[4]
  CertificateDirectory directory;
};
std::optional<PeLayout> ParsePeLayout(ByteSpan image);

// The value found in the image, or empty. Logs each stage's outcome.
std::string FindChannelInfoInPeImage(ByteSpan image);

// `value` rounded up to a multiple of 8, in 64 bits so it cannot wrap.
inline uint64_t AlignTo8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

#endif  // MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_H_
