// The archive records: exact bytes written, every decoder check with its
// report, and damaged or truncated archives read through sources that hand
// over the data whole, a few bytes at a time, or fail part-way.
#include "engine/format.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace crx {
namespace {

// "BD AF 00 00 ..." to bytes; spaces and line breaks are ignored.
Bytes Hex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int digit =
        std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Dw(uint32_t value) {
  Bytes out;
  AppendU32(&out, value);
  return out;
}

Bytes Text(const std::string& text, bool terminated = true) {
  Bytes out(text.begin(), text.end());
  if (terminated) out.push_back(0);
  return out;
}

Bytes Zeros(size_t n) { return Bytes(n, 0); }

// Hands over at most 1, 2, 3, 1, 2, 3 ... bytes per Read.
class TrickleSource : public ByteSource {
 public:
  explicit TrickleSource(std::span<const uint8_t> data, int64_t base = 0)
      : data_(data), base_(base) {}
  bool Read(void* buffer, size_t size, size_t* got) override {
    const size_t step = 1 + (calls_++ % 3);
    const size_t n = std::min({size, step, data_.size() - offset_});
    if (n != 0) std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    *got = n;
    return true;
  }
  int64_t Position() override { return base_ + static_cast<int64_t>(offset_); }
  int64_t Remaining() override { return static_cast<int64_t>(data_.size() - offset_); }

 private:
  std::span<const uint8_t> data_;
  size_t offset_ = 0;
  int64_t base_;
  size_t calls_ = 0;
};

// Hands over the first good bytes, then every Read fails with error 23
// while Remaining still counts the bytes it will not deliver.
class FailingSource : public ByteSource {
 public:
  FailingSource(std::span<const uint8_t> data, size_t good) : data_(data), good_(good) {}
  bool Read(void* buffer, size_t size, size_t* got) override {
    const size_t n = std::min(size, good_ - std::min(good_, offset_));
    if (n != 0) std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    *got = n;
    if (n < size) {
      error_ = 23;
      return n != 0;  // a partial read succeeds; the next one fails
    }
    return true;
  }
  int64_t Position() override { return static_cast<int64_t>(offset_); }
  int64_t Remaining() override { return static_cast<int64_t>(data_.size() - offset_); }
  uint32_t ErrorCode() override { return error_; }

