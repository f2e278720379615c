// The script runner: splitting lines into commands, reading script files
// (continuation, comments, call and return), executing one command with its
// failure report, and whole runs from the command line.

#include <string>
#include <vector>

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter_fixture.h"
#include "log_compare.h"
#include "support/file_helpers.h"

namespace crx::test {
namespace {

class RunnerTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
  }

  std::string Path(const std::string& name) { return platform_.Scratch() + "\\" + name; }
  void Write(const std::string& name, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(P().files, Path(name), text)) << name;
  }
  std::string Temp() {
    std::string temp = P().environment.TempPath();
    if (!temp.empty() && temp.back() == '\\') temp.pop_back();
    return temp;
  }
  std::string LogText() {
    K().FlushLog();
    return ReadWholeFile(P().files, Temp() + "\\Kestrova.log");
  }
  void StartLog() {
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
  }

  // Reads every command of a script the way the main loop does, without
  // executing them, as "command|option|a1|a2..." lines.
  std::vector<std::string> ReadAll(const std::string& name) {
    std::vector<std::string> commands;
    if (!K().OpenScript(name)) return {"<can't open>"};
    while (K().ReadNextCommand()) commands.push_back(Describe());
    return commands;
  }
  std::string Describe() {
    const interp::ParsedCommand& c = K().cmd;
    std::string text = c.command + "|" + c.option;
    for (int i = 0; i < c.ArgCount(); ++i) text += "|" + c.args[i];
    return text;
  }
  std::string Split(const std::string& line) {
    K().SplitLine(line);
    return Describe();
  }
};

TEST_F(RunnerTest, QuotesProtectBlanksAndOnlyOtherKindsOfQuotesAreLiteral) {
  // Double quotes keep blanks; an apostrophe inside them is literal.
  EXPECT_EQ(Split("message \"it's a test\" two"), "message||it's a test|two");
  // Apostrophes keep blanks; double quotes inside them are literal.
  EXPECT_EQ(Split("message 'say \"hi\" now'"), "message||say \"hi\" now");
  // Grave accents quote too, and never survive into a word, even where
  // another kind of quote made them literal.
  EXPECT_EQ(Split("message `a b` \"c`d\" x`y`"), "message||a b|cd|x|y");
  // Two adjacent quotes give no argument at all.
  EXPECT_EQ(Split("set X \"\""), "set||X");
  // A quoted blank is one argument made of a blank, and keeps the
  // arguments after it in place; so does a substituted empty value.
  EXPECT_EQ(Split("message a \" \" b"), "message||a| |b");
  EXPECT_EQ(Split(std::string("message a \x01 b")), "message||a| |b");
  // Quotes glue text to the word around them only through protected blanks.
  EXPECT_EQ(Split("copy \"C:\\Program Files\\a b.txt\" C:\\Sys\x01" "Dir"),
            "copy||C:\\Program Files\\a b.txt|C:\\Sys Dir");
  // An unclosed quote protects to the end of the line.
  EXPECT_EQ(Split("message \"open to the end"), "message||open to the end");
}

TEST_F(RunnerTest, TheSecondWordIsTheOptionOnlyWhenItBeginsWithADash) {
  EXPECT_EQ(Split("setreg -lm Key Name Value"), "setreg|-lm|Key|Name|Value");
  EXPECT_EQ(K().cmd.ArgCount(), 3);
  EXPECT_EQ(Split("setreg Key -x"), "setreg||Key|-x");
  // A quoted option is still the option.
  EXPECT_EQ(Split("copy \"-s\" a b"), "copy|-s|a|b");
  // Blank lines split into nothing.
  EXPECT_EQ(Split("     "), "|");
  EXPECT_EQ(K().cmd.ArgCount(), -1);
}

TEST_F(RunnerTest, AtMostTenWordsAreKept) {
  // With an option, ten words give eight arguments and an eleventh is lost.
  EXPECT_EQ(Split("c -o 1 2 3 4 5 6 7 8 9"), "c|-o|1|2|3|4|5|6|7|8");
  // Without one, the tenth word is lost.
  EXPECT_EQ(Split("c 1 2 3 4 5 6 7 8 9"), "c||1|2|3|4|5|6|7|8");
  EXPECT_EQ(Split("c 1 2 3 4 5 6 7 8 9 10 11"), "c||1|2|3|4|5|6|7|8");
}

