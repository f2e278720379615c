// The guards of installations and removals (oktoinstall, oktoinstallex,
// oktouninstall, oktouninstallex) and remove with its reference counts and
// the "Remove Unused File" question.

#include <string>
#include <vector>

#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"
#include "support/removal_run.h"
#include "ui/remove_file_dialog.h"

namespace crx::test {
namespace {

constexpr const char* kSharedDlls = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

class UninstallCommandsTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
    app_ = "Tool " + winpath::LastElement(platform_.ScratchKey());
    K().SetVariable("VENDOR", kVendor);
    K().SetVariable("APP", app_);
    K().SetVariable("VER", "2.0");
  }
  void TearDown() override {
    P().registry.DeleteTree(kHKeyLocalMachine, std::string("SOFTWARE\\") + kVendor);
    P().registry.DeleteTree(kHKeyLocalMachine,
                            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app_);
    ScopedRegKey key(P().registry);
    if (P().registry.OpenKey(kHKeyLocalMachine, kSharedDlls, RegAccess::kAll, key.Out()) == 0) {
      for (const std::string& name : counted_) P().registry.DeleteValue(key.Get(), name);
    }
  }

  // Runs one script line (expanded, split, dispatched as the runner does,
  // without the runner's failure report).
  bool Line(const std::string& line) {
    K().SplitLine(K().ExpandLine(line));
    return K().Dispatch();
  }
  void Version(const std::string& ver) {
    ScopedRegKey key(P().registry);
    ASSERT_EQ(0, P().registry.CreateKey(kHKeyLocalMachine,
                                        std::string("SOFTWARE\\") + kVendor + "\\" + app_ + "\\" + ver,
                                        RegAccess::kAll, key.Out(), nullptr));
  }
  bool KeyExists(const std::string& path) {
    ScopedRegKey key(P().registry);
    return P().registry.OpenKey(kHKeyLocalMachine, path, RegAccess::kRead, key.Out()) == 0;
  }
  void Silent(const std::string& responses) {
    K().silent_mode.set_silent(true);
    if (responses.empty()) return;
    ASSERT_TRUE(WriteWholeFile(P().files, At("answers.ini"), "[Kestrova]\n" + responses));
    K().silent_mode.set_response_file(At("answers.ini"));
  }
  std::string At(const std::string& name) { return platform_.Scratch() + "\\" + name; }
  std::string File(const std::string& name) {
    std::string path = At(name);
    EXPECT_TRUE(WriteWholeFile(P().files, path, "x")) << path;
    return path;
  }
  void SetCount(const std::string& path, int count) {
    counted_.push_back(path);
    ASSERT_EQ(0, K().SetSharedRefCount(path, count));
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const ShownDialog& d : front_end_.shown) out.push_back(d.text);
    return out;
  }
  std::string About(const char* what) {
    return std::string("About to ") + what + " the following software...\n'" + app_ +
           "' version 2.0, from '" + kVendor + "'\n\nDo you want to continue";
  }

  static constexpr const char* kVendor = "CratexTestAcme";
  std::string app_;
  std::vector<std::string> counted_;
};

