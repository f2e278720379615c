// Whole runs compared with their expected logs line by line: a silent run
// from a response file to the end of the installation (uninstall folder,
// script and registration), and runs that end cancelled (by the script, or
// by a copy that finds too little free space).

#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/copy_fixture.h"
#include "interpreter/log_compare.h"
#include "support/file_helpers.h"

namespace crx::test {
namespace {

// The system error code of the missing status library varies.
std::string MaskLibraryError(std::string log) {
  const std::string load = "LoadLibrary(ismif32.dll) failed 0x";
  for (size_t at = log.find(load); at != std::string::npos; at = log.find(load, at + 1)) {
    const size_t from = at + load.size();
    const size_t end = log.find('\n', from);
    log.replace(from, (end == std::string::npos ? log.size() : end) - from, "@ERROR@");
  }
  return log;
}

// Last-write times two days apart.
constexpr FileTime kEarlier = 132000000000000000ull;
constexpr FileTime kLater = kEarlier + 2ull * 24 * 3600 * 10000000;

class WholeRunTest : public CopyFixture {
 protected:
  void SetUp() override {
    CopyFixture::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(Scratch()));
    // A name of its own: on Windows the uninstall registration is the
    // system's.
    app_ = "CratexTest " + winpath::LastElement(platform_.ScratchKey());
    home_ = At("Tool Home");
  }
  void TearDown() override {
    P().registry.DeleteTree(kHKeyLocalMachine, UninstallKey());
    CopyFixture::TearDown();
  }

  std::string UninstallKey() const {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app_;
  }
  std::string Temp() { return K().VariableText("TEMP"); }
  std::string Registered(const std::string& name) {
    ScopedRegKey key(P().registry);
    std::string value = "<missing>";
    if (P().registry.OpenKey(kHKeyLocalMachine, UninstallKey(), RegAccess::kRead, key.Out()) ==
        kErrorSuccess) {
      P().registry.GetString(key.Get(), name, &value);
    }
    return value;
  }
  // The machine's values in an expected text.
  std::string Fill(std::string text) {
    text = Replace(text, "@TEMP@", Temp());
    text = Replace(text, "@HOME@", home_);
    text = Replace(text, "@SCRATCH@", Scratch());
    return Replace(text, "@APP@", app_);
  }
  std::vector<std::string> Shown() {
    std::vector<std::string> texts;
    for (const ShownDialog& shown : front_end_.shown) texts.push_back(shown.text);
    return texts;
  }

  std::string app_;
  std::string home_;
};

TEST_F(WholeRunTest, ASilentRunFromAResponseFileInstallsAndWritesItsUninstallFolder) {
  files_.free_space = 1000000;
  Write(At("resp.ini"),
        "[Cratex]\nReplaceNewerWithOlder=false\n\n[Kestrova]\nReplaceNewerWithOlder=true\n");
  // old.txt is older than the file it replaces, new.txt newer.
  Write(At("old.txt"), "old version\n", kEarlier);
  Write(At("new.txt"), "new version\n", kLater);
  Write(At("Kestrova.exe"), "interpreter");
  Write(At("unsetup.exe"), "starter");
  ASSERT_TRUE(P().files.CreateFolder(home_));
  Write(home_ + "\\old.txt", "newer file\n", kLater);
  Write(home_ + "\\new.txt", "older file\n", kEarlier);
  Write(At("install.txt"), Fill("# a silent installation from a response file\n"
                                "set VENDOR CratexTestVendor\n"
                                "set APP \"@APP@\"\n"
                                "set VER 2.0\n"
                                "set HOME \"@HOME@\"\n"
                                "_alias DOCS \"$HOME\\docs\"\n"
                                "query -y ANSWER \"Install $APP?\" \"from $PWD\"\n"
                                "message \"Installing $APP\" \"answer $ANSWER\" DOCS\n"
                                "copy old.txt \"$HOME\\old.txt\"\n"
                                "copy new.txt $HOME\\new.txt\n"
                                "onuninstall 'rm -f \"$HOME\\extra.txt\"'\n"));

  interp::RunResult result = K().Run("/sms:resp.ini install.txt");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.keep_window);
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_TRUE(host_.statuses.empty());
  EXPECT_EQ(K().VariableText("ANSWER"), "YES");

  std::string expected =
#include "interpreter/logs/silent_response_run.inc"
      ;
  ExpectSameLines(MaskLibraryError(MaskHead(LogText())), Fill(expected));

  // Both files were replaced, the older one as the response file allows.
  EXPECT_EQ(Read(home_ + "\\old.txt"), "old version\n");
  EXPECT_EQ(Read(home_ + "\\new.txt"), "new version\n");
  // The uninstall folder and the registration.
  EXPECT_EQ(Read(home_ + "\\uninstall\\Kestrova.exe"), "interpreter");
  EXPECT_EQ(Read(home_ + "\\uninstall\\unsetup.exe"), "starter");
  std::string script =
#include "interpreter/logs/silent_response_uninstall.inc"
      ;
  ExpectSameLines(Read(home_ + "\\uninstall\\uninstall.txt"), Fill(script));
  EXPECT_EQ(Registered("UninstallString"),
            "\"" + home_ + "\\uninstall\\unsetup.exe\" \"" + home_ + "\\uninstall\"");
  EXPECT_EQ(Registered("DisplayName"), app_);
}

