// The reading half of the archive engine, on a fresh machine per test. The
// archives are built here from the format's encoders (a zero-filled stub in
// front), so the reader is tested on its own, including on damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/archive_reader.h"
#include "engine/user_interface.h"
#include "support/forwarding_file_system.h"
#include "support/reader_fixture.h"
#include "support/test_platform.h"

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

// Records every message box and answers from a script; without a scripted
// answer OK is pressed (so a Yes/No question gets neither Yes nor No).
class ScriptedUi : public UserInterface {
 public:
  std::vector<std::string> texts;
  std::deque<int> answers;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    texts.push_back(text);
    if (answers.empty()) return kIdOk;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool Saw(const std::string& text) const {
    for (const std::string& t : texts) {
      if (t == text) return true;
    }
    return false;
  }
};

struct TestMember {
  enum Kind { kStored, kCompressed };
  std::string name;
  std::string data;
  Kind kind = kStored;
  FileTime modified = UnixToFileTime(1700000000);
};

struct ArchiveLayout {
  std::vector<TestMember> members;
  std::string digest;           // password digest; with encrypt also the key
  bool encrypt = false;
  SetupInfo setup;              // a setup archive when company is set
  bool zero_counts = false;     // counts left 0, as a multi-volume archive
  int32_t padding = FULL_STUB_SIZE;
};

// One member record and its data.
void AppendMember(const TestMember& m, const ArchiveLayout& layout, Bytes* out) {
  const Bytes member = test::EncodedMember(m.name, m.data, m.kind == TestMember::kCompressed,
                                           m.modified, layout.encrypt ? layout.digest : "");
  out->insert(out->end(), member.begin(), member.end());
}

Bytes Records(const ArchiveLayout& layout, bool with_end = true) {
  IdentificationRecord id;
  id.password_digest = layout.digest;
  for (const TestMember& m : layout.members) {
    if (m.data.empty() || layout.zero_counts) continue;
    id.block_count += BlockCount(static_cast<int64_t>(m.data.size()), id.block_size);
    ++id.file_count;
  }
  Bytes out;
  AppendIdentificationRecord(id, &out);
  TypeRecord type;
  if (!layout.setup.company.empty()) type.archive_type |= TYPE_SETUP;
  if (layout.encrypt) type.archive_type |= TYPE_ENCRYPTED;
  type.setup = layout.setup;
  AppendTypeRecord(type, &out);
  for (const TestMember& m : layout.members) AppendMember(m, layout, &out);
  if (with_end) AppendEndOfArchive(&out);
  return out;
}

Bytes Archive(const ArchiveLayout& layout) {
  Bytes out(static_cast<size_t>(layout.padding), 0);
  Bytes records = Records(layout);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

// Quits once the given file exists.
class QuitWhenExists : public EngineHooks {
 public:
  QuitWhenExists(FileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}
  bool UserQuit() override { return files_.Exists(path_); }

 private:
  FileSystem& files_;
  std::string path_;
};

class ArchiveReaderTest : public test::ReaderFixture {
 protected:
  void SetUp() override {
    ReaderFixture::SetUp();
    if (HasFatalFailure()) return;
    ScopedRegKey key(reg());
    had_settings_key_ =
        reg().OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead, key.Out()) ==
        kErrorSuccess;
    SetLoggingSetting(0);
  }
  void TearDown() override {
    ReaderFixture::TearDown();
    if (!tp_.ok()) return;
    if (!had_settings_key_) reg().DeleteTree(kHKeyCurrentUser, "SOFTWARE\\Velmora");
  }

  Registry& reg() { return tp_.Get().registry; }

  std::unique_ptr<ArchiveEngine> NewEngine() {
    return std::make_unique<ArchiveEngine>(tp_.Get(), ui_);
  }

  ScriptedUi ui_;
  bool had_settings_key_ = false;
};

std::vector<TestMember> ThreeMembers() {
  std::string big;
  for (int i = 0; i < 5000; ++i) big += Format("line %d of a compressible file\n", i);
  return {{"C:\\src\\stored.bin", std::string("\x00\x01\xff stored bytes", 16)},
          {"C:\\src\\packed.txt", big, TestMember::kCompressed, UnixToFileTime(1600000000)},
          {"C:\\src\\empty.txt", "", TestMember::kStored, UnixToFileTime(1500000000)}};
}