TEST_F(RunnerTest, LongWordsAreCutAtTheirFieldWithoutSpilling) {
  StartLog();
  const std::string long_keyword(40, 'k');
  const std::string long_option = "-" + std::string(39, 'o');
  const std::string long_argument(300, 'a');
  K().SplitLine(long_keyword + " " + long_option + " " + long_argument + " next");
  EXPECT_EQ(K().cmd.command, std::string(31, 'k'));
  EXPECT_EQ(K().cmd.option, long_option.substr(0, 31));
  EXPECT_EQ(K().cmd.args[0], std::string(255, 'a'));
  EXPECT_EQ(K().cmd.args[1], "next");
  EXPECT_EQ(K().cmd.ArgCount(), 2);
  const std::string log = LogText();
  EXPECT_NE(log.find("# word cut to 31 characters <" + std::string(31, 'k') + ">\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("# word cut to 255 characters <"), std::string::npos) << log;
  // A word of exactly the field size is not cut.
  K().SplitLine("message " + std::string(255, 'b'));
  EXPECT_EQ(K().cmd.args[0].size(), 255u);
  EXPECT_EQ(LogText().find("<" + std::string(255, 'b') + ">"), std::string::npos);
}

TEST_F(RunnerTest, LinesAreJoinedSkippedAndCleanedBeforeSplitting) {
  std::string text =
      "# a comment with $UNDEFINED\r\n"
      "\r\n"
      "first a \\\r\n"
      "  b \\\n"
      "c\n"
      "   # a blank-led comment word\n"
      "second\tx\ry\n"
      "   \t  \n"
      "last \\";
  Write("s.txt", text);
  std::vector<std::string> commands = ReadAll("s.txt");
  std::vector<std::string> expected = {"first||a|b|c", "#||a|blank-led|comment|word",
                                       "second||x|y", "|", "last|"};
  EXPECT_EQ(commands, expected);
  // The comment in the first column was never expanded: no message.
  for (const ShownDialog& shown : front_end_.shown) {
    EXPECT_EQ(shown.text.find("Uninitialized"), std::string::npos) << shown.text;
  }
  EXPECT_EQ(K().run_end, interp::ScriptInterpreter::RunEnd::kCompleted);
}

TEST_F(RunnerTest, AnOverlongLineIsCutAndItsTailIsNoCommand) {
  StartLog();
  Write("long.txt", "message " + std::string(600, 'x') + " rm\nnext\n");
  std::vector<std::string> commands = ReadAll("long.txt");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], "message||" + std::string(255, 'x'));
  EXPECT_EQ(commands[1], "next|");
  EXPECT_NE(LogText().find("# line longer than 510 characters cut <message xxx"),
            std::string::npos);
}

// The file is read 4 KB at a time: a CR LF split between two reads, a
// continued line and an overlong line across a read read as anywhere else.
TEST_F(RunnerTest, LinesAcrossReadsReadAsAnywhereElse) {
  const std::string filler = "#" + std::string(4086, 'f') + "\n";  // the CR below is byte 4095
  Write("chunks.txt", filler + "first a\r\nsecond b \\\nc\nmessage " + std::string(4200, 'x') +
                          " tail\nlast\n");
  std::vector<std::string> commands = ReadAll("chunks.txt");
  std::vector<std::string> expected = {"first||a", "second||b|c", "message||" + std::string(255, 'x'),
                                       "last|"};
  EXPECT_EQ(commands, expected);
}

