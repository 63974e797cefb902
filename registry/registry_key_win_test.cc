// RegistryKey against the real registry of the test prefix.
#include "registry/registry_key_win.h"

#include <gtest/gtest.h>

#include "testing/scoped_registry_key_win.h"

namespace registry {
namespace {

using test_support::ScopedRegistryTree;

constexpr wchar_t kTestKey[] = L"Software\\MireloTest\\RegistryKey";

class RegistryKeyTest : public ::testing::Test {
 protected:
  ScopedRegistryTree tree_{HKEY_CURRENT_USER, kTestKey};
};

TEST_F(RegistryKeyTest, ConstructionOpensForReadingAndCreatesForWriting) {
  RegistryKey reader(HKEY_CURRENT_USER, kTestKey, KEY_READ);
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_FALSE(tree_.Exists());
  RegistryKey writer(HKEY_CURRENT_USER, kTestKey, KEY_SET_VALUE);
  EXPECT_TRUE(writer.IsOpen());
  EXPECT_TRUE(tree_.Exists());
  RegistryKey no_root(nullptr, kTestKey, KEY_SET_VALUE);
  EXPECT_FALSE(no_root.IsOpen());
}

TEST_F(RegistryKeyTest, FailedOpenOrCreateKeepsTheHeldKey) {
  RegistryKey key;
  ASSERT_EQ(key.CreateKey(HKEY_CURRENT_USER, kTestKey, KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(key.OpenKey(HKEY_CURRENT_USER, L"Software\\MireloTest\\Missing", KEY_READ),
            ERROR_FILE_NOT_FOUND);
  EXPECT_NE(key.CreateKey(nullptr, L"x", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_TRUE(key.IsOpen());
  EXPECT_EQ(key.WriteString(L"still", L"usable"), ERROR_SUCCESS);
  std::wstring value;
  EXPECT_EQ(key.ReadString(L"still", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, L"usable");
}

TEST_F(RegistryKeyTest, ReadStringOutcomes) {
  const DWORD number = 7;
  ASSERT_EQ(tree_.SetRaw(L"dword", REG_DWORD, &number, 4), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"long", std::wstring(1500, L'x')), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"text", L"C:\\Mirelo"), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"empty", L""), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"temp", L"%TEMP%", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"huge", L"%HUGE%", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"fits", L"%FITS%", REG_EXPAND_SZ), ERROR_SUCCESS);
  SetEnvironmentVariableW(L"HUGE", std::wstring(1024, L'h').c_str());
  SetEnvironmentVariableW(L"FITS", std::wstring(1023, L'f').c_str());

  RegistryKey key(HKEY_CURRENT_USER, kTestKey, KEY_READ);
  ASSERT_TRUE(key.IsOpen());
  const struct {
    const wchar_t* name;
    LONG result;
  } failures[] = {{L"dword", ERROR_CANTREAD},
                  {L"missing", ERROR_FILE_NOT_FOUND},
                  {L"long", ERROR_MORE_DATA},
                  {L"huge", ERROR_MORE_DATA}};
  for (const auto& c : failures) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    std::wstring value = L"earlier";
    EXPECT_EQ(key.ReadString(c.name, &value), c.result);
    EXPECT_EQ(value, L"earlier");
  }
  std::wstring value;
  EXPECT_EQ(key.ReadString(L"text", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, L"C:\\Mirelo");
  EXPECT_EQ(key.ReadString(L"empty", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, L"");
  EXPECT_EQ(key.ReadString(L"fits", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, std::wstring(1023, L'f'));
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH), 0u);
  EXPECT_EQ(key.ReadString(L"temp", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, temp);
  SetEnvironmentVariableW(L"HUGE", nullptr);
  SetEnvironmentVariableW(L"FITS", nullptr);
}

TEST_F(RegistryKeyTest, ReadStringOfAFullBufferWithoutTerminator) {
  // The byte after the data must not be zero, or the string gets a terminator.
  std::wstring data(1025, L'y');
  ASSERT_EQ(tree_.SetRaw(L"full", REG_SZ, data.c_str(), 2048), ERROR_SUCCESS);
  std::string raw;
  DWORD type = 0;
  ASSERT_TRUE(tree_.GetRaw(L"full", &raw, &type));
  ASSERT_EQ(raw.size(), 2048u);
  RegistryKey key(HKEY_CURRENT_USER, kTestKey, KEY_READ);
  std::wstring value;
  EXPECT_EQ(key.ReadString(L"full", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, std::wstring(1024, L'y'));
}

TEST_F(RegistryKeyTest, ReadDword) {
  const DWORD number = 0x12345678;
  const unsigned char four[4] = {1, 2, 3, 4};
  const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const unsigned char two[2] = {1, 2};
  ASSERT_EQ(tree_.SetRaw(L"dword", REG_DWORD, &number, 4), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetRaw(L"four", REG_BINARY, four, 4), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetRaw(L"eight", REG_BINARY, eight, 8), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetRaw(L"two", REG_BINARY, two, 2), ERROR_SUCCESS);
  ASSERT_EQ(tree_.SetString(L"text", L"a"), ERROR_SUCCESS);  // 4 bytes, but a string
  RegistryKey key(HKEY_CURRENT_USER, kTestKey, KEY_READ);
  DWORD value = 0;
  EXPECT_EQ(key.ReadDword(L"dword", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_EQ(key.ReadDword(L"four", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 0x04030201u);
  value = 9;
  EXPECT_EQ(key.ReadDword(L"eight", &value), ERROR_MORE_DATA);
  EXPECT_EQ(key.ReadDword(L"two", &value), ERROR_CANTREAD);
  EXPECT_EQ(key.ReadDword(L"text", &value), ERROR_CANTREAD);
  EXPECT_EQ(key.ReadDword(L"missing", &value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(value, 9u);
}

TEST_F(RegistryKeyTest, WriteStringStoresExactlyOneTerminator) {
  RegistryKey key(HKEY_CURRENT_USER, kTestKey, KEY_SET_VALUE);
  ASSERT_EQ(key.WriteString(L"empty", L""), ERROR_SUCCESS);
  ASSERT_EQ(key.WriteString(L"cut", std::wstring(L"a\0b", 3).c_str()), ERROR_SUCCESS);
  std::string raw;
  DWORD type = 0;
  ASSERT_TRUE(tree_.GetRaw(L"empty", &raw, &type));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw, std::string(2, '\0'));
  ASSERT_TRUE(tree_.GetRaw(L"cut", &raw, &type));
  EXPECT_EQ(raw, std::string("a\0\0\0", 4));
}

TEST_F(RegistryKeyTest, WithoutAKeyOperationsReportThePlatformError) {
  RegistryKey key;
  key.Close();
  key.Close();
  std::wstring value = L"kept";
  EXPECT_NE(key.ReadString(L"x", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, L"kept");
  EXPECT_NE(key.WriteString(L"x", L"y"), ERROR_SUCCESS);
  RegistryKey opened(HKEY_CURRENT_USER, kTestKey, KEY_SET_VALUE);
  opened.Close();
  EXPECT_FALSE(opened.IsOpen());
  EXPECT_NE(opened.WriteString(L"x", L"y"), ERROR_SUCCESS);
}

}  // namespace
}  // namespace registry
