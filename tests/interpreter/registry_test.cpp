// The interpreter's registry key object and the commands setreg, getreg,
// rmkey and rmregtree, on a fresh machine's registry (on Windows in scratch
// keys that are removed afterwards).

#include <algorithm>
#include <initializer_list>

#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"

namespace crx::test {
namespace {

using interp::RegistryKey;

// Forwards to a real registry but refuses to create keys or set values, as
// a locked-down registry would.
class RefusingRegistry : public Registry {
 public:
  explicit RefusingRegistry(Registry& real) : r_(real) {}
  long OpenKey(RegKey p, const std::string& s, RegAccess a, RegKey* k) override {
    return r_.OpenKey(p, s, a, k);
  }
  long CreateKey(RegKey, const std::string&, RegAccess, RegKey*, bool*) override {
    return kErrorAccessDenied;
  }
  long CloseKey(RegKey k) override { return r_.CloseKey(k); }
  long DeleteKey(RegKey p, const std::string& s) override { return r_.DeleteKey(p, s); }
  long DeleteValue(RegKey k, const std::string& n) override { return r_.DeleteValue(k, n); }
  long QueryValue(RegKey k, const std::string& n, uint32_t* t, std::string* d) override {
    return r_.QueryValue(k, n, t, d);
  }
  long SetValue(RegKey, const std::string&, uint32_t, const void*, size_t) override {
    return kErrorAccessDenied;
  }
  long EnumKey(RegKey k, uint32_t i, std::string* n) override { return r_.EnumKey(k, i, n); }
  long EnumValue(RegKey k, uint32_t i, std::string* n, uint32_t* t, std::string* d) override {
    return r_.EnumValue(k, i, n, t, d);
  }

 private:
  Registry& r_;
};

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
  ASSERT_EQ(kErrorSuccess,
            reg.CreateKey(kHKeyLocalMachine, key_, RegAccess::kAll, base.Out(), nullptr));
  base.Reset();

  RegistryKey missing(reg, kHKeyLocalMachine);
  EXPECT_FALSE(missing.Open(key_ + "\\Mid\\Leaf"));
  EXPECT_EQ(kErrorFileNotFound, missing.LastResult());
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key_ + "\\Mid"));

  // A leading separator is ignored, a trailing one and doubled ones too.
  RegistryKey made(reg, kHKeyLocalMachine, true);
  ASSERT_TRUE(made.Open("\\" + key_ + "\\\\Mid\\Leaf\\"));
  EXPECT_EQ(std::string("velmora sub key entries", 24),
            Stored(kHKeyLocalMachine, key_ + "\\Mid", ""));
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
  // The order of values is the registry's own (wine sorts them): compare
  // them sorted. The new key's default value "configurations" is one.
  while (key.NextValue(&name, &text)) names.push_back(name + "=" + text.substr(0, 10));
  EXPECT_EQ(kErrorNoMoreItems, key.LastResult());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(
      (std::vector<std::string>{"=configurat", "Count=-2", "Long=xxxxxxxxxx", "Name=some text"}),
      names);

  // Subkeys of an open key, opened through its handle.
  RegistryKey child(P().registry, key.Handle(), true);
  ASSERT_TRUE(child.Open("B"));
  ASSERT_TRUE(child.Open("A"));
  child.Close();
  names.clear();
  while (key.NextSubkey(&name)) names.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"A", "B"}), names);
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
  // Other letters after the hive write text.
  Command("setreg", "-lmx", {k, "Word", "16"});
  ASSERT_TRUE(K().CmdSetreg());
  EXPECT_EQ(std::string("16", 3), Stored(kHKeyLocalMachine, k, "Word"));

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

TEST_F(RegistryTest, SetregReportsWhatItCannotDo) {
  RefusingRegistry refusing(P().registry);
  Platform locked{P().files, refusing,     P().processes, P().environment,
                  P().clock, P().terminal, P().shell};
  interp::ScriptInterpreter k(locked, front_end_, host_);
  k.cmd.command = "setreg";
  k.cmd.option = "-lm";
  k.cmd.args[0] = key_ + "\\New";
  k.cmd.args[1] = "Name";
  k.cmd.args[2] = "value";
  EXPECT_FALSE(k.CmdSetreg());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("FAILED TO OPEN/CREATE REGISTRY PATH 0x5[5]\n" + key_ + "\\New",
            front_end_.shown[0].text);

  // An existing key opens, but the value cannot be written.
  RegistryKey made(P().registry, kHKeyLocalMachine, true);
  ASSERT_TRUE(made.Open(key_));
  k.cmd.args[0] = key_;
  EXPECT_FALSE(k.CmdSetreg());
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ("FAILED TO SET REGISTRY ENTRY\n'Name' = 'value'", front_end_.shown[1].text);

  k.cmd.option = "-hk";
  EXPECT_FALSE(k.CmdSetreg());
  ASSERT_EQ(3u, front_end_.shown.size());
  EXPECT_EQ(0u,
            front_end_.shown[2].text.find("BAD HKEY OPTION (-hk)\nYOU MUST SUPPLY ONE OF...\n"));
}

