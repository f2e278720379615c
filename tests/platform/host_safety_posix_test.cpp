// The emulated machine's protections against hostile names and planted
// links: links seen as links, private folders, the host-write guard, and
// deep paths with the lookup cache behind them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/cmdline.h"
#include "common/format.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

const char kImageChildFlag[] = "--crx-image-child";

// A copy of this test program started with kImageChildFlag does one job
// and exits before any test runs:
//   wait READY RELEASE      writes READY, then waits until RELEASE exists
//   spawn PROGRAM READY RELEASE
//                           starts PROGRAM with "wait READY RELEASE" and
//                           ends at once
int RunImageChild() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) return 100;
  Platform& p = host->Get();
  std::vector<std::string> args = cmdline::SplitArguments(p.processes.CommandLineTail());
  if (args.size() == 4 && args[1] == "wait") {
    if (!WriteWholeFile(p.files, args[2], "ready")) return 101;
    for (int i = 0; i < 600 && !p.files.Exists(args[3]); ++i) p.clock.Sleep(100);
    return 0;
  }
  if (args.size() == 5 && args[1] == "spawn") {
    std::string line = cmdline::Quote(args[2]) + " " + kImageChildFlag + " wait " +
                       cmdline::Quote(args[3]) + " " + cmdline::Quote(args[4]);
    return p.processes.Start(line, {}) ? 0 : 102;
  }
  return 103;
}

const bool kIsImageChild = [] {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string program, flag;
  if (!std::getline(in, program, '\0') || !std::getline(in, flag, '\0') ||
      flag != kImageChildFlag) {
    return false;
  }
  std::_Exit(RunImageChild());
}();

std::string HostRead(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void HostWrite(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool HostExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Removes a chain of single folders `levels` deep, named `name` each.
bool RemoveChain(int parent, const char* name, int levels) {
  if (levels > 1) {
    int fd = ::openat(parent, name, O_PATH | O_DIRECTORY);
    if (fd < 0) return false;
    bool ok = RemoveChain(fd, name, levels - 1);
    ::close(fd);
    if (!ok) return false;
  }
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

class HostSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(kIsImageChild);
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    scratch_host_ = WindowsToHostPath(tp_.Scratch());
    ASSERT_FALSE(scratch_host_.empty());
  }
  FileSystem& fs() { return tp_.Get().files; }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  std::string HostAt(const std::string& name) { return scratch_host_ + "/" + name; }
  // A host folder beside the machine folder, outside the machine.
  std::string Outside() {
    std::string out = tp_.MachineFolder() + "/../outside";
    ::mkdir(out.c_str(), 0777);
    return out;
  }

  test::TestPlatform tp_;
  std::string scratch_host_;
};

TEST_F(HostSafetyTest, LinksAreSeenAndRemovedAsThemselves) {
  HostWrite(HostAt("target.txt"), "target");
  ASSERT_EQ(0, ::mkdir(HostAt("dir").c_str(), 0777));
  HostWrite(HostAt("dir/kept.txt"), "kept");
  ASSERT_EQ(0, ::symlink("target.txt", HostAt("file link").c_str()));
  ASSERT_EQ(0, ::symlink("dir", HostAt("folder link").c_str()));
  ASSERT_EQ(0, ::symlink("nowhere", HostAt("dangling").c_str()));

  EXPECT_EQ(kAttrReparsePoint | kAttrArchive, fs().GetAttributes(At("FILE LINK")));
  EXPECT_EQ(kAttrReparsePoint | kAttrDirectory, fs().GetAttributes(At("folder link")));
  EXPECT_EQ(kAttrReparsePoint | kAttrArchive, fs().GetAttributes(At("dangling")));
  EXPECT_EQ(0u, fs().GetAttributes(At("target.txt")) & kAttrReparsePoint);

  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs().ListFolder(At("*"), &entries));
  uint32_t links = 0;
  for (const FolderEntry& e : entries) {
    if (e.attributes & kAttrReparsePoint) ++links;
    if (e.name == "dangling") {
      EXPECT_EQ(0u, e.size);
    }
  }
  EXPECT_EQ(3u, links) << "a dangling link is listed too";

  // Links in the middle of a path are followed, as folder links are.
  EXPECT_EQ("kept", ReadWholeFile(fs(), At("folder link\\kept.txt")));
  // Attributes are not changed through a link.
  EXPECT_FALSE(fs().SetAttributes(At("file link"), kAttrReadOnly));
  struct stat st;
  ASSERT_EQ(0, ::stat(HostAt("target.txt").c_str(), &st));
  EXPECT_NE(0u, st.st_mode & 0200);

  ASSERT_TRUE(fs().DeleteFile(At("file link"))) << LastError();
  EXPECT_FALSE(HostExists(HostAt("file link")));
  EXPECT_EQ("target", HostRead(HostAt("target.txt")));
  ASSERT_TRUE(fs().RemoveFolder(At("folder link"))) << LastError();
  EXPECT_FALSE(HostExists(HostAt("folder link")));
  EXPECT_EQ("kept", HostRead(HostAt("dir/kept.txt")));
  EXPECT_FALSE(fs().RemoveFolder(At("dangling")));
  EXPECT_EQ(kErrorDirectory, LastError());
  ASSERT_TRUE(fs().DeleteFile(At("dangling"))) << LastError();
  EXPECT_FALSE(HostExists(HostAt("dangling")));
}

