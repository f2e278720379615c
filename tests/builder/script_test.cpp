// The builder's script processor on a fresh emulated machine: archives
// made from scripts are listed back, and the activity log, the messages,
// the commands run and the feedback window's requests are checked.
// Commands ("!!", "!$") go to a recording stand-in for the command
// interpreter; "!!break-disk" makes every later write to an archive fail.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "builder/command_line.h"
#include "builder/script.h"
#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"
#include "ui/feedback.h"

namespace crx {
namespace {

#ifndef _WIN32

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

// Set by the commands "!!break-disk" and "!!quit" of a script.
struct Switches {
  bool broken = false;  // every later write to an archive fails
  bool quit = false;    // the user asks to stop
};

// Writes to archives fail once broken is set (a full or vanished disk).
class BreakableFiles : public test::ForwardingFileSystem {
 public:
  BreakableFiles(FileSystem& real, bool& flag) : ForwardingFileSystem(real), broken(flag) {}
  bool& broken;

  std::unique_ptr<File> Open(const std::string& p, uint32_t a, uint32_t s, Disposition d,
                             uint32_t attr) override {
    std::unique_ptr<File> file = real().Open(p, a, s, d, attr);
    if (!file || (a & kAccessWrite) == 0 || p.find(".exe") == std::string::npos) return file;
    return std::make_unique<BreakableFile>(std::move(file), broken);
  }

 private:
  class BreakableFile : public File {
   public:
    BreakableFile(std::unique_ptr<File> f, bool& broken) : f_(std::move(f)), broken_(broken) {}
    bool Read(void* b, size_t n, size_t* got) override { return f_->Read(b, n, got); }
    bool Write(const void* d, size_t n) override { return !broken_ && f_->Write(d, n); }
    bool Seek(int64_t o, SeekFrom w, int64_t* p) override { return f_->Seek(o, w, p); }
    bool Size(int64_t* s) override { return f_->Size(s); }
    bool SetEnd() override { return !broken_ && f_->SetEnd(); }
    bool Flush() override { return !broken_ && f_->Flush(); }
    bool GetLastWriteTime(FileTime* t) override { return f_->GetLastWriteTime(t); }
    bool SetLastWriteTime(FileTime t) override { return f_->SetLastWriteTime(t); }

   private:
    std::unique_ptr<File> f_;
    bool& broken_;
  };
};

// Records the commands given to the command interpreter instead of running
// them; "exit N" returns N.
class ScriptedShell : public Processes {
 public:
  ScriptedShell(Processes& real, Switches& switches) : real_(real), switches_(switches) {}
  std::vector<std::string> commands;

  std::unique_ptr<Process> Start(const std::string& c, const StartOptions& o) override {
    return real_.Start(c, o);
  }
  bool RunShellCommand(const std::string& command, const std::string&, uint32_t* code) override {
    commands.push_back(command);
    if (command == "break-disk") switches_.broken = true;
    if (command == "quit") switches_.quit = true;
    *code = command.rfind("exit ", 0) == 0 ? static_cast<uint32_t>(std::stoi(command.substr(5)))
                                           : 0;
    return true;
  }
  uint32_t CurrentProcessId() override { return real_.CurrentProcessId(); }
  std::string ProgramPath() override { return real_.ProgramPath(); }
  std::string CommandLineTail() override { return real_.CommandLineTail(); }

 private:
  Processes& real_;
  Switches& switches_;
};

// The clock stands at 6 December 2026, 14:05:09 UTC, or moves on by a
// millisecond each time it is read.
class FixedClock : public Clock {
 public:
  bool moving = false;
  SystemTime UtcNow() override {
    SystemTime t{2026, 12, 0, 6, 14, 5, 9, 0};
    if (moving) t.milliseconds = static_cast<uint16_t>(++reads_ % 1000);
    return t;
  }
  SystemTime LocalNow() override { return UtcNow(); }
  uint32_t TickCount() override { return 1000; }
  void Sleep(uint32_t) override {}

