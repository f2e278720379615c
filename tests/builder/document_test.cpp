// The builder's document on a fresh emulated machine, with a scripted
// front-end instead of windows: the option rules, New Archive with and
// without the lock dialog's password, drops, pastes, Save, Abort and Exit,
// and Preferences. Archives are read back with the engine.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "builder/document.h"
#include "builder/settings.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"
#include "ui/answers/answers.h"
#include "ui/file_chooser_dialog.h"
#include "ui/front_end.h"
#include "ui/password_dialogs.h"
#include "ui/preferences_dialog.h"

namespace crx {
namespace {

#ifndef _WIN32

using builder::CCratexDoc;
using builder::DocCommand;

constexpr const char* kKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

// Answers each dialog with the next step; a dialog without a step is
// refused. Refusals by the model's own checks are kept in order.
class ScriptedFrontEnd : public ui::FrontEnd {
 public:
  using Step = std::function<void(ui::Dialog&, ScriptedFrontEnd&)>;
  std::deque<Step> steps;
  std::vector<std::string> shown;    // dialog names in order
  std::vector<std::string> refusals;  // messages of refused presses

  int Show(ui::Dialog& dialog) override {
    shown.push_back(dialog.Name());
    if (steps.empty()) {
      dialog.Refuse();
      return dialog.Result();
    }
    Step step = steps.front();
    steps.pop_front();
    step(dialog, *this);
    if (!dialog.Closed()) dialog.Refuse();
    return dialog.Result();
  }
  // Sets fields, then presses id; a refusal is recorded.
  void Fill(ui::Dialog& dialog, const std::vector<std::pair<std::string, std::string>>& fields,
            int id) {
    std::string error;
    for (const auto& f : fields) EXPECT_TRUE(dialog.SetField(f.first, f.second, &error)) << error;
    if (!dialog.Press(id, &error)) refusals.push_back(error);
  }
  void Then(std::vector<std::pair<std::string, std::string>> fields, int id = kIdOk) {
    steps.push_back([fields, id](ui::Dialog& d, ScriptedFrontEnd& fe) { fe.Fill(d, fields, id); });
  }
  void Choose(const std::string& path) { Then({{"Path", path}}); }
  void Cancel() { Then({}, kIdCancel); }
};

struct Shown {
  std::string text;
  uint32_t flags;
};

class RecordingUi : public UserInterface {
 public:
  std::vector<Shown> messages;
  std::deque<int> answers;  // for questions; Yes when none are left

  int MessageBox(const std::string& text, const std::string&, uint32_t flags) override {
    messages.push_back({text, flags});
    if ((flags & kMbTypeMask) == kMbOk) return kIdOk;
    if (answers.empty()) return kIdYes;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool Saw(const std::string& text) const {
    for (const Shown& m : messages) {
      if (m.text == text) return true;
    }
    return false;
  }
};

class TestHost : public builder::DocumentHost {
 public:
  using DocumentHost::DocumentHost;
  int rows_changed = 0;
  std::vector<std::string> browsed;
  void RowsChanged() override { ++rows_changed; }
  void ShowBrowser(const std::string& path) override { browsed.push_back(path); }
  // Runs while the engine lets window messages through (a person using the
  // menus during an add).
  std::function<void()> on_messages;
  void ProcessMessages() override {
    if (on_messages) on_messages();
  }
};

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    ResetLogState();
    SetLoggingSetting(0);
    dir_ = machine_.Scratch();
    ASSERT_TRUE(p().files.SetCurrentFolder(dir_));
    Write(dir_ + "\\full.dat", std::string(FULL_STUB_SIZE, 'S'));
    Write(dir_ + "\\min.dat", std::string(MIN_STUB_SIZE, 'M'));
    ScopedRegKey key(p().registry);
    ASSERT_EQ(p().registry.CreateKey(kHKeyLocalMachine, kKey, RegAccess::kAll, key.Out(), nullptr),
              kErrorSuccess);
    p().registry.SetString(key.Get(), "datafile", dir_ + "\\full.dat");
    p().registry.SetString(key.Get(), "mdatafile", dir_ + "\\min.dat");
    host_ = std::make_unique<TestHost>(p(), ui_, front_);
  }
  void TearDown() override { ResetLogState(); }

