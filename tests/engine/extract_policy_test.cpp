// The extraction policy on the test's real platform (a fresh emulated
// machine on Linux, the real system under wine64), with a user interface
// that answers from a script, a clock that only records sleeps, and a file
// system wrapper that can report a chosen free space.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "common/format.h"
#include "engine/extract_policy.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"

namespace crx {
namespace {

// Forwards to the real file system; GetFreeSpace reports `space` (or fails
// with `fail_code`) when `fake` is set.
class SpaceFiles : public test::ForwardingFileSystem {
 public:
  explicit SpaceFiles(FileSystem& real) : ForwardingFileSystem(real) {}
  bool fake = false;
  FreeSpace space;
  uint32_t fail_code = 0;
  std::vector<std::string> roots;

  bool GetFreeSpace(const std::string& root, FreeSpace* out) override {
    roots.push_back(root);
    if (!fake) return real().GetFreeSpace(root, out);
    if (fail_code != 0) {
      SetLastError(fail_code);
      return false;
    }
    *out = space;
    return true;
  }
};

class SleepClock : public Clock {
 public:
  std::vector<uint32_t> sleeps;
  SystemTime UtcNow() override { return SystemTime(); }
  SystemTime LocalNow() override { return SystemTime(); }
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
};

// Records every question; answers from the scripts (an empty script is a
// question the test did not expect).
class ScriptedUi : public UserInterface {
 public:
  std::deque<int> replace_answers, box_answers;
  std::vector<std::string> questions;  // "replace:<path>" or "box:<flags>:<text>"
  int MessageBox(const std::string& text, const std::string&, uint32_t flags) override {
    questions.push_back(Format("box:%x:%s", flags, text.c_str()));
    if (flags == (kMbOk | kMbTopmost)) return kIdOk;  // an error report
    EXPECT_FALSE(box_answers.empty()) << "unexpected question " << text;
    if (box_answers.empty()) return kIdNo;
    int a = box_answers.front();
    box_answers.pop_front();
    return a;
  }
  int ReplaceExistingFile(const std::string& path) override {
    questions.push_back("replace:" + path);
    EXPECT_FALSE(replace_answers.empty()) << "unexpected replace dialog";
    if (replace_answers.empty()) return kIdReplaceNo;
    int a = replace_answers.front();
    replace_answers.pop_front();
    return a;
  }
};

class Hooks : public PolicyHooks {
 public:
  std::string events;
  bool quit = false;
  void ProcessMessages() override { events += "P"; }
  bool UserQuit() override { return quit; }
  void Animate(bool on) override { events += on ? "A1" : "A0"; }
};

class ExtractPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    Platform& real = tp_.Get();
    files_ = std::make_unique<SpaceFiles>(real.files);
    platform_ = std::make_unique<Platform>(Platform{*files_, real.registry, real.processes,
                                                    real.environment, clock_, real.terminal,
                                                    real.shell});
    had_temp_ = env().Get("TEMP", &saved_temp_);
    env().Set("TEMP", tp_.Scratch());
    ResetLogState();
    SetLoggingSetting(1);
    log_ = std::make_unique<EngineLog>(*platform_, ui_);
    ASSERT_TRUE(log_->OpenActivityLog(ActivityKind::kExtract, "C:\\a.exe"));
    policy_ = std::make_unique<ExtractPolicy>(*platform_, *log_, ui_);
    policy_->set_hooks(&hooks_);
    dir_ = tp_.Scratch();
  }
  void TearDown() override {
    policy_.reset();
    log_.reset();
    ResetLogState();
    if (!tp_.ok()) return;
    if (had_temp_) env().Set("TEMP", saved_temp_); else env().Unset("TEMP");
  }