 private:
  std::span<const uint8_t> data_;
  size_t good_;
  size_t offset_ = 0;
  uint32_t error_ = 0;
};

SystemTime CreationTime() {
  SystemTime t;
  t.year = 2024;
  t.month = 3;
  t.day_of_week = 2;
  t.day = 5;
  t.hour = 13;
  t.minute = 45;
  t.second = 30;
  t.milliseconds = 250;
  return t;
}

// A setup archive written field by field: identification (no password),
// type record with setup information, a stored member "a.txt" holding
// "abc", an empty member "e", END_OF_ARCHIVE.
const char* const kSmallArchiveHex =
    // identification: MAGIC HEADER_ID version 1, block size 1024, 1 block,
    // 1 file, 2024-03-05 (Tuesday) 13:45:30.250, password field 00
    "BD AF 00 00  D0 AB 00 00  01 00 00 00  00 04 00 00"
    "01 00 00 00  01 00 00 00"
    "E8 07 03 00 02 00 05 00 0D 00 2D 00 1E 00 FA 00"
    "01 00 00 00  00"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    // type: MAGIC TYPE_ID TYPE_SETUP, 19 bytes "Co" "Pr" "D" "setup.exe" ""
    "BD AF 00 00  D1 AB 00 00  01 00 00 00  13 00 00 00"
    "43 6F 00 50 72 00 44 00 73 65 74 75 70 2E 65 78 65 00 00"
    // member "a.txt": size 3, stored, Adler-32 of "abc", FILETIME
    // 0x01DA0B0C0D0E0F10, data "abc"
    "BD AF 00 00  D2 AB 00 00  06 00 00 00  61 2E 74 78 74 00"
    "03 00 00 00  00 00 00 00  27 01 4D 02  10 0F 0E 0D 0C 0B DA 01"
    "61 62 63"
    // member "e": empty, time 0
    "BD AF 00 00  D2 AB 00 00  02 00 00 00  65 00"
    "00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 00 00 00 00"
    // END_OF_ARCHIVE
    "DF AB 00 00";

SetupInfo SmallSetup() { return SetupInfo{"Co", "Pr", "D", "setup.exe", ""}; }

Bytes EncodeSmallArchive() {
  Bytes out;
  IdentificationRecord id;
  id.block_count = 1;
  id.file_count = 1;
  id.created = CreationTime();
  AppendIdentificationRecord(id, &out);
  TypeRecord type;
  type.archive_type = TYPE_SETUP;
  type.setup = SmallSetup();
  AppendTypeRecord(type, &out);
  const Bytes abc = Text("abc", false);
  MemberHeader stored{"a.txt", 3, 0, StoredChecksum(abc), 0x01DA0B0C0D0E0F10ULL};
  EXPECT_TRUE(AppendMemberHeader(stored, &out));
  out.insert(out.end(), abc.begin(), abc.end());
  EXPECT_TRUE(AppendMemberHeader(MemberHeader{"e", 0, 0, 0, 0}, &out));
  AppendEndOfArchive(&out);
  return out;
}

// Reads a whole archive the way the builder does (resynchronising after a
// bad member marker) and keeps what it found.
struct Walk {
  FormatResult last;  // the result that ended the walk
  IdentificationRecord id;
  TypeRecord type;
  std::vector<MemberHeader> members;
  std::vector<Bytes> data;
  bool completed = false;  // END_OF_ARCHIVE reached
  bool data_short = false;
};

Walk WalkArchive(ByteSource& source, HeaderSearch search) {
  Walk walk;
  walk.last = ReadIdentificationRecord(source, search, &walk.id);
  if (!walk.last.ok()) return walk;
  walk.last = ReadTypeRecord(source, &walk.type);
  if (!walk.last.ok()) return walk;
  const MemberReadOptions options{walk.type.IsEncrypted(), walk.id.block_count == 0};
  for (;;) {
    MemberHeader member;
    walk.last = ReadMemberRecord(source, options, &member);
    if (walk.last.status == FormatStatus::kResyncNeeded) {
      walk.last = FindNextMagic(source);
      if (!walk.last.ok()) return walk;
      walk.last = ReadMemberAfterMagic(source, options, &member);
    }
    if (walk.last.status == FormatStatus::kEndOfArchive) {
      walk.completed = true;
      return walk;
    }
    if (!walk.last.ok()) return walk;
    // The data, read in pieces: a record of a spanning archive is not held
    // against the source's end, so its size is not trusted here either.
    const int64_t size = MemberDataSize(member, options.encrypted);
    Bytes data;
    uint8_t piece[512];
    for (int64_t left = size; left > 0;) {
      size_t got = 0;
      const size_t want = static_cast<size_t>(std::min<int64_t>(left, sizeof piece));
      if (!source.Read(piece, want, &got) || got == 0) {
        walk.data_short = true;
        return walk;
      }
      if (size <= 4096) data.insert(data.end(), piece, piece + got);
      left -= static_cast<int64_t>(got);
    }
    walk.members.push_back(member);
    walk.data.push_back(data);
  }
}

TEST(Format, SmallArchiveHasExactBytes) { EXPECT_EQ(EncodeSmallArchive(), Hex(kSmallArchiveHex)); }

TEST(Format, SmallArchiveReadsBackWholeAndTrickled) {
  const Bytes archive = Hex(kSmallArchiveHex);
  MemorySource whole(archive, FULL_STUB_SIZE);
  TrickleSource trickle(archive, FULL_STUB_SIZE);
  for (ByteSource* source :
       {static_cast<ByteSource*>(&whole), static_cast<ByteSource*>(&trickle)}) {
    Walk walk = WalkArchive(*source, HeaderSearch::kAtOffset);
    ASSERT_TRUE(walk.completed) << walk.last.message << walk.last.log;
    EXPECT_EQ(walk.id.version, 1u);
    EXPECT_EQ(walk.id.block_size, 1024);
    EXPECT_EQ(walk.id.block_count, 1);
    EXPECT_EQ(walk.id.file_count, 1);
    EXPECT_EQ(walk.id.created.year, 2024);
    EXPECT_EQ(walk.id.created.milliseconds, 250);
    EXPECT_EQ(walk.id.created.day_of_week, 2);
    EXPECT_FALSE(walk.id.HasPassword());
    EXPECT_EQ(walk.type.archive_type, TYPE_SETUP);
    EXPECT_EQ(walk.type.setup.setup_program, "setup.exe");
    EXPECT_EQ(walk.type.setup.wait_program, "");
    ASSERT_EQ(walk.members.size(), 2u);
    EXPECT_EQ(walk.members[0].name, "a.txt");
    EXPECT_EQ(walk.members[0].modified, 0x01DA0B0C0D0E0F10ULL);
    EXPECT_EQ(walk.data[0], Text("abc", false));
    EXPECT_TRUE(StoredChecksumAccepted(walk.data[0], walk.members[0].checksum));
    EXPECT_EQ(KindOf(walk.members[1]), MemberKind::kEmpty);
    EXPECT_EQ(source->Remaining(), 0);
  }
}

TEST(Format, RecordsRoundTrip) {
  IdentificationRecord id;
  id.block_size = 10240;
  id.block_count = 7;
  id.file_count = -999;
  id.created = CreationTime();
  id.password_digest = "ABCDEFGHIJKLM";
  TypeRecord type;
  type.archive_type = TYPE_ENCRYPTED;
  type.setup = SmallSetup();  // not on the archive without TYPE_SETUP
  MemberHeader member{"C:\\dir\\file.txt", 5000, 300, 0, 0xFEDCBA9876543210ULL};
  Bytes bytes;
  AppendIdentificationRecord(id, &bytes);
  EXPECT_EQ(bytes.size(), 44u + 14u + 32u);
  AppendTypeRecord(type, &bytes);
  EXPECT_EQ(bytes.size(), 44u + 14u + 32u + 12u);
  ASSERT_TRUE(AppendMemberHeader(member, &bytes));

  MemorySource source(bytes);
  IdentificationRecord id2;
  FormatResult r = ReadIdentificationRecord(source, HeaderSearch::kAtOffset, &id2);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(id2.password_digest, "ABCDEFGHIJKLM");
  EXPECT_EQ(id2.password_length, 14);
  EXPECT_TRUE(id2.HasPassword());
  EXPECT_EQ(id2.file_count, -999);
  EXPECT_EQ(id2.block_size, 10240);
  TypeRecord type2;
  r = ReadTypeRecord(source, &type2);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.log, "(archive is [normal] encrypted)\n");
  EXPECT_TRUE(type2.IsEncrypted());
  EXPECT_EQ(type2.setup.company, "");
  MemberHeader member2;
  // 600 data bytes would have to follow; a spanning archive allows that.
  r = ReadMemberRecord(source, MemberReadOptions{true, true}, &member2);
  ASSERT_TRUE(r.ok()) << r.log;
  EXPECT_EQ(member2.name, member.name);
  EXPECT_EQ(member2.size, 5000);
  EXPECT_EQ(member2.compressed_size, 300);
  EXPECT_EQ(member2.modified, member.modified);
  EXPECT_EQ(MemberDataSize(member2, true), 600);
  EXPECT_EQ(MemberDataSize(member2, false), 300);
  EXPECT_EQ(MemberDataSize(MemberHeader{"s", 9, 0, 0, 0}, true), 9);  // stored: never doubled
  EXPECT_EQ(MemberDataSize(MemberHeader{"e", 0, 0, 0, 0}, true), 0);

