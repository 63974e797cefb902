#include "base/process/environment.h"

#include <algorithm>

namespace base {

std::wstring AlterEnvironmentBlock(std::wstring_view base_block, const EnvironmentMap& changes) {
  std::wstring result;
  while (!base_block.empty() && base_block[0] != L'\0') {
    const size_t end = std::min(base_block.find(L'\0'), base_block.size());
    const std::wstring_view entry = base_block.substr(0, end);
    // An entry such as "=C:=C:\x" has an empty name.
    const std::wstring name(entry.substr(0, entry.find(L'=')));
    if (!changes.count(name)) result.append(entry).push_back(L'\0');
    base_block.remove_prefix(std::min(end + 1, base_block.size()));
  }
  for (const auto& [name, value] : changes) {
    if (!value.empty()) result.append(name).append(L"=").append(value).push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

}  // namespace base
