#include "mir_installer_win/installer/signed_image.h"

#include <algorithm>

#include "absl/strings/str_format.h"
#include "mir_installer_win/installer/certificate_table.h"

namespace installer {
namespace {

constexpr uint8_t kDerSequence = 0x30;

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

// The image's layout from its headers, checked before the table is read.
bool CheckLayout(SignedImage& image, std::string& error) {
  const PeHeaderCheck check = CheckPeHeaders(image.headers, image.layout);
  if (check != PeHeaderCheck::kPassed) {
    return Fail(error, std::string("not a PE image: ") + DescribePeHeaderCheck(check));
  }
  const CertificateDirectory& directory = image.layout.directory;
  const uint64_t start = directory.cert_rva;
  const uint64_t end = start + directory.cert_size;
  if (start == 0 || directory.cert_size == 0) {
    return Fail(error, "the image has no certificate table (is it signed?)");
  }
  if (start < image.layout.headers_end) {
    return Fail(error,
                absl::StrFormat("the certificate table starts inside the headers (at %u)", start));
  }
  if (start >= image.file_size) {
    return Fail(error, absl::StrFormat("the certificate directory points past the end of the file "
                                       "(table at %u, file of %u bytes)",
                                       start, image.file_size));
  }
  if (end > image.file_size) {
    return Fail(error, absl::StrFormat("the certificate table is cut short: it should end at %u, "
                                       "the file ends at %u",
                                       end, image.file_size));
  }
  if (end != image.file_size) {
    return Fail(error, "the certificate table does not end the file (bytes follow it)");
  }
  if (directory.cert_size > kMaxCertificateTableSize) {
    return Fail(error, absl::StrFormat("the certificate table is %u bytes; at most %u are read",
                                       directory.cert_size, kMaxCertificateTableSize));
  }
  return true;
}

}  // namespace

bool ReadSignedImage(ByteSource& source, SignedImage& image, std::string& error) {
  uint64_t file_size = 0;
  uint32_t system_error = 0;
  if (!source.Size(file_size, system_error)) return Fail(error, "cannot read its size");
  // The size is checked before anything is read or allocated.
  if (file_size > static_cast<uint64_t>(kMaxAttributionFileSize)) {
    return Fail(error, absl::StrFormat("the file is %u bytes; the launcher reads no file over %u",
                                       file_size, kMaxAttributionFileSize));
  }
  image.file_size = file_size;
  image.headers.resize(std::min(file_size, kMaxHeadersRead));
  if (!source.ReadAt(0, image.headers, system_error)) {
    return Fail(error, "cannot read its headers");
  }
  if (!CheckLayout(image, error)) return false;
  image.table.resize(image.layout.directory.cert_size);
  if (!source.ReadAt(image.layout.directory.cert_rva, image.table, system_error)) {
    return Fail(error, "cannot read its certificate table");
  }
  return true;
}

bool FindSignatureEntry(ByteSpan table, SignatureEntry& entry, std::string& error) {
  // The launcher's walk to the last entry, which must end exactly where the
  // table does.
  CertificateTableWalk walk(table, table.size());
  CertificateEntry last;
  for (CertificateEntry next; walk.Next(next);) last = next;
  if (walk.stop() != CertificateWalkStop::kEnd) {
    return Fail(error, std::string("the certificate table holds a malformed WIN_CERTIFICATE "
                                   "entry: ") +
                           DescribeCertificateWalkStop(walk.stop()));
  }
  const std::optional<DerElement> signature = ReadDerElement(last.content);
  if (last.revision != kCertificateRevision2 || last.type != kCertificateTypePkcsSignedData ||
      !signature || signature->tag != kDerSequence) {
    return Fail(error, "the last certificate entry is not an Authenticode signature");
  }
  entry.offset = last.offset;
  entry.length = last.length;
  entry.signature_end = last.offset + kCertificateEntryHeaderSize + signature->length;
  return true;
}

std::string DescribeFileOffset(const SignedImage& image, uint64_t offset) {
  if (offset >= image.layout.directory.cert_rva) return "inside the certificate table";
  if (const std::optional<std::string> name = SectionNameAt(image.headers, image.layout, offset)) {
    return "inside section " + *name;
  }
  return offset < image.layout.headers_end ? "inside the headers" : "outside every section";
}

}  // namespace installer