TEST_F(HostSafetyTest, NoFollowOpensRefuseALinkWhateverTheDisposition) {
  HostWrite(HostAt("target.txt"), "target");
  ASSERT_EQ(0, ::symlink("target.txt", HostAt("planted.log").c_str()));
  ASSERT_EQ(0, ::symlink("made-through-link.txt", HostAt("dangling.log").c_str()));
  const Disposition all[] = {Disposition::kCreateNew, Disposition::kCreateAlways,
                             Disposition::kOpenExisting, Disposition::kOpenAlways,
                             Disposition::kTruncateExisting};
  for (Disposition d : all) {
    for (const char* name : {"planted.log", "dangling.log"}) {
      SetLastError(0);
      EXPECT_FALSE(fs().Open(At(name), kAccessRead | kAccessWrite, kShareRead, d, kOpenNoFollow))
          << name << " disposition " << static_cast<int>(d);
      EXPECT_EQ(kErrorCantAccessFile, LastError()) << name << " " << static_cast<int>(d);
    }
  }
  EXPECT_EQ("target", HostRead(HostAt("target.txt")));
  EXPECT_FALSE(HostExists(HostAt("made-through-link.txt")));
  // Without the flag a link is followed, as Windows follows it.
  EXPECT_EQ("target", ReadWholeFile(fs(), At("planted.log")));
  // An ordinary file opens with the flag; a new one is made exclusively.
  std::unique_ptr<File> f = fs().Open(At("fresh.log"), kAccessWrite, kShareRead,
                                      Disposition::kCreateNew, kOpenNoFollow);
  ASSERT_TRUE(f) << LastError();
  EXPECT_FALSE(fs().Open(At("fresh.log"), kAccessWrite, kShareRead | kShareWrite,
                         Disposition::kCreateNew, kOpenNoFollow));
  EXPECT_EQ(kErrorFileExists, LastError());
}

