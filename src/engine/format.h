// The archive file format: one definition shared by the writer, the reader
// and both self-extractor stubs.
//
//   self-extracting file:
//     +------------------+----------------+-------------+--------+-----+-------+
//     | stub program     | identification | type record | member | ... | END_  |
//     | (FULL_STUB_SIZE  | record         |             | record |     | OF_   |
//     |  or MIN_STUB_SIZE|                |             |        |     | ARCH. |
//     |  bytes)          |                |             |        |     |       |
//     +------------------+----------------+-------------+--------+-----+-------+
//
//   identification record (at the archive offset; relative offsets):
//      0 MAGIC   4 HEADER_ID   8 version (0 or 1)   12 block size
//     16 block count   20 file count   24 creation SYSTEMTIME (8 x u16, UTC)
//     40 password length (>= 1, counts the terminator)
//     44 password digest + zero byte, or one zero byte
//      . 32 reserved zero bytes (version >= 1 only)
//
//   type record:
//     MAGIC  TYPE_ID  archive type (0, TYPE_SETUP, TYPE_ENCRYPTED or both)
//     when TYPE_SETUP: setup length (the five strings with their zeros)
//       company\0 product\0 description\0 setup program\0 wait program\0
//
//   member record:
//     MAGIC  FILE_ID  name length (counts the zero)  name\0  size
//     compressed size (0: stored)  checksum (stored: Adler-32)
//     modification FILETIME (low dword first)  data (MemberDataSize bytes)
//
//   VOLUME_CONTINUATION stands alone where a member record would start: the
//   archive goes on in the next volume file. END_OF_ARCHIVE stands alone
//   after the last member.
//
// Every integer is a little-endian dword; counts and sizes are signed. The
// record identifiers are far from 0, so zeroed data never passes for a
// record.
//
// Encoding appends the exact bytes of a record to a byte vector. Decoding
// reads through a ByteSource and never trusts a length it has not checked
// against what remains of the source; every check reports its result as a
// FormatResult: a status, the message the caller reports with ReportError
// and the lines it writes to the activity log.
#ifndef CRX_ENGINE_FORMAT_H
#define CRX_ENGINE_FORMAT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/filetime.h"

namespace crx {

// ---------------------------------------------------------------------------
// Constants.

inline constexpr uint32_t MAGIC = 0xAFBD;
inline constexpr uint32_t HEADER_ID = 0xABD0;
inline constexpr uint32_t TYPE_ID = 0xABD1;
inline constexpr uint32_t FILE_ID = 0xABD2;
inline constexpr uint32_t VOLUME_CONTINUATION = 0xABDE;
inline constexpr uint32_t END_OF_ARCHIVE = 0xABDF;

// Archive type flags.
inline constexpr uint32_t TYPE_SETUP = 0x1;
inline constexpr uint32_t TYPE_ENCRYPTED = 0x100;

// The archive offset is the length of the stub in front of it.
inline constexpr int32_t FULL_STUB_SIZE = 0x35000;  // 217,088
inline constexpr int32_t MIN_STUB_SIZE = 0x2C000;   // 180,224

// Offsets the builder's reader tries after the two stub sizes.
inline constexpr std::array<int32_t, 3> kOtherArchiveOffsets = {0x40000, 0x5C000, 0x5B000};

// The version written; readers accept 0 and 1.
inline constexpr uint32_t kArchiveVersion = 1;
inline constexpr size_t kReservedBytes = 32;
inline constexpr int32_t kDefaultBlockSize = 1024;

// Where the counts patched at close sit, relative to the archive offset.
inline constexpr int32_t kBlockCountOffset = 16;
inline constexpr int32_t kFileCountOffset = 20;

// Bytes the probe reads at a candidate offset: MAGIC, HEADER_ID, version.
inline constexpr size_t kProbeBytes = 12;

// Decoding limits. A member name (with its zero) longer than this is taken
// for a damaged record; so is a password field longer than its limit (a
// digest field is 14 bytes).
inline constexpr int32_t kMaxMemberNameLength = 32767;
inline constexpr int32_t kMaxPasswordFieldLength = 4096;

// ---------------------------------------------------------------------------
// Little-endian integers.

inline uint16_t DecodeU16(std::span<const uint8_t, 2> bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}
inline uint32_t DecodeU32(std::span<const uint8_t, 4> bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}
inline int32_t DecodeI32(std::span<const uint8_t, 4> bytes) {
  return static_cast<int32_t>(DecodeU32(bytes));
}
inline void EncodeU16(uint16_t value, std::span<uint8_t, 2> out) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}
inline void EncodeU32(uint32_t value, std::span<uint8_t, 4> out) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}
inline void EncodeI32(int32_t value, std::span<uint8_t, 4> out) {
  EncodeU32(static_cast<uint32_t>(value), out);
}

