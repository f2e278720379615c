// Reading archives that span several volume files: on a removable drive,
// where the reader asks for each disk, and as a set of files side by side
// on a fixed disk. The volumes are made here by cutting one archive where
// a writer that ran out of disk would have: inside a member's data (no
// marker) and before a member record that did not fit (VOLUME_CONTINUATION).
// The drive is a file system that shows only the files of the disk "in" it;
// the questions are answered by a script that may change the disk first.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/filetime.h"
#include "common/format.h"
#include "common/winpath.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/forwarding_file_system.h"
#include "support/reader_fixture.h"
#include "support/test_platform.h"
#include "ui/feedback.h"
#include "ui/feedback_hooks.h"

namespace crx {
namespace {

constexpr int32_t kBlock = 512;

// A removable drive whose disks are folders' worth of names: the files all
// lie in one folder, and only those of the disk in the drive can be opened.
class DiskDrive : public test::ForwardingFileSystem {
 public:
  DiskDrive(FileSystem& real, std::string folder)
      : ForwardingFileSystem(real), folder_(std::move(folder)) {}

  bool removable = true;
  int disk = 1;  // 0: no disk in the drive
  std::map<std::string, int> disk_of;  // file name -> its disk
  std::string failing;  // a file whose reads fail with a CRC error
  // With record_reads: every read of a file on the drive (name, bytes asked).
  bool record_reads = false;
  std::vector<std::pair<std::string, size_t>> reads;

  class RecordingFile : public test::ForwardingFile {
   public:
    RecordingFile(std::unique_ptr<File> file, DiskDrive& drive, std::string name)
        : ForwardingFile(std::move(file)), drive_(drive), name_(std::move(name)) {}
    bool Read(void* b, size_t n, size_t* got) override {
      drive_.reads.emplace_back(name_, n);
      return ForwardingFile::Read(b, n, got);
    }

   private:
    DiskDrive& drive_;
    std::string name_;
  };

  class FailingFile : public test::ForwardingFile {
   public:
    using ForwardingFile::ForwardingFile;
    bool Read(void*, size_t, size_t* got) override {
      *got = 0;
      SetLastError(23);
      return false;
    }
  };

  std::unique_ptr<File> Open(const std::string& p, uint32_t a, uint32_t s, Disposition d,
                             uint32_t attr) override {
    if (p.size() > folder_.size() && p.compare(0, folder_.size() + 1, folder_ + "\\") == 0) {
      const std::string name = p.substr(folder_.size() + 1);
      if (removable && disk == 0) {
        SetLastError(kErrorNotReady);
        return nullptr;
      }
      auto it = disk_of.find(name);
      if (removable && it != disk_of.end() && it->second != disk) {
        SetLastError(kErrorFileNotFound);
        return nullptr;
      }
    }
    std::unique_ptr<File> file = ForwardingFileSystem::Open(p, a, s, d, attr);
    if (file && p == failing) return std::make_unique<FailingFile>(std::move(file));
    if (file && record_reads && p.size() > folder_.size()) {
      return std::make_unique<RecordingFile>(std::move(file), *this,
                                             p.substr(folder_.size() + 1));
    }
    return file;
  }
  DriveType GetDriveType(const std::string& root) override {
    if (removable && winpath::Root(folder_) == root) return DriveType::kRemovable;
    return ForwardingFileSystem::GetDriveType(root);
  }

 private:
  std::string folder_;
};

// A clock whose Sleep only adds up the time asked for.
class WaitingClock : public Clock {
 public:
  explicit WaitingClock(Clock& real) : real_(real) {}
  SystemTime UtcNow() override { return real_.UtcNow(); }
  SystemTime LocalNow() override { return real_.LocalNow(); }
  uint32_t TickCount() override { return real_.TickCount(); }
  void Sleep(uint32_t milliseconds) override { slept += milliseconds; }
  uint32_t slept = 0;

