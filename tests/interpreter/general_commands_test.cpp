// The general commands, called directly with K().cmd set as the command
// table would hand them over. The child programs of `run` are this test
// program itself: started with "--crx-child" first it does one small job
// and exits before any test runs.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/cmdline.h"
#include "engine/user_interface.h"
#include "interpreter/command_table.h"
#include "interpreter_fixture.h"
#include "support/child_program.h"
#include "support/file_helpers.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace crx::test {
namespace {

// The child's jobs: "exit N" exits with N; "tail FILE ..." writes its
// command-line tail and its current folder to FILE (a relative FILE lands
// in that folder).
int RunChild() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) return 100;
  Platform& p = host->Get();
  std::string tail = p.processes.CommandLineTail();
  std::vector<std::string> args = cmdline::SplitArguments(tail);
  if (args.size() < 3) return 101;
  if (args[1] == "exit") return std::atoi(args[2].c_str());
  if (args[1] == "tail") {
    return WriteWholeFile(p.files, args[2], tail + "\n" + p.files.CurrentFolder()) ? 0 : 102;
  }
  return 103;
}

const bool kIsChild = [] {
  if (!StartedAsChild()) return false;
  std::_Exit(RunChild());
}();

class GeneralCommandsTest : public InterpreterTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(kIsChild);
    InterpreterTest::SetUp();
  }

  // Sets the current command, which must fit its row of the table.
  void Command(const std::string& keyword, const std::string& option,
               const std::vector<std::string>& args) {
    InterpreterTest::Command(keyword, option, args);
    ASSERT_TRUE(K().CheckCommandRow()) << keyword << " does not fit its row";
  }
  std::string At(const std::string& name) { return platform_.Scratch() + "\\" + name; }
  std::string Read(const std::string& name) { return ReadWholeFile(P().files, At(name)); }
  bool Write(const std::string& name, const std::string& data) {
    return WriteWholeFile(P().files, At(name), data);
  }
  std::string LastShown() { return front_end_.shown.empty() ? "" : front_end_.shown.back().text; }
  std::string Self() { return P().processes.ProgramPath(); }
};

TEST_F(GeneralCommandsTest, FilegroupDefinesAndSwitchesGroups) {
  Command("filegroup", "", {"G8", "Extras"});
  EXPECT_FALSE(K().CmdFilegroup());
  EXPECT_EQ(LastShown(), "ERROR: file group ID out of range");
  Command("filegroup", "", {"G1x", "Extras"});
  EXPECT_FALSE(K().CmdFilegroup());
  EXPECT_EQ(LastShown(), "ERROR: file group ID out of range");
  Command("filegroup", "", {"g1", "Extras"});
  EXPECT_FALSE(K().CmdFilegroup());
  EXPECT_EQ(LastShown(), "Incorrect File Group Specified\n");
  EXPECT_EQ(front_end_.shown.back().flags, 16u);

  Command("filegroup", "-m", {"G7", "Core files"});
  EXPECT_TRUE(K().CmdFilegroup());
  EXPECT_EQ(K().groups[7].description, "Core files");
  EXPECT_TRUE(K().groups[7].mandatory);
  // Defining again without m clears the mandatory mark.
  Command("filegroup", "", {"G7", "Core"});
  EXPECT_TRUE(K().CmdFilegroup());
  EXPECT_FALSE(K().groups[7].mandatory);
  // The definition form needs its description.
  Command("filegroup", "", {"G3"});
  EXPECT_FALSE(K().CmdFilegroup());

  // A group whose files the pre-scan could not count (total 0) is
  // deselected all the same; the total itself is never changed.
  for (int64_t total : {int64_t{4096}, int64_t{0}}) {
    K().groups[2].bytes = total;
    Command("filegroup", "-d", {"G2"});
    EXPECT_TRUE(K().CmdFilegroup());
    EXPECT_TRUE(K().groups[2].deselected);
    EXPECT_TRUE(K().CmdFilegroup());  // deselecting twice keeps it deselected
    EXPECT_TRUE(K().groups[2].deselected);
    Command("filegroup", "-e", {"G2"});
    EXPECT_TRUE(K().CmdFilegroup());
    EXPECT_FALSE(K().groups[2].deselected);
    Command("filegroup", "-z", {"G2"});
    EXPECT_TRUE(K().CmdFilegroup());
    EXPECT_FALSE(K().groups[2].deselected);
    EXPECT_EQ(K().groups[2].bytes, total);
  }
}

