// The writing half of the archive engine, on the test's real platform with a
// fixed UTC clock. Each test makes its own stub files of exactly the stub
// sizes, points the registry's datafile/mdatafile values at them, writes
// archives through ArchiveEngine and decodes the result with the format's
// own decoders.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class FixedClock : public Clock {
 public:
  SystemTime now;
  uint32_t slept = 0;
  SystemTime UtcNow() override { return now; }
  SystemTime LocalNow() override { return now; }
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t ms) override { slept += ms; }
};

class FakeUi : public UserInterface {
 public:
  struct Call {
    std::string text, caption;
    uint32_t flags;
  };
  std::vector<Call> calls;
  int answer = kIdOk;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    calls.push_back({text, caption, flags});
    return answer;
  }
  // The setup-information dialog: unavailable unless a test answers it.
  int setup_answer = kDialogUnavailable;
  SetupInfo setup_given;
  int setup_asked = 0;
  int SetupInformation(SetupInfo* info) override {
    ++setup_asked;
    if (setup_answer == kIdOk) *info = setup_given;
    return setup_answer;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.text);
    return out;
  }
};

// A file whose reported size is replaced; everything else goes to the real
// file.
class SizedFile : public File {
 public:
  SizedFile(std::unique_ptr<File> real, int64_t size) : real_(std::move(real)), size_(size) {}
  bool Read(void* b, size_t n, size_t* got) override { return real_->Read(b, n, got); }
  bool Write(const void* d, size_t n) override { return real_->Write(d, n); }
  bool Seek(int64_t o, SeekFrom f, int64_t* p) override { return real_->Seek(o, f, p); }
  bool Size(int64_t* size) override {
    *size = size_;
    return true;
  }
  bool SetEnd() override { return real_->SetEnd(); }
  bool Flush() override { return real_->Flush(); }
  bool GetLastWriteTime(FileTime* t) override { return real_->GetLastWriteTime(t); }
  bool SetLastWriteTime(FileTime t) override { return real_->SetLastWriteTime(t); }

 protected:
  File& Real() { return *real_; }

 private:
  std::unique_ptr<File> real_;
  int64_t size_;
};

// A file whose writes fail with a full disk once the drive's room (shared
// by every file opened for writing) is used up.
class RoomFile : public SizedFile {
 public:
  RoomFile(std::unique_ptr<File> real, int64_t& room) : SizedFile(std::move(real), 0), room_(room) {}
  bool Write(const void* d, size_t n) override {
    if (static_cast<int64_t>(n) > room_) {
      SetLastError(kErrorDiskFull);
      return false;
    }
    room_ -= static_cast<int64_t>(n);
    return SizedFile::Write(d, n);
  }
  bool Size(int64_t* size) override { return SizedFile::Real().Size(size); }

 private:
  int64_t& room_;
};

// The real file system, except that one path reports a size of 2 GB when
// it is opened (so no 2 GB file has to be made), another reports a chosen
// size, and writes can be limited to the room left on a "disk".
class BigFileSystem : public test::ForwardingFileSystem {
 public:
  explicit BigFileSystem(FileSystem& real) : ForwardingFileSystem(real) {}
  std::string big_path;
  std::string sized_path;
  int64_t sized = 0;
  int64_t room = -1;  // -1: no limit
  std::map<std::string, int> read_opens;  // successful opens for reading, by path

  std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                             Disposition disposition, uint32_t attributes) override {
    std::unique_ptr<File> f = real().Open(path, access, share, disposition, attributes);
    if (f && access == kAccessRead) ++read_opens[path];
    if (f && !big_path.empty() && path == big_path) {
      return std::make_unique<SizedFile>(std::move(f), int64_t{1} << 31);
    }
    if (f && !sized_path.empty() && path == sized_path) {
      return std::make_unique<SizedFile>(std::move(f), sized);
    }
    if (f && room >= 0 && (access & kAccessWrite) != 0) {
      return std::make_unique<RoomFile>(std::move(f), room);
    }
    return f;
  }
  bool CopyFile(const std::string& from, const std::string& to, bool fail_if_exists) override {
    if (room >= 0) {
      uint32_t a = real().GetAttributes(from);
      auto in = real().Open(from, kAccessRead, kShareRead, Disposition::kOpenExisting);
      int64_t size = 0;
      if (a == kInvalidAttributes || !in || !in->Size(&size)) return false;
      if (size > room) {
        // A copy that does not fit leaves a cut-off file, as a real one does.
        auto out = real().Open(to, kAccessWrite, kShareNone, Disposition::kCreateAlways);
        SetLastError(kErrorDiskFull);
        return false;
      }
      room -= size;
    }
    return real().CopyFile(from, to, fail_if_exists);
  }
};

// An archive decoded with the format's decoders.
struct Member {
  MemberHeader header;
  Bytes data;
};
struct Decoded {
  bool ok = false;
  std::string error;
  IdentificationRecord id;
  TypeRecord type;
  std::vector<Member> members;
  int64_t trailing = 0;  // bytes after END_OF_ARCHIVE
};

Decoded Decode(const Bytes& file, int64_t offset) {
  Decoded d;
  if (static_cast<int64_t>(file.size()) < offset) {
    d.error = "shorter than the stub";
    return d;
  }
  MemorySource source(std::span<const uint8_t>(file).subspan(static_cast<size_t>(offset)),
                      offset);
  FormatResult r = ReadIdentificationRecord(source, HeaderSearch::kAtOffset, &d.id);
  if (!r.ok()) {
    d.error = "identification: " + r.message;
    return d;
  }
  r = ReadTypeRecord(source, &d.type);
  if (!r.ok()) {
    d.error = "type: " + r.message;
    return d;
  }
  for (;;) {
    Member m;
    MemberReadOptions options;
    options.encrypted = d.type.IsEncrypted();
    r = ReadMemberRecord(source, options, &m.header);
    if (r.status == FormatStatus::kEndOfArchive) break;
    if (!r.ok()) {
      d.error = "member: " + r.message + " " + r.log;
      return d;
    }
    m.data.resize(static_cast<size_t>(MemberDataSize(m.header, options.encrypted)));
    size_t got = 0;
    if (!m.data.empty() && (!source.Read(m.data.data(), m.data.size(), &got) ||
                            got != m.data.size())) {
      d.error = "member data cut short";
      return d;
    }
    d.members.push_back(std::move(m));
  }
  d.trailing = source.Remaining();
  d.ok = true;
  return d;
}

