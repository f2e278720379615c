// The writer on the emulated machine's removable drive A: (a capacity and
// several disks, each a host folder): archives that go on to further disks,
// the disk prompts, and the files each disk ends up with, decoded here volume
// by volume with the format's own decoders.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "builder/command_line.h"
#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";
constexpr uint64_t kFloppy = 1474560;

class QuietClock : public Clock {
 public:
  uint32_t slept = 0;
  SystemTime UtcNow() override {
    SystemTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 8;
    t.hour = 10;
    return t;
  }
  SystemTime LocalNow() override { return UtcNow(); }
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t ms) override { slept += ms; }
};

// Answers the disk dialog and the volume questions from a list, putting a
// disk into A: first when the answer says so, as the person at the drive
// would. Notices (OK-only boxes) are recorded and not answered from the
// list. Nothing left to answer means Cancel.
class DiskUi : public UserInterface {
 public:
  struct Answer {
    int id;
    int insert;  // the disk put in before answering; 0: none, -1: the disk taken out
  };
  DiskChanger* disks = nullptr;
  std::deque<Answer> answers;
  std::vector<std::string> asked;
  bool has_dialog = true;

  int AskForDisk(bool reading, int disk_number) override {
    if (!has_dialog) return kDialogUnavailable;
    asked.push_back(Format("%s disk %d", reading ? "read" : "write", disk_number));
    return Next();
  }
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    asked.push_back(caption == "Cratex" ? text : caption + ": " + text);
    if ((flags & kMbTypeMask) == kMbOk) return kIdOk;
    return Next();
  }

 private:
  int Next() {
    if (answers.empty()) return kIdCancel;
    Answer a = answers.front();
    answers.pop_front();
    if (a.insert != 0 && disks) disks->InsertDisk('A', a.insert < 0 ? 0 : a.insert);
    return a.id;
  }
};

using Bytes = std::vector<uint8_t>;

// Bytes that do not compress: a simple generator's stream.
Bytes Noise(size_t size, uint32_t seed) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x);
  }
  return out;
}

// Reads the volumes of an archive one after the other, as a reader that
// goes on in the next file at the end of each does.
class VolumeSource : public ByteSource {
 public:
  VolumeSource(const std::vector<Bytes>& volumes, size_t offset)
      : volumes_(volumes), pos_(offset) {}
  bool Read(void* buffer, size_t size, size_t* got) override {
    *got = 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (*got < size) {
      if (pos_ == volumes_[index_].size()) {
        if (index_ + 1 == volumes_.size()) break;
        ++index_;
        pos_ = 0;
        continue;
      }
      out[(*got)++] = volumes_[index_][pos_++];
    }
    return true;
  }
  int64_t Position() override { return static_cast<int64_t>(pos_); }
  int64_t Remaining() override {
    int64_t left = static_cast<int64_t>(volumes_[index_].size() - pos_);
    for (size_t i = index_ + 1; i < volumes_.size(); ++i) {
      left += static_cast<int64_t>(volumes_[i].size());
    }
    return left;
  }
  // Moves to the next file when this one is used up; false on the last.
  bool NextAtEnd() {
    if (pos_ < volumes_[index_].size() || index_ + 1 == volumes_.size()) return false;
    ++index_;
    pos_ = 0;
    return true;
  }
  size_t index() const { return index_; }
  bool AtEnd() const { return pos_ == volumes_[index_].size(); }

 private:
  const std::vector<Bytes>& volumes_;
  size_t index_ = 0;
  size_t pos_;
};

struct Volumes {
  bool ok = false;
  std::string error;
  IdentificationRecord id;
  std::vector<std::pair<std::string, Bytes>> members;
  std::vector<size_t> header_volume;  // where each member's record starts
  int markers = 0;        // VOLUME_CONTINUATION at the end of a volume
  int data_crossings = 0;  // members whose data goes on in the next file
  size_t end_volume = 0;  // where END_OF_ARCHIVE is
};