  // Names the readers would refuse are not written.
  Bytes refused;
  EXPECT_FALSE(AppendMemberHeader(MemberHeader{"", 0, 0, 0, 0}, &refused));
  EXPECT_FALSE(AppendMemberHeader(MemberHeader{std::string(32767, 'n'), 0, 0, 0, 0}, &refused));
  EXPECT_TRUE(refused.empty());
  EXPECT_TRUE(AppendMemberHeader(MemberHeader{std::string(32766, 'n'), 0, 0, 0, 0}, &refused));
  MemorySource longest(refused);
  MemberHeader longest_member;
  EXPECT_TRUE(ReadMemberRecord(longest, {}, &longest_member).ok());
  EXPECT_EQ(longest_member.name.size(), 32766u);

  Bytes markers;
  AppendVolumeContinuation(&markers);
  AppendEndOfArchive(&markers);
  EXPECT_EQ(markers, Hex("DE AB 00 00 DF AB 00 00"));
}

TEST(Format, VersionZeroHasNoReservedBlock) {
  IdentificationRecord id;
  id.version = 0;
  TypeRecord type;
  type.archive_type = TYPE_SETUP | TYPE_ENCRYPTED;
  type.setup = SetupInfo{"Velmora", "Widget", "A widget", "SETUP.EXE", "SETUP.EXE"};
  Bytes bytes;
  AppendIdentificationRecord(id, &bytes);
  EXPECT_EQ(bytes.size(), 45u);
  AppendTypeRecord(type, &bytes);
  EXPECT_EQ(SetupInfoLength(type.setup), 7 + 6 + 8 + 9 + 9 + 5);

  TrickleSource source(bytes);
  IdentificationRecord id2;
  ASSERT_TRUE(ReadIdentificationRecord(source, HeaderSearch::kAtOffset, &id2).ok());
  EXPECT_EQ(id2.version, 0u);
  EXPECT_EQ(source.Position(), 45);
  TypeRecord type2;
  FormatResult r = ReadTypeRecord(source, &type2);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.log,
            "(archive is [setup] encrypted)\n"
            "info<Velmora><Widget><A widget><SETUP.EXE><SETUP.EXE>\n");
  EXPECT_EQ(type2.setup.description, "A widget");
  EXPECT_EQ(source.Remaining(), 0);
}