TEST_F(RegistryTest, GetregStoresTheValueOrEmpty) {
  RegistryKey key(P().registry, kHKeyLocalMachine, true);
  ASSERT_TRUE(key.Open(key_));
  ASSERT_TRUE(key.SetText("Path", "C:\\Program Files\\App"));

  ASSERT_TRUE(K().OpenLog());
  K().logging = true;
  Command("getreg", "-lm", {key_, "Path", "P"});
  EXPECT_TRUE(K().CmdGetreg());
  EXPECT_EQ("C:\\Program Files\\App", K().VariableText("P"));
  Command("getreg", "-lm", {key_, "default", "D"});
  EXPECT_TRUE(K().CmdGetreg());
  EXPECT_EQ("configurations", K().VariableText("D"));
  Command("getreg", "-lm", {key_, "Missing", "M"});
  EXPECT_TRUE(K().CmdGetreg());
  EXPECT_EQ("(empty)", K().VariableText("M"));
  K().FlushLog();
  EXPECT_NE(std::string::npos,
            ReadWholeFile(P().files, P().environment.TempPath() + "Kestrova.log")
                .find("# got from reg name<M> = value<(empty)>\n"));
  // getreg does not create the key it looks in.
  Command("getreg", "-lm", {key_ + "\\Nowhere", "Path", "W"});
  EXPECT_TRUE(K().CmdGetreg());
  EXPECT_EQ("(empty)", K().VariableText("W"));
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key_ + "\\Nowhere"));
  // getreg takes the hive option exactly.
  Command("getreg", "-lmi", {key_, "Path", "X"});
  EXPECT_FALSE(K().CmdGetreg());
}

TEST_F(RegistryTest, RmkeyDeletesOneKey) {
  RegistryKey key(P().registry, kHKeyLocalMachine, true);
  ASSERT_TRUE(key.Open(key_ + "\\Parent\\Leaf"));
  ASSERT_TRUE(key.Open(key_ + "\\Full\\Child"));
  key.Close();

  Command("rmkey", "-lm", {key_ + "\\Parent\\Leaf"});
  EXPECT_TRUE(K().CmdRmkey());
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key_ + "\\Parent\\Leaf"));
  EXPECT_TRUE(KeyExists(kHKeyLocalMachine, key_ + "\\Parent"));
  EXPECT_TRUE(front_end_.shown.empty());

  // A key with subkeys stays; the message says so and the command goes on.
  Command("rmkey", "-lm", {key_ + "\\Full"});
  EXPECT_TRUE(K().CmdRmkey());
  EXPECT_TRUE(KeyExists(kHKeyLocalMachine, key_ + "\\Full\\Child"));
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ(0u, front_end_.shown[0].text.find(
                    "NON-FATAL ERROR\ncan't delete specified registry key...\n\"" + key_ +
                    "\\Full\" error=0x"));
  EXPECT_EQ(static_cast<uint32_t>(kMbIconHand), front_end_.shown[0].flags);
  // With S it is quiet.
  Command("rmkey", "-lmS", {key_ + "\\Full"});
  EXPECT_TRUE(K().CmdRmkey());
  EXPECT_EQ(1u, front_end_.shown.size());

  // A parent that does not exist: quiet success with S, a failure without.
  Command("rmkey", "-lmS", {key_ + "\\None\\Leaf"});
  EXPECT_TRUE(K().CmdRmkey());
  EXPECT_EQ(1u, front_end_.shown.size());
  Command("rmkey", "-lm", {key_ + "\\None\\Leaf"});
  EXPECT_FALSE(K().CmdRmkey());
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ("FAILED TO OPEN REGISTRY PATH 0x2[2]\n" + key_ + "\\None", front_end_.shown[1].text);
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key_ + "\\None"));
}

TEST_F(RegistryTest, RmregtreeRemovesWholeTrees) {
  RegistryKey key(P().registry, kHKeyCurrentConfig, true);
  for (const char* sub : {"\\T\\A\\1\\x", "\\T\\A\\2", "\\T\\B", "\\Keep"}) {
    ASSERT_TRUE(key.Open(key_ + sub));
    ASSERT_TRUE(key.SetText("v", sub));
  }
  key.Close();
  Command("rmregtree", "-cc", {key_ + "\\T"});
  EXPECT_TRUE(K().CmdRmregtree());
  EXPECT_FALSE(KeyExists(kHKeyCurrentConfig, key_ + "\\T"));
  EXPECT_TRUE(KeyExists(kHKeyCurrentConfig, key_ + "\\Keep"));
  EXPECT_TRUE(front_end_.shown.empty());

  // A key that is not there is no error, and nothing is left behind.
  Command("rmregtree", "-lm", {key_ + "\\Vendor\\App"});
  EXPECT_TRUE(K().CmdRmregtree());
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key_ + "\\Vendor"));
  EXPECT_TRUE(front_end_.shown.empty());

  // A path that names no key is never taken for the whole hive.
  Command("rmregtree", "-cc", {"\\"});
  EXPECT_TRUE(K().CmdRmregtree());
  EXPECT_TRUE(KeyExists(kHKeyCurrentConfig, key_ + "\\Keep"));
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ(
      "NON-FATAL ERROR: failed to remove registry tree...\n\"\\\" error=87[0x57]\n"
      "(maybe it has been removed manually)",
      front_end_.shown[0].text);
  // During the clean-up after a failed command it says nothing.
  K().cleaning_up = true;
  EXPECT_TRUE(K().RemoveRegistryTree(kHKeyCurrentConfig, "\\"));
  EXPECT_EQ(1u, front_end_.shown.size());
}

}  // namespace
}  // namespace crx::test