TEST_F(ArchiveReaderTest, ListingFillsTheMemberListAndWritesNothing) {
  ArchiveLayout layout;
  layout.members = ThreeMembers();
  WriteBytes(archive_, Archive(layout));
  auto engine = NewEngine();
  ASSERT_TRUE(engine->ListArchive(archive_));
  ASSERT_EQ(engine->members().size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const MemberEntry& e = engine->members()[i];
    EXPECT_EQ(e.name, layout.members[i].name);
    EXPECT_EQ(e.size, static_cast<int32_t>(layout.members[i].data.size()));
    EXPECT_EQ(e.modified, layout.members[i].modified);
    EXPECT_EQ(e.status, kMemberNotExtracted);
  }
  EXPECT_GT(engine->members()[1].compressed_size, 0);
  EXPECT_EQ(engine->identification().file_count, 2);
  EXPECT_FALSE(engine->open_failed());
  EXPECT_TRUE(engine->CloseArchive());
  EXPECT_FALSE(files().Exists("C:\\src\\stored.bin"));
  EXPECT_FALSE(files().Exists(out_));
  EXPECT_TRUE(ui_.texts.empty());
}

TEST_F(ArchiveReaderTest, ExtractsEveryKindWithItsBytesAndTime) {
  ArchiveLayout layout;
  layout.members = ThreeMembers();
  WriteBytes(archive_, Archive(layout));
  auto engine = NewEngine();
  ASSERT_TRUE(engine->ListArchive(archive_));
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  for (const TestMember& m : layout.members) {
    const std::string path = Out(m.name.substr(7));
    EXPECT_EQ(ReadText(path), m.data) << path;
    EXPECT_EQ(TimeOf(path), m.modified) << path;
  }
  for (const MemberEntry& e : engine->members()) EXPECT_EQ(e.status, kMemberExtracted) << e.name;
  EXPECT_TRUE(ui_.texts.empty());
}

TEST_F(ArchiveReaderTest, PasswordGuardsExtractionButNotVerification) {
  ArchiveLayout layout;
  layout.members = ThreeMembers();
  layout.digest = DigestFromPaddedPassword("secret");
  layout.encrypt = true;
  WriteBytes(archive_, Archive(layout));

  auto engine = NewEngine();
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
  EXPECT_FALSE(engine->open_failed()) << "found, but refused";
  EXPECT_FALSE(files().Exists(out_));

  engine->SetOptions("+V");
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_)) << "verification needs no password";
  EXPECT_FALSE(files().Exists(out_));
  EXPECT_EQ(engine->password_digest(), layout.digest);
  EXPECT_TRUE(engine->type_record().IsEncrypted());

  engine->SetOptions("-V");
  engine->set_password_accepted(true);
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  for (const TestMember& m : layout.members) {
    EXPECT_EQ(ReadText(Out(m.name.substr(7))), m.data) << m.name;
  }
  EXPECT_TRUE(ui_.texts.empty());
}

TEST_F(ArchiveReaderTest, SelectionStopsOnceItsMembersAreDone) {
  ArchiveLayout layout;
  layout.members = {{"C:\\src\\a", "first"}, {"C:\\src\\b", "second"}, {"C:\\src\\c", "third"}};
  Bytes bytes(static_cast<size_t>(layout.padding), 0);
  Bytes records = Records(layout, false);
  bytes.insert(bytes.end(), records.begin(), records.end());
  // Whatever follows the selected members is never read: garbage here would
  // end any walk that reached it with errors.
  for (int i = 0; i < 64; ++i) bytes.push_back(static_cast<uint8_t>(0x5A + i));
  WriteBytes(archive_, bytes);

  auto engine = NewEngine();
  std::vector<std::string> selection = {"C:\\src\\a", "C:\\src\\c"};
  EXPECT_TRUE(engine->ExtractArchive(archive_, &selection, out_));
  EXPECT_EQ(ReadText(Out("a")), "first");
  EXPECT_FALSE(files().Exists(Out("b")));
  EXPECT_EQ(ReadText(Out("c")), "third");

  std::vector<std::string> none;
  const std::string other = tp_.Scratch() + "\\other";
  EXPECT_TRUE(engine->ExtractArchive(archive_, &none, other));
  EXPECT_FALSE(files().Exists(other));

  // Without a selection the walk reaches the garbage and fails.
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, other));
  engine->CloseArchive();
}

