// rmtree with files in use, the boot-time removal of what it leaves, the
// restart command (the saved state, the batch that starts the interpreter
// again, the suspension), and a restarted run that resumes at its restart
// line.
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/copy_fixture.h"
#include "support/scoped_settings.h"

namespace crx::test {
namespace {

class RestartTest : public CopyFixture {
 protected:
  void SetUp() override {
    CopyFixture::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(Scratch()));
    K().SetBuiltInVariables();  // PWD is the scratch folder
    if (!Emulated() && platform_.UnderWine()) {
      // Under wine the batches go to a Startup folder of the test's own,
      // and the initialisation file is put back as it was.
      ASSERT_TRUE(P().files.CreateFolder(At("Startup")));
      startup_ = std::make_unique<ScopedRegistryString>(
          P().registry, kHKeyCurrentUser,
          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Startup");
      ASSERT_TRUE(startup_->Set(At("Startup")));
      init_file_ = std::make_unique<ScopedFileContent>(
          P().files, P().environment.WindowsFolder() + "\\wininit.ini");
    }
  }
  void TearDown() override {
    // Batches left in the Startup folder would run at the user's next logon.
    for (const std::string& batch : Batches("ks_")) P().files.DeleteFile(batch);
    init_file_.reset();
    startup_.reset();
    CopyFixture::TearDown();
  }

  // The batches in the Startup folder whose names begin with prefix.
  std::vector<std::string> Batches(const std::string& prefix) {
    std::vector<std::string> out;
    std::string folder;
    RegKey key = 0;
    if (P().registry.OpenKey(kHKeyCurrentUser,
                             "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                             RegAccess::kRead, &key) != kErrorSuccess) {
      return out;
    }
    P().registry.GetString(key, "Startup", &folder);
    P().registry.CloseKey(key);
    std::vector<FolderEntry> entries;
    P().files.ListFolder(folder + "\\" + prefix + "*.bat", &entries);
    for (const FolderEntry& e : entries) out.push_back(folder + "\\" + e.name);
    return out;
  }
  std::string OnlyBatch(const std::string& prefix) {
    std::vector<std::string> batches = Batches(prefix);
    EXPECT_EQ(1u, batches.size()) << prefix;
    return batches.size() == 1 ? batches[0] : std::string();
  }

  // Runs one script line through the dispatcher as the main loop would.
  bool Line(const std::string& line) {
    K().SplitLine(K().ExpandLine(line));
    return K().Dispatch();
  }
  bool Emulated() { return !platform_.MachineFolder().empty(); }
  // Restart and the batches write the Startup folder and the system's
  // initialisation file: on the emulated machine, and under wine where the
  // test has its own Startup folder; never on a real Windows system.
  bool OwnStartup() { return Emulated() || startup_ != nullptr; }

  std::string Environment() { return Scratch() + "\\__restart_env__.tmp"; }

  std::unique_ptr<ScopedRegistryString> startup_;
  std::unique_ptr<ScopedFileContent> init_file_;
};

TEST_F(RestartTest, RmtreeWithAFileInUseWarnsOnceAndSchedulesTheRest) {
  ASSERT_TRUE(P().files.CreateFolder(At("app")));
  ASSERT_TRUE(P().files.CreateFolder(At("app\\bin")));
  Write(At("app\\bin\\busy.dll"), "x");
  Write(At("app\\free.txt"), "x");
  // Another program has the file open without sharing its deletion.
  std::unique_ptr<File> busy = P().files.Open(At("app\\bin\\busy.dll"), kAccessRead, kShareRead,
                                              Disposition::kOpenExisting);
  ASSERT_TRUE(busy);

  front_end_.answers = {kIdYes};
  ASSERT_TRUE(Line("rmtree \"" + At("app") + "\""));
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ("REMOVE DIRECTORY TREE?\n\n\"" + At("app") +
                "\"\n\nAll files and directories bellow the \nabove named directory will be "
                "removed.\n\nDO YOU WANT TO DO THIS?",
            front_end_.shown[0].text);
  EXPECT_EQ(static_cast<uint32_t>(kMbYesNo | kMbIconQuestion), front_end_.shown[0].flags);
  EXPECT_EQ(0u, front_end_.shown[1].text.find("WARNING: DIRECTORY TREE COULD BE REMOVED...\n\"" +
                                               At("app") + "\"\n"));
  EXPECT_EQ(0u, front_end_.shown[1].flags);

  EXPECT_FALSE(P().files.Exists(At("app\\free.txt")));
  EXPECT_TRUE(P().files.Exists(At("app\\bin\\busy.dll")));
  // The file, then the folders that hold it, innermost first.
  ASSERT_EQ(3u, shell_.requests.size() - 1);  // after the support test
  EXPECT_EQ(At("app\\bin\\busy.dll"), shell_.requests[1].from);
  EXPECT_EQ(At("app\\bin"), shell_.requests[2].from);
  EXPECT_EQ(At("app"), shell_.requests[3].from);
  EXPECT_EQ("TRUE", K().VariableText("NEEDS_RE_BOOT"));
  EXPECT_TRUE(K().reboot_needed);
  EXPECT_TRUE(K().pending_files.empty());
  EXPECT_TRUE(K().pending_folders.empty());
  const std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("# RM-FILE-ON-BOOT(fwd) <" + At("app\\bin\\busy.dll") + ">\n"));
  EXPECT_NE(std::string::npos, log.find("# RM-DIR-ON-BOOT(fwd) <" + At("app") + ">\n"));