  Platform& p() { return machine_.Get(); }
  void Write(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(test::WriteWholeFile(p().files, path, bytes)) << path;
  }
  std::string UserValue(const std::string& name) {
    ScopedRegKey key(p().registry);
    std::string value = "(missing)";
    if (p().registry.OpenKey(kHKeyCurrentUser, kKey, RegAccess::kRead, key.Out()) !=
        kErrorSuccess) {
      return "(no key)";
    }
    p().registry.GetString(key.Get(), name, &value);
    return value;
  }
  void SetUserValue(const std::string& name, const std::string& value) {
    ASSERT_TRUE(builder::WriteUserSetting(p().registry, builder::SettingsLocation(), name, value));
  }
  // A folder tree: tree\a.txt, tree\sub\b.txt, tree\sub\deeper\c.txt.
  void MakeTree() {
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\tree"));
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\tree\\sub"));
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\tree\\sub\\deeper"));
    Write(dir_ + "\\tree\\a.txt", "alpha alpha alpha alpha alpha alpha alpha alpha\n");
    Write(dir_ + "\\tree\\sub\\b.txt", "bravo");
    Write(dir_ + "\\tree\\sub\\deeper\\c.txt", "charlie charlie");
  }
  // Opens a new archive at path (no password asked).
  void NewArchive(CCratexDoc& doc, const std::string& path) {
    front_.Choose(path);
    ASSERT_TRUE(doc.NewArchive());
    ASSERT_TRUE(doc.archive_open());
  }
  std::vector<std::string> RowNames(const CCratexDoc& doc) {
    std::vector<std::string> names;
    for (const builder::MemberRow& r : doc.rows()) names.push_back(r.member.name);
    return names;
  }
  // The archive read back: its member names; *id and *type its records.
  std::vector<std::string> ReadBack(const std::string& path, IdentificationRecord* id = nullptr,
                                    TypeRecord* type = nullptr) {
    RecordingUi quiet;
    ArchiveEngine reader(p(), quiet);
    reader.set_password_accepted(true);
    std::vector<std::string> names;
    if (!reader.ListArchive(path)) names.push_back("(unreadable)");
    reader.CloseArchive();
    for (const MemberEntry& m : reader.members()) names.push_back(m.name);
    if (id) *id = reader.identification();
    if (type) *type = reader.type_record();
    return names;
  }