TEST_F(UninstallCommandsTest, OtherVersionsConflictAndTheInstallQuestionIsStillAsked) {
  // No key of the application at all: only the question; No cancels, and
  // nothing is created by looking.
  front_end_.answers = {kIdNo};
  EXPECT_TRUE(Line("oktoinstall"));
  EXPECT_EQ(Texts(), std::vector<std::string>{About("install")});
  EXPECT_TRUE(K().cancelled);
  EXPECT_FALSE(KeyExists(std::string("SOFTWARE\\") + kVendor));

  Version("1.0");
  Version("1.5");
  K().cancelled = false;
  front_end_.shown.clear();
  front_end_.answers = {kIdOk, kIdYes};
  EXPECT_TRUE(Line("oktoinstall"));
  ASSERT_EQ(front_end_.shown.size(), 2u);
  EXPECT_EQ(front_end_.shown[0].text,
            "VERSION CONFLICT...\n\nThe following versions have been found on your "
            "system\n\n'1.0 1.5'\n\nYOU MUST UNINSTALL PREVIOUS VERSIONS BEFORE CONTINUING.");
  EXPECT_EQ(front_end_.shown[0].flags, static_cast<uint32_t>(kMbIconHand));
  EXPECT_EQ(front_end_.shown[1].text, About("install"));
  EXPECT_EQ(front_end_.shown[1].flags & kMbTypeMask, static_cast<uint32_t>(kMbYesNo));
  EXPECT_TRUE(K().cancelled) << "Yes to the last question does not undo the conflict";

  // With -advise the conflict is a warning; Yes to both goes on.
  K().cancelled = false;
  front_end_.shown.clear();
  front_end_.answers = {kIdYes, kIdYes};
  EXPECT_TRUE(Line("oktoinstall -advise"));
  ASSERT_EQ(front_end_.shown.size(), 2u);
  EXPECT_EQ(front_end_.shown[0].text,
            "WARNING...\n\nThe following versions have been found on your\nsystem\n\n'1.0 "
            "1.5'\n\nYou are recomended to uninstall all previous\nversions before "
            "continuing\n\nDO YOU WANT TO CONTINUE TO INSTALL");
  EXPECT_FALSE(K().cancelled);
  front_end_.answers = {kIdNo, kIdYes};
  EXPECT_TRUE(Line("oktoinstall -advise"));
  EXPECT_TRUE(K().cancelled);

  // One other version: the singular word.
  P().registry.DeleteTree(kHKeyLocalMachine,
                          std::string("SOFTWARE\\") + kVendor + "\\" + app_ + "\\1.5");
  K().cancelled = false;
  front_end_.shown.clear();
  front_end_.answers = {kIdOk, kIdYes};
  EXPECT_TRUE(Line("oktoinstallex"));
  ASSERT_FALSE(front_end_.shown.empty());
  EXPECT_NE(front_end_.shown[0].text.find("The following version has been found on your system\n\n'1.0'"),
            std::string::npos)
      << front_end_.shown[0].text;
  EXPECT_TRUE(K().extended_confirmation);
}

TEST_F(UninstallCommandsTest, ThisVersionInstalled) {
  Version("2.0");
  Version("1.0");
  // Without -advise: the conflict, and no further question.
  EXPECT_TRUE(Line("oktoinstall"));
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "VERSION CONFLICT...\n\nThe version you are about to install is already "
                         "installed!\nYOU MUST UNINSTALL PREVIOUS VERSIONS BEFORE CONTINUING"});
  EXPECT_TRUE(K().cancelled);

  // With -advise, interactively: the warning only.
  const std::string warning =
      "WARNING...\n\nThe version you are about to install is already installed!\nYou are "
      "recomended to uninstall previous versions before\ncontinuing.\n\nDO YOU WANT TO "
      "CONTINUE WITH THE INSTALLATION";
  K().cancelled = false;
  front_end_.shown.clear();
  front_end_.answers = {kIdYes};
  EXPECT_TRUE(Line("oktoinstall -advise"));
  EXPECT_EQ(Texts(), std::vector<std::string>{warning});
  EXPECT_FALSE(K().cancelled);

  // Silently, ReinstallIfPresent=FALSE is not a No: the default (Yes) is used.
  Silent("ReinstallIfPresent=FALSE\n");
  front_end_.shown.clear();
  EXPECT_TRUE(Line("oktoinstall -advise"));
  EXPECT_FALSE(K().cancelled);
  EXPECT_TRUE(front_end_.shown.empty());
  std::string log = LogText();
  EXPECT_NE(log.find("SMSMODE: processing 'oktoinstall -advise'...\nRSP<"), std::string::npos);
  EXPECT_NE(log.find("SMSMODE: 'oktoinstall -advise' no response file entry, default used\n"
                     "\nSMSMODE MESSAGE (flags=0x4)\n" + warning + "\nMESSAGE response: YES\n"),
            std::string::npos)
      << log;
  // ... and true (any case) goes on without the question.
  Silent("ReinstallIfPresent=true\n");
  EXPECT_TRUE(Line("oktoinstall -advise"));
  log = LogText();
  EXPECT_NE(log.find("SMSMODE: 'oktoinstall -advise' ReinstallIfPresent=TRUE\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("SMSMODE MESSAGE"), log.rfind("SMSMODE MESSAGE")) << "asked only once";
  EXPECT_FALSE(K().cancelled);
}

TEST_F(UninstallCommandsTest, OktoinstallChecksItsLineAndTheConvention) {
  EXPECT_FALSE(Line("oktoinstall -x"));
  EXPECT_FALSE(Line("oktoinstall -advise a b"));
  EXPECT_TRUE(front_end_.shown.empty());

  K().SetVariable("APP", " ");
  K().SetVariable("VER", " ");
  EXPECT_FALSE(Line("oktoinstall"));
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "ERROR IN SCRIPT CONVETION\nThe variable APP has not been set\nNo "
                         "UNINSTALL-SCRIPT can be generated without this variable.\nThis "
                         "variable must name the application.\n"});
  EXPECT_EQ(front_end_.shown[0].flags, static_cast<uint32_t>(kMbIconHand));
  EXPECT_FALSE(K().cancelled);
}

