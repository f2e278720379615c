// What both registry implementations must do: the emulated machine's
// database and the real Win32 registry (run under wine64 in the win64
// build). Everything is written below the test's scratch key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_platform.h"

namespace crx {
namespace {

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }

// The order RegEnumValue gives for values written in the given order.
// Windows and the emulated machine keep the order of first writing; wine
// keeps values sorted by name (case-insensitively), so under wine the
// expectation is the sorted list.
std::vector<std::string> FirstWriteOrder(std::vector<std::string> names) {
#ifdef _WIN32
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
          return std::toupper(static_cast<unsigned char>(x)) <
                 std::toupper(static_cast<unsigned char>(y));
        });
  });
#endif
  return names;
}

class RegistryContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    base_ = std::make_unique<ScopedRegKey>(reg());
    bool created = false;
    ASSERT_EQ(kErrorSuccess, reg().CreateKey(kHKeyCurrentUser, machine_.ScratchKey(),
                                             RegAccess::kAll, base_->Out(), &created));
    EXPECT_TRUE(created);
  }

  Registry& reg() { return machine_.Get().registry; }
  RegKey base() { return base_->Get(); }

  // Subkey names of a key in enumeration order.
  std::vector<std::string> SubKeys(RegKey key) {
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
      std::string name = "sentinel";
      long rc = reg().EnumKey(key, i, &name);
      if (rc == kErrorNoMoreItems) break;
      EXPECT_EQ(kErrorSuccess, rc);
      if (rc != kErrorSuccess || i > 100) break;
      names.push_back(name);
    }
    return names;
  }

  std::vector<std::string> ValueNames(RegKey key) {
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
      std::string name, data;
      uint32_t type = 0xdeadbeef;
      long rc = reg().EnumValue(key, i, &name, &type, &data);
      if (rc == kErrorNoMoreItems) break;
      EXPECT_EQ(kErrorSuccess, rc);
      if (rc != kErrorSuccess || i > 100) break;
      names.push_back(name);
    }
    return names;
  }

  test::TestPlatform machine_;
  std::unique_ptr<ScopedRegKey> base_;  // the scratch key, open for writing
};

