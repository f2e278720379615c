// The stub's start-up run in-process: the program's "own file" is an
// archive the engine writes behind a stub file of the exact stub size, the
// dialogs are answered by a script and every message is recorded. The
// temporary folder's base (TEMP) is a scratch folder of the test. The
// archive's "setup program" is no program, so the setup phase reports that
// it cannot start it and goes on to its end; archives whose folder is to
// be looked at afterwards name no program to wait for, which keeps the
// extracted files.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "stub/setup_confirm_dialog.h"
#include "stub/stub.h"
#include "stub/stub_command_line.h"
#include "stub/stub_interface.h"
#include "stub/stub_messages.h"
#include "stub/temp_folder.h"
#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"
#include "ui/browser.h"
#include "ui/feedback.h"
#include "ui/message_box.h"
#include "ui/silent_mode.h"

#ifndef _WIN32
#include <sys/stat.h>

#include "platform/posix/host_paths.h"
#endif

namespace crx {
namespace {

using stub::kStubCancelled;
using stub::kStubDone;
using stub::kStubFailed;

// The browser's dialog as any front-end sees it (its buttons are answered
// by name, as an answers file does).
constexpr const char kBrowse[] = "Browse";

// ---------------------------------------------------------------------------
// Command line and response file: no platform state beyond files.

TEST(StubCommandLine, OnlyLowerCaseSmsAtTheStartSelectsSilentMode) {
  stub::StubCommand c = stub::ParseStubCommandLine("/sms:silent");
  EXPECT_TRUE(c.silent);
  EXPECT_FALSE(c.has_response_file);

  c = stub::ParseStubCommandLine("/sms:C:\\dist\\answers.ini /q and more");
  EXPECT_TRUE(c.silent);
  EXPECT_TRUE(c.has_response_file);
  EXPECT_EQ("C:\\dist\\answers.ini", c.response_file);

  // Leading blanks between the program name and the option are allowed.
  c = stub::ParseStubCommandLine("  /sms:silent extra");
  EXPECT_TRUE(c.silent);
  EXPECT_FALSE(c.has_response_file);

  // "silent" is compared exactly: anything else names a response file.
  c = stub::ParseStubCommandLine("/sms:SILENT");
  EXPECT_TRUE(c.has_response_file);
  EXPECT_EQ("SILENT", c.response_file);

  c = stub::ParseStubCommandLine("/sms:");
  EXPECT_TRUE(c.silent);
  EXPECT_TRUE(c.has_response_file);
  EXPECT_EQ("", c.response_file);

  for (const char* interactive : {"/SMS:silent", "/Sms:silent", "", "x /sms:silent", "/sms"}) {
    c = stub::ParseStubCommandLine(interactive);
    EXPECT_FALSE(c.silent) << interactive;
    EXPECT_FALSE(c.has_response_file) << interactive;
  }
}

// ---------------------------------------------------------------------------
// A front-end that answers dialogs from a script and records what it saw.

struct Shown {
  std::string name;
  std::string text;
  std::string caption;
  std::string buttons;  // the buttons' names, each followed by a blank
};

class ScriptedFrontEnd : public ui::FrontEnd {
 public:
  struct Answer {
    std::string dialog;
    int button;
    std::string password;  // for the unlock dialog
    std::vector<std::pair<std::string, std::string>> fields;
    std::string button_name;  // instead of button: the button of that name
  };

  int Show(ui::Dialog& dialog) override {
    std::string buttons;
    for (const ui::DialogButton& b : dialog.Buttons()) buttons += b.name + " ";
    shown.push_back({dialog.Name(), dialog.Text(), dialog.Caption(), buttons});
    if (dialog.AsMessageBox() != nullptr) {
      std::string error;
      dialog.Press(dialog.Buttons()[dialog.DefaultButton()].id, &error);
      return dialog.Result();
    }
    while (!answers.empty() && !dialog.Closed()) {
      if (answers.front().dialog != dialog.Name()) break;
      Answer a = answers.front();
      answers.pop_front();
      std::string error;
      if (!a.password.empty()) dialog.SetField("Password", a.password, &error);
      for (const auto& [field, value] : a.fields) {
        if (!dialog.SetField(field, value, &error)) refusals.push_back(error);
      }
      int button = a.button;
      if (!a.button_name.empty()) {
        button = -1;
        for (const ui::DialogButton& b : dialog.Buttons()) {
          if (b.name == a.button_name) button = b.id;
        }
        if (button < 0) {
          refusals.push_back("no button " + a.button_name);
          continue;
        }
      }
      if (!dialog.Press(button, &error)) refusals.push_back(error);
    }
    if (!dialog.Closed()) dialog.Refuse();
    return dialog.Result();
  }

  // The texts of the message boxes shown, in order.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const Shown& s : shown) {
      if (s.name == ui::MessageBoxDialog::kName) out.push_back(s.text);
    }
    return out;
  }
  int Count(const std::string& name) const {
    int n = 0;
    for (const Shown& s : shown) n += s.name == name ? 1 : 0;
    return n;
  }

