// The emulated machine itself: creation, path translation, cross-process
// share modes, removable drives, the environment rule, attributes on the
// host and boot-time moves.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#include "support/test_platform.h"

namespace crx {
namespace {

bool HostIsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Query(Registry& reg, RegKey root, const std::string& key, const std::string& name) {
  RegKey k = 0;
  if (reg.OpenKey(root, key, RegAccess::kRead, &k) != kErrorSuccess) return "<no key>";
  std::string value;
  long rc = reg.GetString(k, name, &value);
  reg.CloseKey(k);
  return rc == kErrorSuccess ? value : "<no value>";
}

TEST(MachineTest, NewMachineHasWindowsFoldersAndRegistry) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string m = tp.MachineFolder();
  EXPECT_TRUE(HostIsFolder(m + "/drive_c/WINDOWS/system32"));
  EXPECT_TRUE(HostIsFolder(m + "/drive_c/WINDOWS/TEMP"));
  EXPECT_TRUE(std::ifstream(m + "/machine.ini").good());
  EXPECT_TRUE(std::ifstream(m + "/registry.db").good());

  const std::string shell = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  for (const char* name : {"Programs", "Desktop", "Startup"}) {
    std::string folder = Query(p.registry, kHKeyCurrentUser, shell, name);
    EXPECT_TRUE(p.files.IsFolder(folder)) << name << " = " << folder;
    EXPECT_EQ('C', folder[0]) << folder;
  }
  for (const char* name : {"Common Programs", "Common Desktop", "Common Startup"}) {
    std::string folder = Query(p.registry, kHKeyLocalMachine, shell, name);
    EXPECT_TRUE(p.files.IsFolder(folder)) << name << " = " << folder;
  }
  const std::string cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  EXPECT_TRUE(p.files.IsFolder(Query(p.registry, kHKeyLocalMachine, cv, "ProgramFilesDir")));
  EXPECT_TRUE(p.files.IsFolder(Query(p.registry, kHKeyLocalMachine, cv, "CommonFilesDir")));
  RegKey k = 0;
  ASSERT_EQ(kErrorSuccess, p.registry.OpenKey(kHKeyLocalMachine, cv + "\\Uninstall", RegAccess::kRead, &k));
  p.registry.CloseKey(k);
  OsVersion v = p.environment.Version();
  const std::string nt = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  EXPECT_EQ(Format("%u.%u", v.major, v.minor), Query(p.registry, kHKeyLocalMachine, nt, "CurrentVersion"));
  EXPECT_EQ(Format("%u", v.build), Query(p.registry, kHKeyLocalMachine, nt, "CurrentBuildNumber"));
  EXPECT_EQ(p.environment.UserName(), Query(p.registry, kHKeyLocalMachine, nt, "RegisteredOwner"));

  // Opening again changes nothing and keeps what programs wrote.
  ASSERT_EQ(kErrorSuccess, p.registry.CreateKey(kHKeyCurrentUser, "Software\\Kept", RegAccess::kAll, &k, nullptr));
  p.registry.CloseKey(k);
  std::string error;
  std::unique_ptr<HostPlatform> again = OpenHostPlatform(&error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(kErrorSuccess, again->Get().registry.OpenKey(kHKeyCurrentUser, "Software\\Kept", RegAccess::kRead, &k));
  again->Get().registry.CloseKey(k);
}

TEST(MachineTest, PathsTranslateBothWaysAndIgnoreCase) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  const std::string m = tp.MachineFolder();
  EXPECT_EQ(m + "/drive_c/WINDOWS/system32", WindowsToHostPath("c:\\windows\\SYSTEM32"));
  EXPECT_EQ(m + "/drive_c/WINDOWS/TEMP/New Thing", WindowsToHostPath("C:/Windows/temp/New Thing"));
  EXPECT_EQ("/etc/passwd", WindowsToHostPath("Z:\\etc\\passwd"));
  EXPECT_EQ("", WindowsToHostPath("Q:\\nothing"));
  EXPECT_EQ("C:\\WINDOWS\\system32", HostToWindowsPath(m + "/drive_c/WINDOWS/system32"));
  EXPECT_EQ("C:\\", HostToWindowsPath(m + "/drive_c"));
  EXPECT_EQ("Z:\\usr\\bin", HostToWindowsPath("/usr/bin/"));
  EXPECT_EQ("Z:\\", HostToWindowsPath("/"));