 private:
  int reads_ = 0;
};

struct Message {
  std::string text;
  uint32_t flags;
};

class ScriptUi : public UserInterface {
 public:
  std::vector<Message> messages;
  std::vector<int> answers;  // for Yes/No questions, in order; Yes when none left
  int setup_dialogs = 0;

  int MessageBox(const std::string& text, const std::string&, uint32_t flags) override {
    messages.push_back({text, flags});
    if ((flags & kMbTypeMask) != kMbYesNo) return kIdOk;
    if (answers.empty()) return kIdYes;
    int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  int SetupInformation(SetupInfo*) override {
    ++setup_dialogs;
    return kIdCancel;
  }
  bool Shown(const std::string& text) const {
    for (const Message& m : messages) {
      if (m.text == text) return true;
    }
    return false;
  }
};

class QuitHooks : public ui::FeedbackHooks {
 public:
  explicit QuitHooks(Switches& switches) : switches_(switches) {}
  bool UserQuit() override { return switches_.quit; }

 private:
  Switches& switches_;
};

class TestHost : public builder::ScriptHost {
 public:
  TestHost(Platform& platform, UserInterface& ui, Switches& switches)
      : ScriptHost(platform, ui), hooks_(switches) {}
  ui::FeedbackHooks& hooks() override { return hooks_; }
  ui::Feedback* NewFeedback() override {
    feedback = std::make_unique<ui::RecordingFeedback>(platform().clock);
    return feedback.get();
  }
  void DeleteFeedback(ui::Feedback* f) override {
    EXPECT_EQ(f, feedback.get());
    feedback_deleted = true;
  }
  void RequestQuit() override { ++quit_requests; }

  QuitHooks hooks_;
  std::unique_ptr<ui::RecordingFeedback> feedback;
  bool feedback_deleted = false;
  int quit_requests = 0;
};

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    Platform& real = machine_.Get();
    files_ = std::make_unique<BreakableFiles>(real.files, switches_.broken);
    processes_ = std::make_unique<ScriptedShell>(real.processes, switches_);
    platform_ = std::make_unique<Platform>(Platform{*files_, real.registry, *processes_,
                                                    real.environment, clock_, real.terminal,
                                                    real.shell});
    ResetLogState();
    SetLoggingSetting(1);
    dir_ = machine_.Scratch();
    ASSERT_TRUE(platform_->files.SetCurrentFolder(dir_));
    MakeStub("datafile", dir_ + "\\full.dat", FULL_STUB_SIZE);
    MakeStub("mdatafile", dir_ + "\\min.dat", MIN_STUB_SIZE);
    NewHost();
  }
  // A fresh program around the next script run.
  void NewHost() { host_ = std::make_unique<TestHost>(p(), ui_, switches_); }
  void TearDown() override { ResetLogState(); }

  Platform& p() { return *platform_; }

  void Write(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(test::WriteWholeFile(p().files, path, bytes)) << path;
  }
  std::string Read(const std::string& path) {
    return test::ReadWholeFile(machine_.Get().files, path, "(missing)");
  }
  std::string ActivityLog() { return Read(LogFolder(p().environment) + "\\Cratex.log"); }
  // Temporary files of archives being written, left in the folder.
  std::vector<std::string> Temporaries() {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (p().files.ListFolder(dir_ + "\\*.tmp", &entries)) {
      for (const FolderEntry& e : entries) names.push_back(e.name);
    }
    return names;
  }

  void MakeStub(const char* value, const std::string& path, size_t size) {
    Write(path, std::string(size, 'S'));
    ScopedRegKey key(p().registry);
    ASSERT_EQ(p().registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(),
                                     nullptr),
              kErrorSuccess);
    ASSERT_EQ(p().registry.SetString(key.Get(), value, path), kErrorSuccess);
  }

  bool Run(const std::string& script, ArchiveEngine& engine, std::string* archive = nullptr) {
    Write(dir_ + "\\script.txt", script);
    std::string ignored;
    return builder::ProcessScript(engine, *host_, dir_ + "\\script.txt",
                                  archive ? archive : &ignored);
  }