Volumes DecodeVolumes(const std::vector<Bytes>& files, size_t offset) {
  Volumes v;
  VolumeSource source(files, offset);
  FormatResult r = ReadIdentificationRecord(source, HeaderSearch::kAtOffset, &v.id);
  TypeRecord type;
  if (r.ok()) r = ReadTypeRecord(source, &type);
  if (!r.ok()) {
    v.error = "header: " + r.message;
    return v;
  }
  for (;;) {
    source.NextAtEnd();  // a volume that ends where a record would start
    const size_t start = source.index();
    MemberHeader header;
    r = ReadMemberRecord(source, MemberReadOptions(), &header);
    if (r.status == FormatStatus::kEndOfArchive) {
      v.end_volume = source.index();
      break;
    }
    if (r.status == FormatStatus::kVolumeContinuation) {
      if (!source.AtEnd() || source.index() + 1 == files.size()) {
        v.error = "VOLUME_CONTINUATION that does not end a volume";
        return v;
      }
      ++v.markers;
      continue;
    }
    if (!r.ok()) {
      v.error = "member: " + r.message + " " + r.log;
      return v;
    }
    if (source.index() != start) {
      v.error = "a member header split across volumes: " + header.name;
      return v;
    }
    Bytes data(static_cast<size_t>(MemberDataSize(header, false)));
    size_t got = 0;
    source.Read(data.data(), data.size(), &got);
    if (got != data.size()) {
      v.error = "member data cut short: " + header.name;
      return v;
    }
    if (source.index() != start) ++v.data_crossings;
    v.header_volume.push_back(start);
    v.members.emplace_back(header.name, std::move(data));
  }
  if (source.Remaining() != 0) {
    v.error = "bytes after the end marker";
    return v;
  }
  v.ok = true;
  return v;
}

class VolumesWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    if (tp_.MachineFolder().empty()) GTEST_SKIP() << "removable disks of the emulated machine";
    ResetLogState();
    SetLoggingSetting(0);
    Platform& p = tp_.Get();
    stub_ = tp_.Scratch() + "\\full.dat";
    stub_bytes_ = Noise(FULL_STUB_SIZE, 99);
    WriteFile(p.files, stub_, stub_bytes_);
    ScopedRegKey key(p.registry);
    ASSERT_EQ(p.registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(),
                                   nullptr),
              kErrorSuccess);
    ASSERT_EQ(p.registry.SetString(key.Get(), "datafile", stub_), kErrorSuccess);
  }
  void TearDown() override {
    engine_.reset();
    ResetLogState();
  }

  // Adds A: with capacity bytes and disks disks (disk 1 in the drive) and
  // opens the machine again so that it sees the drive.
  void MakeDrive(uint64_t capacity, int disks) {
    const std::string machine = tp_.MachineFolder();
    std::string section = Format("\n[Drive A]\nType=removable\nCapacity=%llu\n",
                                 static_cast<unsigned long long>(capacity));
    for (int i = 1; i <= disks; ++i) {
      const std::string folder = Format("%s/disk%d", machine.c_str(), i);
      ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0) << folder;
      section += Format("Media%d=%s\n", i, folder.c_str());
    }
    section += "CurrentMedia=1\n";
    FILE* f = std::fopen((machine + "/machine.ini").c_str(), "a");
    ASSERT_TRUE(f != nullptr);
    std::fputs(section.c_str(), f);
    std::fclose(f);
    std::string error;
    host_ = OpenHostPlatform(&error);
    ASSERT_TRUE(host_) << error;
    Platform& p = host_->Get();
    ASSERT_TRUE(p.disks != nullptr);
    platform_ = std::make_unique<Platform>(Platform{p.files, p.registry, p.processes,
                                                    p.environment, clock_, p.terminal, p.shell,
                                                    p.disks});
    ui_.disks = p.disks;
  }
  void SetUserValue(const char* name, const std::string& value) {
    Registry& reg = tp_.Get().registry;
    ScopedRegKey key(reg);
    ASSERT_EQ(reg.CreateKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kAll, key.Out(), nullptr),
              kErrorSuccess);
    ASSERT_EQ(reg.SetString(key.Get(), name, value), kErrorSuccess);
  }
  std::string UserValue(const char* name) {
    Registry& reg = tp_.Get().registry;
    ScopedRegKey key(reg);
    std::string value = "(missing)";
    if (reg.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead, key.Out()) ==
        kErrorSuccess) {
      reg.GetString(key.Get(), name, &value);
    }
    return value;
  }

  static void WriteFile(FileSystem& files, const std::string& path, const Bytes& bytes) {
    auto f = files.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f) << path;
    if (!bytes.empty()) {
      ASSERT_TRUE(f->Write(bytes.data(), bytes.size()));
    }
  }
  // The bytes of a file on disk number disk of A: (empty when missing).
  Bytes OnDisk(int disk, const std::string& name) {
    Bytes out;
    const std::string path = Format("%s/disk%d/%s", tp_.MachineFolder().c_str(), disk,
                                    name.c_str());
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    std::fclose(f);
    return out;
  }
  bool ExistsOnDisk(int disk, const std::string& name) {
    struct stat st;
    return ::stat(Format("%s/disk%d/%s", tp_.MachineFolder().c_str(), disk, name.c_str()).c_str(),
                  &st) == 0;
  }
  // Fills disk number disk with a file of size bytes.
  void Fill(int disk, uint64_t size) {
    const std::string path = Format("%s/disk%d/filler.bin", tp_.MachineFolder().c_str(), disk);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f != nullptr);
    const Bytes zeros(static_cast<size_t>(size));
    std::fwrite(zeros.data(), 1, zeros.size(), f);
    std::fclose(f);
  }
  // Source files on C: of the given sizes, named f0.bin, f1.bin, ...
  std::vector<std::pair<std::string, Bytes>> Sources(const std::vector<size_t>& sizes) {
    std::vector<std::pair<std::string, Bytes>> out;
    for (size_t i = 0; i < sizes.size(); ++i) {
      const std::string path = Format("%s\\f%d.bin", tp_.Scratch().c_str(), static_cast<int>(i));
      Bytes bytes = Noise(sizes[i], static_cast<uint32_t>(i + 1));
      WriteFile(tp_.Get().files, path, bytes);
      out.emplace_back(path, std::move(bytes));
    }
    return out;
  }
  ArchiveEngine& NewEngine() {
    engine_ = std::make_unique<ArchiveEngine>(*platform_, ui_);
    engine_->log().set_silent(true);
    return *engine_;
  }
  // Writes the sources under their names onto A:\out.exe; the result of
  // each step.
  struct Run {
    bool created = false;
    std::vector<bool> added;
    bool closed = false;
  };
  Run Build(const std::vector<std::pair<std::string, Bytes>>& sources, const char* options = "-Z") {
    Run run;
    ArchiveEngine& e = NewEngine();
    e.SetOptions(options);
    run.created = e.CreateArchive("A:\\out.exe");
    if (!run.created) return run;
    for (size_t i = 0; i < sources.size(); ++i) {
      run.added.push_back(e.AddFile(sources[i].first, Format("f%d.bin", static_cast<int>(i))));
    }
    run.closed = e.CloseArchive();
    return run;
  }
  // The volumes as the disks hold them: out.exe on disk 1, out.exe-N on
  // disk N+1.
  std::vector<Bytes> VolumeFiles(int count) {
    std::vector<Bytes> out;
    for (int i = 0; i < count; ++i) {
      out.push_back(OnDisk(i + 1, i == 0 ? "out.exe" : Format("out.exe-%d", i)));
    }
    return out;
  }
  void ExpectMembers(const Volumes& v, const std::vector<std::pair<std::string, Bytes>>& sources) {
    ASSERT_TRUE(v.ok) << v.error;
    ASSERT_EQ(v.members.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
      EXPECT_EQ(v.members[i].first, Format("f%d.bin", static_cast<int>(i)));
      EXPECT_TRUE(v.members[i].second == sources[i].second) << "member " << i;
    }
  }

  test::TestPlatform tp_;
  std::unique_ptr<HostPlatform> host_;
  std::unique_ptr<Platform> platform_;
  QuietClock clock_;
  DiskUi ui_;
  std::string stub_;
  Bytes stub_bytes_;
  std::unique_ptr<ArchiveEngine> engine_;
};