TEST_F(ArchiveReaderTest, BadDataEndsTheWalk) {
  // An altered stored byte: the checksum message, and the next member is
  // not reached.
  ArchiveLayout layout;
  layout.members = {{"C:\\src\\a", "stored data that will be altered"}, {"C:\\src\\b", "next"}};
  Bytes bytes = Archive(layout);
  const std::string& data = layout.members[0].data;
  auto at = std::search(bytes.begin(), bytes.end(), data.begin(), data.end());
  ASSERT_NE(at, bytes.end());
  at[3] ^= 0x20;
  WriteBytes(archive_, bytes);
  auto engine = NewEngine();
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
  EXPECT_TRUE(ui_.Saw("Error: checksum incorrect in file...\n<C:\\src\\a>"));
  EXPECT_FALSE(files().Exists(Out("a")));
  EXPECT_FALSE(files().Exists(Out("b")));
  engine->CloseArchive();

  // A compressed member whose stream inflates to fewer bytes than its size
  // field says.
  ui_.texts.clear();
  std::string text(3000, 'x');
  Bytes stream = test::Deflate(text);
  Bytes damaged(static_cast<size_t>(layout.padding), 0);
  Bytes head = Records(ArchiveLayout{}, false);
  damaged.insert(damaged.end(), head.begin(), head.end());
  ASSERT_TRUE(AppendMemberHeader(
      MemberHeader{"C:\\src\\z", 3001, static_cast<int32_t>(stream.size()), 0, 0}, &damaged));
  damaged.insert(damaged.end(), stream.begin(), stream.end());
  AppendEndOfArchive(&damaged);
  WriteBytes(archive_, damaged);
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
  EXPECT_TRUE(ui_.Saw("uncompress error"));
  EXPECT_FALSE(files().Exists(Out("z")));
  engine->CloseArchive();
}

TEST_F(ArchiveReaderTest, BadMarkerOffersResyncToTheBuilderOnly) {
  ArchiveLayout layout;
  layout.members = {{"C:\\src\\a", "first"}};
  Bytes bytes(static_cast<size_t>(MIN_STUB_SIZE), 0);
  Bytes records = Records(layout, false);
  bytes.insert(bytes.end(), records.begin(), records.end());
  AppendU32(&bytes, 0x12345678);  // a stray dword where a member should start
  AppendU32(&bytes, 0x9ABCDEF0);
  AppendMember(TestMember{"C:\\src\\b", "second"}, layout, &bytes);
  AppendEndOfArchive(&bytes);
  WriteBytes(archive_, bytes);

  // The builder probes FULL_STUB_SIZE first, then finds the archive at the
  // minimal stub's length, and resynchronises when the user says Yes.
  auto engine = NewEngine();
  ui_.answers = {kIdOk, kIdYes};
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  EXPECT_EQ(ui_.texts, (std::vector<std::string>{"Invalid File Header (1)", "Attempt Resync..."}));
  EXPECT_EQ(ReadText(Out("b")), "second");
  engine->CloseArchive();

  ui_.texts.clear();
  ui_.answers = {kIdOk, kIdNo};
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, tp_.Scratch() + "\\no"));
  EXPECT_EQ(ui_.texts.size(), 2u);
  engine->CloseArchive();

  // A stub stops at once.
  ui_.texts.clear();
  engine = NewEngine();
  engine->set_stub_reader(true, MIN_STUB_SIZE);
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, tp_.Scratch() + "\\stub"));
  EXPECT_EQ(ui_.texts, (std::vector<std::string>{"Invalid File Header (1)"}));
  EXPECT_EQ(ReadText(tp_.Scratch() + "\\stub\\src\\a"), "first");
  EXPECT_FALSE(files().Exists(tp_.Scratch() + "\\stub\\src\\b"));
  engine->CloseArchive();
}

TEST_F(ArchiveReaderTest, UserQuitAfterTheSecondMemberIsASuccess) {
  ArchiveLayout layout;
  for (int i = 1; i <= 5; ++i) {
    layout.members.push_back({Format("C:\\src\\m%d", i), Format("member %d", i),
                            i % 2 ? TestMember::kCompressed : TestMember::kStored});
  }
  WriteBytes(archive_, Archive(layout));
  SetLoggingSetting(1);
  auto engine = NewEngine();
  QuitWhenExists hooks(files(), Out("m2"));
  engine->set_hooks(&hooks);
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_TRUE(files().Exists(Out("m1")));
  EXPECT_TRUE(files().Exists(Out("m2")));
  EXPECT_FALSE(files().Exists(Out("m3")));
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"USER QUIT..."});
  const std::string log = ReadText(tp_.Scratch() + "/Cratex.log");
  EXPECT_NE(log.find("(USER QUIT)\n(EndOfArchive)\nExtractArchive... Done\n"), std::string::npos)
      << log;
}

TEST_F(ArchiveReaderTest, VerificationLogsEveryMemberAndWritesNothing) {
  ArchiveLayout layout;
  layout.members = ThreeMembers();
  WriteBytes(archive_, Archive(layout));
  {
    ScopedRegKey key(reg());
    ASSERT_EQ(reg().CreateKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kAll, key.Out(), nullptr),
              kErrorSuccess);
    reg().SetString(key.Get(), "Logging", "1");
  }
  ResetLogState();
  auto engine = NewEngine();
  engine->SetOptions("+V");
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_FALSE(files().Exists(out_));
  const std::string log = ReadText(tp_.Scratch() + "/Cratex.log");
  const std::string expected_start = Format(
      "\nARCHIVE VERIFICATION\nExtractArchive...\nRead Archive File (%s)...\n"
      "(seek to 0x35000[217088] in archive)\n(processing archive)\n"
      "extract <C:\\src\\stored.bin> [16,0]\n...<%s\\src\\stored.bin>\n"
      "(veryfy only - no file write)\n"
      "extract and uncompress <C:\\src\\packed.txt>\n",
      archive_.c_str(), out_.c_str());
  EXPECT_EQ(log.substr(0, expected_start.size()), expected_start) << log;
  size_t count = 0;
  for (size_t at = log.find("(veryfy only - no file write)\n"); at != std::string::npos;
       at = log.find("(veryfy only - no file write)\n", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3u) << log;
  EXPECT_NE(log.find("(EndOfArchive)\nExtractArchive... Done\n"), std::string::npos) << log;
}

