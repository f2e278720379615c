// Replacing and deleting files at the next start: the requests made, their
// order, full paths, the reboot flag, and refusals.
#include <string>

#include "common/format.h"
#include "common/winpath.h"
#include "interpreter/copy_fixture.h"
#include "support/scoped_settings.h"

#ifndef _WIN32
#include "platform/posix/machine.h"
#endif

namespace crx::test {
namespace {

using BootMovesTest = CopyFixture;

TEST_F(BootMovesTest, SupportIsTestedOnceWithAFileInTemp) {
  const std::string test_file = K().VariableText("TEMP") + "\\_ks_test.tmp";
  EXPECT_TRUE(K().BootMoveSupported());
  ASSERT_EQ(1u, shell_.requests.size());
  EXPECT_EQ(test_file, shell_.requests[0].from);
  EXPECT_EQ("", shell_.requests[0].to);
  // The file waits for the next start.
  EXPECT_EQ("Kestrova temp test file\n", Read(test_file));
  EXPECT_TRUE(K().BootMoveSupported());
  EXPECT_EQ(1u, shell_.requests.size());
  // Nothing on Windows removes it at a boot (the request was only recorded).
  if (platform_.MachineFolder().empty()) P().files.DeleteFile(test_file);

  K().boot_moves = -1;
  shell_.refuse = true;
  EXPECT_FALSE(K().BootMoveSupported());
  EXPECT_FALSE(P().files.Exists(test_file));
  EXPECT_EQ(0, K().boot_moves);
}

TEST_F(BootMovesTest, ReplacementAndDeletionWithRelativePaths) {
  const std::string previous = P().files.CurrentFolder();
  ASSERT_TRUE(P().files.SetCurrentFolder(Scratch()));
  Write(At("new.dll"), "new");
  Write(At("lib.dll"), "old");
  const std::string lib = "lib.dll";
  EXPECT_TRUE(K().MoveOnBoot("new.dll", &lib));
  EXPECT_TRUE(K().DeleteOnBoot("gone.txt"));
  P().files.SetCurrentFolder(previous);

  const std::string copy = Format("%s.%x.tmp", At("lib.dll").c_str(),
                                  P().processes.CurrentProcessId());
  EXPECT_EQ("new", Read(copy));
  EXPECT_EQ("old", Read(At("lib.dll")));
  ASSERT_EQ(4u, shell_.requests.size());
  // Delete the destination, move the copy onto it, delete the copy.
  EXPECT_EQ(At("lib.dll"), shell_.requests[0].from);
  EXPECT_EQ("", shell_.requests[0].to);
  EXPECT_EQ(copy, shell_.requests[1].from);
  EXPECT_EQ(At("lib.dll"), shell_.requests[1].to);
  EXPECT_EQ(copy, shell_.requests[2].from);
  EXPECT_EQ("", shell_.requests[2].to);
  EXPECT_EQ(At("gone.txt"), shell_.requests[3].from);
  EXPECT_EQ("", shell_.requests[3].to);
  EXPECT_TRUE(K().reboot_needed);
  EXPECT_EQ("TRUE", K().VariableText("NEEDS_RE_BOOT"));
  EXPECT_EQ(1, K().boot_moves);

  const std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("# move on boot: 'new.dll' --> 'lib.dll'\n# add full destination path...\n"
                     "# ... <" + At("lib.dll") + ">\n# copy source file to temp location...\n"
                     "# ... <" + copy + ">\n# OS MoveFileEx <" + copy + "> --> <" +
                     At("lib.dll") + "> OK\n# ... delete temp file used for copy\n"));
  EXPECT_NE(std::string::npos,
            log.find("# delete on boot: 'gone.txt'\n# add full source path for removal...\n"
                     "# ... <" + At("gone.txt") + ">\n# OS MoveFileEx <" + At("gone.txt") +
                     "> --> <NULL> OK\n"));