  Environment& env() { return tp_.Get().environment; }
  FileSystem& fs() { return *files_; }
  // The activity log after its opening line.
  std::string Log() {
    std::string text;
    auto f = fs().Open(dir_ + "\\Cratex.log", kAccessRead, kShareRead | kShareWrite,
                       Disposition::kOpenExisting);
    char buffer[4096];
    size_t got = 0;
    while (f && f->Read(buffer, sizeof buffer, &got) && got > 0) text.append(buffer, got);
    return text.substr(std::string("ExtractArchive...\n").size());
  }
  bool LogHas(const std::string& line) { return Log().find(line) != std::string::npos; }
  std::string MakeFile(const std::string& name, FileTime time) {
    std::string path = dir_ + "\\" + name;
    auto f = fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    EXPECT_TRUE(f && f->Write("x", 1)) << path;
    f.reset();
    EXPECT_TRUE(fs().SetLastWriteTime(path, time));
    return path;
  }
  // A drive letter the system does not have.
  char MissingDrive() {
    for (char c = 'D'; c < 'Z'; ++c) {
      if (!fs().IsFolder(std::string(1, c) + ":\\")) return c;
    }
    return 0;
  }

  test::TestPlatform tp_;
  SleepClock clock_;
  ScriptedUi ui_;
  Hooks hooks_;
  std::unique_ptr<SpaceFiles> files_;
  std::unique_ptr<Platform> platform_;
  std::unique_ptr<EngineLog> log_;
  std::unique_ptr<ExtractPolicy> policy_;
  std::string dir_, saved_temp_;
  bool had_temp_ = false;
};

constexpr FileTime kTime = 133000000000000000ULL;