  std::deque<Answer> answers;
  std::vector<Shown> shown;
  std::vector<std::string> refusals;
};

// Hands every call to the real processes, except that the running
// program's own file is the archive under test.
class OwnFileProcesses : public Processes {
 public:
  explicit OwnFileProcesses(Processes& real) : real_(real) {}
  std::unique_ptr<Process> Start(const std::string& line, const StartOptions& o) override {
    return real_.Start(line, o);
  }
  bool RunShellCommand(const std::string& c, const std::string& f, uint32_t* code) override {
    return real_.RunShellCommand(c, f, code);
  }
  uint32_t CurrentProcessId() override { return real_.CurrentProcessId(); }
  std::string ProgramPath() override { return program; }
  std::string CommandLineTail() override { return std::string(); }

  std::string program;

 private:
  Processes& real_;
};

// Refuses to enter the stub's new temporary folders.
class NoEnteringFileSystem : public test::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  bool SetCurrentFolder(const std::string& path) override {
    if (path.find("__CRX_tmp_") != std::string::npos) {
      SetLastError(kErrorAccessDenied);
      return false;
    }
    return ForwardingFileSystem::SetCurrentFolder(path);
  }
};

// The feedback window the stub opens, handing every request to a recording
// window the test keeps (the stub destroys its handle before the run ends).
class ForwardingFeedback : public ui::Feedback {
 public:
  explicit ForwardingFeedback(ui::Feedback& target) : target_(target) {}
  bool Open(const std::string& title, int range) override { return target_.Open(title, range); }
  bool SetText(const std::string& text) override { return target_.SetText(text); }
  bool SetDetail(const std::string& text) override { return target_.SetDetail(text); }
  bool End(int result) override { return target_.End(result); }
  bool Animate(bool stop) override { return target_.Animate(stop); }
  ui::FeedbackPhase Phase() const override { return target_.Phase(); }

 private:
  ui::Feedback& target_;
};

constexpr const char kNotFoundInResponse[] =
    "Illegal SMS Archive\nThis archive is locked with a password and so requires user \ninput, "
    "however, a password was not found in the response file";
constexpr const char kNoResponseFile[] =
    "Illegal SMS Archive\nThis archive is locked with a password and so requires user \ninput, "
    "however, no response file has been specified";
constexpr const char kNoTempFolder[] = "ERROR\nCannot find a temporary directory to use.";

class StubStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    ResetLogState();
    SetLoggingSetting(1);
    saved_folder_ = p().files.CurrentFolder();
    had_temp_ = p().environment.Get("TEMP", &saved_temp_);
    ASSERT_TRUE(p().files.CreateFolder(At("temp")));
    ASSERT_TRUE(p().environment.Set("TEMP", At("temp")));
    processes_ = std::make_unique<OwnFileProcesses>(p().processes);
    processes_->program = At("archive.exe");

    // The stub files the engine copies in front of an archive, exactly as
    // long as the stubs, named where the builder's settings name them.
    WriteFile(At("full.dat"), std::string(static_cast<size_t>(FULL_STUB_SIZE), 'F'));
    WriteFile(At("min.dat"), std::string(static_cast<size_t>(MIN_STUB_SIZE), 'M'));
    ScopedRegKey key(p().registry);
    ASSERT_EQ(kErrorSuccess, p().registry.CreateKey(kHKeyLocalMachine,
                                                    "SOFTWARE\\Velmora\\Cratex\\1.00",
                                                    RegAccess::kAll, key.Out(), nullptr));
    had_datafile_ = p().registry.GetString(key.Get(), "datafile", &saved_datafile_) == 0;
    had_mdatafile_ = p().registry.GetString(key.Get(), "mdatafile", &saved_mdatafile_) == 0;
    ASSERT_EQ(kErrorSuccess, p().registry.SetString(key.Get(), "datafile", At("full.dat")));
    ASSERT_EQ(kErrorSuccess, p().registry.SetString(key.Get(), "mdatafile", At("min.dat")));

    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    WriteFile(At("product\\setup.exe"), "the setup program");
    WriteFile(At("product\\install.txt"), std::string(3000, 'i') + "end");
  }

  void TearDown() override {
    // Leave the temporary folder before the scratch folder goes.
    p().files.SetCurrentFolder(saved_folder_);
    if (had_temp_) {
      p().environment.Set("TEMP", saved_temp_);
    } else {
      p().environment.Unset("TEMP");
    }
    ScopedRegKey key(p().registry);
    if (p().registry.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Velmora\\Cratex\\1.00",
                             RegAccess::kAll, key.Out()) == kErrorSuccess) {
      if (had_datafile_) {
        p().registry.SetString(key.Get(), "datafile", saved_datafile_);
      } else {
        p().registry.DeleteValue(key.Get(), "datafile");
      }
      if (had_mdatafile_) {
        p().registry.SetString(key.Get(), "mdatafile", saved_mdatafile_);
      } else {
        p().registry.DeleteValue(key.Get(), "mdatafile");
      }
    }
    ResetLogState();
  }

  Platform& p() { return tp_.Get(); }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  std::string Temp(const std::string& name) { return At("temp\\" + name); }

  void WriteFile(const std::string& path, const std::string& data) {
    ASSERT_TRUE(test::WriteWholeFile(p().files, path, data)) << path;
  }
  std::string ReadFile(const std::string& path) { return test::ReadWholeFile(p().files, path); }

  // Writes the archive the stub reads: a setup archive when company is not
  // empty, locked with password when it is not empty. Members are stored
  // under relative names, as a setup archive's are extracted. An empty
  // wait program leaves the extracted files in place after the run.
  void BuildArchive(const std::string& company, const std::string& password,
                    const std::string& options = "+Z",
                    const std::string& wait_program = "setup.exe") {
    RecordingInterface ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions(options);
    if (!company.empty()) {
      engine.SetOptions("+S");
      SetupInfo& info = engine.setup_info();
      info.company = company;
      info.product = "Widget";
      info.description = "The widget tools";
      info.setup_program = "setup.exe";
      info.wait_program = wait_program;
    }
    if (!password.empty()) engine.set_password_digest(DigestFromPaddedPassword(password));
    ASSERT_TRUE(engine.CreateArchive(At("archive.exe")));
    ASSERT_TRUE(engine.AddFile(At("product\\setup.exe"), "setup.exe"));
    ASSERT_TRUE(engine.AddFile(At("product\\install.txt"), "install.txt"));
    ASSERT_TRUE(engine.CloseArchive());
    ASSERT_TRUE(ui.texts.empty()) << ui.texts[0];
    // The creation's activity log is in the same folder as the stub's.
    p().files.DeleteFile(Temp("Cratex.log"));
    // Later runs in this process read their own logging setting afresh.
    ResetLogState();
    SetLoggingSetting(1);
  }

  // Runs the stub on the archive with the command-line tail.
  int Run(const std::string& tail, const stub::StubVariant& variant = stub::FullStub()) {
    Platform platform{p().files, p().registry, *processes_, p().environment,
                      p().clock,  p().terminal, p().shell};
    return RunOn(platform, tail, variant);
  }

  int RunOn(Platform& platform, const std::string& tail,
            const stub::StubVariant& variant = stub::FullStub()) {
    auto front_end = std::make_unique<ScriptedFrontEnd>();
    ScriptedFrontEnd* raw = front_end.get();
    front_end->answers = std::move(answers_);
    answers_.clear();
    stub::StubInterface ui(std::move(front_end));
    std::unique_ptr<ui::RecordingFeedback> recorder;
    stub::StubHost host{platform, ui, ui.front_end(),
                        [&recorder, &platform]() -> std::unique_ptr<ui::Feedback> {
                          recorder = std::make_unique<ui::RecordingFeedback>(platform.clock);
                          return std::make_unique<ForwardingFeedback>(*recorder);
                        },
                        nullptr};
    const int result = stub::RunStub(variant, host, tail);
    seen_ = raw->shown;
    messages_ = raw->Messages();
    refusals_ = raw->refusals;
    transcript_ = recorder ? recorder->Transcript() : std::string("<none>");
    p().files.SetCurrentFolder(saved_folder_);
    return result;
  }

  void Answer(const std::string& dialog, int button, const std::string& password = "") {
    answers_.push_back({dialog, button, password, {}, {}});
  }
  // A "Browse" answer: the fields to set, then the button of that name.
  void Browse(const std::string& button,
              std::vector<std::pair<std::string, std::string>> fields = {}) {
    answers_.push_back({kBrowse, 0, std::string(), std::move(fields), button});
  }
  int Count(const std::string& dialog) const {
    int n = 0;
    for (const Shown& s : seen_) n += s.name == dialog ? 1 : 0;
    return n;
  }
  const Shown* First(const std::string& dialog) const {
    for (const Shown& s : seen_) {
      if (s.name == dialog) return &s;
    }
    return nullptr;
  }

  std::vector<std::string> TempFolders() {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (!p().files.ListFolder(Temp("__CRX_tmp_*"), &entries)) return names;
    for (const FolderEntry& e : entries) names.push_back(e.name);
    return names;
  }

  std::string Log() { return ReadFile(Temp("Cratex.log")); }

  class RecordingInterface : public UserInterface {
   public:
    std::vector<std::string> texts;
    int MessageBox(const std::string& text, const std::string&, uint32_t) override {
      texts.push_back(text);
      return kIdOk;
    }
  };

  test::TestPlatform tp_;
  std::unique_ptr<OwnFileProcesses> processes_;
  std::string saved_folder_;
  bool had_temp_ = false;
  std::string saved_temp_;
  bool had_datafile_ = false, had_mdatafile_ = false;
  std::string saved_datafile_, saved_mdatafile_;
  std::deque<ScriptedFrontEnd::Answer> answers_;
  std::vector<Shown> seen_;
  std::vector<std::string> messages_;
  std::vector<std::string> refusals_;
  std::string transcript_;
};