// The identification record of a plain archive, cut or changed by callers.
Bytes Identification(uint32_t version = 1, int32_t password_length = 1,
                     const Bytes& password = Zeros(1)) {
  return Cat({Dw(MAGIC), Dw(HEADER_ID), Dw(version), Dw(1024), Dw(0), Dw(0), Zeros(16),
              Dw(static_cast<uint32_t>(password_length)), password});
}

enum class Step { kIdAtOffset, kIdSkip, kType, kMember, kMemberEncrypted, kMemberSpanning };

struct Row {
  const char* what;
  Step step;
  Bytes input;
  FormatStatus status;
  std::string message;
  std::string log;
};

FormatResult RunStep(Step step, ByteSource& source) {
  switch (step) {
    case Step::kIdAtOffset:
    case Step::kIdSkip: {
      IdentificationRecord id;
      return ReadIdentificationRecord(
          source, step == Step::kIdSkip ? HeaderSearch::kSkipToMagic : HeaderSearch::kAtOffset,
          &id);
    }
    case Step::kType: {
      TypeRecord type;
      return ReadTypeRecord(source, &type);
    }
    case Step::kMember:
    case Step::kMemberEncrypted:
    case Step::kMemberSpanning: {
      MemberHeader member;
      return ReadMemberRecord(
          source, MemberReadOptions{step == Step::kMemberEncrypted, step == Step::kMemberSpanning},
          &member);
    }
  }
  return FormatResult();
}

Bytes Member(int32_t name_length, const Bytes& name, int32_t size, int32_t compressed,
             const Bytes& data = {}) {
  return Cat({Dw(MAGIC), Dw(FILE_ID), Dw(static_cast<uint32_t>(name_length)), name,
              Dw(static_cast<uint32_t>(size)), Dw(static_cast<uint32_t>(compressed)), Dw(0),
              Zeros(8), data});
}

const std::string kDamaged = "Damaged archive member record";
constexpr FormatStatus kOk = FormatStatus::kOk;
constexpr FormatStatus kShort = FormatStatus::kShortRead;
constexpr FormatStatus kInvalid = FormatStatus::kInvalid;
constexpr FormatStatus kDamagedStatus = FormatStatus::kDamagedMember;

