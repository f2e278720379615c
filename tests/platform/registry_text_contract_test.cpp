// Key paths and REGEDIT4 text over either registry implementation.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/registry_text.h"
#include "support/test_platform.h"

namespace crx {
namespace {

TEST(RegistryPathTest, HivesLongAndShort) {
  struct Case {
    const char* path;
    RegKey root;
    const char* sub_key;
  };
  const Case cases[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", kHKeyLocalMachine, "SOFTWARE\\X"},
      {"hklm\\Software", kHKeyLocalMachine, "Software"},
      {"HKCU", kHKeyCurrentUser, ""},
      {"HKEY_CURRENT_USER\\", kHKeyCurrentUser, ""},
      {"HKCR\\.txt\\", kHKeyClassesRoot, ".txt"},
      {"Hkey_Classes_Root\\a\\b\\\\", kHKeyClassesRoot, "a\\b"},
      {"HKU\\.DEFAULT", kHKeyUsers, ".DEFAULT"},
      {"HKEY_USERS", kHKeyUsers, ""},
      {"HKCC\\System", kHKeyCurrentConfig, "System"},
      {"HKEY_CURRENT_CONFIG\\x", kHKeyCurrentConfig, "x"},
  };
  for (const Case& c : cases) {
    RegKey root = 0;
    std::string sub_key = "sentinel";
    EXPECT_TRUE(ParseRegistryPath(c.path, &root, &sub_key)) << c.path;
    EXPECT_EQ(c.root, root) << c.path;
    EXPECT_EQ(c.sub_key, sub_key) << c.path;
  }
  for (const char* bad : {"", "\\HKLM\\x", "HKLMX\\y", "HKEY_LOCAL", "SOFTWARE\\X", "HKLM/x"}) {
    RegKey root = 0;
    std::string sub_key;
    EXPECT_FALSE(ParseRegistryPath(bad, &root, &sub_key)) << bad;
  }
  EXPECT_STREQ("HKEY_CLASSES_ROOT", RegistryRootName(kHKeyClassesRoot));
  EXPECT_STREQ("HKEY_CURRENT_CONFIG", RegistryRootName(kHKeyCurrentConfig));
  EXPECT_STREQ("", RegistryRootName(0x1234));
}

class RegistryTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    path_ = "HKEY_CURRENT_USER\\" + machine_.ScratchKey();
  }
  Registry& reg() { return machine_.Get().registry; }

  test::TestPlatform machine_;
  std::string path_;
};