  test::TestPlatform machine_;
  RecordingUi ui_;
  ScriptedFrontEnd front_;
  std::unique_ptr<TestHost> host_;
  std::string dir_;
};

TEST_F(DocumentTest, OptionTogglesFollowTheirCouplingAndEnablingRules) {
  CCratexDoc doc(*host_);
  // Setup archive ticks flatten with it, and clears both.
  EXPECT_FALSE(doc.Checked(DocCommand::kFlatten));
  ASSERT_TRUE(doc.Toggle(DocCommand::kSetupArchive));
  EXPECT_TRUE(doc.Checked(DocCommand::kSetupArchive));
  EXPECT_TRUE(doc.Checked(DocCommand::kFlatten));
  ASSERT_TRUE(doc.Toggle(DocCommand::kSetupArchive));
  EXPECT_FALSE(doc.Checked(DocCommand::kSetupArchive));
  EXPECT_FALSE(doc.Checked(DocCommand::kFlatten));

  // Encryption clears password-only and ticks compress, which is then fixed.
  ASSERT_TRUE(doc.Toggle(DocCommand::kCompress));
  EXPECT_FALSE(doc.Checked(DocCommand::kCompress));
  ASSERT_TRUE(doc.Toggle(DocCommand::kPasswordOnly));
  EXPECT_TRUE(doc.Checked(DocCommand::kCompress));
  EXPECT_FALSE(doc.Toggle(DocCommand::kCompress));  // password-only fixes it
  EXPECT_FALSE(doc.Enabled(DocCommand::kCompress));
  ASSERT_TRUE(doc.Toggle(DocCommand::kEncrypt));
  EXPECT_TRUE(doc.Checked(DocCommand::kEncrypt));
  EXPECT_FALSE(doc.Checked(DocCommand::kPasswordOnly));
  EXPECT_TRUE(doc.Checked(DocCommand::kCompress));
  EXPECT_FALSE(doc.Enabled(DocCommand::kCompress));
  EXPECT_FALSE(doc.Toggle(DocCommand::kCompress));
  EXPECT_TRUE(doc.Checked(DocCommand::kCompress));
  // Password-only switches encryption off again.
  ASSERT_TRUE(doc.Toggle(DocCommand::kPasswordOnly));
  EXPECT_FALSE(doc.Checked(DocCommand::kEncrypt));
  EXPECT_TRUE(doc.Checked(DocCommand::kPasswordOnly));
  ASSERT_TRUE(doc.Toggle(DocCommand::kPasswordOnly));
  EXPECT_TRUE(doc.Enabled(DocCommand::kCompress));

  // No archive: nothing to add to, save or quit.
  EXPECT_TRUE(doc.Enabled(DocCommand::kNewArchive));
  EXPECT_FALSE(doc.Enabled(DocCommand::kAddFolder));
  EXPECT_FALSE(doc.Enabled(DocCommand::kSave));
  EXPECT_FALSE(doc.Enabled(DocCommand::kPaste, true));
  EXPECT_FALSE(doc.Enabled(DocCommand::kQuitProcessing));
  EXPECT_FALSE(doc.Enabled(DocCommand::kDocumentation));  // no Home value

  // An open archive fixes what its headers hold; the rest reaches it at once.
  NewArchive(doc, dir_ + "\\open.exe");
  for (DocCommand c : {DocCommand::kNewArchive, DocCommand::kScript, DocCommand::kBrowse,
                       DocCommand::kPreferences, DocCommand::kSetupArchive, DocCommand::kMinimize,
                       DocCommand::kEncrypt, DocCommand::kPasswordOnly}) {
    EXPECT_FALSE(doc.Enabled(c)) << builder::CommandText(c);
  }
  EXPECT_FALSE(doc.Toggle(DocCommand::kEncrypt));
  EXPECT_TRUE(doc.Enabled(DocCommand::kSave));
  EXPECT_FALSE(doc.Enabled(DocCommand::kPaste, false));
  EXPECT_TRUE(doc.Enabled(DocCommand::kPaste, true));
  EXPECT_TRUE(doc.engine()->options().compress);
  ASSERT_TRUE(doc.Toggle(DocCommand::kCompress));
  EXPECT_FALSE(doc.engine()->options().compress);
  ASSERT_TRUE(doc.Toggle(DocCommand::kSubdirectories));
  EXPECT_FALSE(doc.engine()->options().subdirectories);
}

TEST_F(DocumentTest, CancelledLockDialogGivesAnArchiveWithoutPasswordOrEncryption) {
  Write(dir_ + "\\file.txt", "some text to lock away, some text to lock away\n");
  CCratexDoc doc(*host_);
  ASSERT_TRUE(doc.Toggle(DocCommand::kEncrypt));

  // Cancelled: the message, then the save dialog; the option stays on.
  front_.Cancel();
  front_.Choose(dir_ + "\\open");  // the default extension is added
  ASSERT_TRUE(doc.NewArchive());
  EXPECT_EQ(front_.shown, (std::vector<std::string>{"LockArchive", "ChooseFile"}));
  EXPECT_TRUE(ui_.Saw("You have the Encrypt/Password Protect option set but\nhave overriden "
                      "this by cancelling the password dialog.\n\nNo password or encryption "
                      "will be applied to the archive"));
  EXPECT_EQ(doc.archive_path(), dir_ + "\\open.EXE");
  EXPECT_EQ(doc.title(), dir_ + "\\open.EXE");
  EXPECT_TRUE(doc.Checked(DocCommand::kEncrypt));
  ASSERT_TRUE(doc.Drop({dir_ + "\\file.txt"}));
  ASSERT_TRUE(doc.Save());
  IdentificationRecord id;
  TypeRecord type;
  EXPECT_EQ(ReadBack(dir_ + "\\open.EXE", &id, &type).size(), 1u);
  EXPECT_FALSE(id.HasPassword());
  EXPECT_FALSE(type.IsEncrypted());

  // Given a password the next archive has both.
  front_.shown.clear();
  front_.Then({{"Password", "secret"}, {"Confirm", "secret"}});
  front_.Choose(dir_ + "\\locked.exe");
  ASSERT_TRUE(doc.NewArchive());
  ASSERT_TRUE(doc.Drop({dir_ + "\\file.txt"}));
  ASSERT_TRUE(doc.Save());
  EXPECT_EQ(ReadBack(dir_ + "\\locked.exe", &id, &type).size(), 1u);
  EXPECT_TRUE(id.HasPassword());
  EXPECT_TRUE(type.IsEncrypted());

  // Cancelling the save dialog leaves no archive open.
  front_.Then({{"Password", "secret"}, {"Confirm", "secret"}});
  front_.Cancel();
  EXPECT_FALSE(doc.NewArchive());
  EXPECT_FALSE(doc.archive_open());
}

TEST_F(DocumentTest, DropsCreateTheArchiveOnlyWhenAllowedAndAddFoldersWithSubfolders) {
  MakeTree();
  SetUserValue("CreateOnDrop", "0");
  {
    CCratexDoc doc(*host_);
    EXPECT_FALSE(doc.options().create_on_drop);
    EXPECT_FALSE(doc.Drop({dir_ + "\\tree\\a.txt"}));
    EXPECT_TRUE(ui_.Saw("No archive created to recieve files"));
    EXPECT_FALSE(doc.archive_open());
    EXPECT_TRUE(front_.shown.empty());  // no New Archive was started
  }

  SetUserValue("CreateOnDrop", "1");
  CCratexDoc doc(*host_);
  ASSERT_TRUE(doc.Toggle(DocCommand::kCompress));  // stored: zsize 0
  front_.Choose(dir_ + "\\dropped.exe");
  ASSERT_TRUE(doc.Drop({dir_ + "\\tree"}));
  ASSERT_TRUE(doc.archive_open());
  std::vector<std::string> names = RowNames(doc);
  ASSERT_EQ(names.size(), 3u);
  for (const char* leaf : {"a.txt", "b.txt", "c.txt"}) {
    bool found = false;
    for (const std::string& n : names) found = found || n.find(leaf) != std::string::npos;
    EXPECT_TRUE(found) << leaf;
  }
  for (const builder::MemberRow& r : doc.rows()) {
    EXPECT_EQ(r.stored_text, "0") << r.member.name;
    EXPECT_EQ(r.size_text, std::to_string(r.member.size));
    EXPECT_FALSE(r.time_text.empty());
  }
  // Sorted by size with the browser's comparison: 5, 15, 48 bytes.
  doc.SortRows(ui::BrowserColumn::kSize);
  EXPECT_EQ(doc.rows()[0].size_text, "5");
  EXPECT_EQ(doc.rows()[2].size_text, "48");

  // A second drop with a missing path stops there when the user does not
  // go on past it: the file after it is not added.
  Write(dir_ + "\\late.txt", "late");
  ui_.answers = {kIdCancel};
  EXPECT_FALSE(doc.Drop({dir_ + "\\missing.txt", dir_ + "\\late.txt"}));
  EXPECT_EQ(doc.rows().size(), 3u);
  ASSERT_TRUE(doc.Save());
  EXPECT_FALSE(doc.white_background());
  EXPECT_EQ(ReadBack(dir_ + "\\dropped.exe").size(), 3u);

  // Without subdirectories only the folder's own file goes in.
  ASSERT_TRUE(doc.Toggle(DocCommand::kSubdirectories));
  front_.Choose(dir_ + "\\flat.exe");
  ASSERT_TRUE(doc.NewArchive());
  EXPECT_TRUE(doc.white_background());
  EXPECT_TRUE(doc.rows().empty());
  ASSERT_TRUE(doc.Drop({dir_ + "\\tree"}));
  EXPECT_EQ(doc.rows().size(), 1u);
}

TEST_F(DocumentTest, PastedFoldersAreWalkedAndTwoPastesListEachMemberOnce) {
  MakeTree();
  Write(dir_ + "\\single.txt", "single");
  CCratexDoc doc(*host_);
  NewArchive(doc, dir_ + "\\pasted.exe");
  const std::vector<std::string> clipboard = {dir_ + "\\single.txt", dir_ + "\\tree"};
  doc.Paste(clipboard);
  EXPECT_EQ(doc.rows().size(), 4u);
  doc.Paste(clipboard);
  EXPECT_EQ(doc.rows().size(), 4u);
  std::vector<std::string> names = RowNames(doc);
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = i + 1; j < names.size(); ++j) EXPECT_NE(names[i], names[j]);
  }
  ASSERT_TRUE(doc.Save());
  EXPECT_EQ(ReadBack(dir_ + "\\pasted.exe").size(), 4u);
  // Nothing open: paste is refused.
  EXPECT_FALSE(doc.Paste(clipboard));
}