  std::vector<std::string> Members(const std::string& archive) {
    ScriptUi quiet;
    ArchiveEngine reader(p(), quiet);
    reader.set_password_accepted(true);
    std::vector<std::string> names;
    if (!reader.ListArchive(archive)) names.push_back("(unreadable)");
    reader.CloseArchive();
    for (const MemberEntry& m : reader.members()) names.push_back(m.name);
    return names;
  }

  test::TestPlatform machine_;
  Switches switches_;
  std::unique_ptr<BreakableFiles> files_;
  std::unique_ptr<ScriptedShell> processes_;
  FixedClock clock_;
  std::unique_ptr<Platform> platform_;
  ScriptUi ui_;
  std::unique_ptr<TestHost> host_;
  std::string dir_;
};

TEST_F(ScriptTest, EveryLineKindBuildsTheArchiveAndRunsItsCommands) {
  ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\product"));
  ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\product\\bin"));
  Write(dir_ + "\\product\\readme.txt", "read me\n");
  Write(dir_ + "\\product\\bin\\tool.obj", "object");
  Write(dir_ + "\\product\\bin\\tool.dll", "library");
  Write(dir_ + "\\long name.txt", "renamed\n");
  Write(dir_ + "\\notes.txt", "notes");
  const std::string longest = "#" + std::string(510, 'x');  // 511 characters: still a line

  ArchiveEngine engine(p(), ui_);
  const std::string script =
      "# a comment, then an empty line\n"
      "\n"
      "+ZS\r\n"
      "-Zq+\n"  // only the first sign counts: Z off
      "+z\n"
      ":Velmora\n:Widget\n:Gadgets for all\n:SETUP.EXE\n:  wait.exe  \n:sixth is ignored\n"
      "~obj:DLL\n"
      "*pw\n"
      "!(Packing\n"
      "!(second feedback request is ignored\n"
      ">?:\\out\\pkg-~-%.exe\n"
      "!!exit 3\n"
      "!#Done\\nAll files saved\n"
      "!$after-close\n"
      "@" + dir_ + "\n"
      "product\n"
      "<readme.txt>=" + dir_ + "\\long name.txt\n"
      "<ghost.txt>=" + dir_ + "\\nothing.txt\n"
      "caf\xc3\xa9.txt\n" +  // cut before the accented letter: "caf.txt"
      longest + "\n"
      "notes.txt\n";
  ASSERT_TRUE(p().files.CreateFolder("C:\\out"));
  std::string archive;
  ASSERT_TRUE(Run(script, engine, &archive));
  EXPECT_EQ(archive, "C:\\out\\pkg-20261206-140509.exe");

  // The options: Z on again, S on; project mode from the "~" line.
  EXPECT_TRUE(engine.options().compress);
  EXPECT_TRUE(engine.options().setup);
  EXPECT_TRUE(engine.options().project);
  EXPECT_EQ(engine.password_digest(), DigestFromPaddedPassword("pw"));

  // Members: the folder without the ignored extensions, the renamed file,
  // and the last file.
  const std::string log = ActivityLog();  // before listing starts a new one
  EXPECT_EQ(Members(archive),
            (std::vector<std::string>{"product\\readme.txt", "readme.txt", "notes.txt"}));

  ScriptUi quiet;
  ArchiveEngine reader(p(), quiet);
  ASSERT_TRUE(reader.ReadArchiveInfo(archive));
  EXPECT_TRUE(reader.type_record().IsSetup());
  EXPECT_EQ(reader.type_record().setup.company, "Velmora");
  EXPECT_EQ(reader.type_record().setup.description, "Gadgets for all");
  EXPECT_EQ(reader.type_record().setup.wait_program, "wait.exe");
  EXPECT_EQ(reader.identification().password_digest, DigestFromPaddedPassword("pw"));
  EXPECT_EQ(ui_.setup_dialogs, 0);
  // After the archive the first four texts are emptied; the wait program stays.
  EXPECT_EQ(engine.setup_info().company, "");
  EXPECT_EQ(engine.setup_info().wait_program, "wait.exe");

  // Messages: the missing files, then the exit message on two lines.
  ASSERT_EQ(ui_.messages.size(), 3u);
  EXPECT_EQ(ui_.messages[0].text,
            "SCRIPT ERROR: can't find specified file...\n\n<ghost.txt>=" + dir_ + "\\nothing.txt");
  EXPECT_EQ(ui_.messages[1].text, "SCRIPT ERROR: can't find specified file...\n\ncaf");
  EXPECT_EQ(ui_.messages[1].flags & kMbIconMask, kMbIconHand);
  EXPECT_EQ(ui_.messages[2].text, "Done \nAll files saved");
  EXPECT_EQ(ui_.messages[2].flags, kMbOk | kMbIconAsterisk | kMbTopmost);
  // Commands: the "!!" one at its line, the exit command after closing.
  EXPECT_EQ(processes_->commands, (std::vector<std::string>{"exit 3", "after-close"}));

  // The feedback window: opened once with range 100, showed the work, and
  // was ended with success and destroyed at the end.
  ASSERT_NE(host_->feedback, nullptr);
  EXPECT_TRUE(host_->feedback_deleted);
  const std::vector<ui::FeedbackCall>& calls = host_->feedback->calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front().request, 0);
  EXPECT_EQ(calls.front().text, "Packing");
  EXPECT_EQ(calls.front().number, 100);
  EXPECT_EQ(calls[1].text, "creating archive...");
  EXPECT_EQ(calls.back().request, ui::kFeedbackEnd);
  EXPECT_EQ(calls.back().number, 1);
  EXPECT_EQ(host_->hooks().attached(), nullptr);

  for (const char* line :
       {"run cmd<!exit 3>\n...cmd returned 3\n", "show msg on exit<#Done\\nAll files saved>\n",
        "run cmd on exit<$after-close>\n",
        "[replaced '?:\\out\\pkg-~-%.exe' with 'C:\\out\\pkg-~-%.exe']\n",
        "(script file complete)\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\nnot in\n" << log;
  }
  EXPECT_NE(log.find("processing rename request...\n<" + dir_ + "\\long name.txt> saved as "
                     "<readme.txt>\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ignore archive rename instruction...\n<ghost.txt>=" + dir_ +
                     "\\nothing.txt\nsource file <" + dir_ +
                     "\\nothing.txt> does not exists\n"),
            std::string::npos)
      << log;
}