// Adler-32 from 1, written out here so the test does not lean on the
// checksum helper it is checking.
uint32_t Adler(const Bytes& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class ArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    Platform& real = tp_.Get();
    files_ = std::make_unique<BigFileSystem>(real.files);
    platform_ = std::make_unique<Platform>(Platform{*files_, real.registry, real.processes,
                                                    real.environment, clock_, real.terminal,
                                                    real.shell});
    had_temp_ = env().Get("TEMP", &saved_temp_);
    had_tmp_ = env().Get("TMP", &saved_tmp_);
    env().Set("TEMP", tp_.Scratch());
    env().Unset("TMP");
    clock_.now.year = 2026;
    clock_.now.month = 12;
    clock_.now.day_of_week = 0;
    clock_.now.day = 6;
    clock_.now.hour = 14;
    clock_.now.minute = 5;
    clock_.now.second = 33;
    clock_.now.milliseconds = 789;
    ResetLogState();
    SetLoggingSetting(0);

    Registry& reg = real.registry;
    ScopedRegKey user(reg);
    had_user_key_ = reg.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead,
                                user.Out()) == kErrorSuccess;
    ScopedRegKey machine(reg);
    had_machine_key_ = reg.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kRead,
                                   machine.Out()) == kErrorSuccess;
    if (had_machine_key_) {
      had_datafile_ = reg.GetString(machine.Get(), "datafile", &saved_datafile_) == kErrorSuccess;
      had_mdatafile_ =
          reg.GetString(machine.Get(), "mdatafile", &saved_mdatafile_) == kErrorSuccess;
    }

    full_stub_ = tp_.Scratch() + "\\full.dat";
    min_stub_ = tp_.Scratch() + "\\min.dat";
    full_bytes_ = Pattern(FULL_STUB_SIZE, 3);
    min_bytes_ = Pattern(MIN_STUB_SIZE, 9);
    WriteFile(full_stub_, full_bytes_);
    WriteFile(min_stub_, min_bytes_);
    // On Windows HKEY_LOCAL_MACHINE needs administrator rights; wine and
    // the emulated machine allow it.
    if (!SetStubValue("datafile", full_stub_) || !SetStubValue("mdatafile", min_stub_)) {
      GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be written here";
    }
    archive_ = tp_.Scratch() + "\\out.exe";
  }

  void TearDown() override {
    engine_.reset();
    ResetLogState();
    if (!tp_.ok()) return;
    Registry& reg = tp_.Get().registry;
    if (had_machine_key_) {
      ScopedRegKey key(reg);
      if (reg.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out()) ==
          kErrorSuccess) {
        if (had_datafile_) {
          reg.SetString(key.Get(), "datafile", saved_datafile_);
        } else {
          reg.DeleteValue(key.Get(), "datafile");
        }
        if (had_mdatafile_) {
          reg.SetString(key.Get(), "mdatafile", saved_mdatafile_);
        } else {
          reg.DeleteValue(key.Get(), "mdatafile");
        }
      }
    } else {
      reg.DeleteTree(kHKeyLocalMachine, "SOFTWARE\\Velmora");
    }
    if (!had_user_key_) reg.DeleteTree(kHKeyCurrentUser, "SOFTWARE\\Velmora");
    if (had_temp_) env().Set("TEMP", saved_temp_); else env().Unset("TEMP");
    if (had_tmp_) env().Set("TMP", saved_tmp_); else env().Unset("TMP");
  }

  Environment& env() { return tp_.Get().environment; }
  FileSystem& files() { return tp_.Get().files; }
  const std::string& S() const { return tp_.Scratch(); }

  bool SetStubValue(const char* name, const std::string& value) {
    Registry& reg = tp_.Get().registry;
    ScopedRegKey key(reg);
    return reg.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(), nullptr) ==
               kErrorSuccess &&
           reg.SetString(key.Get(), name, value) == kErrorSuccess;
  }
  void SetUserValue(const char* name, const std::string& value) {
    Registry& reg = tp_.Get().registry;
    ScopedRegKey key(reg);
    ASSERT_EQ(reg.CreateKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kAll, key.Out(), nullptr),
              kErrorSuccess);
    ASSERT_EQ(reg.SetString(key.Get(), name, value), kErrorSuccess);
  }

  void WriteFile(const std::string& path, const Bytes& bytes, FileTime time = 0) {
    auto f = files().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f) << path;
    if (!bytes.empty()) {
      ASSERT_TRUE(f->Write(bytes.data(), bytes.size()));
    }
    f.reset();
    if (time != 0) {
      ASSERT_TRUE(files().SetLastWriteTime(path, time));
    }
  }
  Bytes ReadFile(const std::string& path) {
    Bytes out;
    auto f = files().Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
    if (!f) return out;
    uint8_t buffer[65536];
    size_t got = 0;
    while (f->Read(buffer, sizeof buffer, &got) && got > 0) {
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }
  std::string ReadText(const std::string& path) {
    Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
  }
  void MakeFolder(const std::string& path) { ASSERT_TRUE(files().CreateFolder(path)) << path; }

  ArchiveEngine& NewEngine() {
    engine_ = std::make_unique<ArchiveEngine>(*platform_, ui_);
    engine_->log().set_silent(silent_);
    return *engine_;
  }
  Decoded DecodeArchive(int64_t offset = FULL_STUB_SIZE) {
    return Decode(ReadFile(archive_), offset);
  }
  std::vector<std::string> Names(const Decoded& d) {
    std::vector<std::string> out;
    for (const Member& m : d.members) out.push_back(m.header.name);
    return out;
  }
  std::string ErrorLog() { return ReadText(S() + "/Cratex_06122026.err"); }
  // The temporary files of archives being written, left in the folder.
  std::vector<std::string> Temporaries() {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (files().ListFolder(S() + "\\*.tmp", &entries)) {
      for (const FolderEntry& e : entries) names.push_back(e.name);
    }
    return names;
  }

  test::TestPlatform tp_;
  FixedClock clock_;
  FakeUi ui_;
  std::unique_ptr<BigFileSystem> files_;
  std::unique_ptr<Platform> platform_;
  std::unique_ptr<ArchiveEngine> engine_;
  bool silent_ = false;  // NewEngine makes silent engines
  bool had_temp_ = false, had_tmp_ = false, had_user_key_ = false, had_machine_key_ = false;
  bool had_datafile_ = false, had_mdatafile_ = false;
  std::string saved_temp_, saved_tmp_, saved_datafile_, saved_mdatafile_;
  std::string full_stub_, min_stub_, archive_;
  Bytes full_bytes_, min_bytes_;
};

