// The setup phase on an emulated machine: the extracted "members" are files
// the test writes into a temporary folder, the setup program is a stand-in
// process that records its command line, and the stub's log is a file the
// test reads back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "stub/handover.h"
#include "stub/setup_phase.h"
#include "stub/stub_messages.h"
#include "stub/stub_variant.h"
#include "stub/temp_folder.h"
#include "support/fake_processes.h"
#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"
#include "ui/front_end.h"
#include "ui/silent_mode.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/host_paths.h"
#endif

namespace crx {
namespace {

// The engine's and the stub's messages, recorded and answered OK (or with
// the box's refusing answer).
class NoUi : public UserInterface, public ui::FrontEnd {
 public:
  std::vector<std::string> messages;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    messages.push_back(text);
    return kIdOk;
  }
  int Show(ui::Dialog& dialog) override {
    messages.push_back(dialog.Text());
    dialog.Refuse();
    return dialog.Result();
  }
};

// The setup program: started with its command line recorded, "running"
// until waited for; the stub's own path is a fixed one.
class SetupProcesses : public test::RecordingProcesses {
 public:
  using RecordingProcesses::RecordingProcesses;
  std::string ProgramPath() override { return "C:\\Downloads\\widget-setup.exe"; }
};

// Sleeping runs the test's hook (another program finishing meanwhile).
class HookClock : public Clock {
 public:
  explicit HookClock(Clock& real) : real_(real) {}
  std::vector<uint32_t> sleeps;
  std::unique_ptr<File> held;  // a running program's file; released on the second sleep
  SystemTime UtcNow() override { return real_.UtcNow(); }
  SystemTime LocalNow() override { return real_.LocalNow(); }
  uint32_t TickCount() override { return real_.TickCount(); }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    if (sleeps.size() == 2) held.reset();
  }

 private:
  Clock& real_;
};

// Can refuse to delete the hand-off files, as for another user's links
// in a shared folder.
class HandOffFileSystem : public test::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  bool refuse_hand_off_deletes = false;
  bool DeleteFile(const std::string& path) override {
    if (refuse_hand_off_deletes && (path.find(stub::kFinalizeData) != std::string::npos ||
                                    path.find("\\crxfinalize.exe") != std::string::npos)) {
      SetLastError(kErrorAccessDenied);
      return false;
    }
    return ForwardingFileSystem::DeleteFile(path);
  }
};

class SetupPhaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    Platform& real = machine_.Get();
    processes_ = std::make_unique<SetupProcesses>(real.processes);
    clock_ = std::make_unique<HookClock>(real.clock);
    files_ = std::make_unique<HandOffFileSystem>(real.files);
    platform_ = std::make_unique<Platform>(Platform{*files_, real.registry, *processes_,
                                                    real.environment, *clock_, real.terminal,
                                                    real.shell});
    root_ = machine_.Scratch();
    ASSERT_TRUE(p().files.CreateFolder(root_ + "\\temp"));
    ASSERT_TRUE(p().environment.Set("TEMP", root_ + "\\temp"));
    folder_.saved_folder = root_;
    folder_.folder = root_ + "\\temp\\__CRX_tmp_0__";
    ASSERT_TRUE(p().files.CreateFolder(folder_.folder));
    ASSERT_TRUE(p().files.SetCurrentFolder(folder_.folder));
    engine_ = std::make_unique<ArchiveEngine>(p(), ui_);
    log_ = std::make_unique<stub::StubLog>(p());
    ASSERT_TRUE(log_->OpenOwn(root_ + "\\stub.log"));
  }

  Platform& p() { return *platform_; }

  void Extracted(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      ASSERT_TRUE(test::WriteWholeFile(p().files, folder_.folder + "\\" + name, name)) << name;
      MemberEntry entry;
      entry.name = name;
      entry.status = kMemberExtracted;
      engine_->members().push_back(entry);
    }
  }

  void Run(const std::string& setup, const std::string& wait, bool silent = false,
           const std::string& response = std::string(), bool minimal = false) {
    engine_->setup_info().setup_program = setup;
    engine_->setup_info().wait_program = wait;
    ui::SilentMode mode;
    mode.set_silent(silent);
    if (!response.empty()) mode.set_response_file(response);
    stub::StubMessages messages(ui_, *log_, mode);
    stub::HandoverContext context{minimal ? stub::MinimalStub() : stub::FullStub(), p(),
                                  *engine_, messages, *log_, mode};
    stub::RunSetupPhaseSteps(context, folder_);
    log_->Close();
  }

  std::string Read(const std::string& path) {
    return test::ReadWholeFile(p().files, path, "(missing)");
  }
  std::string Log() { return Read(root_ + "\\stub.log"); }

  test::TestPlatform machine_;
  std::unique_ptr<SetupProcesses> processes_;
  std::unique_ptr<HookClock> clock_;
  std::unique_ptr<HandOffFileSystem> files_;
  std::unique_ptr<Platform> platform_;
  NoUi ui_;
  std::string root_;
  stub::TempFolder folder_;
  std::unique_ptr<ArchiveEngine> engine_;
  std::unique_ptr<stub::StubLog> log_;
};

