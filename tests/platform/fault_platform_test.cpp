// The fault-injecting platform the sweep tests use: a counting run gives
// the number of calls, and arming call N makes exactly that call fail, with
// the error chosen, and leaves every other call to the real platform.
#include "support/fault_platform.h"

#include <gtest/gtest.h>

#include <string>

#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx::test {
namespace {

class FaultPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tp_.ok()) << tp_.Error(); }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }

  // A small run of file work; false at the first step that fails, with
  // LastError() as the call left it.
  bool FileRun(Platform& p) {
    FileSystem& files = p.files;
    if (!files.CreateFolder(At("work"))) return false;
    std::unique_ptr<File> out = files.Open(At("work\\a.txt"), kAccessWrite, kShareNone,
                                           Disposition::kCreateAlways, 0);
    if (!out || !out->Write("hello", 5) || !out->Flush()) return false;
    out.reset();
    std::unique_ptr<File> in =
        files.Open(At("work\\a.txt"), kAccessRead, kShareRead, Disposition::kOpenExisting, 0);
    char buffer[8] = {};
    size_t got = 0;
    if (!in || !in->Read(buffer, sizeof buffer, &got) || std::string(buffer, got) != "hello") {
      return false;
    }
    in.reset();
    if (!files.SetAttributes(At("work\\a.txt"), kAttrHidden)) return false;
    if (!files.MoveFile(At("work\\a.txt"), At("work\\b.txt"))) return false;
    if (!files.DeleteFile(At("work\\b.txt"))) return false;
    return files.RemoveFolder(At("work"));
  }

  // Leaves the scratch folder as it was before a run, whatever step failed.
  void CleanUp() {
    Platform& p = tp_.Get();
    for (const char* name : {"work\\a.txt", "work\\b.txt"}) {
      p.files.SetAttributes(At(name), kAttrNormal);
      p.files.DeleteFile(At(name));
    }
    p.files.RemoveFolder(At("work"));
  }

  test::TestPlatform tp_;
};

TEST_F(FaultPlatformTest, EachFileCallOfARunFailsInTurnWithTheErrorGiven) {
  FaultPlatform faults(tp_.Get());
  faults.files().Count();
  ASSERT_TRUE(FileRun(faults.Get()));
  // CreateFolder, Open, Write, Flush, Open, Read, SetAttributes, MoveFile,
  // DeleteFile, RemoveFolder; the queries of the run are not counted.
  const int calls = faults.files().calls();
  EXPECT_EQ(calls, 10) << ::testing::PrintToString(faults.files().log());
  EXPECT_FALSE(faults.files().fired());

  for (int n = 1; n <= calls; ++n) {
    faults.files().Arm(n, kErrorDiskFull);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(FileRun(faults.Get())) << n;
    EXPECT_EQ(LastError(), kErrorDiskFull) << n << ": " << faults.files().failed_call();
    EXPECT_TRUE(faults.files().fired()) << n;
    EXPECT_EQ(faults.files().failures(), 1) << n;
    EXPECT_EQ(faults.files().calls(), n) << "the run stops at its first failure";
    EXPECT_EQ(faults.files().failed_call(), faults.files().log()[static_cast<size_t>(n) - 1]);
    CleanUp();
  }
  // One past the last call: nothing fails, and the failed calls did nothing
  // (the run starts from the same state every time).
  faults.files().Arm(calls + 1, kErrorDiskFull);
  EXPECT_TRUE(FileRun(faults.Get()));
  EXPECT_FALSE(faults.files().fired());
  EXPECT_FALSE(tp_.Get().files.Exists(At("work")));

  // The failing call does not reach the real file system.
  faults.files().Arm(1, kErrorAccessDenied);
  EXPECT_FALSE(faults.Get().files.CreateFolder(At("never")));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_FALSE(tp_.Get().files.Exists(At("never")));
  faults.files().Arm(2, kErrorHandleDiskFull);
  ASSERT_TRUE(test::WriteWholeFile(tp_.Get().files, At("kept.txt"), "old"));
  std::unique_ptr<File> file = faults.Get().files.Open(At("kept.txt"), kAccessWrite, kShareNone,
                                                        Disposition::kOpenExisting, 0);
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->Write("new", 3));
  EXPECT_EQ(LastError(), kErrorHandleDiskFull);
  file.reset();
  EXPECT_EQ(test::ReadWholeFile(tp_.Get().files, At("kept.txt")), "old");
}