TEST_F(ScriptTest, ArchiveNameSubstitutionsAndDriveSearch) {
  std::string with_drive;
  const SystemTime t{2026, 12, 0, 6, 14, 5, 9, 0};
  EXPECT_EQ(builder::ArchiveNameFromScript(p(), " ?:\\backup\\~-%.exe ", t, &with_drive),
            "?:\\backup\\20261206-140509.exe");  // "?:" counts only at the very start
  EXPECT_EQ(with_drive, "");
  EXPECT_EQ(builder::ArchiveNameFromScript(p(), "?:\\b\\#_$.exe", t, &with_drive),
            "C:\\b\\06122026_12062026.exe");
  EXPECT_EQ(with_drive, "C:\\b\\#_$.exe");
  const std::string user = p().environment.UserName();
  const std::string host = p().environment.ComputerName();
  ASSERT_FALSE(user.empty());
  EXPECT_EQ(builder::ArchiveNameFromScript(p(), "x*@", t, &with_drive),
            "x" + user.substr(0, 64) + host.substr(0, 64));

  // "?:" paths: the first drive from C: on that has the path, else Z:.
  EXPECT_EQ(builder::ResolveDriveSearch(p().files, "?:\\WINDOWS"), "C:\\WINDOWS");
  EXPECT_EQ(builder::ResolveDriveSearch(p().files, "?:\\no\\such\\thing"), "Z:\\no\\such\\thing");
  EXPECT_EQ(builder::ResolveDriveSearch(p().files, "C?:\\x"), "C?:\\x");
  EXPECT_EQ(builder::ScriptLineBreaks("a\\nb\\\\n"), "a \nb\\ \n");
}