TEST_F(VolumesWriteTest, SoftModeFillsEachDiskAndGoesOnWithoutSplittingABlock) {
  MakeDrive(kFloppy, 4);
  // About 2.9 MB that does not compress: three disks with the stub on the
  // first. The 600,000-byte members cannot fit in what a disk has left, so
  // their data crosses from one volume to the next.
  auto sources = Sources({600000, 600000, 600000, 100, 600000, 0, 500000});
  ui_.answers = {{kIdOk, 2}, {kIdOk, 3}};
  Run run = Build(sources);
  ASSERT_TRUE(run.created);
  for (bool added : run.added) EXPECT_TRUE(added);
  EXPECT_TRUE(run.closed);
  EXPECT_EQ(ui_.asked, (std::vector<std::string>{"write disk 2", "write disk 3"}));
  EXPECT_EQ(clock_.slept, 2u * 2000u) << "a pause after each disk change, on the platform's clock";
  EXPECT_EQ(engine_->completed_volumes(), 3);
  EXPECT_EQ(UserValue("BlockSize"), "0") << "the defaults are written when missing";
  EXPECT_EQ(UserValue("SoftEOM"), "1");
  EXPECT_FALSE(ExistsOnDisk(4, "out.exe-3"));

  std::vector<Bytes> files = VolumeFiles(3);
  const int64_t first_free = static_cast<int64_t>(kFloppy) - FULL_STUB_SIZE - 512;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    // Nothing of the reserve is used, and a block that would not fit whole
    // goes to the next disk: each full volume leaves less than a block plus
    // the reserve unused.
    const int64_t room = i == 0 ? first_free + FULL_STUB_SIZE : static_cast<int64_t>(kFloppy) - 512;
    EXPECT_LE(static_cast<int64_t>(files[i].size()), room);
    if (i + 1 < files.size()) {
      EXPECT_GT(static_cast<int64_t>(files[i].size()), room - 1024 - 100);
    }
  }
  EXPECT_TRUE(std::equal(stub_bytes_.begin(), stub_bytes_.end(), files[0].begin()));
  Volumes v = DecodeVolumes(files, FULL_STUB_SIZE);
  ExpectMembers(v, sources);
  EXPECT_EQ(v.id.block_size, 1024) << "1024 on a disk of at most 5,120,000 bytes";
  EXPECT_EQ(v.id.block_count, 0) << "no counts for an archive on several volumes";
  EXPECT_EQ(v.id.file_count, 0);
  EXPECT_GE(v.data_crossings, 1);
  EXPECT_EQ(v.end_volume, 2u);
}

TEST_F(VolumesWriteTest, HeaderThatDoesNotFitEndsTheVolumeWithTheMarker) {
  MakeDrive(kFloppy, 3);
  // The header records of an archive, measured on an empty one: the stub,
  // then they, then the 4-byte end marker.
  Run empty = Build({});
  ASSERT_TRUE(empty.closed);
  const int64_t records = static_cast<int64_t>(OnDisk(1, "out.exe").size()) - FULL_STUB_SIZE - 4;
  // Disk 1 is filled so that the first member's data fits but the second
  // member's header (counted as its name + 65 bytes before it is written)
  // does not: 30 bytes are left before the reserve. The first member's
  // header was counted twice (its name + 65, then the 39 bytes written).
  const int64_t first_member = 40000;
  auto sources = Sources({static_cast<size_t>(first_member), 3000});
  const int64_t counted = records + (6 + 65) + 39 + first_member;
  const int64_t media_free = counted + 30;
  Fill(1, kFloppy - static_cast<uint64_t>(FULL_STUB_SIZE + media_free + 512));
  ui_.answers = {{kIdOk, 2}};
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  std::vector<Bytes> files = VolumeFiles(2);
  Volumes v = DecodeVolumes(files, FULL_STUB_SIZE);
  ExpectMembers(v, sources);
  EXPECT_EQ(v.markers, 1);
  EXPECT_EQ(v.data_crossings, 0);
  EXPECT_EQ(v.header_volume, (std::vector<size_t>{0, 1}));
  ASSERT_GE(files[1].size(), 4u);
  EXPECT_EQ(files[1][0] | files[1][1] << 8 | files[1][2] << 16 | static_cast<uint32_t>(files[1][3]) << 24,
            MAGIC)
      << "the continuation file starts with the member record";
}

