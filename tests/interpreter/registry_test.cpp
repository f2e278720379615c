// The interpreter's registry key object and the commands setreg, getreg,
// rmkey and rmregtree, on a fresh machine's registry (on Windows in scratch
// keys that are removed afterwards).

#include <initializer_list>

#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter_fixture.h"

namespace crx::test {
namespace {

using interp::RegistryKey;

class RegistryTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    // The scratch key's path, used under the machine-wide hives.
    key_ = platform_.ScratchKey();
  }
  void TearDown() override {
    P().registry.DeleteTree(kHKeyLocalMachine, key_);
    P().registry.DeleteTree(kHKeyCurrentConfig, key_);
  }

  void Command(const char* keyword, const char* option, std::initializer_list<std::string> args) {
    K().cmd.Clear();
    K().cmd.command = keyword;
    K().cmd.option = option;
    int i = 0;
    for (const std::string& a : args) K().cmd.args[i++] = a;
  }

  // A value as stored (type and bytes), "<missing>" when it is not there.
  std::string Stored(RegKey hive, const std::string& key, const std::string& name,
                     uint32_t* type = nullptr) {
    ScopedRegKey k(P().registry);
    if (P().registry.OpenKey(hive, key, RegAccess::kRead, k.Out()) != kErrorSuccess) {
      return "<missing>";
    }
    uint32_t t = 0;
    std::string data;
    if (P().registry.QueryValue(k.Get(), name, &t, &data) != kErrorSuccess) return "<missing>";
    if (type) *type = t;
    return data;
  }

  bool KeyExists(RegKey hive, const std::string& key) {
    ScopedRegKey k(P().registry);
    return P().registry.OpenKey(hive, key, RegAccess::kRead, k.Out()) == kErrorSuccess;
  }

  std::string key_;
};

TEST_F(RegistryTest, OpenCreatesMissingKeysWithTheirDefaultValues) {
  Registry& reg = P().registry;
  ScopedRegKey base(reg);
  ASSERT_EQ(kErrorSuccess, reg.CreateKey(kHKeyLocalMachine, key_, RegAccess::kAll, base.Out(), nullptr));
  base.Reset();

  RegistryKey missing(reg, kHKeyLocalMachine);
  EXPECT_FALSE(missing.Open(key_ + "\\Mid\\Leaf"));
  EXPECT_EQ(kErrorFileNotFound, missing.LastResult());
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key_ + "\\Mid"));

  // A leading separator is ignored, a trailing one and doubled ones too.
  RegistryKey made(reg, kHKeyLocalMachine, true);
  ASSERT_TRUE(made.Open("\\" + key_ + "\\\\Mid\\Leaf\\"));
  EXPECT_EQ(std::string("velmora sub key entries", 24), Stored(kHKeyLocalMachine, key_ + "\\Mid", ""));
  EXPECT_EQ(std::string("configurations", 15), Stored(kHKeyLocalMachine, key_ + "\\Mid\\Leaf", ""));
  // The key that was there already keeps its (missing) default value.
  EXPECT_EQ("<missing>", Stored(kHKeyLocalMachine, key_, ""));
  made.Close();

  // Opening an existing path again leaves the defaults alone.
  ASSERT_TRUE(made.Open(key_ + "\\Mid"));
  ASSERT_TRUE(made.SetDefault("mine"));
  // A slash counts as a separator at the ends only.
  ASSERT_TRUE(made.Open("/" + key_ + "\\Mid/"));
  std::string text;
  ASSERT_TRUE(made.GetValue("", &text));
  EXPECT_EQ("mine", text);
}

