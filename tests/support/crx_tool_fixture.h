// A fixture for tests that run the crx tool as a real program on archives
// the engine writes: the tool named as the machine sees it, a stub file the
// builder's settings name, an empty answers file (any question the tool
// would ask ends it with an error instead of waiting), and a product
// folder of files with known bytes and times to pack and compare.
#ifndef CRX_TESTS_SUPPORT_CRX_TOOL_FIXTURE_H
#define CRX_TESTS_SUPPORT_CRX_TOOL_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/winpath.h"
#include "engine/logs.h"
#include "platform/platform.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

#ifndef _WIN32
#include "platform/posix/host_paths.h"
#endif

namespace crx::test {

// One file of the product folder.
struct SourceFile {
  std::string relative;  // below the product folder
  std::string data;
  FileTime time;
};

class CrxToolFixture : public ::testing::Test {
 protected:
  static constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

  // Opens the platform, names the tool at host path tool, writes stub as
  // the stub file the settings name and points CRX_ANSWERS at an empty
  // answers file. A failure is fatal: the caller checks HasFatalFailure().
  void SetUpTool(const std::string& tool, const std::string& stub) {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    ResetLogState();
#ifdef _WIN32
    // The build tree is a host folder; wine shows the host's root as Z:.
    tool_ = "Z:" + tool;
    for (char& c : tool_) {
      if (c == '/') c = '\\';
    }
#else
    tool_ = HostToWindowsPath(tool);
#endif
    ASSERT_FALSE(tool_.empty());
    WriteFile(At("stub.dat"), stub);
    ScopedRegKey key(p().registry);
    ASSERT_EQ(kErrorSuccess, p().registry.CreateKey(kHKeyLocalMachine, kSettingsKey,
                                                    RegAccess::kAll, key.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, p().registry.SetString(key.Get(), "datafile", At("stub.dat")));
    WriteFile(At("answers.txt"), "");
    ASSERT_TRUE(p().environment.Set("CRX_ANSWERS", At("answers.txt")));
  }

  // Makes the product folder and its subfolders (folders, relative, parents
  // first) and writes files_ into it with their times.
  void WriteProduct(const std::vector<std::string>& folders) {
    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    for (const std::string& folder : folders) ASSERT_TRUE(p().files.CreateFolder(Product(folder)));
    for (const SourceFile& f : files_) {
      WriteFile(Product(f.relative), f.data);
      ASSERT_TRUE(p().files.SetLastWriteTime(Product(f.relative), f.time));
    }
  }

  // The answers file and the stub setting go again (on Windows they are
  // the real system's).
  void TearDown() override {
    if (!tp_.ok()) return;
    p().environment.Unset("CRX_ANSWERS");
    ScopedRegKey key(p().registry);
    if (p().registry.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out()) ==
        kErrorSuccess) {
      p().registry.DeleteValue(key.Get(), "datafile");
    }
  }

  Platform& p() { return tp_.Get(); }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  std::string Product(const std::string& relative) { return At("product\\" + relative); }

  void WriteFile(const std::string& path, const std::string& data) {
    ASSERT_TRUE(WriteWholeFile(p().files, path, data)) << path;
  }
  std::string ReadFile(const std::string& path) {
    return ReadWholeFile(p().files, path, "<missing>", kShareRead);
  }

  // Runs crx with the arguments (in folder, when given); its exit code, -1
  // when it did not start or end within two minutes.
  int Crx(const std::string& arguments, const std::string& folder = std::string()) {
    StartOptions options;
    options.folder = folder;
    return RunAndWait(p().processes, "\"" + tool_ + "\" " + arguments, options, 120000);
  }

  // Every product file below output, as an extraction stores it: the stored
  // name (its full source path) without its root, with its bytes and time.
  void ExpectExtracted(const std::string& output) {
    for (const SourceFile& f : files_) {
      const std::string path = output + "\\" + winpath::WithoutRoot(Product(f.relative));
      const std::string got = ReadFile(path);
      // Compared whole, but not printed whole: the members run to many KB.
      EXPECT_TRUE(f.data == got) << path << ": " << got.size() << " bytes, not "
                                 << f.data.size() << " as written";
      FileTime time = 0;
      EXPECT_TRUE(p().files.GetLastWriteTime(path, &time)) << path;
      EXPECT_EQ(f.time, time) << path;
    }
  }

  TestPlatform tp_;
  std::string tool_;
  std::vector<SourceFile> files_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_CRX_TOOL_FIXTURE_H
