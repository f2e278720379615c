// Password digests and member scrambling.
//
// A protected archive stores the 13-character digest of its password in the
// clear. The digest is made from the password normalised to 8 characters and
// a two-character salt taken from the password's fourth character; the
// salt is kept as the digest's first two characters, so a password can be
// checked against a stored digest without knowing anything else.
//
// An encrypted archive also scrambles the compressed data of each member
// with a keystream made from the first eight digest characters: every byte
// becomes a 16-bit word, so the scrambled form is twice as long. The keystream
// starts afresh with each member, so members can be read one by one in any
// selection.
//
// Characters are treated as signed 8-bit values throughout (codes above 127
// count as negative), whatever the compiler's char signedness.
#ifndef CRX_ENGINE_SCRAMBLE_H
#define CRX_ENGINE_SCRAMBLE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace crx {

// Length of a normalised password and of a password digest.
inline constexpr size_t kPasswordLength = 8;
inline constexpr size_t kDigestLength = 13;
// The lock dialog's shortest password.
inline constexpr size_t kMinimumTypedPassword = 4;

// The password brought to exactly 8 characters: a shorter one is padded at
// the end with 'a', a longer one cut after its eighth character.
std::string NormalizePassword(const std::string& password);

struct PasswordSalt {
  char first = 0;
  char second = 0;
};

// The salt made from a password's fourth character c: (c, c + 1) when c, as
// a signed 8-bit value, lies between 33 and 119 inclusive, else (c, 'A').
PasswordSalt SaltFromCharacter(char c);

// The 13-character digest of key (the normalised password; only its first
// 8 characters are used, and the walk over them ends at a zero character or
// at the end of key) with the given salt. A zero second salt character is
// taken equal to the first. The result starts with the salt.
std::string PasswordDigest(const std::string& key, PasswordSalt salt);

// The digest for a new archive, from the password as the lock dialog
// received it: the salt comes from its fourth character as typed. Empty
// when the password is shorter than 4 characters (the dialog refuses those,
// so there is no fourth character to take the salt from).
std::string DigestFromTypedPassword(const std::string& typed);

// The digest for a new archive, from a password given by a builder script
// or an automation client: any length is accepted, and the salt comes from
// the fourth character of the padded password (so "abc" salts with 'a').
// For passwords of 4 or more characters both paths give the same digest.
std::string DigestFromPaddedPassword(const std::string& password);

// The password check: true exactly when candidate, normalised to 8
// characters and digested with the first two characters of stored as salt,
// equals stored character for character. A stored digest shorter than two
// characters matches nothing.
bool PasswordMatchesDigest(const std::string& candidate, const std::string& stored);

// The keystream and the two directions of scrambling over caller buffers.
// One object serves one archive; Reset() starts the keystream of the next
// member. Consecutive calls continue the keystream, so a member may be
// handled in pieces.
class Scrambler {
 public:
  // Takes the first 8 characters of digest. A digest shorter than that
  // cannot key the stream: the object is then unusable and every
  // Scramble/Unscramble call fails without touching the buffers.
  explicit Scrambler(const std::string& digest);

  bool Usable() const { return usable_; }

  // Back to the start of the keystream (position 0, round 0).
  void Reset();

  // n plain bytes from in become 2n bytes at out: each byte, as a signed
  // 8-bit value, plus its key, kept to 16 bits, little-endian. out must
  // hold ScrambledSize(n) bytes. False only when unusable.
  bool Scramble(const uint8_t* in, size_t n, uint8_t* out);

  // n words (2n bytes) from in become n bytes at out: the low byte of each
  // word minus its key, kept to 8 bits; the high byte is not used. False
  // only when unusable.
  bool Unscramble(const uint8_t* in, size_t n, uint8_t* out);

  // The scrambled size of n bytes (2n) in *size; false when it does not fit
  // in a size_t.
  static bool ScrambledSize(size_t n, size_t* size);

 private:
  // The key of the current byte; advances the keystream.
  int NextKey();

  int8_t key_[kPasswordLength] = {};
  bool usable_ = false;
  int32_t position_ = 0;  // 0..7: the digest character in use
  int32_t round_ = 0;     // 0..30000: passes over the eight characters
};

}  // namespace crx

#endif  // CRX_ENGINE_SCRAMBLE_H
