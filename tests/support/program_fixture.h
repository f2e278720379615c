// A fixture for tests that run the real programs (builder, stubs, launcher,
// interpreter) on a test platform: paths in the scratch folder, whole files
// written and read through the platform, programs run to their end, the
// builder's settings naming the stubs, and a TEMP folder of the test's own
// that the programs inherit.
#ifndef CRX_TESTS_SUPPORT_PROGRAM_FIXTURE_H
#define CRX_TESTS_SUPPORT_PROGRAM_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "support/file_helpers.h"
#include "support/scoped_settings.h"
#include "support/test_platform.h"

namespace crx::test {

class ProgramFixture : public ::testing::Test {
 protected:
  static constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

  // The builder's settings name the stubs (Windows paths; the minimal one
  // only when given), and the current user's settings turn the programs'
  // activity logs on. Failures are fatal: the caller checks
  // HasFatalFailure().
  void NameStubs(const std::string& full, const std::string& minimal = std::string()) {
    ScopedRegKey key(p().registry);
    ASSERT_EQ(kErrorSuccess, p().registry.CreateKey(kHKeyLocalMachine, kSettingsKey,
                                                    RegAccess::kAll, key.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, p().registry.SetString(key.Get(), "datafile", full));
    if (!minimal.empty()) {
      ASSERT_EQ(kErrorSuccess, p().registry.SetString(key.Get(), "mdatafile", minimal));
    }
    ScopedRegKey user(p().registry);
    ASSERT_EQ(kErrorSuccess, p().registry.CreateKey(kHKeyCurrentUser, kSettingsKey,
                                                    RegAccess::kAll, user.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, p().registry.SetString(user.Get(), "Logging", "1"));
  }

  // Makes At("temp") the TEMP (and with also_tmp the TMP) of the programs
  // started from here on; the variables are put back after the test.
  // Failures are fatal.
  void UseTempFolder(bool also_tmp) {
    ASSERT_TRUE(p().files.CreateFolder(At("temp")));
    environment_ = std::make_unique<ScopedEnvironment>(p().environment);
    ASSERT_TRUE(environment_->Set("TEMP", At("temp")));
    if (also_tmp) {
      ASSERT_TRUE(environment_->Set("TMP", At("temp")));
    }
  }

  Platform& p() { return tp_.Get(); }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  std::string Temp(const std::string& name) { return At("temp\\" + name); }

  void Write(const std::string& path, const std::string& data) {
    ASSERT_TRUE(WriteWholeFile(p().files, path, data)) << path;
  }
  std::string Read(const std::string& path) { return ReadWholeFile(p().files, path); }

  // Starts a program of the machine (in folder, when given) and waits for
  // it; its exit status, or -1 when it did not start or end in two minutes.
  int Run(const std::string& command_line, const std::string& folder = std::string()) {
    StartOptions options;
    options.folder = folder;
    return RunAndWait(p().processes, command_line, options, 120000);
  }

  // A string value of HKLM, or "<missing>".
  std::string RegString(const std::string& key_path, const std::string& name) {
    ScopedRegKey key(p().registry);
    if (p().registry.OpenKey(kHKeyLocalMachine, key_path, RegAccess::kRead, key.Out()) !=
        kErrorSuccess) {
      return "<missing>";
    }
    std::string value;
    if (p().registry.GetString(key.Get(), name, &value) != kErrorSuccess) return "<missing>";
    return value;
  }

  TestPlatform tp_;
  // Variables set for the test's run: put back when the fixture goes.
  std::unique_ptr<ScopedEnvironment> environment_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_PROGRAM_FIXTURE_H