  // A new element keeps the spelling given; existing ones keep theirs.
  ASSERT_TRUE(fs.CreateFolder("c:\\windows\\temp\\NewDir"));
  EXPECT_TRUE(HostIsFolder(m + "/drive_c/WINDOWS/TEMP/NewDir"));
  EXPECT_FALSE(HostIsFolder(m + "/drive_c/windows"));
  // The process starts in its host folder, seen through the drives.
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(HostToWindowsPath(cwd), fs.CurrentFolder());
  ASSERT_TRUE(fs.SetCurrentFolder("C:\\windows\\Temp"));
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(m + "/drive_c/WINDOWS/TEMP", std::string(cwd));
  EXPECT_EQ("C:\\windows\\Temp", fs.CurrentFolder());
  ASSERT_TRUE(fs.SetCurrentFolder("Z:\\"));
}

TEST(MachineTest, DeepPathsResolveWhateverTheirFoldersSpelling) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  const std::string m = tp.MachineFolder();
  ASSERT_TRUE(fs.CreateFolder("C:\\Deep"));
  ASSERT_TRUE(fs.CreateFolder("C:\\Deep\\Mid"));
  ASSERT_TRUE(fs.CreateFolder("C:\\Deep\\Mid\\Low"));
  std::ofstream(m + "/drive_c/Deep/Mid/Low/f.txt") << "x";
  std::ofstream(m + "/drive_c/Deep/plain") << "x";
  ASSERT_EQ(0, ::symlink((m + "/drive_c/Deep/Mid").c_str(), (m + "/drive_c/Deep/link").c_str()));
  // As spelled, in another case, and through a link to a folder.
  EXPECT_EQ(m + "/drive_c/Deep/Mid/Low/f.txt", WindowsToHostPath("C:\\Deep\\Mid\\Low\\f.txt"));
  EXPECT_EQ(m + "/drive_c/Deep/Mid/Low/f.txt", WindowsToHostPath("c:\\DEEP\\mid\\LOW\\F.TXT"));
  EXPECT_EQ(m + "/drive_c/Deep/Mid/Low/f.txt", WindowsToHostPath("C:\\Deep\\Mid\\low\\f.txt"));
  EXPECT_TRUE(fs.IsFile("C:\\Deep\\link\\Low\\f.txt"));
  EXPECT_TRUE(fs.IsFile("C:\\deep\\LINK\\low\\F.txt"));
  // A file or a missing folder on the way names nothing.
  EXPECT_FALSE(fs.IsFile("C:\\Deep\\plain\\Low\\f.txt"));
  EXPECT_FALSE(fs.IsFile("C:\\Deep\\None\\Low\\f.txt"));
  EXPECT_EQ(m + "/drive_c/Deep/None/Low/f.txt", WindowsToHostPath("C:\\Deep\\None\\Low\\f.txt"));
}

TEST(MachineTest, ShareModesHoldAcrossProcesses) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  const std::string path = tp.Scratch() + "\\locked.txt";
  ASSERT_TRUE(fs.Open(path, kAccessWrite, kShareNone, Disposition::kCreateNew));
  int to_parent[2], to_child[2];
  ASSERT_EQ(0, ::pipe(to_parent));
  ASSERT_EQ(0, ::pipe(to_child));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child holds the file open for writing, sharing only reading.
    std::unique_ptr<File> f = fs.Open(path, kAccessWrite, kShareRead, Disposition::kOpenExisting);
    char c = f ? 'y' : 'n';
    if (::write(to_parent[1], &c, 1) != 1) ::_exit(2);
    if (::read(to_child[0], &c, 1) != 1) ::_exit(3);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, ::read(to_parent[0], &c, 1));
  EXPECT_EQ('y', c);
  EXPECT_TRUE(fs.Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting));
  EXPECT_FALSE(fs.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  EXPECT_FALSE(fs.Open(path, kAccessWrite, kShareRead | kShareWrite, Disposition::kOpenExisting));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  EXPECT_FALSE(fs.DeleteFile(path));
  EXPECT_EQ(kErrorSharingViolation, LastError());
  ASSERT_EQ(1, ::write(to_child[1], "x", 1));
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  EXPECT_EQ(0, WEXITSTATUS(status));
  // The child is gone and its locks with it.
  EXPECT_TRUE(fs.Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting));
  EXPECT_TRUE(fs.DeleteFile(path));
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) ::close(fd);
}

