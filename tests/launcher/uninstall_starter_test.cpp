// The uninstall starter: how it reads the registered command's argument,
// where it starts the interpreter and on what, and what it says when it
// cannot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/winpath.h"
#include "engine/user_interface.h"
#include "launcher/launcher.h"
#include "launcher/uninstall_starter.h"
#include "support/fake_processes.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

class NoticesUi : public UserInterface {
 public:
  std::vector<std::string> messages;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    messages.push_back(text);
    return kIdOk;
  }
};

class InstantClock : public Clock {
 public:
  explicit InstantClock(Clock& real) : real_(real) {}
  SystemTime UtcNow() override { return real_.UtcNow(); }
  SystemTime LocalNow() override { return real_.LocalNow(); }
  uint32_t TickCount() override { return real_.TickCount(); }
  void Sleep(uint32_t) override {}

 private:
  Clock& real_;
};

TEST(UninstallStarter, ReadsTheSilentFormAndTheQuotedFolder) {
  struct Row {
    const char* arguments;
    const char* silent;
    const char* folder;
  } rows[] = {
      {"\"C:\\Program Files\\Widget\\uninstall\"", "", "C:\\Program Files\\Widget\\uninstall"},
      {"C:\\Widget\\uninstall", "", "C:\\Widget\\uninstall"},
      {"  \"C:\\Program Files\\W\\uninstall\"  ", "", "C:\\Program Files\\W\\uninstall"},
      {"/sms:silent \"C:\\Program Files\\W\\uninstall\"", "/sms:silent",
       "C:\\Program Files\\W\\uninstall"},
      {"/sms:C:\\answers\\remove.ini  \"C:\\W\\uninstall\"", "/sms:C:\\answers\\remove.ini",
       "C:\\W\\uninstall"},
      {"/sms:silent", "/sms:silent", ""},
      {"", "", ""},
      // Only the prefix the interpreter knows counts, in its case.
      {"/SMS:silent C:\\W", "", "/SMS:silent C:\\W"},
      // A lone quote is not a pair.
      {"\"", "", "\""},
  };
  for (const Row& row : rows) {
    launcher::UninstallArguments parsed = launcher::ParseUninstallArguments(row.arguments);
    EXPECT_EQ(parsed.silent_option, row.silent) << row.arguments;
    EXPECT_EQ(parsed.folder, row.folder) << row.arguments;
  }
  EXPECT_EQ(launcher::UninstallInterpreterArguments(""), "uninstall.txt");
  EXPECT_EQ(launcher::UninstallInterpreterArguments("/sms:silent"), "/sms:silent uninstall.txt");
}

class UninstallStarterRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    start_folder_ = machine_.Scratch() + "\\start";
    home_ = machine_.Scratch() + "\\Widget Tools";
    uninstall_ = home_ + "\\uninstall";
    ASSERT_TRUE(p_.files.CreateFolder(start_folder_));
    ASSERT_TRUE(p_.files.CreateFolder(home_));
    ASSERT_TRUE(p_.files.CreateFolder(uninstall_));
    ASSERT_TRUE(p_.files.SetCurrentFolder(start_folder_));
  }
  void TearDown() override { p_.files.SetCurrentFolder(machine_.Scratch()); }

  test::TestPlatform machine_;
  test::RecordingProcesses processes_{machine_.Get().processes};
  InstantClock clock_{machine_.Get().clock};
  Platform p_{machine_.Get().files, machine_.Get().registry, processes_,
              machine_.Get().environment, clock_, machine_.Get().terminal,
              machine_.Get().shell};
  NoticesUi ui_;
  std::string start_folder_, home_, uninstall_;
};

TEST_F(UninstallStarterRun, StartsTheInterpreterCopyOnUninstallTxtInItsFolder) {
  ASSERT_TRUE(test::WriteWholeFile(p_.files, uninstall_ + "\\Kestrova.exe", "interpreter"));
  processes_.exit_code = 3;
  // The registered command: the quoted folder. The interpreter's status
  // comes back.
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "\"" + uninstall_ + "\""), 3);
  EXPECT_TRUE(winpath::EqualsNoCase(p_.files.CurrentFolder(), uninstall_))
      << p_.files.CurrentFolder();
  // Silently, with a response file named from where the starter was
  // started: the path is made absolute before the folder changes.
  ASSERT_TRUE(p_.files.SetCurrentFolder(start_folder_));
  processes_.exit_code = 0;
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "/sms:remove.ini \"" + uninstall_ + "\""), 0);
  ASSERT_TRUE(p_.files.SetCurrentFolder(start_folder_));
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "/sms:silent \"" + uninstall_ + "\""), 0);
  EXPECT_EQ(processes_.started,
            (std::vector<std::string>{
                "Kestrova.exe uninstall.txt",
                "Kestrova.exe /sms:" + p_.files.FullPath(start_folder_ + "\\remove.ini") +
                    " uninstall.txt",
                "Kestrova.exe /sms:silent uninstall.txt"}));
  EXPECT_EQ(processes_.waits, 3);
  EXPECT_TRUE(ui_.messages.empty());

  // The start fails: the launcher's message, and the failure status.
  processes_.fail_with = kErrorBadExeFormat;
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "\"" + uninstall_ + "\""),
            launcher::kLauncherFailed);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("CAN'T START INSTALL SCRIPT...\ncmd=<Kestrova.exe uninstall.txt>",
                                  0),
            0u)
      << ui_.messages[0];
}

TEST_F(UninstallStarterRun, SaysWhyWhenTheFolderOrTheInterpreterIsMissing) {
  // A folder that is gone (the application was removed already).
  const std::string gone = machine_.Scratch() + "\\Gone\\uninstall";
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "\"" + gone + "\""), launcher::kLauncherFailed);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("Uninstall Error...\n\nCan't change to the uninstall folder\n<" +
                                      gone + ">\nerror ",
                                  0),
            0u)
      << ui_.messages[0];
  EXPECT_TRUE(winpath::EqualsNoCase(p_.files.CurrentFolder(), start_folder_));

  // The folder is there but holds no interpreter (a folder named
  // Kestrova.exe does not count).
  ASSERT_TRUE(p_.files.CreateFolder(uninstall_ + "\\Kestrova.exe"));
  ui_.messages.clear();
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "\"" + uninstall_ + "\""),
            launcher::kLauncherFailed);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("Can't find program <Kestrova.exe>\n(uninstall folder: <"),
            std::string::npos)
      << ui_.messages[0];
  EXPECT_TRUE(processes_.started.empty());
}

TEST_F(UninstallStarterRun, WithoutAFolderItUsesItsOwn) {
  // The starter lies in the uninstall folder beside the interpreter; the
  // test program stands in for it, so its own folder is where it looks.
  const std::string own = winpath::Parent(p_.processes.ProgramPath());
  EXPECT_EQ(launcher::RunUninstallStarter(p_, ui_, "/sms:silent"), launcher::kLauncherFailed);
  EXPECT_TRUE(winpath::EqualsNoCase(p_.files.CurrentFolder(), own)) << p_.files.CurrentFolder();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("(uninstall folder: <" + p_.files.CurrentFolder() + ">)"),
            std::string::npos)
      << ui_.messages[0];
}

}  // namespace
}  // namespace crx