TEST_F(UninstallCommandsTest, UpdateMode) {
  EXPECT_TRUE(Line("updating"));
  // Not installed: an error, and the run is cancelled, but the command
  // itself succeeds (no clean-up of an installation that is not there).
  EXPECT_TRUE(Line("oktoinstall"));
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "UPDATE ERROR...\n\nThe software you are about to update is not "
                         "installed!\nThe software must be installed before it can be updated"});
  EXPECT_TRUE(K().cancelled);
  EXPECT_NE(LogText().find("PROCESSING SOFTWARE UPDATE\n"
                           "ERROR: update mode - software not already installed\n"),
            std::string::npos);

  Version("2.0");
  for (int answer : {kIdYes, kIdNo}) {
    K().cancelled = false;
    front_end_.shown.clear();
    front_end_.answers = {answer};
    EXPECT_TRUE(Line("oktoinstall -advise"));
    EXPECT_EQ(Texts(), std::vector<std::string>{About("update")});
    EXPECT_EQ(front_end_.shown[0].flags, static_cast<uint32_t>(kMbYesNo | kMbIconQuestion));
    EXPECT_EQ(K().cancelled, answer == kIdNo);
  }
}

TEST_F(UninstallCommandsTest, UninstallConfirmation) {
  EXPECT_FALSE(Line("oktouninstall"));
  EXPECT_FALSE(Line("oktouninstall -x Tool"));
  EXPECT_FALSE(K().uninstalling);

  front_end_.answers = {kIdNo};
  EXPECT_TRUE(Line("oktouninstall \"Tool Suite\""));
  EXPECT_TRUE(K().uninstalling);
  EXPECT_TRUE(K().cancelled);
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "About to uninstall \"Tool Suite\"\n\nDO YOU WANT TO CONTINUE?");
  EXPECT_EQ(front_end_.shown[0].flags, static_cast<uint32_t>(kMbYesNo | kMbIconQuestion));
  K().cancelled = false;
  front_end_.answers = {kIdYes};
  EXPECT_TRUE(Line("oktouninstallex Tool"));
  EXPECT_FALSE(K().cancelled);
  std::string log = LogText();
  EXPECT_NE(log.find("# not ok to uninstall..."), std::string::npos);
  EXPECT_NE(log.find("# is ok to uninstall..."), std::string::npos);

  // Silently: the answers of the response file, nothing shown.
  front_end_.shown.clear();
  K().uninstalling = false;
  Silent("oktouninstall=yes\n");
  EXPECT_TRUE(Line("oktouninstall Tool"));
  EXPECT_TRUE(K().cancelled) << "only TRUE or 1 goes on";
  EXPECT_TRUE(K().uninstalling);
  EXPECT_NE(LogText().find("SMSMODE; response to 'oktouninstall' = 'YES'\n"), std::string::npos);

  struct Case {
    const char* responses;
    bool cancelled;
    bool uninstalling;
  };
  const Case cases[] = {
      {"", false, true},                                          // no response file
      {"other=1\n", false, true},                                 // no entry
      {"oktouninstallex=0\noktouninstall=TRUE\n", true, false},   // ex answers first
      {"oktouninstallex=True\noktouninstall=no\n", true, true},   // then the plain key
      {"oktouninstallex=1\n", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.responses);
    K().cancelled = false;
    K().uninstalling = false;
    Silent(c.responses);
    if (c.responses[0] == '\0') K().silent_mode = ui::SilentMode(ui::SilentOption{true});
    EXPECT_TRUE(Line("oktouninstallex Tool"));
    EXPECT_EQ(K().cancelled, c.cancelled);
    EXPECT_EQ(K().uninstalling, c.uninstalling);
  }
  EXPECT_NE(LogText().find("SMSMODE; response to 'oktouninstall' = 'TRUE'\n"
                           "RSP<" + At("answers.ini") + ">: oktouninstall := no\n"
                           "SMSMODE; response to 'oktouninstall' = 'NO'\n"),
            std::string::npos);
  EXPECT_TRUE(front_end_.shown.empty());

  // uninstalling acts even in a branch that does not run.
  K().uninstalling = false;
  K().active_index = 0;  // inside a branch that does not run
  K().depth_index = 0;
  K().levels[0] = 0;
  EXPECT_TRUE(Line("uninstalling"));
  EXPECT_TRUE(K().uninstalling);
}