// Programs racing for one file never hold it together, and a program that
// died holding the machine's share lock does not stop the others.
TEST(MachineTest, ShareLockSerialisesProgramsAndOutlivesThem) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  const std::string path = tp.Scratch() + "\\raced.txt";
  ASSERT_TRUE(fs.Open(path, kAccessWrite, kShareNone, Disposition::kCreateNew));

  // Each open that succeeds counts itself in shared memory while it holds
  // the file; two at once is a share-mode failure.
  struct Counts {
    std::atomic<int> holders;
    std::atomic<int> overlaps;
    std::atomic<int> opened;
  };
  void* shared = ::mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, shared);
  Counts* counts = new (shared) Counts{{0}, {0}, {0}};
  std::vector<pid_t> children;
  for (int c = 0; c < 4; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < 300; ++i) {
        std::unique_ptr<File> f =
            fs.Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting);
        if (!f) continue;
        counts->opened++;
        if (counts->holders++ != 0) counts->overlaps++;
        ::usleep(100);  // holds the file a while
        counts->holders--;
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
  EXPECT_EQ(0, counts->overlaps.load());
  EXPECT_GT(counts->opened.load(), 0);
  ::munmap(shared, sizeof(Counts));

  // A program dies while it holds the lock (taken here as the programs take
  // it: the mutex after the file's 8-byte mark).
  struct Mapped {
    uint64_t magic;
    pthread_mutex_t mutex;
  };
  const std::string lock_file = tp.MachineFolder() + "/share.lock";
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fd = ::open(lock_file.c_str(), O_RDWR);
    void* map = fd < 0 ? MAP_FAILED
                       : ::mmap(nullptr, sizeof(Mapped), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) ::_exit(2);
    ::_exit(::pthread_mutex_lock(&static_cast<Mapped*>(map)->mutex) == 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_EQ(0, WEXITSTATUS(status));
  // A lock left held would stop this open for good: the alarm ends the test.
  ::alarm(20);
  EXPECT_TRUE(fs.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_TRUE(fs.DeleteFile(path));
  ::alarm(0);
}

TEST(MachineTest, RemovableDriveHasCapacityAndDisks) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  const std::string m = tp.MachineFolder();
  ASSERT_EQ(0, ::mkdir((m + "/disk1").c_str(), 0777));
  ASSERT_EQ(0, ::mkdir((m + "/disk2").c_str(), 0777));
  std::string error;
  {
    std::unique_ptr<Machine> machine = Machine::Open(m, &error);
    ASSERT_TRUE(machine) << error;
    MachineDrive a;
    a.letter = 'A';
    a.type = DriveType::kRemovable;
    a.capacity = 10000;
    a.media = {m + "/disk1", m + "/disk2"};
    a.media_labels = {"ONE", "TWO"};
    a.media_serials = {0x111, 0x222};
    a.current_media = 1;
    machine->MutableSettings().drives.push_back(a);
    ASSERT_TRUE(machine->SaveSettings(&error)) << error;
  }
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  FileSystem& fs = host->Get().files;
  EXPECT_EQ(DriveType::kRemovable, fs.GetDriveType("A:\\"));
  EXPECT_NE(0u, fs.LogicalDrives() & 1u);
  std::string chunk(4000, 'x');
  {
    std::unique_ptr<File> f = fs.Open("A:\\data.bin", kAccessWrite, kShareNone, Disposition::kCreateNew);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->Write(chunk.data(), chunk.size()));
    FreeSpace space;
    ASSERT_TRUE(fs.GetFreeSpace("A:\\", &space));
    EXPECT_EQ(10000u, space.total);
    EXPECT_EQ(6000u, space.free_to_caller);
    ASSERT_TRUE(f->Write(chunk.data(), chunk.size()));
    EXPECT_FALSE(f->Write(chunk.data(), chunk.size()));
    EXPECT_EQ(kErrorDiskFull, LastError());
  }
  EXPECT_TRUE(std::ifstream(m + "/disk1/data.bin").good());
  std::string label;
  uint32_t serial = 0;
  ASSERT_TRUE(fs.GetVolumeInfo("A:\\", &label, &serial));
  EXPECT_EQ("ONE", label);
  EXPECT_EQ(0x111u, serial);

  // The second disk, then no disk at all.
  for (int disk : {2, 0}) {
    std::unique_ptr<Machine> machine = Machine::Open(m, &error);
    ASSERT_TRUE(machine) << error;
    for (MachineDrive& d : machine->MutableSettings().drives) {
      if (d.letter == 'A') d.current_media = disk;
    }
    ASSERT_TRUE(machine->SaveSettings(&error));
    host = OpenHostPlatform(&error);
    ASSERT_TRUE(host) << error;
    FileSystem& fs2 = host->Get().files;
    if (disk == 2) {
      EXPECT_FALSE(fs2.Exists("A:\\data.bin"));
      ASSERT_TRUE(fs2.GetVolumeInfo("A:\\", &label, &serial));
      EXPECT_EQ(0x222u, serial);
    } else {
      EXPECT_FALSE(fs2.Exists("A:\\data.bin"));
      EXPECT_EQ(kErrorNotReady, LastError());
      FreeSpace space;
      EXPECT_FALSE(fs2.GetFreeSpace("A:\\", &space));
      EXPECT_EQ(kErrorNotReady, LastError());
    }
  }
}

