// Building over an existing archive with every file call of the build
// failing in turn (tests/support/fault_platform.h). Whatever call fails,
// the old archive keeps its bytes and no partial file is left beside it;
// a build that reports success made an archive that extracts intact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/fault_platform.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class QuietUi : public UserInterface {
 public:
  int messages = 0;
  int MessageBox(const std::string&, const std::string&, uint32_t) override {
    ++messages;
    return kIdOk;
  }
};

class ArchiveFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    Platform& p = tp_.Get();
    ResetLogState();
    SetLoggingSetting(0);
    had_temp_ = p.environment.Get("TEMP", &saved_temp_);
    ASSERT_TRUE(p.files.CreateFolder(At("temp")));
    p.environment.Set("TEMP", At("temp"));
    Write("stub.dat", std::string(static_cast<size_t>(FULL_STUB_SIZE), 'S'));
    ScopedRegKey key(p.registry);
    if (p.registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(),
                             nullptr) != kErrorSuccess) {
      GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be written here";
    }
    had_datafile_ = p.registry.GetString(key.Get(), "datafile", &saved_datafile_) == 0;
    ASSERT_EQ(p.registry.SetString(key.Get(), "datafile", At("stub.dat")), kErrorSuccess);
    Write("a.txt", std::string(5000, 'a') + "end of a");
    Write("b.txt", "the second member");
  }

  void TearDown() override {
    ResetLogState();
    if (!tp_.ok()) return;
    Platform& p = tp_.Get();
    if (had_temp_) {
      p.environment.Set("TEMP", saved_temp_);
    } else {
      p.environment.Unset("TEMP");
    }
    ScopedRegKey key(p.registry);
    if (p.registry.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out()) ==
        kErrorSuccess) {
      if (had_datafile_) {
        p.registry.SetString(key.Get(), "datafile", saved_datafile_);
      } else {
        p.registry.DeleteValue(key.Get(), "datafile");
      }
    }
  }

  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  void Write(const std::string& name, const std::string& data) {
    ASSERT_TRUE(test::WriteWholeFile(tp_.Get().files, At(name), data)) << name;
  }
  std::string Read(const std::string& path) {
    return test::ReadWholeFile(tp_.Get().files, path, "(missing)");
  }

  // The builder's road through the engine, silent: false at the first
  // step that fails, after aborting the archive as the builder does.
  bool Build(Platform& platform) {
    QuietUi ui;
    ArchiveEngine engine(platform, ui);
    engine.log().set_silent(true);
    engine.SetOptions("+Z");
    if (!engine.CreateArchive(At("out.exe"))) return false;
    if (!engine.AddFile(At("a.txt"), "a.txt") || !engine.AddFile(At("b.txt"), "b.txt") ||
        !engine.CloseArchive()) {
      engine.AbortArchive();
      return false;
    }
    return true;
  }

  // The names in the scratch folder that look like a build's temporary file.
  std::vector<std::string> Leftovers() {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (tp_.Get().files.ListFolder(At("*.tmp"), &entries)) {
      for (const FolderEntry& e : entries) names.push_back(e.name);
    }
    return names;
  }

  test::TestPlatform tp_;
  bool had_temp_ = false, had_datafile_ = false;
  std::string saved_temp_, saved_datafile_;
};

TEST_F(ArchiveFaultTest, AFailingFileCallNeverCostsTheOldArchive) {
  const std::string old = "an archive built earlier";
  test::FaultPlatform faults(tp_.Get());
  faults.files().Count();
  Write("out.exe", old);
  ASSERT_TRUE(Build(faults.Get()));
  const int calls = faults.files().calls();
  ASSERT_GT(calls, 5);

  int failed_builds = 0;
  for (int n = 1; n <= calls; ++n) {
    Write("out.exe", old);
    faults.files().Arm(n, kErrorDiskFull);
    const bool built = Build(faults.Get());
    const std::string call = faults.files().failed_call();
    ASSERT_TRUE(faults.files().fired()) << n;
    if (!built) {
      ++failed_builds;
      EXPECT_EQ(Read(At("out.exe")), old) << n << ": " << call;
      // Only a failed delete of the temporary file itself may leave it.
      if (call.rfind("DeleteFile ", 0) != 0) {
        EXPECT_TRUE(Leftovers().empty()) << n << ": " << call << " left " << Leftovers()[0];
      }
    } else {
      // A step that may fail without harm (a log): the archive is whole.
      QuietUi ui;
      ArchiveEngine reader(tp_.Get(), ui);
      reader.log().set_silent(true);
      tp_.Get().files.CreateFolder(At("x"));
      EXPECT_TRUE(reader.ExtractArchive(At("out.exe"), nullptr, At("x"))) << n << ": " << call;
      EXPECT_EQ(Read(At("x\\a.txt")), Read(At("a.txt"))) << n << ": " << call;
      EXPECT_EQ(Read(At("x\\b.txt")), "the second member") << n << ": " << call;
      tp_.Get().files.DeleteFile(At("x\\a.txt"));
      tp_.Get().files.DeleteFile(At("x\\b.txt"));
      tp_.Get().files.RemoveFolder(At("x"));
    }
    for (const std::string& name : Leftovers()) tp_.Get().files.DeleteFile(At(name));
  }
  // The calls that write the archive cannot fail without failing the build.
  EXPECT_GT(failed_builds, calls / 2);
}

}  // namespace
}  // namespace crx
