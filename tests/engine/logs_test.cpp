// Logs and temporary member paths, on the test's real platform with a fixed
// UTC clock. The process-wide log state is reset around every test.
#include <gtest/gtest.h>

#include <vector>

#include "common/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/test_platform.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/host_paths.h"
#endif

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class FixedClock : public Clock {
 public:
  SystemTime now;
  SystemTime UtcNow() override { return now; }
  SystemTime LocalNow() override { return now; }
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}
};

class FakeUi : public UserInterface {
 public:
  struct Call {
    std::string text, caption;
    uint32_t flags;
  };
  std::vector<Call> calls;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    calls.push_back({text, caption, flags});
    return kIdOk;
  }
};

SystemTime Time(int year, int month, int day, int hour, int minute, int second, int ms) {
  SystemTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  t.milliseconds = static_cast<uint16_t>(ms);
  return t;
}

class LogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    Platform& real = tp_.Get();
    platform_ = std::make_unique<Platform>(Platform{real.files, real.registry, real.processes,
                                                    real.environment, clock_, real.terminal,
                                                    real.shell});
    had_temp_ = env().Get("TEMP", &saved_temp_);
    had_tmp_ = env().Get("TMP", &saved_tmp_);
    ScopedRegKey key(real.registry);
    had_settings_key_ =
        real.registry.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead, key.Out()) ==
        kErrorSuccess;
    // The logs of this test go to its scratch folder.
    env().Set("TEMP", tp_.Scratch());
    env().Unset("TMP");
    clock_.now = Time(2026, 12, 6, 14, 5, 33, 789);
    ResetLogState();
  }
  void TearDown() override {
    ResetLogState();
    if (!tp_.ok()) return;
    if (had_temp_) env().Set("TEMP", saved_temp_); else env().Unset("TEMP");
    if (had_tmp_) env().Set("TMP", saved_tmp_); else env().Unset("TMP");
    if (!had_settings_key_) {
      tp_.Get().registry.DeleteTree(kHKeyCurrentUser, "SOFTWARE\\Velmora");
    }
  }

  Environment& env() { return tp_.Get().environment; }
  FileSystem& files() { return tp_.Get().files; }
  Platform& platform() { return *platform_; }

  std::string Read(const std::string& path) {
    std::string text;
    auto f = files().Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
    if (!f) return "<missing>";
    char buffer[4096];
    size_t got = 0;
    while (f->Read(buffer, sizeof buffer, &got) && got > 0) text.append(buffer, got);
    return text;
  }
  void Write(const std::string& path, const std::string& text) {
    auto f = files().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f) << path;
    ASSERT_TRUE(f->Write(text.data(), text.size()));
  }
  // Creates a folder the test needs and removes it afterwards; false when
  // it already exists (on a real Windows system: leave it alone).
  bool CreateOwnFolder(const std::string& path) {
    if (files().Exists(path)) return false;
    if (!files().CreateFolder(path)) return false;
    created_.push_back(path);
    return true;
  }
  void RemoveOwnFolders() {
    for (const std::string& path : created_) {
      std::vector<FolderEntry> entries;
      if (files().ListFolder(path + "\\*", &entries)) {
        for (const FolderEntry& e : entries) files().DeleteFile(path + "\\" + e.name);
      }
      files().RemoveFolder(path);
    }
    created_.clear();
  }

  test::TestPlatform tp_;
  FixedClock clock_;
  FakeUi ui_;
  std::unique_ptr<Platform> platform_;
  bool had_temp_ = false, had_tmp_ = false, had_settings_key_ = false;
  std::string saved_temp_, saved_tmp_;
  std::vector<std::string> created_;
};

