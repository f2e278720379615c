// Decoding of the archive records. Every length read from the archive is
// checked against what remains of the source before anything is allocated
// or read with it, so a damaged or hostile archive ends in a result, never
// in a huge allocation or a read past the data.
#include <algorithm>
#include <climits>

#include "common/format.h"
#include "engine/format.h"

namespace crx {

namespace {

// deflate turns at most 258 bytes into one 1-bit literal/length code and one
// 1-bit distance code, so no stream expands by more than 1032 to 1.
constexpr int64_t kMaxInflateRatio = 1032;

// File positions and sizes appear as 32-bit values in the log lines.
unsigned At(ByteSource& source) { return static_cast<unsigned>(source.Position()); }

int ClampToInt(int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// Reads until size bytes have arrived, the source ends or a read fails.
// Returns the bytes read; *failed tells whether a read failed.
size_t ReadFully(ByteSource& source, void* buffer, size_t size, bool* failed) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t total = 0;
  *failed = false;
  while (total < size) {
    size_t got = 0;
    if (!source.Read(bytes + total, size - total, &got)) {
      *failed = true;
      break;
    }
    if (got == 0) break;
    total += std::min(got, size - total);
  }
  return total;
}

// One read of a fixed-size field.
struct FieldRead {
  size_t got = 0;
  bool failed = false;
};

bool ReadDword(ByteSource& source, uint32_t* value, FieldRead* read) {
  uint8_t bytes[4];
  read->got = ReadFully(source, bytes, sizeof bytes, &read->failed);
  if (read->got != sizeof bytes) return false;
  *value = DecodeU32(bytes);
  return true;
}

bool ReadInt(ByteSource& source, int32_t* value, FieldRead* read) {
  uint32_t raw = 0;
  if (!ReadDword(source, &raw, read)) return false;
  *value = static_cast<int32_t>(raw);
  return true;
}

// The text of a zero-terminated field, never reaching past the field.
std::string TextOf(const uint8_t* field, size_t length) {
  size_t n = 0;
  while (n < length && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

FormatResult& Fail(FormatResult& result, FormatStatus status, const char* message) {
  result.status = status;
  result.message = message;
  return result;
}

// A header field of a member record that did not arrive in full.
FormatResult& ShortHeaderRead(FormatResult& result, ByteSource& source, const FieldRead& read,
                              size_t wanted) {
  if (read.failed) {
    const uint32_t error = source.ErrorCode();
    if (error != 0) {
      AppendFormat(&result.log, "(system error %d[0x%x])\n", static_cast<int>(error), error);
    }
  }
  AppendFormat(&result.log, "(error: short header read, got %d wanted %d @ 0x%x)\n",
               static_cast<int>(read.got), static_cast<int>(wanted), At(source));
  result.status = FormatStatus::kShortRead;
  return result;
}

constexpr const char* kDamagedMember = "Damaged archive member record";

}  // namespace

FormatResult ReadIdentificationRecord(ByteSource& source, HeaderSearch search,
                                      IdentificationRecord* record) {
  FormatResult result;
  FieldRead read;
  uint32_t value = 0;

  // The marker; the builder tolerates stray dwords in front of it.
  for (;;) {
    if (!ReadDword(source, &value, &read)) {
      const uint32_t error = read.failed ? source.ErrorCode() : 0;
      result.message = Format("read error from archive (%d) 0x%x[%d]", static_cast<int>(read.got),
                              error, static_cast<int>(error));
      result.log = result.message + "\n";
      result.status = FormatStatus::kShortRead;
      return result;
    }
    if (value == MAGIC || search == HeaderSearch::kAtOffset) break;
  }
  if (value != MAGIC) {
    AppendFormat(&result.log, "(header error: got ID 0x%x, wanted 0x%x @ 0x%x)\n", value, MAGIC,
                 At(source));
    return Fail(result, FormatStatus::kInvalid, "Invalid Archive Header (1)");
  }

  if (!ReadDword(source, &value, &read)) return Fail(result, FormatStatus::kShortRead, "");
  if (value != HEADER_ID) return Fail(result, FormatStatus::kInvalid, "Invalid Archive Header (2)");

  if (!ReadDword(source, &record->version, &read)) {
    return Fail(result, FormatStatus::kShortRead, "");
  }
  if (record->version > 1) return Fail(result, FormatStatus::kInvalid, "Invalid Archive Version");

  // Block size, block count, file count, creation time, password length.
  uint8_t fixed[12 + 16 + 4];
  bool failed = false;
  if (ReadFully(source, fixed, sizeof fixed, &failed) != sizeof fixed) {
    return Fail(result, FormatStatus::kShortRead, "");
  }
  std::span<const uint8_t> f(fixed);
  record->block_size = DecodeI32(f.subspan<0, 4>());
  record->block_count = DecodeI32(f.subspan<4, 4>());
  record->file_count = DecodeI32(f.subspan<8, 4>());
  uint16_t time[8];
  for (size_t i = 0; i < 8; ++i) time[i] = DecodeU16(f.subspan(12 + 2 * i).first<2>());
  record->created =
      SystemTime{time[0], time[1], time[2], time[3], time[4], time[5], time[6], time[7]};
  const int32_t length = DecodeI32(f.subspan<28, 4>());
  record->password_length = length;
  record->password_digest.clear();
  if (length == 0) return Fail(result, FormatStatus::kInvalid, "Invalid Archive passowrd size");

  // A password field that cannot be there (negative, beyond the data or
  // absurdly long) fails like a short read, without reading it.
  const int64_t remaining = source.Remaining();
  if (length < 0 || length > kMaxPasswordFieldLength || length > remaining) {
    const int64_t got = length > remaining ? std::max<int64_t>(remaining, 0) : 0;
    AppendFormat(&result.log, "ERROR READING PASSWORD (got %d wanted %d)\n", ClampToInt(got),
                 length);
    return Fail(result, FormatStatus::kShortRead, "");
  }
  Bytes password(static_cast<size_t>(length));
  const size_t got = ReadFully(source, password.data(), password.size(), &failed);
  if (got != password.size()) {
    AppendFormat(&result.log, "ERROR READING PASSWORD (got %d wanted %d)\n", static_cast<int>(got),
                 length);
    return Fail(result, FormatStatus::kShortRead, "");
  }
  record->password_digest = TextOf(password.data(), got);

  if (record->HasReservedBlock()) {
    uint8_t reserved[kReservedBytes];
    if (ReadFully(source, reserved, sizeof reserved, &failed) != sizeof reserved) {
      return Fail(result, FormatStatus::kShortRead, "");
    }
  }
  return result;
}

FormatResult ReadTypeRecord(ByteSource& source, TypeRecord* record) {
  FormatResult result;
  FieldRead read;
  uint32_t value = 0;

  if (!ReadDword(source, &value, &read)) return Fail(result, FormatStatus::kShortRead, "");
  if (value != MAGIC) {
    AppendFormat(&result.log, "Invalid Archive Type Header - got 0x%x wanted 0x%x\n", value, MAGIC);
    return Fail(result, FormatStatus::kInvalid, "Invalid Archive Type Header");
  }
  if (!ReadDword(source, &value, &read)) return Fail(result, FormatStatus::kShortRead, "");
  if (value != TYPE_ID) {
    AppendFormat(&result.log, "Invalid Archive Type Indicator - got 0x%x wanted 0x%x\n", value,
                 TYPE_ID);
    return Fail(result, FormatStatus::kInvalid, "Invalid Archive Type Indicator");
  }

  if (!ReadDword(source, &record->archive_type, &read)) {
    return Fail(result, FormatStatus::kShortRead, "");
  }
  const uint32_t type = record->archive_type;
  if (type == TYPE_ENCRYPTED) result.log += "(archive is [normal] encrypted)\n";
  if (type == (TYPE_ENCRYPTED | TYPE_SETUP)) result.log += "(archive is [setup] encrypted)\n";
  if (type != 0 && type != TYPE_SETUP && type != TYPE_ENCRYPTED &&
      type != (TYPE_SETUP | TYPE_ENCRYPTED)) {
    AppendFormat(&result.log, "Unsupported Archive Type 0x%x\n", type);
    return Fail(result, FormatStatus::kInvalid, "Unsupported Archive Type");
  }
  record->setup = SetupInfo();
  if (!record->IsSetup()) return result;

  int32_t length = 0;
  if (!ReadInt(source, &length, &read)) return Fail(result, FormatStatus::kShortRead, "");
  if (length <= 0 || length > source.Remaining()) {
    AppendFormat(&result.log, "Invalid Archive Setup String Length %d\n", length);
    return Fail(result, FormatStatus::kInvalid, "Invalid Archive Setup String Length");
  }
  Bytes block(static_cast<size_t>(length));
  bool failed = false;
  if (ReadFully(source, block.data(), block.size(), &failed) != block.size()) {
    return Fail(result, FormatStatus::kShortRead, "");
  }

  // Five zero-terminated texts, all inside the block; bytes after the
  // fifth terminator are ignored.
  std::string* texts[] = {&record->setup.company, &record->setup.product,
                          &record->setup.description, &record->setup.setup_program,
                          &record->setup.wait_program};
  size_t at = 0;
  for (std::string* text : texts) {
    size_t end = at;
    while (end < block.size() && block[end] != 0) ++end;
    if (end == block.size()) {
      record->setup = SetupInfo();
      AppendFormat(&result.log, "Invalid Archive Setup String Length %d\n", length);
      return Fail(result, FormatStatus::kInvalid, "Invalid Archive Setup String Length");
    }
    text->assign(reinterpret_cast<const char*>(block.data() + at), end - at);
    at = end + 1;
  }
  const SetupInfo& s = record->setup;
  AppendFormat(&result.log, "info<%s><%s><%s><%s><%s>\n", s.company.c_str(), s.product.c_str(),
               s.description.c_str(), s.setup_program.c_str(), s.wait_program.c_str());
  return result;
}

FormatResult ReadMemberRecord(ByteSource& source, const MemberReadOptions& options,
                              MemberHeader* member) {
  FormatResult result;
  FieldRead read;
  uint32_t value = 0;
  if (!ReadDword(source, &value, &read)) return ShortHeaderRead(result, source, read, 4);
  if (value == END_OF_ARCHIVE) {
    result.status = FormatStatus::kEndOfArchive;
    return result;
  }
  if (value == VOLUME_CONTINUATION) {
    result.status = FormatStatus::kVolumeContinuation;
    return result;
  }
  if (value != MAGIC) {
    result.found = value;
    AppendFormat(&result.log, "(invalid file header(1), got 0x%x wanted MAGIC 0x%x @ 0x%x)\n",
                 value, MAGIC, At(source));
    return Fail(result, FormatStatus::kResyncNeeded, "Invalid File Header (1)");
  }
  return ReadMemberAfterMagic(source, options, member);
}

FormatResult ReadMemberAfterMagic(ByteSource& source, const MemberReadOptions& options,
                                  MemberHeader* member) {
  FormatResult result;
  FieldRead read;
  uint32_t value = 0;
  if (!ReadDword(source, &value, &read)) return ShortHeaderRead(result, source, read, 4);
  if (value != FILE_ID) {
    AppendFormat(&result.log, "(invalid file header(2), got 0x%x wanted 0x%x @ 0x%x)\n", value,
                 FILE_ID, At(source));
    return Fail(result, FormatStatus::kInvalid, "Invalid File Header (2)");
  }

  int32_t name_length = 0;
  if (!ReadInt(source, &name_length, &read)) return ShortHeaderRead(result, source, read, 4);
  const int64_t left = source.Remaining();
  if (name_length <= 0 || name_length > kMaxMemberNameLength || name_length > left) {
    AppendFormat(&result.log, "(damaged member record: name length %d, %d bytes left @ 0x%x)\n",
                 name_length, ClampToInt(left), At(source));
    return Fail(result, FormatStatus::kDamagedMember, kDamagedMember);
  }
  Bytes name(static_cast<size_t>(name_length));
  read.got = ReadFully(source, name.data(), name.size(), &read.failed);
  if (read.got != name.size()) return ShortHeaderRead(result, source, read, name.size());
  member->name = TextOf(name.data(), read.got);

  uint32_t low = 0, high = 0;
  if (!ReadInt(source, &member->size, &read) || !ReadInt(source, &member->compressed_size, &read) ||
      !ReadDword(source, &member->checksum, &read) || !ReadDword(source, &low, &read) ||
      !ReadDword(source, &high, &read)) {
    return ShortHeaderRead(result, source, read, 4);
  }
  member->modified = MakeFileTime(low, high);

  // Negative sizes, and an uncompressed size no zlib stream of the
  // compressed size can produce.
  const bool inflatable =
      member->compressed_size == 0 ||
      member->size <= kMaxInflateRatio * static_cast<int64_t>(member->compressed_size);
  if (member->size < 0 || member->compressed_size < 0 || !inflatable) {
    AppendFormat(&result.log, "(damaged member record <%s>: size %d, compressed size %d @ 0x%x)\n",
                 member->name.c_str(), member->size, member->compressed_size, At(source));
    return Fail(result, FormatStatus::kDamagedMember, kDamagedMember);
  }
  const int64_t data = MemberDataSize(*member, options.encrypted);
  const int64_t data_left = source.Remaining();
  if (!options.data_may_continue && data > data_left) {
    AppendFormat(&result.log, "(damaged member record <%s>: %u data bytes, %d bytes left @ 0x%x)\n",
                 member->name.c_str(), static_cast<unsigned>(data), ClampToInt(data_left),
                 At(source));
    return Fail(result, FormatStatus::kDamagedMember, kDamagedMember);
  }
  return result;
}

FormatResult FindNextMagic(ByteSource& source) {
  FormatResult result;
  FieldRead read;
  uint32_t value = 0;
  for (;;) {
    if (!ReadDword(source, &value, &read)) return ShortHeaderRead(result, source, read, 4);
    if (value == MAGIC) return result;
  }
}

}  // namespace crx
