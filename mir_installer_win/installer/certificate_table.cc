#include "mir_installer_win/installer/certificate_table.h"

namespace installer {

const char* DescribeCertificateWalkStop(CertificateWalkStop stop) {
  switch (stop) {
    case CertificateWalkStop::kNone:
      return "the walk goes on";
    case CertificateWalkStop::kEnd:
      return "the entries fill the table";
    case CertificateWalkStop::kHeaderOutside:
      return "an entry's header lies past the end of the file";
    case CertificateWalkStop::kLengthTooSmall:
      return "an entry's dwLength is below 8";
    case CertificateWalkStop::kPastTable:
      return "an entry's dwLength, rounded up to 8, runs past the end of the table";
    case CertificateWalkStop::kPastData:
      return "an entry runs past the end of the file";
  }
  return "";
}

bool CertificateTableWalk::Next(CertificateEntry& entry) {
  if (stop_ != CertificateWalkStop::kNone) return false;
  if (offset_ >= table_size_) return Stop(CertificateWalkStop::kEnd);
  CertificateEntry current;
  current.offset = offset_;
  stopped_at_ = current;
  if (!Contains(data_, offset_, kCertificateEntryHeaderSize)) {
    return Stop(CertificateWalkStop::kHeaderOutside);
  }
  current.length = *ReadLe32(data_, offset_);
  current.aligned_length = AlignTo8(current.length);  // 64-bit: cannot wrap
  stopped_at_ = current;
  if (current.length < kCertificateEntryHeaderSize) {
    return Stop(CertificateWalkStop::kLengthTooSmall);
  }
  if (current.aligned_length > table_size_ - offset_) return Stop(CertificateWalkStop::kPastTable);
  if (!Contains(data_, offset_, current.length)) return Stop(CertificateWalkStop::kPastData);
  current.revision = *ReadLe16(data_, offset_ + kCertificateRevisionField);
  current.type = *ReadLe16(data_, offset_ + kCertificateTypeField);
  current.content = data_.subspan(offset_ + kCertificateEntryHeaderSize,
                                  current.length - kCertificateEntryHeaderSize);
  offset_ += current.aligned_length;
  entry = current;
  return true;
}

bool CertificateTableWalk::Stop(CertificateWalkStop stop) {
  stop_ = stop;
  return false;
}

}  // namespace installer