TEST_F(ScriptTest, ScriptsThatStopAndScriptsWithoutAnArchive) {
  {
    // No ">" line: nothing to close, so the script succeeds and its exit
    // command and message run.
    ArchiveEngine engine(p(), ui_);
    std::string archive = "stale";
    EXPECT_TRUE(Run("+ZD-F\n!$cleanup\n!#finished\n", engine, &archive));
    EXPECT_TRUE(engine.options().compress);
    EXPECT_TRUE(engine.options().subdirectories);
    EXPECT_TRUE(engine.options().flatten);
    EXPECT_EQ(archive, "");
    EXPECT_EQ(processes_->commands, std::vector<std::string>{"cleanup"});
    EXPECT_TRUE(ui_.Shown("finished"));
    EXPECT_TRUE(Run("-z\n", engine));
    EXPECT_FALSE(engine.options().compress);
  }
  {
    // A path before any archive stops the script with an error.
    ArchiveEngine engine(p(), ui_);
    EXPECT_FALSE(Run("!$never\nnotes.txt\n", engine));
    EXPECT_TRUE(ui_.Shown("SCRIPT ERROR\nAttempt to add a file but no archive is open."));
    EXPECT_EQ(processes_->commands.size(), 1u);
  }
  {
    // A script that cannot be opened.
    ArchiveEngine engine(p(), ui_);
    std::string archive;
    EXPECT_FALSE(builder::ProcessScript(engine, *host_, dir_ + "\\missing.txt", &archive));
    EXPECT_TRUE(ui_.Shown("Can't open script file<" + dir_ + "\\missing.txt> 0x2"));
  }
  {
    // An archive that cannot be created (no folder for it).
    ArchiveEngine engine(p(), ui_);
    EXPECT_FALSE(Run(">C:\\no\\such\\folder\\a.exe\n", engine));
    EXPECT_TRUE(ui_.Shown("SCRIPT ERROR\nFailed to create archive."));
  }
}

TEST_F(ScriptTest, AFailedCloseSkipsTheExitCommandAndMessage) {
  Write(dir_ + "\\notes.txt", std::string(5000, 'n'));
  ArchiveEngine engine(p(), ui_);
  EXPECT_FALSE(Run("!$exit-command\n!#exit message\n>a.exe\nnotes.txt\n!!break-disk\n", engine));
  EXPECT_EQ(processes_->commands, std::vector<std::string>{"break-disk"});
  EXPECT_FALSE(ui_.Shown("exit message"));
}

TEST_F(ScriptTest, ASecondArchiveFinishesTheFirstOne) {
  Write(dir_ + "\\one.txt", "one");
  Write(dir_ + "\\two.txt", "two");
  ArchiveEngine engine(p(), ui_);
  std::string archive;
  ASSERT_TRUE(Run(">first.exe\none.txt\n>second.exe\ntwo.txt\n", engine, &archive));
  const std::string log = ActivityLog();
  EXPECT_EQ(archive, dir_ + "\\second.exe");
  // Both archives are complete: the first one has its end marker and counts.
  EXPECT_EQ(Members(dir_ + "\\first.exe").size(), 1u);
  EXPECT_EQ(Members(dir_ + "\\second.exe").size(), 1u);
  ScriptUi quiet;
  ArchiveEngine reader(p(), quiet);
  reader.ReadArchiveInfo(dir_ + "\\first.exe");  // true only for setup archives
  ASSERT_FALSE(reader.open_failed());
  EXPECT_EQ(reader.identification().file_count, 1);
  EXPECT_NE(log.find("(archive <first.exe> was still open: closed before this one)\n"),
            std::string::npos);

  // When the open archive cannot be finished, no second one is started.
  ArchiveEngine broken(p(), ui_);
  EXPECT_FALSE(Run(">third.exe\none.txt\n!!break-disk\n>fourth.exe\n", broken));
  EXPECT_TRUE(ui_.Shown("SCRIPT ERROR\nFailed to close archive <third.exe> before creating the "
                        "next one."));
  EXPECT_FALSE(p().files.Exists(dir_ + "\\fourth.exe"));
}

