#include "base/files/file_path.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(PathValueTest, EndsAtFirstNul) {
  EXPECT_EQ(PathValue(std::wstring_view(L"a\0b", 3)).Text(), L"a");
  EXPECT_TRUE(PathValue().empty());
}

TEST(PathValueTest, AppendComponent) {
  const struct {
    std::wstring_view path, component, expected;
  } cases[] = {
      {L"C:\\Temp\\", L"x.log", L"C:\\Temp\\x.log"},
      {L"C:\\Temp", L"x.log", L"C:\\Temp\\x.log"},
      {L"C:", L"x", L"C:x"},
      {L"C:\\", L"x", L"C:\\x"},
      {L"", L"x", L"x"},
      {L".", L"x", L"x"},
      {L".", L"", L"."},
      {L"a/", L"b", L"a\\b"},
      {L"\\\\server", L"x", L"\\\\server\\x"},
      {L"\\\\", L"x", L"\\\\x"},
      {L"\\", L"x", L"\\x"},
      {L"a\\\\\\", L"", L"a"},
      {L"a", L"C:\\x", L"a\\C:\\x"},  // not examined
      {L"a", std::wstring_view(L"b\0c", 3), L"a\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PathValue(c.path).ToUtf8() + " + " + PathValue(c.component).ToUtf8());
    EXPECT_EQ(PathValue(c.path).AppendComponent(c.component).Text(), c.expected);
  }
  EXPECT_EQ(PathValue(L"C:\\a").AppendAsciiComponent("Mirelo Browser").Text(),
            L"C:\\a\\Mirelo Browser");
}

TEST(PathValueTest, TrimTrailingSeparators) {
  const struct {
    std::wstring_view path, expected;
  } cases[] = {
      {L"a\\b\\\\", L"a\\b"},
      {L"\\", L"\\"},
      {L"C:\\", L"C:\\"},
      {L"\\\\", L"\\\\"},
      {L"C:\\\\", L"C:\\\\"},
      {L"\\\\\\", L"\\"},
      {L"C:\\\\\\", L"C:\\"},
      {L"a/", L"a"},
      {L"//", L"//"},
      {L"C:", L"C:"},
      {L"", L""},
      {L"\\\\\\\\", L"\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PathValue(c.path).ToUtf8());
    EXPECT_EQ(PathValue(c.path).TrimTrailingSeparators().Text(), c.expected);
  }
}

TEST(PathValueTest, ParentDirAndLastComponent) {
  const struct {
    std::wstring_view path, parent, last;
  } cases[] = {
      {L"C:\\a\\b", L"C:\\a", L"b"},
      {L"C:\\a", L"C:\\", L"a"},
      {L"C:a", L"C:", L"a"},
      {L"a", L".", L"a"},
      {L"\\a", L"\\", L"a"},
      {L"a\\b\\", L"a", L"b"},
      {L"", L".", L""},
      {L"C:\\", L"C:\\", L"\\"},
      {L"C:", L"C:", L""},
      {L"\\\\s\\x", L"\\\\s", L"x"},
      {L"a/b", L"a", L"b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PathValue(c.path).ToUtf8());
    EXPECT_EQ(PathValue(c.path).ParentDir().Text(), c.parent);
    EXPECT_EQ(PathValue(c.path).LastComponent().Text(), c.last);
  }
}

TEST(PathValueTest, HasParentReference) {
  const struct {
    std::wstring_view path;
    bool expected;
  } cases[] = {
      {L"..", true},      {L"a\\..\\b", true}, {L"a/...", true},    {L"a\\. ..", true},
      {L"a\\..\t", true}, {L"C:..", true},     {L"a..b", false},    {L"..a", false},
      {L"a\\b", false},   {L".", false},       {L"a\\.\\b", false}, {L"C:\\x..\\y", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PathValue(c.path).ToUtf8());
    EXPECT_EQ(PathValue(c.path).HasParentReference(), c.expected);
  }
}

TEST(PathValueTest, IsAbsolutePath) {
  const struct {
    std::wstring_view path;
    bool expected;
  } cases[] = {
      {L"C:\\x", true}, {L"c:/x", true}, {L"\\\\s\\x", true}, {L"//s", true}, {L"C:x", false},
      {L"C:", false},   {L"\\x", false}, {L"x", false},       {L"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PathValue(c.path).ToUtf8());
    EXPECT_EQ(PathValue(c.path).IsAbsolutePath(), c.expected);
  }
}

}  // namespace
}  // namespace base