TEST(SetupCommandLine, RelativeNamesRunFromTheFolderAndSilentModeIsPassedOn) {
  EXPECT_EQ(stub::SetupCommandLine("setup.exe", false, ""), ".\\setup.exe");
  EXPECT_EQ(stub::SetupCommandLine("C:\\x\\setup.exe", false, ""), "C:\\x\\setup.exe");
  EXPECT_EQ(stub::SetupCommandLine("\\x\\setup.exe", false, ""), "\\x\\setup.exe");
  EXPECT_EQ(stub::SetupCommandLine(".\\bin\\setup.exe", false, ""), ".\\bin\\setup.exe");
  EXPECT_EQ(stub::SetupCommandLine("setup.exe", true, ""), ".\\setup.exe /sms:silent");
  EXPECT_EQ(stub::SetupCommandLine("setup.exe", true, "C:\\r.ini more"),
            ".\\setup.exe /sms:C:\\r.ini more");
}

TEST_F(SetupPhaseTest, WaitsForTheSetupProgramThenRemovesWhatWasExtracted) {
  Extracted({"setup.exe", "Kestrova.exe", "install.txt", "crxfinalize.exe"});
  Run("setup.exe", "setup.exe", true, "C:\\answers.ini");
  EXPECT_EQ(processes_->started, std::vector<std::string>{".\\setup.exe /sms:C:\\answers.ini"});
  EXPECT_EQ(processes_->waits, 1);
  // Every member and the folder are gone; the stub is back where it was.
  EXPECT_FALSE(p().files.Exists(folder_.folder));
  EXPECT_EQ(p().files.CurrentFolder(), root_);
  // The hand-off for the interpreter's finalize step.
  EXPECT_EQ(Read(root_ + "\\temp\\crxfin.dat"), "C:\\Downloads\\widget-setup.exe\n");
  EXPECT_EQ(Read(root_ + "\\temp\\crxfinalize.exe"), "crxfinalize.exe");
  EXPECT_EQ(Log(),
            "SETUP PHASE: RUN PROGRAM <setup.exe> (.\\setup.exe /sms:C:\\answers.ini)\n"
            "(waiting for program to compltete)\n"
            "(program is compltete)\n"
            "FINAL SETUP PHASE...\n"
            "CLEANUP PHASE\n"
            "(0) remove file 'setup.exe'\n"
            "(1) remove file 'Kestrova.exe'\n"
            "(2) remove file 'install.txt'\n"
            "(3) remove file 'crxfinalize.exe'\n"
            "change directory to '" + root_ + "'\n"
            "remove directory '" + folder_.folder + "'\n");
}

TEST_F(SetupPhaseTest, ASecondProgramIsWaitedForByDeletingIt) {
  Extracted({"setup.exe", "Kestrova.exe"});
  // The interpreter is still running: its file cannot be deleted until the
  // second retry.
  clock_->held = p().files.Open(folder_.folder + "\\Kestrova.exe", kAccessRead, kShareRead,
                                Disposition::kOpenExisting);
  ASSERT_NE(clock_->held, nullptr);
  Run("setup.exe", "Kestrova.exe", false, "", true);
  EXPECT_EQ(clock_->sleeps, (std::vector<uint32_t>{5000, 5000}));
  EXPECT_FALSE(p().files.Exists(folder_.folder));
  const std::string log = Log();
  EXPECT_EQ(log.find("setup phase: run program <setup.exe> (.\\setup.exe)\n"), 0u) << log;
  EXPECT_NE(log.find("wait for {Kestrova.exe:setup.exe}\nCLEANUP PHASE\n"), std::string::npos)
      << log;
  // The interpreter's file was deleted by the wait; its own clean-up line fails.
  EXPECT_NE(log.find("(1) remove file 'Kestrova.exe'\nremove file error 0x2\n"),
            std::string::npos)
      << log;
}