TEST_F(VolumesWriteTest, HardModeWritesUntilTheDiskIsFullAndMeasuresFromThenOn) {
  MakeDrive(kFloppy, 3);
  SetUserValue("SoftEOM", "0");
  SetUserValue("BlockSize", "4096");
  auto sources = Sources({900000, 900000, 40});
  ui_.answers = {{kIdOk, 2}, {kIdOk, 3}};
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  EXPECT_EQ(ui_.asked, (std::vector<std::string>{"write disk 2"}));
  std::vector<Bytes> files = VolumeFiles(2);
  // Hard mode fills the first disk to its last whole block.
  EXPECT_GT(files[0].size(), kFloppy - 4096);
  EXPECT_LE(files[0].size(), kFloppy);
  Volumes v = DecodeVolumes(files, FULL_STUB_SIZE);
  ExpectMembers(v, sources);
  EXPECT_EQ(v.id.block_size, 4096) << "the block size as set";
  EXPECT_EQ(v.data_crossings, 1);
  EXPECT_EQ(engine_->completed_volumes(), 2);
}

TEST_F(VolumesWriteTest, BlockSizeDefaultsBySizeAndMode) {
  // A 20 MB drive: blocks of 10240 bytes and a reserve of 2048.
  MakeDrive(20000000, 1);
  SetLoggingSetting(1);
  std::string temp;
  ASSERT_TRUE(platform_->environment.Get("TEMP", &temp));
  auto sources = Sources({30000});
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  EXPECT_EQ(engine_->completed_volumes(), 1);
  Volumes v = DecodeVolumes(VolumeFiles(1), FULL_STUB_SIZE);
  ExpectMembers(v, sources);
  EXPECT_EQ(v.id.block_size, 10240);
  EXPECT_EQ(v.id.block_count, 3) << "one volume: the counts are patched";
  EXPECT_EQ(v.id.file_count, 1);
  std::string log;
  {
    Bytes b;
    auto f = tp_.Get().files.Open(temp + "\\Cratex.log", kAccessRead, kShareRead | kShareWrite,
                                  Disposition::kOpenExisting);
    ASSERT_TRUE(f);
    uint8_t buffer[4096];
    size_t got = 0;
    while (f->Read(buffer, sizeof buffer, &got) && got > 0) log.append(reinterpret_cast<char*>(buffer), got);
  }
  EXPECT_NE(log.find(Format("(output to removable media, blksize=10240 SoftEOM mediasize=20000000 "
                            "mediafree=%d)\n",
                            static_cast<int>(20000000 - FULL_STUB_SIZE - 2048))),
            std::string::npos)
      << log;

  // Hard mode applies no default by size: a BlockSize of 0 writes blocks
  // of 1024 bytes.
  SetUserValue("SoftEOM", "0");
  run = Build(sources);
  ASSERT_TRUE(run.closed);
  v = DecodeVolumes(VolumeFiles(1), FULL_STUB_SIZE);
  ExpectMembers(v, sources);
  EXPECT_EQ(v.id.block_size, 1024);
  EXPECT_EQ(v.id.block_count, 30);
  // The engine's own block size is back after the archive.
  EXPECT_EQ(engine_->block_size(), kDefaultBlockSize);
}

