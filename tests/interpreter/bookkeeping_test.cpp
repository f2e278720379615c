// Finishing an installation, tree and file removal with its guard, and the
// clean-up after a failed command.

#include <memory>
#include <string>
#include <vector>

#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"

namespace crx::test {
namespace {

using interp::RegistryKey;

// Lets removals through only below the folders a test allows, and records
// the others instead of doing them: a guard that failed must not cost a
// real system folder.
class GuardedFiles : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::vector<std::string> allowed;
  std::vector<std::string> blocked;

  bool DeleteFile(const std::string& p) override { return Allowed(p) && real().DeleteFile(p); }
  bool RemoveFolder(const std::string& p) override { return Allowed(p) && real().RemoveFolder(p); }
  bool SetAttributes(const std::string& p, uint32_t a) override {
    return Allowed(p) && real().SetAttributes(p, a);
  }

 private:
  bool Allowed(const std::string& p) {
    std::string full = real().FullPath(p);
    for (const std::string& a : allowed) {
      if (full.size() >= a.size() && winpath::EqualsNoCase(full.substr(0, a.size()), a)) return true;
    }
    blocked.push_back(full);
    SetLastError(kErrorAccessDenied);
    return false;
  }
};

class BookkeepingTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    guarded_.allowed.push_back(platform_.Scratch() + "\\");
    app_ = "CratexTest " + winpath::LastElement(platform_.ScratchKey());
  }
  void TearDown() override {
    P().registry.DeleteTree(kHKeyLocalMachine, uninstall_key());
    P().registry.DeleteTree(kHKeyLocalMachine, "SOFTWARE\\CratexTestVendor");
    for (const std::string& f : top_folders_) {
      P().files.DeleteFile(f + "\\uninstall\\uninstall.txt");
      P().files.RemoveFolder(f + "\\uninstall");
      P().files.RemoveFolder(f);
    }
  }

  std::string At(const std::string& name) { return platform_.Scratch() + "\\" + name; }
  std::string uninstall_key() {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app_;
  }
  void Write(const std::string& path, const std::string& data = "x") {
    ASSERT_TRUE(WriteWholeFile(P().files, path, data)) << path;
  }
  void Folder(const std::string& path) { ASSERT_TRUE(P().files.CreateFolder(path)) << path; }

  // An interpreter whose removals go through the guarded file system.
  interp::ScriptInterpreter& Guarded() {
    if (!guarded_k_) {
      Platform& p = P();
      guarded_platform_ = std::make_unique<Platform>(
          Platform{guarded_, p.registry, p.processes, p.environment, p.clock, p.terminal, p.shell});
      guarded_k_ = std::make_unique<interp::ScriptInterpreter>(*guarded_platform_, front_end_, host_);
    }
    return *guarded_k_;
  }

  std::string Uninstall(const std::string& name) {
    ScopedRegKey key(P().registry);
    std::string value;
    if (P().registry.OpenKey(kHKeyLocalMachine, uninstall_key(), RegAccess::kRead, key.Out()) ||
        P().registry.GetString(key.Get(), name, &value)) {
      return "<missing>";
    }
    return value;
  }

  // Sets the naming convention and a package folder with the interpreter.
  void Convention(const std::string& home) {
    K().SetVariable("VENDOR", "CratexTestVendor");
    K().SetVariable("APP", app_);
    K().SetVariable("VER", "2.0");
    K().SetVariable("HOME", home);
    Folder(At("pkg"));
    Write(At("pkg\\Kestrova.exe"), "interpreter");
    Write(At("pkg\\unsetup.exe"), "starter");
    K().SetVariable("PWD", At("pkg"));
  }

  GuardedFiles guarded_{platform_.Get().files};
  std::unique_ptr<Platform> guarded_platform_;
  std::unique_ptr<interp::ScriptInterpreter> guarded_k_;
  std::string app_;
  std::vector<std::string> top_folders_;
};

TEST_F(BookkeepingTest, RemoveTreeLeavesFilesInUseToBoot) {
  const std::string tree = At("tree");
  Folder(tree);
  Folder(tree + "\\sub");
  Folder(tree + "\\sub\\empty");
  Write(tree + "\\a.txt");
  Write(tree + "\\sub\\held.dll");
  Write(tree + "\\sub\\ro.txt");
  ASSERT_TRUE(P().files.SetAttributes(tree + "\\sub\\ro.txt", kAttrReadOnly));
  {
    // Share modes apply within one process: a handle that does not share
    // deletion keeps the file, as another program using it would.
    std::unique_ptr<File> held =
        P().files.Open(tree + "\\sub\\held.dll", kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    EXPECT_TRUE(K().RemoveTree(tree));
  }
  EXPECT_EQ(std::vector<std::string>{tree + "\\sub\\held.dll"}, K().pending_files);
  EXPECT_EQ((std::vector<std::string>{tree + "\\sub", tree}), K().pending_folders);
  EXPECT_FALSE(P().files.Exists(tree + "\\a.txt"));
  EXPECT_FALSE(P().files.Exists(tree + "\\sub\\ro.txt"));
  EXPECT_FALSE(P().files.Exists(tree + "\\sub\\empty"));
  EXPECT_TRUE(front_end_.shown.empty());

  // Once the file is free, the second pass takes the rest.
  K().pending_files.clear();
  K().pending_folders.clear();
  EXPECT_TRUE(K().RemoveTree(tree));
  EXPECT_FALSE(P().files.Exists(tree));
  EXPECT_TRUE(K().pending_files.empty());

}

TEST_F(BookkeepingTest, RemoveFileClearsReadOnlyAndReportsMissingFiles) {
  const std::string file = At("ro.dll");
  Write(file);
  ASSERT_TRUE(P().files.SetAttributes(file, kAttrReadOnly));
  EXPECT_TRUE(K().RemoveFile(file));
  EXPECT_FALSE(P().files.Exists(file));
  EXPECT_FALSE(K().RemoveFile(file));
  EXPECT_FALSE(K().reboot_needed);
}

}  // namespace
}  // namespace crx::test