std::vector<Row> CraftedRows() {
  const Bytes setup5 = Cat({Text("a"), Text("b"), Text("c"), Text("d"), Text("e")});
  return {
      // Identification record.
      {"nothing at the offset",
       Step::kIdAtOffset,
       {},
       kShort,
       "read error from archive (0) 0x0[0]",
       "read error from archive (0) 0x0[0]\n"},
      {"half a marker", Step::kIdAtOffset, Hex("BD AF"), kShort,
       "read error from archive (2) 0x0[0]", "read error from archive (2) 0x0[0]\n"},
      {"no marker at the offset", Step::kIdAtOffset, Cat({Dw(0x1234), Identification()}), kInvalid,
       "Invalid Archive Header (1)", "(header error: got ID 0x1234, wanted 0xafbd @ 0x4)\n"},
      {"builder skips stray dwords", Step::kIdSkip,
       Cat({Dw(0x1234), Dw(0), Identification(), Zeros(32)}), kOk, "", ""},
      {"builder finds no marker before the end", Step::kIdSkip, Cat({Dw(1), Dw(2), Hex("BD")}),
       kShort, "read error from archive (1) 0x0[0]", "read error from archive (1) 0x0[0]\n"},
      {"wrong identifier", Step::kIdAtOffset, Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1)}), kInvalid,
       "Invalid Archive Header (2)", ""},
      {"version 2", Step::kIdAtOffset, Identification(2), kInvalid, "Invalid Archive Version", ""},
      {"password length 0", Step::kIdAtOffset, Identification(1, 0, {}), kInvalid,
       "Invalid Archive passowrd size", ""},
      {"password cut", Step::kIdAtOffset, Identification(1, 14, Text("ABCD", false)), kShort, "",
       "ERROR READING PASSWORD (got 4 wanted 14)\n"},
      {"password length beyond the file", Step::kIdAtOffset,
       Identification(1, 0x7FFFFFFF, Zeros(40)), kShort, "",
       "ERROR READING PASSWORD (got 40 wanted 2147483647)\n"},
      {"negative password length", Step::kIdAtOffset, Identification(1, -1, Zeros(40)), kShort, "",
       "ERROR READING PASSWORD (got 0 wanted -1)\n"},
      {"absurd password length", Step::kIdAtOffset, Identification(1, 5000, Zeros(5100)), kShort,
       "", "ERROR READING PASSWORD (got 0 wanted 5000)\n"},
      {"version 0 ends at the password", Step::kIdAtOffset, Identification(0), kOk, "", ""},

      // Type record.
      {"type marker wrong", Step::kType, Cat({Dw(1), Dw(TYPE_ID), Dw(0)}), kInvalid,
       "Invalid Archive Type Header", "Invalid Archive Type Header - got 0x1 wanted 0xafbd\n"},
      {"type identifier wrong", Step::kType, Cat({Dw(MAGIC), Dw(HEADER_ID), Dw(0)}), kInvalid,
       "Invalid Archive Type Indicator",
       "Invalid Archive Type Indicator - got 0xabd0 wanted 0xabd1\n"},
      {"type 2", Step::kType, Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(2)}), kInvalid,
       "Unsupported Archive Type", "Unsupported Archive Type 0x2\n"},
      {"setup length 0", Step::kType, Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1), Dw(0), setup5}), kInvalid,
       "Invalid Archive Setup String Length", "Invalid Archive Setup String Length 0\n"},
      {"setup length negative", Step::kType,
       Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(0x101), Dw(0xFFFFFFFB), setup5}), kInvalid,
       "Invalid Archive Setup String Length",
       "(archive is [setup] encrypted)\nInvalid Archive Setup String Length -5\n"},
      {"setup length beyond the file", Step::kType,
       Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1), Dw(11), setup5}), kInvalid,
       "Invalid Archive Setup String Length", "Invalid Archive Setup String Length 11\n"},
      {"setup block short of five texts", Step::kType,
       Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1), Dw(8), setup5}), kInvalid,
       "Invalid Archive Setup String Length", "Invalid Archive Setup String Length 8\n"},
      {"last setup text unterminated", Step::kType,
       Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1), Dw(9), Text("a"), Text("b"), Text("c"), Text("d"),
            Text("ee", false), Zeros(1)}),
       kInvalid, "Invalid Archive Setup String Length", "Invalid Archive Setup String Length 9\n"},
      {"bytes after the fifth text", Step::kType,
       Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1), Dw(12), setup5, Text("xy", false)}), kOk, "",
       "info<a><b><c><d><e>\n"},

      // One step of the member walk.
      {"end of archive", Step::kMember, Dw(END_OF_ARCHIVE), FormatStatus::kEndOfArchive, "", ""},
      {"volume continuation", Step::kMember, Dw(VOLUME_CONTINUATION),
       FormatStatus::kVolumeContinuation, "", ""},
      {"stray dword", Step::kMember, Cat({Dw(0x12345678), Member(2, Text("x"), 0, 0)}),
       FormatStatus::kResyncNeeded, "Invalid File Header (1)",
       "(invalid file header(1), got 0x12345678 wanted MAGIC 0xafbd @ 0x4)\n"},
      {"file ends where a record starts",
       Step::kMember,
       {},
       kShort,
       "",
       "(error: short header read, got 0 wanted 4 @ 0x0)\n"},
      {"three bytes of a marker", Step::kMember, Hex("BD AF 00"), kShort, "",
       "(error: short header read, got 3 wanted 4 @ 0x3)\n"},
      {"wrong member identifier", Step::kMember, Cat({Dw(MAGIC), Dw(TYPE_ID), Zeros(30)}), kInvalid,
       "Invalid File Header (2)", "(invalid file header(2), got 0xabd1 wanted 0xabd2 @ 0x8)\n"},
      {"name length 0", Step::kMember, Member(0, {}, 0, 0), kDamagedStatus, kDamaged,
       "(damaged member record: name length 0, 20 bytes left @ 0xc)\n"},
      {"name length over 32767", Step::kMember, Member(32768, Zeros(32768), 0, 0), kDamagedStatus,
       kDamaged, "(damaged member record: name length 32768, 32788 bytes left @ 0xc)\n"},
      {"name beyond the file", Step::kMember, Member(0x7FFFFFFF, Text("x"), 0, 0), kDamagedStatus,
       kDamaged, "(damaged member record: name length 2147483647, 22 bytes left @ 0xc)\n"},
      {"name cut", Step::kMember, Cat({Dw(MAGIC), Dw(FILE_ID), Dw(3), Text("ab", false)}),
       kDamagedStatus, kDamaged, "(damaged member record: name length 3, 2 bytes left @ 0xc)\n"},
      {"time cut", Step::kMember, Cat({Dw(MAGIC), Dw(FILE_ID), Dw(2), Text("n"), Zeros(15)}),
       kShort, "", "(error: short header read, got 3 wanted 4 @ 0x1d)\n"},
      {"negative size", Step::kMember, Member(2, Text("n"), -1, 0), kDamagedStatus, kDamaged,
       "(damaged member record <n>: size -1, compressed size 0 @ 0x22)\n"},
      {"negative compressed size", Step::kMember, Member(2, Text("n"), 10, -7), kDamagedStatus,
       kDamaged, "(damaged member record <n>: size 10, compressed size -7 @ 0x22)\n"},
      {"size no stream can inflate to", Step::kMember, Member(2, Text("n"), 1033, 1, Zeros(1)),
       kDamagedStatus, kDamaged,
       "(damaged member record <n>: size 1033, compressed size 1 @ 0x22)\n"},
      {"largest inflation", Step::kMember, Member(2, Text("n"), 1032, 1, Zeros(1)), kOk, "", ""},
      {"stored data beyond the file", Step::kMember, Member(2, Text("n"), 100, 0, Text("abc")),
       kDamagedStatus, kDamaged,
       "(damaged member record <n>: 100 data bytes, 4 bytes left @ 0x22)\n"},
      {"stored data may continue on the next volume", Step::kMemberSpanning,
       Member(2, Text("n"), 100, 0, Text("abc")), kOk, "", ""},
      {"compressed data fits", Step::kMember, Member(2, Text("n"), 30, 10, Zeros(15)), kOk, "", ""},
      {"scrambled data takes twice the room", Step::kMemberEncrypted,
       Member(2, Text("n"), 30, 10, Zeros(15)), kDamagedStatus, kDamaged,
       "(damaged member record <n>: 20 data bytes, 15 bytes left @ 0x22)\n"},
  };
}