TEST_F(ExtractPolicyTest, OutputPathJoinsFlattensAndRemovesRoots) {
  struct Row {
    const char* folder;
    bool flatten;
    const char* name;
    const char* path;
  };
  const Row rows[] = {
      {"E:\\out", false, "C:\\src\\a.txt", "E:\\out\\src\\a.txt"},
      {"E:\\out", true, "C:\\src\\a.txt", "E:\\out\\a.txt"},
      {"E:\\", false, "C:\\src\\a.txt", "E:\\src\\a.txt"},
      {"E:\\out", false, "\\\\server\\share\\a.txt", "E:\\out\\server\\share\\a.txt"},
      {"E:\\out", false, "//server/a.txt", "E:\\out\\server/a.txt"},
      {"E:\\out", false, "c:rel\\a.txt", "E:\\out\\rel\\a.txt"},
      {"E:\\out", false, "/src/a.txt", "E:\\out\\src/a.txt"},
      {"E:\\out", false, "a..b.txt", "E:\\out\\a..b.txt"},
      {"E:\\out", false, "..a\\.\\b...c", "E:\\out\\..a\\.\\b...c"},
      {"", false, "D:\\data\\..\\f.txt", "D:\\data\\..\\f.txt"},  // stored locations
      {"", true, "rel\\f.txt", "rel\\f.txt"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    policy_->set_output_folder(r.folder);
    policy_->set_flatten(r.flatten);
    std::string path;
    EXPECT_TRUE(policy_->OutputPath(r.name, false, &path));
    EXPECT_EQ(path, r.path);
  }
  std::string path;
  EXPECT_TRUE(policy_->OutputPath("C:\\src\\view.txt", true, &path));
  EXPECT_EQ(path, dir_ + "\\view.txt") << "viewing: a temporary copy";
  EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(ExtractPolicyTest, OutputPathRefusesNamesThatLeaveTheOutputFolder) {
  struct Row {
    const char* folder;
    bool flatten;
    const char* name;
  };
  const Row rows[] = {
      {"E:\\out", false, "..\\x"},          {"E:\\out", false, "a\\..\\..\\x"},
      {"E:\\out", false, "C:\\..\\x"},      {"E:\\out", false, "\\\\server\\..\\..\\x"},
      {"E:\\out", false, "a/../..\\x"},     {"E:\\out", false, "a\\... \\x"},
      {"E:\\", false, "C:..\\x"},           {"E:\\out\\", false, "a\\.."},
      {"e:\\OUT", false, "C:\\"},           {"E:\\out", true, "x\\.."},
      {"E:\\out", false, "a\\..\\b.txt"},  // back inside, still refused
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    policy_->set_output_folder(r.folder);
    policy_->set_flatten(r.flatten);
    std::string path = "unchanged";
    ui_.questions.clear();
    EXPECT_FALSE(policy_->OutputPath(r.name, false, &path));
    EXPECT_EQ(path, "unchanged");
    std::string message = Format(
        "ERROR\nFile name on archive points outside the output folder...\n'%s'\n"
        "This file cannot be extracted",
        r.name);
    ASSERT_EQ(ui_.questions.size(), 1u);
    EXPECT_EQ(ui_.questions[0], Format("box:%x:%s", kMbOk | kMbTopmost, message.c_str()));
    EXPECT_TRUE(LogHas(message + "\n"));
  }
  std::string path;
  EXPECT_FALSE(policy_->OutputPath("a\\..", true, &path)) << "viewing a '..' name";
}

TEST_F(ExtractPolicyTest, ContainedNamesLandInsideTheOutputFolder) {
  struct Row {
    const char* folder;
    bool flatten;
    const char* name;
    const char* path;  // nullptr: refused, nothing is left of the name
  };
  const Row rows[] = {
      {"E:\\out", false, "C:\\src\\a.txt", "E:\\out\\src\\a.txt"},
      {"E:\\out", false, "c:rel\\a.txt", "E:\\out\\rel\\a.txt"},
      {"E:\\out", false, "\\\\server\\share\\a.txt", "E:\\out\\a.txt"},
      {"E:\\out", false, "//server/share/d/a.txt", "E:\\out\\d\\a.txt"},
      {"E:\\out", false, "\\\\?\\C:\\w.txt", "E:\\out\\w.txt"},
      {"E:\\out", false, "..\\..\\a.txt", "E:\\out\\a.txt"},
      {"E:\\out", false, "a\\..\\..\\b", "E:\\out\\a\\b"},
      {"E:\\out", false, "/etc/x", "E:\\out\\etc\\x"},
      {"E:\\out", false, "a\\. \\b\\...\\.. \\c", "E:\\out\\a\\b\\c"},
      {"E:\\out", false, "x\\\\y/./z", "E:\\out\\x\\y\\z"},
      {"E:\\out", false, "a..b\\..c\\d.", "E:\\out\\a..b\\..c\\d."},  // ordinary names
      {"E:\\", false, "..\\a", "E:\\a"},
      {"E:\\out", true, "C:\\src\\..\\a.txt", "E:\\out\\a.txt"},
      {"", false, "..\\x", "..\\x"},  // stored locations: not affected
      {"E:\\out", false, "..", nullptr},
      {"E:\\out", false, "C:\\", nullptr},
      {"E:\\out", false, "C:", nullptr},
      {"E:\\out", false, "\\\\server\\share\\", nullptr},
      {"E:\\out", false, ".\\..\\. /... ", nullptr},
      {"E:\\out", true, "a\\..", nullptr},
  };
  policy_->set_contain_names(true);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    policy_->set_output_folder(r.folder);
    policy_->set_flatten(r.flatten);
    ui_.questions.clear();
    std::string path = "unchanged";
    EXPECT_EQ(policy_->OutputPath(r.name, false, &path), r.path != nullptr);
    if (r.path != nullptr) {
      EXPECT_EQ(path, r.path);
      EXPECT_TRUE(ui_.questions.empty());
      continue;
    }
    EXPECT_EQ(path, "unchanged");
    const std::string message = Format(
        "ERROR\nFile name on archive names no file inside the output folder...\n'%s'\n"
        "This file cannot be extracted",
        r.name);
    EXPECT_EQ(ui_.questions,
              std::vector<std::string>{Format("box:%x:%s", kMbOk | kMbTopmost, message.c_str())});
    EXPECT_TRUE(LogHas(message + "\n"));
  }
  // The names whose change crx announces: roots, drives and climbing only.
  for (const char* name : {"C:\\src\\a.txt", "c:rel", "\\a", "/etc/x", "..\\a", "a\\...\\b",
                           "a/.. "}) {
    EXPECT_TRUE(NameLeavesFolder(name)) << name;
  }
  for (const char* name : {"a\\b.txt", "a..b\\..c\\d.", "x\\.\\y", "..x", ""}) {
    EXPECT_FALSE(NameLeavesFolder(name)) << name;
  }
}

TEST_F(ExtractPolicyTest, FreeSpaceIsMeasuredOncePerDriveUntilItRunsShort) {
  files_->fake = true;
  files_->space.free_to_caller = 10000;
  files_->space.total = 1000000;
  policy_->BeginExtraction();
  // Three members of 1000 bytes: one measurement, then the estimate shrinks
  // by what each member needs.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(policy_->CheckSpaceFor("C:\\x\\f.txt", 1000), SpaceAnswer::kEnough);
  }
  EXPECT_EQ(files_->roots, std::vector<std::string>{"C:\\"});
  EXPECT_TRUE(LogHas("(disk space needed by file: 2024, available: 10000)\n"
                     "(disk space needed by file: 2024, available: 7976)\n"
                     "(disk space needed by file: 2024, available: 5952)\n"));
  // More than the estimate holds: measured again before any answer.
  EXPECT_EQ(policy_->CheckSpaceFor("c:/y/g.txt", 5000), SpaceAnswer::kEnough);
  EXPECT_EQ(files_->roots.size(), 2u);
  EXPECT_TRUE(LogHas("(disk space needed by file: 6024, available: 10000)\n"));

  // The drive filled up meanwhile: the warning rests on a new measurement,
  // and the next member measures again.
  files_->space.free_to_caller = 1500;
  ui_.box_answers = {kIdYes};
  EXPECT_EQ(policy_->CheckSpaceFor("C:\\x\\big.txt", 3000), SpaceAnswer::kSkip);
  EXPECT_EQ(files_->roots.size(), 3u);
  EXPECT_TRUE(LogHas("(Not Enough Space, got 1500[5dc,0] needed 4024)\n"));
  EXPECT_EQ(policy_->CheckSpaceFor("C:\\x\\small.txt", 100), SpaceAnswer::kEnough);
  EXPECT_EQ(files_->roots.size(), 3u) << "1124 bytes fit in the 1500 just measured";
  EXPECT_EQ(ui_.questions.size(), 1u);

  // A new extraction measures afresh.
  policy_->BeginExtraction();
  EXPECT_EQ(policy_->CheckSpaceFor("C:\\x\\f.txt", 1), SpaceAnswer::kEnough);
  EXPECT_EQ(files_->roots.size(), 4u);
}

