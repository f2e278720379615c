// Compares the profile reader with GetPrivateProfileStringA and
// GetPrivateProfileIntA on files written to the temporary folder.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/profile.h"

namespace crx {
namespace {

class ProfileFile {
 public:
  explicit ProfileFile(const std::string& text) {
    // A new name for every file: the system caches profiles by name.
    static int counter = 0;
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%scrx_profile_%lu_%d.ini", folder,
                  static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
    path_ = name;
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ok_ = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
      CloseHandle(h);
    }
  }
  ~ProfileFile() { DeleteFileA(path_.c_str()); }
  bool ok() const { return ok_; }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
  bool ok_ = false;
};

// The system's answer, checking that it wrote nothing past size bytes.
std::string SystemString(const ProfileFile& file, const char* section, const char* key,
                         const char* default_value, DWORD size) {
  std::vector<char> buffer(size + 8, '#');
  DWORD n = GetPrivateProfileStringA(section, key, default_value, buffer.data(), size,
                                     file.path());
  for (size_t i = size; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], '#') << "write past the buffer of " << size;
  }
  if (size == 0) return std::string();
  std::string value(buffer.data());
  EXPECT_EQ(n, value.size());
  return value;
}

const char kText[] =
    "junk before any section\r\n"
    "k=outside\r\n"
    "[Cratex]\r\n"
    "password=secret\r\n"
    "  Spaced Key  =   spaced value   \r\n"
    "dq=\"quoted value\"\r\n"
    "sq='single'\r\n"
    "mixed=\"mixed'\r\n"
    "half=\"open\r\n"
    "inner=a \"b\" c\r\n"
    "lone=\"\r\n"
    "emptyq=\"\"\r\n"
    "empty=\r\n"
    "noequals\r\n"
    "dup=first\r\n"
    "DUP=second\r\n"
    "eq=a=b\r\n"
    "dash=-\r\n"
    "tab=\tx\t\r\n"
    "long=0123456789012345678901234567890123456789\r\n"
    "qlong=\"0123456789\"\r\n"
    "; comment=not a key\r\n"
    "[Other]\n"
    "password=other\n"
    "num=42\n"
    "neg=-17\n"
    "plus=+5\n"
    "hex=0x1F\n"
    "HEXU=0X1F\n"
    "oct=0o17\n"
    "bin=0b101\n"
    "lead=12abc\n"
    "text=abc\n"
    "empty=\n"
    "qnum=\" 7\"\n"
    "big=4294967297\n"
    "minus1=4294967295\n"
    "  [ Spaced ]  \n"
    "x=spaced section\n"
    "[cratex]\n"
    "later=only in the second section\n"
    "[Trailing] junk\n"
    "t=1\n"
    "[a]b]\n"
    "c=d\n"
    "[noclose\n"
    "e=f\n";

TEST(ProfileWin32, StringsMatchTheSystem) {
  ProfileFile file(kText);
  ASSERT_TRUE(file.ok());
  Profile profile(kText);
  const char* const kSections[] = {"Cratex", "CRATEX", " cratex ", "Other", "Spaced",
                                   " Spaced ", "Trailing", "a]b", "a", "noclose",
                                   "missing", ""};
  const char* const kKeys[] = {"password", "Spaced Key", "spaced key ", "dq", "sq",
                               "mixed", "half", "inner", "lone", "emptyq", "empty",
                               "noequals", "dup", "eq", "dash", "tab", "long", "qlong",
                               "; comment", "later", "x", "t", "c", "e", "k", "missing",
                               "num", "hex"};
  const char* const kDefaults[] = {"-", "def  ", "  ", "\"q\"", ""};
  const DWORD kSizes[] = {1, 2, 4, 11, 12, 13, 32, 256};
  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      for (const char* def : kDefaults) {
        for (DWORD size : kSizes) {
          EXPECT_EQ(profile.GetString(section, key, def, size),
                    SystemString(file, section, key, def, size))
              << "[" << section << "] " << key << " default [" << def << "] size " << size;
        }
      }
    }
  }
}

TEST(ProfileWin32, IntegersMatchTheSystem) {
  ProfileFile file(kText);
  ASSERT_TRUE(file.ok());
  Profile profile(kText);
  const char* const kKeys[] = {"num", "neg", "plus", "hex", "HEXU", "oct", "bin", "lead",
                               "text", "empty", "qnum", "big", "minus1", "missing",
                               "password"};
  for (const char* key : kKeys) {
    for (int def : {-1, 0, 99}) {
      EXPECT_EQ(profile.GetInt("Other", key, def),
                static_cast<int>(GetPrivateProfileIntA("Other", key, def, file.path())))
          << key << " default " << def;
    }
  }
  EXPECT_EQ(profile.GetInt("Cratex", "long", 5),
            static_cast<int>(GetPrivateProfileIntA("Cratex", "long", 5, file.path())));
  EXPECT_EQ(profile.GetInt("nope", "num", 5),
            static_cast<int>(GetPrivateProfileIntA("nope", "num", 5, file.path())));
}

TEST(ProfileWin32, LineEndingsAndWhiteSpaceMatchTheSystem) {
  const char* const kTexts[] = {
      "[S]\nk=v\n",
      "[S]\r\nk=v",
      "\xEF\xBB\xBF[S]\r\nk=v\r\n",
      "  [S]  \r\n\t k \t=\t v \t\r\n",
      "[S]\r\nk=v\x1a",
      "[S]\r\nk\r\n=v\r\n",
      "[S]\r\n=v\r\nk=w\r\n",
      "[S]\r\n[S]\r\nk=v\r\n",
      "[]\r\nk=v\r\n[S]\r\nk=w\r\n",
      "k=lead\r\n[]\r\nk=v\r\n[S]\r\nk=w\r\n",
      "[ ]\r\nk=v\r\n",
  };
  for (const char* text : kTexts) {
    ProfileFile file(text);
    ASSERT_TRUE(file.ok());
    Profile profile(text);
    for (const char* section : {"S", ""}) {
      for (const char* key : {"k", "K", " k "}) {
        EXPECT_EQ(profile.GetString(section, key, "none", 64),
                  SystemString(file, section, key, "none", 64))
            << "text [" << text << "] [" << section << "] key [" << key << "]";
      }
    }
  }
}

}  // namespace
}  // namespace crx