TEST(MachineTest, EnvironmentRuleAppliesOncePerSession) {
  ::setenv("TEMP", "/host/temp", 1);
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Environment& env = tp.Get().environment;
  std::string value;
  ASSERT_TRUE(env.Get("TEMP", &value));
  EXPECT_EQ("C:\\WINDOWS\\TEMP", value);
  ASSERT_TRUE(env.Get("windir", &value));
  EXPECT_EQ("C:\\WINDOWS", value);
  ASSERT_TRUE(env.Get("CRX_MACHINE_SESSION", &value));
  EXPECT_EQ(tp.MachineFolder(), value);
  ASSERT_TRUE(env.Get("CRX_HOST_PATH", &value));

  // Within the session the program's own changes stand.
  ASSERT_TRUE(env.Unset("TEMP"));
  std::string error;
  std::unique_ptr<HostPlatform> again = OpenHostPlatform(&error);
  ASSERT_TRUE(again) << error;
  EXPECT_FALSE(again->Get().environment.Get("TEMP", &value));
  // A program from outside the session gets the machine's values back.
  ::unsetenv("CRX_MACHINE_SESSION");
  again = OpenHostPlatform(&error);
  ASSERT_TRUE(again) << error;
  ASSERT_TRUE(again->Get().environment.Get("TEMP", &value));
  EXPECT_EQ("C:\\WINDOWS\\TEMP", value);
}

TEST(MachineTest, AttributesLiveOnTheHostFile) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  const std::string path = tp.Scratch() + "\\a.txt";
  ASSERT_TRUE(fs.Open(path, kAccessWrite, kShareNone, Disposition::kCreateNew, kAttrHidden));
  EXPECT_EQ(kAttrHidden | kAttrArchive, fs.GetAttributes(path));
  const std::string host = WindowsToHostPath(path);
  char buf[16] = {0};
  ASSERT_GT(::getxattr(host.c_str(), "user.crx.attributes", buf, sizeof buf - 1), 0);
  EXPECT_EQ(kAttrHidden | kAttrArchive, static_cast<uint32_t>(std::atoi(buf)));
  ASSERT_TRUE(fs.SetAttributes(path, kAttrReadOnly));
  struct stat st;
  ASSERT_EQ(0, ::stat(host.c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 0222);
  ASSERT_TRUE(fs.SetAttributes(path, kAttrNormal));
  ASSERT_EQ(0, ::stat(host.c_str(), &st));
  EXPECT_NE(0u, st.st_mode & 0200);
  // Writing sets the archive bit again.
  EXPECT_EQ(kAttrNormal, fs.GetAttributes(path));
  {
    std::unique_ptr<File> f = fs.Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->Write("x", 1));
  }
  EXPECT_EQ(kAttrArchive, fs.GetAttributes(path));
  // A host file made outside the machine counts as archive.
  const std::string outside = WindowsToHostPath(tp.Scratch()) + "/outside.txt";
  std::ofstream(outside) << "o";
  EXPECT_EQ(kAttrArchive, fs.GetAttributes(tp.Scratch() + "\\outside.txt"));
  // Short names are kept with the file and stay unique.
  ASSERT_TRUE(fs.Open(tp.Scratch() + "\\Long Name One.txt", kAccessWrite, kShareNone, Disposition::kCreateNew));
  ASSERT_TRUE(fs.Open(tp.Scratch() + "\\Long Name Two.txt", kAccessWrite, kShareNone, Disposition::kCreateNew));
  std::string one, two;
  ASSERT_TRUE(fs.ShortPath(tp.Scratch() + "\\Long Name One.txt", &one));
  ASSERT_TRUE(fs.ShortPath(tp.Scratch() + "\\Long Name Two.txt", &two));
  // Every element that is not an 8.3 name gets its alias.
  EXPECT_EQ("C:\\WINDOWS\\TEMP\\CRXTES~1\\LONGNA~1.TXT", one);
  EXPECT_EQ("C:\\WINDOWS\\TEMP\\CRXTES~1\\LONGNA~2.TXT", two);
  EXPECT_TRUE(fs.Exists(two));
  ASSERT_TRUE(fs.Open(tp.Scratch() + "\\Long Name Aaa.txt", kAccessWrite, kShareNone, Disposition::kCreateNew));
  ASSERT_TRUE(fs.ShortPath(tp.Scratch() + "\\Long Name One.txt", &one));
  EXPECT_EQ("C:\\WINDOWS\\TEMP\\CRXTES~1\\LONGNA~1.TXT", one);
}