TEST_F(RegistryTextTest, ExportWritesRegedit4) {
  ScopedRegKey top(reg());
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(kHKeyCurrentUser, machine_.ScratchKey(),
                                           RegAccess::kAll, top.Out(), nullptr));
  // Written in name order, so that the export is the same where values
  // enumerate sorted by name (wine) and where they keep their first-write
  // order.
  ASSERT_EQ(kErrorSuccess, reg().SetString(top.Get(), "", "C:\\Program Files\\\"x\""));
  const char bin[] = {0x00, 0x01, static_cast<char>(0xff)};
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "b", kRegBinary, bin, 3));
  // A string with a line break has no text form.
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "crlf", kRegSz, "a\r\n\0", 4));
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "e", kRegExpandSz, "%a%\0", 4));
  // Long binary data is broken into lines of at most 80 characters.
  std::string long_data(40, '\x11');
  ASSERT_EQ(kErrorSuccess,
            reg().SetValue(top.Get(), "long", kRegBinary, long_data.data(), long_data.size()));
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "m", kRegMultiSz, "a\0b\0\0", 5));
  ASSERT_EQ(kErrorSuccess, reg().SetDword(top.Get(), "n", 0x1a2b));
  ASSERT_EQ(kErrorSuccess, reg().SetString(top.Get(), "na\"me\\", "v"));
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(top.Get(), "Sub\\Deeper", RegAccess::kAll,
                                           ScopedRegKey(reg()).Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(top.Get(), "a", RegAccess::kAll,
                                           ScopedRegKey(reg()).Out(), nullptr));

  std::string text, error;
  ASSERT_TRUE(ExportRegistryText(reg(), "HKCU\\" + machine_.ScratchKey() + "\\", &text, &error))
      << error;
  const std::string expected =
      "REGEDIT4\r\n"
      "\r\n"
      "[" + path_ + "]\r\n"
      "@=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
      "\"b\"=hex:00,01,ff\r\n"
      "\"crlf\"=hex(1):61,0d,0a,00\r\n"
      "\"e\"=hex(2):25,61,25,00\r\n"
      "\"long\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
      "  11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11\r\n"
      "\"m\"=hex(7):61,00,62,00,00\r\n"
      "\"n\"=dword:00001a2b\r\n"
      "\"na\\\"me\\\\\"=\"v\"\r\n"
      "\r\n"
      "[" + path_ + "\\a]\r\n"
      "\r\n"
      "[" + path_ + "\\Sub]\r\n"
      "\r\n"
      "[" + path_ + "\\Sub\\Deeper]\r\n"
      "\r\n";
  EXPECT_EQ(expected, text);
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t end = text.find("\r\n", line_start);
    ASSERT_NE(std::string::npos, end);
    EXPECT_LE(end - line_start, 80u) << text.substr(line_start, end - line_start);
    line_start = end + 2;
  }

  error.clear();
  EXPECT_FALSE(ExportRegistryText(reg(), path_ + "\\missing", &text, &error));
  EXPECT_NE(std::string::npos, error.find("missing")) << error;
  error.clear();
  EXPECT_FALSE(ExportRegistryText(reg(), "HKXX\\Software", &text, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(RegistryTextTest, ImportGivesBackWhatExportWrote) {
  ScopedRegKey top(reg());
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(kHKeyCurrentUser, machine_.ScratchKey() + "\\t",
                                           RegAccess::kAll, top.Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, reg().SetString(top.Get(), "", "default \\ \"q\""));
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "raw", kRegSz, "no zero", 7));
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "empty", kRegBinary, "", 0));
  ASSERT_EQ(kErrorSuccess, reg().SetDword(top.Get(), "Dw", 0xffffffffu));
  std::string big(300, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i);
  ASSERT_EQ(kErrorSuccess, reg().SetValue(top.Get(), "big", kRegNone, big.data(), big.size()));
  ASSERT_EQ(kErrorSuccess, reg().CreateKey(top.Get(), "child\\grandchild", RegAccess::kAll,
                                           ScopedRegKey(reg()).Out(), nullptr));
  top.Reset();

  std::string before, after, error;
  ASSERT_TRUE(ExportRegistryText(reg(), path_ + "\\t", &before, &error)) << error;
  ASSERT_EQ(kErrorSuccess, reg().DeleteTree(kHKeyCurrentUser, machine_.ScratchKey() + "\\t"));
  ASSERT_TRUE(ImportRegistryText(reg(), before, &error)) << error;
  ASSERT_TRUE(ExportRegistryText(reg(), path_ + "\\t", &after, &error)) << error;
  EXPECT_EQ(before, after);
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kErrorSuccess, reg().OpenKey(kHKeyCurrentUser, machine_.ScratchKey() + "\\t",
                                         RegAccess::kAll, top.Out()));
  EXPECT_EQ(kErrorSuccess, reg().QueryValue(top.Get(), "big", &type, &data));
  EXPECT_EQ(big, data);

  // Hand-written text: LF line ends, short hive names, comments, deletions.
  const std::string edit =
      "REGEDIT4\n"
      "; a comment\n"
      "[HKCU\\" + machine_.ScratchKey() + "\\t]\n"
      "\"Dw\"=-\n"
      "\"new\"=hex:01,\\\n"
      "   02,03\n"
      "\"s\" = \"x\"\n"
      "[-HKCU\\" + machine_.ScratchKey() + "\\t\\child]\n"
      "[-HKCU\\" + machine_.ScratchKey() + "\\t\\never was]\n";
  ASSERT_TRUE(ImportRegistryText(reg(), edit, &error)) << error;
  EXPECT_EQ(kErrorFileNotFound, reg().QueryValue(top.Get(), "Dw", &type, &data));
  EXPECT_EQ(kErrorSuccess, reg().QueryValue(top.Get(), "new", &type, &data));
  EXPECT_EQ(std::string("\x01\x02\x03", 3), data);
  EXPECT_EQ(kErrorSuccess, reg().QueryValue(top.Get(), "s", &type, &data));
  EXPECT_EQ(std::string("x\0", 2), data);
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(top.Get(), "child", RegAccess::kRead,
                                              ScopedRegKey(reg()).Out()));
}

TEST_F(RegistryTextTest, BadTextChangesNothing) {
  const std::string section = "[HKCU\\" + machine_.ScratchKey() + "\\bad]\r\n";
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"REGEDIT5\r\n\r\n" + section, "REGEDIT4"},
      {"", "REGEDIT4"},
      {"REGEDIT4\r\n\"v\"=\"x\"\r\n", "line 2"},
      {"REGEDIT4\r\n" + section + "\"v\"=\"unterminated\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "\"v\"=dword:123456789\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "\"v\"=dword:xyz\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "\"v\"=hex:01,zz\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "\"v\"=hex(q):01\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "\"v\"=text\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "v=\"x\"\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "[HKXX\\y]\r\n", "line 3"},
      {"REGEDIT4\r\n" + section + "[HKCU\\y\r\n", "line 3"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ImportRegistryText(reg(), c.text, &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.message)) << c.text << " gave " << error;
    // The section line before the mistake did not create the key.
    EXPECT_EQ(kErrorFileNotFound,
              reg().OpenKey(kHKeyCurrentUser, machine_.ScratchKey() + "\\bad", RegAccess::kRead,
                            ScopedRegKey(reg()).Out()))
        << c.text;
  }
}

}  // namespace
}  // namespace crx
