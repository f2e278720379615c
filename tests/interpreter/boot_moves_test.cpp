// Replacing and deleting files at the next start: the requests made, their
// order, full paths, the reboot flag, and refusals.
#include <string>

#include "common/format.h"
#include "interpreter/copy_fixture.h"

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
  Write(At("new.dll"), "new");
  const std::string destination = At("lib.dll");
  const std::string copy =
      Format("%s.%x.tmp", destination.c_str(), P().processes.CurrentProcessId());
  shell_.refuse = true;
  shell_.refusal = kErrorAccessDenied;
  EXPECT_FALSE(K().MoveOnBoot(At("new.dll"), &destination));
  EXPECT_FALSE(P().files.Exists(copy));
  EXPECT_FALSE(K().DeleteOnBoot(At("new.dll")));
  EXPECT_TRUE(P().files.Exists(At("new.dll")));
  EXPECT_FALSE(K().reboot_needed);
  EXPECT_NE("TRUE", K().VariableText("NEEDS_RE_BOOT"));
  EXPECT_EQ(0, K().boot_moves);
  std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("# ... delete temp file used for copy\n# ... boot-time move refused by the "
                     "system, error 5[0x5]; scheduling through the initialisation file is not "
                     "available\n"));

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

}  // namespace
}  // namespace crx::test
