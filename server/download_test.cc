#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "server/attributed_download.h"
#include "server/base64url.h"
#include "server/download_etag.h"
#include "server/link_key_file.h"
#include "server/link_token.h"
#include "testing/scoped_temp_dir.h"

namespace server {
namespace {

constexpr char kName[] = "mirelo_browser_setup.exe";
constexpr uint64_t kExpires = 1893456000;
const std::string kValue = "src=web&name=caf\xc3\xa9";

std::vector<uint8_t> Key(uint8_t first) {
  std::vector<uint8_t> key(32);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(first + i);
  return key;
}

// Two live keys, as while keys are rotated.
void AddTwoKeys(LinkKeys& keys) {
  std::string error;
  EXPECT_TRUE(keys.Add("k1", Key(0), error));
  EXPECT_TRUE(keys.Add("k2", Key(100), error));
}

// The token as the README documents it, computed with Python's hmac and base64.
TEST(LinkTokenTest, MatchesTheDocumentedFormat) {
  EXPECT_EQ(MakeLinkToken("k1", Key(0), kName, kValue, kExpires),
            "c3JjPXdlYiZuYW1lPWNhZsOp.1893456000.k1.yX9qU6vwwSCGU3vvVWZ_G4yrDVBr2WjXrONMx6uBvno");
  EXPECT_EQ(DownloadEtag(0x6b19a346, 0x23f0, kValue), "\"6b19a346-23f0-c8e499798dced9c7\"");
  EXPECT_EQ(DownloadEtag(0x6b19a346, 0x23f0, std::nullopt), "\"6b19a346-23f0\"");
}

TEST(LinkTokenTest, AcceptsOnlyUnalteredLiveTokensForTheirFile) {
  const std::string good = MakeLinkToken("k1", Key(0), kName, kValue, kExpires);
  // `good` with one field changed.
  const auto altered = [&good](const std::function<void(LinkToken&)>& change) {
    LinkToken token;
    std::string error;
    EXPECT_TRUE(ParseLinkToken(good, token, error));
    change(token);
    return FormatLinkToken(token);
  };
  const struct {
    const char* name;
    std::string token;
    std::string file = kName;
    int64_t now = kExpires - 1;
    const char* reason = nullptr;  // null: accepted
  } cases[] = {
      {"live", good},
      {"second key", MakeLinkToken("k2", Key(100), kName, kValue, kExpires)},
      {"expired", good, kName, kExpires, "expired"},
      {"before 1970", good, kName, -1, "expired"},
      {"unknown key id", MakeLinkToken("k3", Key(0), kName, kValue, kExpires), kName, 0, "no key"},
      {"other key's id", altered([](LinkToken& t) { t.key_id = "k2"; }), kName, 0, "MAC"},
      {"bit in the MAC", altered([](LinkToken& t) { t.mac[31] ^= 1; }), kName, 0, "MAC"},
      {"bit in the value", altered([](LinkToken& t) { t.value[0] ^= 1; }), kName, 0, "MAC"},
      {"bit in the expiry", altered([](LinkToken& t) { t.expires ^= 1; }), kName, 0, "MAC"},
      {"other file", good, "mirelo_browser_setup(1).exe", 0, "MAC"},
      {"too long", std::string(kMaxLinkTokenLength + 1, 'A'), kName, 0, "longer"},
      {"five fields", good + ".x", kName, 0, "more than four"},
      {"three fields", "YQ.1.k1", kName, 0, "fewer"},
      {"padded value", "YQ==." + good.substr(good.find('.') + 1), kName, 0, "base64url"},
      {"leading zero", std::string(good).insert(good.find('.') + 1, "0"), kName, 0, "decimal"},
      {"short MAC", good.substr(0, good.size() - 2), kName, 0, "32 bytes"},
      {"bad key id", "YQ.1.k!.AAAA", kName, 0, "key id"},
  };
  LinkKeys keys;
  AddTwoKeys(keys);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string value, reason;
    EXPECT_EQ(VerifyLinkToken(keys, c.token, c.file, c.now, value, reason), c.reason == nullptr);
    if (c.reason) {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    } else {
      EXPECT_EQ(value, kValue);
    }
  }
}

TEST(Base64UrlTest, OneTextPerByteString) {
  const struct {
    std::string bytes;
    std::string text;
  } vectors[] = {
      {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "-_8"}};
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.text);
    EXPECT_EQ(Base64UrlEncode(v.bytes), v.text);
    EXPECT_EQ(Base64UrlDecode(v.text), v.bytes);
    EXPECT_EQ(Base64UrlLength(v.bytes.size()), v.text.size());
  }
  // Padding, the standard alphabet, a lone character, unused bits set.
  for (const char* text : {"Zg==", "+/8", "Zm9vY", "Zh", "Zm9=", "Zm 9v"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(Base64UrlDecode(text));
  }
}