TEST_F(HostSafetyTest, PrivateFoldersAreOwnerOnlyWhateverTheUmaskAndNeverReused) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
    mode_t old = ::umask(mask);
    const std::string name = Format("private_%o", static_cast<unsigned>(mask));
    bool made = fs().CreatePrivateFolder(At(name));
    ::umask(old);
    ASSERT_TRUE(made) << LastError();
    struct stat st;
    ASSERT_EQ(0, ::stat(HostAt(name).c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777) << "umask " << mask;
  }
  EXPECT_FALSE(fs().CreatePrivateFolder(At("private_0")));
  EXPECT_EQ(kErrorAlreadyExists, LastError());
  // A link planted under the name is not taken over.
  ASSERT_EQ(0, ::mkdir(HostAt("open").c_str(), 0777));
  ::chmod(HostAt("open").c_str(), 0777);
  ASSERT_EQ(0, ::symlink("open", HostAt("planted").c_str()));
  EXPECT_FALSE(fs().CreatePrivateFolder(At("planted")));
  EXPECT_EQ(kErrorAlreadyExists, LastError());
  struct stat st;
  ASSERT_EQ(0, ::stat(HostAt("open").c_str(), &st));
  EXPECT_EQ(0777u, st.st_mode & 07777);
}

TEST_F(HostSafetyTest, HostWritesOutsideTheMachineAreRefused) {
  const std::string out = Outside();
  HostWrite(out + "/existing.txt", "host data");
  const std::string z = HostToWindowsPath(out);
  ASSERT_EQ('Z', z[0]) << z;
  ASSERT_TRUE(WriteWholeFile(fs(), At("inside.txt"), "inside"));

  testing::internal::CaptureStderr();
  EXPECT_FALSE(fs().Open(z + "\\new.txt", kAccessWrite, kShareNone, Disposition::kCreateAlways));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, message.find(z + "\\new.txt")) << message;
  EXPECT_NE(std::string::npos, message.find("crxmachine set HostWrites 1")) << message;

  testing::internal::CaptureStderr();
  EXPECT_FALSE(fs().Open(z + "\\existing.txt", kAccessWrite, kShareNone, Disposition::kOpenExisting));
  EXPECT_FALSE(fs().DeleteFile(z + "\\existing.txt"));
  EXPECT_FALSE(fs().SetAttributes(z + "\\existing.txt", kAttrReadOnly));
  EXPECT_FALSE(fs().SetLastWriteTime(z + "\\existing.txt", 0));
  EXPECT_FALSE(fs().CopyFile(At("inside.txt"), z + "\\copy.txt", false));
  EXPECT_FALSE(fs().ReplaceFile(At("inside.txt"), z + "\\existing.txt"));
  EXPECT_FALSE(fs().MoveFile(z + "\\existing.txt", At("taken.txt")));
  EXPECT_FALSE(fs().CreateFolder(z + "\\sub"));
  EXPECT_FALSE(fs().CreatePrivateFolder(z + "\\private"));
  EXPECT_FALSE(fs().RemoveFolder(z));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ("host data", HostRead(out + "/existing.txt"));
  EXPECT_EQ("inside", HostRead(HostAt("inside.txt")));
  for (const char* name : {"new.txt", "copy.txt", "sub", "private"}) {
    EXPECT_FALSE(HostExists(out + "/" + name)) << name;
  }
  // Reading is not writing.
  EXPECT_EQ("host data", ReadWholeFile(fs(), z + "\\existing.txt"));

  // Neither a link inside the machine nor ".." leads out.
  ASSERT_EQ(0, ::symlink(out.c_str(), HostAt("escape").c_str()));
  ASSERT_EQ(0, ::symlink((out + "/existing.txt").c_str(), HostAt("file escape").c_str()));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteWholeFile(fs(), At("escape\\through.txt"), "x"));
  EXPECT_FALSE(WriteWholeFile(fs(), At("file escape"), "x"));
  EXPECT_FALSE(WriteWholeFile(fs(), At("escape\\..\\escape\\dots.txt"), "x"));
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(HostExists(out + "/through.txt"));
  EXPECT_FALSE(HostExists(out + "/dots.txt"));
  EXPECT_EQ("host data", HostRead(out + "/existing.txt"));
  // The link itself lies inside the machine and may go.
  EXPECT_TRUE(fs().DeleteFile(At("file escape"))) << LastError();
  EXPECT_EQ("host data", HostRead(out + "/existing.txt"));
}