TEST_F(FaultPlatformTest, StickyFaultsKeepFailingAndQueriesNeverFail) {
  FaultPlatform faults(tp_.Get());
  ASSERT_TRUE(test::WriteWholeFile(tp_.Get().files, At("x.txt"), "x"));
  faults.files().Arm(2, kErrorNotReady, true);
  FileSystem& files = faults.Get().files;
  EXPECT_TRUE(files.CreateFolder(At("one")));
  EXPECT_FALSE(files.CreateFolder(At("two")));
  EXPECT_FALSE(files.DeleteFile(At("x.txt")));
  EXPECT_EQ(LastError(), kErrorNotReady);
  EXPECT_TRUE(files.Exists(At("x.txt")));
  EXPECT_TRUE(files.IsFolder(At("one")));
  EXPECT_EQ(files.FullPath(At("x.txt")), tp_.Get().files.FullPath(At("x.txt")));
  EXPECT_EQ(faults.files().calls(), 3);
  EXPECT_EQ(faults.files().failures(), 2);
  EXPECT_EQ(faults.files().failed_call(), "CreateFolder " + At("two"));
  // Registry calls have their own count.
  EXPECT_EQ(faults.registry().calls(), 0);
}

TEST_F(FaultPlatformTest, RegistryCallsFailInTurnWithTheCodeGiven) {
  FaultPlatform faults(tp_.Get());
  Registry& real = tp_.Get().registry;
  const std::string path = tp_.ScratchKey() + "\\Fault";
  auto run = [&](Registry& reg) -> long {
    ScopedRegKey key(reg);
    long rc = reg.CreateKey(kHKeyCurrentUser, path, RegAccess::kAll, key.Out(), nullptr);
    if (rc != kErrorSuccess) return rc;
    if ((rc = reg.SetString(key.Get(), "Name", "value")) != kErrorSuccess) return rc;
    std::string value;
    if ((rc = reg.GetString(key.Get(), "Name", &value)) != kErrorSuccess) return rc;
    if ((rc = reg.DeleteValue(key.Get(), "Name")) != kErrorSuccess) return rc;
    key.Reset();
    ScopedRegKey parent(reg);
    if ((rc = reg.OpenKey(kHKeyCurrentUser, tp_.ScratchKey(), RegAccess::kAll, parent.Out())) !=
        kErrorSuccess) {
      return rc;
    }
    return reg.DeleteKey(parent.Get(), "Fault");
  };
  faults.registry().Count();
  ASSERT_EQ(run(faults.Get().registry), kErrorSuccess);
  const int calls = faults.registry().calls();
  EXPECT_EQ(calls, 5);  // CreateKey, SetValue, DeleteValue, OpenKey, DeleteKey
  for (int n = 1; n <= calls; ++n) {
    faults.registry().Arm(n, kErrorAccessDenied);
    EXPECT_EQ(run(faults.Get().registry), static_cast<long>(kErrorAccessDenied)) << n;
    EXPECT_TRUE(faults.registry().fired()) << n;
    real.DeleteTree(kHKeyCurrentUser, path);
  }
  // A failed set leaves no value behind.
  faults.registry().Arm(2, kErrorAccessDenied);
  EXPECT_NE(run(faults.Get().registry), kErrorSuccess);
  ScopedRegKey key(real);
  ASSERT_EQ(real.OpenKey(kHKeyCurrentUser, path, RegAccess::kRead, key.Out()), kErrorSuccess);
  std::string value;
  EXPECT_EQ(real.GetString(key.Get(), "Name", &value), static_cast<long>(kErrorFileNotFound));
  EXPECT_EQ(faults.files().calls(), 0);
}

}  // namespace
}  // namespace crx::test