using Bytes = std::vector<uint8_t>;

void AppendU16(Bytes* out, uint16_t value);
void AppendU32(Bytes* out, uint32_t value);
void AppendI32(Bytes* out, int32_t value);

// ---------------------------------------------------------------------------
// Records.

struct IdentificationRecord {
  uint32_t version = kArchiveVersion;
  int32_t block_size = kDefaultBlockSize;
  int32_t block_count = 0;
  int32_t file_count = 0;
  SystemTime created;  // UTC
  // The password field's length as read (the encoder derives it from the
  // digest). 2 or more means the archive is password protected.
  int32_t password_length = 1;
  std::string password_digest;  // empty: no password

  // The 32 reserved bytes follow the password from version 1 on.
  bool HasReservedBlock() const { return version >= 1; }
  bool HasPassword() const { return password_length >= 2; }
};

// The five texts of a setup archive, in their order on the archive.
struct SetupInfo {
  std::string company;
  std::string product;
  std::string description;
  std::string setup_program;
  std::string wait_program;
};

struct TypeRecord {
  uint32_t archive_type = 0;
  SetupInfo setup;  // on the archive only when TYPE_SETUP is set

  bool IsSetup() const { return (archive_type & TYPE_SETUP) != 0; }
  bool IsEncrypted() const { return (archive_type & TYPE_ENCRYPTED) != 0; }
};

// The fixed part of a member record (everything but the data).
struct MemberHeader {
  std::string name;
  int32_t size = 0;             // uncompressed
  int32_t compressed_size = 0;  // 0: stored (or empty)
  uint32_t checksum = 0;        // stored members: Adler-32; otherwise 0
  FileTime modified = 0;
};

enum class MemberKind { kEmpty, kStored, kCompressed };

inline MemberKind KindOf(const MemberHeader& member) {
  if (member.compressed_size != 0) return MemberKind::kCompressed;
  return member.size != 0 ? MemberKind::kStored : MemberKind::kEmpty;
}

// Bytes of data that follow the member record on the archive: none for an
// empty member, size for a stored one (stored data is never scrambled), the
// compressed size for a compressed one, twice that when the archive is
// encrypted (every byte scrambles into a 16-bit word).
int64_t MemberDataSize(const MemberHeader& member, bool encrypted);

// ---------------------------------------------------------------------------
// Encoding. Each function appends the record's exact bytes to *out.

// Writes the reserved block when record.version >= 1; the password field is
// the digest and its terminator, or one zero byte when there is no digest.
void AppendIdentificationRecord(const IdentificationRecord& record, Bytes* out);

// The setup length field: the five lengths plus their five terminators.
int32_t SetupInfoLength(const SetupInfo& setup);

// The setup length and texts follow only when TYPE_SETUP is set.
void AppendTypeRecord(const TypeRecord& record, Bytes* out);

// False (and nothing appended) for a name that readers would refuse: empty,
// or longer than kMaxMemberNameLength with its terminator.
bool AppendMemberHeader(const MemberHeader& member, Bytes* out);

void AppendEndOfArchive(Bytes* out);
void AppendVolumeContinuation(Bytes* out);

// ---------------------------------------------------------------------------
// Checksums and counts.

// The checksum the writer stores for a stored member: Adler-32 from 1.
uint32_t StoredChecksum(std::span<const uint8_t> data);
// zlib's CRC-32, continued from 1 instead of 0.
uint32_t CrcFromOne(std::span<const uint8_t> data);
// A stored member is good when its checksum field holds either value.
bool StoredChecksumAccepted(std::span<const uint8_t> data, uint32_t stored);

// The same check fed with a member's data piece by piece, in order, so a
// member is checked while it streams: both sums continue over the pieces.
class StoredChecksums {
 public:
  void Update(std::span<const uint8_t> data);
  // The checksum field holds either sum of the data fed so far.
  bool Accepts(uint32_t stored) const { return stored == adler_ || stored == crc_; }

 private:
  uint32_t adler_ = 1;  // Adler-32 from 1, its usual start
  uint32_t crc_ = 1;    // CRC-32 continued from 1
};