  if (!platform_.MachineFolder().empty()) {
    // The emulated machine keeps them where the system's boot reads them.
    RegKey key = 0;
    ASSERT_EQ(kErrorSuccess,
              P().registry.OpenKey(kHKeyLocalMachine,
                                   "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                   RegAccess::kRead, &key));
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(kErrorSuccess,
              P().registry.QueryValue(key, "PendingFileRenameOperations", &type, &data));
    P().registry.CloseKey(key);
    const std::string expected = "\\??\\" + At("lib.dll") + '\0' + '\0' + "\\??\\" + copy +
                                 '\0' + "\\??\\" + At("lib.dll") + '\0' + "\\??\\" + copy +
                                 '\0' + '\0' + "\\??\\" + At("gone.txt") + '\0' + '\0' + '\0';
    EXPECT_EQ(expected, data);
  }
}

TEST_F(BootMovesTest, RefusedMovesFailAndLeaveNothing) {
  // Refused by the system and impossible through the initialisation file
  // too (paths without short names: they do not exist).
  Write(At("new.dll"), "new");
  const std::string destination = At("lib.dll");
  const std::string copy =
      Format("%s.%x.tmp", destination.c_str(), P().processes.CurrentProcessId());
  shell_.refuse = true;
  shell_.refusal = kErrorAccessDenied;
  EXPECT_FALSE(K().MoveOnBoot(At("new.dll"), &destination));
  EXPECT_FALSE(P().files.Exists(copy));
  EXPECT_FALSE(K().DeleteOnBoot(At("none.dll")));
  EXPECT_TRUE(P().files.Exists(At("new.dll")));
  EXPECT_FALSE(K().reboot_needed);
  EXPECT_NE("TRUE", K().VariableText("NEEDS_RE_BOOT"));
  EXPECT_EQ(0, K().boot_moves);
  std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("# ... boot-time move refused by the system, error 5[0x5]\n"
                     "# ...use 8.3 short names\n# ... no short name for <" + destination + ">\n"));
  EXPECT_NE(std::string::npos, log.find("# ... no short name for <" + At("none.dll") + ">\n"));
  // No entry for the copy was made before the failure was known.
  EXPECT_EQ(std::string::npos, log.find("# ... delete temp file used for copy\n"));

  // A source that cannot be copied beside the destination.
  shell_.refuse = false;
  EXPECT_FALSE(K().MoveOnBoot(At("none.dll"), &destination));
  EXPECT_TRUE(shell_.requests.empty());
  EXPECT_NE(std::string::npos, LogText().find("# ... copy to temp file failed\n"));
}

#ifndef _WIN32
TEST_F(BootMovesTest, MachineWithoutBootMovesRefuses) {
  std::string error;
  {
    std::unique_ptr<Machine> machine = Machine::Open(platform_.MachineFolder(), &error);
    ASSERT_TRUE(machine) << error;
    machine->MutableSettings().boot_moves = false;
    ASSERT_TRUE(machine->SaveSettings(&error)) << error;
  }
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  shell_.ForwardTo(host->Get().shell);
  Write(At("new.dll"), "new");
  const std::string destination = At("lib.dll");
  EXPECT_FALSE(K().MoveOnBoot(At("new.dll"), &destination));
  EXPECT_FALSE(K().BootMoveSupported());
  EXPECT_FALSE(K().reboot_needed);
  EXPECT_NE(std::string::npos,
            LogText().find("# ... boot-time move refused by the system, error 87[0x57]"));
  EXPECT_EQ(std::vector<std::string>{"new.dll"}, Names(Scratch()));
}

#endif

// A system without boot-time moves: wininit.ini and the rename batch. On
// the emulated machine the machine refuses the moves; under wine the
// recording shell does, and the test has a Startup folder of its own and
// puts the system's initialisation file back. Never on a real Windows
// system.
class InitFileTest : public BootMovesTest {
 protected:
  void SetUp() override {
    BootMovesTest::SetUp();
    init_file_ = P().environment.WindowsFolder() + "\\wininit.ini";
#ifndef _WIN32
    std::string error;
    {
      std::unique_ptr<Machine> machine = Machine::Open(platform_.MachineFolder(), &error);
      ASSERT_TRUE(machine) << error;
      machine->MutableSettings().boot_moves = false;
      ASSERT_TRUE(machine->SaveSettings(&error)) << error;
    }
    host_platform_ = OpenHostPlatform(&error);
    ASSERT_TRUE(host_platform_) << error;
    shell_.ForwardTo(host_platform_->Get().shell);
#else
    if (!platform_.UnderWine()) GTEST_SKIP() << "writes the system's wininit.ini";
    shell_.refuse = true;
    ASSERT_TRUE(P().files.CreateFolder(At("Startup")));
    startup_ = std::make_unique<ScopedRegistryString>(
        P().registry, kHKeyCurrentUser,
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Startup");
    ASSERT_TRUE(startup_->Set(At("Startup")));
    saved_init_file_ = std::make_unique<ScopedFileContent>(P().files, init_file_);
#endif
  }
  void TearDown() override {
    saved_init_file_.reset();
    startup_.reset();
    BootMovesTest::TearDown();
  }
  bool Emulated() { return !platform_.MachineFolder().empty(); }
  std::string Short(const std::string& path) {
    std::string out;
    EXPECT_TRUE(P().files.ShortPath(path, &out)) << path;
    return out;
  }
  std::string StartupBatch(const char* prefix) {
    std::string folder;
    RegKey key = 0;
    if (P().registry.OpenKey(kHKeyCurrentUser,
                             "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                             RegAccess::kRead, &key) != kErrorSuccess) {
      return "";
    }
    P().registry.GetString(key, "Startup", &folder);
    P().registry.CloseKey(key);
    std::vector<FolderEntry> entries;
    P().files.ListFolder(folder + "\\" + prefix + "_*.bat", &entries);
    return entries.size() == 1 ? folder + "\\" + entries[0].name : "";
  }

  std::unique_ptr<HostPlatform> host_platform_;
  std::string init_file_;
  std::unique_ptr<ScopedRegistryString> startup_;
  std::unique_ptr<ScopedFileContent> saved_init_file_;
};

TEST_F(InitFileTest, ReplacementGoesToTheTopOfRenameWithShortNamesAndTheBatchRestoresTheName) {
  Set("APP", "Tool");
  // Under wine a folder of the test's own: nothing is left in the system's.
  const std::string folder =
      Emulated() ? "C:\\Program Files\\Long Folder Name" : At("Long Folder Name");
  ASSERT_TRUE(P().files.CreateFolder(folder));
  const std::string destination = folder + "\\LibraryWithLongName.dll";
  Write(destination, "old");
  Write(At("new.dll"), "new");
  Write(init_file_, "[boot]\r\nshell=x\r\n[Rename]\r\nOLD=ENTRY\r\n[other]\r\n");

  ASSERT_TRUE(K().MoveOnBoot(At("new.dll"), &destination));
  const std::string copy =
      Format("%s.%x.tmp", destination.c_str(), P().processes.CurrentProcessId());
  EXPECT_EQ("new", Read(copy));
  EXPECT_EQ("old", Read(destination));
  const std::string short_destination = Short(destination);
  // The emulated machine makes short names as Windows does; wine makes
  // its own.
  if (Emulated()) {
    EXPECT_EQ(0u, short_destination.find("C:\\PROGRA~1\\LONGFO~1\\"));
  }
  // The move first, the deletion of the copy after it, then what was there.
  EXPECT_EQ("[boot]\r\nshell=x\r\n[Rename]\r\n" + short_destination + "=" + Short(copy) +
                "\r\nNUL=" + Short(copy) + "\r\nOLD=ENTRY\r\n[other]\r\n",
            Read(init_file_));
  EXPECT_TRUE(K().reboot_needed);
  EXPECT_EQ("TRUE", K().VariableText("NEEDS_RE_BOOT"));
  EXPECT_EQ(0, K().boot_moves);

  const std::string renamed = folder + "\\" + winpath::LastElement(short_destination);
  const std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("# ... native MoveFileEx() function not supported in this OS "
                     "environment...\n# ... update wininit file <" + init_file_ +
                     "> manually\nOpen Rename Bat File...\n"));
  EXPECT_NE(std::string::npos, log.find("SCHED RENAME \"" + renamed +
                                        "\" --> \"LibraryWithLongName.dll\"\n"));

  // A name that is already short needs no rename line.
  const std::string plain = At("plain.dll");
  Write(plain, "old");
  ASSERT_TRUE(K().MoveOnBoot(At("new.dll"), &plain));
  EXPECT_EQ(0u, Read(init_file_).find("[boot]\r\nshell=x\r\n[Rename]\r\n" + Short(plain) + "="));

  const std::string batch = StartupBatch("ks_rename");
  ASSERT_FALSE(batch.empty());
  K().CloseRenameBatch();
  EXPECT_EQ("echo off\necho.Complete Installation Of Tool...\n"
            "if exist \"" + renamed + "\" rename \"" + renamed + "\" \"LibraryWithLongName.dll\"\n"
            "echo.\necho.Installation Of Tool Is Complete\n"
            "echo.A REBOOT IS REQUIRED FOR THE CHANGES TO TAKE EFFECT\n"
            "pause\necho.task completed successfully\n"
            "echo.subsequent error messages can be ignored...\ndel \"" + batch + "\"\n",
            Read(batch));
  P().files.DeleteFile(batch);
}

TEST_F(InitFileTest, TheRenameSectionIsMadeWhenMissingAndOtherLinesKeepTheirEnds) {
  // No file at all: it is made.
  P().files.DeleteFile(init_file_);
  Write(At("gone.txt"), "x");
  ASSERT_TRUE(K().DeleteOnBoot(At("gone.txt")));
  EXPECT_EQ("[Rename]\r\nNUL=" + Short(At("gone.txt")) + "\r\n", Read(init_file_));

  // A file without the section, whose last line has no line end.
  Write(init_file_, "[boot]\r\nshell=x");
  ASSERT_TRUE(K().DeleteOnBoot(At("gone.txt")));
  EXPECT_EQ("[boot]\r\nshell=x\r\n[Rename]\r\nNUL=" + Short(At("gone.txt")) + "\r\n",
            Read(init_file_));
  // Only the exact section name counts.
  Write(init_file_, "[rename]\r\nA=B\r\n");
  ASSERT_TRUE(K().DeleteOnBoot(At("gone.txt")));
  EXPECT_EQ("[rename]\r\nA=B\r\n[Rename]\r\nNUL=" + Short(At("gone.txt")) + "\r\n",
            Read(init_file_));
  // No temporary file is left beside it.
  std::vector<FolderEntry> left;
  P().files.ListFolder(init_file_ + ".*.tmp", &left);
  EXPECT_TRUE(left.empty());

  // Without APP the entry is still made, but no batch can restore a name.
  const std::string destination = At("LongLibraryName.dll");
  Write(destination, "old");
  Write(At("new.dll"), "new");
  EXPECT_TRUE(K().MoveOnBoot(At("new.dll"), &destination));
  ASSERT_FALSE(front_end_.shown.empty());
  EXPECT_EQ(0u, front_end_.shown.back().text.find(
                    "ERROR IN SCRIPT CONVETION\nThe variable APP has not been set\nNo RENAME "
                    "BATCH JOB can be generated"));
  EXPECT_EQ("", StartupBatch("ks_rename"));
  EXPECT_EQ(0u, Read(init_file_).find("[rename]\r\nA=B\r\n[Rename]\r\n" + Short(destination) + "="));
}

}  // namespace
}  // namespace crx::test