TEST_F(HostSafetyTest, NamedFoldersSettingAndWritersMayWriteOnTheHost) {
  const std::string out = Outside();
  const std::string z = HostToWindowsPath(out);
  // The named folder and the folders on the way to it may be created.
  fs().AllowWritesBelow(z + "\\target\\deep");
  ASSERT_TRUE(fs().CreateFolder(z + "\\target")) << LastError();
  ASSERT_TRUE(fs().CreateFolder(z + "\\target\\deep")) << LastError();
  ASSERT_TRUE(fs().CreateFolder(z + "\\target\\deep\\sub")) << LastError();
  ASSERT_TRUE(WriteWholeFile(fs(), z + "\\target\\deep\\sub\\a.txt", "a"));
  EXPECT_EQ("a", HostRead(out + "/target/deep/sub/a.txt"));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteWholeFile(fs(), z + "\\target\\beside.txt", "b"));
  EXPECT_FALSE(fs().CreateFolder(z + "\\other"));
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(HostExists(out + "/target/beside.txt"));

  // The machine's setting switches the guard off for every program.
  {
    std::string error;
    std::unique_ptr<Machine> m = Machine::Open(tp_.MachineFolder(), &error);
    ASSERT_TRUE(m) << error;
    m->MutableSettings().host_writes = true;
    ASSERT_TRUE(m->SaveSettings(&error)) << error;
    std::unique_ptr<HostPlatform> other = OpenHostPlatform(&error);
    ASSERT_TRUE(other) << error;
    EXPECT_TRUE(WriteWholeFile(other->Get().files, z + "\\by setting.txt", "s")) << LastError();
    m->MutableSettings().host_writes = false;
    ASSERT_TRUE(m->SaveSettings(&error)) << error;
  }
  EXPECT_EQ("s", HostRead(out + "/by setting.txt"));

  fs().AllowAllWrites();
  EXPECT_TRUE(WriteWholeFile(fs(), z + "\\anywhere.txt", "w")) << LastError();
  EXPECT_TRUE(fs().DeleteFile(z + "\\anywhere.txt")) << LastError();
}