TEST_F(ArchiveReaderTest, TruncatedArchivesFailCleanlyAtEveryLength) {
  ArchiveLayout layout;
  layout.members = ThreeMembers();
  layout.members[1].data.resize(2000);
  layout.digest = DigestFromPaddedPassword("secret");
  layout.encrypt = true;
  layout.setup = SetupInfo{"Maker", "Product", "Text", "setup.exe", ""};
  layout.padding = 64;
  const Bytes whole = Archive(layout);
  auto engine = NewEngine();
  engine->set_stub_reader(true, 64);
  engine->set_password_accepted(true);
  engine->policy().set_replace_mode(kReplaceAlways);
  for (size_t length = 0; length < whole.size(); ++length) {
    WriteBytes(archive_, Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length)));
    EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_)) << length;
    engine->CloseArchive();
  }
  WriteBytes(archive_, whole);
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_EQ(ReadText(Out("packed.txt")), layout.members[1].data);

  // The builder's reader (probing offsets, skipping to MAGIC) on the same
  // records behind a full stub, cut shorter and shorter.
  layout.padding = FULL_STUB_SIZE;
  const Bytes full = Archive(layout);
  WriteBytes(archive_, full);
  engine = NewEngine();
  engine->set_password_accepted(true);
  for (size_t length = full.size() - 1; length + 1 > static_cast<size_t>(FULL_STUB_SIZE);
       --length) {
    {
      auto f = files().Open(archive_, kAccessWrite, kShareNone, Disposition::kOpenExisting);
      ASSERT_TRUE(f && f->Seek(static_cast<int64_t>(length), SeekFrom::kBegin, nullptr) &&
                  f->SetEnd());
    }
    EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_)) << length;
    engine->CloseArchive();
  }
}

TEST_F(ArchiveReaderTest, ArchivesThatGoOnInAMissingVolumeStopClearly) {
  ArchiveLayout layout;
  layout.members = {{"C:\\src\\a", "first"}};
  layout.zero_counts = true;
  Bytes bytes(static_cast<size_t>(layout.padding), 0);
  Bytes records = Records(layout, false);
  bytes.insert(bytes.end(), records.begin(), records.end());
  // A member that claims far more data than the file holds.
  ASSERT_TRUE(AppendMemberHeader(MemberHeader{"C:\\src\\big", 0x7FFFFFF0, 0, 1, 0}, &bytes));
  AppendU32(&bytes, 0);
  WriteBytes(archive_, bytes);
  auto engine = NewEngine();
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
  // One report naming the volume file that is missing; nothing half
  // written is left of the member that needed it.
  ASSERT_EQ(ui_.texts.size(), 1u) << ui_.texts.back();
  EXPECT_NE(ui_.texts[0].find("another volume file"), std::string::npos);
  EXPECT_NE(ui_.texts[0].find(archive_ + "-1"), std::string::npos);
  EXPECT_EQ(ReadText(Out("a")), "first");
  EXPECT_FALSE(files().Exists(Out("big")));
  EXPECT_EQ(engine->members().size(), 0u);
  std::vector<FolderEntry> left;
  ASSERT_TRUE(files().ListFolder(out_ + "\\src\\*", &left));
  size_t names = 0;
  for (const FolderEntry& e : left) names += e.name != "." && e.name != ".." ? 1 : 0;
  EXPECT_EQ(names, 1u) << "no temporary file stays behind";
  engine->CloseArchive();

  ui_.texts.clear();
  const size_t first_member_end = static_cast<size_t>(layout.padding) + records.size();
  Bytes marked(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(first_member_end));
  AppendVolumeContinuation(&marked);
  WriteBytes(archive_, marked);
  EXPECT_FALSE(engine->ListArchive(archive_));
  ASSERT_EQ(ui_.texts.size(), 1u);
  EXPECT_NE(ui_.texts[0].find(archive_ + "-1"), std::string::npos);
  engine->CloseArchive();
}