TEST_F(UninstallCommandsTest, RemoveHonoursReferenceCounts) {
  // Still shared: one user fewer, the file stays, nobody is asked.
  const std::string shared = File("shared.dll");
  SetCount(shared, 3);
  EXPECT_TRUE(Line("remove \"" + shared + "\""));
  EXPECT_EQ(K().SharedRefCount(shared), 2);
  EXPECT_TRUE(P().files.IsFile(shared));
  EXPECT_TRUE(front_end_.shown.empty());

  // Unknown count, not a library of the Windows folders: removed at once,
  // also read-only; with WINDIR and SYSDIR unset no library counts as theirs.
  const std::string plain = File("readme.txt");
  P().files.SetAttributes(plain, kAttrReadOnly);
  const std::string library = File("own.dll");
  EXPECT_TRUE(Line("remove \"" + plain + "\""));
  EXPECT_TRUE(Line("remove \"" + library + "\""));
  EXPECT_FALSE(P().files.Exists(plain));
  EXPECT_FALSE(P().files.Exists(library));
  EXPECT_TRUE(front_end_.shown.empty());
  // ... and a missing one fails.
  EXPECT_FALSE(Line("remove \"" + plain + "\""));
  EXPECT_NE(LogText().find("ERROR FROM RMFILE 0xffffffff(-1)\n"), std::string::npos);

  // Count 1: written back as 0, then the question; No keeps the file.
  const std::string last = File("last.ocx");
  SetCount(last, 1);
  front_end_.answers = {ui::kIdRemoveNo};
  EXPECT_TRUE(Line("remove \"" + last + "\""));
  EXPECT_EQ(K().SharedRefCount(last), 0);
  EXPECT_TRUE(P().files.IsFile(last));
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].name, "RemoveUnusedFile");
  EXPECT_NE(front_end_.shown[0].text.find("\n\n" + last + "\n\n"), std::string::npos);
  // Yes removes it.
  front_end_.answers = {ui::kIdRemoveYes};
  EXPECT_TRUE(Line("remove \"" + last + "\""));
  EXPECT_FALSE(P().files.Exists(last));
  EXPECT_EQ(front_end_.shown.size(), 2u);
  EXPECT_EQ(K().SharedRefCount(last), -1) << "the count of a removed file goes with it";

  // A library in the system folder without a count is asked about too.
  ASSERT_TRUE(P().files.CreateFolder(At("system")));
  K().SetVariable("SYSDIR", At("SYSTEM"));
  const std::string system = File("system\\common.dll");
  // Nobody answers: the refusing button, No.
  EXPECT_TRUE(Line("remove \"" + system + "\""));
  EXPECT_TRUE(P().files.IsFile(system));
  EXPECT_EQ(front_end_.shown.size(), 3u);
  EXPECT_NE(LogText().find("# <" + system + "> is a shared DLL\n"), std::string::npos);
}

TEST_F(UninstallCommandsTest, RemoveRemembersToAllAnswers) {
  const std::string a = File("a.dll");
  const std::string b = File("b.dll");
  const std::string c = File("c.dll");
  SetCount(a, 0);
  SetCount(b, 1);
  SetCount(c, 0);
  front_end_.answers = {ui::kIdRemoveYesToAll};
  EXPECT_TRUE(Line("remove \"" + a + "\""));
  EXPECT_TRUE(Line("remove \"" + b + "\""));
  EXPECT_FALSE(P().files.Exists(a));
  EXPECT_FALSE(P().files.Exists(b));
  EXPECT_EQ(front_end_.shown.size(), 1u) << "the second file is removed without a question";

  // No To All keeps every unused file from then on (a fresh run).
  K().remove_answer = 0;
  front_end_.shown.clear();
  front_end_.answers = {ui::kIdRemoveNoToAll};
  const std::string d = File("d.dll");
  SetCount(d, 1);
  for (const std::string& f : {c, d}) {
    EXPECT_TRUE(Line("remove \"" + f + "\""));
    EXPECT_TRUE(P().files.IsFile(f));
  }
  EXPECT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(K().SharedRefCount(d), 0);

  // Silently: Yes To All, logged once and remembered.
  K().remove_answer = 0;
  K().silent_mode.set_silent(true);
  for (const std::string& f : {c, d}) {
    EXPECT_TRUE(Line("remove \"" + f + "\""));
    EXPECT_FALSE(P().files.Exists(f));
  }
  const std::string log = LogText();
  const std::string line = "SMSMODE: default response to RemoveFile Dialog = YES-TO-ALL\n";
  ASSERT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line));
  EXPECT_EQ(front_end_.shown.size(), 1u);
}