// Host paths this deep are far past what one system call takes (PATH_MAX).
TEST_F(HostSafetyTest, AThousandLevelsDeepWorkThroughEveryCall) {
  const int kLevels = 1000;
  {
    // The folders are made on the host, one relative step at a time.
    int fd = ::open(scratch_host_.c_str(), O_PATH | O_DIRECTORY);
    for (int i = 0; i < kLevels && fd >= 0; ++i) {
      ASSERT_EQ(0, ::mkdirat(fd, "Level", 0777));
      int next = ::openat(fd, "Level", O_PATH | O_DIRECTORY);
      ::close(fd);
      fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  std::string path = tp_.Scratch();
  std::string upper = tp_.Scratch();
  for (int i = 0; i < kLevels; ++i) {
    path += "\\Level";
    upper += "\\LEVEL";
  }
  const std::string file = path + "\\Bottom.txt";
  ASSERT_TRUE(WriteWholeFile(fs(), file, "deep")) << LastError();
  // The same path in another case finds every level.
  EXPECT_EQ("deep", ReadWholeFile(fs(), upper + "\\bottom.TXT"));
  EXPECT_EQ(kAttrArchive, fs().GetAttributes(file));
  ASSERT_TRUE(fs().SetLastWriteTime(file, UnixToFileTime(1000000000, 0))) << LastError();
  FileTime time = 0;
  ASSERT_TRUE(fs().GetLastWriteTime(upper + "\\BOTTOM.txt", &time));
  EXPECT_EQ(UnixToFileTime(1000000000, 0), time);
  ASSERT_TRUE(fs().SetAttributes(file, kAttrReadOnly | kAttrHidden)) << LastError();
  EXPECT_EQ(kAttrReadOnly | kAttrHidden, fs().GetAttributes(file));
  ASSERT_TRUE(fs().SetAttributes(file, kAttrNormal));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs().ListFolder(path + "\\*.txt", &entries)) << LastError();
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(4u, entries[0].size);
  ASSERT_TRUE(fs().CopyFile(file, path + "\\copy.txt", true)) << LastError();
  ASSERT_TRUE(fs().ReplaceFile(path + "\\copy.txt", file)) << LastError();
  ASSERT_TRUE(fs().MoveFile(file, path + "\\moved.txt")) << LastError();
  ASSERT_TRUE(fs().CreateFolder(path + "\\Sub")) << LastError();
  ASSERT_TRUE(fs().RemoveFolder(upper + "\\SUB")) << LastError();
  ASSERT_TRUE(fs().DeleteFile(upper + "\\MOVED.TXT")) << LastError();
  EXPECT_FALSE(fs().Exists(path + "\\moved.txt"));
  // Going down again level by level to clean up would take a while.
  int top = ::open(scratch_host_.c_str(), O_PATH | O_DIRECTORY);
  ASSERT_TRUE(RemoveChain(top, "Level", kLevels));
  ::close(top);

  // Long names reach past the limit in few levels: made and removed
  // through the machine.
  std::string longer = tp_.Scratch();
  const std::string name(120, 'n');
  for (int i = 0; i < 40; ++i) {
    longer += "\\" + name;
    ASSERT_TRUE(fs().CreateFolder(longer)) << "level " << i << " error " << LastError();
  }
  ASSERT_TRUE(WriteWholeFile(fs(), longer + "\\f", "long"));
  EXPECT_EQ("long", ReadWholeFile(fs(), longer + "\\F"));
  ASSERT_TRUE(fs().DeleteFile(longer + "\\f"));
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(fs().RemoveFolder(longer)) << "level " << i << " error " << LastError();
    longer.resize(longer.size() - name.size() - 1);
  }
  EXPECT_FALSE(fs().Exists(tp_.Scratch() + "\\" + name));
}

TEST_F(HostSafetyTest, LookupsSeeChangesMadeBehindTheMachinesBack) {
  ASSERT_TRUE(WriteWholeFile(fs(), At("Name.txt"), "one"));
  // A lookup in another case reads (and keeps) the folder's names.
  EXPECT_EQ("one", ReadWholeFile(fs(), At("NAME.TXT")));
  // Another process renames, adds and removes behind the machine's back.
  ASSERT_EQ(0, ::rename(HostAt("Name.txt").c_str(), HostAt("Other.txt").c_str()));
  EXPECT_FALSE(fs().Exists(At("name.txt")));
  EXPECT_EQ("one", ReadWholeFile(fs(), At("OTHER.txt")));
  HostWrite(HostAt("Fresh.txt"), "two");
  EXPECT_EQ("two", ReadWholeFile(fs(), At("fresh.TXT")));
  ASSERT_EQ(0, ::unlink(HostAt("Fresh.txt").c_str()));
  EXPECT_FALSE(fs().Exists(At("FRESH.txt")));
  // The machine's own changes are seen at once.
  ASSERT_TRUE(fs().MoveFile(At("other.txt"), At("Third.txt")));
  EXPECT_FALSE(fs().Exists(At("OTHER.TXT")));
  EXPECT_TRUE(fs().Exists(At("THIRD.TXT")));
  ASSERT_TRUE(fs().DeleteFile(At("third.TXT")));
  EXPECT_FALSE(fs().Exists(At("THIRD.TXT")));
  ASSERT_TRUE(fs().CreateFolder(At("Made")));
  EXPECT_TRUE(fs().IsFolder(At("MADE")));
  ASSERT_TRUE(fs().RemoveFolder(At("made")));
  EXPECT_FALSE(fs().Exists(At("MADE")));
}

}  // namespace
}  // namespace crx