TEST_F(ArchiveReaderTest, PolicyRefusalsMarkTheMemberAndGoOn) {
  ArchiveLayout layout;
  layout.members = {{"..\\escape.txt", "outside"},
                  {"C:\\src\\kept", "new"},
                  {"C:\\src\\locked", "new"},
                  {"C:\\src\\fresh", "fresh"}};
  WriteBytes(archive_, Archive(layout));
  ASSERT_TRUE(files().CreateFolder(out_));
  ASSERT_TRUE(files().CreateFolder(out_ + "\\src"));
  WriteBytes(Out("kept"), Bytes{'o', 'l', 'd'});
  WriteBytes(Out("locked"), Bytes{'o', 'l', 'd'});
  ASSERT_TRUE(files().SetAttributes(Out("locked"), kAttrReadOnly));

  auto engine = NewEngine();
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->policy().set_replace_mode(kReplaceNever);
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  std::vector<int32_t> statuses;
  for (const MemberEntry& e : engine->members()) statuses.push_back(e.status);
  EXPECT_EQ(statuses, (std::vector<int32_t>{kMemberFailed, kMemberReplaceRefused,
                                            kMemberReplaceRefused, kMemberExtracted}));
  EXPECT_FALSE(files().Exists(tp_.Scratch() + "\\escape.txt"));
  EXPECT_EQ(ReadText(Out("kept")), "old");
  EXPECT_EQ(ReadText(Out("fresh")), "fresh");

  engine->policy().set_replace_mode(kReplaceAlways);
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_EQ(engine->members()[1].status, kMemberExtracted);
  EXPECT_EQ(engine->members()[2].status, kMemberReadOnly);
  EXPECT_EQ(ReadText(Out("kept")), "new");
  EXPECT_EQ(ReadText(Out("locked")), "old");
  files().SetAttributes(Out("locked"), kAttrNormal);
}

TEST_F(ArchiveReaderTest, ReadArchiveInfoTellsSetupArchivesApart) {
  ArchiveLayout setup;
  setup.members = {{"C:\\src\\setup.exe", "program"}};
  setup.setup = SetupInfo{"Maker", "Product", "About it", "setup.exe", "wait.exe"};
  setup.digest = DigestFromPaddedPassword("secret");
  WriteBytes(archive_, Archive(setup));
  auto engine = NewEngine();
  EXPECT_TRUE(engine->ReadArchiveInfo(archive_));
  EXPECT_EQ(engine->setup_info().company, "Maker");
  EXPECT_EQ(engine->setup_info().wait_program, "wait.exe");
  EXPECT_EQ(engine->password_digest(), setup.digest) << "read although no password was given";
  EXPECT_TRUE(files().DeleteFile(archive_)) << "the archive was closed again";

  // Extracting a setup archive builds its member list as it goes.
  setup.digest.clear();
  WriteBytes(archive_, Archive(setup));
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ASSERT_EQ(engine->members().size(), 1u);
  EXPECT_EQ(engine->members()[0].status, kMemberExtracted);

  ArchiveLayout plain;
  plain.members = setup.members;
  WriteBytes(archive_, Archive(plain));
  EXPECT_FALSE(engine->ReadArchiveInfo(archive_));
  EXPECT_EQ(engine->setup_info().company, "");
  EXPECT_TRUE(engine->password_digest().empty());

  // Nothing at any offset: one report per offset tried, and open failed.
  ui_.texts.clear();
  const std::string missing = tp_.Scratch() + "\\missing.exe";
  EXPECT_FALSE(engine->ExtractArchive(missing, nullptr, out_));
  EXPECT_TRUE(engine->open_failed());
  EXPECT_EQ(ui_.texts.size(), 6u);
  const std::string report = "Failed to open file for read\n'" + missing + "'\nError number: ";
  EXPECT_EQ(ui_.texts[0].rfind(report, 0), 0u) << ui_.texts[0];
}

// Bytes that do not compress (a linear congruential sequence).
std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