TEST_F(RunnerTest, CallAndReturnFollowScriptFilesAndLogThem) {
  StartLog();
  Write("main.txt", "one\ncall -r sub.txt\nthree\ncall other.txt\nfive\nreturn\nnever\n");
  Write("sub.txt", "two\nreturn\nnot reached\n");
  Write("other.txt", "four\n");
  std::vector<std::string> commands = ReadAll("main.txt");
  std::vector<std::string> expected = {"one|", "two|", "three|", "four|", "five|"};
  EXPECT_EQ(commands, expected);
  EXPECT_EQ(K().depth, 0);
  // The file called with -r is deleted when it returns; the other stays.
  EXPECT_FALSE(P().files.Exists(Path("sub.txt")));
  EXPECT_TRUE(P().files.Exists(Path("other.txt")));
  const std::string log = LogText();
  EXPECT_NE(log.find("cmd<call> opt<-r> a1<sub.txt> [1]\n# OPEN <sub.txt>\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("# RM CALLED FILE <" + Path("sub.txt") + "> [1]\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("cmd<call> opt<> a1<other.txt> [1]\n# OPEN <other.txt>\n"),
            std::string::npos);
  EXPECT_EQ(host_.statuses.back(), "Ready");
}

TEST_F(RunnerTest, NineNestedCallsAreAcceptedAndATenthIsTooDeep) {
  for (int i = 1; i <= 10; ++i) Write(Format("n%d.txt", i), Format("call n%d.txt\n", i + 1));
  Write("main.txt", "call n1.txt\nafter\n");
  Write("n9.txt", "deepest\ncall n10.txt\nnot reached\n");
  std::vector<std::string> commands = ReadAll("main.txt");
  EXPECT_EQ(commands, std::vector<std::string>{"deepest|"});
  EXPECT_EQ(K().depth, 9);
  EXPECT_EQ(K().run_end, interp::ScriptInterpreter::RunEnd::kFailed);
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text,
            "ERROR:\nfailed to call script file\nn10.txt\nNESTING TOO DEEP");
  EXPECT_EQ(front_end_.shown[0].flags, 16u);
}

TEST_F(RunnerTest, AMissingCalledFileEndsTheRunButNotThePrescan) {
  Write("main.txt", "call missing.txt\nafter\n");
  K().prescan = true;
  EXPECT_EQ(ReadAll("main.txt"), (std::vector<std::string>{"call||missing.txt", "after|"}));
  EXPECT_TRUE(front_end_.shown.empty());

  K().prescan = false;
  K().depth = 0;
  StartLog();
  EXPECT_TRUE(ReadAll("main.txt").empty());
  EXPECT_EQ(K().depth, 0);
  EXPECT_EQ(K().run_end, interp::ScriptInterpreter::RunEnd::kFailed);
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "ERROR:\nfailed to call script file\nmissing.txt\n");
  const std::string log = LogText();
  EXPECT_NE(log.find("# OPEN <missing.txt>\nCan't open script file 0x2[2]\n(missing.txt)\n"
                     "current directory: " + platform_.Scratch() + "\n"),
            std::string::npos)
      << log;
}

TEST_F(RunnerTest, CallAndReturnInABranchThatDoesNotRunAreSkipped) {
  Write("main.txt", "call sub.txt\nafter\n");
  Write("sub.txt", "return\ninside\n");
  // As if an if before the call had failed.
  K().active_index = 0;
  K().depth_index = 0;
  K().levels[0] = 0;
  EXPECT_EQ(ReadAll("main.txt"), (std::vector<std::string>{"call||sub.txt", "after|"}));
}

TEST_F(RunnerTest, CallAndReturnInABranchThatDoesNotRunDoNotFailTheRun) {
  Write("install.txt",
        "set NO_UNINSTALL TRUE\nset A one\nif $A == two\n  return\n  call missing.txt\nendif\n"
        "set B done\n");
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(K().VariableText("B"), "done");
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "Installation Completed");
}