TEST_F(ArchiveWriterTest, ExactBytesAndPatchedCounts) {
  const FileTime t1 = 133000000000000000ULL, t2 = 133000000012345678ULL;
  const Bytes one = Pattern(1, 1), k = Pattern(1024, 2), k1 = Pattern(1025, 3);
  WriteFile(S() + "\\one.bin", one, t1);
  WriteFile(S() + "\\e1.txt", {}, t2);
  WriteFile(S() + "\\k.bin", k, t1);
  WriteFile(S() + "\\e2.txt", {}, t2);
  WriteFile(S() + "\\k1.bin", k1, t2);

  ArchiveEngine& e = NewEngine();
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_EQ(DefaultArchiveOffset(), FULL_STUB_SIZE);
  for (const char* name : {"one.bin", "e1.txt", "k.bin", "e2.txt", "k1.bin"}) {
    EXPECT_TRUE(e.AddFile(S() + "\\" + name)) << name;
  }
  EXPECT_EQ(e.file_count(), 3);
  EXPECT_EQ(e.block_count(), 1 + 1 + 2);
  ASSERT_TRUE(e.CloseArchive());
  EXPECT_TRUE(ui_.calls.empty()) << ui_.calls[0].text;

  // The whole file, built independently from the records it should hold.
  Bytes expected = full_bytes_;
  IdentificationRecord id;
  id.block_size = 1024;
  id.block_count = 4;
  id.file_count = 3;
  id.created = clock_.now;
  AppendIdentificationRecord(id, &expected);
  AppendTypeRecord(TypeRecord{}, &expected);
  struct Row {
    const char* name;
    const Bytes* data;
    FileTime time;
  };
  const Bytes none;
  for (const Row& r : {Row{"one.bin", &one, t1}, Row{"e1.txt", &none, t2}, Row{"k.bin", &k, t1},
                       Row{"e2.txt", &none, t2}, Row{"k1.bin", &k1, t2}}) {
    MemberHeader h;
    h.name = S() + "\\" + r.name;
    h.size = static_cast<int32_t>(r.data->size());
    h.checksum = r.data->empty() ? 0 : Adler(*r.data);
    h.modified = r.time;
    ASSERT_TRUE(AppendMemberHeader(h, &expected));
    expected.insert(expected.end(), r.data->begin(), r.data->end());
  }
  AppendEndOfArchive(&expected);
  const Bytes actual = ReadFile(archive_);
  ASSERT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(actual == expected);

  // Field by field, for a readable failure.
  Decoded d = Decode(actual, FULL_STUB_SIZE);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_TRUE(std::equal(full_bytes_.begin(), full_bytes_.end(), actual.begin()));
  EXPECT_EQ(d.id.version, 1u);
  EXPECT_EQ(d.id.block_size, 1024);
  EXPECT_EQ(d.id.block_count, 4);
  EXPECT_EQ(d.id.file_count, 3);
  EXPECT_EQ(d.id.created.year, 2026);
  EXPECT_EQ(d.id.created.milliseconds, 789);
  EXPECT_EQ(d.id.password_length, 1);
  EXPECT_EQ(d.type.archive_type, 0u);
  ASSERT_EQ(d.members.size(), 5u);
  EXPECT_EQ(d.members[0].header.name, S() + "\\one.bin");
  EXPECT_EQ(d.members[0].header.size, 1);
  EXPECT_EQ(d.members[0].header.compressed_size, 0);
  EXPECT_EQ(d.members[0].header.checksum, Adler(one));
  EXPECT_EQ(d.members[0].header.modified, t1);
  EXPECT_EQ(d.members[1].header.size, 0);
  EXPECT_EQ(d.members[1].header.checksum, 0u);
  EXPECT_TRUE(d.members[1].data.empty());
  EXPECT_EQ(d.members[4].header.size, 1025);
  EXPECT_TRUE(d.members[4].data == k1);
  EXPECT_EQ(d.trailing, 0);
}

TEST_F(ArchiveWriterTest, MinimalStubAndEmptyArchive) {
  ArchiveEngine& e = NewEngine();
  e.SetOptions("+M");
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_EQ(DefaultArchiveOffset(), MIN_STUB_SIZE);
  ASSERT_TRUE(e.CloseArchive());
  Bytes actual = ReadFile(archive_);
  ASSERT_GT(actual.size(), static_cast<size_t>(MIN_STUB_SIZE));
  EXPECT_TRUE(std::equal(min_bytes_.begin(), min_bytes_.end(), actual.begin()));
  Decoded d = Decode(actual, MIN_STUB_SIZE);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_TRUE(d.members.empty());
  EXPECT_EQ(d.id.block_count, 0);
  EXPECT_EQ(d.id.file_count, 0);
  EXPECT_EQ(d.trailing, 0);

  // The next archive with the full stub moves the default offset back.
  engine_.reset();
  ArchiveEngine& f = NewEngine();
  ASSERT_TRUE(f.CreateArchive(archive_));
  EXPECT_EQ(DefaultArchiveOffset(), FULL_STUB_SIZE);
  ASSERT_TRUE(f.CloseArchive());
  EXPECT_EQ(ReadFile(archive_).size(), FULL_STUB_SIZE + 77 + 12 + 4u);
}

TEST_F(ArchiveWriterTest, SetOptionsTexts) {
  ArchiveEngine& e = NewEngine();
  const EngineOptions initial = e.options();
  EXPECT_TRUE(initial.subdirectories);
  EXPECT_FALSE(initial.compress || initial.encrypt || initial.setup || initial.flatten ||
               initial.minimal_stub || initial.project || initial.verify);

  e.SetOptions("+ZS");
  EXPECT_TRUE(e.options().compress);
  EXPECT_TRUE(e.options().setup);
  EXPECT_FALSE(e.options().encrypt);
  e.SetOptions("+E");
  e.SetOptions("-E");
  EXPECT_FALSE(e.options().encrypt);
  EXPECT_TRUE(e.options().compress) << "-E touches only E";
  e.SetOptions("-ZS");
  e.SetOptions("+Z-S");
  EXPECT_TRUE(e.options().compress);
  EXPECT_TRUE(e.options().setup) << "the sign of the first character decides for every letter";
  e.SetOptions("Z");
  EXPECT_FALSE(e.options().compress) << "no sign: off, the first character included";
  EXPECT_TRUE(e.options().setup);
  e.SetOptions("-D");
  e.SetOptions("-");
  EXPECT_FALSE(e.options().subdirectories);
  EXPECT_TRUE(e.options().setup) << "- alone changes nothing";
  e.SetOptions("+dz");
  EXPECT_TRUE(e.options().subdirectories);
  EXPECT_TRUE(e.options().compress);
  e.SetOptions("+fmpv");
  EXPECT_TRUE(e.options().flatten && e.options().minimal_stub && e.options().project &&
              e.options().verify);
}