TEST_F(ExtractPolicyTest, LookUpFindsWhatIsThereAndFoldersAreMadeOnlyWhenMissing) {
  const std::string file = MakeFile("f.txt", kTime);
  policy_->BeginExtraction();
  policy_->set_output_folder(dir_);
  OutputTarget target;
  ASSERT_TRUE(policy_->LookUpTarget("f.txt", file, &target));
  EXPECT_TRUE(target.Exists());
  EXPECT_FALSE(target.IsFolder());
  EXPECT_TRUE(target.folder_exists);
  // The time is read when a question needs it, and only once.
  policy_->set_replace_mode(kReplaceIfNewer);
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime, &target));
  EXPECT_TRUE(target.time_read);
  EXPECT_EQ(target.last_write, kTime);
  target.last_write = kTime + 10;  // what was read is what counts
  EXPECT_FALSE(policy_->OkToReplaceFile(file, kTime + 5, &target));

  // A missing folder three levels down: made by PrepareFolders, which
  // leaves a path whose folder exists alone.
  std::string deep = dir_ + "\\a/b\\c\\g.txt";
  ASSERT_TRUE(policy_->LookUpTarget("a/b/c/g.txt", deep, &target));
  EXPECT_FALSE(target.Exists());
  EXPECT_FALSE(target.folder_exists);
  ASSERT_TRUE(policy_->PrepareFolders(&deep, target));
  EXPECT_EQ(deep, dir_ + "\\a\\b\\c\\g.txt");
  EXPECT_TRUE(fs().IsFolder(dir_ + "\\a\\b\\c"));
  std::string other = dir_ + "\\a\\b\\c\\h.txt";
  ASSERT_TRUE(policy_->LookUpTarget("a\\b\\c\\h.txt", other, &target));
  EXPECT_TRUE(target.folder_exists);
  // A file where a folder should be: the folder creation reports it.
  MakeFile("plain", kTime);
  std::string blocked = dir_ + "\\plain\\sub\\f.txt";
  ASSERT_TRUE(policy_->LookUpTarget("plain\\sub\\f.txt", blocked, &target));
  EXPECT_FALSE(target.folder_exists);
  EXPECT_FALSE(policy_->PrepareFolders(&blocked, target));
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_NE(ui_.questions[0].find("Can't create directory...\n<" + dir_ + "\\plain>"),
            std::string::npos);
}