TEST_F(ArchiveReaderTest, DamagedMembersNeverTouchTheFileTheyWouldReplace) {
  // Each member is larger than one piece of the reader's buffers, and each
  // is damaged only near its end, so most of it was written before the
  // damage shows.
  const std::string big = Noise(3 * kDataChunk + 1000, 7);
  struct Case {
    const char* what;
    Bytes member;     // record and data
    const char* report;
  };
  std::vector<Case> cases;
  {
    Bytes bytes;
    MemberHeader header{"C:\\src\\target", static_cast<int32_t>(big.size()), 0,
                        StoredChecksum(Bytes(big.begin(), big.end())), 0};
    ASSERT_TRUE(AppendMemberHeader(header, &bytes));
    bytes.insert(bytes.end(), big.begin(), big.end());
    bytes[bytes.size() - 10] ^= 1;
    cases.push_back(
        {"stored, checksum", bytes, "Error: checksum incorrect in file...\n<C:\\src\\target>"});
  }
  {
    Bytes stream = test::Deflate(big);
    Bytes bytes;
    const int32_t whole = static_cast<int32_t>(big.size());
    ASSERT_TRUE(AppendMemberHeader(
        MemberHeader{"C:\\src\\target", whole, static_cast<int32_t>(stream.size()), 0, 0}, &bytes));
    Bytes damaged = stream;
    damaged[damaged.size() - 2] ^= 0x40;  // the stream's own check fails at its end
    bytes.insert(bytes.end(), damaged.begin(), damaged.end());
    cases.push_back(
        {"compressed, damaged", bytes, "Error uncompressing file...\n<C:\\src\\target>"});
    Bytes longer;
    ASSERT_TRUE(AppendMemberHeader(
        MemberHeader{"C:\\src\\target", static_cast<int32_t>(big.size() + 1),
                     static_cast<int32_t>(stream.size()), 0, 0},
        &longer));
    longer.insert(longer.end(), stream.begin(), stream.end());
    cases.push_back({"compressed, short", longer, "uncompress error"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(files().CreateFolder(out_) || files().IsFolder(out_));
    ASSERT_TRUE(files().CreateFolder(out_ + "\\src") || files().IsFolder(out_ + "\\src"));
    WriteBytes(Out("target"), Bytes{'o', 'l', 'd'});
    Bytes bytes(static_cast<size_t>(FULL_STUB_SIZE), 0);
    Bytes head = Records(ArchiveLayout{}, false);
    bytes.insert(bytes.end(), head.begin(), head.end());
    bytes.insert(bytes.end(), c.member.begin(), c.member.end());
    AppendEndOfArchive(&bytes);
    WriteBytes(archive_, bytes);
    ui_.texts.clear();
    auto engine = NewEngine();
    engine->policy().set_replace_mode(kReplaceAlways);
    EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
    engine->CloseArchive();
    EXPECT_TRUE(ui_.Saw(c.report));
    EXPECT_EQ(ReadText(Out("target")), "old");
    EXPECT_EQ(test::FolderNames(files(), out_ + "\\src"), std::vector<std::string>{"target"})
        << "no partial file is left";
  }
}

// Records the largest single read and write made through the files it
// opens.
class PieceFiles : public test::ForwardingFileSystem {
 public:
  explicit PieceFiles(FileSystem& real) : ForwardingFileSystem(real) {}
  size_t largest_read = 0, largest_write = 0;
  int reads = 0;

  std::unique_ptr<File> Open(const std::string& p, uint32_t a, uint32_t s, Disposition d,
                             uint32_t attr) override {
    std::unique_ptr<File> file = ForwardingFileSystem::Open(p, a, s, d, attr);
    if (!file) return nullptr;
    return std::make_unique<Watched>(std::move(file), this);
  }

 private:
  class Watched : public test::ForwardingFile {
   public:
    Watched(std::unique_ptr<File> file, PieceFiles* owner)
        : ForwardingFile(std::move(file)), owner_(owner) {}
    bool Read(void* b, size_t n, size_t* got) override {
      owner_->largest_read = std::max(owner_->largest_read, n);
      ++owner_->reads;
      return ForwardingFile::Read(b, n, got);
    }
    bool Write(const void* d, size_t n) override {
      owner_->largest_write = std::max(owner_->largest_write, n);
      return ForwardingFile::Write(d, n);
    }

   private:
    PieceFiles* owner_;
  };
};

TEST_F(ArchiveReaderTest, LargeMembersStreamInPieces) {
  // Stored and compressed members of several pieces each, scrambled
  // members whose keystream runs across pieces, and a member whose
  // compressed data goes on after the end of its stream. No read or write
  // moves more than a piece (scrambled data: two).
  ArchiveLayout layout;
  layout.digest = DigestFromPaddedPassword("secret");
  layout.encrypt = true;
  std::string text;
  for (int i = 0; i < 60000; ++i) text += Format("%d\n", i * 7919);
  layout.members = {{"C:\\src\\noise.bin", Noise(2 * kDataChunk + 333, 1)},
                    {"C:\\src\\noise.z", Noise(kDataChunk + 4321, 2), TestMember::kCompressed},
                    {"C:\\src\\text.z", text, TestMember::kCompressed}};
  WriteBytes(archive_, Archive(layout));
  Platform& real = tp_.Get();
  PieceFiles pieces(real.files);
  Platform platform{pieces,     real.registry, real.processes, real.environment,
                    real.clock, real.terminal, real.shell};
  auto engine = std::make_unique<ArchiveEngine>(platform, ui_);
  engine->set_password_accepted(true);
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  for (const TestMember& m : layout.members) {
    EXPECT_TRUE(ReadText(Out(m.name.substr(7))) == m.data) << m.name;
  }
  EXPECT_LE(pieces.largest_write, kDataChunk);
  EXPECT_LE(pieces.largest_read, 2 * kDataChunk);
  EXPECT_GT(pieces.largest_write, 0u);

  ArchiveLayout plain;
  Bytes padded(static_cast<size_t>(plain.padding), 0);
  Bytes head = Records(plain, false);
  padded.insert(padded.end(), head.begin(), head.end());
  Bytes stream = test::Deflate(text);
  ASSERT_TRUE(AppendMemberHeader(
      MemberHeader{"C:\\src\\trailing", static_cast<int32_t>(text.size()),
                   static_cast<int32_t>(stream.size() + 7), 0, 0},
      &padded));
  padded.insert(padded.end(), stream.begin(), stream.end());
  padded.insert(padded.end(), 7, 0xEE);
  AppendMember(TestMember{"C:\\src\\after", "after"}, plain, &padded);
  AppendEndOfArchive(&padded);
  WriteBytes(archive_, padded);
  engine = NewEngine();
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_ + "2"));
  engine->CloseArchive();
  EXPECT_TRUE(ReadText(out_ + "2\\src\\trailing") == text);
  EXPECT_EQ(ReadText(out_ + "2\\src\\after"), "after");
  EXPECT_TRUE(ui_.texts.empty());
}