TEST_F(DocumentTest, WhileAnAddRunsOnlyQuitProcessingIsOfferedAndItStopsTheDrop) {
  std::vector<std::string> paths;
  for (int i = 0; i < 5; ++i) {
    paths.push_back(dir_ + "\\f" + std::to_string(i) + ".txt");
    Write(paths.back(), "file " + std::to_string(i));
  }
  CCratexDoc doc(*host_);
  NewArchive(doc, dir_ + "\\quit.exe");
  std::string during;
  host_->on_messages = [&] {
    if (!during.empty()) return;
    during += doc.operation_running() ? "running " : "idle ";
    during += doc.Enabled(DocCommand::kSave) ? "save " : "";
    during += doc.Enabled(DocCommand::kAbort) ? "abort " : "";
    during += doc.Enabled(DocCommand::kExit) ? "exit " : "";
    during += doc.Enabled(DocCommand::kQuitProcessing) ? "quit " : "";
    during += doc.Drop({paths[0]}) ? "dropped" : "refused";
    EXPECT_FALSE(doc.Abort());
    EXPECT_FALSE(doc.Exit());
    doc.QuitProcessing();
  };
  EXPECT_FALSE(doc.Drop(paths));
  EXPECT_EQ(during, "running quit refused");
  EXPECT_TRUE(ui_.Saw("USER QUIT..."));
  EXPECT_TRUE(ui_.Saw("Can't exit while an archive is being processed.\nUse the "
                      "'Options/Quit Processing' menu item first"));
  EXPECT_LT(doc.rows().size(), paths.size());
  EXPECT_FALSE(doc.operation_running());
  EXPECT_TRUE(doc.Enabled(DocCommand::kSave));
  // The next operation is not stopped by the earlier request.
  host_->on_messages = nullptr;
  ui_.messages.clear();
  const size_t before = doc.rows().size();
  EXPECT_TRUE(doc.Drop({paths[4]}));
  EXPECT_EQ(doc.rows().size(), before + 1);
  EXPECT_FALSE(ui_.Saw("USER QUIT..."));
}

