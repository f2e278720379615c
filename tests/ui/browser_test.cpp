// The archive browser model, its "Browse" dialogs and its terminal form, on
// archives the tests write with ArchiveEngine on the test's own platform.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"
#include "ui/answers/answers.h"
#include "ui/browser.h"
#include "ui/console/browser_console.h"
#include "ui/console/console_front_end.h"
#include "ui/fakes.h"
#include "ui/feedback.h"
#include "ui/password_dialogs.h"

namespace crx::ui {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

// Message boxes are recorded and answered from a list (then with answer).
class RecordingUi : public UserInterface {
 public:
  std::vector<std::string> texts;
  std::vector<int> answers;
  int answer = kIdOk;
  FrontEnd* unlock_front_end = nullptr;
  int unlock_calls = 0;

  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    texts.push_back(text);
    if (answers.empty()) return answer;
    int a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& t : texts) n += t == text ? 1 : 0;
    return n;
  }
};

// The browser's dialogs go to the answers front-end, except the unlock
// dialog: counted, and sent to the recording UI's unlock front-end (refused
// when there is none).
class UnlockRouter : public FrontEnd {
 public:
  UnlockRouter(RecordingUi& ui, FrontEnd& others) : ui_(ui), others_(others) {}
  int Show(Dialog& dialog) override {
    if (dialog.Name() != UnlockArchiveDialog::kName) return others_.Show(dialog);
    ++ui_.unlock_calls;
    if (ui_.unlock_front_end == nullptr) {
      dialog.Refuse();
      return dialog.Result();
    }
    return ui_.unlock_front_end->Show(dialog);
  }

 private:
  RecordingUi& ui_;
  FrontEnd& others_;
};

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    Platform& real = tp_.Get();
    platform_ = std::make_unique<Platform>(Platform{real.files, real.registry, real.processes,
                                                    real.environment, real.clock, terminal_,
                                                    real.shell});
    had_temp_ = env().Get("TEMP", &saved_temp_);
    env().Set("TEMP", tp_.Scratch());
    ResetLogState();
    SetLoggingSetting(0);
    // The writer copies the stub named by the registry in front of the
    // archive; any bytes of the right length do.
    std::string stub = tp_.Scratch() + "\\full.dat";
    WriteFile(stub, std::string(FULL_STUB_SIZE, 'S'));
    ScopedRegKey key(real.registry);
    ASSERT_EQ(real.registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll,
                                      key.Out(), nullptr),
              kErrorSuccess);
    had_datafile_ = real.registry.GetString(key.Get(), "datafile", &saved_datafile_) ==
                    kErrorSuccess;
    ASSERT_EQ(real.registry.SetString(key.Get(), "datafile", stub), kErrorSuccess);
    options_.locale = 1033;
  }

  void TearDown() override {
    if (!tp_.ok()) return;
    Registry& reg = tp_.Get().registry;
    ScopedRegKey key(reg);
    if (reg.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out()) ==
        kErrorSuccess) {
      if (had_datafile_) {
        reg.SetString(key.Get(), "datafile", saved_datafile_);
      } else {
        reg.DeleteValue(key.Get(), "datafile");
      }
    }
    for (const std::string& k : class_keys_) reg.DeleteTree(kHKeyClassesRoot, k);
    if (had_temp_) env().Set("TEMP", saved_temp_);
    DeleteTempMember(p());
  }

  Platform& p() { return *platform_; }
  Environment& env() { return tp_.Get().environment; }
  std::string S(const std::string& name) { return tp_.Scratch() + "\\" + name; }

  void WriteFile(const std::string& path, const std::string& data) {
    ASSERT_TRUE(test::WriteWholeFile(tp_.Get().files, path, data)) << path;
  }
  std::string ReadFile(const std::string& path) {
    return test::ReadWholeFile(tp_.Get().files, path, "<missing>", kShareRead);
  }

  struct Member {
    std::string name;
    std::string data;
  };
  // Writes the members into the scratch folder and an archive of them,
  // created on 6 December 2026 at 14:05 UTC.
  std::string MakeArchive(const std::string& file, const std::vector<Member>& members,
                          const std::string& password = "", int32_t block_size = 0,
                          bool setup = false) {
    RecordingUi quiet;
    ArchiveEngine e(p(), quiet);
    SystemTime created;
    created.year = 2026;
    created.month = 12;
    created.day = 6;
    created.hour = 14;
    created.minute = 5;
    e.set_creation_time(created);
    if (block_size > 0) e.set_block_size(block_size);
    if (setup) {
      e.SetOptions("+S");
      e.setup_info() = SetupInfo{"Velmora", "Widget", "A widget", "SETUP.EXE", "SETUP.EXE"};
    }
    if (!password.empty()) e.set_password_digest(DigestFromTypedPassword(password));
    std::string path = S(file);
    EXPECT_TRUE(e.CreateArchive(path));
    for (const Member& m : members) {
      std::string source = S("src_" + std::to_string(sources_++));
      WriteFile(source, m.data);
      EXPECT_TRUE(e.AddFile(source, m.name)) << m.name;
    }
    EXPECT_TRUE(e.CloseArchive());
    EXPECT_TRUE(quiet.texts.empty()) << quiet.texts[0];
    return path;
  }

  std::unique_ptr<ArchiveBrowser> Browser(const std::string& path) {
    options_.path = path;
    return std::make_unique<ArchiveBrowser>(p(), ui_, router_, options_);
  }

  void SetClassDefault(const std::string& key, const std::string& value) {
    Registry& reg = tp_.Get().registry;
    ScopedRegKey k(reg);
    ASSERT_EQ(reg.CreateKey(kHKeyClassesRoot, key, RegAccess::kAll, k.Out(), nullptr),
              kErrorSuccess);
    ASSERT_EQ(reg.SetString(k.Get(), "", value), kErrorSuccess);
  }

  test::TestPlatform tp_;
  test::FakeTerminal terminal_;
  std::unique_ptr<Platform> platform_;
  RecordingUi ui_;
  test::Ended ended_;
  AnswersFrontEnd front_end_{"C:\\answers.txt", {}, ended_.Handler()};
  UnlockRouter router_{ui_, front_end_};
  BrowserOptions options_;
  std::vector<std::string> class_keys_;
  int sources_ = 0;
  bool had_temp_ = false, had_datafile_ = false;
  std::string saved_temp_, saved_datafile_;
};