TEST_F(SetupPhaseTest, WhatKeepsTheFilesAndTheFolder) {
  // The restart marker: everything stays for the installation's second part.
  Extracted({"setup.exe", "__restart_env__.tmp"});
  Run("setup.exe", "setup.exe");
  EXPECT_TRUE(p().files.Exists(folder_.folder + "\\setup.exe"));
  EXPECT_EQ(Log().find("CLEANUP PHASE"), std::string::npos);
}

TEST_F(SetupPhaseTest, NoWaitProgramLeavesTheFolder) {
  Extracted({"setup.exe"});
  Run("setup.exe", "");
  EXPECT_EQ(processes_->waits, 0);
  EXPECT_TRUE(p().files.Exists(folder_.folder + "\\setup.exe"));
  EXPECT_NE(Log().find("(not waiting for program to compltete)\n"
                       "(info: cannot locate exe to wait for '')\n"
                       "(cannot perform cleanup phase, will leave folder '" +
                       folder_.folder + "')FINAL SETUP PHASE...\n"),
            std::string::npos)
      << Log();
}

TEST_F(SetupPhaseTest, SubFoldersGoDeepestFirstAndAFailedStartStillCleansUp) {
  for (const char* sub : {"\\docs", "\\docs\\api", "\\data"}) {
    ASSERT_TRUE(p().files.CreateFolder(folder_.folder + sub));
  }
  Extracted({"setup.exe", "docs\\api\\index.txt", "docs\\manual.txt", "data\\table.txt"});
  // Something the extraction did not write keeps its folder.
  ASSERT_TRUE(test::WriteWholeFile(p().files, folder_.folder + "\\data\\user.txt", "mine"));
  processes_->fail_with = 193;
  Run("setup.exe", "setup.exe");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0], "ERROR: can't run setup program\nerror creating process 193[0xc1]\n"
                             "setup.exe");
  // No hand-off files without a started program.
  EXPECT_FALSE(p().files.Exists(root_ + "\\temp\\crxfin.dat"));
  // The extracted files and the emptied sub-folders are gone (the inner one
  // first); the folder holding someone else's file stays, and with it the
  // temporary folder.
  EXPECT_FALSE(p().files.Exists(folder_.folder + "\\docs"));
  EXPECT_FALSE(p().files.Exists(folder_.folder + "\\data\\table.txt"));
  EXPECT_EQ(Read(folder_.folder + "\\data\\user.txt"), "mine");
  const std::string log = Log();
  EXPECT_NE(log.find("run prog error 0xc1\n"), std::string::npos) << log;
  EXPECT_NE(log.find("remove directory '" + folder_.folder + "\\data'\nremove directory error "
                     "0x91\nchange directory to"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("docs'\nremove directory error"), std::string::npos) << log;
  EXPECT_NE(log.find("remove directory '" + folder_.folder + "'\nremove directory error 0x91\n"),
            std::string::npos)
      << log;
}