TEST_F(ArchiveWriterTest, DuplicateNamesAreLeftOut) {
  auto plain = [](const std::string& name) {
    return "ERROR\n\nA file already exists on the archive with this name...\n\n'" + name +
           "'\n\nMultiple files cannot have the same name on an archive.\nIf you are "
           "processing a Script, you can give the file an \nalternative name on the archive, "
           "see the documentation.\n";
  };
  auto renamed = [](const std::string& name) {
    return "ERROR\n\nA file already exists on the archive with this name...\n\n'" + name +
           "'\n\nMultiple files cannot have the same name\non an archive. Choose an "
           "alternative name.";
  };
  MakeFolder(S() + "\\a");
  MakeFolder(S() + "\\b");
  WriteFile(S() + "\\a\\x.txt", Text("first"));
  WriteFile(S() + "\\b\\x.txt", Text("second"));
  WriteFile(S() + "\\empty", {});

  // The same file twice, and two files under one alternative name.
  ArchiveEngine& e = NewEngine();
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_TRUE(e.AddFile(S() + "\\a\\x.txt"));
  EXPECT_TRUE(e.AddFile(S() + "\\a\\x.txt"));
  EXPECT_TRUE(e.AddFile(S() + "\\a\\x.txt", "docs\\same.txt"));
  EXPECT_TRUE(e.AddFile(S() + "\\b\\x.txt", "docs\\same.txt"));
  // Empty files are never entered in the list of names.
  EXPECT_TRUE(e.AddFile(S() + "\\empty"));
  EXPECT_TRUE(e.AddFile(S() + "\\empty"));
  EXPECT_EQ(e.file_count(), 2);
  ASSERT_TRUE(e.CloseArchive());
  ASSERT_EQ(ui_.calls.size(), 2u);
  EXPECT_EQ(ui_.calls[0].text, plain(S() + "\\a\\x.txt"));
  EXPECT_EQ(ui_.calls[1].text, renamed("docs\\same.txt"));
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(Names(d), (std::vector<std::string>{S() + "\\a\\x.txt", "docs\\same.txt",
                                                S() + "\\empty", S() + "\\empty"}));
  EXPECT_TRUE(d.members[1].data == Text("first"));

  // Flattened, files of two folders meet under their last element.
  ui_.calls.clear();
  engine_.reset();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("+F");
  ASSERT_TRUE(f.CreateArchive(archive_));
  EXPECT_TRUE(f.AddFile(S() + "\\a\\x.txt"));
  EXPECT_TRUE(f.AddFile(S() + "\\b\\x.txt"));
  EXPECT_TRUE(f.AddFile(S() + "\\b\\x.txt", "sub/y.txt"));
  ASSERT_TRUE(f.CloseArchive());
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0].text, plain("x.txt"));
  d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(Names(d), (std::vector<std::string>{"x.txt", "y.txt"}));
  EXPECT_EQ(d.id.file_count, 2);
}

TEST_F(ArchiveWriterTest, ProjectModeIgnoreLists) {
  for (const char* name : {"readme.txt", "x.OBJ", "y.obj", "notes.txt~", ".obj", "tool.Exe"}) {
    WriteFile(S() + "\\" + name, Text(name));
  }
  ArchiveEngine& e = NewEngine();
  e.SetOptions("+P");
  ASSERT_TRUE(e.CreateArchive(archive_));
  for (const char* name : {"readme.txt", "x.OBJ", "y.obj", "notes.txt~", ".obj", "tool.Exe"}) {
    EXPECT_TRUE(e.AddFile(S() + "\\" + name)) << name;
  }
  ASSERT_TRUE(e.CloseArchive());
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  // ".obj" is a name without an extension, so it is kept.
  EXPECT_EQ(Names(d), (std::vector<std::string>{S() + "\\readme.txt", S() + "\\notes.txt~",
                                                S() + "\\.obj"}));

  // The list from the registry, with a last-character entry.
  SetUserValue("IgnoreFiles", "OBJ:*~");
  engine_.reset();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("+P");
  ASSERT_TRUE(f.CreateArchive(archive_));
  for (const char* name : {"readme.txt", "x.OBJ", "notes.txt~", "tool.Exe"}) {
    EXPECT_TRUE(f.AddFile(S() + "\\" + name)) << name;
  }
  ASSERT_TRUE(f.CloseArchive());
  d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(Names(d), (std::vector<std::string>{S() + "\\readme.txt", S() + "\\tool.Exe"}));

  // Without P the list is not consulted.
  engine_.reset();
  ArchiveEngine& g = NewEngine();
  ASSERT_TRUE(g.CreateArchive(archive_));
  EXPECT_TRUE(g.AddFile(S() + "\\x.OBJ"));
  ASSERT_TRUE(g.CloseArchive());
  EXPECT_EQ(DecodeArchive().members.size(), 1u);
}

TEST_F(ArchiveWriterTest, CompressedAndScrambledMembers) {
  const Bytes ten = Text("0123456789");
  const Bytes big = Pattern(5000, 4);
  WriteFile(S() + "\\ten.txt", ten);
  WriteFile(S() + "\\big.bin", big);
  auto zlib_of = [](const Bytes& in) {
    Bytes out(compressBound(static_cast<uLong>(in.size())));
    uLongf n = static_cast<uLongf>(out.size());
    EXPECT_EQ(compress(out.data(), &n, in.data(), static_cast<uLong>(in.size())), Z_OK);
    out.resize(n);
    return out;
  };

  ArchiveEngine& e = NewEngine();
  e.SetOptions("+Z");
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_TRUE(e.AddFile(S() + "\\ten.txt"));
  EXPECT_TRUE(e.AddFile(S() + "\\big.bin"));
  ASSERT_TRUE(e.CloseArchive());
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  ASSERT_EQ(d.members.size(), 2u);
  EXPECT_EQ(d.type.archive_type, 0u);
  EXPECT_EQ(d.members[0].header.size, 10);
  EXPECT_EQ(d.members[0].header.checksum, 0u);
  EXPECT_EQ(d.members[0].data, zlib_of(ten));
  EXPECT_EQ(d.members[0].header.compressed_size, static_cast<int32_t>(zlib_of(ten).size()));
  EXPECT_EQ(d.members[1].data, zlib_of(big));

  // Encrypted: the record keeps the compressed size, the data is twice as
  // long and unscrambles to the same zlib stream.
  const std::string digest = DigestFromPaddedPassword("secret12");
  engine_.reset();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("+ZE");
  f.set_password_digest(digest);
  ASSERT_TRUE(f.CreateArchive(archive_));
  EXPECT_TRUE(f.AddFile(S() + "\\ten.txt"));
  EXPECT_TRUE(f.AddFile(S() + "\\big.bin"));
  ASSERT_TRUE(f.CloseArchive());
  EXPECT_TRUE(ui_.calls.empty());
  d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.type.archive_type, TYPE_ENCRYPTED);
  EXPECT_EQ(d.id.password_digest, digest);
  EXPECT_EQ(d.id.password_length, 14);
  const Bytes* plain[] = {&ten, &big};
  for (size_t i = 0; i < 2; ++i) {
    const Member& m = d.members[i];
    const Bytes stream = zlib_of(*plain[i]);
    EXPECT_EQ(m.header.compressed_size, static_cast<int32_t>(stream.size()));
    ASSERT_EQ(m.data.size(), 2 * stream.size());
    Scrambler s(digest);  // every member starts the keystream afresh
    Bytes back(stream.size());
    ASSERT_TRUE(s.Unscramble(m.data.data(), back.size(), back.data()));
    EXPECT_EQ(back, stream) << i;
  }

  // E without Z stores members plainly; only the type says encrypted.
  engine_.reset();
  ArchiveEngine& g = NewEngine();
  g.SetOptions("+E");
  g.set_password_digest(digest);
  ASSERT_TRUE(g.CreateArchive(archive_));
  EXPECT_TRUE(g.AddFile(S() + "\\ten.txt"));
  ASSERT_TRUE(g.CloseArchive());
  d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  ASSERT_EQ(d.members.size(), 1u);
  EXPECT_EQ(d.members[0].data, ten);
  EXPECT_EQ(d.members[0].header.checksum, Adler(ten));
}