TEST_F(VolumesWriteTest, AFullOrMissingDiskIsRefusedUntilAGoodOneComes) {
  MakeDrive(kFloppy, 4);
  // Disk 2 has only 4 KB free; disk 3 is not a disk at all (0 = empty
  // drive comes first); disk 4 is good.
  Fill(2, kFloppy - 4096);
  auto sources = Sources({800000, 800000});
  ui_.answers = {{kIdOk, 2},   // the disk dialog: disk 2 goes in
                 {kIdOk, 0},   // "Not enough free space": pressed without changing the disk
                 {kIdOk, 4}};  // "Not enough free space" again: disk 4 this time
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  EXPECT_EQ(ui_.asked,
            (std::vector<std::string>{"write disk 2",
                                      "Not enough free space on this disk.\nInsert a new disk or "
                                      "Cancel",
                                      "Not enough free space on this disk.\nInsert a new disk or "
                                      "Cancel"}));
  EXPECT_FALSE(ExistsOnDisk(2, "out.exe-1")) << "the new file on the full disk is deleted";
  std::vector<Bytes> files = {OnDisk(1, "out.exe"), OnDisk(4, "out.exe-1")};
  ExpectMembers(DecodeVolumes(files, FULL_STUB_SIZE), sources);

  // No disk in the drive: the drive is not ready until one comes.
  ASSERT_TRUE(platform_->disks->InsertDisk('A', 1));
  ui_.asked.clear();
  ui_.answers = {{kIdOk, -1}, {kIdOk, 3}};
  run = Build(sources);
  ASSERT_TRUE(run.closed);
  EXPECT_EQ(ui_.asked, (std::vector<std::string>{"write disk 2",
                                                 "DRIVE NOT READY (or disk full)\nRetry or Cancel"}));
  files = {OnDisk(1, "out.exe"), OnDisk(3, "out.exe-1")};
  ExpectMembers(DecodeVolumes(files, FULL_STUB_SIZE), sources);
}

TEST_F(VolumesWriteTest, CancelAtEachPromptFailsAndLeavesNoFirstVolume) {
  MakeDrive(kFloppy, 3);
  Fill(2, kFloppy - 4096);
  auto sources = Sources({800000, 800000, 100});
  const std::string cancelled = "You have chosen to cancel the archive.";
  const std::string no_room = "Not enough free space on this disk.\nInsert a new disk or Cancel";
  const std::string not_ready = "DRIVE NOT READY (or disk full)\nRetry or Cancel";
  struct Case {
    std::deque<DiskUi::Answer> answers;
    std::vector<std::string> asked;
  };
  const Case cases[] = {
      // The disk dialog: disk 1 is still in the drive.
      {{{kIdCancel, 0}}, {"write disk 2", cancelled}},
      // The full disk 2.
      {{{kIdOk, 2}, {kIdCancel, 0}}, {"write disk 2", no_room}},
      // No disk in the drive.
      {{{kIdOk, -1}, {kIdCancel, 0}}, {"write disk 2", not_ready}},
  };
  for (size_t c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    ASSERT_TRUE(platform_->disks->InsertDisk('A', 1));
    ui_.asked.clear();
    ui_.answers = cases[c].answers;
    Run run = Build(sources);
    ASSERT_TRUE(run.created);
    ASSERT_EQ(run.added.size(), 3u);
    EXPECT_TRUE(run.added[0]);
    EXPECT_FALSE(run.added[1]) << "the member that needed the next disk fails";
    EXPECT_FALSE(run.added[2]) << "and nothing more is written";
    EXPECT_FALSE(run.closed);
    EXPECT_EQ(ui_.asked, cases[c].asked);
    EXPECT_EQ(engine_->completed_volumes(), 0);
    EXPECT_FALSE(ExistsOnDisk(2, "out.exe-1"));
    EXPECT_FALSE(ExistsOnDisk(3, "out.exe-1"));
    // Whatever stays on disk 1 is no archive a reader could finish.
    if (c == 0) {
      EXPECT_FALSE(ExistsOnDisk(1, "out.exe")) << "the first volume is deleted";
    } else {
      EXPECT_FALSE(DecodeVolumes({OnDisk(1, "out.exe")}, FULL_STUB_SIZE).ok);
    }
  }
}