TEST_F(ScriptTest, QuittingAndQuestions) {
  Write(dir_ + "\\one.txt", "one");
  {
    // The user quits after the archive was started: the script ends
    // successfully before the next line, and the log says why.
    NewHost();
    {
      ArchiveEngine engine(p(), ui_);
      EXPECT_TRUE(Run(">q.exe\n!!quit\none.txt\n!$never\n", engine));
      EXPECT_NE(ActivityLog().find("(USER QUIT)\n"), std::string::npos);
    }
    switches_.quit = false;
    EXPECT_EQ(Members(dir_ + "\\q.exe").size(), 0u);
    EXPECT_EQ(processes_->commands, std::vector<std::string>{"quit"});
    processes_->commands.clear();
  }
  {
    // Answering No ends the script at once, successfully, and asks the
    // program to end; Yes goes on.
      ui_.messages.clear();
    ui_.answers = {kIdYes, kIdNo};
    ArchiveEngine engine(p(), ui_);
    EXPECT_TRUE(Run("!?Go on?\\nReally\n!?Second\n!$never\n", engine));
    ASSERT_EQ(ui_.messages.size(), 3u);
    EXPECT_EQ(ui_.messages[0].text, "Go on? \nReally");
    EXPECT_EQ(ui_.messages[0].flags, kMbYesNo | kMbIconQuestion | kMbTopmost);
    EXPECT_EQ(ui_.messages[2].text, "The backup procedure will quit");
    EXPECT_EQ(host_->quit_requests, 1);
    EXPECT_TRUE(processes_->commands.empty());
  }
}

TEST_F(ScriptTest, StubChoiceAndSetupDialog) {
  Write(dir_ + "\\one.txt", "one");
  auto magic_at = [&](const std::string& path, size_t offset) {
    std::string bytes = Read(path);
    return bytes.size() > offset + 4 && bytes.compare(offset, 4, "\xBD\xAF\x00\x00", 4) == 0;
  };
  ArchiveEngine engine(p(), ui_);
  ASSERT_TRUE(Run("+M\n>min.exe\none.txt\n-M\n>full.exe\none.txt\n", engine));
  EXPECT_TRUE(magic_at(dir_ + "\\min.exe", MIN_STUB_SIZE));
  EXPECT_TRUE(magic_at(dir_ + "\\full.exe", FULL_STUB_SIZE));

  // A setup archive with a text missing asks for it; cancelling the dialog
  // fails the creation and the script.
  ArchiveEngine setup(p(), ui_);
  EXPECT_FALSE(Run("+S\n:Velmora\n:Widget\n:Gadgets\n>s.exe\n", setup));
  EXPECT_EQ(ui_.setup_dialogs, 1);
}