TEST_F(ArchiveWriterTest, EncryptionWithoutAPasswordIsRefused) {
  WriteFile(S() + "\\ten.txt", Text("0123456789"));
  ArchiveEngine& e = NewEngine();
  e.SetOptions("+ZE");
  EXPECT_FALSE(e.CreateArchive(archive_));
  EXPECT_FALSE(files().Exists(archive_)) << "nothing is written";
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0].text,
            "ERROR: encryption needs a password; no password was given for the archive");
  EXPECT_FALSE(e.AddFile(S() + "\\ten.txt")) << "no archive is open";
  EXPECT_FALSE(files().Exists(archive_));

  engine_.reset();
  ui_.calls.clear();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("+ZE");
  f.set_password_digest("abc");
  EXPECT_FALSE(f.CreateArchive(archive_));
  EXPECT_FALSE(files().Exists(archive_));
  EXPECT_EQ(ui_.calls.size(), 1u);
}

TEST_F(ArchiveWriterTest, StubRegistryMessagesShowEvenWhenSilent) {
  silent_ = true;  // the engines made from here on
  const std::string copy_error = Format("Error creating archive 0x%x[%d]", 2u, 2);
  ASSERT_TRUE(SetStubValue("datafile", ""));
  {
    ArchiveEngine& e = NewEngine();
    EXPECT_FALSE(e.CreateArchive(archive_));
    ASSERT_EQ(ui_.calls.size(), 1u);
    EXPECT_EQ(ui_.calls[0].text, "datafile not define corectly in registry");
    EXPECT_EQ(ui_.calls[0].flags & kMbTypeMask, kMbOk);
    EXPECT_FALSE(files().Exists(archive_));
    EXPECT_NE(ErrorLog().find("] Error creating archive 0x"), std::string::npos) << ErrorLog();
  }
  // The minimal stub has its own value.
  ui_.calls.clear();
  engine_.reset();
  {
    ArchiveEngine& e = NewEngine();
    e.SetOptions("+M");
    EXPECT_TRUE(e.CreateArchive(archive_));
    EXPECT_TRUE(ui_.calls.empty());
    EXPECT_TRUE(e.AbortArchive());
  }
  // A stub that is not there: the copy's error code is reported.
  ASSERT_TRUE(SetStubValue("datafile", S() + "\\missing.dat"));
  engine_.reset();
  clock_.slept = 0;
  {
    ArchiveEngine& e = NewEngine();
    EXPECT_FALSE(e.CreateArchive(archive_));
    EXPECT_TRUE(ui_.calls.empty());
    EXPECT_NE(ErrorLog().find("] " + copy_error + "\n"), std::string::npos) << ErrorLog();
    EXPECT_EQ(clock_.slept, 1000u);
  }
  // No key at all (not on a system that has its own settings).
  if (had_machine_key_) return;
  tp_.Get().registry.DeleteTree(kHKeyLocalMachine, kSettingsKey);
  engine_.reset();
  {
    ArchiveEngine& e = NewEngine();
    EXPECT_FALSE(e.CreateArchive(archive_));
    ASSERT_EQ(ui_.calls.size(), 1u);
    EXPECT_EQ(ui_.calls[0].text, "Can't open registry key");
  }
}

