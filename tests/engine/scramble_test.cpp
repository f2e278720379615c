// Password digests and the member keystream. The golden digests come from a
// second, deliberately plain implementation below that follows the steps one
// bit and one turn at a time, so a fault in either one shows up.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/scramble.h"

namespace crx {
namespace {

// The digest step by step: a 67-bit row as ints, turned one place per step.
std::string ReferenceDigest(const std::string& key8, signed char s0, signed char s1) {
  if (s1 == 0) s1 = s0;
  std::vector<int> row(67, 0);
  for (int i = 0; i < 8 && i < static_cast<int>(key8.size()); ++i) {
    unsigned c = static_cast<unsigned char>(key8[i]);
    if (c == 0) break;
    for (int j = 0; j < 7; ++j) row[8 * j + i] = (c >> j) % 2;
    unsigned s = static_cast<unsigned char>(i < 4 ? s0 : s1);
    row[56 + i] = (s >> (i % 4)) % 2;
  }
  row[64] = static_cast<unsigned char>(s0) % 2;
  row[65] = static_cast<unsigned char>(s1) % 2;
  int n = (4 * s1 - s0) % 128;
  row[66] = n & 1;
  for (int t = 0; t < n; ++t) {
    int top = row[65];
    for (int i = 65; i > 0; --i) row[i] = row[i - 1];
    row[0] = top;
    row[66] = row[0];
  }
  std::string out;
  out += static_cast<char>(s0);
  out += static_cast<char>(s1);
  for (int k = 0; k < 11; ++k) {
    int v = 0;
    for (int b = 0; b < 6; ++b) v += row[6 * k + b] << b;
    char sym = v < 10 ? static_cast<char>('0' + v)
               : v < 36 ? static_cast<char>('A' + v - 10)
               : v < 62 ? static_cast<char>('a' + v - 36)
               : v == 62 ? '{' : '|';
    out += sym;
  }
  return out;
}

bool OnlyDigestSymbols(const std::string& s) {
  for (char c : s) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              c == '{' || c == '|';
    if (!ok) return false;
  }
  return true;
}

TEST(PasswordDigest, NormalisingAndSalt) {
  EXPECT_EQ(NormalizePassword(""), "aaaaaaaa");
  EXPECT_EQ(NormalizePassword("xyz"), "xyzaaaaa");
  EXPECT_EQ(NormalizePassword("0123456789"), "01234567");
  EXPECT_EQ(NormalizePassword(std::string("ab\0cdefgh", 9)), "abaaaaaa");

  struct Row {
    int fourth;
    int second;
  };
  const Row rows[] = {{33, 34}, {'d', 'e'}, {119, 120}, {120, 'A'}, {127, 'A'},
                      {32, 'A'}, {0, 'A'},  {0x80, 'A'}, {0xE9, 'A'}, {0xFF, 'A'}};
  for (const Row& r : rows) {
    PasswordSalt salt = SaltFromCharacter(static_cast<char>(r.fourth));
    EXPECT_EQ(static_cast<unsigned char>(salt.first), r.fourth);
    EXPECT_EQ(static_cast<unsigned char>(salt.second), r.second) << "fourth " << r.fourth;
  }
}

TEST(PasswordDigest, WorkedByHand) {
  // Empty key: only the salt's lowest bits are set (bit 64 from 'A'); the
  // row turns (4*66 - 65) % 128 = 71 times, 5 places, so bit 64 lands on 3.
  EXPECT_EQ(PasswordDigest("", {'A', 'B'}), "AB80000000000");
  // Key bit 0 and salt bit 56 as well: bits 3 and 5 make 'e', bit 61 makes 2.
  EXPECT_EQ(PasswordDigest("\x01", {'A', 'B'}), "ABe0000000002");
  // The walk over the key ends at a zero character.
  const std::string stopped("ab\0cdefg", 8);
  EXPECT_EQ(PasswordDigest(stopped, {'w', 'x'}), PasswordDigest("ab", {'w', 'x'}));
  EXPECT_EQ(PasswordDigest(stopped, {'w', 'x'}), ReferenceDigest(stopped, 'w', 'x'));
  // A zero second salt character stands for the first.
  EXPECT_EQ(PasswordDigest("secret12", {'r', 0}), PasswordDigest("secret12", {'r', 'r'}));
}

TEST(PasswordDigest, MatchesTheStepByStepDigest) {
  std::mt19937 random(1234);
  std::vector<std::string> passwords = {"abcd", "Secret!!", "w\x80\xff~", "   x", "1234567",
                                        "pass\x01word"};
  for (int i = 0; i < 200; ++i) {
    std::string p;
    int length = static_cast<int>(random() % 8) + 1;
    for (int j = 0; j < length; ++j) p += static_cast<char>(random() % 255 + 1);
    passwords.push_back(p);
  }
  for (const std::string& p : passwords) {
    SCOPED_TRACE(p);
    std::string key = NormalizePassword(p);
    std::string digest = DigestFromPaddedPassword(p);
    EXPECT_EQ(digest, ReferenceDigest(key, static_cast<signed char>(key[3]),
                                      static_cast<signed char>(SaltFromCharacter(key[3]).second)));
    ASSERT_EQ(digest.size(), kDigestLength);
    EXPECT_EQ(digest[0], key[3]);
    EXPECT_TRUE(OnlyDigestSymbols(digest.substr(2))) << digest;
  }
  // Foreign salts as a stored digest may carry them, including ones whose
  // rotation count comes out negative.
  for (int s0 = -128; s0 < 128; s0 += 7) {
    for (int s1 = -128; s1 < 128; s1 += 11) {
      PasswordSalt salt{static_cast<char>(s0), static_cast<char>(s1)};
      EXPECT_EQ(PasswordDigest("Zq9#\xa0k-m", salt),
                ReferenceDigest("Zq9#\xa0k-m", static_cast<signed char>(s0),
                                static_cast<signed char>(s1)))
          << s0 << "," << s1;
    }
  }
}

TEST(PasswordDigest, EquivalentPasswordsAndTheTwoCreationPaths) {
  // Three characters: padded, then salted from the first 'a' of the padding.
  EXPECT_EQ(DigestFromPaddedPassword("xyz"), DigestFromPaddedPassword("xyza"));
  EXPECT_EQ(DigestFromPaddedPassword("xyz").substr(0, 2), "ab");
  EXPECT_EQ(DigestFromPaddedPassword("longpassword"), DigestFromPaddedPassword("longpass"));
  EXPECT_NE(DigestFromPaddedPassword("longpass"), DigestFromPaddedPassword("longpasx"));
  EXPECT_EQ(DigestFromPaddedPassword(""), DigestFromPaddedPassword("aaaaaaaa"));
  // The dialog path needs a fourth character and agrees from there on.
  EXPECT_EQ(DigestFromTypedPassword("xyz"), "");
  for (const char* p : {"abcd", "abcdefgh", "abcdefghijk", "w\xfe\x01\xe9zz"}) {
    EXPECT_EQ(DigestFromTypedPassword(p), DigestFromPaddedPassword(p)) << p;
  }
}

TEST(PasswordDigest, PasswordCheck) {
  const std::string stored = DigestFromTypedPassword("abcd");
  for (const char* good : {"abcd", "abcdaa", "abcdaaaa", "abcdaaaaXYZ"}) {
    EXPECT_TRUE(PasswordMatchesDigest(good, stored)) << good;
  }
  for (const char* bad : {"ABCD", "abce", "abc", "", "abcdaaab"}) {
    EXPECT_FALSE(PasswordMatchesDigest(bad, stored)) << bad;
  }
  std::string changed = stored;
  changed[12] = changed[12] == '0' ? '1' : '0';
  EXPECT_FALSE(PasswordMatchesDigest("abcd", changed));
  EXPECT_FALSE(PasswordMatchesDigest("abcd", stored + "x"));
  EXPECT_FALSE(PasswordMatchesDigest("abcd", stored.substr(0, 1)));
  EXPECT_FALSE(PasswordMatchesDigest("", ""));
  // A salt not made by the salt rule still checks against itself.
  std::string foreign = PasswordDigest("qwertyui", {'\xf0', '~'});
  EXPECT_TRUE(PasswordMatchesDigest("qwertyuiop", foreign));
}

// The key of each byte, read back by scrambling zeros (word = key).
std::vector<int> Keys(Scrambler& s, size_t n) {
  std::vector<uint8_t> zeros(n, 0), words(2 * n, 0xAA);
  EXPECT_TRUE(s.Scramble(zeros.data(), n, words.data()));
  std::vector<int> keys(n);
  for (size_t i = 0; i < n; ++i) {
    keys[i] = static_cast<int16_t>(static_cast<uint16_t>(words[2 * i] | words[2 * i + 1] << 8));
  }
  return keys;
}

TEST(Scrambler, KeystreamPositionsRoundsAndReset) {
  // Salted with a byte above 127, so digest[0] counts as negative.
  const std::string digest = DigestFromPaddedPassword("ab\x01\xe9");
  ASSERT_EQ(static_cast<signed char>(digest[0]), -23);
  auto d = [&](int i) { return static_cast<int>(static_cast<signed char>(digest[i])); };
  Scrambler s(digest);
  ASSERT_TRUE(s.Usable());
  std::vector<int> keys = Keys(s, 240009 + 8);
  EXPECT_EQ(keys[0], d(0));
  EXPECT_EQ(keys[7], d(7));
  EXPECT_EQ(keys[8], -(d(0) + 1));
  EXPECT_EQ(keys[15], -(d(7) + 1));
  EXPECT_EQ(keys[16], d(0) + 2);
  EXPECT_EQ(keys[8 * 29999 + 3], -(d(3) + 29999));
  for (int p = 0; p < 8; ++p) EXPECT_EQ(keys[240000 + p], d(p) + 30000) << p;
  EXPECT_EQ(keys[240008], d(0));
  EXPECT_EQ(keys[240016], -(d(0) + 1));

  // The stream goes on across calls (byte 240017: round 1, position 1)
  // until Reset.
  EXPECT_EQ(Keys(s, 1)[0], -(d(1) + 1));
  s.Reset();
  EXPECT_EQ(Keys(s, 9), std::vector<int>(keys.begin(), keys.begin() + 9));
}

TEST(Scrambler, RoundTripsAnyBytes) {
  std::mt19937 random(99);
  const std::string digest = DigestFromPaddedPassword("round trip");
  for (size_t n : {0u, 1u, 7u, 8u, 9u, 255u, 4096u, 240017u}) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> plain(n);
    for (uint8_t& b : plain) b = static_cast<uint8_t>(random());
    if (n >= 2) {
      plain[0] = 0x80;
      plain[1] = 0x7F;
    }
    size_t size = 0;
    ASSERT_TRUE(Scrambler::ScrambledSize(n, &size));
    ASSERT_EQ(size, 2 * n);
    std::vector<uint8_t> words(size + 1, 0x5A), back(n + 1, 0x5A);
    Scrambler writer(digest), reader(digest);
    // The writer in two pieces, the reader in one: the stream is the same.
    ASSERT_TRUE(writer.Scramble(plain.data(), n / 3, words.data()));
    ASSERT_TRUE(writer.Scramble(plain.data() + n / 3, n - n / 3, words.data() + 2 * (n / 3)));
    EXPECT_EQ(words[size], 0x5A) << "wrote past 2n";
    // The high byte of each word does not take part in unscrambling.
    for (size_t i = 1; i < size; i += 2) words[i] ^= 0xC3;
    ASSERT_TRUE(reader.Unscramble(words.data(), n, back.data()));
    EXPECT_EQ(back[n], 0x5A) << "wrote past n";
    back.pop_back();
    EXPECT_EQ(back, plain);
  }
  // A signed byte plus a negative key keeps 16 bits.
  Scrambler s(digest);
  const uint8_t minus128 = 0x80;
  uint8_t word[2];
  ASSERT_TRUE(s.Scramble(&minus128, 1, word));
  int expected = (-128 + static_cast<signed char>(digest[0])) & 0xFFFF;
  EXPECT_EQ(word[0] | word[1] << 8, expected);
}

TEST(Scrambler, ShortDigestIsUnusableAndTouchesNothing) {
  for (const char* digest : {"", "abcdefg"}) {
    Scrambler s(digest);
    EXPECT_FALSE(s.Usable());
    uint8_t in[4] = {1, 2, 3, 4}, out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(s.Scramble(in, 4, out));
    EXPECT_FALSE(s.Unscramble(out, 4, in));
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(in[0], 1);
  }
  EXPECT_TRUE(Scrambler("abcdefgh").Usable());
  size_t size = 0;
  EXPECT_FALSE(Scrambler::ScrambledSize(SIZE_MAX / 2 + 1, &size));
}

}  // namespace
}  // namespace crx
