// The URL of a signed link, PREFIX/<token>/<file name>, in the form a server
// decodes back to exactly the name that was signed: the file name is one
// path segment with every byte outside RFC 3986's unreserved characters
// percent-encoded. Names a path cannot carry as one segment are refused:
// empty, "." and "..", and names holding '/' or control characters (no
// release file has them, and a server's decoding would change them).
#ifndef SERVER_LINK_URL_H_
#define SERVER_LINK_URL_H_

#include <string>
#include <string_view>

namespace server {

// Why `file_name` cannot be a link's last segment, or empty.
std::string LinkFileNameProblem(std::string_view file_name);

// The link's URL; false with the reason when the file name cannot be a
// segment or the prefix is not printable ASCII without '?' and '#' (a
// space, line break or query there would cut or move the token). Slashes
// that end the prefix are dropped.
bool FormatLinkUrl(std::string_view prefix, std::string_view token, std::string_view file_name,
                   std::string& url, std::string& error);

}  // namespace server

#endif  // SERVER_LINK_URL_H_
