// Building a child's environment block from a base block and a set of changes.
#ifndef BASE_PROCESS_ENVIRONMENT_H_
#define BASE_PROCESS_ENVIRONMENT_H_

#include <map>
#include <string>
#include <string_view>

namespace base {

// Variable name to value; an empty value removes the variable. Ordered by
// name as UTF-16 code units.
using EnvironmentMap = std::map<std::wstring, std::wstring>;

// `base_block` is a Windows environment block: "name=value" entries, each
// ended by a zero unit, and one more zero unit at the end. The result keeps
// every entry whose name is not changed, in order, then the non-empty
// changes in name order, then the final zero unit.
std::wstring AlterEnvironmentBlock(std::wstring_view base_block, const EnvironmentMap& changes);

}  // namespace base

#endif  // BASE_PROCESS_ENVIRONMENT_H_