TEST_F(ExtractPolicyTest, FixedModesSetupArchivesAndFolderClashes) {
  std::string file = MakeFile("f.txt", kTime);
  std::string missing = dir_ + "\\missing.txt";
  policy_->set_replace_mode(kReplaceIfNewer);
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime)) << "equal times replace";
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime + 1));
  EXPECT_FALSE(policy_->OkToReplaceFile(file, kTime - 1));
  EXPECT_TRUE(LogHas("OkToReplaceFile MODE 3\n"));
  policy_->set_replace_mode(kReplaceNever);
  EXPECT_FALSE(policy_->OkToReplaceFile(file, kTime + 1));
  EXPECT_TRUE(policy_->OkToReplaceFile(missing, kTime)) << "nothing to replace";
  EXPECT_FALSE(policy_->OkToReplaceFile(dir_, kTime));
  EXPECT_TRUE(ui_.questions.empty()) << "mode 2 refuses a folder without a message";
  policy_->set_replace_mode(kReplaceAlways);
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime - 1));

  std::string clash = "box:40000:ERROR\nFilename on archive clashes with a Foldername on your "
                      "system...\n'" + dir_ + "'\nThis file cannot be extracted";
  for (int32_t mode : {kReplacePrompt, kReplaceIfNewer}) {
    SCOPED_TRACE(mode);
    ui_.questions.clear();
    policy_->set_replace_mode(mode);
    EXPECT_FALSE(policy_->OkToReplaceFile(dir_, kTime));
    EXPECT_EQ(ui_.questions, std::vector<std::string>{clash});
  }

  policy_->set_setup(true);
  ui_.questions.clear();
  for (int32_t mode : {kReplacePrompt, kReplaceNever, kReplaceIfNewer}) {
    policy_->set_replace_mode(mode);
    EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime - 1)) << mode;
  }
  EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(ExtractPolicyTest, PromptAnswersAndTheModesTheyLeave) {
  std::string file = MakeFile("f.txt", kTime);
  struct Row {
    int answer;
    FileTime member;
    bool replace;
    int32_t mode_after;
  };
  const Row rows[] = {
      {kIdReplaceYes, kTime - 1, true, kReplacePrompt},
      {kIdReplaceNo, kTime + 1, false, kReplacePrompt},
      {kIdReplaceIfNewer, kTime, true, kReplacePrompt},
      {kIdReplaceIfNewer, kTime - 1, false, kReplacePrompt},
      {kIdReplaceAllIfNewer, kTime - 1, false, kReplaceIfNewer},
      {kIdReplaceNoToAll, kTime + 1, false, kReplaceNever},
      {4711, kTime + 1, false, kReplacePrompt},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.answer);
    policy_->set_replace_mode(kReplacePrompt);
    ui_.questions.clear();
    clock_.sleeps.clear();
    hooks_.events.clear();
    ui_.replace_answers = {r.answer};
    EXPECT_EQ(policy_->OkToReplaceFile(file, r.member), r.replace);
    EXPECT_EQ(policy_->replace_mode(), r.mode_after);
    EXPECT_EQ(ui_.questions.at(0), "replace:" + file);
    EXPECT_EQ(clock_.sleeps, std::vector<uint32_t>{200});
    EXPECT_EQ(hooks_.events, "PA0A1");
    EXPECT_TRUE(LogHas(Format("result of file replace dlg = %d\n", r.answer)));
  }
  EXPECT_EQ(ui_.questions.at(1),
            "box:40000:ERROR\nunknown return from dialog\nwill not overwrite");

  // Yes To All at the first clash: later clashes are replaced unasked.
  policy_->set_replace_mode(kReplacePrompt);
  ui_.questions.clear();
  ui_.replace_answers = {kIdReplaceYesToAll};
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime - 1));
  EXPECT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(policy_->replace_mode(), kReplaceAlways);

  // No dialog available: the plain question, Yes and No as themselves.
  policy_->set_replace_mode(kReplacePrompt);
  ui_.questions.clear();
  ui_.replace_answers = {kDialogUnavailable, kDialogUnavailable};
  ui_.box_answers = {kIdYes, kIdNo};
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime - 1));
  EXPECT_FALSE(policy_->OkToReplaceFile(file, kTime + 1));
  std::string ask = "box:40004:DO YOU WANT TO EXTRAXCT THE FILE\n" + file + "?";
  EXPECT_EQ(ui_.questions,
            (std::vector<std::string>{"replace:" + file, ask, "replace:" + file, ask}));
  EXPECT_TRUE(LogHas("result of file replace dlg = 1021\nOkToReplaceFile MODE 0\n"
                     "result of file replace dlg = 1022\n"));
}