TEST(Format, CraftedInputsWholeAndTrickled) {
  for (const Row& row : CraftedRows()) {
    MemorySource whole(row.input);
    TrickleSource trickle(row.input);
    for (ByteSource* source :
         {static_cast<ByteSource*>(&whole), static_cast<ByteSource*>(&trickle)}) {
      const char* how = source == &whole ? "whole" : "trickled";
      FormatResult r = RunStep(row.step, *source);
      EXPECT_EQ(r.status, row.status) << row.what << " (" << how << ")";
      EXPECT_EQ(r.message, row.message) << row.what << " (" << how << ")";
      EXPECT_EQ(r.log, row.log) << row.what << " (" << how << ")";
    }
  }
}

TEST(Format, ResyncFindsTheNextMember) {
  const Bytes bytes = Cat({Dw(7), Hex("00 00 00 00"), Member(2, Text("n"), 0, 0)});
  MemorySource source(bytes);
  MemberHeader member;
  FormatResult r = ReadMemberRecord(source, {}, &member);
  ASSERT_EQ(r.status, FormatStatus::kResyncNeeded);
  EXPECT_EQ(r.found, 7u);
  ASSERT_TRUE(FindNextMagic(source).ok());
  r = ReadMemberAfterMagic(source, {}, &member);
  ASSERT_TRUE(r.ok()) << r.log;
  EXPECT_EQ(member.name, "n");

  // No further MAGIC: the search ends at the end of the data.
  const Bytes junk = Cat({Dw(1), Dw(2), Hex("BD AF")});
  MemorySource rest(junk, 0x100);
  r = FindNextMagic(rest);
  EXPECT_EQ(r.status, FormatStatus::kShortRead);
  EXPECT_EQ(r.log, "(error: short header read, got 2 wanted 4 @ 0x10a)\n");
}