TEST_F(SetupPhaseTest, OnlyWhatWasExtractedIntoTheFolderIsDeleted) {
  // A file outside the temporary folder, named by an absolute member name
  // and by the program to wait for.
  const std::string outside = root_ + "\\precious.txt";
  ASSERT_TRUE(test::WriteWholeFile(p().files, outside, "keep me"));
  Extracted({"setup.exe", "later.txt"});
  engine_->members()[1].status = kMemberNotExtracted;  // refused: not written here
  MemberEntry absolute;
  absolute.name = outside;
  absolute.status = kMemberExtracted;
  engine_->members().push_back(absolute);
  MemberEntry climbing;
  climbing.name = "..\\..\\precious.txt";
  climbing.status = kMemberExtracted;
  engine_->members().push_back(climbing);
  Run("setup.exe", "setup.exe");
  EXPECT_EQ(Read(outside), "keep me");
  EXPECT_EQ(Read(folder_.folder + "\\later.txt"), "later.txt");
  EXPECT_FALSE(p().files.Exists(folder_.folder + "\\setup.exe"));
  const std::string log = Log();
  EXPECT_NE(log.find("(1) remove file 'later.txt'\n(not extracted into the temporary folder: "
                     "left alone)\n(2) remove file '" + outside + "'\n(not extracted"),
            std::string::npos)
      << log;

  // A program to wait for outside the folder is never deleted to wait for
  // it: the stub says so and leaves everything as it is.
  p().files.SetCurrentFolder(folder_.folder);
  ASSERT_TRUE(log_->OpenOwn(root_ + "\\stub.log"));
  Run("later.txt", outside);
  EXPECT_EQ(Read(outside), "keep me");
  EXPECT_TRUE(clock_->sleeps.empty());
  EXPECT_EQ(Read(folder_.folder + "\\later.txt"), "later.txt");
  EXPECT_NE(Log().find("wait for {" + outside + ":later.txt}\n(will not delete '" + outside +
                       "': it is not in the temporary folder; will leave folder '" +
                       folder_.folder + "')\n"),
            std::string::npos)
      << Log();
  EXPECT_EQ(Log().find("CLEANUP PHASE"), std::string::npos) << Log();
}

TEST_F(SetupPhaseTest, WithoutTempTheHandOffGoesToTheDriveRoot) {
  ASSERT_TRUE(p().environment.Unset("TEMP"));
  p().environment.Unset("TMP");
  EXPECT_EQ(stub::HandOffFolder(p().environment), "");
  Extracted({"setup.exe"});
  Run("setup.exe", "setup.exe");
  const std::string root_file = root_.substr(0, 2) + "\\crxfin.dat";
  EXPECT_EQ(Read(root_file), "C:\\Downloads\\widget-setup.exe\n");
  p().files.DeleteFile(root_file);
}

#ifndef _WIN32
TEST_F(SetupPhaseTest, LinksPlantedInTempAreNeverWrittenThrough) {
  // Links in TEMP where the hand-off files go, pointing at a file of the
  // user's that an attacker wants overwritten.
  const std::string victim = root_ + "\\victim.txt";
  ASSERT_TRUE(test::WriteWholeFile(p().files, victim, "precious"));
  const std::string host_victim = WindowsToHostPath(victim);
  for (const char* name : {stub::kFinalizeData, stub::kFinalizeProgram}) {
    const std::string link = WindowsToHostPath(root_ + "\\temp\\" + name);
    ASSERT_EQ(0, ::symlink(host_victim.c_str(), link.c_str())) << link;
  }
  Extracted({"setup.exe", "crxfinalize.exe"});
  // Links this user may remove are removed, never followed: the hand-off
  // files are new files in their place.
  Run("setup.exe", "setup.exe");
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_EQ(Read(root_ + "\\temp\\crxfin.dat"), "C:\\Downloads\\widget-setup.exe\n");
  EXPECT_EQ(Read(root_ + "\\temp\\crxfinalize.exe"), "crxfinalize.exe");
  EXPECT_EQ(p().files.GetAttributes(root_ + "\\temp\\crxfin.dat") & kAttrReparsePoint, 0u);

  // Links that cannot be removed are refused, with a line in the log.
  for (const char* name : {stub::kFinalizeData, stub::kFinalizeProgram}) {
    const std::string link = WindowsToHostPath(root_ + "\\temp\\" + name);
    ASSERT_EQ(0, ::unlink(link.c_str()));
    ASSERT_EQ(0, ::symlink(host_victim.c_str(), link.c_str())) << link;
  }
  files_->refuse_hand_off_deletes = true;
  ASSERT_TRUE(p().files.CreateFolder(folder_.folder));
  ASSERT_TRUE(p().files.SetCurrentFolder(folder_.folder));
  engine_->members().clear();
  Extracted({"setup.exe", "crxfinalize.exe"});
  ASSERT_TRUE(log_->OpenOwn(root_ + "\\stub.log"));
  Run("setup.exe", "setup.exe");
  EXPECT_EQ(Read(victim), "precious");
  const std::string log = Log();
  for (const char* name : {stub::kFinalizeData, stub::kFinalizeProgram}) {
    EXPECT_NE(log.find("(hand-off file '" + root_ + "\\temp\\" + name +
                       "' refused: a link or a file that cannot be replaced is in the way)\n"),
              std::string::npos)
        << log;
  }
}
#endif

}  // namespace
}  // namespace crx
