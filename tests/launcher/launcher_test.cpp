// The setup launcher: what it starts, what it says when it cannot, and (on
// Linux) the real program handing its arguments and the interpreter's exit
// status through.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "launcher/launcher.h"
#include "support/fake_processes.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#endif

namespace crx {
namespace {

class MessagesUi : public UserInterface {
 public:
  std::vector<std::string> messages;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    messages.push_back(text);
    return kIdOk;
  }
};

class NoSleepClock : public Clock {
 public:
  explicit NoSleepClock(Clock& real) : real_(real) {}
  uint32_t slept = 0;
  SystemTime UtcNow() override { return real_.UtcNow(); }
  SystemTime LocalNow() override { return real_.LocalNow(); }
  uint32_t TickCount() override { return real_.TickCount(); }
  void Sleep(uint32_t ms) override { slept += ms; }

 private:
  Clock& real_;
};

TEST(SetupLauncher, StartsTheInterpreterWithItsOwnArgumentsOrSaysWhyNot) {
  test::TestPlatform machine;
  ASSERT_TRUE(machine.ok()) << machine.Error();
  Platform& real = machine.Get();
  test::RecordingProcesses processes(real.processes);
  NoSleepClock clock(real.clock);
  Platform p{real.files, real.registry, processes, real.environment, clock, real.terminal,
             real.shell};
  MessagesUi ui;
  const std::string folder = machine.Scratch();
  ASSERT_TRUE(p.files.SetCurrentFolder(folder));

  // No interpreter in the folder: one message naming the folder, nothing
  // started.
  EXPECT_EQ(launcher::RunSetupLauncher(p, ui, "/sms:silent"), launcher::kLauncherFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0],
            "Setup Error...\n\nCan't find program <Kestrova.exe>\n(current directory: <" +
                p.files.CurrentFolder() +
                ">)\n\nTHE Cratex ARCHIVE DOES NOT CONTAIN\nALL THE REQUIRED INSTALLATION FILES");
  EXPECT_TRUE(processes.started.empty());

  ASSERT_TRUE(test::WriteWholeFile(p.files, folder + "\\Kestrova.exe", ""));
  // The arguments go through unchanged; none gives a single blank.
  processes.exit_code = 5;
  EXPECT_EQ(launcher::RunSetupLauncher(p, ui, "/sms:C:\\answers\\resp.ini"), 5);
  EXPECT_EQ(launcher::RunSetupLauncher(p, ui, ""), 5);
  EXPECT_EQ(processes.started,
            (std::vector<std::string>{"Kestrova.exe /sms:C:\\answers\\resp.ini", "Kestrova.exe "}));
  EXPECT_EQ(clock.slept, 2000u);

  // The start fails: the command line, the error in both bases, the folder.
  ui.messages.clear();
  processes.fail_with = 193;
  EXPECT_EQ(launcher::RunSetupLauncher(p, ui, "\"C:\\Program Files\\Widget\""),
            launcher::kLauncherFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "CAN'T START INSTALL SCRIPT...\ncmd=<Kestrova.exe \"C:\\Program "
                            "Files\\Widget\">...\nerror 193 [0xc1]\npwd=<" +
                                p.files.CurrentFolder() + ">");
}

#ifndef _WIN32
// The real launcher on an emulated machine whose interpreter is a shell
// script that writes down the command line it was given.
TEST(SetupLauncher, RealProgramPassesTheCommandLineAndExitStatus) {
  ASSERT_EQ(::chdir("/"), 0);
  char pattern[] = "/tmp/crxlauncher.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  {
    std::ofstream script(root + "/Kestrova.exe");
    script << "#!/bin/sh\nprintf '%s' \"$CRX_COMMAND_LINE\" > command.txt\nexit 7\n";
  }
  ASSERT_EQ(::chmod((root + "/Kestrova.exe").c_str(), 0755), 0);
  // A program is looked for in the starting program's folder first, as
  // Windows does: the launcher runs from the test's folder, as it runs
  // from the folder an archive was extracted to, and not from the build
  // folder beside the real interpreter.
  ASSERT_EQ(std::system(("/bin/cp '" CRX_SETUP_PROGRAM "' '" + root + "/setup'").c_str()), 0);
  auto run = [&](const std::string& args) {
    // Other tests of this program change its PATH and folder: the child
    // gets its own.
    std::string command = "cd '" + root + "' && /usr/bin/env -u CRX_MACHINE_SESSION "
                          "PATH=/usr/local/bin:/usr/bin:/bin CRX_MACHINE='" + root + "/machine' " +
                          root + "/setup " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buf[512];
    while (pipe && std::fread(buf, 1, sizeof buf, pipe) > 0) {
    }
    int status = pipe ? ::pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("'/sms:C:\\resp.ini'"), 7);
  std::ifstream got(root + "/command.txt");
  std::stringstream text;
  text << got.rdbuf();
  EXPECT_EQ(text.str(), "Kestrova.exe /sms:C:\\resp.ini");

  ASSERT_EQ(std::remove((root + "/Kestrova.exe").c_str()), 0);
  EXPECT_EQ(run(""), launcher::kLauncherFailed);
  std::system(("/bin/rm -rf '" + root + "'").c_str());
}
#endif

}  // namespace
}  // namespace crx