TEST_F(DocumentTest, ExitAbortAndSaveKeepOrCloseTheArchiveAsAnswered) {
  Write(dir_ + "\\file.txt", "content");
  CCratexDoc doc(*host_);
  NewArchive(doc, dir_ + "\\kept.exe");
  ASSERT_TRUE(doc.Drop({dir_ + "\\file.txt"}));

  // Exit, Cancel: still running with the archive open.
  ui_.answers = {kIdCancel};
  EXPECT_FALSE(doc.Exit());
  EXPECT_TRUE(doc.archive_open());
  EXPECT_TRUE(ui_.Saw("Do you wish to save the archive?"));
  // Abort, No: still open; Yes: the partial archive is gone.
  ui_.answers = {kIdNo};
  EXPECT_FALSE(doc.Abort());
  EXPECT_TRUE(doc.archive_open());
  ui_.answers = {kIdYes};
  EXPECT_TRUE(doc.Abort());
  EXPECT_FALSE(doc.archive_open());
  EXPECT_TRUE(doc.rows().empty());
  EXPECT_FALSE(p().files.Exists(dir_ + "\\kept.exe"));

  // Exit, Yes: saved and verified, the program may end.
  NewArchive(doc, dir_ + "\\saved.exe");
  ASSERT_TRUE(doc.Drop({dir_ + "\\file.txt"}));
  ui_.messages.clear();
  ui_.answers = {kIdYes};
  EXPECT_TRUE(doc.Exit());
  EXPECT_FALSE(doc.archive_open());
  EXPECT_FALSE(ui_.Saw("ERROR\nVerification Failed"));
  EXPECT_EQ(ReadBack(dir_ + "\\saved.exe").size(), 1u);
  EXPECT_TRUE(doc.Exit());  // nothing open: no question
  EXPECT_EQ(ui_.messages.size(), 1u);

  // Closing by other means, Yes: announced, verified, reported.
  NewArchive(doc, dir_ + "\\closed.exe");
  ASSERT_TRUE(doc.Drop({dir_ + "\\file.txt"}));
  ui_.answers = {kIdYes};
  doc.CloseDocument();
  EXPECT_FALSE(doc.archive_open());
  EXPECT_TRUE(ui_.Saw("About to Verify Archive...\n"));
  EXPECT_TRUE(ui_.Saw("Verification Complete"));
  EXPECT_EQ(ReadBack(dir_ + "\\closed.exe").size(), 1u);
}