TEST_F(GeneralCommandsTest, RunSetsTheExitCodeOrReturnsAtOnce) {
  Command("run", "", {Self(), kChildFlag, "exit", "3"});
  EXPECT_TRUE(K().CmdRun());
  EXPECT_EQ(K().VariableText("?"), "3");

  // -w: started, not waited for; ? says nothing.
  Command("run", "-w", {Self(), kChildFlag, "exit", "4"});
  EXPECT_TRUE(K().CmdRun());
  EXPECT_EQ(K().VariableText("?"), "(empty)");

  Command("run", "", {At("missing.exe")});
  EXPECT_FALSE(K().CmdRun());
  EXPECT_EQ(LastShown(), "ERROR - can't run program...\nfile does not exist <" +
                             At("missing.exe") + ">");
}

TEST_F(GeneralCommandsTest, RunQuotesWordsWithBlanksAndStartsInTheCurrentFolder) {
  ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
  Command("run", "", {Self(), kChildFlag, "tail", "out.txt", "a b", "c\td", "e"});
  ASSERT_TRUE(K().CmdRun()) << LastShown();
  std::string out = Read("out.txt");
  EXPECT_NE(out.find("tail out.txt \"a b\" \"c\td\" e\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n" + P().files.CurrentFolder()), std::string::npos) << out;
}

TEST_F(GeneralCommandsTest, RunWithXSkipsAProgramOthersStillShare) {
  RegKey key = 0;
  ASSERT_EQ(P().registry.CreateKey(kHKeyLocalMachine,
                                   "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
                                   RegAccess::kAll, &key, nullptr),
            0);
  ASSERT_EQ(P().registry.SetDword(key, P().files.FullPath(Self()), 2), 0);
  P().registry.CloseKey(key);
  K().SetVariable("?", "before");
  Command("run", "-x", {Self(), kChildFlag, "exit", "3"});
  EXPECT_TRUE(K().CmdRun());
  EXPECT_EQ(K().VariableText("?"), "before");
}

TEST_F(GeneralCommandsTest, FreadReadsOneLine) {
  ASSERT_TRUE(Write("three.txt", "first\r\nsecond line\nthird"));
  Command("fread", "", {At("three.txt"), "L"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), "first");
  Command("fread", "", {At("three.txt"), "L", "2"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), "second line");
  Command("fread", "", {At("three.txt"), "L", "3"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), "third");
  Command("fread", "", {At("three.txt"), "L", "5"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), "(eof)");
  Command("fread", "", {At("missing.txt"), "L"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), "(nofile)");
  // A long line gives its first 255 characters, and counts as one line.
  ASSERT_TRUE(Write("long.txt", std::string(300, 'x') + "\nnext\n"));
  Command("fread", "", {At("long.txt"), "L"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), std::string(255, 'x'));
  Command("fread", "", {At("long.txt"), "L", "2"});
  EXPECT_TRUE(K().CmdFread());
  EXPECT_EQ(K().VariableText("L"), "next");
}

TEST_F(GeneralCommandsTest, FeditReplacesInEveryLineOrInOne) {
  ASSERT_TRUE(Write("cfg.ini", "path=OLD\r\nother=OLD OLD\r\nlast=OLD"));
  ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
  Command("fedit", "", {At("cfg.ini"), "OLD", "C:\\New OLD", "2"});
  EXPECT_TRUE(K().CmdFedit());
  EXPECT_EQ(Read("cfg.ini"), "path=OLD\r\nother=C:\\New OLD C:\\New OLD\r\nlast=OLD");
  Command("fedit", "", {At("cfg.ini"), "=OLD", "=x"});
  EXPECT_TRUE(K().CmdFedit());
  EXPECT_EQ(Read("cfg.ini"), "path=x\r\nother=C:\\New OLD C:\\New OLD\r\nlast=x");
  // The temporary copy is gone and a read-only file stays read-only.
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(P().files.ListFolder(At("*"), &entries));
  EXPECT_EQ(entries.size(), 1u);
  ASSERT_TRUE(P().files.SetAttributes(At("cfg.ini"), kAttrReadOnly));
  Command("fedit", "", {At("cfg.ini"), "x", "y"});
  EXPECT_TRUE(K().CmdFedit());
  EXPECT_EQ(Read("cfg.ini"), "path=y\r\nother=C:\\New OLD C:\\New OLD\r\nlast=y");
  EXPECT_NE(P().files.GetAttributes(At("cfg.ini")) & kAttrReadOnly, 0u);
  P().files.SetAttributes(At("cfg.ini"), kAttrNormal);
  // A missing file fails, unless -f.
  Command("fedit", "", {At("none.ini"), "a", "b"});
  EXPECT_FALSE(K().CmdFedit());
  Command("fedit", "-f", {At("none.ini"), "a", "b"});
  EXPECT_TRUE(K().CmdFedit());
  EXPECT_FALSE(P().files.Exists(At("none.ini")));
}

