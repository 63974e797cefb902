#include "base/process/environment.h"

#include <gtest/gtest.h>

namespace base {
namespace {

std::wstring Block(std::initializer_list<std::wstring_view> entries) {
  std::wstring block;
  for (std::wstring_view entry : entries) block.append(entry).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

TEST(AlterEnvironmentBlockTest, SetsRemovesAndOrders) {
  const struct {
    const char* name;
    std::wstring base;
    EnvironmentMap changes;
    std::wstring expected;
  } cases[] = {
      {"the P/Q/R example",
       Block({L"P=1", L"Q=1", L"R=1"}),
       {{L"P", L"2"}, {L"R", L""}},
       Block({L"Q=1", L"P=2"})},
      {"no changes", Block({L"A=1"}), {}, Block({L"A=1"})},
      {"empty base", std::wstring(1, L'\0'), {{L"B", L"2"}, {L"A", L"1"}}, Block({L"A=1", L"B=2"})},
      {"names are case-sensitive",
       Block({L"Path=x"}),
       {{L"PATH", L"y"}},
       Block({L"Path=x", L"PATH=y"})},
      {"entries with an empty name stay",
       Block({L"=C:=C:\\x", L"A=1"}),
       {{L"A", L""}},
       Block({L"=C:=C:\\x"})},
      {"values may hold '='", Block({L"A=b=c"}), {{L"Z", L"="}}, Block({L"A=b=c", L"Z=="})},
      {"removing what is absent", Block({L"A=1"}), {{L"B", L""}}, Block({L"A=1"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AlterEnvironmentBlock(c.base, c.changes), c.expected);
  }
}

}  // namespace
}  // namespace base