TEST_F(DocumentTest, PreferencesWriteDefaultsRefuseBadListsInOrderAndStoreNormalised) {
  CCratexDoc doc(*host_);  // creates the key and writes CreateOnDrop
  EXPECT_EQ(UserValue("CreateOnDrop"), "1");
  EXPECT_EQ(UserValue("Logging"), "(missing)");
  // Opening the dialog writes every missing default, even when cancelled.
  front_.Cancel();
  EXPECT_FALSE(doc.Preferences());
  EXPECT_EQ(UserValue("Logging"), "1");
  EXPECT_EQ(UserValue("IgnoreFiles"), builder::kDefaultIgnoreFiles);
  EXPECT_EQ(UserValue("BlockSize"), "0");
  EXPECT_EQ(UserValue("SoftEOM"), "1");

  // Refused in order: empty, embedded space, no colon; then SetDefaults;
  // then a trimmed, lower-case list is accepted.
  std::vector<std::string> seen_lists;
  front_.steps.push_back([&](ui::Dialog& d, ScriptedFrontEnd& fe) {
    seen_lists.push_back(d.FindField("IgnoreFiles")->value);
    EXPECT_EQ(d.FindField("SoftEOM")->value, "1");
    EXPECT_EQ(d.FindField("BlockSize")->value, "0");
    fe.Fill(d, {{"IgnoreFiles", "   "}}, kIdOk);
    fe.Fill(d, {{"IgnoreFiles", "OBJ EXE"}}, kIdOk);
    fe.Fill(d, {{"IgnoreFiles", "exe"}}, kIdOk);
    fe.Fill(d, {{"BlockSize", "12x"}, {"IgnoreFiles", ":EXE:"}}, kIdOk);
    fe.Fill(d, {{"Logging", "0"}, {"CreateOnDrop", "0"}}, ui::kPreferencesSetDefaults);
  });
  front_.steps.push_back([&](ui::Dialog& d, ScriptedFrontEnd& fe) {
    seen_lists.push_back(d.FindField("IgnoreFiles")->value);
    EXPECT_EQ(d.FindField("CreateOnDrop")->value, "0");  // kept across SetDefaults
    fe.Fill(d, {{"IgnoreFiles", " obj:exe "}, {"BlockSize", "2048"}}, kIdOk);
  });
  ASSERT_TRUE(doc.Preferences());
  ASSERT_EQ(front_.refusals.size(), 4u);
  EXPECT_EQ(front_.refusals[0], ui::PreferencesDialog::kEmptyListText);
  EXPECT_EQ(front_.refusals[1], ui::PreferencesDialog::kSpacesText);
  EXPECT_EQ(front_.refusals[2], ui::PreferencesDialog::kNoColonsText);
  EXPECT_EQ(front_.refusals[3], ui::PreferencesDialog::kNotIntegerText);
  ASSERT_EQ(seen_lists.size(), 2u);
  EXPECT_EQ(seen_lists[0], builder::kDefaultIgnoreFiles);  // written as the dialog opened
  EXPECT_EQ(seen_lists[1], builder::kDefaultIgnoreFiles);  // put back by SetDefaults

  EXPECT_EQ(UserValue("IgnoreFiles"), "OBJ:EXE");
  EXPECT_EQ(UserValue("Logging"), "0");
  EXPECT_EQ(UserValue("CreateOnDrop"), "0");
  EXPECT_EQ(UserValue("BlockSize"), "2048");
  EXPECT_EQ(UserValue("SoftEOM"), "1");
  // Create on drop takes effect at once.
  EXPECT_FALSE(doc.options().create_on_drop);
  EXPECT_FALSE(doc.Drop({dir_ + "\\x.txt"}));
  EXPECT_TRUE(ui_.Saw("No archive created to recieve files"));

  // Cancel stores nothing; an open archive disables the command.
  front_.Then({{"IgnoreFiles", ":DLL:"}}, kIdCancel);
  EXPECT_FALSE(doc.Preferences());
  EXPECT_EQ(UserValue("IgnoreFiles"), "OBJ:EXE");
  NewArchive(doc, dir_ + "\\p.exe");
  EXPECT_FALSE(doc.Preferences());
}