TEST_F(LogsTest, TempMemberPathFallbacksAndDelete) {
  EXPECT_EQ(TempMemberPath(platform(), "readme.txt"), tp_.Scratch() + "\\readme.txt");
  EXPECT_EQ(LastTempMember(), tp_.Scratch() + "\\readme.txt");

  // TEMP naming a missing folder: a relative name in the current folder.
  env().Set("TEMP", tp_.Scratch() + "\\gone");
  EXPECT_EQ(TempMemberPath(platform(), "a b.doc"), "_CRXtmp_a b.doc");
  env().Unset("TEMP");
  env().Set("TMP", tp_.Scratch());
  EXPECT_EQ(TempMemberPath(platform(), "x.txt"), tp_.Scratch() + "\\x.txt");
  env().Unset("TMP");

  // Neither set: C:\TEMP when it exists. (D:\TEMP and \TEMP on another
  // drive need a second drive the test machine does not have.)
  if (CreateOwnFolder("C:\\TEMP")) {
    EXPECT_EQ(TempMemberPath(platform(), "x.txt"), "C:\\TEMP\\x.txt");
    RemoveOwnFolders();
    if (!files().Exists("D:\\TEMP") && !files().Exists("\\TEMP")) {
      EXPECT_EQ(TempMemberPath(platform(), "x.txt"), "_CRXtmp_x.txt")
          << "C:\\TEMP, D:\\TEMP and \\TEMP are all missing";
    }
  }

  // DeleteTempMember deletes the last member only, once.
  env().Set("TEMP", tp_.Scratch());
  std::string first = TempMemberPath(platform(), "one.txt");
  Write(first, "1");
  std::string second = TempMemberPath(platform(), "two.txt");
  Write(second, "2");
  DeleteTempMember(platform());
  EXPECT_TRUE(files().Exists(first)) << "an earlier member is replaced, not deleted";
  EXPECT_FALSE(files().Exists(second));
  EXPECT_EQ(LastTempMember(), "");
  DeleteTempMember(platform());  // nothing left: no effect
  EXPECT_TRUE(files().Exists(first));
  TempMemberPath(platform(), "never-written.txt");
  DeleteTempMember(platform());  // a failed delete is ignored
  EXPECT_EQ(LastTempMember(), "");
}

TEST_F(LogsTest, LoggingSettingIsReadOnceFromTheRegistry) {
  if (had_settings_key_) GTEST_SKIP() << "this system has its own Cratex settings";
  Registry& reg = tp_.Get().registry;

  // No key: 0, and the key is not created.
  EXPECT_EQ(LoggingSetting(), -1);
  EngineLog first(platform(), ui_);
  EXPECT_EQ(LoggingSetting(), 0);
  ScopedRegKey key(reg);
  EXPECT_EQ(reg.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead, key.Out()),
            static_cast<long>(kErrorFileNotFound));

  // Key without the value: "1" is written back and logging is on.
  ASSERT_EQ(reg.CreateKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kAll, key.Out(), nullptr),
            kErrorSuccess);
  EngineLog reuses(platform(), ui_);
  EXPECT_EQ(LoggingSetting(), 0) << "later engine objects reuse the value";
  ResetLogState();
  EngineLog second(platform(), ui_);
  EXPECT_EQ(LoggingSetting(), 1);
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(reg.QueryValue(key.Get(), "Logging", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, std::string("1", 2));

  struct Row {
    const char* value;
    int setting;
  };
  const Row rows[] = {{"0", 0}, {"2", 2}, {"1", 1}, {"yes", 0}, {"01", 1}, {"-1", -1}};
  for (const Row& r : rows) {
    reg.SetString(key.Get(), "Logging", r.value);
    ResetLogState();
    EXPECT_EQ(LoadLoggingSetting(reg), r.setting) << r.value;
    EngineLog log(platform(), ui_);
    EXPECT_EQ(log.OpenActivityLog(ActivityKind::kExtract, "C:\\a.exe"), r.setting == 1)
        << r.value;
    log.CloseActivityLog(ActivityEnd::kCloseExtracting);
  }
  // A stored -1 reads as -1, which is "not yet read": it is read again.
  ResetLogState();
  SetLoggingSetting(3);
  EXPECT_EQ(LoadLoggingSetting(reg), 3) << "an override is not replaced";
}

TEST_F(LogsTest, SilentErrorsGoToTheDailyLogByteForByte) {
  SetLoggingSetting(0);  // the error log does not depend on logging
  std::string path = tp_.Scratch() + "/Cratex_06122026.err";
  {
    EngineLog log(platform(), ui_);
    log.set_silent(true);
    EXPECT_TRUE(log.silent());
    log.ReportError("first");
    clock_.now = Time(2026, 12, 6, 9, 59, 1, 7);
    log.ReportError("two\nlines");
  }
  const std::string day1 =
      "\nCratex ERROR LOG 0214:02789 6/12/2026 \n\n"
      "[14:789 6/12/2026] first\n"
      "[9:7 6/12/2026] two\nlines\n";
  EXPECT_EQ(Read(path), day1);

  // A second engine object the same day appends a second header.
  {
    EngineLog log(platform(), ui_);
    log.set_silent(true);
    log.ReportError("again");
  }
  EXPECT_EQ(Read(path), day1 + "\nCratex ERROR LOG 029:027 6/12/2026 \n\n[9:7 6/12/2026] again\n");

  // Another day starts another file, day first in the name.
  clock_.now = Time(2027, 1, 2, 0, 0, 0, 0);
  EngineLog log(platform(), ui_);
  log.set_silent(true);
  log.ReportError("new year");
  EXPECT_EQ(Read(tp_.Scratch() + "/Cratex_02012027.err"),
            "\nCratex ERROR LOG 020:020 2/1/2027 \n\n[0:0 2/1/2027] new year\n");
  EXPECT_TRUE(ui_.calls.empty()) << "silent reports show nothing";
}