TEST_F(ArchiveWriterTest, AbortDeletesAndCloseAfterSetupInfo) {
  WriteFile(S() + "\\a.txt", Text("abc"));
  ArchiveEngine& e = NewEngine();
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_TRUE(e.AddFile(S() + "\\a.txt"));
  EXPECT_FALSE(files().Exists(archive_)) << "written under a temporary name";
  EXPECT_EQ(Temporaries().size(), 1u);
  EXPECT_TRUE(e.AbortArchive());
  EXPECT_FALSE(files().Exists(archive_));
  EXPECT_TRUE(Temporaries().empty());
  EXPECT_TRUE(files().Exists(S() + "\\a.txt"));

  // A setup archive carries the five texts; the four the builder asks
  // for are cleared once they are on the archive.
  engine_.reset();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("+S");
  f.setup_info() = SetupInfo{"Velmora", "Tool", "A tool", "SETUP.EXE", "Kestrova.exe"};
  ASSERT_TRUE(f.CreateArchive(archive_));
  EXPECT_TRUE(f.setup_info().company.empty());
  EXPECT_TRUE(f.setup_info().setup_program.empty());
  EXPECT_EQ(f.setup_info().wait_program, "Kestrova.exe");
  ASSERT_TRUE(f.CloseArchive());
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.type.archive_type, TYPE_SETUP);
  EXPECT_EQ(d.type.setup.description, "A tool");
  EXPECT_EQ(d.type.setup.wait_program, "Kestrova.exe");

  // Missing setup information is refused; the partial archive is aborted
  // and the archive made before stays as it was.
  const Bytes good = ReadFile(archive_);
  engine_.reset();
  ui_.calls.clear();
  ArchiveEngine& g = NewEngine();
  g.SetOptions("+S");
  g.setup_info().company = "Velmora";
  EXPECT_FALSE(g.CreateArchive(archive_));
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_NE(ui_.calls[0].text.find("setup information is incomplete"), std::string::npos);
  EXPECT_TRUE(g.AbortArchive());
  EXPECT_TRUE(ReadFile(archive_) == good);
  EXPECT_TRUE(Temporaries().empty());

  // With a dialog, the user completes the texts, or cancels without a
  // further message.
  engine_.reset();
  ui_.calls.clear();
  ui_.setup_asked = 0;
  ui_.setup_answer = kIdCancel;
  ArchiveEngine& h = NewEngine();
  h.SetOptions("+S");
  EXPECT_FALSE(h.CreateArchive(archive_));
  EXPECT_EQ(ui_.setup_asked, 1);
  EXPECT_TRUE(ui_.calls.empty());
  EXPECT_TRUE(h.AbortArchive());

  engine_.reset();
  ui_.setup_answer = kIdOk;
  ui_.setup_given = SetupInfo{"Velmora", "Widget", "Widgets", "SETUP.EXE", "SETUP.EXE"};
  ArchiveEngine& k = NewEngine();
  k.SetOptions("+S");
  k.setup_info().company = "Someone else";  // complete texts are not asked for again
  ASSERT_TRUE(k.CreateArchive(archive_));
  EXPECT_EQ(ui_.setup_asked, 2);
  ASSERT_TRUE(k.CloseArchive());
  Decoded e2 = DecodeArchive();
  ASSERT_TRUE(e2.ok) << e2.error;
  EXPECT_EQ(e2.type.setup.company, "Velmora");
  EXPECT_EQ(e2.type.setup.wait_program, "SETUP.EXE");
}

TEST_F(ArchiveWriterTest, FilesThatCannotBeStored) {
  WriteFile(S() + "\\big.iso", Text("small really"));
  WriteFile(S() + "\\ok.txt", Text("ok"));
  files_->big_path = S() + "\\big.iso";
  ArchiveEngine& e = NewEngine();
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_FALSE(e.AddFile(S() + "\\big.iso"));
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0].text,
            "File too large for an archive (2 GB or more)...\n<" + S() + "\\big.iso>");
  EXPECT_EQ(e.file_count(), 0);

  // A file that cannot be opened: the user may go on (OK) or stop.
  ui_.calls.clear();
  EXPECT_TRUE(e.AddFile(S() + "\\gone.txt"));
  ASSERT_EQ(ui_.calls.size(), 2u);
  EXPECT_EQ(ui_.calls[0].text.rfind("Failed to open file for read\n'" + S() + "\\gone.txt'\n", 0),
            0u);
  EXPECT_EQ(ui_.calls[1].text, "CAN'T ADD FILE TO ARCHIVE...\n'" + S() +
                                   "\\gone.txt'\nContinue adding other files or Cancel");
  EXPECT_EQ(ui_.calls[1].flags & kMbTypeMask, kMbOkCancel);
  ui_.answer = kIdCancel;
  EXPECT_FALSE(e.AddFile(S() + "\\gone.txt"));
  EXPECT_TRUE(e.AddFile(S() + "\\ok.txt"));
  ASSERT_TRUE(e.CloseArchive());
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(Names(d), std::vector<std::string>{S() + "\\ok.txt"});
  EXPECT_EQ(d.id.file_count, 1);

  // Silent: no question, the add fails.
  silent_ = true;  // the engines made from here on
  engine_.reset();
  ui_.calls.clear();
  ArchiveEngine& f = NewEngine();
  ASSERT_TRUE(f.CreateArchive(archive_));
  EXPECT_FALSE(f.AddFile(S() + "\\gone.txt"));
  EXPECT_TRUE(ui_.calls.empty());
  EXPECT_NE(ErrorLog().find("Failed to open file for read"), std::string::npos);
  EXPECT_TRUE(f.AbortArchive());
}

TEST_F(ArchiveWriterTest, AddDirectoryWalksFolders) {
  MakeFolder(S() + "\\src");
  MakeFolder(S() + "\\src\\sub");
  MakeFolder(S() + "\\src\\sub\\deeper");
  MakeFolder(S() + "\\src\\void");
  MakeFolder(S() + "\\lonely");
  WriteFile(S() + "\\src\\a.txt", Text("a"));
  WriteFile(S() + "\\src\\sub\\b.txt", Text("b"));
  WriteFile(S() + "\\src\\sub\\deeper\\c.txt", Text("c"));

  ArchiveEngine& e = NewEngine();
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_TRUE(e.AddDirectory(S() + "\\src"));
  EXPECT_TRUE(e.AddDirectory(S() + "\\lonely")) << "an empty folder adds nothing";
  EXPECT_FALSE(e.AddDirectory(S() + "\\nowhere"));
  ASSERT_TRUE(e.CloseArchive());
  ASSERT_EQ(ui_.calls.size(), 1u);
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  std::vector<std::string> names = Names(d);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{S() + "\\src\\a.txt", S() + "\\src\\sub\\b.txt",
                                             S() + "\\src\\sub\\deeper\\c.txt"}));

  // Without D a sub-folder is handed to AddFile, cannot be opened, and the
  // user is asked whether to go on.
  engine_.reset();
  ui_.calls.clear();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("-D");
  ASSERT_TRUE(f.CreateArchive(archive_));
  EXPECT_TRUE(f.AddDirectory(S() + "\\src"));
  ASSERT_TRUE(f.CloseArchive());
  d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(Names(d), std::vector<std::string>{S() + "\\src\\a.txt"});
  std::vector<std::string> texts = ui_.Texts();
  ASSERT_EQ(texts.size(), 4u) << "two sub-folders, two messages each";
  EXPECT_EQ(texts[1].rfind("CAN'T ADD FILE TO ARCHIVE...", 0), 0u);

  // Cancelling stops the walk and fails it.
  engine_.reset();
  ui_.answer = kIdCancel;
  ArchiveEngine& g = NewEngine();
  g.SetOptions("-D");
  ASSERT_TRUE(g.CreateArchive(archive_));
  EXPECT_FALSE(g.AddDirectory(S() + "\\src"));
  ASSERT_TRUE(g.CloseArchive());
}