namespace crx {
namespace {

// Waits (up to a minute) until the file exists.
bool AwaitFile(Platform& p, const std::string& path) {
  for (int i = 0; i < 600; ++i) {
    if (p.files.Exists(path)) return true;
    p.clock.Sleep(100);
  }
  return false;
}

TEST_F(HostSafetyTest, ARunningProgramsFileCannotBeDeleted) {
  Platform& p = tp_.Get();
  const std::string run = At("run.exe");
  const std::string other = At("other.exe");
  ASSERT_TRUE(fs().CopyFile(p.processes.ProgramPath(), run, true)) << LastError();
  ASSERT_TRUE(fs().CopyFile(p.processes.ProgramPath(), other, true)) << LastError();
  const std::string waiting = std::string(" ") + kImageChildFlag + " wait " +
                              cmdline::Quote(At("ready1")) + " " + cmdline::Quote(At("release1"));
  std::unique_ptr<Process> child = p.processes.Start(cmdline::Quote(run) + waiting, {});
  ASSERT_TRUE(child) << LastError();
  ASSERT_TRUE(AwaitFile(p, At("ready1")));
  EXPECT_FALSE(fs().DeleteFile(run));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  EXPECT_FALSE(fs().MoveFile(run, At("moved.exe")));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  EXPECT_FALSE(fs().ReplaceFile(other, run));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  EXPECT_TRUE(fs().Exists(run));
  EXPECT_TRUE(fs().Exists(other));
  ASSERT_TRUE(WriteWholeFile(fs(), At("release1"), ""));
  ASSERT_EQ(WaitResult::kDone, child->Wait(60000));
  EXPECT_TRUE(fs().DeleteFile(run)) << LastError();

  // The lock is the child's own: a program it starts does not keep it.
  ASSERT_TRUE(fs().CopyFile(p.processes.ProgramPath(), run, true)) << LastError();
  child = p.processes.Start(cmdline::Quote(run) + " " + kImageChildFlag + " spawn " +
                                cmdline::Quote(other) + " " + cmdline::Quote(At("ready2")) +
                                " " + cmdline::Quote(At("release2")),
                            {});
  ASSERT_TRUE(child) << LastError();
  ASSERT_EQ(WaitResult::kDone, child->Wait(60000));
  uint32_t code = 1;
  ASSERT_TRUE(child->ExitCode(&code));
  ASSERT_EQ(0u, code);
  ASSERT_TRUE(AwaitFile(p, At("ready2")));
  EXPECT_TRUE(fs().DeleteFile(run)) << LastError();
  EXPECT_FALSE(fs().DeleteFile(other));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  ASSERT_TRUE(WriteWholeFile(fs(), At("release2"), ""));
  bool deleted = false;
  for (int i = 0; i < 600 && !deleted; ++i) {
    deleted = fs().DeleteFile(other);
    if (!deleted) p.clock.Sleep(100);
  }
  EXPECT_TRUE(deleted) << LastError();

  // A program started some other way (here by the shell) locks its own file.
  ASSERT_TRUE(fs().CopyFile(p.processes.ProgramPath(), run, true)) << LastError();
  uint32_t shell_code = 1;
  const std::string host_run = WindowsToHostPath(run);
  ASSERT_TRUE(p.processes.RunShellCommand(
      "chmod +x '" + host_run + "' && '" + host_run + "' " + kImageChildFlag + " wait '" +
          At("ready3") + "' '" + At("release3") + "' </dev/null >/dev/null 2>&1 &",
      "", &shell_code));
  ASSERT_EQ(0u, shell_code);
  ASSERT_TRUE(AwaitFile(p, At("ready3")));
  EXPECT_FALSE(fs().DeleteFile(run));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  ASSERT_TRUE(WriteWholeFile(fs(), At("release3"), ""));
  deleted = false;
  for (int i = 0; i < 600 && !deleted; ++i) {
    deleted = fs().DeleteFile(run);
    if (!deleted) p.clock.Sleep(100);
  }
  EXPECT_TRUE(deleted) << LastError();
}

}  // namespace
}  // namespace crx