// The builder's command line echoes silent reports to the terminal. A
// report quoting an archive text (a member name) must not pass its escape
// sequences to the terminal; the message's own line feeds stay, and the
// error log keeps the text as it was.
TEST_F(LogsTest, EchoedSilentReportsEscapeControlCharacters) {
  class CapturingTerminal : public Terminal {
   public:
    std::string errors;
    bool IsInteractive() override { return false; }
    bool ReadLine(std::string*) override { return false; }
    void Write(const std::string&) override {}
    void WriteError(const std::string& text) override { errors += text; }
    int Width() override { return 80; }
  } terminal;
  Platform& real = tp_.Get();
  Platform echoing{real.files, real.registry, real.processes, real.environment, clock_, terminal,
                   real.shell};
  const std::string message = "ERROR\nbad name 'a\x1b]2;pwned\x07" "b\rc'\tend";
  {
    EngineLog log(echoing, ui_);
    log.set_silent(true);
    log.set_echo_silent_reports(true);
    log.ReportError(message);
  }
  EXPECT_EQ(terminal.errors, "Cratex: ERROR\nbad name 'a\\x1b]2;pwned\\ab\\rc'\tend\n");
  EXPECT_NE(Read(tp_.Scratch() + "/Cratex_06122026.err").find(message), std::string::npos);

  // Without the echo the terminal hears nothing.
  terminal.errors.clear();
  EngineLog quiet(echoing, ui_);
  quiet.set_silent(true);
  quiet.ReportError(message);
  EXPECT_EQ(terminal.errors, "");
}

TEST_F(LogsTest, InteractiveErrorsShowATopmostBoxAndLogNothing) {
  EngineLog log(platform(), ui_);
  EXPECT_FALSE(log.silent());
  log.ReportError("Can't open\n<C:\\a.exe>");
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0].text, "Can't open\n<C:\\a.exe>");
  EXPECT_EQ(ui_.calls[0].caption, "Cratex");
  EXPECT_EQ(ui_.calls[0].flags, kMbOk | kMbTopmost);
  EXPECT_EQ(ui_.calls[0].flags, 0x40000u);
  std::vector<FolderEntry> entries;
  EXPECT_FALSE(files().ListFolder(tp_.Scratch() + "\\*.err", &entries));

  // Silent mode belongs to each engine object: one may be made silent
  // alone.
  EngineLog other(platform(), ui_);
  EXPECT_FALSE(other.silent());
  other.set_silent(true);
  other.ReportError("quiet");
  EXPECT_EQ(ui_.calls.size(), 1u);
  EXPECT_NE(Read(tp_.Scratch() + "/Cratex_06122026.err").find("] quiet\n"), std::string::npos);
}

TEST_F(LogsTest, ErrorLogInAMissingFolderIsLostQuietly) {
  env().Set("TEMP", tp_.Scratch() + "\\missing");
  EngineLog log(platform(), ui_);
  log.set_silent(true);
  log.ReportError("lost");
  log.ReportError("lost again");
  EXPECT_FALSE(files().Exists(tp_.Scratch() + "\\missing"));
  EXPECT_TRUE(ui_.calls.empty());

  // TMP when TEMP is unset; neither: "C:/TEMP", used when it exists.
  env().Unset("TEMP");
  env().Set("TMP", "X:\\nowhere");
  EXPECT_EQ(LogFolder(env()), "X:\\nowhere");
  env().Unset("TMP");
  EXPECT_EQ(LogFolder(env()), "C:/TEMP");
  if (!files().Exists("C:\\TEMP")) {
    EngineLog none(platform(), ui_);
    none.set_silent(true);
    none.ReportError("nowhere");
    EXPECT_FALSE(files().Exists("C:\\TEMP"));
    ASSERT_TRUE(CreateOwnFolder("C:\\TEMP"));
    EngineLog there(platform(), ui_);
    there.set_silent(true);
    there.ReportError("in C:\\TEMP");
    EXPECT_EQ(Read("C:\\TEMP\\Cratex_06122026.err"),
              "\nCratex ERROR LOG 0214:02789 6/12/2026 \n\n[14:789 6/12/2026] in C:\\TEMP\n");
    RemoveOwnFolders();
  }
}