// Blocks a member of size bytes adds to the block count: size divided by the
// block size, rounded up. A block size of 0 or less counts as
// kDefaultBlockSize.
int32_t BlockCount(int64_t size, int32_t block_size);

// ---------------------------------------------------------------------------
// Locating the archive.

// The probe at a candidate offset: the first kProbeBytes bytes there are
// MAGIC, HEADER_ID and a version of 0 or 1. Fewer bytes never pass.
bool ProbeArchiveStart(std::span<const uint8_t> bytes);

// The offsets the builder's reader tries, in order: the current default
// offset, then the two stub sizes (the minimal stub's first when it is
// selected), then kOtherArchiveOffsets. An offset may appear twice (the
// default is usually one of the stub sizes); every entry is one attempt.
std::array<int32_t, 6> ArchiveOffsetsToProbe(int32_t default_offset, bool minimal_stub);

// ---------------------------------------------------------------------------
// Decoding.

// Where decoders read from: the engine's archive file, or memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to size bytes; *got receives the count (0 at the end). May
  // return fewer bytes than asked before the end. False when the system
  // reports an error.
  virtual bool Read(void* buffer, size_t size, size_t* got) = 0;
  // The read position (an offset in the file, for log lines).
  virtual int64_t Position() = 0;
  // Bytes between the read position and the end of the source.
  virtual int64_t Remaining() = 0;
  // The system error of the last Read that failed; 0 when it did not fail.
  virtual uint32_t ErrorCode() { return 0; }
};

// A ByteSource over bytes held by the caller; Position counts from base.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data, int64_t base = 0)
      : data_(data), base_(base) {}
  bool Read(void* buffer, size_t size, size_t* got) override;
  int64_t Position() override { return base_ + static_cast<int64_t>(offset_); }
  int64_t Remaining() override { return static_cast<int64_t>(data_.size() - offset_); }

 private:
  std::span<const uint8_t> data_;
  size_t offset_ = 0;
  int64_t base_;
};

enum class FormatStatus {
  kOk,
  kEndOfArchive,        // END_OF_ARCHIVE where a member record would start
  kVolumeContinuation,  // VOLUME_CONTINUATION there: go on in the next volume
  kResyncNeeded,        // another dword there; found holds it
  kShortRead,           // the source ended or failed inside a record
  kInvalid,             // a field holds a value the format does not allow
  kDamagedMember,       // a member record whose lengths cannot be right
};

struct FormatResult {
  FormatStatus status = FormatStatus::kOk;
  // The text to report with ReportError; empty when nothing is reported.
  std::string message;
  // Activity-log lines in the order they arose, each ending in a line
  // feed; written whatever the status. A position "@ 0x%x" in them is the
  // read position just after the field in question.
  std::string log;
  // The dword read where a member record should start (kResyncNeeded).
  uint32_t found = 0;

  bool ok() const { return status == FormatStatus::kOk; }
};

// How the reader finds the identification record's MAGIC: the stubs demand
// it at the archive offset; the builder skips forward one dword at a time
// until it finds it (stopping at the end of the source).
enum class HeaderSearch { kAtOffset, kSkipToMagic };

// Reads the identification record, its reserved block included.
FormatResult ReadIdentificationRecord(ByteSource& source, HeaderSearch search,
                                      IdentificationRecord* record);

// Reads the type record and, for a setup archive, its five texts.
FormatResult ReadTypeRecord(ByteSource& source, TypeRecord* record);

struct MemberReadOptions {
  bool encrypted = false;  // TYPE_ENCRYPTED: compressed data takes twice its size
  // The data may go on in a continuation volume (the archive's block count
  // is 0), so it is not held against what remains of this source.
  bool data_may_continue = false;
};

// One step of the member walk: reads the dword where a record starts and
// then, when it is MAGIC, the rest of the member record up to its data.
// kEndOfArchive, kVolumeContinuation and kResyncNeeded come back without a
// record; kResyncNeeded also carries the "Invalid File Header (1)" report,
// and the caller decides whether to search for the next MAGIC.
FormatResult ReadMemberRecord(ByteSource& source, const MemberReadOptions& options,
                              MemberHeader* member);

// The rest of a member record once its MAGIC has been read (after a
// resynchronisation).
FormatResult ReadMemberAfterMagic(ByteSource& source, const MemberReadOptions& options,
                                  MemberHeader* member);

// Resynchronisation: reads one dword after another until one is MAGIC
// (kOk) or the source ends (kShortRead).
FormatResult FindNextMagic(ByteSource& source);

}  // namespace crx

#endif  // CRX_ENGINE_FORMAT_H