TEST_F(GeneralCommandsTest, RmFwriteAndChmod) {
  Command("rm", "-f", {At("missing.txt")});
  EXPECT_TRUE(K().CmdRm());
  Command("rm", "", {At("missing.txt")});
  EXPECT_FALSE(K().CmdRm());
  ASSERT_TRUE(Write("ro.txt", "x"));
  ASSERT_TRUE(P().files.SetAttributes(At("ro.txt"), kAttrReadOnly));
  Command("rm", "", {At("ro.txt")});
  EXPECT_TRUE(K().CmdRm());
  EXPECT_FALSE(P().files.Exists(At("ro.txt")));

  // fwrite -a creates a missing file; -t rewrites it.
  Command("fwrite", "-a", {At("log.txt"), "one two"});
  EXPECT_TRUE(K().CmdFwrite());
  Command("fwrite", "-a", {At("log.txt"), "three"});
  EXPECT_TRUE(K().CmdFwrite());
  EXPECT_EQ(Read("log.txt"), "one two\r\nthree\r\n");
  Command("fwrite", "-t", {At("log.txt"), "new"});
  EXPECT_TRUE(K().CmdFwrite());
  EXPECT_EQ(Read("log.txt"), "new\r\n");
  // A read-only file refuses -a but takes -A, and stays read-only.
  ASSERT_TRUE(P().files.SetAttributes(At("log.txt"), kAttrReadOnly));
  // (Wine keeps read-only as Unix permissions, which a root user ignores.)
  if (!platform_.UnderWine()) {
    Command("fwrite", "-a", {At("log.txt"), "refused"});
    EXPECT_FALSE(K().CmdFwrite());
  }
  Command("fwrite", "-A", {At("log.txt"), "added"});
  EXPECT_TRUE(K().CmdFwrite());
  EXPECT_EQ(Read("log.txt"), "new\r\nadded\r\n");
  EXPECT_NE(P().files.GetAttributes(At("log.txt")) & kAttrReadOnly, 0u);

  // chmod words set and clear single bits; 0x replaces the word.
  Command("chmod", "", {At("log.txt"), "hidden"});
  EXPECT_TRUE(K().CmdChmod());
  EXPECT_EQ(P().files.GetAttributes(At("log.txt")) & (kAttrReadOnly | kAttrHidden),
            kAttrReadOnly | kAttrHidden);
  Command("chmod", "", {At("log.txt"), "!ro"});
  EXPECT_TRUE(K().CmdChmod());
  EXPECT_EQ(P().files.GetAttributes(At("log.txt")) & (kAttrReadOnly | kAttrHidden), kAttrHidden);
  Command("chmod", "", {At("log.txt"), "0x21"});
  EXPECT_TRUE(K().CmdChmod());
  EXPECT_EQ(P().files.GetAttributes(At("log.txt")) & (kAttrReadOnly | kAttrHidden | kAttrArchive),
            kAttrReadOnly | kAttrArchive);
  Command("chmod", "", {At("log.txt"), "purple"});
  EXPECT_TRUE(K().CmdChmod());
  EXPECT_EQ(P().files.GetAttributes(At("log.txt")) & (kAttrReadOnly | kAttrArchive),
            kAttrReadOnly | kAttrArchive);
  P().files.SetAttributes(At("log.txt"), kAttrNormal);
  Command("chmod", "-f", {At("missing.txt"), "ro"});
  EXPECT_TRUE(K().CmdChmod());
  Command("chmod", "", {At("missing.txt"), "ro"});
  EXPECT_FALSE(K().CmdChmod());
}

TEST_F(GeneralCommandsTest, MessageAndQuery) {
  Command("message", "", {"Line one", "Line two"});
  EXPECT_TRUE(K().CmdMessage());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "Line one\nLine two");
  EXPECT_EQ(front_end_.shown[0].flags, 64u);

  // y wins over o; the answer goes into the variable.
  front_end_.answers.push_back(kIdNo);
  Command("query", "-oy", {"ANSWER", "Go on?", "Really?"});
  EXPECT_TRUE(K().CmdQuery());
  EXPECT_EQ(front_end_.shown.back().text, "Go on?\nReally?");
  EXPECT_EQ(front_end_.shown.back().flags, 36u);
  EXPECT_EQ(K().VariableText("ANSWER"), "NO");
  front_end_.answers.push_back(kIdOk);
  Command("query", "-o", {"ANSWER", "Go on?"});
  EXPECT_TRUE(K().CmdQuery());
  EXPECT_EQ(front_end_.shown.back().flags, 33u);
  EXPECT_EQ(K().VariableText("ANSWER"), "OK");
  Command("query", "-o", {"ANSWER", "Go on?"});  // nothing queued: Cancel
  EXPECT_TRUE(K().CmdQuery());
  EXPECT_EQ(K().VariableText("ANSWER"), "CANCEL");
  EXPECT_FALSE(K().cancelled);
}