TEST_F(ArchiveWriterTest, ActivityLogOfACreate) {
  SetLoggingSetting(1);
  WriteFile(S() + "\\ten.txt", Text("0123456789"));
  ArchiveEngine& e = NewEngine();
  e.SetOptions("+Z");
  ASSERT_TRUE(e.CreateArchive(archive_));
  EXPECT_TRUE(e.AddFile(S() + "\\ten.txt", "t.txt"));
  ASSERT_TRUE(e.CloseArchive());
  const Bytes zipped = DecodeArchive().members.at(0).data;
  const std::string a = archive_, f = S() + "\\ten.txt";
  const std::string expected =
      "Create Archive <" + a + ">...\n" +
      Format("(seek to end-of-file 0x%x[%d])\n", FULL_STUB_SIZE, FULL_STUB_SIZE) +
      "(write archieve type information 0x0) <" + a + ">\n" +
      "EOF OF ARCHIVE FILE IS AT 10\n" +
      "add and compress <" + f + "> [10]\n" +
      "...name on archive changed to <t.txt>\n" +
      Format("(compress [0] 10 -> %d)\n", static_cast<int>(zipped.size())) +
      "(close created archive)\n" +
      "(added 1 files, 1 blocks of data)\n";
  EXPECT_EQ(ReadText(S() + "/Cratex.log"), expected);
}


// Bytes that compress, but not to nothing: text-like runs with a changing
// counter, so that blocks differ and back-references span block borders.
Bytes Mixed(size_t size, unsigned seed) {
  Bytes out;
  out.reserve(size);
  unsigned x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const std::string word = Format("line %u of the file, value %u; ", static_cast<unsigned>(out.size() / 97), (x >> 16) % 1000);
    for (char c : word) {
      if (out.size() == size) break;
      out.push_back(static_cast<uint8_t>(c));
    }
  }
  return out;
}

Bytes Inflate(const Bytes& stream, size_t size) {
  Bytes out(size + 1);
  uLongf n = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &n, stream.data(), static_cast<uLong>(stream.size())) != Z_OK) {
    return Bytes();
  }
  out.resize(n);
  return out;
}

// Quits at the second question after being armed: the first is the
// status shown for the file, the second comes after its first piece.
class QuitLater : public EngineHooks {
 public:
  bool armed = false;
  int asked = 0;
  bool UserQuit() override { return armed && ++asked >= 2; }
};

TEST_F(ArchiveWriterTest, RebuildingNeverDestroysTheLastGoodArchive) {
  WriteFile(S() + "\\a.txt", Text("first archive"));
  WriteFile(S() + "\\b.bin", Mixed(900000, 1));
  {
    ArchiveEngine& e = NewEngine();
    ASSERT_TRUE(e.CreateArchive(archive_));
    ASSERT_TRUE(e.AddFile(S() + "\\a.txt"));
    ASSERT_TRUE(e.CloseArchive());
  }
  const Bytes good = ReadFile(archive_);
  ASSERT_EQ(DecodeArchive().members.size(), 1u);

  // The disk fills while a member is written: said as such, the new
  // archive abandoned at once, every later step fails quietly, and the
  // old archive is untouched.
  ui_.calls.clear();
  engine_.reset();
  files_->room = FULL_STUB_SIZE + 100000;
  {
    ArchiveEngine& e = NewEngine();
    e.SetOptions("+Z");
    ASSERT_TRUE(e.CreateArchive(archive_));
    EXPECT_FALSE(e.AddFile(S() + "\\b.bin"));
    EXPECT_TRUE(Temporaries().empty()) << "nothing is left behind";
    EXPECT_FALSE(e.AddFile(S() + "\\a.txt"));
    EXPECT_TRUE(e.writing());
    EXPECT_FALSE(e.CloseArchive());
  }
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0].text, "ERROR: the disk is full; the archive cannot be written\n<" +
                                   archive_ + ">\nNothing was written under that name: an "
                                   "archive already there is unchanged.");
  EXPECT_TRUE(ReadFile(archive_) == good);

  // A disk too full for the stub copy.
  ui_.calls.clear();
  engine_.reset();
  files_->room = 1000;
  {
    ArchiveEngine& e = NewEngine();
    EXPECT_FALSE(e.CreateArchive(archive_));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(e.CloseArchive() && e.writing());
  }
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0].text, Format("Error creating archive 0x%x[%d]", 112u, 112));
  EXPECT_TRUE(ReadFile(archive_) == good);
  files_->room = -1;

  // Closed but held for verification: the old archive stays until the new
  // one is committed; a discarded one leaves nothing.
  engine_.reset();
  {
    ArchiveEngine& e = NewEngine();
    e.SetOptions("+Z");
    e.set_defer_replace(true);
    ASSERT_TRUE(e.CreateArchive(archive_));
    ASSERT_TRUE(e.AddFile(S() + "\\b.bin"));
    ASSERT_TRUE(e.CloseArchive());
    const std::string pending = e.pending_archive();
    ASSERT_FALSE(pending.empty());
    EXPECT_TRUE(files().Exists(pending));
    EXPECT_TRUE(ReadFile(archive_) == good);
    e.DiscardArchive();
    EXPECT_FALSE(files().Exists(pending));
    EXPECT_TRUE(ReadFile(archive_) == good);

    ASSERT_TRUE(e.CreateArchive(archive_));
    ASSERT_TRUE(e.AddFile(S() + "\\b.bin"));
    ASSERT_TRUE(e.CloseArchive());
    EXPECT_TRUE(ReadFile(archive_) == good);
    EXPECT_TRUE(e.CommitArchive());
    EXPECT_TRUE(e.pending_archive().empty());
  }
  EXPECT_EQ(Names(DecodeArchive()), std::vector<std::string>{S() + "\\b.bin"});
  EXPECT_TRUE(Temporaries().empty());

  // An engine destroyed with a pending archive never puts it in place.
  const Bytes second = ReadFile(archive_);
  engine_.reset();
  {
    ArchiveEngine& e = NewEngine();
    e.set_defer_replace(true);
    ASSERT_TRUE(e.CreateArchive(archive_));
    ASSERT_TRUE(e.CloseArchive());
  }
  engine_.reset();
  EXPECT_TRUE(ReadFile(archive_) == second);
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(ArchiveWriterTest, OptionsAfterCreationCannotChangeTheOpenArchive) {
  const Bytes ten = Text("0123456789");
  WriteFile(S() + "\\ten.txt", ten);
  Bytes zlib(64);
  uLongf n = static_cast<uLongf>(zlib.size());
  ASSERT_EQ(compress(zlib.data(), &n, ten.data(), static_cast<uLong>(ten.size())), Z_OK);
  zlib.resize(n);

  // Encryption switched on after creation: the archive says it is not
  // encrypted and holds no digest, so its members stay readable.
  ArchiveEngine& e = NewEngine();
  e.SetOptions("+Z");
  ASSERT_TRUE(e.CreateArchive(archive_));
  e.SetOptions("+E");
  e.set_password_digest(DigestFromPaddedPassword("too late"));
  ASSERT_TRUE(e.AddFile(S() + "\\ten.txt"));
  ASSERT_TRUE(e.CloseArchive());
  Decoded d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.type.archive_type, 0u);
  EXPECT_EQ(d.id.password_length, 1);
  ASSERT_EQ(d.members.size(), 1u);
  EXPECT_EQ(d.members[0].data, zlib);

  // Switched off, or keyed anew, after creation: members are still
  // scrambled with the digest the archive was created with.
  const std::string digest = DigestFromPaddedPassword("secret12");
  engine_.reset();
  ArchiveEngine& f = NewEngine();
  f.SetOptions("+ZE");
  f.set_password_digest(digest);
  ASSERT_TRUE(f.CreateArchive(archive_));
  f.SetOptions("-E");
  f.set_password_digest(DigestFromPaddedPassword("other"));
  ASSERT_TRUE(f.AddFile(S() + "\\ten.txt"));
  ASSERT_TRUE(f.CloseArchive());
  d = DecodeArchive();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.type.archive_type, TYPE_ENCRYPTED);
  ASSERT_EQ(d.members.size(), 1u);
  ASSERT_EQ(d.members[0].data.size(), 2 * zlib.size());
  Scrambler s(digest);
  Bytes back(zlib.size());
  ASSERT_TRUE(s.Unscramble(d.members[0].data.data(), back.size(), back.data()));
  EXPECT_EQ(back, zlib);
}