TEST_F(VolumesWriteTest, WithoutADiskDialogAMessageBoxAsksForTheDisk) {
  MakeDrive(kFloppy, 2);
  ui_.has_dialog = false;
  auto sources = Sources({800000, 800000});
  ui_.answers = {{kIdOk, 2}};
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  ASSERT_EQ(ui_.asked.size(), 1u);
  EXPECT_EQ(ui_.asked[0],
            "Cratex - Disk Full: The end of the disk has been reached. Please insert a new disk "
            "in the appropriate drive\n\nINSERT DISK NUMBER  2");
  ExpectMembers(DecodeVolumes(VolumeFiles(2), FULL_STUB_SIZE), sources);
}

// The machine's disk changes: kept for later programs, refused for a
// drive or disk that does not exist.
TEST_F(VolumesWriteTest, DiskChangesAreKeptInTheMachineSettings) {
  MakeDrive(kFloppy, 3);
  DiskChanger& disks = *platform_->disks;
  EXPECT_TRUE(disks.InsertDisk(0, 3));
  EXPECT_TRUE(disks.InsertDisk('a', 2));
  std::string error;
  std::unique_ptr<HostPlatform> again = OpenHostPlatform(&error);
  ASSERT_TRUE(again) << error;
  WriteFile(platform_->files, "A:\\two.txt", Bytes{'2'});
  EXPECT_TRUE(ExistsOnDisk(2, "two.txt")) << "disk 2 is in the drive";
  EXPECT_NE(again->Get().files.GetAttributes("A:\\two.txt"), kInvalidAttributes)
      << "a program started afterwards finds disk 2 in the drive";
  EXPECT_FALSE(disks.InsertDisk('B', 1));
  EXPECT_EQ(LastError(), static_cast<uint32_t>(kErrorInvalidParameter));
  EXPECT_FALSE(disks.InsertDisk(0, 4));
  EXPECT_TRUE(disks.InsertDisk('A', 0));
  EXPECT_EQ(platform_->files.GetAttributes("A:\\two.txt"), kInvalidAttributes);
  EXPECT_EQ(LastError(), static_cast<uint32_t>(kErrorNotReady)) << "no disk in the drive";
  FILE* f = std::fopen((tp_.MachineFolder() + "/machine.ini").c_str(), "r");
  ASSERT_TRUE(f != nullptr);
  char buffer[8192];
  const size_t n = std::fread(buffer, 1, sizeof buffer, f);
  std::fclose(f);
  EXPECT_NE(std::string(buffer, n).find("CurrentMedia=0"), std::string::npos);
}

// The builder's verification of an archive on several disks: it asks for
// the first disk and for another one until the first volume opens.
TEST_F(VolumesWriteTest, VerificationAsksForTheFirstDisk) {
  MakeDrive(kFloppy, 2);
  auto sources = Sources({800000, 800000});
  ui_.answers = {{kIdOk, 2}};
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  ASSERT_EQ(engine_->completed_volumes(), 2);
  const std::string insert_first =
      "VERIFY ARCHIVE...\n\nThis is a multi-volume archive.\nPlease insert the 1st volume so "
      "verification can begin.\n(Click cancel to skip verification.)";
  const uint32_t slept = clock_.slept;

  // Cancel skips the verification.
  ui_.asked.clear();
  ui_.answers = {{kIdCancel, 0}};
  EXPECT_TRUE(builder::VerifyArchive(*engine_, ui_, "A:\\out.exe", "Cratex"));
  EXPECT_EQ(ui_.asked, std::vector<std::string>{insert_first});
  EXPECT_EQ(clock_.slept, slept);

  // No disk, then the wrong disk: asked again each time, until Cancel.
  ui_.asked.clear();
  ui_.answers = {{kIdOk, -1}, {kIdOk, 2}, {kIdCancel, 0}};
  EXPECT_FALSE(builder::VerifyArchive(*engine_, ui_, "A:\\out.exe", "Cratex"));
  ASSERT_EQ(ui_.asked.size(), 3u);
  EXPECT_EQ(ui_.asked[0], insert_first);
  EXPECT_EQ(ui_.asked[1], "DRIVE NOT READY\nRetry or Cancel Verification");
  EXPECT_EQ(ui_.asked[2],
            "CAN'T FIND REQUIRED FILE ON MEDIA...\n'A:\\out.exe'\nRetry or Cancel Verification");
  EXPECT_EQ(clock_.slept, slept + 1000) << "a second for the drive before reading";
  EXPECT_FALSE(engine_->options().verify) << "the verify option is left as it was";
}