TEST_F(StubStartupTest, ReadResponseCutsAt31AndTakesDashAsMissing) {
  std::string value;
  EXPECT_FALSE(stub::ReadResponse(p(), "", "password", &value));
  EXPECT_FALSE(stub::ReadResponse(p(), At("none.ini"), "password", &value));

  WriteFile(At("r.ini"), "[Other]\npassword=elsewhere\n[Cratex]\npassword = -\n");
  EXPECT_FALSE(stub::ReadResponse(p(), At("r.ini"), "password", &value));

  const std::string forty = "0123456789abcdefghijABCDEFGHIJ+-*/0123456789";
  WriteFile(At("r.ini"), "[CRATEX]\r\nPassword=" + forty.substr(0, 40) + "\r\n");
  ASSERT_TRUE(stub::ReadResponse(p(), At("r.ini"), "password", &value));
  EXPECT_EQ(forty.substr(0, 31), value);

  WriteFile(At("r.ini"), "[Kestrova]\npassword=abcd\n");
  EXPECT_FALSE(stub::ReadResponse(p(), At("r.ini"), "password", &value));
}

TEST_F(StubStartupTest, MissingResponseFileIsShownEvenInSilentMode) {
  BuildArchive("Velmora", "");
  EXPECT_EQ(kStubFailed, Run("/sms:" + At("nope.ini") + " more"));
  ASSERT_EQ(1u, messages_.size());
  EXPECT_EQ("Kestrova - SMS  MODE ERROR\nRESPOSE FILE <" + At("nope.ini") + "> does not exists",
            messages_[0]);
  EXPECT_TRUE(TempFolders().empty());
}

TEST_F(StubStartupTest, SilentPasswordFailuresEndInTheFatalLog) {
  BuildArchive("Velmora", "secret12");
  // Logging off: the fatal log is written all the same.
  SetLoggingSetting(0);

  EXPECT_EQ(kStubFailed, Run("/sms:silent"));
  EXPECT_EQ(std::string("\nMESSAGE (flags=0x0)\n") + kNoResponseFile + "\n", Log());

  WriteFile(At("r.ini"), "[Cratex]\npassword=-\n");
  EXPECT_EQ(kStubFailed, Run("/sms:" + At("r.ini")));
  EXPECT_EQ(std::string("\nMESSAGE (flags=0x0)\n") + kNotFoundInResponse + "\n", Log());

  WriteFile(At("r.ini"), "[Cratex]\npassword=SECRET12\n");  // case counts
  EXPECT_EQ(kStubFailed, Run("/sms:" + At("r.ini")));
  EXPECT_EQ("\nMESSAGE (flags=0x0)\nERROR - invalid passwd in RESPONSE file\n", Log());

  EXPECT_TRUE(messages_.empty());  // silent: no message box at all
  EXPECT_TRUE(TempFolders().empty());
}

TEST_F(StubStartupTest, ShortPasswordsArePaddedWithAAndLongOnesCutAtEight) {
  BuildArchive("Velmora", "abcd", "+Z", "");
  int run = 0;
  for (const char* accepted : {"abcd", "abcda", "abcdaaaa", "abcdaaaaXYZ"}) {
    WriteFile(At("r.ini"), std::string("[Cratex]\npassword=") + accepted + "\n");
    EXPECT_EQ(kStubDone, Run("/sms:" + At("r.ini"))) << accepted;
    EXPECT_EQ(static_cast<size_t>(++run), TempFolders().size()) << accepted;
  }
  for (const char* refused : {"abc", "abcdaaab", "ABCD", "abcdb"}) {
    WriteFile(At("r.ini"), std::string("[Cratex]\npassword=") + refused + "\n");
    EXPECT_EQ(kStubFailed, Run("/sms:" + At("r.ini"))) << refused;
    EXPECT_EQ("\nMESSAGE (flags=0x0)\nERROR - invalid passwd in RESPONSE file\n", Log())
        << refused;
  }
  EXPECT_EQ(static_cast<size_t>(run), TempFolders().size());

  // A 40-character response password counts by its first eight characters.
  BuildArchive("Velmora", "0123456789abcdefghijABCDEFGHIJ0123456789", "+Z", "");
  WriteFile(At("r.ini"), "[Cratex]\npassword=01234567xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n");
  EXPECT_EQ(kStubDone, Run("/sms:" + At("r.ini")));
  EXPECT_EQ(static_cast<size_t>(run + 1), TempFolders().size());
}

TEST_F(StubStartupTest, InteractiveUnlockAsksUntilRightOrCancelled) {
  BuildArchive("", "letmein");
  Answer("UnlockArchive", kIdOk, "wrong");
  Answer("UnlockArchive", kIdOk, "letmein");
  Browse("Close");
  // The plain archive goes to the browser, which lists it without asking
  // for the password a second time.
  EXPECT_EQ(kStubDone, Run(""));
  ASSERT_EQ(1u, refusals_.size());
  EXPECT_EQ("Incorrect Password", refusals_[0]);
  EXPECT_EQ(1, Count("UnlockArchive"));
  ASSERT_EQ(1, Count(kBrowse));
  EXPECT_NE(std::string::npos, First(kBrowse)->text.find("install.txt")) << First(kBrowse)->text;
  EXPECT_TRUE(messages_.empty());

  p().files.DeleteFile(Temp("Cratex.log"));  // the browser's listing
  Answer("UnlockArchive", kIdCancel);
  EXPECT_EQ(kStubCancelled, Run(""));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(0, Count(kBrowse));
  EXPECT_EQ("<missing>", Log());
}