  // Answering No removes nothing; -! asks nothing; -x is refused.
  busy.reset();
  front_end_.shown.clear();
  front_end_.answers = {kIdNo};
  EXPECT_TRUE(Line("rmtree \"" + At("app") + "\""));
  EXPECT_TRUE(P().files.Exists(At("app\\bin\\busy.dll")));
  EXPECT_TRUE(Line("rmtree -! \"" + At("app") + "\""));
  EXPECT_FALSE(P().files.Exists(At("app")));
  EXPECT_EQ(1u, front_end_.shown.size());
  EXPECT_FALSE(Line("rmtree -x \"" + At("app") + "\""));
  EXPECT_EQ("incorrect option with 'rmtree' command", front_end_.shown.back().text);
}

TEST_F(RestartTest, WithoutBootMovesTheDeleteBatchRemovesWhatIsLeft) {
  if (!OwnStartup()) GTEST_SKIP() << "writes the Startup folder and wininit.ini";
  Set("APP", "Tool");
  shell_.refuse = true;
  P().files.DeleteFile(P().environment.WindowsFolder() + "\\wininit.ini");
  K().pending_files = {At("a.dll"), At("b.dll")};
  K().pending_folders = {At("sub"), "rel"};
  Write(At("a.dll"), "x");
  Write(At("b.dll"), "x");
  // Two files through the initialisation file, the folders by the batch.
  EXPECT_EQ(4, K().SchedulePendingRemovals());
  const std::string batch = OnlyBatch("ks_delete_");
  EXPECT_EQ("echo off\necho.Complete removal of Tool...\n"
            "if exist \"" + At("a.dll") + "\" del \"" + At("a.dll") + "\"\n"
            "if exist \"" + At("b.dll") + "\" del \"" + At("b.dll") + "\"\n"
            "rmdir \"" + At("sub") + "\"\nrmdir \"" + At("rel") + "\"\n"
            "echo.\necho.Removal of Tool is complete\npause\necho.task completed successfully\n"
            "echo.subsequent error messages can be ignored...\ndel \"" + batch + "\"\n",
            Read(batch));
  // Entered backwards at the top: carried out in recording order.
  std::string a, b;
  ASSERT_TRUE(P().files.ShortPath(At("a.dll"), &a));
  ASSERT_TRUE(P().files.ShortPath(At("b.dll"), &b));
  EXPECT_EQ("[Rename]\r\nNUL=" + a + "\r\nNUL=" + b + "\r\n",
            Read(P().environment.WindowsFolder() + "\\wininit.ini"));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("Write Delete Bat File...\n"));
  EXPECT_LT(log.find("# RM-FILE-ON-BOOT(bwd) <" + At("b.dll") + ">"),
            log.find("# RM-FILE-ON-BOOT(bwd) <" + At("a.dll") + ">"));

  // A second batch in the same second does not overwrite the first.
  K().pending_files = {At("a.dll")};
  K().pending_folders.clear();
  EXPECT_EQ(1, K().SchedulePendingRemovals());
  EXPECT_EQ(2u, Batches("ks_delete_").size());
  EXPECT_NE(std::string::npos, Read(batch).find(At("b.dll")));
  P().files.DeleteFile(P().environment.WindowsFolder() + "\\wininit.ini");
}

TEST_F(RestartTest, RejectedAndMalformedRestartsLeaveTheRunGoing) {
  EXPECT_TRUE(Line("restart -r step2"));
  EXPECT_TRUE(Line("restart -c step2 0"));
  EXPECT_TRUE(Line("restart -rc step2 TRUE"));  // NEEDS_RE_BOOT is not TRUE
  EXPECT_FALSE(Line("restart -c step2"));       // no condition
  EXPECT_FALSE(K().suspended);
  EXPECT_FALSE(P().files.Exists(Environment()));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("cmd<restart> opt<-r> a1<step2> a2<> a3<> a4<> a5<> "
                                        "a6<> a7<> a8<>\nrestart rejected, a reboot is not "
                                        "required\n"));
  EXPECT_NE(std::string::npos,
            log.find("Conditional restart rejected, condition not 'TRUE' or '1'\n"));
  EXPECT_TRUE(front_end_.shown.empty());

