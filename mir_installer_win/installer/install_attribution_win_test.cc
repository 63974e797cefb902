// The attribution locator on real files and the store on the real registry.
#include "mir_installer_win/installer/install_attribution_win.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/win/scoped_handle.h"
#include "product/product_details.h"
#include "testing/log_capture.h"
#include "testing/scoped_registry_key_win.h"
#include "testing/synthetic_pe_image.h"

namespace installer {
namespace {

using test_support::AttributionLine;
using test_support::BaseSyntheticImage;
using test_support::PeVariant;
using test_support::PeVariants;
using test_support::ScopedLogCapture;
using test_support::ScopedRegistryTree;
using test_support::ScopedTempDir;
using test_support::SyntheticImage;
using test_support::WriteBytes;

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A file of `size` bytes, sparse where nothing is written: `head` at the
// start and `tail` at the very end.
void MakeFile(const std::wstring& path, uint64_t size, std::string_view head,
              std::string_view tail = {}) {
  base::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  DWORD written = 0;
  ASSERT_TRUE(
      WriteFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &written, nullptr));
  LARGE_INTEGER position;
  position.QuadPart = static_cast<int64_t>(size - tail.size());
  ASSERT_TRUE(SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN));
  ASSERT_TRUE(
      WriteFile(file.Get(), tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr));
  position.QuadPart = static_cast<int64_t>(size);
  ASSERT_TRUE(SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file.Get()));
}

std::string AsString(const SyntheticImage& image) {
  return std::string(image.bytes.begin(), image.bytes.end());
}

class AttributionFileTest : public ::testing::Test {
 protected:
  std::wstring File() const { return dir_.Wide(L"launcher.exe"); }
  std::string Read() { return ReadAttributionFromFile(File().c_str()); }

  ScopedTempDir dir_;
  ScopedLogCapture capture_;
};

TEST_F(AttributionFileTest, SyntheticImageVariants) {
  for (const PeVariant& variant : PeVariants()) {
    SCOPED_TRACE(variant.name);
    WriteBytes(File(), AsString(variant.image));
    ScopedLogCapture capture;
    EXPECT_EQ(Read(), variant.value);
    EXPECT_EQ(capture.Bodies(), variant.lines);
  }
}