TEST_F(RunnerTest, ExecuteReportsAFailedCommandAndCleansUp) {
  StartLog();
  EXPECT_TRUE(K().Execute());  // the empty command
  K().SplitLine("#comment word");
  EXPECT_TRUE(K().Execute());
  EXPECT_TRUE(front_end_.shown.empty());

  K().SplitLine("nosuchcommand -q a b c d e");
  EXPECT_FALSE(K().Execute());
  EXPECT_EQ(host_.statuses.back(), "nosuchcommand -q a b c d e");
  ASSERT_EQ(front_end_.shown.size(), 2u);
  const std::string error =
      "SCRIPT ERROR: can't process command\n\nnosuchcommand -q a b c d\n\nThe install procedure "
      "will now cleanup any\nfiles and registry entries already copied...";
  EXPECT_EQ(front_end_.shown[0].text, error);
  EXPECT_EQ(front_end_.shown[0].caption, "Kestrova");
  EXPECT_EQ(front_end_.shown[1].text, "CLEANUP PHASE COMPLETED SUCCESSFULLY");
  EXPECT_NE(LogText().find(error + "\n"), std::string::npos);

  // In update mode there is no clean-up; uninstalling ignores failures.
  front_end_.shown.clear();
  K().update_mode = true;
  EXPECT_FALSE(K().Execute());
  EXPECT_TRUE(front_end_.shown.empty());
  K().update_mode = false;
  K().uninstalling = true;
  EXPECT_TRUE(K().Execute());
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(RunnerTest, SingleStepCancelEndsTheRunWithACancelledTitle) {
  K().single_step = true;
  K().SplitLine("copy -s a.txt C:\\b.txt");
  front_end_.answers.push_back(kIdCancel);
  EXPECT_TRUE(K().Execute());
  EXPECT_EQ(host_.statuses.back(), "copy file: C:\\b.txt...");
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text,
            "ABOUT TO PROCESS...\n\ncopy -s a.txt C:\\b.txt    \n\ncommand<copy> option<-s>\n"
            "arguments: 1<a.txt> 2<C:\\b.txt> 3<> 4<> 5<> 6<> 7<> 8<>");
  EXPECT_EQ(front_end_.shown[0].flags, 33u);
  EXPECT_TRUE(K().cancelled);
  EXPECT_EQ(host_.title, "CANCELLED");
  K().title = "My Setup";
  front_end_.answers.push_back(kIdCancel);
  EXPECT_TRUE(K().Execute());
  EXPECT_EQ(host_.title, "My Setup (cancelled)");
  // The reader stops at the next line with the cancellation.
  Write("s.txt", "next\n");
  EXPECT_TRUE(ReadAll("s.txt").empty());
  EXPECT_EQ(K().run_end, interp::ScriptInterpreter::RunEnd::kCancelled);
  EXPECT_EQ(host_.statuses.back(), "Cancelled");
}

// ---------------------------------------------------------------------------
// Whole runs

// The log up to the point where the installation is finalised (the
// bookkeeping's own lines are its tests' business).
std::string UntilFinalize(const std::string& log) {
  return log.substr(0, log.find("# create uninstall script..."));
}

TEST_F(RunnerTest, APlainRunLogsWhatItReadsAndReportsCompletion) {
  Write("install.txt",
        "# an installation with nothing to do\n"
        "   # indented note\n"
        "call part.txt\n"
        "  #end\n");
  Write("part.txt", "# part\nreturn\n");
  ASSERT_TRUE(WriteWholeFile(P().files, Temp() + "\\crxfin.dat", "x"));
  ASSERT_TRUE(WriteWholeFile(P().files, Temp() + "\\crxfinalize.exe", "x"));

  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.keep_window);
  ASSERT_FALSE(front_end_.shown.empty());
  EXPECT_EQ(front_end_.shown.back().text, "Installation Completed");
  EXPECT_EQ(host_.statuses.back(), "Ready");
  // No finalize: the self-extractor's hand-off files are removed.
  EXPECT_FALSE(P().files.Exists(Temp() + "\\crxfin.dat"));
  EXPECT_FALSE(P().files.Exists(Temp() + "\\crxfinalize.exe"));

  const std::string expected =
      "Kestrova log DD/MM/YYYY hh:mm:ss [14/11/00]\n"
      "# setenv <TEMP> = <" + Temp() + ">\n"
      "# OPEN <install.txt>\n"
      "cmd<call> opt<> a1<part.txt> [1]\n"
      "# OPEN <part.txt>\n";
  EXPECT_EQ(MaskHead(UntilFinalize(LogText())), expected);
}

TEST_F(RunnerTest, AWholeRunLogsEveryCommandThatRuns) {
  Write("install.txt",
        "# a plain installation\n"
        "set VENDOR Acme\n"
        "set APP \"Tool Suite\"\n"
        "set NO_UNINSTALL TRUE\n"
        "_alias BIN \"C:\\Program Files\\Tool\"\n"
        "if $VER_PLATFORM == 9\n"
        "  set KIND future\n"
        "elseif \"$APP\" == \"Tool Suite\"\n"
        "  set KIND known\n"
        "else\n"
        "  set KIND other $UNSET\n"
        "endif\n"
        "eval N = 0x10 + 1\n"
        "message \"Installing $APP\" BIN\n"
        "call part.txt\n"
        "set DONE yes\n");
  Write("part.txt", "if $N > 16\n  set BIG yes\nendif\nreturn\nset NEVER yes\n");

  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.keep_window);
  EXPECT_EQ(K().VariableText("KIND"), "known");
  EXPECT_EQ(K().VariableText("DONE"), "yes");
  EXPECT_EQ(K().VariableText("NEVER"), "");
  ASSERT_GE(front_end_.shown.size(), 2u);
  EXPECT_EQ(front_end_.shown[0].text, "Installing Tool Suite\nC:\\Program Files\\Tool");
  EXPECT_EQ(front_end_.shown.back().text, "Installation Completed");

  std::string expected =