  // PWD is restored only by the saved state being read back, never by a
  // script line (not even one in a file it calls).
  EXPECT_FALSE(Line("set PWD C:\\elsewhere"));
  K().restore_depth = 1;
  EXPECT_FALSE(Line("set PWD C:\\elsewhere"));
  K().depth = 1;
  EXPECT_TRUE(Line("set PWD C:\\elsewhere"));
  EXPECT_EQ("C:\\elsewhere", K().VariableText("PWD"));
  K().depth = 0;
  K().restore_depth = -1;
  front_end_.shown.clear();

  // What cannot travel on the restart command line is refused before
  // anything is written.
  K().main_script = At("install.txt");
  EXPECT_FALSE(Line("restart \"step 2\""));
  EXPECT_NE(std::string::npos,
            front_end_.shown.back().text.find("the restart label 'step 2' cannot be carried"));
  K().main_script = At("my install.txt");
  EXPECT_FALSE(Line("restart step2"));
  EXPECT_NE(std::string::npos, front_end_.shown.back().text.find("it contains a blank"));
  K().main_script = At("sub\\install.txt");
  EXPECT_FALSE(Line("restart step2"));
  EXPECT_NE(std::string::npos, front_end_.shown.back().text.find("is not in the current folder"));
  K().main_script = At("install.txt");
  K().silent_mode.set_silent(true);
  K().silent_mode.set_response_file(At("my answers.ini"));
  EXPECT_FALSE(Line("restart step2"));
  EXPECT_NE(std::string::npos, LogText().find("the response file '" + At("my answers.ini") + "'"));
  EXPECT_FALSE(P().files.Exists(Environment()));
  EXPECT_FALSE(K().suspended);
}

TEST_F(RestartTest, AnUnconditionalRestartSavesTheStateAndSchedulesTheInterpreter) {
  if (!OwnStartup()) GTEST_SKIP() << "writes the Startup folder";
  K().main_script = At("install.txt");
  ASSERT_TRUE(Line("set APP Tool"));
  ASSERT_TRUE(Line("set HOME \"C:\\Program Files\\Tool\""));
  ASSERT_TRUE(Line("set QUOTE 'say \"hi\"'"));
  ASSERT_TRUE(Line("_alias target \"C:\\Some Where\""));
  ASSERT_TRUE(Line("finalize"));
  ASSERT_TRUE(Line("restart step2"));
  EXPECT_TRUE(K().suspended);
  // Without the word finalize the earlier finalize is given up.
  EXPECT_FALSE(K().finalize_requested);

  EXPECT_EQ("set \"PWD\" \"" + Scratch() + "\"\nset \"RESTARTED\" \"FALSE\"\n"
            "set \"APP\" \"Tool\"\nset \"HOME\" \"C:\\Program Files\\Tool\"\n"
            "set \"QUOTE\" 'say \"hi\"'\nset \"RESTARTED\" \"step2\"\n"
            "_alias \"target\" \"C:\\Some Where\"\n",
            Read(Environment()));

  const std::string batch = OnlyBatch("ks_rename_");
  K().CloseRenameBatch();
  EXPECT_EQ("echo off\necho.Complete Installation Of Tool...\n" +
                Scratch().substr(0, 2) + "\ncd \"" + Scratch() + "\"\necho.restarting Kestrova...\n"
                "\"" + P().processes.ProgramPath() + "\" -rstep2$@$install.txt\n"
                "echo.Kestrova completed after restart\n"
                "echo.\necho.Installation Of Tool Is Complete\n"
                "pause\necho.task completed successfully\n"
                "echo.subsequent error messages can be ignored...\ndel \"" + batch + "\"\n",
            Read(batch));
  EXPECT_NE(std::string::npos, LogText().find("Open Rename Bat File...\n"));
  EXPECT_NE(std::string::npos, LogText().find("SCHED RESTART \"step2\"\n"));
}

TEST_F(RestartTest, TheFinalizeWordAndTheSilentModeTravelWithTheRestart) {
  if (!OwnStartup()) GTEST_SKIP() << "writes the Startup folder";
  K().main_script = At("install.txt");
  Set("APP", "Tool");
  K().MarkRebootNeeded();
  K().silent_mode.set_silent(true);
  K().silent_mode.set_response_file(At("answers.ini"));
  // A reboot-required restart without the word gives an earlier finalize up.
  ASSERT_TRUE(Line("finalize"));
  ASSERT_TRUE(Line("restart -r step3"));
  EXPECT_FALSE(K().finalize_requested);
  K().suspended = false;
  K().DeleteRenameBatch();
  ASSERT_TRUE(Line("restart -r step3 finalize"));
  EXPECT_TRUE(K().finalize_requested);
  EXPECT_TRUE(K().suspended);
  K().CloseRenameBatch();
  EXPECT_NE(std::string::npos, Read(OnlyBatch("ks_rename_"))
                                   .find("\" -rstep3$/sms:" + At("answers.ini") + "$install.txt\n"));
  EXPECT_NE(std::string::npos, LogText().find("enable: finalize\n"));
}