TEST_F(ScriptTest, CommandLineModeIsReproducibleAndReportsFailures) {
  Write(dir_ + "\\one.txt", "one");
  Write(dir_ + "\\build.txt", "+Z\n>" + dir_ + "\\r.exe\n" + dir_ + "\\one.txt\n");
  // The clock moves, so only the fixed creation time makes the bytes equal.
  clock_.moving = true;
  ASSERT_TRUE(p().environment.Set("SOURCE_DATE_EPOCH", "1765029909"));
  builder::CommandLineRun first = builder::RunCommandLineScript(*host_, "  \"" + dir_ + "\\build.txt\" ");
  EXPECT_TRUE(first.script_ok);
  EXPECT_TRUE(first.verified);
  EXPECT_EQ(first.errors_reported, 0);
  const std::string bytes = Read(dir_ + "\\r.exe");
  ASSERT_GT(bytes.size(), static_cast<size_t>(FULL_STUB_SIZE));
  ASSERT_TRUE(p().files.DeleteFile(dir_ + "\\r.exe"));
  builder::CommandLineRun second = builder::RunCommandLineScript(*host_, dir_ + "\\build.txt");
  EXPECT_TRUE(second.verified);
  EXPECT_EQ(Read(dir_ + "\\r.exe"), bytes);

  ASSERT_TRUE(p().environment.Set("SOURCE_DATE_EPOCH", "yesterday"));
  builder::CommandLineRun bad = builder::RunCommandLineScript(*host_, dir_ + "\\build.txt");
  EXPECT_TRUE(bad.bad_source_date);
  EXPECT_FALSE(bad.script_ok);
  ASSERT_TRUE(p().environment.Unset("SOURCE_DATE_EPOCH"));

  // A failing script is reported with its path and the current folder;
  // the archive it left is still verified.
  Write(dir_ + "\\fails.txt", ">" + dir_ + "\\f.exe\n" + dir_ + "\\one.txt\n@C:\\\n>C:\\nowhere\\x.exe\n");
  ui_.messages.clear();
  builder::CommandLineRun failed = builder::RunCommandLineScript(*host_, dir_ + "\\fails.txt");
  EXPECT_FALSE(failed.script_ok);
  EXPECT_TRUE(failed.verified);
  EXPECT_EQ(failed.archive, dir_ + "\\f.exe");
  EXPECT_GE(failed.errors_reported, 1);  // silent: in the error log, not shown
  EXPECT_FALSE(ui_.Shown("SCRIPT ERROR\nFailed to create archive."));
  EXPECT_TRUE(ui_.Shown("ERROR: Failed to process script file\n<" + dir_ +
                        "\\fails.txt>\n(current directory: <C:\\>)"));

  // An archive that cannot be written is not verified and never replaces
  // the one from an earlier build.
  Write(dir_ + "\\d.exe", "an earlier archive");
  Write(dir_ + "\\damage.txt", ">" + dir_ + "\\d.exe\n" + dir_ + "\\one.txt\n!!break-disk\n");
  builder::CommandLineRun damaged = builder::RunCommandLineScript(*host_, dir_ + "\\damage.txt");
  switches_.broken = false;
  EXPECT_FALSE(damaged.script_ok);
  EXPECT_FALSE(damaged.verified);
  EXPECT_EQ(Read(dir_ + "\\d.exe"), "an earlier archive");
  EXPECT_TRUE(Temporaries().empty());

  // Interrupted: nothing replaces the earlier archive, nothing is verified.
  ui_.messages.clear();
  Write(dir_ + "\\stop.txt", ">" + dir_ + "\\d.exe\n" + dir_ + "\\one.txt\n!!quit\n" + dir_ +
                                "\\one.txt\n");
  builder::CommandLineRun stopped = builder::RunCommandLineScript(*host_, dir_ + "\\stop.txt");
  switches_.quit = false;
  EXPECT_TRUE(stopped.interrupted);
  EXPECT_FALSE(stopped.verified);
  EXPECT_EQ(Read(dir_ + "\\d.exe"), "an earlier archive");
  EXPECT_TRUE(Temporaries().empty());
  EXPECT_FALSE(ui_.Shown("ERROR\nVerification Failed"));

  // Verified, it takes the name.
  Write(dir_ + "\\good.txt", ">" + dir_ + "\\d.exe\n" + dir_ + "\\one.txt\n");
  builder::CommandLineRun good = builder::RunCommandLineScript(*host_, dir_ + "\\good.txt");
  EXPECT_TRUE(good.verified);
  EXPECT_EQ(Members(dir_ + "\\d.exe"), std::vector<std::string>{dir_ + "\\one.txt"});
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(ScriptTest, FilesThatAreNotScriptsAndOverlongLinesRunNothing) {
  Write(dir_ + "\\one.txt", "one");
  const std::string script = dir_ + "\\script.txt";
  struct Case {
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {"", "SCRIPT ERROR\nThe script file <" + script + "> is empty."},
      {std::string("\xFF\xFE!\0!\0e\0x\0i\0t\0", 14),
       "SCRIPT ERROR\nThe script file <" + script + "> is UTF-16 text.\nSave it as ANSI (8-bit) text."},
      {std::string("!\0!\0e\0x\0i\0t\0 \0""1\0", 16),
       "SCRIPT ERROR\nThe script file <" + script + "> is UTF-16 text.\nSave it as ANSI (8-bit) text."},
      {std::string("!!exit 1\n>a.exe\none\0.txt\n", 24),
       "SCRIPT ERROR\nThe script file <" + script + "> holds NUL bytes (line 3): it is not a text file."},
      // A file name long enough to push a command past 511 characters.
      {"!!exit 2\n>a.exe\n" + std::string(511, 'a') + "!!exit 3\none.txt\n",
       "SCRIPT ERROR\nLine 3 of the script is longer than 511 characters; the script stops here."},
  };
  for (const Case& c : cases) {
    ui_.messages.clear();
    processes_->commands.clear();
    ArchiveEngine engine(p(), ui_);
    EXPECT_FALSE(Run(c.bytes, engine)) << c.message;
    EXPECT_TRUE(ui_.Shown(c.message)) << c.message;
    EXPECT_EQ(processes_->commands.size(), c.message.find("Line 3") != std::string::npos ? 1u : 0u)
        << c.message;
  }
}

TEST_F(ScriptTest, OptionsAfterTheArchiveLineCannotSpoilIt) {
  Write(dir_ + "\\one.txt", std::string(3000, 'o'));
  {
    // "+E" and a password after ">": reported with their line numbers, and
    // the archive stays readable without a password.
    ArchiveEngine engine(p(), ui_);
    ASSERT_TRUE(Run("+Z\n>late.exe\n+E\n*secret\n-M\none.txt\n", engine));
    for (int line : {3, 4, 5}) {
      bool found = false;
      for (const Message& m : ui_.messages) {
        found = found || m.text.rfind(Format("SCRIPT ERROR (line %d)\nThe line '", line), 0) == 0;
      }
      EXPECT_TRUE(found) << line;
    }
    EXPECT_TRUE(ui_.Shown("SCRIPT ERROR (line 3)\nThe line '+E' comes after the archive was "
                          "created: encryption (E), the minimal stub (M), the setup type (S) and "
                          "the password cannot change an open archive.\nIt has no effect on "
                          "<late.exe>."));
    ScriptUi quiet;
    ArchiveEngine reader(p(), quiet);
    EXPECT_TRUE(reader.ExtractArchive(dir_ + "\\late.exe", nullptr, dir_ + "\\out"));
    EXPECT_FALSE(reader.type_record().IsEncrypted());
    reader.CloseArchive();
    EXPECT_EQ(Read(dir_ + "\\out\\one.txt"), std::string(3000, 'o'));
  }
  {
    // "+E" without Z in time: compression comes with it, so the data is
    // scrambled rather than left in the clear.
    ui_.messages.clear();
    ArchiveEngine engine(p(), ui_);
    ASSERT_TRUE(Run("*secret\n+E\n>enc.exe\none.txt\n", engine));
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_TRUE(engine.options().compress);
    ScriptUi quiet;
    ArchiveEngine reader(p(), quiet);
    reader.set_password_accepted(true);
    EXPECT_TRUE(reader.ListArchive(dir_ + "\\enc.exe"));
    EXPECT_TRUE(reader.type_record().IsEncrypted());
    ASSERT_EQ(reader.members().size(), 1u);
    EXPECT_GT(reader.members()[0].compressed_size, 0);
    reader.CloseArchive();
  }
}

#endif  // !_WIN32

TEST(ScriptPath, CommandLineIsTheWholePath) {
  EXPECT_EQ(builder::ScriptPathFromCommandLine("  C:\\my scripts\\a b.txt  "),
            "C:\\my scripts\\a b.txt");
  EXPECT_EQ(builder::ScriptPathFromCommandLine("\"C:\\my scripts\\a.txt\""),
            "C:\\my scripts\\a.txt");
  EXPECT_EQ(builder::ScriptPathFromCommandLine("a.txt \"quoted\""), "a.txt \"quoted\"");
  EXPECT_EQ(builder::ScriptPathFromCommandLine("   "), "");
}

}  // namespace
}  // namespace crx