// An installation and the removal its uninstall script makes, both silent:
// the guard, the confirmation from the response file, and the shared files
// of the installation (one only it uses, one another product shares too).
TEST_F(UninstallCommandsTest, AnInstallationIsRemovedByItsUninstallScript) {
  const std::string home = At("Tool Home");
  const std::string common = At("common\\common.dll");
  ASSERT_TRUE(P().files.CreateFolder(At("common")));
  ASSERT_TRUE(WriteWholeFile(P().files, common, "another product's copy"));
  SetCount(common, 1);
  counted_.push_back(home + "\\shared.dll");
  File("Kestrova.exe");
  File("unsetup.exe");
  File("shared.dll");
  File("readme.txt");
  ASSERT_TRUE(WriteWholeFile(
      P().files, At("install.txt"),
      std::string("set VENDOR ") + kVendor + "\nset APP \"" + app_ +
          "\"\nset VER 2.0\nset HOME \"" + home +
          "\"\n"
          "oktoinstallex -advise\n"
          "setreg -lm \"SOFTWARE\\" + kVendor + "\\$APP\\$VER\" Folder $HOME\n"
          "copy -s shared.dll \"$HOME\\shared.dll\"\n"
          "copy -s shared.dll \"" + common + "\"\n"
          "copy readme.txt \"$HOME\\readme.txt\"\n"
          "onuninstall 'remove \"$HOME\\shared.dll\"'\n"
          "onuninstall 'remove \"" + common + "\"'\n"));
  ASSERT_TRUE(WriteWholeFile(P().files, At("answers.ini"),
                             "[Kestrova]\noktouninstallex=True\noktouninstall=1\n"));
  K().logging = false;
  EXPECT_EQ(K().Run("/sms:" + At("answers.ini") + " install.txt").exit_code, 0) << LogText();
  EXPECT_EQ(K().SharedRefCount(home + "\\shared.dll"), 1);
  EXPECT_EQ(K().SharedRefCount(common), 2);
  const std::string uninstall_key =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app_;
  ASSERT_TRUE(KeyExists(uninstall_key));
  const std::string script = ReadWholeFile(P().files, home + "\\uninstall\\uninstall.txt");
  EXPECT_NE(script.find("\n\noktouninstallex \"" + app_ + "\"\n\nremove \"" + home +
                        "\\shared.dll\"\nremove \"" + common + "\"\n"),
            std::string::npos)
      << script;

  // The removal runs the script from `uninstalling` on, from outside the
  // installation folder, so that nothing there is in use (a real removal
  // runs the interpreter copy in it, which is left to the next start).
  K().logging = false;
  const RemovalRun removal = RunRemoval(P(), front_end_, host_, script, At("removal"),
                                        "/sms:" + At("answers.ini"));
  ASSERT_TRUE(removal.started) << script;
  const std::string& log = removal.log;
  EXPECT_EQ(removal.exit_code, 0) << log;
  EXPECT_TRUE(removal.uninstalling);
  EXPECT_FALSE(P().files.Exists(home + "\\shared.dll")) << log;
  EXPECT_EQ(K().SharedRefCount(home + "\\shared.dll"), -1);
  EXPECT_TRUE(P().files.IsFile(common)) << "another product still uses it";
  EXPECT_EQ(K().SharedRefCount(common), 1);
  EXPECT_FALSE(KeyExists(uninstall_key));
  EXPECT_FALSE(KeyExists(std::string("SOFTWARE\\") + kVendor + "\\" + app_));
  EXPECT_NE(log.find("SMSMODE; response to 'oktouninstall' = 'TRUE'\n"), std::string::npos) << log;
  EXPECT_NE(log.find("SMSMODE: default response to RemoveFile Dialog = YES-TO-ALL\n"),
            std::string::npos);
  EXPECT_TRUE(front_end_.shown.empty());
  // The installation folder went last, nothing of it waits for a reboot.
  EXPECT_FALSE(P().files.Exists(home)) << log;
  EXPECT_FALSE(removal.reboot_needed);
}

}  // namespace
}  // namespace crx::test