TEST_F(RegistryContractTest, ValuesComeBackExactlyAsStored) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
  };
  const Case cases[] = {
      {"sz", kRegSz, Bytes("hello\0", 6)},
      // Without its terminating zero a REG_SZ still comes back byte for byte.
      {"sz no zero", kRegSz, Bytes("abc", 3)},
      {"empty sz", kRegSz, Bytes("\0", 1)},
      {"dword", kRegDword, Bytes("\x78\x56\x34\x12", 4)},
      {"binary", kRegBinary, Bytes("\x00\x01\x00\xff\x00", 5)},
      {"empty binary", kRegBinary, std::string()},
      {"expand", kRegExpandSz, Bytes("%windir%\\x\0", 11)},
      {"multi", kRegMultiSz, Bytes("one\0two\0\0", 9)},
      {"none", kRegNone, Bytes("\x01\x02", 2)},
      {"", kRegSz, Bytes("the default\0", 12)},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(kErrorSuccess,
              reg().SetValue(base(), c.name, c.type, c.data.data(), c.data.size()))
        << c.name;
  }
  for (const Case& c : cases) {
    uint32_t type = 0xdeadbeef;
    std::string data = "sentinel";
    ASSERT_EQ(kErrorSuccess, reg().QueryValue(base(), c.name, &type, &data)) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
#ifdef _WIN32
    // Wine stores a REG_SZ that lacks its terminating zero with one added;
    // Windows and the emulated machine keep the bytes as given.
    if (c.type == kRegSz && !c.data.empty() && c.data.back() != '\0' &&
        data == c.data + std::string(1, '\0')) {
      continue;
    }
#endif
    EXPECT_EQ(c.data, data) << c.name;
  }

  // The helpers: strings with their zero, numbers little-endian.
  ASSERT_EQ(kErrorSuccess, reg().SetString(base(), "Text", "value"));
  ASSERT_EQ(kErrorSuccess, reg().SetDword(base(), "Number", 0x01020304));
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kErrorSuccess, reg().QueryValue(base(), "Text", &type, &data));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(Bytes("value\0", 6), data);
  ASSERT_EQ(kErrorSuccess, reg().QueryValue(base(), "Number", &type, &data));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(Bytes("\x04\x03\x02\x01", 4), data);

  std::string text;
  uint32_t number = 0;
  EXPECT_EQ(kErrorSuccess, reg().GetString(base(), "Text", &text));
  EXPECT_EQ("value", text);
  EXPECT_EQ(kErrorSuccess, reg().GetString(base(), "sz no zero", &text));
  EXPECT_EQ("abc", text);
  EXPECT_EQ(kErrorSuccess, reg().GetString(base(), "expand", &text));
  EXPECT_EQ("%windir%\\x", text);
  EXPECT_EQ(kErrorSuccess, reg().GetDword(base(), "Number", &number));
  EXPECT_EQ(0x01020304u, number);
  // Wrong types are refused, not reinterpreted.
  text = "unchanged";
  EXPECT_NE(kErrorSuccess, reg().GetString(base(), "Number", &text));
  EXPECT_EQ("unchanged", text);
  number = 7;
  EXPECT_NE(kErrorSuccess, reg().GetDword(base(), "Text", &number));
  EXPECT_NE(kErrorSuccess, reg().GetDword(base(), "binary", &number));
  EXPECT_EQ(7u, number);
  EXPECT_EQ(kErrorFileNotFound, reg().GetString(base(), "missing", &text));
  EXPECT_EQ(kErrorFileNotFound, reg().GetDword(base(), "missing", &number));

  // Overwriting may change the type.
  ASSERT_EQ(kErrorSuccess, reg().SetDword(base(), "Text", 5));
  EXPECT_EQ(kErrorSuccess, reg().GetDword(base(), "Text", &number));
  EXPECT_EQ(5u, number);

  // A value name of 16383 characters is the longest allowed.
  std::string long_name(16383, 'v');
  EXPECT_EQ(kErrorSuccess, reg().SetString(base(), long_name, "x"));
  EXPECT_EQ(kErrorSuccess, reg().GetString(base(), long_name, &text));
  EXPECT_EQ(kErrorInvalidParameter, reg().SetString(base(), long_name + "v", "x"));
}

TEST_F(RegistryContractTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  ScopedRegKey foo(reg());
  bool created = false;
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(base(), "Foo", RegAccess::kAll, foo.Out(), &created));
  EXPECT_TRUE(created);
  ScopedRegKey again(reg());
  created = true;
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "FOO", RegAccess::kAll, again.Out(), &created));
  EXPECT_FALSE(created);
  ScopedRegKey opened(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "fOo", RegAccess::kRead, opened.Out()));
  EXPECT_EQ(std::vector<std::string>{"Foo"}, SubKeys(base()));

  ASSERT_EQ(kErrorSuccess, reg().SetString(foo.Get(), "Val", "first"));
  ASSERT_EQ(kErrorSuccess, reg().SetString(foo.Get(), "Other", "x"));
  std::string text;
  EXPECT_EQ(kErrorSuccess, reg().GetString(opened.Get(), "vAL", &text));
  EXPECT_EQ("first", text);
  // An overwrite under another spelling changes the data, not the name
  // or the value's place.
  ASSERT_EQ(kErrorSuccess, reg().SetString(again.Get(), "VAL", "second"));
  EXPECT_EQ(FirstWriteOrder({"Val", "Other"}), ValueNames(foo.Get()));
  EXPECT_EQ(kErrorSuccess, reg().GetString(foo.Get(), "val", &text));
  EXPECT_EQ("second", text);
  EXPECT_EQ(kErrorSuccess, reg().DeleteValue(foo.Get(), "OTHER"));
  EXPECT_EQ(std::vector<std::string>{"Val"}, ValueNames(foo.Get()));
}

