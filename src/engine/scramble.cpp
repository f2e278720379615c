#include "engine/scramble.h"

#include <cstring>
#include <limits>

namespace crx {

namespace {

// The 64 symbols of a digest, by value.
constexpr char kSymbols[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz{|";
static_assert(sizeof kSymbols == 65, "a digest symbol for every 6-bit value");

// The rotated part of the bit row: 56 key bits, 8 salt bits and the lowest
// bits of both salt characters. A 67th bit (the lowest bit of the rotation
// count, then a copy of bit 0 after every turn) belongs to the row as well,
// but it never reaches the digest, so it is not kept.
constexpr int kRowBits = 66;

// The keystream's round counter goes back to 0 after this round.
constexpr int32_t kLastRound = 30000;

int8_t SignedByte(char c) { return static_cast<int8_t>(static_cast<uint8_t>(c)); }
int8_t SignedByte(uint8_t b) { return static_cast<int8_t>(b); }

// The text up to its first zero character: a password is a C string to
// every program that shares archives with this one.
std::string UpToZero(const std::string& text) {
  return text.substr(0, std::strlen(text.c_str()));
}

}  // namespace

std::string NormalizePassword(const std::string& password) {
  std::string key = UpToZero(password);
  key.resize(kPasswordLength, 'a');
  return key;
}

PasswordSalt SaltFromCharacter(char c) {
  PasswordSalt salt;
  salt.first = c;
  const int value = SignedByte(c);
  salt.second = (value >= 33 && value <= 119) ? static_cast<char>(value + 1) : 'A';
  return salt;
}

std::string PasswordDigest(const std::string& key, PasswordSalt salt) {
  if (salt.second == 0) salt.second = salt.first;
  const int s0 = SignedByte(salt.first);
  const int s1 = SignedByte(salt.second);
  const uint8_t salt_bytes[2] = {static_cast<uint8_t>(salt.first),
                                 static_cast<uint8_t>(salt.second)};

  // Bit 8j + i is bit j of key character i (bits 0..6; bit 7 is dropped);
  // bit 56 + i is bit (i mod 4) of salt character i / 4. The walk ends at
  // the first zero key character, and the salt bits of the characters not
  // walked stay 0 as well.
  uint8_t row[kRowBits] = {};
  const size_t walk = key.size() < kPasswordLength ? key.size() : kPasswordLength;
  for (size_t i = 0; i < walk && key[i] != 0; ++i) {
    const uint8_t c = static_cast<uint8_t>(key[i]);
    for (size_t j = 0; j < 7; ++j) row[8 * j + i] = static_cast<uint8_t>((c >> j) & 1u);
    row[56 + i] = static_cast<uint8_t>((salt_bytes[i / 4] >> (i % 4)) & 1u);
  }
  row[64] = static_cast<uint8_t>(salt_bytes[0] & 1u);
  row[65] = static_cast<uint8_t>(salt_bytes[1] & 1u);

  // The row is turned n times by one place towards the higher bits, with
  // n = (4 * s1 - s0) remainder 128 (the remainder takes the sign of the
  // dividend). Salts made by SaltFromCharacter give 0..127; a negative count,
  // possible only with a foreign stored salt, turns nothing. n turns of one
  // place are one turn of n mod 66 places.
  const int n = (4 * s1 - s0) % 128;
  const int turn = n > 0 ? n % kRowBits : 0;
  uint8_t turned[kRowBits];
  for (int i = 0; i < kRowBits; ++i) turned[(i + turn) % kRowBits] = row[i];

  std::string digest;
  digest.reserve(kDigestLength);
  digest += salt.first;
  digest += salt.second;
  for (int k = 0; k < 11; ++k) {
    int value = 0;
    for (int b = 5; b >= 0; --b) value = value * 2 + turned[6 * k + b];
    digest += kSymbols[value];
  }
  return digest;
}

std::string DigestFromTypedPassword(const std::string& typed) {
  const std::string password = UpToZero(typed);
  if (password.size() < kMinimumTypedPassword) return std::string();
  return PasswordDigest(NormalizePassword(password), SaltFromCharacter(password[3]));
}

std::string DigestFromPaddedPassword(const std::string& password) {
  const std::string key = NormalizePassword(password);
  return PasswordDigest(key, SaltFromCharacter(key[3]));
}

bool PasswordMatchesDigest(const std::string& candidate, const std::string& stored) {
  if (stored.size() < 2) return false;
  PasswordSalt salt;
  salt.first = stored[0];
  salt.second = stored[1];
  return PasswordDigest(NormalizePassword(candidate), salt) == stored;
}

Scrambler::Scrambler(const std::string& digest) {
  if (digest.size() < kPasswordLength) return;
  for (size_t i = 0; i < kPasswordLength; ++i) key_[i] = SignedByte(digest[i]);
  usable_ = true;
}

void Scrambler::Reset() {
  position_ = 0;
  round_ = 0;
}

int Scrambler::NextKey() {
  int key = key_[position_] + round_;
  if (round_ % 2 != 0) key = -key;
  if (position_ == static_cast<int32_t>(kPasswordLength) - 1) {
    position_ = 0;
    if (++round_ > kLastRound) round_ = 0;
  } else {
    ++position_;
  }
  return key;
}

bool Scrambler::Scramble(const uint8_t* in, size_t n, uint8_t* out) {
  if (!usable_) return false;
  for (size_t i = 0; i < n; ++i) {
    const int key = NextKey();
    const uint32_t word = static_cast<uint32_t>(SignedByte(in[i]) + key) & 0xFFFFu;
    out[2 * i] = static_cast<uint8_t>(word & 0xFFu);
    out[2 * i + 1] = static_cast<uint8_t>(word >> 8);
  }
  return true;
}

bool Scrambler::Unscramble(const uint8_t* in, size_t n, uint8_t* out) {
  if (!usable_) return false;
  for (size_t i = 0; i < n; ++i) {
    const int key = NextKey();
    out[i] = static_cast<uint8_t>(static_cast<uint32_t>(in[2 * i] - key) & 0xFFu);
  }
  return true;
}

bool Scrambler::ScrambledSize(size_t n, size_t* size) {
  if (n > std::numeric_limits<size_t>::max() / 2) return false;
  *size = 2 * n;
  return true;
}

}  // namespace crx