TEST_F(ExtractPolicyTest, SilentModeAndQuitNeverAsk) {
  std::string file = MakeFile("f.txt", kTime);
  log_->set_silent(true);
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime - 1));
  EXPECT_TRUE(policy_->OkToReplaceFile(file, kTime - 1));
  EXPECT_EQ(policy_->replace_mode(), kReplacePrompt);
  EXPECT_TRUE(clock_.sleeps.empty());
  EXPECT_EQ(hooks_.events, "PA0A1PA0A1");
  log_->set_silent(false);
  hooks_.events.clear();
  hooks_.quit = true;
  EXPECT_FALSE(policy_->OkToReplaceFile(file, kTime + 1));
  EXPECT_EQ(hooks_.events, "P");
  EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(ExtractPolicyTest, ReadOnlyFilesAreRefusedOrMadeWritable) {
  std::string file = MakeFile("ro.txt", kTime);
  EXPECT_TRUE(policy_->ReadOnlyAllows(dir_ + "\\missing.txt"));
  uint32_t plain = fs().GetAttributes(file);
  EXPECT_TRUE(policy_->ReadOnlyAllows(file));
  EXPECT_TRUE(LogHas(Format("file is writeable(%x) 0?...", plain)));
  ASSERT_TRUE(fs().SetAttributes(file, kAttrReadOnly | kAttrHidden));
  uint32_t locked = fs().GetAttributes(file);
  ASSERT_NE(locked & kAttrReadOnly, 0u);
  EXPECT_FALSE(policy_->ReadOnlyAllows(file));
  EXPECT_EQ(fs().GetAttributes(file), locked) << "refused: left as it was";
  policy_->set_overwrite_read_only(true);
  EXPECT_TRUE(policy_->ReadOnlyAllows(file));
  EXPECT_EQ(fs().GetAttributes(file), locked & ~kAttrReadOnly) << "other attributes kept";
  EXPECT_TRUE(LogHas(Format("file is writeable(%x) 1?...change RO mode of file <%s>\n", locked,
                            file.c_str())));
}

TEST_F(ExtractPolicyTest, FreeSpaceBoundaryAndAnswers) {
  files_->fake = true;
  files_->space.free_to_caller = 1524;
  files_->space.total = 1000000;
  EXPECT_EQ(policy_->CheckFreeSpace("C:\\", 500, "C:\\x\\f.txt"), SpaceAnswer::kEnough);
  EXPECT_EQ(policy_->media_size(), 1000000u);
  EXPECT_EQ(files_->roots, std::vector<std::string>{"C:\\"});
  EXPECT_TRUE(LogHas("(disk space needed by file: 1524, available: 1524)\n"));
  EXPECT_TRUE(ui_.questions.empty());

  files_->space.free_to_caller = 1523;
  ui_.box_answers = {kIdYes, kIdNo};
  EXPECT_EQ(policy_->CheckFreeSpace("C:\\", 500, "C:\\x\\f.txt"), SpaceAnswer::kSkip);
  EXPECT_EQ(policy_->CheckFreeSpace("C:\\", 500, "C:\\x\\f.txt"), SpaceAnswer::kAbort);
  const std::string warning =
      "box:40004:WARNING: You do not have enough free disk space to extract the current file."
      "\n\nC:\\x\\f.txt\n\nYou have 1523 bytes free on your system, but the space required is "
      "1524 bytes.\nYou may continue and try and extract subsequent files, or you can abort..."
      "\n\nDO YOU WANT TO CONTINUE?";
  EXPECT_EQ(ui_.questions, (std::vector<std::string>{warning, warning}));
  EXPECT_TRUE(LogHas("(disk space needed by file: 1524, available: 1523)\n"
                     "(Not Enough Space, got 1523[5f3,0] needed 1524)\n"
                     "(disk space needed by file: 1524, available: 1523)\n"
                     "(Not Enough Space, got 1523[5f3,0] needed 1524)\n(abort)\n"));

  // The system cannot tell: reported, and nothing is free.
  files_->fail_code = 21;
  ui_.questions.clear();
  EXPECT_FALSE(policy_->MeasureFreeSpace("C:\\x\\f.txt"));
  EXPECT_EQ(policy_->free_space(), 0u);
  EXPECT_EQ(ui_.questions, std::vector<std::string>{
                               "box:40000:ERROR: can't determin free disk space on your system "
                               "21[0x15]\ndir = <C:\\>\nroot = <C:\\x\\f.txt>"});
}