#include "interpreter/logs/plain_run.inc"
      ;
  expected = Replace(expected, "@TEMP@", Temp());
  expected = Replace(expected, "@PLATFORM@", Format("%u", P().environment.Version().platform_id));
  ExpectSameLines(MaskHead(UntilFinalize(LogText())), expected);
}

TEST_F(RunnerTest, AFailedCommandEndsTheRunAfterItsReportAndCleanUp) {
  Write("failed.txt", "set APP Tool\nnosuch \"a b\" c\nmessage never\n");
  interp::RunResult result = K().Run("failed.txt");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.keep_window);  // the window stays with its messages
  std::vector<std::string> texts;
  for (const ShownDialog& shown : front_end_.shown) texts.push_back(shown.text);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].substr(0, 36), "SCRIPT ERROR: can't process command\n");
  EXPECT_EQ(texts[1], "CLEANUP PHASE COMPLETED SUCCESSFULLY");
  EXPECT_EQ(texts[2], "Fatal errors have occured while running the instalation");
  EXPECT_EQ(front_end_.shown[2].flags, 16u);
  std::string expected =
#include "interpreter/logs/failed_run.inc"
      ;
  ExpectSameLines(MaskHead(LogText()), Replace(expected, "@TEMP@", Temp()));
}

TEST_F(RunnerTest, ASilentFailedRunLogsItsMessagesAndQuits) {
  Write("failed.txt", "set APP Tool\nnosuch \"a b\" c\nmessage never\n");
  interp::RunResult result = K().Run("/sms:silent failed.txt");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_FALSE(result.keep_window);
  EXPECT_TRUE(front_end_.shown.empty());
  std::string log = MaskHead(LogText());
  // The system error code of the missing status library varies.
  const std::string load = "LoadLibrary(ismif32.dll) failed 0x";
  const size_t at = log.find(load);
  ASSERT_NE(at, std::string::npos) << log;
  const size_t end = log.find('\n', at);
  log.replace(at + load.size(), end - at - load.size(), "@ERROR@");
  std::string expected =
#include "interpreter/logs/silent_failed_run.inc"
      ;
  ExpectSameLines(log, Replace(expected, "@TEMP@", Temp()));
}

TEST_F(RunnerTest, FinalizeKeepsTheHandOffFilesForTheFinishingProgram) {
  Write("install.txt", "set NO_UNINSTALL TRUE\nfinalize\n");
  ASSERT_TRUE(WriteWholeFile(P().files, Temp() + "\\crxfin.dat", "x"));
  // Without the finishing program there is nothing to start: its data goes.
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(K().finalize_requested);
  EXPECT_FALSE(P().files.Exists(Temp() + "\\crxfin.dat"));

  // With it, the files are the finishing program's (this one cannot start,
  // which the log says).
  ASSERT_TRUE(WriteWholeFile(P().files, Temp() + "\\crxfin.dat", "x"));
  ASSERT_TRUE(WriteWholeFile(P().files, Temp() + "\\crxfinalize.exe", "not a program"));
  result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(P().files.Exists(Temp() + "\\crxfin.dat"));
  EXPECT_TRUE(P().files.Exists(Temp() + "\\crxfinalize.exe"));
  EXPECT_NE(LogText().find("# start finalize program <" + Temp() + "\\crxfinalize.exe>\n"),
            std::string::npos);
  P().files.DeleteFile(Temp() + "\\crxfin.dat");
  P().files.DeleteFile(Temp() + "\\crxfinalize.exe");
}