TEST_F(RestartTest, CancelDeletesTheRenameBatch) {
  if (!OwnStartup()) GTEST_SKIP() << "writes the Startup folder";
  Set("APP", "Tool");
  ASSERT_TRUE(K().OpenRenameBatch());
  ASSERT_EQ(1u, Batches("ks_rename_").size());
  ASSERT_TRUE(Line("cancel"));
  EXPECT_TRUE(K().cancelled);
  EXPECT_TRUE(Batches("ks_rename_").empty());
}

// Whole runs: the first suspends, the second resumes after the restart line.
class RestartRunTest : public RestartTest {
 protected:
  interp::RunResult RunAgain(const std::string& command_line) {
    k_ = std::make_unique<interp::ScriptInterpreter>(wrapped_, front_end_, host_);
    return K().Run(command_line);
  }
};

TEST_F(RestartRunTest, TheRestartedRunSkipsToItsRestartLineAndGoesOnWithTheSavedState) {
  if (!OwnStartup()) GTEST_SKIP() << "writes the Startup folder";
  Write(At("install.txt"),
        "set NO_UNINSTALL TRUE\n"
        "set APP Tool\n"
        "set A one\n"
        "_alias X \"the x\"\n"
        "if $A == zzz\n"
        "  return\n"
        "endif\n"
        "if $A == one\n"
        "  set B two\n"
        "  if $RESTARTED == FALSE\n"
        "    message \"first run\"\n"
        "  endif\n"
        "  restart step2\n"
        "  set C three\n"
        "else\n"
        "  set C wrong\n"
        "endif\n"
        "set D \"$A $B $C $RESTARTED\"\n"
        "set E X\n");
  interp::RunResult first = K().Run("");
  EXPECT_EQ(0, first.exit_code);
  EXPECT_TRUE(K().suspended);
  EXPECT_EQ("", K().VariableText("C"));
  ASSERT_TRUE(P().files.Exists(Environment()));
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ("first run", front_end_.shown[0].text);
  EXPECT_EQ(0u, front_end_.shown[1].text.find("The installation procedure has been suspended."));
  EXPECT_EQ("Will restart after reboot", host_.statuses.back());
  // The run's end completed the batch.
  EXPECT_NE(std::string::npos, Read(OnlyBatch("ks_rename_")).find("del \""));

  front_end_.shown.clear();
  interp::RunResult second = RunAgain("-rstep2$@$install.txt");
  EXPECT_EQ(0, second.exit_code);
  EXPECT_FALSE(K().suspended);
  EXPECT_EQ("one two three step2", K().VariableText("D"));
  EXPECT_EQ("the x", K().VariableText("E"));
  EXPECT_EQ(Scratch(), K().VariableText("PWD"));
  EXPECT_EQ("step2", K().VariableText("RESTARTED"));
  // Nothing before the restart line ran again; the report is the plain one.
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("Installation Completed", front_end_.shown[0].text);
  EXPECT_FALSE(P().files.Exists(Environment()));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("INITIATING RESTART\ncmd<call> opt<-r> a1<__restart_env__.tmp> [1]\n"));
  EXPECT_EQ(std::string::npos, log.find("cmd<message>"));
  EXPECT_EQ(std::string::npos, log.find("READ-ONLY"));
}

TEST_F(RestartRunTest, ARestartedRunWithoutItsStateOrItsLineStopsWithExitCodeOne) {
  Write(At("install.txt"), "set NO_UNINSTALL TRUE\nset A one\nrestart step2\nset B two\n");
  interp::RunResult result = K().Run("-rstep2$@$install.txt");
  EXPECT_EQ(1, result.exit_code);
  EXPECT_FALSE(result.keep_window);
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("Fatal errors have occured while trying to restart", front_end_.shown[0].text);
  EXPECT_EQ(static_cast<uint32_t>(kMbIconHand), front_end_.shown[0].flags);
  EXPECT_EQ("", K().VariableText("B"));

  // A label the script does not have: nothing runs and nothing is finished.
  front_end_.shown.clear();
  Write(Environment(), "set \"A\" \"one\"\n");
  result = RunAgain("-rstep9$@$install.txt");
  EXPECT_EQ(1, result.exit_code);
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("Fatal errors have occured while trying to restart", front_end_.shown[0].text);
  EXPECT_NE(std::string::npos, LogText().find("# restart label <step9> not found in the script\n"));
  EXPECT_EQ(std::string::npos, LogText().find("# create uninstall script"));
}

}  // namespace
}  // namespace crx::test
