// The CHANNEL_INFO search of a whole PE file image held in memory: the PE
// headers as far as the certificate-table directory entry, a walk of the
// WIN_CERTIFICATE entries looking behind each signature, and as a last
// attempt everything from the first certificate's content to the end of the
// image. Signatures are never verified; lengths are all that is read.
#ifndef MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_SEARCH_H_
#define MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_SEARCH_H_

#include <string>

#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/channel_info_search.h"

namespace installer {

// The value found in the image, or empty; `place` (if any) is given where,
// from the image's start. Logs each stage's outcome; the malformed delimited
// records it skips are logged through `malformed`, or, without one, through
// a budget of its own.
std::string FindChannelInfoInPeImage(ByteSpan image, MalformedRecordLog& malformed,
                                     RecordPlace* place = nullptr);
std::string FindChannelInfoInPeImage(ByteSpan image);

}  // namespace installer

#endif  // MIR_INSTALLER_WIN_INSTALLER_PE_IMAGE_SEARCH_H_
