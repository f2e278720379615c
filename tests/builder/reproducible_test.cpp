// SOURCE_DATE_EPOCH: parsing, and archives that come out byte for byte the
// same when it fixes their creation time.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "builder/reproducible.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/test_platform.h"

namespace crx {
namespace {

class QuietUi : public UserInterface {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t) override { return kIdOk; }
};

// A clock that moves one second every time it is read.
class MovingClock : public Clock {
 public:
  explicit MovingClock(Clock& real) : now_(real.UtcNow()) {}
  SystemTime UtcNow() override {
    FileTime t = 0;
    SystemTimeToFileTime(now_, &t);
    FileTimeToSystemTime(t + 10000000ULL, &now_);
    return now_;
  }
  SystemTime LocalNow() override { return UtcNow(); }
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}

 private:
  SystemTime now_;
};

TEST(SourceDateEpochTest, ParsesSecondsAndRefusesAnythingElse) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Environment& env = tp.Get().environment;
  SystemTime t;
  std::string error;
  env.Unset("SOURCE_DATE_EPOCH");
  EXPECT_EQ(SourceDate::kUnset, SourceDateEpoch(env, &t, &error));
  env.Set("SOURCE_DATE_EPOCH", "1700000000");
  ASSERT_EQ(SourceDate::kSet, SourceDateEpoch(env, &t, &error));
  EXPECT_EQ(2023, t.year);
  EXPECT_EQ(11, t.month);
  EXPECT_EQ(14, t.day);
  EXPECT_EQ(22, t.hour);
  EXPECT_EQ(13, t.minute);
  EXPECT_EQ(20, t.second);
  EXPECT_EQ(0, t.milliseconds);
  env.Set("SOURCE_DATE_EPOCH", "0");
  ASSERT_EQ(SourceDate::kSet, SourceDateEpoch(env, &t, &error));
  EXPECT_EQ(1970, t.year);
  for (const char* bad : {"-5", "1.5", " 12", "12abc", "99999999999999999999"}) {
    env.Set("SOURCE_DATE_EPOCH", bad);
    error.clear();
    EXPECT_EQ(SourceDate::kInvalid, SourceDateEpoch(env, &t, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("SOURCE_DATE_EPOCH")) << bad;
  }
  env.Unset("SOURCE_DATE_EPOCH");
}

TEST(SourceDateEpochTest, FixedCreationTimeGivesIdenticalArchives) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  ResetLogState();
  Platform& real = tp.Get();
  MovingClock clock(real.clock);
  Platform p{real.files, real.registry, real.processes, real.environment, clock, real.terminal,
             real.shell};
  const std::string dir = tp.Scratch();
  auto write = [&](const std::string& path, const std::string& data) {
    std::unique_ptr<File> f = p.files.Open(path, kAccessWrite, kShareNone,
                                           Disposition::kCreateAlways);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->Write(data.data(), data.size()));
  };
  write(dir + "\\stub.dat", std::string(static_cast<size_t>(FULL_STUB_SIZE), 'S'));
  write(dir + "\\a.txt", "the same input every time");
  ScopedRegKey key(p.registry);
  ASSERT_EQ(kErrorSuccess, p.registry.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Velmora\\Cratex\\1.00",
                                                RegAccess::kAll, key.Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, p.registry.SetString(key.Get(), "datafile", dir + "\\stub.dat"));

  auto build = [&](const std::string& archive, bool fixed) {
    QuietUi ui;
    ArchiveEngine engine(p, ui);
    engine.SetOptions("+Z");
    SystemTime when;
    when.year = 2024;
    when.month = 2;
    when.day = 29;
    when.day_of_week = 4;
    if (fixed) engine.set_creation_time(when);
    EXPECT_TRUE(engine.CreateArchive(archive));
    EXPECT_TRUE(engine.AddFile(dir + "\\a.txt"));
    EXPECT_TRUE(engine.CloseArchive());
  };
  auto read = [&](const std::string& path) {
    std::unique_ptr<File> f = p.files.Open(path, kAccessRead, kShareRead,
                                           Disposition::kOpenExisting);
    std::string data;
    char buffer[65536];
    size_t got = 0;
    while (f && f->Read(buffer, sizeof buffer, &got) && got > 0) data.append(buffer, got);
    return data;
  };
  build(dir + "\\one.exe", true);
  build(dir + "\\two.exe", true);
  EXPECT_EQ(read(dir + "\\one.exe"), read(dir + "\\two.exe"));
  // Without it the clock's time goes into the archive.
  build(dir + "\\three.exe", false);
  build(dir + "\\four.exe", false);
  EXPECT_NE(read(dir + "\\three.exe"), read(dir + "\\four.exe"));
  p.registry.DeleteValue(key.Get(), "datafile");
}

}  // namespace
}  // namespace crx
