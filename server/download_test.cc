#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "server/attributed_download.h"
#include "server/base64url.h"
#include "server/download_etag.h"
#include "server/link_key_file.h"
#include "server/link_token.h"
#include "server/link_url.h"
#include "server/release_base.h"
#include "testing/scoped_temp_dir.h"
#include "testing/synthetic_pe_image.h"

namespace server {
namespace {

constexpr char kName[] = "mirelo_browser_setup.exe";
constexpr uint64_t kExpires = 1893456000;
const std::string kValue = "src=web&name=caf\xc3\xa9";

base::SecretBytes Key(uint8_t first) {
  base::SecretBytes key(32);
  for (size_t i = 0; i < key.size(); ++i) key.data()[i] = static_cast<uint8_t>(first + i);
  return key;
}

// The first bytes of SHA-256("release") (sha256sum): all that an ETag shows.
constexpr base::Sha256Digest kReleaseDigest = {0xa4, 0xd4, 0x51, 0xec, 0x23, 0x46, 0x37, 0x26};

// Two live keys, as while keys are rotated.
void AddTwoKeys(LinkKeys& keys) {
  std::string error;
  EXPECT_TRUE(keys.Add("k1", Key(0), error));
  EXPECT_TRUE(keys.Add("k2", Key(100), error));
}

// The token as docs/formats.md documents it, computed with Python's hmac and base64.
TEST(LinkTokenTest, MatchesTheDocumentedFormat) {
  EXPECT_EQ(MakeLinkToken("k1", Key(0).span(), kName, kValue, kExpires),
            "c3JjPXdlYiZuYW1lPWNhZsOp.1893456000.k1.yX9qU6vwwSCGU3vvVWZ_G4yrDVBr2WjXrONMx6uBvno");
  EXPECT_EQ(DownloadEtag(kReleaseDigest, kValue), "\"a4d451ec23463726-c8e499798dced9c7\"");
  EXPECT_EQ(DownloadEtag(kReleaseDigest, std::nullopt), "\"a4d451ec23463726\"");
}

TEST(LinkTokenTest, AcceptsOnlyUnalteredLiveTokensForTheirFile) {
  const std::string good = MakeLinkToken("k1", Key(0).span(), kName, kValue, kExpires);
  const std::string longest_key_id(kMaxKeyIdLength, 'k');
  const std::string longest = MakeLinkToken(longest_key_id, Key(0).span(), kName,
                                            std::string(4096, 'v'), 9999999999999999999u);
  EXPECT_EQ(longest.size(), kMaxLinkTokenLength);
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
      {"second key", MakeLinkToken("k2", Key(100).span(), kName, kValue, kExpires)},
      {"expired", good, kName, kExpires, "expired"},
      {"before 1970", good, kName, -1, "expired"},
      {"unknown key id", MakeLinkToken("k3", Key(0).span(), kName, kValue, kExpires), kName, 0,
       "no key"},
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
      {"key id of 32", MakeLinkToken(longest_key_id, Key(0).span(), kName, kValue, kExpires), kName,
       0, "no key"},
      {"key id of 33", MakeLinkToken(longest_key_id + "k", Key(0).span(), kName, kValue, kExpires),
       kName, 0, "key id"},
      {"the longest token", longest, kName, 0, "no key"},
  };
  LinkKeys keys;
  AddTwoKeys(keys);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string value;
    LinkRefusal refusal;
    EXPECT_EQ(VerifyLinkToken(keys, c.token, c.file, c.now, value, refusal), c.reason == nullptr);
    if (c.reason) {
      EXPECT_NE(refusal.reason.find(c.reason), std::string::npos) << refusal.reason;
      // The code follows from the reason's kind.
      const std::string_view reason(c.reason);
      EXPECT_EQ(refusal.code, reason == "expired"  ? kLinkExpired
                              : reason == "no key" ? kLinkUnknownKey
                              : reason == "MAC"    ? kLinkForged
                                                   : kLinkMalformed);
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
  for (const char* text : {"Zg==", "+/8", "+_8", "Zm9vY", "Zm9vA", "Zh", "Zm9=", "Zm 9v"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(Base64UrlDecode(text));
  }
}

TEST(DecideDownloadTest, StampsOnlyValuesTheLauncherStoresWhileTheLinkLives) {
  // The If-Range a request sends: none, its own stamped copy's ETag (as a
  // browser resumes), the base's, or another value's copy's.
  enum Validator { kNone, kOwn, kBase, kOther };
  constexpr int64_t kWeek = kDefaultResumeGraceSeconds;
  const struct {
    const char* name;
    std::string value;
    bool token = true;
    std::string_view code = kStamped;
    int64_t now = 0;
    bool range = false;
    Validator if_range = kNone;
    uint64_t grace = kDefaultResumeGraceSeconds;
  } cases[] = {
      {"multi-byte", kValue},
      {"longest", std::string(4096, 'x')},
      {"no token", kValue, false, kNoToken},
      {"NUL byte", std::string("a\0b", 3), true, kRefusedValue},
      {"not UTF-8", "bad\xff", true, kRefusedValue},
      {"noncharacter", "\xef\xbf\xbe", true, kRefusedValue},
      {"last live second", kValue, true, kStamped, kExpires - 1},
      {"expired", kValue, true, kLinkExpired, kExpires},
      {"expired, a resume of its copy", kValue, true, kStamped, kExpires + 1, true, kOwn},
      {"expiry's second, a resume of its copy", kValue, true, kStamped, kExpires, true, kOwn},
      {"grace's last second", kValue, true, kStamped, kExpires + kWeek - 1, true, kOwn},
      {"past the grace", kValue, true, kLinkExpired, kExpires + kWeek, true, kOwn},
      {"grace 0", kValue, true, kLinkExpired, kExpires, true, kOwn, 0},
      {"grace 0, last live second", kValue, true, kStamped, kExpires - 1, true, kOwn, 0},
      {"largest grace", kValue, true, kStamped, INT64_MAX, true, kOwn, UINT64_MAX},
      {"expired, If-Range without Range", kValue, true, kLinkExpired, kExpires + 1, false, kOwn},
      {"expired, Range without If-Range", kValue, true, kLinkExpired, kExpires + 1, true},
      {"expired, the base's ETag", kValue, true, kLinkExpired, kExpires + 1, true, kBase},
      {"expired, another copy's ETag", kValue, true, kLinkExpired, kExpires + 1, true, kOther},
      {"before 1970", kValue, true, kLinkExpired, -1, true, kOwn},
      {"expired, refused value", "bad\xff", true, kLinkExpired, kExpires, true, kNone},
  };
  LinkKeys keys;
  AddTwoKeys(keys);
  ReleaseBase release;
  release.slot.file_size = 9200;
  release.slot.offset = release.slot.file_size - release.slot.size;
  release.digest = kReleaseDigest;
  const installer::AttributionSlot& slot = release.slot;
  const std::string base_etag = DownloadEtag(kReleaseDigest, std::nullopt);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string token =
        c.token ? MakeLinkToken("k1", Key(0).span(), kName, c.value, kExpires) : "";
    const std::string own_etag = DownloadEtag(kReleaseDigest, c.value);
    const std::string validators[] = {"", own_etag, base_etag,
                                      DownloadEtag(kReleaseDigest, "src=other")};
    const ResumeRequest resume{c.grace, c.range, validators[c.if_range]};
    std::vector<uint8_t> bytes(slot.size, 0xAA), expected(slot.size);
    const DownloadDecision decision =
        DecideDownload(keys, token, kName, c.now, resume, release, bytes);
    EXPECT_EQ(decision.code, c.code);
    EXPECT_EQ(decision.stamped, c.code == kStamped);
    if (c.code != kStamped) {
      EXPECT_EQ(decision.value, "");
      EXPECT_FALSE(decision.reason.empty());
      EXPECT_EQ(decision.etag, base_etag);
      continue;
    }
    EXPECT_EQ(decision.value, c.value);
    std::string error;
    ASSERT_TRUE(
        installer::FillAttributionSlot(c.value, installer::RecordForm::kTrailer, expected, error));
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(decision.etag, own_etag);
  }
}

TEST(LinkKeyFileTest, ReadsOnlyFilesThatOnlyRootCanChange) {
  const test_support::ScopedTempDir dir;
  constexpr uid_t kNobody = 65534;
  const struct {
    const char* name;
    size_t size;  // 0: not created
    mode_t mode;
    const char* reason = nullptr;  // null: read
    uid_t owner = 0;               // 0: the test's user
  } cases[] = {
      {"private", 32, 0600},
      {"group-readable, longest", 4096, 0640},
      {"read-only", 32, 0400},
      {"missing", 0, 0600, "cannot be read"},
      {"world-readable", 32, 0644, "every user"},
      {"world-writable", 32, 0602, "writable by its group or every user"},
      {"group- and world-writable", 32, 0622, "writable by its group"},
      {"group-writable", 32, 0660, "writable by its group"},
      {"another user's", 32, 0600, "is owned by user 65534, neither root nor user", kNobody},
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
    if (c.owner && chown(path.c_str(), c.owner, static_cast<gid_t>(-1)) != 0) {
      ASSERT_NE(geteuid(), 0u) << "root could not give the file away";
      continue;  // only root can give a file away
    }
    base::SecretBytes key(7);
    std::string error;
    EXPECT_EQ(ReadLinkKeyFile(path, key, error), c.reason == nullptr);
    if (c.reason) {
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
      EXPECT_EQ(error.find("kkkk"), std::string::npos);
      EXPECT_EQ(key.size(), 0u);
    } else {
      EXPECT_EQ(std::string(key.data(), key.data() + key.size()), std::string(c.size, 'k'));
    }
  }
  base::SecretBytes key;
  std::string error;
  EXPECT_FALSE(ReadLinkKeyFile(dir.path().string(), key, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

// The release digest covers exactly the bytes the signature does not: the
// checksum field (0xD8), the certificate directory entry (0x128) and the
// table before the slot (0x200 to 0x210). Expected digests from Python's
// hashlib over those bytes.
TEST(ReleaseBaseTest, IdentifiesABaseByWhatItsSignatureDoesNotCover) {
  const std::string reserved = "a7c097a930e13a549605140bfa1d07f3bd19f8dcc17fe42e318e27f0ec81d474";
  const struct {
    const char* name;
    void (*change)(test_support::SyntheticImage&);
    std::string digest;  // empty: refused
    const char* reason = "";
  } cases[] = {
      {"a reserved base", [](test_support::SyntheticImage&) {}, reserved},
      {"a covered byte changed", [](test_support::SyntheticImage& i) { i.Put(0x10, "x"); },
       reserved},
      {"the checksum changed", [](test_support::SyntheticImage& i) { i.Put(0xD8, "\x01"); },
       "c95410a54d830191ef818e27bae01cd0de42c7ce5cb0c4dfea10de43b6a25f4b"},
      {"a stamped copy",
       [](test_support::SyntheticImage& i) {
         i.Put(0x210, std::string("MIRBCH01\x01\0\0\0x", 13));
       },
       "", kStampedCopyReason},
      {"a signed file without a slot",
       [](test_support::SyntheticImage& i) { i = test_support::BaseSyntheticImage(); }, "",
       "no attribution slot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::SyntheticImage image = test_support::ReservedSyntheticImage();
    c.change(image);
    installer::MemorySource source(image.bytes);
    ReleaseBase release;
    std::string error;
    EXPECT_EQ(FindReleaseBase(source, release, error), !c.digest.empty());
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    if (!c.digest.empty()) {
      EXPECT_EQ(base::HexEncode(release.digest), c.digest);
    }
  }
}

TEST(LinkUrlTest, EncodesTheFileNameAsOneSegmentOrRefuses) {
  const struct {
    std::string prefix;
    std::string file_name;
    std::string url_or_reason;
    bool ok = true;
  } cases[] = {
      {"https://dl.example.com/download", "mirelo_browser_setup.exe",
       "https://dl.example.com/download/T/mirelo_browser_setup.exe"},
      {"https://dl.example.com/download//", "setup-1.2~b.exe",
       "https://dl.example.com/download/T/setup-1.2~b.exe"},
      {"http://h/d", "x%41.exe", "http://h/d/T/x%2541.exe"},
      {"http://h/d", "a b+c.exe", "http://h/d/T/a%20b%2Bc.exe"},
      {"http://h/d", "caf\xc3\xa9?#.exe", "http://h/d/T/caf%C3%A9%3F%23.exe"},
      {"http://h/d", "x\x7fy", "control character", false},
      {"http://h/d", "", "empty, \".\" or \"..\"", false},
      {"http://h/d\n", "a.exe", "URL prefix", false},
      {"http://h/d#", "a.exe", "URL prefix", false},
      {"http://h\xc3\xa9/d", "a.exe", "URL prefix", false},
      {"/", "a.exe", "URL prefix", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefix + " " + c.file_name);
    std::string url, error;
    EXPECT_EQ(FormatLinkUrl(c.prefix, "T", c.file_name, url, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(url, c.url_or_reason);
    } else {
      EXPECT_NE(error.find(c.url_or_reason), std::string::npos) << error;
    }
  }
}

TEST(LinkTokenTest, ExpiriesAre1To19DigitsWithoutALeadingZero) {
  const struct {
    const char* text;
    std::optional<uint64_t> expires;
  } cases[] = {
      {"0", 0},
      {"1893456000", 1893456000},
      {"9999999999999999999", 9999999999999999999u},
      {"18446744073709551616", std::nullopt},  // 2^64: 20 digits
      {"", std::nullopt},
      {"12a", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t expires = 7;
    EXPECT_EQ(ParseLinkExpires(c.text, expires), c.expires.has_value());
    if (c.expires) {
      EXPECT_EQ(expires, *c.expires);
    }
  }
}

}  // namespace
}  // namespace server