TEST_F(GeneralCommandsTest, SmallSwitches) {
  Command("single_step", "", {"on"});
  EXPECT_TRUE(K().CmdSingleStep());
  EXPECT_TRUE(K().single_step);
  Command("single_step", "", {"ON"});
  EXPECT_FALSE(K().CmdSingleStep());
  EXPECT_EQ(LastShown(), "ERROR - unknown single_step argument <ON>");
  EXPECT_TRUE(K().single_step);
  Command("single_step", "", {"off"});
  EXPECT_TRUE(K().CmdSingleStep());
  EXPECT_FALSE(K().single_step);

  Command("maximize", "", {});
  EXPECT_TRUE(K().CmdMaximize());
  EXPECT_EQ(host_.maximized, 1);
  K().silent_mode.set_silent(true);
  EXPECT_TRUE(K().CmdMaximize());
  EXPECT_EQ(host_.maximized, 1);

  Command("onuninstall", "", {"rm -f C:\\App\\data.bin"});
  EXPECT_TRUE(K().CmdOnuninstall());
  EXPECT_EQ(K().on_uninstall, std::vector<std::string>{"rm -f C:\\App\\data.bin"});

  Command("getdllref", "", {At("lib.dll"), "N"});
  EXPECT_TRUE(K().CmdGetdllref());
  EXPECT_EQ(K().VariableText("N"), "-1");
}

// A whole run through the reader, the dispatcher and the handlers.
TEST_F(GeneralCommandsTest, AScriptUsesTheGeneralCommands) {
  ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
  ASSERT_TRUE(Write("install.txt",
                    "if A == B\n"
                    "  updating\n"
                    "  fwrite -a never.txt \"dead branch\"\n"
                    "endif\n"
                    "query -y ANSWER \"Install the help files?\" \"(about 2 MB)\"\n"
                    "if $ANSWER == YES\n"
                    "  fwrite -a notes.txt \"help files: yes\"\n"
                    "  filegroup -m G2 \"Help files\"\n"
                    "endif\n"
                    "fread notes.txt LINE 1\n"
                    "fedit notes.txt yes YES\n"
                    "run " + Self() + " --crx-child exit 3\n"
                    "onuninstall \"rm -f $PWD\\notes.txt\"\n"));
  front_end_.answers.push_back(kIdYes);
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  // updating switched the run even in the branch that did not run, so the
  // end of the run writes no uninstall script.
  EXPECT_TRUE(K().update_mode);
  EXPECT_FALSE(P().files.Exists(At("never.txt")));
  EXPECT_EQ(K().VariableText("ANSWER"), "YES");
  EXPECT_EQ(K().VariableText("LINE"), "help files: yes");
  EXPECT_EQ(Read("notes.txt"), "help files: YES\r\n");
  EXPECT_EQ(K().groups[2].description, "Help files");
  EXPECT_TRUE(K().groups[2].mandatory);
  EXPECT_EQ(K().VariableText("?"), "3");
  EXPECT_EQ(K().on_uninstall,
            std::vector<std::string>{"rm -f " + platform_.Scratch() + "\\notes.txt"});
  ASSERT_FALSE(front_end_.shown.empty());
  EXPECT_EQ(front_end_.shown[0].text, "Install the help files?\n(about 2 MB)");
  EXPECT_EQ(front_end_.shown.back().text, "Installation Completed");
}

TEST_F(GeneralCommandsTest, AKeywordInUpperCaseEndsTheRun) {
  ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
  ASSERT_TRUE(Write("install.txt", "FILEGROUP G1 Docs\nmessage never\n"));
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(K().groups[1].description, "");
  ASSERT_FALSE(front_end_.shown.empty());
  EXPECT_EQ(front_end_.shown[0].text.substr(0, 36), "SCRIPT ERROR: can't process command\n");
  for (const ShownDialog& shown : front_end_.shown) EXPECT_NE(shown.text, "never");
}

}  // namespace
}  // namespace crx::test