TEST(Format, SystemErrorsAreReported) {
  const Bytes archive = Hex(kSmallArchiveHex);
  FailingSource first(archive, 2);
  IdentificationRecord id;
  FormatResult r = ReadIdentificationRecord(first, HeaderSearch::kAtOffset, &id);
  EXPECT_EQ(r.status, FormatStatus::kShortRead);
  EXPECT_EQ(r.message, "read error from archive (2) 0x17[23]");
  EXPECT_EQ(r.log, "read error from archive (2) 0x17[23]\n");

  // The failure comes one byte into the first member record (offset 112).
  FailingSource member_source(archive, 113);
  TypeRecord type;
  ASSERT_TRUE(ReadIdentificationRecord(member_source, HeaderSearch::kAtOffset, &id).ok());
  ASSERT_TRUE(ReadTypeRecord(member_source, &type).ok());
  MemberHeader member;
  r = ReadMemberRecord(member_source, {}, &member);
  EXPECT_EQ(r.status, FormatStatus::kShortRead);
  EXPECT_EQ(r.log,
            "(system error 23[0x17])\n"
            "(error: short header read, got 1 wanted 4 @ 0x71)\n");
}

// An archive with a password, an encrypted compressed member, a stored
// member checksummed with CRC-32 from 1, and an empty member.
Bytes RicherArchive(int32_t block_count) {
  Bytes out;
  IdentificationRecord id;
  id.block_count = block_count;
  id.file_count = 2;
  id.password_digest = "0123456789ABC";
  AppendIdentificationRecord(id, &out);
  TypeRecord type;
  type.archive_type = TYPE_SETUP | TYPE_ENCRYPTED;
  type.setup = SmallSetup();
  AppendTypeRecord(type, &out);
  const Bytes scrambled = Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C");
  EXPECT_TRUE(AppendMemberHeader(MemberHeader{"C:\\p\\big.dat", 4000, 6, 0, 1}, &out));
  out.insert(out.end(), scrambled.begin(), scrambled.end());
  const Bytes stored = Text("stored data", false);
  EXPECT_TRUE(AppendMemberHeader(MemberHeader{"s.txt", 11, 0, CrcFromOne(stored), 2}, &out));
  out.insert(out.end(), stored.begin(), stored.end());
  EXPECT_TRUE(AppendMemberHeader(MemberHeader{"empty", 0, 0, 0, 3}, &out));
  AppendEndOfArchive(&out);
  return out;
}

TEST(Format, EveryTruncationFailsCleanly) {
  for (const Bytes& archive : {Hex(kSmallArchiveHex), RicherArchive(5), RicherArchive(0)}) {
    {
      MemorySource full(archive);
      Walk walk = WalkArchive(full, HeaderSearch::kAtOffset);
      ASSERT_TRUE(walk.completed) << walk.last.message << walk.last.log;
    }
    for (size_t cut = 0; cut < archive.size(); ++cut) {
      const std::span<const uint8_t> part(archive.data(), cut);
      MemorySource whole(part);
      TrickleSource trickle(part);
      for (ByteSource* source :
           {static_cast<ByteSource*>(&whole), static_cast<ByteSource*>(&trickle)}) {
        Walk walk = WalkArchive(*source, HeaderSearch::kSkipToMagic);
        EXPECT_FALSE(walk.completed) << "cut at " << cut;
        if (walk.data_short) continue;  // only where the data may go on in another volume
        EXPECT_TRUE(walk.last.status == FormatStatus::kShortRead ||
                    walk.last.status == FormatStatus::kInvalid ||
                    walk.last.status == FormatStatus::kDamagedMember)
            << "cut at " << cut;
      }
    }
  }
}