TEST_F(DocumentTest, PreferencesAnsweredFromAFileAndLoggingReadOncePerRun) {
  // An archive made first: the activity log setting has been read for this
  // run, so turning it off now changes only what the next start reads.
  ResetLogState();
  Write(dir_ + "\\file.txt", "content");
  CCratexDoc doc(*host_);
  NewArchive(doc, dir_ + "\\first.exe");
  ASSERT_TRUE(doc.Drop({dir_ + "\\file.txt"}));
  ASSERT_TRUE(doc.Save());
  EXPECT_EQ(LoggingSetting(), 1);

  std::vector<ui::AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ui::ParseAnswers("Preferences SetDefaults Logging=0 IgnoreFiles=X\n"
                               "Preferences OK \"IgnoreFiles= dll:ocx \" BlockSize=512\n",
                               &lines, &error))
      << error;
  int ended = 0;
  ui::AnswersFrontEnd answers("C:\\answers.txt", std::move(lines),
                              [&ended](int, const std::string&) { ++ended; });
  TestHost host(p(), ui_, answers);
  CCratexDoc answered(host);
  ASSERT_TRUE(answered.Preferences());
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(UserValue("IgnoreFiles"), "DLL:OCX");
  EXPECT_EQ(UserValue("Logging"), "0");
  EXPECT_EQ(UserValue("BlockSize"), "512");
  EXPECT_EQ(LoggingSetting(), 1);
}