TEST(PlanDownloadTest, StampsOnlyValuesTheLauncherStores) {
  const struct {
    const char* name;
    std::string value;
    bool token = true;
    const char* reason = nullptr;  // null: stamped
  } cases[] = {
      {"multi-byte", kValue},
      {"longest", std::string(4096, 'x')},
      {"no token", kValue, false, "no token"},
      {"NUL byte", std::string("a\0b", 3), true, "refuse"},
      {"not UTF-8", "bad\xff", true, "refuse"},
      {"noncharacter", "\xef\xbf\xbe", true, "refuse"},
  };
  LinkKeys keys;
  AddTwoKeys(keys);
  installer::AttributionSlot slot;
  slot.file_size = 9200;
  slot.offset = slot.file_size - slot.size;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string token = c.token ? MakeLinkToken("k1", Key(0), kName, c.value, kExpires) : "";
    std::vector<uint8_t> bytes(slot.size, 0xAA), expected(slot.size);
    const DownloadPlan plan = PlanDownload(keys, token, kName, 0, 77, slot, bytes);
    EXPECT_EQ(plan.stamped, c.reason == nullptr);
    if (c.reason) {
      EXPECT_NE(plan.reason.find(c.reason), std::string::npos) << plan.reason;
      EXPECT_EQ(plan.etag, DownloadEtag(77, slot.file_size, std::nullopt));
      continue;
    }
    std::string error;
    ASSERT_TRUE(
        installer::FillAttributionSlot(c.value, installer::RecordForm::kTrailer, expected, error));
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(plan.etag, DownloadEtag(77, slot.file_size, c.value));
  }
}

TEST(LinkKeyFileTest, RefusesFilesThatCannotHoldAPrivateKey) {
  const test_support::ScopedTempDir dir;
  const struct {
    const char* name;
    size_t size;  // 0: not created
    mode_t mode;
    const char* reason = nullptr;  // null: read
  } cases[] = {
      {"private", 32, 0600},
      {"group-readable, longest", 4096, 0640},
      {"missing", 0, 0600, "cannot be read"},
      {"world-readable", 32, 0644, "every user"},
      {"short", 31, 0600, "31 bytes"},
      {"long", 4097, 0600, "4097 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir.path() / c.name).string();
    if (c.size) {
      std::ofstream(path, std::ios::binary) << std::string(c.size, 'k');
      chmod(path.c_str(), c.mode);
    }
    std::vector<uint8_t> key;
    std::string error;
    EXPECT_EQ(ReadLinkKeyFile(path, key, error), c.reason == nullptr);
    if (c.reason) {
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
      EXPECT_EQ(error.find("kkkk"), std::string::npos);
    } else {
      EXPECT_EQ(key, std::vector<uint8_t>(c.size, 'k'));
    }
  }
  std::vector<uint8_t> key;
  std::string error;
  EXPECT_FALSE(ReadLinkKeyFile(dir.path().string(), key, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

}  // namespace
}  // namespace server