TEST_F(RegistryTest, ValuesReadAsTextAndEnumerate) {
  RegistryKey key(P().registry, kHKeyLocalMachine, true);
  ASSERT_TRUE(key.Open(key_));
  ASSERT_TRUE(key.SetText("Name", "some text"));
  ASSERT_TRUE(key.SetNumber("Count", 0xFFFFFFFEu));
  ASSERT_TRUE(key.SetText("Long", std::string(RegistryKey::kValueLimit, 'x')));
  std::string text;
  ASSERT_TRUE(key.GetValue("Name", &text));
  EXPECT_EQ("some text", text);
  ASSERT_TRUE(key.GetValue("Count", &text));
  EXPECT_EQ("-2", text);
  // 512 characters and their terminating zero do not fit 512 bytes.
  EXPECT_FALSE(key.GetValue("Long", &text));
  EXPECT_EQ(static_cast<long>(kErrorMoreData), key.LastResult());
  EXPECT_FALSE(key.GetValue("Missing", &text));
  EXPECT_EQ(static_cast<long>(kErrorFileNotFound), key.LastResult());

  std::string name;
  std::vector<std::string> names;
  // The default value "configurations" of the new key comes first.
  while (key.NextValue(&name, &text)) names.push_back(name + "=" + text.substr(0, 10));
  EXPECT_EQ(kErrorNoMoreItems, key.LastResult());
  EXPECT_EQ((std::vector<std::string>{"=configurat", "Name=some text", "Count=-2", "Long=xxxxxxxxxx"}),
            names);

  RegistryKey child(P().registry, key.Handle(), true);
  ASSERT_TRUE(child.Open("B"));
  ASSERT_TRUE(child.Open("A"));
  child.Close();
  names.clear();
  while (key.NextSubkey(&name)) names.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"A", "B"}), names);
  EXPECT_FALSE(key.NextSubkey(&name));
  key.RestartEnumeration();
  ASSERT_TRUE(key.NextSubkey(&name));
  EXPECT_EQ("A", name);

  EXPECT_TRUE(key.DeleteSubkey("A"));
  EXPECT_FALSE(key.DeleteSubkey("A"));
  EXPECT_TRUE(key.DeleteValue("Name"));
  EXPECT_FALSE(key.GetValue("Name", &text));
}

TEST_F(RegistryTest, SetregWritesTextNumbersAndDefaults) {
  const std::string k = key_ + "\\App";
  Command("setreg", "-lm", {k, "Text", "a b"});
  ASSERT_TRUE(K().CmdSetreg());
  uint32_t type = 0;
  EXPECT_EQ(std::string("a b", 4), Stored(kHKeyLocalMachine, k, "Text", &type));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(std::string("configurations", 15), Stored(kHKeyLocalMachine, k, ""));

  // The fourth letter of the option asks for a number, read as decimal.
  Command("setreg", "-lmi", {k, "Sixteen", "16"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("\x10\0\0\0", 4), Stored(kHKeyLocalMachine, k, "Sixteen", &type));
  EXPECT_EQ(kRegDword, type);
  Command("setreg", "-lmI", {k, "Hex", "0x10"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("\0\0\0\0", 4), Stored(kHKeyLocalMachine, k, "Hex"));
  Command("setreg", "-lmi", {k, "Minus", "-1"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("\xff\xff\xff\xff", 4), Stored(kHKeyLocalMachine, k, "Minus"));
  // Other letters after the hive write text.
  Command("setreg", "-lmx", {k, "Word", "16"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("16", 3), Stored(kHKeyLocalMachine, k, "Word", &type));

  // "default" is the key's unnamed value, as text even with -lmi.
  Command("setreg", "-lmi", {k, "default", "12"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("12", 3), Stored(kHKeyLocalMachine, k, "", &type));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ("<missing>", Stored(kHKeyLocalMachine, k, "default"));

  Command("setreg", "-cc", {key_, "Where", "config"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("config", 7), Stored(kHKeyCurrentConfig, key_, "Where"));
  EXPECT_EQ("<missing>", Stored(kHKeyLocalMachine, key_, "Where"));
  EXPECT_TRUE(front_end_.shown.empty());
}

}  // namespace
}  // namespace crx::test