TEST_F(StubStartupTest, SilentPlainArchiveStillGoesToTheBrowser) {
  BuildArchive("", "");
  ASSERT_TRUE(p().files.CreateFolder(At("out")));
  // Silent mode asks nothing else, but the browser is shown all the same:
  // its answers are taken, one action each, until Close.
  Browse("GetSelected", {{"Selection", "2"}, {"ToLocations", "0"}, {"OutputFolder", At("out")}});
  Browse("Close");
  EXPECT_EQ(kStubDone, Run("/sms:silent"));
  EXPECT_TRUE(refusals_.empty()) << refusals_[0];
  ASSERT_EQ(2, Count(kBrowse));
  const Shown& browser = *First(kBrowse);
  EXPECT_EQ(0u, browser.caption.find("Cratex Archive - archive.exe (")) << browser.caption;
  EXPECT_NE(std::string::npos, browser.text.find("  1 setup.exe  ")) << browser.text;
  EXPECT_NE(std::string::npos, browser.text.find("  2 install.txt  ")) << browser.text;
  // The full stub's list-view form, with every extraction control.
  EXPECT_EQ("GetAll GetSelected View Open Find Close ", browser.buttons);
  // Only the selected row was extracted, and the second listing says so.
  EXPECT_EQ(std::string(3000, 'i') + "end", ReadFile(At("out\\install.txt")));
  EXPECT_FALSE(p().files.Exists(At("out\\setup.exe")));
  EXPECT_NE(std::string::npos, seen_.back().text.find("install.txt  ")) << seen_.back().text;
  EXPECT_NE(std::string::npos, seen_.back().text.find("[extracted]")) << seen_.back().text;
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(TempFolders().empty());
  EXPECT_EQ("<none>", transcript_);

  // Nobody to answer: the browser closes as if Close was pressed.
  EXPECT_EQ(kStubDone, Run("/sms:silent", stub::FullStub()));
  EXPECT_EQ(1, Count(kBrowse));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(StubStartupTest, MinimalStubBrowsesWithTheListBoxForm) {
  BuildArchive("", "", "+ZM");
  ASSERT_TRUE(p().files.CreateFolder(At("out")));
  // More than one row is refused in the list-box form (for any button
  // while the field holds them).
  Browse("GetSelected", {{"Selection", "1,2"}, {"ToLocations", "0"}, {"OutputFolder", At("out")}});
  Browse("GetAll");
  Browse("GetAll", {{"Selection", ""}});
  Browse("Close");
  EXPECT_EQ(kStubDone, Run("", stub::MinimalStub()));
  ASSERT_EQ(2u, refusals_.size());
  EXPECT_EQ("Selection: only one entry can be selected", refusals_[0]);
  EXPECT_EQ(refusals_[0], refusals_[1]);
  ASSERT_EQ(2, Count(kBrowse));
  // No associated application and no flattening in the list-box form.
  EXPECT_EQ("GetAll GetSelected View Find Close ", First(kBrowse)->buttons);
  EXPECT_EQ("the setup program", ReadFile(At("out\\setup.exe")));
  EXPECT_EQ(std::string(3000, 'i') + "end", ReadFile(At("out\\install.txt")));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(StubStartupTest, DecliningTheSetupCreatesNothing) {
  BuildArchive("Velmora", "");
  Answer(stub::SetupConfirmDialog::kName, kIdNo);
  EXPECT_EQ(kStubCancelled, Run(""));
  ASSERT_EQ(1u, seen_.size());
  EXPECT_EQ("Cratex - Setup Confirm", seen_[0].caption);
  EXPECT_TRUE(TempFolders().empty());
  EXPECT_EQ("<missing>", Log());
  EXPECT_EQ("<none>", transcript_);
}

TEST_F(StubStartupTest, BrowsingALockedSetupArchiveAsksForNoPassword) {
  BuildArchive("Velmora", "opensesame");
  Answer("UnlockArchive", kIdOk, "opensesame");
  Answer(stub::SetupConfirmDialog::kName, stub::kIdBrowse);
  // List-only: Get All is no button of this browser, and is refused.
  Browse("GetAll");
  Browse("Find");
  answers_.push_back({ui::FindDialog::kName, kIdOk, "", {{"Text", "INSTALL"}}, ""});
  Browse("Close");
  Answer(stub::SetupConfirmDialog::kName, stub::kIdBrowse);
  Browse("Close");
  Answer(stub::SetupConfirmDialog::kName, kIdNo);
  EXPECT_EQ(kStubCancelled, Run(""));
  EXPECT_EQ(1, Count("UnlockArchive"));
  EXPECT_EQ(3, Count(stub::SetupConfirmDialog::kName));
  ASSERT_EQ(3, Count(kBrowse)) << refusals_.size();
  ASSERT_EQ(1u, refusals_.size());
  EXPECT_EQ("no button GetAll", refusals_[0]);
  EXPECT_EQ("Find Close ", First(kBrowse)->buttons);
  EXPECT_NE(std::string::npos, First(kBrowse)->text.find("  2 install.txt  "));
  EXPECT_EQ(1, Count(ui::FindDialog::kName));
  // Found (case does not count by default): no "Not found".
  EXPECT_TRUE(messages_.empty()) << messages_[0];
  EXPECT_TRUE(TempFolders().empty());
}

TEST_F(StubStartupTest, AcceptedSetupIsExtractedIntoTheFirstFreeFolder) {
  BuildArchive("Velmora", "", "+Z", "");
  for (int n = 0; n < 5; ++n) {
    ASSERT_TRUE(p().files.CreateFolder(Temp(Format("__CRX_tmp_%d__", n))));
  }
  // Browse lists the archive and asks again; then YES.
  Answer(stub::SetupConfirmDialog::kName, stub::kIdBrowse);
  Browse("Close");
  Answer(stub::SetupConfirmDialog::kName, kIdYes);
  EXPECT_EQ(kStubDone, Run(""));
  EXPECT_EQ(2, Count(stub::SetupConfirmDialog::kName));
  // The list-only browser: no extraction controls.
  ASSERT_EQ(1, Count(kBrowse));
  EXPECT_EQ("Find Close ", First(kBrowse)->buttons);

  const std::string folder = Temp("__CRX_tmp_5__");
  EXPECT_EQ("the setup program", ReadFile(folder + "\\setup.exe"));
  EXPECT_EQ(std::string(3000, 'i') + "end", ReadFile(folder + "\\install.txt"));
  EXPECT_EQ(6u, TempFolders().size());
  EXPECT_EQ(
      "Open(\"Cratex - Extracting Files\",2)=1\nSetText(\"setup.exe\")=1\n"
      "SetText(\"install.txt\")=1\nEnd(1)=1\n",
      transcript_);
  // The setup phase could not start the setup program (no program) and
  // said so in a message box.
  ASSERT_EQ(1u, messages_.size());
  EXPECT_EQ(0u, messages_[0].find("ERROR: can't run setup program\nerror creating process "))
      << messages_[0];
  EXPECT_EQ(messages_[0].size() - 10, messages_[0].rfind("\nsetup.exe")) << messages_[0];
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("ExtractArchive...\n"));
  // The phase ran from the folder in an interactive run: no "/sms:", and
  // without a program to wait for the folder is left as it is.
  EXPECT_NE(std::string::npos, log.find("SETUP PHASE: RUN PROGRAM <setup.exe> (.\\setup.exe)\n"
                                        "run prog error 0x"))
      << log;
  EXPECT_NE(std::string::npos,
            log.find("(info: cannot locate exe to wait for '')\n(cannot perform cleanup phase, "
                     "will leave folder '" + folder + "')FINAL SETUP PHASE...\n"))
      << log;
  // The completion line comes last, before the engine's closing line.
  const std::string end = "Cratex COMPLETE\n(close extracting archive)\n";
  EXPECT_EQ(log.size() - end.size(), log.rfind(end)) << log;
}

TEST_F(StubStartupTest, SilentSetupLogsItsMessagesInsteadOfShowingThem) {
  BuildArchive("Velmora", "", "+ZM");
  EXPECT_EQ(kStubDone, Run("/sms:silent", stub::MinimalStub()));
  EXPECT_TRUE(seen_.empty());
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ("<none>", transcript_);  // no feedback window in silent runs
  const std::string log = Log();
  // The minimal stub's own spelling of the line, silent mode passed on,
  // and the failed start logged instead of shown.
  EXPECT_NE(std::string::npos,
            log.find("setup phase: run program <setup.exe> (.\\setup.exe /sms:silent)\n"
                     "\nMESSAGE (flags=0x0)\nERROR: can't run setup program\n"))
      << log;
  // The program to wait for is there, so the clean-up still runs and
  // removes every extracted file and the folder.
  EXPECT_NE(std::string::npos,
            log.find("CLEANUP PHASE\n(0) remove file 'setup.exe'\n(1) remove file "
                     "'install.txt'\n"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("remove file error")) << log;
  EXPECT_EQ(std::string::npos, log.find("remove directory error")) << log;
  EXPECT_TRUE(TempFolders().empty());
  const std::string end = "Cratex COMPLETE\n(close extracting archive)\n";
  EXPECT_EQ(log.size() - end.size(), log.rfind(end)) << log;

  // The full stub cannot find an archive written behind the minimal stub:
  // it goes on as for a plain archive, whose browser cannot list it and
  // closes; nothing is extracted, and the run counts as failed.
  EXPECT_EQ(kStubFailed, Run("/sms:silent", stub::FullStub()));
  EXPECT_EQ(0, Count(kBrowse));
  EXPECT_TRUE(TempFolders().empty());
}

TEST_F(StubStartupTest, TemporaryFolderFailuresAreReportedAndEndTheRun) {
  BuildArchive("Velmora", "");

  // All hundred names taken.
  for (int n = 0; n < stub::kTempFolderNames; ++n) {
    ASSERT_TRUE(p().files.CreateFolder(Temp(Format("__CRX_tmp_%d__", n))));
  }
  Answer(stub::SetupConfirmDialog::kName, kIdYes);
  EXPECT_EQ(kStubFailed, Run(""));
  ASSERT_EQ(2u, messages_.size());
  EXPECT_EQ(
      "Their are already too many __CRX_tmp_ directrories in\nyour system TEMP directory. "
      "Remove some of these and\nretry this operation\n\nThe system TEMP directory is...\n<" +
          At("temp") + ">",
      messages_[0]);
  EXPECT_EQ(kNoTempFolder, messages_[1]);
  EXPECT_EQ("<none>", transcript_);

  // TEMP names a folder that does not exist.
  ASSERT_TRUE(p().environment.Set("TEMP", At("nowhere")));
  Answer(stub::SetupConfirmDialog::kName, kIdYes);
  EXPECT_EQ(kStubFailed, Run(""));
  ASSERT_EQ(2u, messages_.size());
  EXPECT_EQ(0u, messages_[0].find("The folder sepcified by environment variable TEMP is not "
                                  "valid\n\nTEMP = " +
                                  At("nowhere") + "\n\nError = "))
      << messages_[0];
  EXPECT_EQ(kNoTempFolder, messages_[1]);
  EXPECT_FALSE(p().files.Exists(At("nowhere")));
}

TEST_F(StubStartupTest, ASilentRunSaysInItsLogWhyItFoundNoFolder) {
  BuildArchive("Velmora", "");
  for (int n = 0; n < stub::kTempFolderNames; ++n) {
    ASSERT_TRUE(p().files.CreateFolder(Temp(Format("__CRX_tmp_%d__", n))));
  }
  SetLoggingSetting(0);  // the reason is logged whatever the setting
  EXPECT_EQ(kStubFailed, Run("/sms:silent"));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ("\nMESSAGE (flags=0x0)\nTheir are already too many __CRX_tmp_ directrories in\n"
            "your system TEMP directory. Remove some of these and\nretry this operation\n\n"
            "The system TEMP directory is...\n<" + At("temp") + ">\n"
            "\nMESSAGE (flags=0x0)\n" + kNoTempFolder + "\n",
            Log());
}

TEST_F(StubStartupTest, SetupMembersLandOnlyInsideThePrivateFolder) {
  // Files an absolute and a climbing member name point at.
  ASSERT_TRUE(p().files.CreateFolder(At("victim")));
  WriteFile(At("victim\\x.txt"), "original");
  WriteFile(At("escape.txt"), "original too");
  // A folder name taken by someone else's link or folder is passed over.
  ASSERT_TRUE(p().files.CreateFolder(Temp("__CRX_tmp_0__")));
  {
    RecordingInterface ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions("+ZS");
    SetupInfo& info = engine.setup_info();
    info.company = "Velmora";
    info.product = "Widget";
    info.description = "The widget tools";
    info.setup_program = "setup.exe";
    info.wait_program = "setup.exe";
    ASSERT_TRUE(engine.CreateArchive(At("archive.exe")));
    ASSERT_TRUE(engine.AddFile(At("product\\setup.exe"), "setup.exe"));
    ASSERT_TRUE(engine.AddFile(At("product\\install.txt"), At("victim\\x.txt")));
    ASSERT_TRUE(engine.AddFile(At("product\\install.txt"), "..\\..\\escape.txt"));
    ASSERT_TRUE(engine.AddFile(At("product\\install.txt"), "docs\\deep\\guide.txt"));
    ASSERT_TRUE(engine.CloseArchive());
    ASSERT_TRUE(ui.texts.empty()) << ui.texts[0];
  }
  p().files.DeleteFile(Temp("Cratex.log"));
  ResetLogState();
  SetLoggingSetting(1);

#ifndef _WIN32
  const mode_t umask_before = ::umask(0);
#endif
  EXPECT_EQ(kStubDone, Run("/sms:silent"));
#ifndef _WIN32
  ::umask(umask_before);
#endif
  // Nothing outside the folder was written or deleted.
  EXPECT_EQ("original", ReadFile(At("victim\\x.txt")));
  EXPECT_EQ("original too", ReadFile(At("escape.txt")));
  const std::string log = Log();
  const std::string folder = Temp("__CRX_tmp_1__");
  EXPECT_NE(std::string::npos, log.find("...<" + p().files.FullPath(folder) + "\\")) << log;
  // The clean-up found every contained member and the folders made for
  // them, and removed the folder.
  EXPECT_NE(std::string::npos, log.find("CLEANUP PHASE\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("remove file error")) << log;
  EXPECT_EQ(std::string::npos, log.find("remove directory error")) << log;
  EXPECT_EQ(std::string::npos, log.find("left alone")) << log;
  EXPECT_FALSE(p().files.Exists(folder));
  EXPECT_TRUE(p().files.IsFolder(Temp("__CRX_tmp_0__")));
}

#ifndef _WIN32
TEST_F(StubStartupTest, ThePrivateFolderIsTheUsersAloneWhateverTheUmask) {
  BuildArchive("Velmora", "", "+Z", "");
  const mode_t umask_before = ::umask(0);
  EXPECT_EQ(kStubDone, Run("/sms:silent"));
  ::umask(umask_before);
  struct stat st {};
  ASSERT_EQ(0, ::stat(WindowsToHostPath(Temp("__CRX_tmp_0__")).c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777u);
  // A link planted under the first name is not taken as the folder.
  ASSERT_EQ(0, ::symlink(WindowsToHostPath(At("product")).c_str(),
                         WindowsToHostPath(Temp("__CRX_tmp_1__")).c_str()));
  EXPECT_EQ(kStubDone, Run("/sms:silent"));
  EXPECT_TRUE(p().files.IsFile(Temp("__CRX_tmp_2__\\install.txt")));
  EXPECT_FALSE(p().files.Exists(At("product\\setup.exe\\install.txt")));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(p().files.ListFolder(At("product\\*"), &entries));
  size_t files = 0;
  for (const FolderEntry& e : entries) files += e.name != "." && e.name != ".." ? 1 : 0;
  EXPECT_EQ(2u, files);  // setup.exe and install.txt: nothing added

  // The activity log: a link planted as Cratex.log is replaced, never
  // followed.
  WriteFile(At("victim.txt"), "precious");
  p().files.DeleteFile(Temp("Cratex.log"));
  ASSERT_EQ(0, ::symlink(WindowsToHostPath(At("victim.txt")).c_str(),
                         WindowsToHostPath(Temp("Cratex.log")).c_str()));
  EXPECT_EQ(kStubDone, Run("/sms:silent"));
  EXPECT_EQ("precious", ReadFile(At("victim.txt")));
  EXPECT_NE(std::string::npos, Log().find("ExtractArchive...\n")) << Log();
}
#endif

TEST_F(StubStartupTest, AFolderThatCannotBeEnteredIsLeftBehind) {
  BuildArchive("Velmora", "");
  NoEnteringFileSystem files(p().files);
  Platform platform{files, p().registry, *processes_, p().environment,
                    p().clock, p().terminal, p().shell};
  Answer(stub::SetupConfirmDialog::kName, kIdYes);
  EXPECT_EQ(kStubFailed, RunOn(platform, ""));
  ASSERT_EQ(2u, messages_.size());
  EXPECT_EQ(Format("error occurred changing directory\nto a newly created temp directory...\n\n"
                   "%s\n\nError = 5[0x5]\n",
                   Temp("__CRX_tmp_0__").c_str()),
            messages_[0]);
  EXPECT_EQ(kNoTempFolder, messages_[1]);
  EXPECT_EQ(std::vector<std::string>{"__CRX_tmp_0__"}, TempFolders());
}

TEST_F(StubStartupTest, FailedExtractionKeepsTheFolderAndWritesNoCompletion) {
  BuildArchive("Velmora", "", "-Z");
  // Damage the second member's stored data: its checksum no longer matches.
  std::string bytes = ReadFile(At("archive.exe"));
  const size_t at = bytes.find("iiiend");
  ASSERT_NE(std::string::npos, at);
  bytes[at] = 'X';
  WriteFile(At("archive.exe"), bytes);

  Answer(stub::SetupConfirmDialog::kName, kIdYes);
  EXPECT_EQ(kStubFailed, Run(""));
  EXPECT_EQ(std::vector<std::string>{"__CRX_tmp_0__"}, TempFolders());
  EXPECT_EQ("the setup program", ReadFile(Temp("__CRX_tmp_0__\\setup.exe")));
  EXPECT_NE(std::string::npos, transcript_.find("End(0)=1")) << transcript_;
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("ExtractArchive...")) << log;
  EXPECT_EQ(std::string::npos, log.find("COMPLETE")) << log;
  // The engine reported the damage; nothing was browsed.
  ASSERT_FALSE(messages_.empty());
  EXPECT_EQ(0, Count(kBrowse));
}

TEST_F(StubStartupTest, SilentMessagesAnswerYesToYesNoQuestions) {
  ScriptedFrontEnd front_end;
  stub::StubLog log(p());
  ui::SilentMode mode;
  mode.set_silent(true);
  stub::StubMessages messages(front_end, log, mode);
  // No log open: the message is dropped, the answers still come.
  EXPECT_EQ(kIdYes, messages.StubMessage("question", kMbYesNo));
  EXPECT_EQ(kIdOk, messages.StubMessage("note", kMbOk));
  ASSERT_TRUE(log.OpenOwn(At("own.log")));
  EXPECT_EQ(kIdYes, messages.StubMessage("again?", kMbYesNo | kMbIconQuestion));
  log.Close();
  EXPECT_EQ("\nMESSAGE (flags=0x24)\nagain?\n", ReadFile(At("own.log")));
  EXPECT_TRUE(front_end.shown.empty());
}

}  // namespace
}  // namespace crx
