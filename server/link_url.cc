#include "server/link_url.h"

#include <algorithm>

#include "absl/strings/ascii.h"
#include "absl/strings/str_format.h"

namespace server {
namespace {

bool IsUnreserved(char c) {
  return absl::ascii_isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
         c == '~';
}

bool IsControl(char c) { return absl::ascii_iscntrl(static_cast<unsigned char>(c)); }

std::string PercentEncoded(std::string_view segment) {
  std::string encoded;
  for (const char c : segment) {
    if (IsUnreserved(c)) {
      encoded += c;
    } else {
      absl::StrAppendFormat(&encoded, "%%%02X", static_cast<unsigned char>(c));
    }
  }
  return encoded;
}

}  // namespace

std::string LinkFileNameProblem(std::string_view file_name) {
  if (file_name.empty() || file_name == "." || file_name == "..") {
    return "the file name is empty, \".\" or \"..\"";
  }
  if (file_name.find('/') != std::string_view::npos) return "the file name holds '/'";
  if (std::any_of(file_name.begin(), file_name.end(), IsControl)) {
    return "the file name holds a control character";
  }
  return "";
}

bool FormatLinkUrl(std::string_view prefix, std::string_view token, std::string_view file_name,
                   std::string& url, std::string& error) {
  error = LinkFileNameProblem(file_name);
  if (!error.empty()) return false;
  const bool printable = std::all_of(prefix.begin(), prefix.end(), [](char c) {
    return absl::ascii_isgraph(static_cast<unsigned char>(c)) && c != '?' && c != '#';
  });
  while (!prefix.empty() && prefix.back() == '/') prefix.remove_suffix(1);
  if (prefix.empty() || !printable) {
    error =
        "the URL prefix is empty, or holds a space, control character, non-ASCII byte, "
        "'?' or '#'";
    return false;
  }
  url = std::string(prefix) + "/" + std::string(token) + "/" + PercentEncoded(file_name);
  return true;
}

}  // namespace server