TEST_F(ArchiveReaderTest, SmallRecordsAreReadThroughABuffer) {
  // Many small members, members the size of the read buffer and around
  // it, a large member the selection skips (past what is buffered) and
  // small ones it skips (inside it), and a member whose compressed data
  // goes on after its stream: every selected member arrives intact while
  // the archive file is read in few calls.
  ArchiveLayout plain;
  Bytes bytes(static_cast<size_t>(plain.padding), 0);
  Bytes head = Records(plain, false);
  bytes.insert(bytes.end(), head.begin(), head.end());
  std::vector<TestMember> members;
  for (int i = 0; i < 300; ++i) {
    members.push_back({Format("C:\\src\\f%03d", i), Noise(static_cast<size_t>(i * 37 % 900), static_cast<uint32_t>(i)),
                       i % 3 ? TestMember::kCompressed : TestMember::kStored});
  }
  for (size_t size : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{131073}}) {
    members.push_back({Format("C:\\src\\s%lu", static_cast<unsigned long>(size)),
                       Noise(size, static_cast<uint32_t>(size))});
  }
  members.push_back({"C:\\src\\skipped", Noise(3 * kDataChunk, 9)});
  members.push_back({"C:\\src\\z", Noise(70000, 10), TestMember::kCompressed});
  std::vector<std::string> selection;
  for (const TestMember& m : members) {
    AppendMember(m, plain, &bytes);
    if (m.name != "C:\\src\\skipped" && m.name.back() != '7') selection.push_back(m.name);
  }
  std::string text;
  for (int i = 0; i < 3000; ++i) text += Format("%d\n", i);
  Bytes stream = test::Deflate(text);
  ASSERT_TRUE(AppendMemberHeader(
      MemberHeader{"C:\\src\\trailing", static_cast<int32_t>(text.size()),
                   static_cast<int32_t>(stream.size() + 5), 0, 0},
      &bytes));
  bytes.insert(bytes.end(), stream.begin(), stream.end());
  bytes.insert(bytes.end(), 5, 0xEE);
  selection.push_back("C:\\src\\trailing");
  members.push_back({"C:\\src\\last", "last"});
  AppendMember(members.back(), plain, &bytes);
  selection.push_back("C:\\src\\last");
  AppendEndOfArchive(&bytes);
  WriteBytes(archive_, bytes);

  Platform& real = tp_.Get();
  PieceFiles pieces(real.files);
  Platform platform{pieces,     real.registry, real.processes, real.environment,
                    real.clock, real.terminal, real.shell};
  auto engine = std::make_unique<ArchiveEngine>(platform, ui_);
  ASSERT_TRUE(engine->ExtractArchive(archive_, &selection, out_));
  engine->CloseArchive();
  for (const TestMember& m : members) {
    const std::string out = Out(m.name.substr(7));
    if (std::find(selection.begin(), selection.end(), m.name) == selection.end()) {
      EXPECT_FALSE(files().Exists(out)) << m.name;
    } else {
      EXPECT_TRUE(ReadText(out) == m.data) << m.name;
    }
  }
  EXPECT_TRUE(ReadText(Out("trailing")) == text);
  EXPECT_TRUE(ui_.texts.empty());
  // The probe, then one read per 64 KB of records and small data, or per
  // piece of large data (reads go to extracted files too).
  const int expected = static_cast<int>(bytes.size() / 65536) + 10;
  EXPECT_LE(pieces.reads, expected) << "archive of " << bytes.size() << " bytes";
  EXPECT_LE(pieces.largest_read, kDataChunk);
}