TEST_F(RegistryContractTest, KeyPaths) {
  ScopedRegKey deep(reg());
  bool created = false;
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "a\\b\\c", RegAccess::kAll, deep.Out(), &created));
  EXPECT_TRUE(created);
  ASSERT_EQ(kErrorSuccess, reg().SetString(deep.Get(), "where", "c"));
  // The same key again, through a trailing back-slash: opened, not created.
  ScopedRegKey same(reg());
  created = true;
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "A\\B\\C\\", RegAccess::kAll, same.Out(), &created));
  EXPECT_FALSE(created);
  // Creating one more level reports only the last key as new.
  ScopedRegKey deeper(reg());
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "a\\b\\c\\d", RegAccess::kAll, deeper.Out(), &created));
  EXPECT_TRUE(created);

  std::string text;
  ScopedRegKey opened(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "a\\b\\c", RegAccess::kRead, opened.Out()));
  EXPECT_EQ(kErrorSuccess, reg().GetString(opened.Get(), "where", &text));
  EXPECT_EQ("c", text);
  ScopedRegKey mid(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "a", RegAccess::kRead, mid.Out()));
  EXPECT_EQ(std::vector<std::string>{"b"}, SubKeys(mid.Get()));

  // An empty sub key is a second handle to the same key.
  ScopedRegKey self(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(deep.Get(), "", RegAccess::kAll, self.Out()));
  ASSERT_EQ(kErrorSuccess, reg().SetString(self.Get(), "via", "self"));
  EXPECT_EQ(kErrorSuccess, reg().GetString(deep.Get(), "via", &text));

  ScopedRegKey missing(reg());
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(base(), "nope", RegAccess::kRead, missing.Out()));
  EXPECT_EQ(kErrorFileNotFound,
            reg().OpenKey(base(), "nope\\deeper", RegAccess::kRead, missing.Out()));
  EXPECT_EQ(kErrorFileNotFound,
            reg().OpenKey(base(), "a\\x\\c", RegAccess::kRead, missing.Out()));
  // A sub key may not start with a back-slash.
  EXPECT_EQ(kErrorBadPathname, reg().OpenKey(base(), "\\a", RegAccess::kRead, missing.Out()));
  EXPECT_EQ(kErrorBadPathname,
            reg().CreateKey(base(), "\\lead", RegAccess::kAll, missing.Out(), nullptr));
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(base(), "lead", RegAccess::kRead, missing.Out()));

  // A handle opened for reading refuses changes to its values.
  ScopedRegKey reader(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "a", RegAccess::kRead, reader.Out()));
  EXPECT_EQ(kErrorAccessDenied, reg().SetString(reader.Get(), "x", "y"));
  ScopedRegKey writer(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "a", RegAccess::kAll, writer.Out()));
  ASSERT_EQ(kErrorSuccess, reg().SetString(writer.Get(), "kept", "y"));
  EXPECT_EQ(kErrorAccessDenied, reg().DeleteValue(reader.Get(), "kept"));
}