std::vector<std::string> Names(const ArchiveBrowser& b) {
  std::vector<std::string> out;
  for (const BrowserRow& r : b.rows()) out.push_back(r.name);
  return out;
}

TEST_F(BrowserTest, OpensWithCaptionRowsAndLocaleDateOrder) {
  std::string path = MakeArchive("three.exe", {{"docs\\README.TXT", "hello"},
                                               {"a.txt", ""},
                                               {"b.bin", std::string(300, 'x')}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  EXPECT_EQ(b->caption(), "Cratex Archive - three.exe (12/06/2026 14:05)");
  ASSERT_EQ(b->rows().size(), 3u);
  EXPECT_EQ(Names(*b), (std::vector<std::string>{"docs\\README.TXT", "a.txt", "b.bin"}));
  EXPECT_EQ(b->rows()[0].size_text, "5");
  EXPECT_EQ(b->rows()[2].size_text, "300");
  EXPECT_EQ(b->rows()[0].icon, kIconUnread);
  // The time column is "%d/%d/%d %d:%d": day first, no leading zeros.
  SystemTime t;
  ASSERT_TRUE(FileTimeToSystemTime(b->engine().members()[0].modified, &t));
  EXPECT_EQ(b->rows()[0].time_text,
            Format("%d/%d/%d %d:%d", t.day, t.month, t.year, t.hour, t.minute));
  EXPECT_TRUE(ui_.texts.empty());

  options_.locale = 2057;
  auto uk = Browser(path);
  ASSERT_TRUE(uk->Open());
  EXPECT_EQ(uk->caption(), "Cratex Archive - three.exe (06/12/2026 14:05)");
  SystemTime created;
  created.year = 2026;
  created.month = 1;
  created.day = 2;
  created.hour = 3;
  created.minute = 4;
  EXPECT_EQ(BrowserCaption("x", created, 4105), "Cratex Archive - x (01/02/2026 03:04)");
  EXPECT_EQ(BrowserCaption("x", created, 1031), "Cratex Archive - x (02/01/2026 03:04)");
}

TEST_F(BrowserTest, OpeningFailuresAndEmptyArchives) {
  auto missing = Browser(S("nothing.exe"));
  EXPECT_FALSE(missing->Open());
  // The engine has reported the open failure itself; the browser's own
  // message comes last.
  ASSERT_FALSE(ui_.texts.empty());
  EXPECT_EQ(ui_.texts.back(), "ERROR - can't list archive...<" + S("nothing.exe") + ">");

  ui_.texts.clear();
  auto empty = Browser(MakeArchive("empty.exe", {}));
  EXPECT_FALSE(empty->Open());
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Archive Contains No Files"});
}

TEST_F(BrowserTest, PasswordIsAskedUnlessListOnlyOrPreAuthorised) {
  std::string path = MakeArchive("locked.exe", {{"a.txt", "secret"}}, "swordfish");
  options_.list_only = true;
  auto listed = Browser(path);
  ASSERT_TRUE(listed->Open());
  EXPECT_EQ(ui_.unlock_calls, 0);
  EXPECT_EQ(listed->rows().size(), 1u);
  EXPECT_FALSE(listed->GetAll()) << "list-only has no extraction";

  // Three wrong passwords keep the dialog open; Cancel closes the browser
  // before anything is listed.
  options_.list_only = false;
  ConsoleFrontEnd console(terminal_);
  ui_.unlock_front_end = &console;
  terminal_.input = {"wrong1", "", "wrong2", "", "wrong3", "", "", "Cancel"};
  auto refused = Browser(path);
  EXPECT_FALSE(refused->Open());
  EXPECT_EQ(ui_.unlock_calls, 1);
  size_t count = 0;
  for (size_t at = 0; (at = terminal_.output.find("Incorrect Password", at)) != std::string::npos;
       ++at) {
    ++count;
  }
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(refused->engine().members().empty());
  EXPECT_TRUE(terminal_.input.empty());

  terminal_.input = {"swordfis", ""};  // only the first 8 characters count
  auto opened = Browser(path);
  EXPECT_TRUE(opened->Open());
  EXPECT_EQ(opened->rows().size(), 1u);

  ui_.unlock_front_end = nullptr;
  options_.pre_authorised = true;
  auto trusted = Browser(path);
  EXPECT_TRUE(trusted->Open());
  EXPECT_EQ(ui_.unlock_calls, 2);
}

TEST_F(BrowserTest, FeedbackWindowOnlyForArchivesOfMoreThanFiftyBlocks) {
  std::vector<std::string> titles;
  options_.make_feedback = [&]() -> std::unique_ptr<Feedback> {
    auto f = std::make_unique<RecordingFeedback>(p().clock);
    titles.push_back("made");
    return f;
  };
  ExtractionSettings settings;
  settings.to_locations = false;

  std::string forty = MakeArchive("forty.exe", {{"f40.bin", std::string(4000, 'a')}}, "", 100);
  auto small = Browser(forty);
  ASSERT_TRUE(small->Open());
  EXPECT_EQ(small->engine().identification().block_count, 40);
  small->settings() = settings;
  small->settings().output_folder = S("out40");
  EXPECT_TRUE(small->GetAll());
  EXPECT_TRUE(titles.empty());
  EXPECT_EQ(ReadFile(S("out40\\f40.bin")).size(), 4000u);
  EXPECT_EQ(small->rows()[0].icon, kIconExtracted);

  // The window the browser opens is its own; capture it through a maker
  // that keeps a pointer to inspect after the extraction.
  RecordingFeedback* seen = nullptr;
  std::vector<std::unique_ptr<RecordingFeedback>> keep;
  options_.make_feedback = [&]() -> std::unique_ptr<Feedback> {
    keep.push_back(std::make_unique<RecordingFeedback>(p().clock));
    seen = keep.back().get();
    // Hand out a forwarding handle so the recording survives.
    struct Forward : DirectFeedback {
      explicit Forward(RecordingFeedback& r, Clock& c) : DirectFeedback(c), r_(r) {}
      bool Open(const std::string& t, int n) override { return r_.Open(t, n); }
      bool SetText(const std::string& t) override { return r_.SetText(t); }
      bool SetDetail(const std::string& t) override { return r_.SetDetail(t); }
      bool End(int n) override { return r_.End(n); }
      bool Animate(bool s) override { return r_.Animate(s); }
      void Show(int) override {}
      RecordingFeedback& r_;
    };
    return std::make_unique<Forward>(*seen, p().clock);
  };
  std::string fifty_one = MakeArchive(
      "fiftyone.exe", {{"f51.bin", std::string(5000, 'b')}, {"g.bin", std::string(100, 'c')}},
      "", 100);
  auto big = Browser(fifty_one);
  ASSERT_TRUE(big->Open());
  EXPECT_EQ(big->engine().identification().block_count, 51);
  big->settings() = settings;
  big->settings().output_folder = S("out51");
  EXPECT_TRUE(big->GetAll());
  ASSERT_NE(seen, nullptr);
  ASSERT_FALSE(seen->calls().empty());
  EXPECT_EQ(seen->calls()[0].text, "Extrtact All Files");
  EXPECT_EQ(seen->calls()[0].number, 2) << "the range is the file count";
  EXPECT_EQ(seen->calls().back().request, kFeedbackEnd);
  EXPECT_EQ(seen->calls().back().number, kFeedbackSuccess);
  EXPECT_FALSE(big->busy());

  // Get Selected on a single-volume archive never shows the window.
  keep.clear();
  seen = nullptr;
  big->Select(1, true);
  EXPECT_TRUE(big->GetSelected());
  EXPECT_EQ(seen, nullptr);
}

TEST_F(BrowserTest, ExtractionSettingsAreCheckedAndTaken) {
  std::string path = MakeArchive("set.exe", {{"C:\\src\\one.txt", "1"}, {"C:\\src\\two.txt", "2"}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  b->settings().to_locations = false;
  EXPECT_FALSE(b->GetAll());
  EXPECT_EQ(ui_.texts, std::vector<std::string>{
                           "You have chosen NOT to extract files to \nthe same location as on "
                           "the archive, but\nyou have not chosen an alternative location."});
  EXPECT_EQ(b->rows()[0].icon, kIconUnread);
  EXPECT_FALSE(b->GetSelected()) << "nothing selected";

  b->settings().output_folder = S("flat");
  b->settings().flatten = true;
  b->Select(1, true);
  EXPECT_TRUE(b->get_selected_enabled());
  EXPECT_TRUE(b->GetSelected());
  EXPECT_EQ(ReadFile(S("flat\\two.txt")), "2");
  EXPECT_EQ(ReadFile(S("flat\\one.txt")), "<missing>");
  EXPECT_EQ(b->rows()[0].icon, kIconUnread);
  EXPECT_EQ(b->rows()[1].icon, kIconExtracted);

  b->settings().flatten = false;
  b->settings().output_folder = S("deep");
  EXPECT_TRUE(b->GetAll());
  EXPECT_EQ(ReadFile(S("deep\\src\\one.txt")), "1");
}

TEST_F(BrowserTest, IconsFollowStatusesAndReadOnlyRefusalsAreCounted) {
  std::string path =
      MakeArchive("icons.exe", {{"x\\a.txt", "new a"}, {"x\\b.txt", "new b"}, {"x\\c.txt", "c"}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  b->settings().to_locations = false;
  b->settings().output_folder = S("out");
  b->settings().replace_mode = kReplaceAlways;
  ASSERT_TRUE(p().files.CreateFolder(S("out")));
  ASSERT_TRUE(p().files.CreateFolder(S("out\\x")));
  WriteFile(S("out\\x\\a.txt"), "old a");
  WriteFile(S("out\\x\\b.txt"), "old b");
  ASSERT_TRUE(p().files.SetAttributes(S("out\\x\\a.txt"), kAttrReadOnly));
  ASSERT_TRUE(p().files.SetAttributes(S("out\\x\\b.txt"), kAttrReadOnly));
  EXPECT_TRUE(b->GetAll());
  EXPECT_EQ(b->rows()[0].icon, kIconSkipped);
  EXPECT_EQ(b->rows()[1].icon, kIconSkipped);
  EXPECT_EQ(b->rows()[2].icon, kIconExtracted);
  EXPECT_EQ(b->read_only_refusals(), 2);
  ASSERT_EQ(ui_.texts.size(), 1u);
  EXPECT_EQ(ui_.texts[0],
            "INFORMATION...\n\n2 files were not extracxted because ReadOnly versions\nalreasdy "
            "existed on the disk. To replace ReadOnly files,  \ncheck the 'Overwrite ReadOnly "
            "Files' box on the dialog");
  EXPECT_EQ(ReadFile(S("out\\x\\a.txt")), "old a");

  ui_.texts.clear();
  b->settings().overwrite_read_only = true;
  b->ClearSelection();
  b->Select(0, true);
  ASSERT_TRUE(p().files.SetAttributes(S("out\\x\\b.txt"), kAttrNormal));
  EXPECT_TRUE(b->GetSelected());
  EXPECT_EQ(b->rows()[0].icon, kIconExtracted);
  EXPECT_EQ(b->rows()[1].icon, kIconSkipped) << "rows not extracted keep their icon";
  EXPECT_TRUE(ui_.texts.empty());
  EXPECT_EQ(ReadFile(S("out\\x\\a.txt")), "new a");

  // "never": an existing file is refused by the policy, not as read-only.
  b->settings().replace_mode = kReplaceNever;
  b->settings().overwrite_read_only = false;
  ASSERT_TRUE(p().files.SetAttributes(S("out\\x\\a.txt"), kAttrReadOnly));
  EXPECT_TRUE(b->GetAll());
  EXPECT_EQ(b->rows()[2].icon, kIconSkipped);
  EXPECT_TRUE(ui_.texts.empty());
  p().files.SetAttributes(S("out\\x\\a.txt"), kAttrNormal);
}

TEST_F(BrowserTest, ContextMenuFollowsTheRegisteredOpenVerb) {
  std::string path = MakeArchive(
      "menu.exe", {{"notes.crxbta", "n"}, {"letter.crxbtb", "l"}, {"plain.crxbtc", "p"}});
  class_keys_ = {".crxbta", ".crxbtb", ".crxbtc", "crxbt.text", "crxbt.doc", "crxbt.long"};
  SetClassDefault(".crxbta", "crxbt.text");
  SetClassDefault("crxbt.text\\shell\\open\\command", "c:\\windows\\notepad.exe %1");
  SetClassDefault(".crxbtb", "crxbt.doc");
  SetClassDefault("crxbt.doc\\shell\\print\\command", "print.exe %1");
  SetClassDefault("crxbt.doc\\shell\\Open\\command", "C:\\app\\writer.exe \"%1\"");
  SetClassDefault("crxbt.doc\\shell\\Open\\ddeexec", "[open(\"%1\")]");
  SetClassDefault("crxbt.doc\\shell\\Open\\ddeexec\\service", "WRITER");
  SetClassDefault("crxbt.doc\\shell\\Open\\ddeexec\\topic", "System");
  SetClassDefault(".crxbtc", "crxbt.long");
  SetClassDefault("crxbt.long\\shell\\OpenLarge\\command", "big.exe");

  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  EXPECT_TRUE(b->ContextMenu().empty()) << "no row selected";

  auto texts = [](const std::vector<BrowserMenuItem>& menu) {
    std::vector<std::string> out;
    for (const BrowserMenuItem& i : menu) out.push_back(i.command == 0 ? "-" : i.text);
    return out;
  };
  b->SelectOnly(0);
  EXPECT_EQ(texts(b->ContextMenu()),
            (std::vector<std::string>{"Extract", "View In Notepad", "-", "Find (F3)..."}));

  b->SelectOnly(1);
  std::vector<BrowserMenuItem> menu = b->ContextMenu();
  EXPECT_EQ(texts(menu), (std::vector<std::string>{"Extract", "-",
                                                   "Open With Associated Application",
                                                   "View In Notepad", "-", "Find (F3)..."}));
  OpenVerb verb;
  ASSERT_TRUE(b->LookUpOpenVerb("dir\\letter.crxbtb", &verb));
  EXPECT_EQ(verb.verb, "Open");
  EXPECT_EQ(verb.command, "C:\\app\\writer.exe \"%1\"");
  EXPECT_EQ(verb.dde_command, "[open(\"%1\")]");
  EXPECT_EQ(verb.dde_application, "WRITER") << "service stands in for a missing application";
  EXPECT_EQ(verb.dde_topic, "System");

  b->SelectOnly(2);
  EXPECT_EQ(texts(b->ContextMenu())[2], "OpenLarge");

  // Two rows: both view items are disabled, Extract is not.
  b->Select(0, true);
  for (const BrowserMenuItem& item : b->ContextMenu()) {
    bool view = item.command == kCommandViewNotepad || item.command == kCommandOpenAssociated;
    if (item.command != 0) {
      EXPECT_EQ(item.enabled, !view) << item.text;
    }
  }

  options_.list_only = true;
  auto listed = Browser(path);
  ASSERT_TRUE(listed->Open());
  listed->SelectOnly(0);
  EXPECT_TRUE(listed->ContextMenu().empty());
}

TEST_F(BrowserTest, ViewingExtractsATemporaryCopyAndBuildsTheCommand) {
  EXPECT_EQ(ViewCommand("NOTEPAD %1", "C:\\T\\a.txt"), "NOTEPAD C:\\T\\a.txt");
  EXPECT_EQ(ViewCommand("w.exe \"%1\" /x %1", "p"), "w.exe \"p\" /x %1");
  EXPECT_EQ(ViewCommand("viewer.exe", "C:\\T\\a.txt"), "viewer.exe C:\\T\\a.txt");

  std::string path = MakeArchive("view.exe", {{"d\\one.txt", "first"}, {"e\\two.txt", "second"}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  b->SelectOnly(1);
  std::string temp;
  ASSERT_TRUE(b->ExtractForViewing(&temp));
  EXPECT_EQ(temp, S("two.txt"));
  EXPECT_EQ(ReadFile(temp), "second");
  EXPECT_EQ(LastTempMember(), temp);
  EXPECT_EQ(b->rows()[1].icon, kIconUnread) << "viewing changes no icon";
  for (const MemberEntry& m : b->engine().members()) EXPECT_EQ(m.status, kMemberNotExtracted);

  // The next view replaces the copy; closing deletes it.
  b->SelectOnly(0);
  std::string first;
  ASSERT_TRUE(b->ExtractForViewing(&first));
  EXPECT_EQ(ReadFile(temp), "<missing>");
  EXPECT_EQ(ReadFile(first), "first");
  EXPECT_TRUE(b->PressClose());
  EXPECT_EQ(ReadFile(first), "<missing>");

  // A setup archive's list is rebuilt by the engine on every extraction;
  // the view request must still send the member to the temporary copy.
  std::string setup =
      MakeArchive("setup.exe", {{"s\\one.txt", "one"}, {"s\\two.txt", "two"}}, "", 0, true);
  auto s = Browser(setup);
  ASSERT_TRUE(s->Open());
  s->SelectOnly(1);
  ASSERT_TRUE(s->ExtractForViewing(&temp));
  EXPECT_EQ(temp, S("two.txt"));
  EXPECT_EQ(ReadFile(temp), "two");
  EXPECT_EQ(s->engine().members().size(), 2u);
  s->settings().to_locations = false;
  s->settings().output_folder = S("setup_out");
  EXPECT_TRUE(s->GetAll());
  EXPECT_EQ(s->rows()[0].icon, kIconExtracted);
  EXPECT_EQ(s->rows()[1].icon, kIconExtracted);
  EXPECT_EQ(s->engine().members().size(), 2u);

  // A command that cannot start is reported with its error code.
  SetClassDefault(".crxbtv", "crxbt.view");
  class_keys_ = {".crxbtv", "crxbt.view"};
  SetClassDefault("crxbt.view\\shell\\open\\command", "C:\\no\\such\\viewer.exe %1");
  std::string other = MakeArchive("view2.exe", {{"x.crxbtv", "x"}});
  auto v = Browser(other);
  ASSERT_TRUE(v->Open());
  v->SelectOnly(0);
  ASSERT_EQ(v->ContextMenu().size(), 6u);
  EXPECT_FALSE(v->RunCommand(kCommandOpenAssociated));
  ASSERT_EQ(ui_.texts.size(), 1u);
  EXPECT_EQ(ui_.texts[0].rfind("error creating process ", 0), 0u) << ui_.texts[0];
}

TEST_F(BrowserTest, FindWithAndWithoutMatchCaseAndStableSorting) {
  std::string path = MakeArchive("find.exe", {{"zeta.bin", std::string(30, 'z')},
                                              {"README.TXT", std::string(10, 'r')},
                                              {"alpha.bin", std::string(20, 'a')},
                                              {"readme2.doc", std::string(10, 'd')},
                                              {"beta.bin", std::string(20, 'b')}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  b->find_text = "read";
  EXPECT_EQ(b->FindNext(), 1);
  EXPECT_EQ(b->FirstSelected(), 1);
  b->find_from_current = true;
  EXPECT_EQ(b->FindNext(), 3);
  EXPECT_EQ(b->SelectedCount(), 1u) << "the previous hit is deselected";
  EXPECT_EQ(b->FindNext(), -1);
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Not found"});

  // Through the Find dialog, with match case.
  test::Ended ended;
  AnswersFrontEnd answers = test::Answers("Find OK Text=read FromCurrent=0 MatchCase=1\n", ended);
  options_.path = path;
  ArchiveBrowser c(p(), ui_, answers, options_);
  ASSERT_TRUE(c.Open());
  EXPECT_TRUE(c.FindWithDialog());
  EXPECT_EQ(c.FirstSelected(), 3);
  EXPECT_TRUE(c.find_match_case);
  EXPECT_EQ(ended.calls, 0);

  // Sorting by size keeps the archive order among equal sizes, every time.
  ASSERT_TRUE(b->SortBy(BrowserColumn::kSize));
  std::vector<std::string> once = Names(*b);
  EXPECT_EQ(once, (std::vector<std::string>{"README.TXT", "readme2.doc", "alpha.bin",
                                            "beta.bin", "zeta.bin"}));
  ASSERT_TRUE(b->SortBy(BrowserColumn::kSize));
  EXPECT_EQ(Names(*b), once);
  EXPECT_EQ(b->rows()[b->mark()].name, "readme2.doc") << "the mark follows its row";
  ASSERT_TRUE(b->SortBy(BrowserColumn::kName));
  EXPECT_EQ(Names(*b), (std::vector<std::string>{"README.TXT", "alpha.bin", "beta.bin",
                                                 "readme2.doc", "zeta.bin"}));
}

TEST_F(BrowserTest, BrowseDialogsDriveTheBrowserFromAnAnswersFile) {
  std::string path = MakeArchive("answers.exe", {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}});
  std::string out = S("answered");
  test::Ended ended;
  std::string text = "Browse GetSelected Selection=1,3 ToLocations=0 OutputFolder=\"" + out +
                     "\" Replace=always\n"
                     "Browse GetSelected Selection=9\n"
                     "Browse Close\n";
  AnswersFrontEnd answers = test::Answers(text.c_str(), ended);
  options_.path = path;
  EXPECT_EQ(ShowArchiveBrowser(p(), ui_, answers, options_), kBrowserClosed);
  EXPECT_EQ(ReadFile(out + "\\a.txt"), "A");
  EXPECT_EQ(ReadFile(out + "\\b.txt"), "<missing>");
  EXPECT_EQ(ReadFile(out + "\\c.txt"), "C");
  // A row number outside the list is refused with a clear message.
  EXPECT_EQ(ended.calls, 1);
  EXPECT_NE(ended.message.find("is not a list of row numbers from 1 to 3"), std::string::npos)
      << ended.message;

  // A close answer needs no fields; the fields start as the browser is.
  test::Ended ended2;
  AnswersFrontEnd closing = test::Answers("Browse Close\n", ended2);
  ArchiveBrowser c(p(), ui_, closing, options_);
  ASSERT_TRUE(c.Open());
  c.Select(1, true);
  c.settings().replace_mode = kReplaceIfNewer;
  EXPECT_EQ(RunBrowserDialogs(c), kBrowserClosed);
  EXPECT_EQ(ended2.calls, 0);
}

TEST_F(BrowserTest, MinimalFormNeedsASelection) {
  std::string path = MakeArchive("min.exe", {{"a.txt", "A"}});
  options_.minimal = true;
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  EXPECT_FALSE(b->GetSelected());
  EXPECT_EQ(ui_.texts, std::vector<std::string>{"Nothing Selected"});
  b->SelectOnly(0);
  EXPECT_TRUE(b->ContextMenu().empty());
  ui_.answers = {kIdNo};
  EXPECT_FALSE(b->ViewMinimal());
  EXPECT_EQ(ui_.texts.back(), "Do you want to view the selected file in NOTEPAD?");
  EXPECT_EQ(LastTempMember(), "");
}

TEST_F(BrowserTest, ChosenOutputFolderIsFoundOrCreated) {
  std::string path = MakeArchive("choose.exe", {{"a.txt", "A"}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  ASSERT_TRUE(p().files.CreateFolder(S("there")));
  std::string chosen;
  EXPECT_TRUE(b->AcceptChosenFolder("  " + S("there") + " ", "C:\\", "C:\\", &chosen));
  EXPECT_EQ(chosen, S("there"));
  EXPECT_TRUE(b->AcceptChosenFolder("there", tp_.Scratch(), "C:\\", &chosen));
  EXPECT_EQ(chosen, S("there"));
  ui_.answers = {kIdNo};
  EXPECT_FALSE(b->AcceptChosenFolder("new\\deep", tp_.Scratch(), "C:\\", &chosen));
  EXPECT_FALSE(p().files.Exists(S("new")));
  ui_.answers = {kIdYes};
  EXPECT_TRUE(b->AcceptChosenFolder("new\\deep", tp_.Scratch(), "C:\\", &chosen));
  EXPECT_EQ(chosen, S("new\\deep"));
  EXPECT_TRUE(p().files.IsFolder(S("new\\deep")));
  EXPECT_EQ(ui_.Count("The directory-path you have selected does not exist\nDo you wish to "
                      "create it?"),
            2);
}

TEST_F(BrowserTest, ConsoleBrowserTakesCommandsAndNeverWaitsWithoutATerminal) {
  std::string path = MakeArchive("console.exe", {{"docs\\read.me", "R"}, {"b.txt", "B"}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  terminal_.input = {"o " + S("cons"), "s 2,x", "s 2", "f READ", "sort size", "bogus", "q"};
  EXPECT_EQ(RunConsoleBrowser(*b), kBrowserClosed);
  EXPECT_TRUE(ui_.texts.empty()) << terminal_.output;
  EXPECT_EQ(ReadFile(S("cons\\b.txt")), "B");
  EXPECT_EQ(ReadFile(S("cons\\docs\\read.me")), "<missing>");
  EXPECT_NE(terminal_.output.find("   1   docs\\read.me\n"), std::string::npos)
      << terminal_.output;
  EXPECT_NE(terminal_.output.find("usage: s ROW"), std::string::npos);
  EXPECT_NE(terminal_.output.find("b.txt [extracted]"), std::string::npos);
  // Find starts at the first row and moves the selection there.
  EXPECT_NE(terminal_.output.find("   1 * "), std::string::npos);
  EXPECT_NE(terminal_.output.find("unknown command \"bogus\""), std::string::npos);
  EXPECT_TRUE(terminal_.input.empty());

#ifndef _WIN32
  // "v N" shows the temporary copy with $PAGER, run in the copy's folder;
  // this pager copies what it is given.
  std::string saved_pager;
  bool had_pager = env().Get("PAGER", &saved_pager);
  env().Set("PAGER", "sh -c 'cp \"$0\" viewed.copy'");
  terminal_.input = {"v 2", "v 7", "q"};
  auto v = Browser(path);
  ASSERT_TRUE(v->Open());
  EXPECT_EQ(RunConsoleBrowser(*v), kBrowserClosed);
  EXPECT_EQ(ReadFile(S("viewed.copy")), "B");
  EXPECT_EQ(ReadFile(S("b.txt")), "<missing>") << "closing deletes the temporary copy";
  EXPECT_NE(terminal_.output.find("usage: v ROW"), std::string::npos);
  if (had_pager) {
    env().Set("PAGER", saved_pager);
  } else {
    env().Unset("PAGER");
  }
#endif

  terminal_.interactive = false;
  terminal_.output.clear();
  terminal_.reads = 0;
  auto c = Browser(path);
  ASSERT_TRUE(c->Open());
  EXPECT_EQ(RunConsoleBrowser(*c), kBrowserClosed);
  EXPECT_EQ(terminal_.reads, 0);
  EXPECT_NE(terminal_.errors.find("no answer can be had; taking \"Close\""), std::string::npos);
}

// Output folders the user names are the folders a program run from an
// archive may write below on the emulated machine; the stored locations are
// not named by anyone, so they open nothing.
TEST_F(BrowserTest, NamedOutputFoldersAreAllowedForWriting) {
  struct Recording : test::ForwardingFileSystem {
    using ForwardingFileSystem::ForwardingFileSystem;
    void AllowWritesBelow(const std::string& folder) override { allowed.push_back(folder); }
    std::vector<std::string> allowed;
  } files(tp_.Get().files);
  Platform& real = tp_.Get();
  Platform platform{files, real.registry, real.processes, real.environment,
                    real.clock, terminal_, real.shell};
  std::string path = MakeArchive("allow.exe", {{"C:\\src\\one.txt", "1"}});
  options_.path = path;
  ArchiveBrowser b(platform, ui_, front_end_, options_);
  ASSERT_TRUE(b.Open());
  b.settings().to_locations = false;
  b.settings().output_folder = S("named");
  EXPECT_TRUE(b.GetAll());
  EXPECT_EQ(ReadFile(S("named\\src\\one.txt")), "1");
  EXPECT_EQ(files.allowed, std::vector<std::string>{S("named")});

  // A folder the chooser creates is allowed before it is created.
  files.allowed.clear();
  ui_.answers = {kIdYes};
  std::string chosen;
  EXPECT_TRUE(b.AcceptChosenFolder("made\\here", tp_.Scratch(), "C:\\", &chosen));
  EXPECT_EQ(files.allowed, std::vector<std::string>{S("made\\here")});

  // A refused setting and the stored locations allow nothing.
  files.allowed.clear();
  b.settings().output_folder.clear();
  EXPECT_FALSE(b.GetAll());
  b.settings().to_locations = true;
  b.settings().output_folder = S("ignored");
  b.settings().replace_mode = kReplaceNever;
  b.GetAll();
  EXPECT_TRUE(files.allowed.empty());
}

// Member names are the archive writer's choice: on the terminal their
// control characters are shown escaped, never sent raw.
TEST_F(BrowserTest, ConsoleBrowserEscapesControlCharactersInNames) {
  std::string path = MakeArchive(
      "hostile.exe", {{"evil\x1b]0;title\x07.txt", "E"}, {"over\rwrite.txt", "C"},
                      {"del\x7f\x1b[2J.txt", "D"}, {"caf\xe9.txt", "K"}});
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  ASSERT_EQ(b->rows().size(), 4u);
  terminal_.input = {"l", "f over", "o " + S("out\x1b[1m"), "q"};
  EXPECT_EQ(RunConsoleBrowser(*b), kBrowserClosed);
  const std::string& out = terminal_.output;
  for (char c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    EXPECT_TRUE((u >= 0x20 && u != 0x7f) || u == '\n') << "raw byte " << int(u) << " in " << out;
  }
  EXPECT_NE(out.find("  evil\\x1b]0;title\\a.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("   2   over\\rwrite.txt\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  del\\x7f\\x1b[2J.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("  caf\xe9.txt"), std::string::npos) << "code-page characters are kept";
  EXPECT_NE(out.find("out\\x1b[1m\""), std::string::npos) << out;
}

// The minimal stub's terminal browser offers what its list box offers: the
// names only, one selection, no sorting, and viewing after the NOTEPAD
// question.
TEST_F(BrowserTest, MinimalConsoleBrowserOffersOnlyTheListBoxForm) {
  std::string path = MakeArchive("minimal.exe", {{"docs\\a.txt", "A"}, {"b.txt", "B"}});
  options_.minimal = true;
  auto b = Browser(path);
  ASSERT_TRUE(b->Open());
  const std::string time_text = b->rows()[0].time_text;
  terminal_.input = {"h", "sort name", "s 1,2", "o " + S("min"), "s 2", "v 1", "q"};
  ui_.answers = {kIdNo};  // the NOTEPAD question
  EXPECT_EQ(RunConsoleBrowser(*b), kBrowserClosed);
  const std::string& out = terminal_.output;
  EXPECT_NE(out.find("   1   docs\\a.txt\n   2   b.txt\n"), std::string::npos) << out;
  EXPECT_EQ(out.find(time_text), std::string::npos) << "no columns: " << out;
  EXPECT_EQ(out.find("sort name|"), std::string::npos) << "no sorting offered: " << out;
  EXPECT_NE(out.find("  s N "), std::string::npos) << out;
  EXPECT_NE(out.find("unknown command \"sort\""), std::string::npos);
  EXPECT_NE(out.find("usage: s ROW (one row"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(S("min\\b.txt")), "B");
  EXPECT_EQ(ReadFile(S("min\\docs\\a.txt")), "<missing>");
  EXPECT_EQ(ui_.Count("Do you want to view the selected file in NOTEPAD?"), 1);
  EXPECT_EQ(LastTempMember(), "") << "No leaves nothing to view";
  EXPECT_EQ(out.find("[extracted]"), std::string::npos) << "no icons: " << out;

#ifndef _WIN32
  // Yes extracts the copy and shows it with the pager.
  std::string saved_pager;
  bool had_pager = env().Get("PAGER", &saved_pager);
  env().Set("PAGER", "sh -c 'cp \"$0\" viewed.copy'");
  terminal_.input = {"v 2", "q"};
  ui_.answers = {kIdYes};
  auto v = Browser(path);
  ASSERT_TRUE(v->Open());
  EXPECT_EQ(RunConsoleBrowser(*v), kBrowserClosed);
  EXPECT_EQ(ReadFile(S("viewed.copy")), "B");
  EXPECT_EQ(ui_.Count("Do you want to view the selected file in NOTEPAD?"), 2);
  if (had_pager) {
    env().Set("PAGER", saved_pager);
  } else {
    env().Unset("PAGER");
  }
#endif
}

}  // namespace
}  // namespace crx::ui