TEST_F(ArchiveWriterTest, LargeMembersStreamAndEveryJobCountWritesTheSameBytes) {
  MakeFolder(S() + "\\tree");
  MakeFolder(S() + "\\tree\\sub");
  std::vector<std::pair<std::string, Bytes>> sources = {
      {"\\tree\\big.bin", Mixed(1300000, 2)},
      {"\\tree\\empty.txt", {}},
      {"\\tree\\sub\\one.txt", Mixed(70000, 3)},
      {"\\tree\\sub\\two.bin", Pattern(262144, 4)},  // exactly one block
      {"\\tree\\sub\\three.txt", Mixed(262145, 5)},  // one byte into a second block
      {"\\tree\\z.txt", Text("short")},
  };
  for (auto& [name, bytes] : sources) WriteFile(S() + name, bytes);

  std::string saved_jobs;
  const bool had_jobs = env().Get("CRX_JOBS", &saved_jobs);
  const std::string digest = DigestFromPaddedPassword("secret12");
  for (const char* options : {"+Z", "+ZE"}) {
    std::vector<Bytes> archives;
    for (const char* jobs : {"1", "2", "3"}) {
      env().Set("CRX_JOBS", jobs);
      engine_.reset();
      ArchiveEngine& e = NewEngine();
      e.SetOptions(options);
      e.set_password_digest(digest);
      ASSERT_TRUE(e.CreateArchive(archive_));
      files_->read_opens.clear();
      ASSERT_TRUE(e.AddDirectory(S() + "\\tree"));
      // A small file the walk read ahead is not opened a second time.
      for (const char* small : {"\\tree\\z.txt", "\\tree\\sub\\one.txt"}) {
        EXPECT_EQ(files_->read_opens[S() + small], 1) << small << " jobs " << jobs;
      }
      ASSERT_TRUE(e.AddFile(S() + "\\tree\\big.bin", "again.bin"));
      ASSERT_TRUE(e.CloseArchive());
      EXPECT_TRUE(ui_.calls.empty());
      archives.push_back(ReadFile(archive_));
    }
    EXPECT_TRUE(archives[0] == archives[1]) << options;
    EXPECT_TRUE(archives[0] == archives[2]) << options;

    Decoded d = Decode(archives[0], FULL_STUB_SIZE);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.members.size(), sources.size() + 1);
    EXPECT_EQ(d.id.file_count, 6);
    for (const Member& m : d.members) {
      Bytes original;
      for (auto& [name, bytes] : sources) {
        if (m.header.name == S() + name) original = bytes;
      }
      if (m.header.name == "again.bin") original = sources[0].second;
      ASSERT_EQ(m.header.size, static_cast<int32_t>(original.size())) << m.header.name;
      if (original.empty()) continue;
      Bytes stream = m.data;
      if (d.type.IsEncrypted()) {
        Scrambler s(digest);
        stream.resize(m.data.size() / 2);
        ASSERT_TRUE(s.Unscramble(m.data.data(), stream.size(), stream.data()));
      }
      EXPECT_EQ(m.header.compressed_size, static_cast<int32_t>(stream.size()));
      EXPECT_TRUE(Inflate(stream, original.size()) == original) << m.header.name;
    }
  }
  if (had_jobs) env().Set("CRX_JOBS", saved_jobs); else env().Unset("CRX_JOBS");
}

TEST_F(ArchiveWriterTest, AMemberThatFailsPartWayIsCutOffTheArchive) {
  WriteFile(S() + "\\shrunk.bin", Mixed(600000, 6));
  WriteFile(S() + "\\big.bin", Mixed(900000, 7));
  WriteFile(S() + "\\ok.txt", Text("ok"));
  files_->sized_path = S() + "\\shrunk.bin";
  files_->sized = 700000;  // says more than it has: the read comes up short
  QuitLater hooks;
  for (const char* options : {"+Z", "-Z"}) {
    engine_.reset();
    ui_.calls.clear();
    ArchiveEngine& e = NewEngine();
    e.set_hooks(&hooks);
    e.SetOptions(options);
    ASSERT_TRUE(e.CreateArchive(archive_));
    EXPECT_FALSE(e.AddFile(S() + "\\shrunk.bin"));
    ASSERT_EQ(ui_.calls.size(), 1u);
    EXPECT_EQ(ui_.calls[0].text, "failed to read file fully");
    // Quitting between two pieces of a member stops it there.
    hooks.armed = true;
    hooks.asked = 0;
    EXPECT_FALSE(e.AddFile(S() + "\\big.bin"));
    EXPECT_GE(hooks.asked, 2);
    hooks.armed = false;
    EXPECT_TRUE(e.AddFile(S() + "\\ok.txt"));
    ASSERT_TRUE(e.CloseArchive());
    Decoded d = DecodeArchive();
    ASSERT_TRUE(d.ok) << options << " " << d.error;
    EXPECT_EQ(Names(d), std::vector<std::string>{S() + "\\ok.txt"});
    EXPECT_EQ(d.id.file_count, 1);
    EXPECT_EQ(d.trailing, 0);
  }
}

}  // namespace
}  // namespace crx
