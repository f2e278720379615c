// A small silent installation run again and again, with the Nth file call
// and then the Nth registry call of the run failing, for every N the run
// makes. Whatever fails, the run ends in one of two states: the whole
// product installed and exit status 0, or exit status 1 with the failure
// in the log and nothing left of what the run made.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/format.h"
#include "interpreter/script_interpreter.h"
#include "support/fault_platform.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"
#include "interpreter/interpreter_fixture.h"

namespace crx::test {
namespace {

const char kVendorKey[] = "SOFTWARE\\CratexSweep";
const char kVersionKey[] = "SOFTWARE\\CratexSweep\\Tool\\1.0";

class FaultSweepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform_.ok()) << platform_.Error();
    FileSystem& files = P().files;
    package_ = platform_.Scratch() + "\\pkg";
    home_ = platform_.Scratch() + "\\apps\\Tool";
    ASSERT_TRUE(files.CreateFolder(package_));
    small_ = "alpha\r\n";
    large_.assign(600 * 1024, 'b');  // several pieces of the copy
    for (size_t i = 0; i < large_.size(); i += 997) large_[i] = static_cast<char>('0' + i % 10);
    ASSERT_TRUE(WriteWholeFile(files, package_ + "\\a.txt", small_));
    ASSERT_TRUE(WriteWholeFile(files, package_ + "\\b.bin", large_));
    const std::string script =
        "set VENDOR CratexSweep\r\n"
        "set APP Tool\r\n"
        "set VER 1.0\r\n"
        "set HOME \"" + home_ + "\"\r\n"
        "set NO_UNINSTALL TRUE\r\n"
        "setreg -lm \"SOFTWARE\\CratexSweep\\Tool\\1.0\" Path \"$HOME\"\r\n"
        "copy a.txt \"$HOME\\a.txt\"\r\n"
        "copy b.bin \"$HOME\\lib\\b.bin\"\r\n"
        "setreg -lmi \"SOFTWARE\\CratexSweep\\Tool\\1.0\" Files 2\r\n";
    ASSERT_TRUE(WriteWholeFile(files, package_ + "\\install.txt", script));
    saved_folder_ = files.CurrentFolder();
    ASSERT_TRUE(files.SetCurrentFolder(package_));
  }

  void TearDown() override {
    P().files.SetCurrentFolder(saved_folder_);
    P().registry.DeleteTree(kHKeyLocalMachine, kVendorKey);
  }

  Platform& P() { return platform_.Get(); }

  // One silent run of the installation on the given platform.
  int RunOnce(Platform& platform) {
    ScriptedFrontEnd front_end;
    RecordingHost host;
    interp::ScriptInterpreter interpreter(platform, front_end, host);
    return interpreter.Run("/sms:silent install.txt").exit_code;
  }

  std::string Log() {
    return ReadWholeFile(P().files, P().environment.TempPath() + "Kestrova.log");
  }

  bool KeyExists(const std::string& key) {
    ScopedRegKey handle(P().registry);
    return P().registry.OpenKey(kHKeyLocalMachine, key, RegAccess::kRead, handle.Out()) == 0;
  }

  // The product as a whole run leaves it.
  void ExpectInstalled(const std::string& what) {
    EXPECT_EQ(small_, ReadWholeFile(P().files, home_ + "\\a.txt")) << what;
    EXPECT_TRUE(ReadWholeFile(P().files, home_ + "\\lib\\b.bin") == large_) << what;
    ScopedRegKey key(P().registry);
    ASSERT_EQ(0, P().registry.OpenKey(kHKeyLocalMachine, kVersionKey, RegAccess::kRead,
                                      key.Out()))
        << what;
    std::string path;
    uint32_t files = 0;
    EXPECT_EQ(0, P().registry.GetString(key.Get(), "Path", &path)) << what;
    EXPECT_EQ(home_, path) << what;
    EXPECT_EQ(0, P().registry.GetDword(key.Get(), "Files", &files)) << what;
    EXPECT_EQ(2u, files) << what;
  }

  // Nothing of the run is left: no folder under the scratch folder but the
  // package, no key of the vendor, no temporary file anywhere.
  void ExpectNothingLeft(const std::string& what) {
    EXPECT_FALSE(P().files.Exists(platform_.Scratch() + "\\apps")) << what;
    EXPECT_FALSE(KeyExists(kVendorKey)) << what;
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(P().files.ListFolder(package_ + "\\*", &entries));
    std::string names;
    for (const FolderEntry& e : entries) {
      if (e.name != "." && e.name != "..") names += e.name + " ";
    }
    EXPECT_EQ(3, std::count(names.begin(), names.end(), ' ')) << what << ": " << names;
  }

  // Removes what a successful run left, so the next run starts afresh.
  void Uninstall() {
    FileSystem& files = P().files;
    files.DeleteFile(home_ + "\\lib\\b.bin");
    files.DeleteFile(home_ + "\\a.txt");
    files.RemoveFolder(home_ + "\\lib");
    files.RemoveFolder(home_);
    files.RemoveFolder(platform_.Scratch() + "\\apps");
    P().registry.DeleteTree(kHKeyLocalMachine, kVendorKey);
  }

  // Runs the installation with the nth call of counter failing, for every
  // n, and checks each outcome.
  void Sweep(FaultPlatform& faults, FaultCounter& counter, uint32_t error, const char* kind) {
    counter.Count();
    ASSERT_EQ(0, RunOnce(faults.Get())) << Log();
    ExpectInstalled("the run without faults");
    Uninstall();
    const int calls = counter.calls();
    ASSERT_GT(calls, 5);
    int failed_runs = 0;
    for (int n = 1; n <= calls; ++n) {
      counter.Arm(n, error);
      const int status = RunOnce(faults.Get());
      const std::string what = Format("%s call %d of %d: %s", kind, n, calls,
                                      counter.failed_call().c_str());
      ASSERT_TRUE(counter.fired()) << what;
      const bool on_log = counter.failed_call().find("Kestrova.log") != std::string::npos;
      if (status == 0) {
        // The failed call did not matter (a query the run could do
        // without, a log line): everything must be there.
        ExpectInstalled(what);
        Uninstall();
        continue;
      }
      ++failed_runs;
      EXPECT_EQ(1, status) << what;
      if (!on_log) {
        const std::string log = Log();
        // The failed command's report, or the script's own failure.
        EXPECT_TRUE(log.find("SCRIPT ERROR: can't process command") != std::string::npos ||
                    log.find("can't read script file") != std::string::npos ||
                    log.find("can't open script <install.txt>") != std::string::npos)
            << what << "\n" << log;
      }
      ExpectNothingLeft(what);
      Uninstall();
    }
    EXPECT_GT(failed_runs, 0) << kind;
  }

  TestPlatform platform_;
  std::string package_;
  std::string home_;
  std::string small_;
  std::string large_;
  std::string saved_folder_;
};

TEST_F(FaultSweepTest, EveryFileCallThatFailsLeavesAllOrNothing) {
  FaultPlatform faults(P());
  Sweep(faults, faults.files(), kErrorDiskFull, "file");
}

TEST_F(FaultSweepTest, EveryRegistryCallThatFailsLeavesAllOrNothing) {
  FaultPlatform faults(P());
  Sweep(faults, faults.registry(), kErrorAccessDenied, "registry");
}

}  // namespace
}  // namespace crx::test