// Records the size of every read of a file on A:.
class ReadSizes : public test::ForwardingFileSystem {
 public:
  explicit ReadSizes(FileSystem& real) : ForwardingFileSystem(real) {}
  std::vector<std::pair<std::string, size_t>> reads;

  std::unique_ptr<File> Open(const std::string& p, uint32_t a, uint32_t s, Disposition d,
                             uint32_t attr) override {
    std::unique_ptr<File> file = ForwardingFileSystem::Open(p, a, s, d, attr);
    if (!file || p.compare(0, 3, "A:\\") != 0) return file;
    return std::make_unique<Recorded>(std::move(file), *this, p.substr(3));
  }

 private:
  class Recorded : public test::ForwardingFile {
   public:
    Recorded(std::unique_ptr<File> file, ReadSizes& owner, std::string name)
        : ForwardingFile(std::move(file)), owner_(owner), name_(std::move(name)) {}
    bool Read(void* b, size_t n, size_t* got) override {
      owner_.reads.emplace_back(name_, n);
      return ForwardingFile::Read(b, n, got);
    }

   private:
    ReadSizes& owner_;
    std::string name_;
  };
};

// Hard mode with a small block size set: the first member does not fit on
// the first disk, so the volume ends inside its data. Reading it back from
// the drive goes a block at a time from the first member on (only the
// headers come in one larger read) and joins the two parts.
TEST_F(VolumesWriteTest, FirstMemberAcrossTheFirstDiskIsReadBackABlockAtATime) {
  MakeDrive(kFloppy, 2);
  SetUserValue("SoftEOM", "0");
  SetUserValue("BlockSize", "512");
  auto sources = Sources({1400000, 3000});
  ui_.answers = {{kIdOk, 2}};
  Run run = Build(sources);
  ASSERT_TRUE(run.closed);
  std::vector<Bytes> files = VolumeFiles(2);
  Volumes v = DecodeVolumes(files, FULL_STUB_SIZE);
  ExpectMembers(v, sources);
  EXPECT_EQ(v.id.block_size, 512);
  EXPECT_EQ(v.data_crossings, 1);
  EXPECT_EQ(v.header_volume, (std::vector<size_t>{0, 1})) << "the second member on disk 2";

  ASSERT_TRUE(platform_->disks->InsertDisk('A', 1));
  ReadSizes sizes(platform_->files);
  Platform reading{sizes,           platform_->registry, platform_->processes,
                   platform_->environment, clock_, platform_->terminal, platform_->shell,
                   platform_->disks};
  ui_.asked.clear();
  ui_.answers = {{kIdOk, 2}};
  ArchiveEngine reader(reading, ui_);
  reader.log().set_silent(true);
  const std::string out = tp_.Scratch() + "\\back";
  ASSERT_TRUE(reader.ExtractArchive("A:\\out.exe", nullptr, out));
  reader.CloseArchive();
  EXPECT_EQ(ui_.asked, std::vector<std::string>{"read disk 2"});
  for (size_t i = 0; i < sources.size(); ++i) {
    Bytes back;
    auto f = tp_.Get().files.Open(Format("%s\\f%d.bin", out.c_str(), static_cast<int>(i)),
                                  kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(f) << i;
    uint8_t buffer[65536];
    size_t got = 0;
    while (f->Read(buffer, sizeof buffer, &got) && got > 0) back.insert(back.end(), buffer, buffer + got);
    EXPECT_TRUE(back == sources[i].second) << "member " << i;
  }
  int larger = 0;
  size_t data_reads = 0;
  for (const auto& [name, size] : sizes.reads) {
    if (size > 512) {
      ++larger;
      EXPECT_EQ(name, "out.exe") << "a continuation file is read in blocks";
    } else {
      ++data_reads;
    }
  }
  EXPECT_LE(larger, 1) << "only the read that fetched the headers";
  EXPECT_GT(data_reads, 1400000u / 512);
}

}  // namespace
}  // namespace crx