TEST_F(DocumentTest, ScriptCommandRunsFromTheLastScriptFolderAndRemembersIt) {
  ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\scripts"));
  Write(dir_ + "\\scripts\\data.txt", "data");
  Write(dir_ + "\\scripts\\build.txt", ">" + dir_ + "\\scripted.exe\ndata.txt\n");
  SetUserValue("ScriptDir", dir_ + "\\scripts");
  ASSERT_TRUE(p().files.SetCurrentFolder(dir_));
  CCratexDoc doc(*host_);
  front_.Choose("build");  // relative to the remembered folder, ".txt" added
  ASSERT_TRUE(doc.RunScript());
  EXPECT_EQ(doc.title(), "script: build.txt");
  EXPECT_FALSE(doc.archive_open());
  EXPECT_FALSE(doc.white_background());
  EXPECT_EQ(RowNames(doc).size(), 1u);
  EXPECT_FALSE(ui_.Saw("Verify Failed"));
  EXPECT_EQ(ReadBack(dir_ + "\\scripted.exe").size(), 1u);
  EXPECT_EQ(UserValue("ScriptDir"), dir_ + "\\scripts");
}

TEST_F(DocumentTest, BrowseAsksAboutSetupArchivesAndAddFilesGoesOnPastAFailure) {
  // A setup archive made by a script.
  Write(dir_ + "\\setup.exe", "pretend program");
  Write(dir_ + "\\build.txt", "+ZS\n:Velmora\n:Widget\n:Gadgets\n:setup.exe\n:setup.exe\n>" +
                                   dir_ + "\\widget.exe\n" + dir_ + "\\setup.exe\n");
  CCratexDoc doc(*host_);
  front_.Choose(dir_ + "\\build.txt");
  ASSERT_TRUE(doc.RunScript());
  TypeRecord type;
  ASSERT_EQ(ReadBack(dir_ + "\\widget.exe", nullptr, &type).size(), 1u);
  ASSERT_TRUE(type.IsSetup());

  // A missing file; then No to the setup question; then Yes.
  front_.Choose(dir_ + "\\nothing.exe");
  EXPECT_FALSE(doc.Browse());
  EXPECT_TRUE(ui_.Saw("ERROR\ncan't open file '" + dir_ + "\\nothing.exe'"));
  ui_.messages.clear();
  ui_.answers = {kIdNo};
  front_.Choose(dir_ + "\\widget.exe");
  EXPECT_FALSE(doc.Browse());
  ASSERT_EQ(ui_.messages.size(), 2u);  // the notice, then the question
  EXPECT_EQ(ui_.messages[0].text.rfind("Archives created with Cratex are self extracting.", 0),
            0u);
  EXPECT_NE(ui_.messages[1].text.find("     COMPANY: Velmora\n     PRODUCT: Widget\n"),
            std::string::npos)
      << ui_.messages[1].text;
  EXPECT_TRUE(host_->browsed.empty());
  ui_.answers = {kIdYes};
  front_.Choose(dir_ + "\\widget.exe");
  EXPECT_TRUE(doc.Browse());
  EXPECT_EQ(host_->browsed, (std::vector<std::string>{dir_ + "\\widget.exe"}));

  // Add Files: a file that cannot be read is reported, the next still added.
  NewArchive(doc, dir_ + "\\files.exe");
  ui_.messages.clear();
  ui_.answers = {kIdCancel};  // the engine's own question about the unreadable file
  front_.Choose(dir_ + "\\gone.txt|" + dir_ + "\\setup.exe");
  EXPECT_FALSE(doc.AddFiles());
  EXPECT_TRUE(ui_.Saw("Add File - Error"));
  EXPECT_EQ(RowNames(doc), (std::vector<std::string>{dir_ + "\\setup.exe"}));
}

#endif  // _WIN32

}  // namespace
}  // namespace crx
