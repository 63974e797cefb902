#include "base/hash/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace base {
namespace {

// No bytes as the harder case: no pointer at all.
std::span<const uint8_t> Bytes(std::string_view text) {
  if (text.empty()) return {};
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Published vectors, and lengths on each side of the padding's block edges.
TEST(Sha256Test, KnownDigests) {
  const struct {
    std::string message;
    std::string_view digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(HexEncode(Sha256Of(Bytes(c.message))), c.digest);
    // The same message in uneven pieces, through one object used twice.
    Sha256 hash;
    hash.Update(Bytes("stale"));
    (void)hash.Finish();
    for (size_t at = 0, piece = 1; at < c.message.size(); at += piece, piece = piece * 3 % 97 + 1) {
      hash.Update(Bytes(std::string_view(c.message).substr(at, piece)));
    }
    EXPECT_EQ(HexEncode(hash.Finish()), c.digest);
  }
}

// Key bytes 0, 1, 2, ... up to `size` bytes.
std::string CountingKey(size_t size) {
  std::string key(size, '\0');
  for (size_t i = 0; i < size; ++i) key[i] = static_cast<char>(i);
  return key;
}

// Vectors of RFC 4231 (a short key, a key shorter than its block, a key
// longer than a block), keys on each side of the 64-byte block (from
// `openssl dgst -sha256 -mac HMAC -macopt hexkey:...`), and empty inputs.
TEST(HmacSha256Test, KnownMacs) {
  const std::string block_message = "Sample message for keylen=blocklen";
  const struct {
    std::string key, message;
    std::string_view mac;
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {CountingKey(63), block_message,
       "ad5014638c553d23a7827ffab98a9dc507c0f0cdf52af62269dffacac7140eda"},
      {CountingKey(64), block_message,
       "8bb9a1db9806f20df7f77b82138c7914d174d59e13dc4d0169c9057b133e1d62"},
      {CountingKey(65), block_message,
       "5890dd7c325a59c6f25bf72df2554a72eca5d41d77166ad3b15cf58b7ee6ec64"},
      {std::string(20, '\x0b'), "",
       "999a901219f032cd497cadb5e6051e97b6a29ab297bd6ae722bd6062a2f59542"},
      {"", "abc", "fd7adb152c05ef80dccf50a1fa4c05d5a3ec6da95575fc312ae7c5d091836351"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key.size() << "-byte key, " << c.message);
    EXPECT_EQ(HexEncode(HmacSha256(Bytes(c.key), Bytes(c.message))), c.mac);
  }
}

// A copy carries on from the state it was made in, apart from the original:
// the digests of two messages that share their start, from one pass over it.
TEST(Sha256Test, CopiesCarryOnApart) {
  const struct {
    std::string start, first_end, second_end;
  } cases[] = {
      {"", "abc", ""},
      {"ab", "c", "d"},
      {std::string(63, 'a'), "a", std::string(57, 'a')},
      {std::string(1000, 'x'), std::string(100, 'y'), std::string(200, 'z')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start.size());
    Sha256 first;
    first.Update(Bytes(c.start));
    Sha256 second = first;
    Sha256 assigned;
    assigned.Update(Bytes("replaced by the assignment"));
    assigned = first;
    Sha256& same = assigned;
    assigned = same;  // keeps its state
    first.Update(Bytes(c.first_end));
    second.Update(Bytes(c.second_end));
    assigned.Update(Bytes(c.second_end));
    EXPECT_EQ(first.Finish(), Sha256Of(Bytes(c.start + c.first_end)));
    EXPECT_EQ(second.Finish(), Sha256Of(Bytes(c.start + c.second_end)));
    EXPECT_EQ(assigned.Finish(), Sha256Of(Bytes(c.start + c.second_end)));
    // A copy of a finished hash starts a new message too.
    Sha256 next = first;
    next.Update(Bytes(c.first_end));
    EXPECT_EQ(next.Finish(), Sha256Of(Bytes(c.first_end)));
  }
}

TEST(ConstantTimeEqualsTest, ComparesEveryByteAndTheLength) {
  const std::string mac(kSha256Size, '\x5a');
  const struct {
    std::string a, b;
    bool equal;
  } cases[] = {
      {"abc", "abc", true},
      {"", "", true},
      {mac, mac, true},
      {"abc", "abd", false},
      {"xbc", "abc", false},
      {"abc", "abcd", false},
      {"", "a", false},
      {mac, "\x5b" + mac.substr(1), false},
      {mac, mac.substr(0, kSha256Size - 1) + "\x5b", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " " + testing::PrintToString(c.b));
    EXPECT_EQ(ConstantTimeEquals(Bytes(c.a), Bytes(c.b)), c.equal);
  }
}

}  // namespace
}  // namespace base