TEST_F(RegistryContractTest, Deleting) {
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(base(), "parent\\child\\leaf", RegAccess::kAll,
                                           ScopedRegKey(reg()).Out(), nullptr));
  // A key with subkeys is refused; the path form deletes the last key.
  EXPECT_EQ(kErrorAccessDenied, reg().DeleteKey(base(), "parent"));
  EXPECT_EQ(kErrorSuccess, reg().DeleteKey(base(), "parent\\child\\leaf"));
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteKey(base(), "parent\\child\\leaf"));
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteKey(base(), "nothere"));
  ScopedRegKey parent(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "parent", RegAccess::kAll, parent.Out()));
  EXPECT_EQ(std::vector<std::string>{"child"}, SubKeys(parent.Get()));

  EXPECT_EQ(kErrorFileNotFound, reg().DeleteValue(base(), "no such value"));
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteValue(base(), ""));
  ASSERT_EQ(kErrorSuccess, reg().SetString(base(), "", "default"));
  EXPECT_EQ(kErrorSuccess, reg().DeleteValue(base(), ""));
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kErrorFileNotFound, reg().QueryValue(base(), "", &type, &data));

  // DeleteTree removes a whole tree, values and all.
  ScopedRegKey tree(reg());
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "tree\\x\\y", RegAccess::kAll, tree.Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, reg().SetString(tree.Get(), "v", "1"));
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "tree\\z", RegAccess::kAll, tree.Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, reg().SetString(tree.Get(), "v", "2"));
  tree.Reset();
  EXPECT_EQ(kErrorSuccess, reg().DeleteTree(base(), "tree"));
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(base(), "tree", RegAccess::kRead, tree.Out()));
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteTree(base(), "tree"));

  // With an empty sub key the key stays but loses its subkeys and values.
  ASSERT_EQ(kErrorSuccess, reg().SetString(parent.Get(), "v", "1"));
  EXPECT_EQ(kErrorSuccess, reg().DeleteTree(parent.Get(), ""));
  EXPECT_TRUE(SubKeys(parent.Get()).empty());
  EXPECT_TRUE(ValueNames(parent.Get()).empty());
  EXPECT_EQ(kErrorSuccess, reg().OpenKey(base(), "parent", RegAccess::kRead, tree.Out()));

  // An empty sub key deletes the key the handle stands for.
  EXPECT_EQ(kErrorSuccess, reg().DeleteKey(parent.Get(), ""));
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(base(), "parent", RegAccess::kRead, tree.Out()));
}

TEST_F(RegistryContractTest, EnumerationOrder) {
  for (const char* name : {"b", "C", "a", "Ab", "c2"}) {
    ASSERT_EQ(kErrorSuccess,
              reg().CreateKey(base(), name, RegAccess::kAll, ScopedRegKey(reg()).Out(), nullptr));
  }
  EXPECT_EQ((std::vector<std::string>{"a", "Ab", "b", "C", "c2"}), SubKeys(base()));
  std::string name = "sentinel";
  EXPECT_EQ(kErrorNoMoreItems, reg().EnumKey(base(), 5, &name));
  EXPECT_EQ(kErrorNoMoreItems, reg().EnumKey(base(), 1000, &name));

  // Values come in the order they were first written, whatever their names.
  for (const char* value : {"zeta", "alpha", "Mid", ""}) {
    ASSERT_EQ(kErrorSuccess, reg().SetString(base(), value, value));
  }
  ASSERT_EQ(kErrorSuccess, reg().SetString(base(), "alpha", "rewritten"));
  EXPECT_EQ(FirstWriteOrder({"zeta", "alpha", "Mid", ""}), ValueNames(base()));
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kErrorSuccess, reg().EnumValue(base(), 1, &name, &type, &data));
  EXPECT_EQ("alpha", name);
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(Bytes("rewritten\0", 10), data);
  EXPECT_EQ(kErrorNoMoreItems, reg().EnumValue(base(), 4, &name, &type, &data));
  // A value deleted and written again goes to the end.
  ASSERT_EQ(kErrorSuccess, reg().DeleteValue(base(), "ZETA"));
  ASSERT_EQ(kErrorSuccess, reg().SetString(base(), "zeta", "again"));
  EXPECT_EQ(FirstWriteOrder({"alpha", "Mid", "", "zeta"}), ValueNames(base()));

  ScopedRegKey empty(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(base(), "a", RegAccess::kRead, empty.Out()));
  EXPECT_EQ(kErrorNoMoreItems, reg().EnumKey(empty.Get(), 0, &name));
  EXPECT_EQ(kErrorNoMoreItems, reg().EnumValue(empty.Get(), 0, &name, &type, &data));
}