TEST_F(WholeRunTest, AResponseValueCanNameAVariableTheScriptSet) {
  files_.free_space = 1000000;
  Write(At("resp.ini"), "[Kestrova]\nReplaceNewerWithOlder=$ANSWER\n");
  Write(At("old.txt"), "old version\n", kEarlier);
  ASSERT_TRUE(P().files.CreateFolder(home_));
  Write(home_ + "\\old.txt", "newer file\n", kLater);
  Write(At("install.txt"), Fill("set NO_UNINSTALL TRUE\n"
                                "set HOME \"@HOME@\"\n"
                                "query -y ANSWER \"Keep the newer file?\"\n"
                                "copy -s old.txt \"$HOME\\old.txt\"\n"));
  // The response file named with its full path.
  interp::RunResult result = K().Run("/sms:" + At("resp.ini"));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.keep_window);
  std::string expected =
#include "interpreter/logs/silent_response_subst_run.inc"
      ;
  ExpectSameLines(MaskLibraryError(MaskHead(LogText())), Fill(expected));
  // YES is no consent to put the older file in place; the shared file
  // still counts this installation as a user.
  EXPECT_EQ(Read(home_ + "\\old.txt"), "newer file\n");
  EXPECT_EQ(Count(home_ + "\\old.txt"), 1);
  EXPECT_FALSE(P().files.Exists(home_ + "\\uninstall"));
}

const char kCancelledScript[] =
    "set APP Tool\n"
    "message \"Welcome to $APP\"\n"
    "query -o GO Ready?\n"
    "cancel\n"
    "set AFTER yes\n"
    "message never\n";

TEST_F(WholeRunTest, ACancelledRunStopsBeforeTheNextLineAndReportsTheCancellation) {
  Write(At("install.txt"), kCancelledScript);
  front_end_.answers = {kIdOk, kIdOk};
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.keep_window);
  EXPECT_EQ(K().VariableText("AFTER"), "");
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Welcome to Tool", "Ready?",
                                               "The installation was calcelled"}));
  ASSERT_EQ(front_end_.shown.size(), 3u);
  EXPECT_EQ(front_end_.shown[0].flags, 64u);
  EXPECT_EQ(front_end_.shown[1].flags, 33u);
  EXPECT_EQ(front_end_.shown[2].flags, 16u);
  EXPECT_EQ(host_.statuses, (std::vector<std::string>{"set  APP Tool   ",
                                                      "message  Welcome to Tool    ",
                                                      "query -o GO Ready?   ", "cancel" + std::string(6, ' '),
                                                      "Cancelled"}));
  EXPECT_EQ(host_.title, "CANCELLED");
  // Nothing is finalised: no uninstall script.
  std::string expected =
#include "interpreter/logs/cancelled_run.inc"
      ;
  ExpectSameLines(MaskHead(LogText()), Fill(expected));
}

TEST_F(WholeRunTest, ASilentCancelledRunLogsTheReportAndQuits) {
  Write(At("install.txt"), kCancelledScript);
  interp::RunResult result = K().Run("/sms:silent");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.keep_window);
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_EQ(K().VariableText("AFTER"), "");
  std::string expected =
#include "interpreter/logs/silent_cancelled_run.inc"
      ;
  ExpectSameLines(MaskLibraryError(MaskHead(LogText())), Fill(expected));
}

TEST_F(WholeRunTest, TooLittleFreeSpaceCancelsTheRunAtTheFirstCopy) {
  // 3000 bytes count as 3952; one byte less is free.
  files_.free_space = 3951;
  Write(At("big.bin"), std::string(3000, 'b'));
  Write(At("install.txt"), Fill("set APP Tool\n"
                                "set HOME \"@HOME@\"\n"
                                "copy big.bin $HOME\\big.bin\n"
                                "set AFTER yes\n"));
  interp::RunResult result = K().Run("install.txt");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.keep_window);
  EXPECT_EQ(K().VariableText("AFTER"), "");
  EXPECT_FALSE(P().files.Exists(home_ + "\\big.bin"));
  EXPECT_EQ(Shown(),
            (std::vector<std::string>{"There is not enough free space on the chosen installation "
                                      "drive",
                                      "The installation was calcelled"}));
  ASSERT_EQ(front_end_.shown.size(), 2u);
  EXPECT_EQ(front_end_.shown[0].flags, 16u);
  EXPECT_EQ(front_end_.shown[1].flags, 16u);
  // The pre-scan counts the copy before HOME is set.
  EXPECT_EQ(host_.statuses,
            (std::vector<std::string>{"calculate disk space: \\big.bin...", "set  APP Tool   ",
                                      Fill("set  HOME @HOME@   "),
                                      Fill("copy file: @HOME@\\big.bin..."), "Cancelled"}));
  std::string expected =
#include "interpreter/logs/no_space_run.inc"
      ;
  ExpectSameLines(MaskHead(LogText()), Fill(expected));
}

}  // namespace
}  // namespace crx::test