TEST(Format, DamagedBytesNeverCrashTheWalk) {
  // Every byte of the archive replaced by a few values; whatever the walk
  // makes of it, it ends, and it allocates nothing unchecked.
  // A refusal always says why.
  const Bytes archive = RicherArchive(5);
  int refused = 0;
  for (size_t at = 0; at < archive.size(); ++at) {
    for (uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
      Bytes damaged = archive;
      damaged[at] = value;
      MemorySource source(damaged);
      Walk walk = WalkArchive(source, HeaderSearch::kSkipToMagic);
      if (walk.last.status == FormatStatus::kInvalid ||
          walk.last.status == FormatStatus::kDamagedMember) {
        ++refused;
        EXPECT_FALSE(walk.last.message.empty()) << "byte " << at;
      }
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(Format, PasswordAndChecksums) {
  const Bytes archive = RicherArchive(5);
  MemorySource source(archive);
  Walk walk = WalkArchive(source, HeaderSearch::kAtOffset);
  ASSERT_TRUE(walk.completed);
  EXPECT_EQ(walk.id.password_digest, "0123456789ABC");
  EXPECT_EQ(walk.id.password_length, 14);
  ASSERT_EQ(walk.members.size(), 3u);
  EXPECT_EQ(walk.data[0].size(), 12u);  // 6 compressed bytes, scrambled
  // The stored member's checksum is the CRC-32 continued from 1.
  EXPECT_TRUE(StoredChecksumAccepted(walk.data[1], walk.members[1].checksum));

  const Bytes wiki = Text("Wikipedia", false);
  EXPECT_EQ(StoredChecksum(wiki), 0x11E60398u);
  EXPECT_EQ(StoredChecksum(Text("abc", false)), 0x024D0127u);
  const uint32_t crc_from_one = static_cast<uint32_t>(crc32(1L, wiki.data(), 9));
  const uint32_t crc_standard = static_cast<uint32_t>(crc32(0L, wiki.data(), 9));
  ASSERT_NE(crc_from_one, crc_standard);
  EXPECT_EQ(CrcFromOne(wiki), crc_from_one);
  EXPECT_TRUE(StoredChecksumAccepted(wiki, 0x11E60398u));
  EXPECT_TRUE(StoredChecksumAccepted(wiki, crc_from_one));
  EXPECT_FALSE(StoredChecksumAccepted(wiki, crc_standard));
  EXPECT_FALSE(StoredChecksumAccepted(wiki, 0x11E60399u));

  // Fed in pieces (as a member streams), including empty ones: the same
  // sums as over the whole.
  StoredChecksums pieces;
  const std::span<const uint8_t> all(wiki);
  pieces.Update(all.first(0));
  pieces.Update(all.first(4));
  pieces.Update(all.subspan(4, 1));
  pieces.Update(all.subspan(5));
  EXPECT_TRUE(pieces.Accepts(0x11E60398u));
  EXPECT_TRUE(pieces.Accepts(crc_from_one));
  EXPECT_FALSE(pieces.Accepts(crc_standard));
  EXPECT_TRUE(StoredChecksums().Accepts(1u)) << "nothing fed: both sums start at 1";
}

TEST(Format, BlockCounts) {
  EXPECT_EQ(BlockCount(1, 1024), 1);
  EXPECT_EQ(BlockCount(1024, 1024), 1);
  EXPECT_EQ(BlockCount(1025, 1024), 2);
  EXPECT_EQ(BlockCount(0, 1024), 0);
  EXPECT_EQ(BlockCount(1025, 0), 2);  // 0 counts as 1024
  EXPECT_EQ(BlockCount(1024, -5), 1);
  EXPECT_EQ(BlockCount(10241, 10240), 2);
  EXPECT_EQ(BlockCount(INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(BlockCount(INT32_MAX, 1024), 2097152);
}

TEST(Format, LocatingTheArchive) {
  const Bytes archive = Hex(kSmallArchiveHex);
  EXPECT_TRUE(ProbeArchiveStart(archive));
  EXPECT_TRUE(ProbeArchiveStart(Cat({Dw(MAGIC), Dw(HEADER_ID), Dw(0)})));
  EXPECT_FALSE(ProbeArchiveStart(Cat({Dw(MAGIC), Dw(HEADER_ID), Dw(2)})));
  EXPECT_FALSE(ProbeArchiveStart(Cat({Dw(MAGIC), Dw(TYPE_ID), Dw(1)})));
  EXPECT_FALSE(ProbeArchiveStart(Cat({Dw(HEADER_ID), Dw(MAGIC), Dw(1)})));
  EXPECT_FALSE(ProbeArchiveStart(std::span<const uint8_t>(archive.data(), 11)));

  using Offsets = std::array<int32_t, 6>;
  EXPECT_EQ(ArchiveOffsetsToProbe(FULL_STUB_SIZE, false),
            (Offsets{0x35000, 0x35000, 0x2C000, 0x40000, 0x5C000, 0x5B000}));
  EXPECT_EQ(ArchiveOffsetsToProbe(MIN_STUB_SIZE, true),
            (Offsets{0x2C000, 0x2C000, 0x35000, 0x40000, 0x5C000, 0x5B000}));
  EXPECT_EQ(ArchiveOffsetsToProbe(MIN_STUB_SIZE, false),
            (Offsets{0x2C000, 0x35000, 0x2C000, 0x40000, 0x5C000, 0x5B000}));
  EXPECT_EQ(FULL_STUB_SIZE, 217088);
  EXPECT_EQ(MIN_STUB_SIZE, 180224);
}

}  // namespace
}  // namespace crx
