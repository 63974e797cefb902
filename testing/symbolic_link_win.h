// Symbolic links for tests. Wine's CreateSymbolicLinkW makes nothing, and its
// DeleteFileW and RemoveDirectoryW given a Unix link remove the target, so
// under Wine the link is a Unix one, made and removed by /bin/sh (Wine starts
// Unix programs given by their Unix path). Wine follows such a link like the
// system does, without showing it in the handle's attributes.
#ifndef TESTING_SYMBOLIC_LINK_WIN_H_
#define TESTING_SYMBOLIC_LINK_WIN_H_

#include <string>

namespace test_support {

// `link` pointing to `target` (both Windows paths; the target need not exist,
// and under Wine a missing folder of the target is made, so that
// "\\host\share\..." has a place to lead to), removed again at the end.
class ScopedSymbolicLink {
 public:
  ScopedSymbolicLink(std::wstring link, const std::wstring& target, bool directory);
  ~ScopedSymbolicLink();
  ScopedSymbolicLink(const ScopedSymbolicLink&) = delete;
  ScopedSymbolicLink& operator=(const ScopedSymbolicLink&) = delete;

  // Whether the link appeared within ten seconds.
  bool made() const { return made_; }

 private:
  std::wstring link_;
  bool directory_;
  bool made_;
};

}  // namespace test_support

#endif  // TESTING_SYMBOLIC_LINK_WIN_H_