TEST(MachineTest, BootMovesAreRecordedForTheSessionManager) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  ASSERT_TRUE(p.shell.MoveAtBoot("C:\\a\\new.dll", "C:\\b\\old.dll"));
  ASSERT_TRUE(p.shell.MoveAtBoot("C:\\gone.tmp", ""));
  RegKey k = 0;
  ASSERT_EQ(kErrorSuccess, p.registry.OpenKey(kHKeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                              RegAccess::kRead, &k));
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kErrorSuccess, p.registry.QueryValue(k, "PendingFileRenameOperations", &type, &data));
  p.registry.CloseKey(k);
  EXPECT_EQ(kRegMultiSz, type);
  static const char kExpected[] =
      "\\??\\C:\\a\\new.dll\0\\??\\C:\\b\\old.dll\0\\??\\C:\\gone.tmp\0\0";
  EXPECT_EQ(std::string(kExpected, sizeof kExpected), data);

  std::string error;
  {
    std::unique_ptr<Machine> machine = Machine::Open(tp.MachineFolder(), &error);
    ASSERT_TRUE(machine) << error;
    machine->MutableSettings().boot_moves = false;
    ASSERT_TRUE(machine->SaveSettings(&error));
  }
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  EXPECT_FALSE(host->Get().shell.MoveAtBoot("C:\\x", ""));
  EXPECT_EQ(kErrorInvalidParameter, LastError());
}

TEST(MachineTest, ProgramsAreHostExecutables) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string dir = WindowsToHostPath(tp.Scratch());
  // A program written without ".exe" on the host is still found as tool.exe.
  {
    std::ofstream script(dir + "/tool");
    script << "#!/bin/sh\nprintf '%s|' \"$@\" > \"$1\"\nexit 5\n";
  }
  ASSERT_EQ(0, ::chmod((dir + "/tool").c_str(), 0755));
  std::unique_ptr<Process> child =
      p.processes.Start("\"" + tp.Scratch() + "\\TOOL\" out.txt \"a b\" c", {tp.Scratch(), false});
  ASSERT_TRUE(child) << LastError();
  ASSERT_EQ(WaitResult::kDone, child->Wait(kInfinite));
  uint32_t code = 0;
  ASSERT_TRUE(child->ExitCode(&code));
  EXPECT_EQ(5u, code);
  std::ifstream out(dir + "/out.txt");
  std::string line;
  std::getline(out, line);
  EXPECT_EQ("out.txt|a b|c|", line);
  // A file that is not executable is not a program.
  std::ofstream(dir + "/data.exe") << "data";
  ASSERT_EQ(0, ::chmod((dir + "/data.exe").c_str(), 0644));
  EXPECT_FALSE(p.processes.Start("\"" + tp.Scratch() + "\\data.exe\"", {}));
  EXPECT_EQ(kErrorBadExeFormat, LastError());
  // A program written or copied on the machine has no execute permission
  // on the host; it runs all the same, as it would on Windows.
  ASSERT_TRUE(p.files.CopyFile(tp.Scratch() + "\\tool", tp.Scratch() + "\\copy.exe", false));
  ASSERT_EQ(0, ::chmod((dir + "/copy.exe").c_str(), 0644));
  child = p.processes.Start("\"" + tp.Scratch() + "\\copy.exe\" out2.txt", {tp.Scratch(), false});
  ASSERT_TRUE(child) << LastError();
  ASSERT_EQ(WaitResult::kDone, child->Wait(kInfinite));
  ASSERT_TRUE(child->ExitCode(&code));
  EXPECT_EQ(5u, code);
  // Shell commands find host tools and run in the folder given.
  uint32_t rc = 9;
  ASSERT_TRUE(p.processes.RunShellCommand("test -f out.txt && ls >/dev/null", tp.Scratch(), &rc));
  EXPECT_EQ(0u, rc);
  // The program's own path is a Windows path.
  EXPECT_EQ(':', p.processes.ProgramPath()[1]);
}

TEST(MachineTest, FirstCtrlCIsNotedNotFatal) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Terminal& terminal = tp.Get().terminal;
  EXPECT_FALSE(terminal.Interrupted());
  ASSERT_TRUE(terminal.CatchInterrupt());
  ASSERT_EQ(0, ::raise(SIGINT));  // would end the test program without the catch
  EXPECT_TRUE(terminal.Interrupted());
}

}  // namespace
}  // namespace crx
