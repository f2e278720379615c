// The builder's registry settings on a fresh machine: defaults, writing
// them back, which readers create the key, and the default values of the
// keys they create. Both hives are pointed at the test's scratch key.
#include <gtest/gtest.h>

#include <string>

#include "builder/settings.h"
#include "support/test_platform.h"

namespace crx::builder {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    where_.user_hive = kHKeyCurrentUser;
    where_.machine_hive = kHKeyCurrentUser;
    where_.key_path = machine_.ScratchKey() + "\\Velmora\\Cratex\\1.00";
    machine_where_ = where_;
    machine_where_.key_path = machine_.ScratchKey() + "\\Machine\\1.00";
  }

  Registry& registry() { return machine_.Get().registry; }

  bool KeyExists(const std::string& path) {
    ScopedRegKey key(registry());
    return registry().OpenKey(kHKeyCurrentUser, path, RegAccess::kRead, key.Out()) ==
           kErrorSuccess;
  }
  // The string value name of the key at path, or "<missing>".
  std::string Stored(const std::string& path, const std::string& name) {
    ScopedRegKey key(registry());
    std::string value;
    if (registry().OpenKey(kHKeyCurrentUser, path, RegAccess::kRead, key.Out()) !=
            kErrorSuccess ||
        registry().GetString(key.Get(), name, &value) != kErrorSuccess) {
      return "<missing>";
    }
    return value;
  }
  void Store(const std::string& path, const std::string& name, const std::string& value) {
    ScopedRegKey key(registry());
    ASSERT_EQ(registry().CreateKey(kHKeyCurrentUser, path, RegAccess::kAll, key.Out(), nullptr),
              kErrorSuccess);
    ASSERT_EQ(registry().SetString(key.Get(), name, value), kErrorSuccess);
  }

  test::TestPlatform machine_;
  SettingsLocation where_;
  SettingsLocation machine_where_;
};

TEST_F(SettingsTest, OpenOnlyReadersLeaveAFreshMachineAlone) {
  EXPECT_EQ(ReadLogging(registry(), where_, KeyMode::kOpenExisting), 1);
  EXPECT_EQ(ReadIgnoreFiles(registry(), where_, KeyMode::kOpenExisting), kDefaultIgnoreFiles);
  EXPECT_FALSE(KeyExists(machine_.ScratchKey())) << "an open-only reader created the key";

  std::string stub = "sentinel";
  EXPECT_EQ(ReadStubPath(registry(), machine_where_, false, &stub), StubLookup::kNoKey);
  EXPECT_EQ(stub, "");
  EXPECT_FALSE(KeyExists(machine_.ScratchKey()));
}

TEST_F(SettingsTest, CreatingReadersMakeTheKeyAndWriteDefaultsBack) {
  EXPECT_EQ(ReadLogging(registry(), where_, KeyMode::kCreate), 1);
  ASSERT_TRUE(KeyExists(where_.key_path));
  EXPECT_EQ(Stored(where_.key_path, "Logging"), "1");
  EXPECT_EQ(Stored(where_.key_path, "IgnoreFiles"), "<missing>")
      << "only the value read is written";
  EXPECT_EQ(ReadIgnoreFiles(registry(), where_, KeyMode::kCreate), kDefaultIgnoreFiles);
  EXPECT_EQ(Stored(where_.key_path, "IgnoreFiles"), kDefaultIgnoreFiles);

  // Each level created on the way is marked; the last one differently.
  const std::string scratch = machine_.ScratchKey();
  EXPECT_EQ(Stored(scratch, ""), "sub key entries");
  EXPECT_EQ(Stored(scratch + "\\Velmora", ""), "sub key entries");
  EXPECT_EQ(Stored(scratch + "\\Velmora\\Cratex", ""), "sub key entries");
  EXPECT_EQ(Stored(where_.key_path, ""), "configurations");

  // A key that already exists keeps its default value.
  Store(where_.key_path, "", "mine");
  EXPECT_TRUE(WriteLogging(registry(), where_, 0));
  EXPECT_EQ(Stored(where_.key_path, ""), "mine");
  EXPECT_EQ(Stored(where_.key_path, "Logging"), "0");
  EXPECT_EQ(ReadLogging(registry(), where_, KeyMode::kOpenExisting), 0);

  // Stored values win over the defaults and are left as they are.
  EXPECT_TRUE(WriteIgnoreFiles(registry(), where_, "OBJ:EXE"));
  EXPECT_EQ(ReadIgnoreFiles(registry(), where_, KeyMode::kOpenExisting), "OBJ:EXE");
}

TEST_F(SettingsTest, NumbersAreReadAsDecimalText) {
  EXPECT_EQ(DecimalSetting("1"), 1);
  EXPECT_EQ(DecimalSetting(" 12x"), 12);
  EXPECT_EQ(DecimalSetting("-3"), -3);
  EXPECT_EQ(DecimalSetting("on"), 0);
  EXPECT_EQ(DecimalSetting(""), 0);
  EXPECT_EQ(DecimalSetting("0x10"), 0);
  EXPECT_EQ(DecimalSetting("99999999999999999999"), 2147483647);
  EXPECT_EQ(DecimalSetting("-99999999999999999999"), -2147483647 - 1);

  Store(where_.key_path, "Logging", "yes");
  EXPECT_EQ(ReadLogging(registry(), where_, KeyMode::kOpenExisting), 0)
      << "text that is not a number turns logging off";
  EXPECT_EQ(Stored(where_.key_path, "Logging"), "yes");
}

TEST_F(SettingsTest, ScriptDirHasNoDefault) {
  std::string folder = "sentinel";
  EXPECT_FALSE(ReadScriptDir(registry(), where_, &folder));
  EXPECT_EQ(folder, "");
  EXPECT_TRUE(KeyExists(where_.key_path)) << "the script command creates the key";
  EXPECT_EQ(Stored(where_.key_path, "ScriptDir"), "<missing>") << "no default is written";

  ASSERT_TRUE(WriteScriptDir(registry(), where_, "C:\\scripts\\build"));
  ASSERT_TRUE(ReadScriptDir(registry(), where_, &folder));
  EXPECT_EQ(folder, "C:\\scripts\\build");
  ASSERT_TRUE(WriteScriptDir(registry(), where_, ""));
  EXPECT_FALSE(ReadScriptDir(registry(), where_, &folder));
}

TEST_F(SettingsTest, StubPathsComeFromTheMachineKey) {
  std::string stub;
  Store(machine_where_.key_path, "datafile", "");
  EXPECT_EQ(ReadStubPath(registry(), machine_where_, false, &stub), StubLookup::kNoValue);
  EXPECT_EQ(ReadStubPath(registry(), machine_where_, true, &stub), StubLookup::kNoValue)
      << "mdatafile is missing";
  Store(machine_where_.key_path, "mdatafile", "C:\\Cratex\\Cratexm.dat");
  ASSERT_EQ(ReadStubPath(registry(), machine_where_, true, &stub), StubLookup::kFound);
  EXPECT_EQ(stub, "C:\\Cratex\\Cratexm.dat");
  EXPECT_EQ(ReadStubPath(registry(), machine_where_, false, &stub), StubLookup::kNoValue);
  EXPECT_EQ(stub, "");
  EXPECT_EQ(Stored(machine_where_.key_path, "datafile"), "") << "no default is written";
}

}  // namespace
}  // namespace crx::builder