TEST_F(RegistryContractTest, HandlesToADeletedKey) {
  RegKey key = 0;
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(base(), "gone", RegAccess::kAll, &key, nullptr));
  ASSERT_EQ(kErrorSuccess, reg().SetString(key, "v", "1"));
  ASSERT_EQ(kErrorSuccess, reg().DeleteKey(base(), "gone"));

  uint32_t type = 0;
  std::string data, name;
  RegKey other = 0;
  EXPECT_EQ(kErrorKeyDeleted, reg().QueryValue(key, "v", &type, &data));
  EXPECT_EQ(kErrorKeyDeleted, reg().SetString(key, "w", "2"));
  EXPECT_EQ(kErrorKeyDeleted, reg().DeleteValue(key, "v"));
  EXPECT_EQ(kErrorKeyDeleted, reg().EnumKey(key, 0, &name));
  EXPECT_EQ(kErrorKeyDeleted, reg().EnumValue(key, 0, &name, &type, &data));
  EXPECT_EQ(kErrorKeyDeleted, reg().OpenKey(key, "", RegAccess::kRead, &other));
  EXPECT_EQ(kErrorKeyDeleted, reg().CreateKey(key, "x", RegAccess::kAll, &other, nullptr));
  // A new key of the same name is another key: the old handle stays dead.
  ASSERT_EQ(kErrorSuccess,
            reg().CreateKey(base(), "gone", RegAccess::kAll, ScopedRegKey(reg()).Out(), nullptr));
  EXPECT_EQ(kErrorKeyDeleted, reg().QueryValue(key, "v", &type, &data));

  EXPECT_EQ(kErrorSuccess, reg().CloseKey(key));
  EXPECT_EQ(kErrorInvalidHandle, reg().CloseKey(key));
}

TEST_F(RegistryContractTest, PredefinedKeys) {
  // Closing a hive does nothing: it stays usable.
  EXPECT_EQ(kErrorSuccess, reg().CloseKey(kHKeyCurrentUser));
  ScopedRegKey key(reg());
  EXPECT_EQ(kErrorSuccess,
            reg().OpenKey(kHKeyCurrentUser, machine_.ScratchKey(), RegAccess::kRead, key.Out()));
  EXPECT_EQ(kErrorSuccess, reg().CloseKey(kHKeyLocalMachine));
  EXPECT_EQ(kErrorSuccess, reg().OpenKey(kHKeyLocalMachine, "SOFTWARE", RegAccess::kRead,
                                         key.Out()));
  EXPECT_EQ(kErrorSuccess, reg().OpenKey(kHKeyCurrentConfig, "", RegAccess::kRead, key.Out()));
  EXPECT_EQ(kErrorSuccess, reg().OpenKey(kHKeyUsers, "", RegAccess::kRead, key.Out()));
  // A hive cannot be deleted.
  EXPECT_NE(kErrorSuccess, reg().DeleteKey(kHKeyCurrentUser, ""));
}

TEST_F(RegistryContractTest, ClassesRootIsAViewOfTheMachineClasses) {
#ifdef _WIN32
  // Without administrator rights Windows writes HKEY_CLASSES_ROOT to the
  // user's own classes, which HKLM does not show.
  if (!machine_.Get().environment.IsAdministrator()) GTEST_SKIP() << "needs administrator";
#endif
  std::string name = ".crxtest" + machine_.ScratchKey().substr(machine_.ScratchKey().rfind('\\') + 1);
  ScopedRegKey through_classes(reg());
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(kHKeyClassesRoot, name, RegAccess::kAll,
                                           through_classes.Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, reg().SetString(through_classes.Get(), "", "via classes"));

  ScopedRegKey through_machine(reg());
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(kHKeyLocalMachine, "Software\\Classes\\" + name,
                                         RegAccess::kAll, through_machine.Out()));
  std::string text;
  EXPECT_EQ(kErrorSuccess, reg().GetString(through_machine.Get(), "", &text));
  EXPECT_EQ("via classes", text);
  ASSERT_EQ(kErrorSuccess, reg().SetDword(through_machine.Get(), "n", 9));
  uint32_t n = 0;
  EXPECT_EQ(kErrorSuccess, reg().GetDword(through_classes.Get(), "n", &n));
  EXPECT_EQ(9u, n);

  through_classes.Reset();
  through_machine.Reset();
  EXPECT_EQ(kErrorSuccess, reg().DeleteTree(kHKeyClassesRoot, name));
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(kHKeyLocalMachine, "SOFTWARE\\Classes\\" + name,
                                              RegAccess::kRead, through_machine.Out()));
}

}  // namespace
}  // namespace crx