TEST_F(ArchiveReaderTest, ContainedNamesStayInTheOutputFolder) {
  ArchiveLayout layout;
  layout.members = {{"..\\..\\up.txt", "up"},
                    {"C:\\abs\\x.txt", "abs"},
                    {"\\\\srv\\share\\y.txt", "unc"},
                    {"/etc/z.txt", "root"},
                    {"..", "nothing left"},
                    {"a\\..\\..\\b.txt", "b"}};
  WriteBytes(archive_, Archive(layout));
  auto engine = NewEngine();
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->policy().set_contain_names(true);
  EXPECT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_EQ(ReadText(out_ + "\\up.txt"), "up");
  EXPECT_EQ(ReadText(out_ + "\\abs\\x.txt"), "abs");
  EXPECT_EQ(ReadText(out_ + "\\y.txt"), "unc");
  EXPECT_EQ(ReadText(out_ + "\\etc\\z.txt"), "root");
  EXPECT_EQ(ReadText(out_ + "\\a\\b.txt"), "b");
  EXPECT_EQ(engine->members()[4].status, kMemberFailed);
  EXPECT_EQ(ui_.texts.size(), 1u);
  EXPECT_EQ(test::FolderNames(files(), tp_.Scratch()), (std::vector<std::string>{"out", "setup.exe"}));
  EXPECT_FALSE(files().Exists("C:\\abs\\x.txt"));
}

// Counts the file-system questions an extraction asks.
class CountingFiles : public test::ForwardingFileSystem {
 public:
  explicit CountingFiles(FileSystem& real) : ForwardingFileSystem(real) {}
  int attributes = 0, times = 0, free_space = 0, folders = 0;
  uint32_t GetAttributes(const std::string& p) override {
    ++attributes;
    return ForwardingFileSystem::GetAttributes(p);
  }
  bool GetLastWriteTime(const std::string& p, FileTime* t) override {
    ++times;
    return ForwardingFileSystem::GetLastWriteTime(p, t);
  }
  bool GetFreeSpace(const std::string& r, FreeSpace* s) override {
    ++free_space;
    return ForwardingFileSystem::GetFreeSpace(r, s);
  }
  bool CreateFolder(const std::string& p) override {
    ++folders;
    return ForwardingFileSystem::CreateFolder(p);
  }
};

TEST_F(ArchiveReaderTest, EachMemberIsLookedUpOnce) {
  constexpr int kMembers = 40;
  ArchiveLayout layout;
  for (int i = 0; i < kMembers; ++i) {
    layout.members.push_back({Format("C:\\src\\deep\\er\\m%d", i), Format("member %d", i),
                              i % 2 ? TestMember::kCompressed : TestMember::kStored});
  }
  WriteBytes(archive_, Archive(layout));
  Platform& real = tp_.Get();
  CountingFiles counting(real.files);
  Platform platform{counting,         real.registry, real.processes, real.environment,
                    real.clock,       real.terminal, real.shell};
  auto engine = std::make_unique<ArchiveEngine>(platform, ui_);
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_EQ(ReadText(Out("deep\\er\\m39")), "member 39");
  EXPECT_EQ(counting.free_space, 1) << "one drive, measured once";
  EXPECT_EQ(counting.folders, 4) << "out, src, deep, er";
  EXPECT_LE(counting.attributes, kMembers + 20);

  // Again over the files now there, replacing only newer ones: one look
  // at each file and one read of its time.
  counting.attributes = counting.times = counting.free_space = counting.folders = 0;
  engine->policy().set_replace_mode(kReplaceIfNewer);
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_EQ(counting.times, kMembers);
  EXPECT_EQ(counting.folders, 0);
  EXPECT_LE(counting.attributes, kMembers + 10);
  for (const MemberEntry& e : engine->members()) EXPECT_NE(e.status, kMemberFailed);

  // Members in many new folders: each folder is found missing once and
  // made without another look (nor one at its drive).
  constexpr int kFolders = 30;
  ArchiveLayout spread;
  for (int i = 0; i < 2 * kFolders; ++i) {
    spread.members.push_back({Format("C:\\src\\d%02d\\m%d", i / 2, i), Format("m%d", i)});
  }
  WriteBytes(archive_, Archive(spread));
  counting.attributes = counting.folders = 0;
  const std::string spread_out = tp_.Scratch() + "\\spread";
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, spread_out));
  engine->CloseArchive();
  EXPECT_EQ(ReadText(spread_out + "\\src\\d29\\m59"), "m59");
  EXPECT_EQ(counting.folders, kFolders + 2);
  EXPECT_LE(counting.attributes, 2 * kFolders + kFolders + 6);
}

}  // namespace
}  // namespace crx