 private:
  Clock& real_;
};

// One scripted answer: the button, and the disk put in before pressing it
// (-1: the disk stays).
struct Answer {
  int button = kIdOk;
  int insert = -1;
};

// Every question and every animation change, in order, in one event list.
class Events : public UserInterface, public EngineHooks {
 public:
  explicit Events(DiskDrive& drive) : drive_(drive) {}
  std::vector<std::string> events;  // "box:<caption>|<text>", "animate:0/1", "open:<title>"...
  std::vector<std::string> texts;
  std::deque<Answer> answers;

  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    (void)flags;
    events.push_back("box:" + caption + "|" + text);
    texts.push_back(text);
    if (answers.empty()) return kIdOk;
    const Answer a = answers.front();
    answers.pop_front();
    if (a.insert >= 0) drive_.disk = a.insert;
    return a.button;
  }
  void Animate(bool on) override { events.push_back(on ? "animate:on" : "animate:off"); }
  bool Has(const std::string& part) const {
    for (const std::string& t : texts) {
      if (t.find(part) != std::string::npos) return true;
    }
    return false;
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const std::string& t : texts) n += t.find(part) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
  DiskDrive& drive_;
};

struct Member {
  std::string name;
  std::string data;
  bool compressed = false;
  FileTime modified = UnixToFileTime(1650000000);
};

std::string Pattern(size_t size, int seed) {
  std::string s(size, '\0');
  uint32_t x = 2463534242u + static_cast<uint32_t>(seed);
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

Bytes MemberBytes(const Member& m) {
  return test::EncodedMember(m.name, m.data, m.compressed, m.modified);
}

class VolumesReadTest : public test::ReaderFixture {
 protected:
  void SetUp() override {
    ReaderFixture::SetUp();
    if (HasFatalFailure()) return;
    Platform& real = tp_.Get();
    drive_folder_ = tp_.Scratch() + "\\drive";
    ASSERT_TRUE(real.files.CreateFolder(drive_folder_));
    drive_ = std::make_unique<DiskDrive>(real.files, drive_folder_);
    clock_ = std::make_unique<WaitingClock>(real.clock);
    platform_ = std::make_unique<Platform>(Platform{*drive_, real.registry, real.processes,
                                                    real.environment, *clock_, real.terminal,
                                                    real.shell});
    events_ = std::make_unique<Events>(*drive_);
    archive_ = drive_folder_ + "\\setup.exe";
  }

  std::unique_ptr<ArchiveEngine> NewEngine() {
    auto engine = std::make_unique<ArchiveEngine>(*platform_, *events_);
    engine->set_hooks(events_.get());
    return engine;
  }

  // Names in a folder of the real file system.
  std::vector<std::string> Names(const std::string& folder) {
    return test::FolderNames(tp_.Get().files, folder);
  }

  // Four volumes, as a writer would leave them:
  //   setup.exe    stub, headers, "a" (stored) and the first part of its data
  //   setup.exe-1  the rest of a's data, then VOLUME_CONTINUATION ("b"'s
  //                record did not fit)
  //   setup.exe-2  b's record (compressed) and the first part of its data
  //   setup.exe-3  the rest of b's data, the empty "c", END_OF_ARCHIVE
  // The counts stay 0, as after a switch.
  void WriteVolumes() {
    members_ = {{"C:\\src\\a.bin", Pattern(3000, 1)},
                {"C:\\src\\b.txt", Pattern(200, 2) + std::string(20000, 'b'), true,
                 UnixToFileTime(1600000000)},
                {"C:\\src\\c.txt", "", false, UnixToFileTime(1500000000)}};
    IdentificationRecord id;
    id.block_size = kBlock;
    Bytes head;
    AppendIdentificationRecord(id, &head);
    AppendTypeRecord(TypeRecord{}, &head);
    const Bytes a = MemberBytes(members_[0]);
    const Bytes b = MemberBytes(members_[1]);
    const Bytes c = MemberBytes(members_[2]);

    Bytes v1(static_cast<size_t>(FULL_STUB_SIZE), 0);
    v1.insert(v1.end(), head.begin(), head.end());
    const size_t a_cut = a.size() - 1100;  // leaves 1100 of a's 3000 data bytes
    v1.insert(v1.end(), a.begin(), a.begin() + static_cast<ptrdiff_t>(a_cut));
    Bytes v2(a.begin() + static_cast<ptrdiff_t>(a_cut), a.end());
    AppendVolumeContinuation(&v2);
    const size_t b_cut = b.size() - 150;
    Bytes v3(b.begin(), b.begin() + static_cast<ptrdiff_t>(b_cut));
    Bytes v4(b.begin() + static_cast<ptrdiff_t>(b_cut), b.end());
    v4.insert(v4.end(), c.begin(), c.end());
    AppendEndOfArchive(&v4);

    const std::vector<Bytes> volumes = {v1, v2, v3, v4};
    for (size_t i = 0; i < volumes.size(); ++i) {
      const std::string name = i == 0 ? "setup.exe" : Format("setup.exe-%d", static_cast<int>(i));
      WriteBytes(drive_folder_ + "\\" + name, volumes[i]);
      drive_->disk_of[name] = static_cast<int>(i) + 1;
    }
    drive_->disk = 1;
  }

  void ExpectAllExtracted(ArchiveEngine& engine) {
    for (const Member& m : members_) {
      const std::string path = Out(winpath::LastElement(m.name));
      EXPECT_EQ(ReadText(path, kShareRead), m.data) << path;
      FileTime time = 0;
      EXPECT_TRUE(tp_.Get().files.GetLastWriteTime(path, &time));
      EXPECT_EQ(time, m.modified) << path;
    }
    for (const MemberEntry& e : engine.members()) EXPECT_EQ(e.status, kMemberExtracted) << e.name;
  }

  std::unique_ptr<DiskDrive> drive_;
  std::unique_ptr<WaitingClock> clock_;
  std::unique_ptr<Platform> platform_;
  std::unique_ptr<Events> events_;
  std::vector<Member> members_;
  std::string drive_folder_;
};

const char kDiskText[] =
    "The end of the disk has been reached. Please insert a new disk in the appropriate drive";

TEST_F(VolumesReadTest, ExtractsAcrossDisksAskingForEachInTurn) {
  WriteVolumes();
  auto engine = NewEngine();
  events_->answers = {{kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ExpectAllExtracted(*engine);

  // Each disk is asked for by number, with the animation stopped meanwhile;
  // data that ran on waits for the drive, a marker does not.
  const std::vector<std::string> expected = {
      "animate:off", std::string("box:Cratex - End Of Disk|") + kDiskText + "\n\nINSERT DISK NUMBER  2",
      "animate:on",  "animate:off",
      std::string("box:Cratex - End Of Disk|") + kDiskText + "\n\nINSERT DISK NUMBER  3",
      "animate:on",  "animate:off",
      std::string("box:Cratex - End Of Disk|") + kDiskText + "\n\nINSERT DISK NUMBER  4",
      "animate:on"};
  EXPECT_EQ(events_->events, expected);
  EXPECT_EQ(clock_->slept, 4000u);

  // Verification reads the same way and writes nothing.
  events_->events.clear();
  events_->texts.clear();
  drive_->disk = 1;
  events_->answers = {{kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  engine->SetOptions("+V");
  const std::string verify_out = tp_.Scratch() + "\\verify";
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, verify_out));
  engine->CloseArchive();
  EXPECT_EQ(events_->Count("INSERT DISK NUMBER"), 3);
  EXPECT_TRUE(Names(verify_out).empty());
}

TEST_F(VolumesReadTest, ListingAsksToGoOnWalksEveryDiskAndWantsTheFirstBack) {
  WriteVolumes();
  auto engine = NewEngine();
  events_->answers = {{kIdNo, -1}};
  EXPECT_FALSE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_EQ(engine->identification().file_count, kListCancelledByUser);
  ASSERT_EQ(events_->texts.size(), 1u) << "declining asks nothing more";
  EXPECT_EQ(events_->texts[0],
            "INFORMATION\nThis is a removable media archive.It may span multiple volumes.\n\n"
            "Do you want to continue to list it?");
  EXPECT_TRUE(engine->members().empty());

  events_->events.clear();
  events_->texts.clear();
  events_->answers = {{kIdYes, -1}, {kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  ASSERT_EQ(engine->members().size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(engine->members()[i].name, members_[i].name);
    EXPECT_EQ(engine->members()[i].size, static_cast<int32_t>(members_[i].data.size()));
  }
  EXPECT_TRUE(Names(out_).empty());
  // The first volume is asked back at the end, with the animation stopped.
  const auto& ev = events_->events;
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[ev.size() - 3], "animate:off");
  EXPECT_EQ(ev[ev.size() - 2],
            "box:Cratex|List operation completed.\n\nRE-INSERT THE FIRST VOLUME OF THE ARCHIVE");
  EXPECT_EQ(events_->Count("INSERT DISK NUMBER"), 3);

  // A fixed disk asks nothing at all.
  events_->texts.clear();
  drive_->removable = false;
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_TRUE(events_->texts.empty());
}

TEST_F(VolumesReadTest, WrongOrMissingDiskIsAskedForAgainUntilRight) {
  WriteVolumes();
  auto engine = NewEngine();
  // Disk 2 wanted for data: disk 4 first, then no disk, then the right one.
  // Then disk 3 wanted after a marker: disk 1, no disk, then the right one.
  // Disk 4 goes in at once.
  events_->answers = {{kIdOk, 4}, {kIdOk, 0}, {kIdOk, 2},              //
                      {kIdOk, 1}, {kIdOk, 0}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ExpectAllExtracted(*engine);
  const std::string one = archive_ + "-1", two = archive_ + "-2";
  const std::vector<std::string> expected = {
      std::string(kDiskText) + "\n\nINSERT DISK NUMBER  2",
      "Incorrect Volume in drive\n\nInsert volume containing continuation archive,\n"
      "required filename = '" + one + "'",
      "DRIVE NOT READY\nRetry or Cancel",
      std::string(kDiskText) + "\n\nINSERT DISK NUMBER  3",
      "Incorrect Volume in drive\n\nInsert volume containg continuation archive,\n"
      "required filename: '" + two + "'",
      "Incorrect Volume in drive\n\nInsert volume containg continuation archive,\n"
      "required filename: '" + two + "'",
      std::string(kDiskText) + "\n\nINSERT DISK NUMBER  4"};
  EXPECT_EQ(events_->texts, expected);

  // Skipping data while listing asks with its own spelling.
  events_->texts.clear();
  drive_->disk = 1;
  events_->answers = {{kIdYes, -1}, {kIdOk, 3}, {kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  ASSERT_GE(events_->texts.size(), 3u);
  EXPECT_EQ(events_->texts[2], "Incorrect Volume in drive\n\nInsert volume containg continuation "
                               "archive,\nrequired filename = '" + one + "'");
  EXPECT_EQ(engine->members().size(), 3u);
}

TEST_F(VolumesReadTest, CancelAtAnyPromptEndsCleanly) {
  WriteVolumes();
  struct Case {
    std::deque<Answer> answers;
    const char* cancelled;  // the message that follows, if any
    std::vector<std::string> written;  // complete files left in out\src
  };
  const std::vector<Case> cases = {
      // At the disk wanted for a's data, and at the wrong-disk question.
      {{{kIdCancel, -1}}, "You have chosen to cancel extracting the archive.", {}},
      {{{kIdOk, 3}, {kIdCancel, -1}}, nullptr, {}},
      {{{kIdOk, 0}, {kIdCancel, -1}}, nullptr, {}},
      // At the disk wanted after the marker: a is done.
      {{{kIdOk, 2}, {kIdCancel, -1}}, "You have chosen to cancel reading the archive.", {"a.bin"}},
      {{{kIdOk, 2}, {kIdOk, 1}, {kIdCancel, -1}}, nullptr, {"a.bin"}},
      // At the disk wanted for b's data.
      {{{kIdOk, 2}, {kIdOk, 3}, {kIdCancel, -1}},
       "You have chosen to cancel extracting the archive.",
       {"a.bin"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "answers: " << c.answers.size());
    for (const std::string& n : Names(out_ + "\\src")) tp_.Get().files.DeleteFile(Out(n));
    drive_->disk = 1;
    auto engine = NewEngine();
    // Listed first, so each member has an entry whose status shows.
    events_->answers = {{kIdYes, -1}, {kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
    ASSERT_TRUE(engine->ListArchive(archive_));
    engine->CloseArchive();
    events_->texts.clear();
    drive_->disk = 1;
    events_->answers = c.answers;
    EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
    engine->CloseArchive();
    EXPECT_EQ(Names(out_ + "\\src"), c.written) << "nothing half written stays";
    if (c.cancelled != nullptr) {
      EXPECT_EQ(events_->texts.back(), c.cancelled);
    }
    EXPECT_FALSE(events_->Has("Couldn't read full extent")) << "a cancel is no damage";
    for (const MemberEntry& e : engine->members()) {
      const bool done = std::find(c.written.begin(), c.written.end(),
                                  winpath::LastElement(e.name)) != c.written.end();
      EXPECT_EQ(e.status == kMemberExtracted, done) << e.name;
    }
  }
}

TEST_F(VolumesReadTest, CancelWhileListingEndsTheListing) {
  WriteVolumes();
  auto engine = NewEngine();
  events_->answers = {{kIdYes, -1}, {kIdOk, 2}, {kIdCancel, -1}};
  EXPECT_FALSE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_TRUE(events_->Has("You have chosen to cancel reading the archive."));
  EXPECT_EQ(engine->members().size(), 1u);
  EXPECT_EQ(events_->texts.back(),
            "List operation completed.\n\nRE-INSERT THE FIRST VOLUME OF THE ARCHIVE");

  events_->texts.clear();
  drive_->disk = 1;
  events_->answers = {{kIdYes, -1}, {kIdCancel, -1}};
  EXPECT_FALSE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_TRUE(events_->Has("You have chosen to cancel listing the archive."));
}

TEST_F(VolumesReadTest, VolumeSetOnAFixedDiskNeedsNoDisks) {
  WriteVolumes();
  drive_->removable = false;
  auto engine = NewEngine();
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_EQ(engine->members().size(), 3u);
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ExpectAllExtracted(*engine);
  engine->SetOptions("+V");
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_TRUE(events_->texts.empty()) << events_->texts.front();
  EXPECT_EQ(clock_->slept, 0u);

  // A missing volume is named, and ends the walk without damage reports.
  ASSERT_TRUE(tp_.Get().files.DeleteFile(archive_ + "-2"));
  for (const std::string& n : Names(out_ + "\\src")) tp_.Get().files.DeleteFile(Out(n));
  engine->SetOptions("-V");
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ASSERT_EQ(events_->texts.size(), 1u);
  EXPECT_NE(events_->texts[0].find("'" + archive_ + "-2'"), std::string::npos);
  EXPECT_EQ(Names(out_ + "\\src"), std::vector<std::string>{"a.bin"});
}

TEST_F(VolumesReadTest, ReadErrorOnTheDiskIsReportedAndStops) {
  WriteVolumes();
  drive_->failing = archive_ + "-1";
  auto engine = NewEngine();
  events_->answers = {{kIdOk, 2}};
  EXPECT_FALSE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  EXPECT_TRUE(events_->Has("ERROR READING REMOVABLE MEDIA\nerror number = 23 (0x17)\n"));
  EXPECT_EQ(events_->Count("INSERT DISK NUMBER"), 1) << "a read error asks for no other disk";
  EXPECT_TRUE(Names(out_ + "\\src").empty());
}

// A recorded feedback window that, when it is destroyed, leaves its
// transcript and a mark in the event list.
class ClosingWindow : public ui::RecordingFeedback {
 public:
  ClosingWindow(Clock& clock, Events& events, std::vector<std::string>& transcripts)
      : RecordingFeedback(clock), events_(events), transcripts_(transcripts) {}
  ~ClosingWindow() override {
    transcripts_.push_back(Transcript());
    events_.events.push_back("window destroyed");
  }

 private:
  Events& events_;
  std::vector<std::string>& transcripts_;
};

TEST_F(VolumesReadTest, ListingAcrossDisksShowsItsOwnWindowWhenTheCallerHasNone) {
  WriteVolumes();
  int made = 0;
  std::vector<std::string> transcripts;
  ui::OwnFeedbackWindow own([&]() -> std::unique_ptr<ui::Feedback> {
    ++made;
    return std::make_unique<ClosingWindow>(*clock_, *events_, transcripts);
  });
  auto engine = NewEngine();
  engine->set_own_feedback(&own);
  const std::deque<Answer> walk = {{kIdYes, -1}, {kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  events_->answers = walk;
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_EQ(engine->members().size(), 3u);
  ASSERT_EQ(made, 1);
  ASSERT_EQ(transcripts.size(), 1u) << "the window is destroyed at the end of the listing";
  // The member texts and the animation around each disk prompt go to the
  // window; it ends as a success.
  EXPECT_EQ(transcripts[0],
            "Open(\"List Archive\",100)=1\n"
            "SetText(\"a.bin\")=1\n"
            "Animate(1)=1\nAnimate(0)=1\n"
            "Animate(1)=1\nAnimate(0)=1\n"
            "SetText(\"b.txt\")=1\n"
            "Animate(1)=1\nAnimate(0)=1\n"
            "SetText(\"c.txt\")=1\n"
            "End(1)=1\n");
  // The caller's hooks see only the questions before and after: the window
  // is gone before the first volume is asked back.
  const std::vector<std::string> expected_tail = {
      "window destroyed", "animate:off",
      "box:Cratex|List operation completed.\n\nRE-INSERT THE FIRST VOLUME OF THE ARCHIVE",
      "animate:on"};
  ASSERT_GE(events_->events.size(), expected_tail.size());
  EXPECT_EQ(std::vector<std::string>(events_->events.end() - 4, events_->events.end()),
            expected_tail);
  EXPECT_EQ(std::count(events_->events.begin(), events_->events.end(), "animate:off"), 2)
      << "before the question to go on, and before the first volume is asked back";

  // A listing that stops at a cancelled disk prompt closes the window too.
  drive_->disk = 1;
  events_->answers = {{kIdYes, -1}, {kIdCancel, -1}};
  EXPECT_FALSE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_EQ(made, 2);
  ASSERT_EQ(transcripts.size(), 2u);
  EXPECT_NE(transcripts[1].find("End(1)=1"), std::string::npos) << transcripts[1];

  // Declining to list opens no window; neither do a fixed disk, an
  // extraction or silent mode.
  drive_->disk = 1;
  events_->answers = {{kIdNo, -1}};
  EXPECT_FALSE(engine->ListArchive(archive_));
  engine->CloseArchive();
  events_->answers = {{kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  drive_->removable = false;
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  drive_->removable = true;
  drive_->disk = 1;
  engine->log().set_silent(true);
  events_->answers = walk;
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_EQ(made, 2);
}

TEST_F(VolumesReadTest, ListingAcrossDisksLeavesTheCallersWindowAlone) {
  WriteVolumes();
  int made = 0;
  ui::OwnFeedbackWindow own([&]() -> std::unique_ptr<ui::Feedback> {
    ++made;
    return std::make_unique<ui::RecordingFeedback>(*clock_);
  });
  ui::RecordingFeedback caller(*clock_);
  ASSERT_TRUE(caller.Open("Browse", 3));
  ui::FeedbackHooks hooks;
  hooks.Attach(&caller);
  auto engine = NewEngine();
  engine->set_hooks(&hooks);
  engine->set_own_feedback(&own);
  events_->answers = {{kIdYes, -1}, {kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ListArchive(archive_));
  engine->CloseArchive();
  EXPECT_EQ(made, 0);
  EXPECT_EQ(hooks.attached(), &caller);
  EXPECT_EQ(caller.Phase(), ui::FeedbackPhase::kRunning) << "not ended by the listing";
  const std::string transcript = caller.Transcript();
  EXPECT_NE(transcript.find("SetText(\"c.txt\")=1"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("End("), std::string::npos) << transcript;
  engine->set_hooks(nullptr);
}

// On a removable drive the member data of an archive without counts is
// read a block at a time, from the first member on: only the headers come
// in a larger read.
TEST_F(VolumesReadTest, DataOnARemovableDriveIsReadABlockAtATime) {
  WriteVolumes();
  drive_->record_reads = true;
  auto engine = NewEngine();
  events_->answers = {{kIdOk, 2}, {kIdOk, 3}, {kIdOk, 4}};
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ExpectAllExtracted(*engine);
  int large_on_first = 0;
  int on_continuations = 0;
  for (const auto& [name, size] : drive_->reads) {
    if (name == "setup.exe") {
      large_on_first += size > static_cast<size_t>(kBlock) ? 1 : 0;
    } else {
      ++on_continuations;
      EXPECT_LE(size, static_cast<size_t>(kBlock)) << name;
    }
  }
  EXPECT_LE(large_on_first, 1) << "only the read that fetched the headers";
  EXPECT_GT(on_continuations, 3);

  // A volume set on a fixed disk is read as any file is.
  drive_->reads.clear();
  drive_->removable = false;
  for (const std::string& n : Names(out_ + "\\src")) tp_.Get().files.DeleteFile(Out(n));
  ASSERT_TRUE(engine->ExtractArchive(archive_, nullptr, out_));
  engine->CloseArchive();
  ExpectAllExtracted(*engine);
  size_t largest = 0;
  for (const auto& [name, size] : drive_->reads) {
    if (name == "setup.exe-1") largest = std::max(largest, size);
  }
  EXPECT_GT(largest, static_cast<size_t>(kBlock));
}

}  // namespace
}  // namespace crx