TEST_F(AttributionFileTest, FileSizeLimits) {
  const SyntheticImage image = BaseSyntheticImage();
  const struct {
    uint64_t size;
    std::string value;
    std::vector<std::string> lines;
  } cases[] = {
      {0, "", {AttributionLine(511, "File size out of range: 0 (max 536870912)", "ERROR")}},
      {1048576, "source=promo", {}},
      {1048577, "source=promo", {}},
      {67108864, "source=promo", {}},
      {67108865,
       "",
       {AttributionLine(558,
                        "Tail window miss; file_size=67108865 exceeds whole-file PE "
                        "scan limit 67108864 \xE2\x80\x94 skip loading entire "
                        "image.")}},
      {536870912,
       "",
       {AttributionLine(558,
                        "Tail window miss; file_size=536870912 exceeds whole-file "
                        "PE scan limit 67108864 \xE2\x80\x94 skip loading entire "
                        "image.")}},
      {536870913,
       "",
       {AttributionLine(511, "File size out of range: 536870913 (max 536870912)", "ERROR")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    // The record sits in the image at the start; "XYZ" at the end makes the
    // tail search miss, so only the PE stage can find it.
    if (c.size == 0) {
      MakeFile(File(), 0, "");
    } else {
      MakeFile(File(), c.size, AsString(image), "XYZ");
    }
    ScopedLogCapture capture;
    EXPECT_EQ(Read(), c.value);
    EXPECT_EQ(capture.Bodies(), c.lines);
  }
  DeleteFileW(File().c_str());
}

TEST_F(AttributionFileTest, DelimitedRecordInTheTailWindow) {
  const std::string record = "CHANNEL_INFO:d=1:CHANNEL_INFO";
  const struct {
    uint64_t size;
    uint64_t offset;
    std::string line;
  } cases[] = {
      {4096, 100, "(4096 bytes"},
      {1048576, 10, "(1048576 bytes"},
      {3145728, 3145728 - 1048576, "(1048576 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    MakeFile(File(), c.size, std::string(c.offset, 'x') + record + "trailing text", "end");
    ScopedLogCapture capture;
    EXPECT_EQ(Read(), "d=1");
    EXPECT_THAT(capture.Bodies(), ElementsAre(::testing::HasSubstr(c.line)));
  }
}

TEST_F(AttributionFileTest, SmallFileWithoutARecordIsNotAPeImage) {
  WriteBytes(File(), "tiny");
  EXPECT_EQ(Read(), "");
  EXPECT_THAT(capture_.Bodies(), ElementsAre(AttributionLine(354,
                                                             "ParsePeHeaders failed (not a PE or "
                                                             "unsupported optional header)",
                                                             "ERROR")));
}

TEST_F(AttributionFileTest, UnopenableFiles) {
  EXPECT_EQ(Read(), "");
  WriteBytes(File(), "x");
  base::ScopedHandle holder(
      CreateFileW(File().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  EXPECT_EQ(Read(), "");
  EXPECT_THAT(capture_.Bodies(),
              ElementsAre(AttributionLine(497, "CreateFileW failed: 2", "ERROR"),
                          AttributionLine(497, "CreateFileW failed: 32", "ERROR")));
}

TEST_F(AttributionFileTest, OwnFileIsSearched) {
  EXPECT_EQ(ReadAttributionFromSelf(), "");  // this test program carries no record
  EXPECT_THAT(capture_.Bodies(), ::testing::Contains(::testing::HasSubstr(
                                     ":360] [InstallAttribution] PE Security directory empty")));
}

class AttributionStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { product::InitProductDetails(); }
  std::string Stored(DWORD* type = nullptr) {
    std::string data;
    DWORD value_type = 0;
    if (!key_.GetRaw(L"CHANNEL_INFO", &data, &value_type)) return "<none>";
    if (type) *type = value_type;
    return data;
  }

  ScopedRegistryTree product_{HKEY_CURRENT_USER, L"Software\\Mirelo Browser"};
  ScopedRegistryTree key_{HKEY_CURRENT_USER, L"Software\\Mirelo Browser\\InstallAttribution"};
  ScopedLogCapture capture_;
};

std::string Written(size_t length) {
  return AttributionLine(633,
                         "Wrote CHANNEL_INFO to registry; key=HKCU\\Software\\Mirelo "
                         "Browser\\InstallAttribution value_len=" +
                             std::to_string(length));
}

TEST_F(AttributionStoreTest, WritesTheValueAsUtf16) {
  EXPECT_EQ(AttributionKeyPath(), L"Software\\Mirelo Browser\\InstallAttribution");
  ASSERT_TRUE(WriteAttributionToRegistry("\xC3\xA9"));
  DWORD type = 0;
  EXPECT_EQ(Stored(&type), std::string("\xE9\0\0\0", 4));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // A NUL would end the REG_SZ string: the value is refused, not cut.
  EXPECT_FALSE(WriteAttributionToRegistry(std::string("\0campaign", 9)));
  EXPECT_EQ(Stored(), std::string("\xE9\0\0\0", 4));
  EXPECT_THAT(
      capture_.Bodies(),
      ElementsAre(Written(2),
                  AttributionLine(607, "Refusing to write malformed CHANNEL_INFO", "ERROR")));
}

TEST_F(AttributionStoreTest, LengthLimits) {
  EXPECT_FALSE(WriteAttributionToRegistry(std::string(4097, 'a')));
  EXPECT_FALSE(WriteAttributionToRegistry("\xED\xA0\x80"));
  EXPECT_FALSE(WriteAttributionToRegistry(""));
  EXPECT_FALSE(key_.Exists());  // a refused value creates nothing
  ASSERT_TRUE(WriteAttributionToRegistry(std::string(4096, 'a')));
  EXPECT_EQ(Stored().size(), 2u * 4097);
  const std::string refused =
      AttributionLine(607, "Refusing to write malformed CHANNEL_INFO", "ERROR");
  EXPECT_THAT(capture_.Bodies(), ElementsAre(refused, refused, Written(4096)));
}

TEST_F(AttributionStoreTest, OnlyChannelInfoChanges) {
  ASSERT_EQ(key_.SetString(L"Other", L"kept"), ERROR_SUCCESS);
  ASSERT_EQ(key_.SetString(L"CHANNEL_INFO", L"old"), ERROR_SUCCESS);
  ASSERT_TRUE(WriteAttributionToRegistry("new"));
  EXPECT_EQ(Stored(), std::string("n\0e\0w\0\0\0", 8));
  std::string other;
  DWORD type;
  ASSERT_TRUE(key_.GetRaw(L"Other", &other, &type));
  EXPECT_EQ(other, std::string("k\0e\0p\0t\0\0\0", 10));
}

}  // namespace
}  // namespace installer