TEST_F(LogsTest, ActivityLogSectionsAcrossOperations) {
  SetLoggingSetting(1);
  std::string path = tp_.Scratch() + "/Cratex.log";
  Write(path, "old contents\n");
  EngineLog log(platform(), ui_);
  log.LogLine("skipped %d\n", 1);  // no operation runs: nothing written

  // Create, then verify: both sections stay.
  ASSERT_TRUE(log.OpenActivityLog(ActivityKind::kCreate, "C:\\out\\setup.exe"));
  EXPECT_TRUE(log.ActivityLogOpen());
  log.LogLine("added %s (%d bytes)", "a.txt", 12);  // an entry without a line feed
  log.LogLine(" ok\n");
  log.CloseActivityLog(ActivityEnd::kCloseCreated);
  EXPECT_FALSE(log.ActivityLogOpen());
  log.LogText("skipped\n");
  ASSERT_TRUE(log.OpenActivityLog(ActivityKind::kVerify, "C:\\out\\setup.exe"));
  log.LogLine("Read Archive File (%s)...\n", "C:\\out\\setup.exe");
  log.CloseActivityLog(ActivityEnd::kCloseExtracting);
  EXPECT_EQ(Read(path),
            "Create Archive <C:\\out\\setup.exe>...\n"
            "added a.txt (12 bytes) ok\n"
            "(close created archive)\n"
            "\nARCHIVE VERIFICATION\nExtractArchive...\n"
            "Read Archive File (C:\\out\\setup.exe)...\n"
            "(close extracting archive)\n");

  // List, then extract: only the extraction stays.
  ASSERT_TRUE(log.OpenActivityLog(ActivityKind::kList, "C:\\a.exe"));
  log.CloseActivityLog(ActivityEnd::kAbortExtracting);
  EXPECT_EQ(Read(path), "ARCHIVE LIST\nExtractArchive...\n(close/abort extracting archive)\n");
  ASSERT_TRUE(log.OpenActivityLog(ActivityKind::kExtract, "C:\\a.exe"));
  log.CloseActivityLog(ActivityEnd::kCannotOpenRead);
  EXPECT_EQ(Read(path), "ExtractArchive...\nExtractArchive... can't open for read\n");

  ASSERT_TRUE(log.OpenActivityLog(ActivityKind::kCreate, "C:\\b.exe"));
  log.CloseActivityLog(ActivityEnd::kAbortCreated);
  log.CloseActivityLog(ActivityEnd::kAbortCreated);  // already closed: nothing
  EXPECT_EQ(Read(path), "Create Archive <C:\\b.exe>...\n(abort created archive)\n");

  // Logging off: the log is neither opened nor touched.
  SetLoggingSetting(0);
  EXPECT_FALSE(log.OpenActivityLog(ActivityKind::kCreate, "C:\\c.exe"));
  log.LogLine("x\n");
  EXPECT_EQ(Read(path), "Create Archive <C:\\b.exe>...\n(abort created archive)\n");

  // A log folder that does not exist: no log, no message.
  SetLoggingSetting(1);
  env().Set("TEMP", tp_.Scratch() + "\\missing");
  EXPECT_FALSE(log.OpenActivityLog(ActivityKind::kExtract, "C:\\a.exe"));
  EXPECT_TRUE(ui_.calls.empty());
}

#ifndef _WIN32
// TEMP is shared: another user may plant links where the logs go, to make
// a program of this user write (or empty) a file of the attacker's choice.
TEST_F(LogsTest, LinksPlantedWhereTheLogsGoAreNeverFollowed) {
  SetLoggingSetting(1);
  const std::string victim = tp_.Scratch() + "\\victim.txt";
  Write(victim, "precious");
  const std::string host_victim = WindowsToHostPath(victim);
  const std::string activity = tp_.Scratch() + "\\Cratex.log";
  const std::string error_log = tp_.Scratch() + "\\Cratex_06122026.err";
  auto plant = [&](const std::string& path) {
    ::unlink(WindowsToHostPath(path).c_str());
    ASSERT_EQ(0, ::symlink(host_victim.c_str(), WindowsToHostPath(path).c_str())) << path;
  };

  // Started afresh: the link is removed, and a new file takes its place.
  plant(activity);
  EngineLog log(platform(), ui_);
  log.set_silent(true);
  ASSERT_TRUE(log.OpenActivityLog(ActivityKind::kExtract, "C:\\a.exe"));
  log.CloseActivityLog(ActivityEnd::kCloseExtracting);
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_EQ(Read(activity), "ExtractArchive...\n(close extracting archive)\n");

  // Appended to: the link is refused and the refusal goes to the error log.
  plant(activity);
  EXPECT_FALSE(log.OpenActivityLog(ActivityKind::kVerify, "C:\\a.exe"));
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_NE(Read(error_log).find("] log not written: '" + tp_.Scratch() +
                                 "/Cratex.log' is a link or cannot be replaced\n"),
            std::string::npos)
      << Read(error_log);

  // The daily error log itself: refused, the report is lost, nothing else
  // is touched.
  plant(error_log);
  EngineLog second(platform(), ui_);
  second.set_silent(true);
  second.ReportError("disk on fire");
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_TRUE(ui_.calls.empty());
}
#endif

}  // namespace
}  // namespace crx