// The self-extractor puts its hand-off files where TEMP points, the
// system's temporary path prefers TMP: with the two apart the files are
// still found.
TEST_F(RunnerTest, TheHandOffFilesAreFoundWhereTempPoints) {
  std::string saved_temp;
  std::string saved_tmp;
  const bool had_temp = P().environment.Get("TEMP", &saved_temp);
  const bool had_tmp = P().environment.Get("TMP", &saved_tmp);
  const std::string temp = Temp();
  const std::string other = P().files.FullPath("other-temp");
  ASSERT_TRUE(P().files.CreateFolder(other));
  ASSERT_TRUE(P().environment.Set("TMP", temp));
  ASSERT_TRUE(P().environment.Set("TEMP", other));
  ASSERT_EQ(temp, Temp());
  ASSERT_TRUE(WriteWholeFile(P().files, other + "\\crxfin.dat", "x"));
  Write("install.txt", "set NO_UNINSTALL TRUE\n");
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(P().files.Exists(other + "\\crxfin.dat"));
  if (had_temp) {
    P().environment.Set("TEMP", saved_temp);
  } else {
    P().environment.Unset("TEMP");
  }
  if (had_tmp) {
    P().environment.Set("TMP", saved_tmp);
  } else {
    P().environment.Unset("TMP");
  }
}

TEST_F(RunnerTest, TheEndOfRunReportTellsHowTheRunEnded) {
  const bool nt = P().environment.Version().platform_id != 1;
  Write("install.txt", "set NO_UNINSTALL TRUE\ncancel\nset AFTER yes\n");
  interp::RunResult result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.keep_window);
  EXPECT_EQ(K().VariableText("AFTER"), "");
  EXPECT_EQ(front_end_.shown.back().text, "The installation was calcelled");
  EXPECT_EQ(host_.statuses.back(), "Cancelled");

  Write("install.txt", "set NO_UNINSTALL TRUE\nset EXIT_AT_END 1\n");
  K().cancelled = false;
  K().reboot_needed = true;
  result = K().Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.keep_window);  // exit-at-end
  EXPECT_EQ(front_end_.shown.back().text.substr(0, 92),
            "Installation Completed\nThe system must be rebooted for the installation to fully "
            "take effect");
  EXPECT_EQ(front_end_.shown.back().text.find("Logon as the same user") != std::string::npos, nt);
  EXPECT_EQ(front_end_.shown.back().flags, 64u);
}

TEST_F(RunnerTest, SilentRunsLogTheModeAndQuit) {
  Write("setup.txt", "# nothing\n");
  interp::RunResult result = K().Run("/sms:silent setup.txt");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.keep_window);
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_TRUE(host_.statuses.empty());
  const std::string log = MaskHead(LogText());
  EXPECT_EQ(log.substr(0, log.find("# OPEN")),
            "Kestrova log DD/MM/YYYY hh:mm:ss [14/11/00]\n\nSMS SETUP MODE\n\n# setenv <TEMP> = <" +
                Temp() + ">\n");
  EXPECT_NE(log.find("\nSMSMODE MESSAGE (flags=0x0)\nInstallation Completed\n"
                     "MESSAGE response: OK\n"),
            std::string::npos)
      << log;
}

TEST_F(RunnerTest, AMissingDefaultScriptIsAskedForAndTheChoiceRemembered) {
  // Cancelled: nothing runs.
  interp::RunResult result = K().Run("");
  EXPECT_EQ(host_.script_dialogs, 1);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.keep_window);
  EXPECT_TRUE(front_end_.shown.empty());

  // Chosen: the run happens in the script's folder and the choice is kept.
  ASSERT_TRUE(P().files.CreateFolder(Path("pkg")));
  Write("pkg\\go.txt", "# fine\n");
  host_.script_answer = Path("pkg\\go.txt");
  result = K().Run("\"install.txt\"");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(P().files.CurrentFolder(), Path("pkg"));
  EXPECT_EQ(K().VariableText("PWD"), Path("pkg"));
  ScopedRegKey key(P().registry);
  ASSERT_EQ(P().registry.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Velmora\\Kestrova\\1.00",
                                 RegAccess::kRead, key.Out()),
            kErrorSuccess);
  std::string last;
  EXPECT_EQ(P().registry.GetString(key.Get(), "LastScriptFile", &last), kErrorSuccess);
  EXPECT_EQ(last, Path("pkg\\go.txt"));
}

TEST_F(RunnerTest, UnrunnableCommandLinesEndWithExitCodeOne) {
  interp::RunResult result = K().Run("missing.txt");
  EXPECT_EQ(result.exit_code, 1);
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "can't open script <missing.txt> (2)");

  // A restart command line that names no script.
  front_end_.shown.clear();
  result = K().Run("-rstep2$@$");
  EXPECT_EQ(result.exit_code, 1);
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_NE(front_end_.shown[0].text.find("The command line names no script."), std::string::npos);
}

}  // namespace
}  // namespace crx::test