TEST_F(ExtractPolicyTest, RootsAndRealFreeSpace) {
  std::string current = fs().CurrentFolder();
  char missing = MissingDrive();
  ASSERT_NE(missing, 0);
  EXPECT_EQ(policy_->RootDirectoryFromPath(""), "");
  EXPECT_TRUE(LogHas("RootDirectoryFromPath - null pointer\n"));
  EXPECT_EQ(policy_->RootDirectoryFromPath("C:\\x\\y"), "C:\\");
  EXPECT_EQ(policy_->RootDirectoryFromPath("c:/x"), "c:/");
  EXPECT_EQ(policy_->RootDirectoryFromPath("\\x"), "\\");
  EXPECT_EQ(policy_->RootDirectoryFromPath("rel\\x"), current);
  EXPECT_EQ(policy_->RootDirectoryFromPath("C:rel"), current);
  EXPECT_EQ(policy_->RootDirectoryFromPath(std::string(1, missing) + ":\\x"), current);

  EXPECT_TRUE(policy_->MeasureFreeSpace(dir_ + "\\f.txt"));
  EXPECT_GT(policy_->free_space(), 0u);
  EXPECT_GE(policy_->media_size(), policy_->free_space());
}

TEST_F(ExtractPolicyTest, CreateFoldersMakesEveryMissingPrefix) {
  std::string path = dir_ + "\\a/b\\c\\f.txt";
  EXPECT_TRUE(policy_->CreateFolders(&path));
  EXPECT_EQ(path, dir_ + "\\a\\b\\c\\f.txt");
  EXPECT_TRUE(fs().IsFolder(dir_ + "\\a\\b\\c"));
  EXPECT_FALSE(fs().Exists(path));
  EXPECT_TRUE(policy_->CreateFolders(&path)) << "all there already";

  // A file where a folder should be.
  MakeFile("plain", kTime);
  path = dir_ + "\\plain\\sub\\f.txt";
  EXPECT_FALSE(policy_->CreateFolders(&path));
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0], "box:40000:Can't create directory...\n<" + dir_ +
                                  "\\plain>\nError: 0xb7[183]\n(trying to create path "
                                  "element <plain>)\n");

  // A stored drive the system lacks: the first existing drive from C: on.
  // (The scratch folder is on C: on the emulated machine and under wine.)
  char missing = MissingDrive();
  ASSERT_NE(missing, 0);
  if (dir_[0] != 'C' && dir_[0] != 'c') GTEST_SKIP() << "scratch folder not on C:";
  path = std::string(1, missing) + dir_.substr(1) + "\\data\\f.txt";
  EXPECT_TRUE(policy_->CreateFolders(&path));
  EXPECT_EQ(path, "C" + dir_.substr(1) + "\\data\\f.txt");
  EXPECT_TRUE(fs().IsFolder(dir_ + "\\data"));
  EXPECT_TRUE(LogHas("(substituting drive C for one on archive)\n"));
}

}  // namespace
}  // namespace crx
