// Compares the wildcard matcher with the system's directory search: files
// are created in a scratch folder and every pattern is listed with
// FindFirstFileA.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "common/winpath.h"

namespace crx {
namespace {

// Names whose short (8.3) form is the name itself, so that the search
// cannot find them through a generated short name.
const char* const kNames[] = {"abc", "abc.txt", "abc.t", "abcd.txt", "ab", "a", "a.b",
                              "readme", "test1.doc", "test12.doc", "x.c", "abcdefgh.txt",
                              "dat.dat", "q.tx"};

class ScratchFolder {
 public:
  ScratchFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%scrx_wild_%lu", temp,
                  static_cast<unsigned long>(GetCurrentProcessId()));
    path_ = name;
    CreateDirectoryA(path_.c_str(), nullptr);
    for (const char* n : kNames) {
      std::string file = path_ + "\\" + n;
      HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) ok_ = false;
      else CloseHandle(h);
    }
  }
  ~ScratchFolder() {
    for (const char* n : kNames) DeleteFileA((path_ + "\\" + n).c_str());
    RemoveDirectoryA(path_.c_str());
  }
  bool ok() const { return ok_; }

  std::set<std::string> Find(const std::string& pattern) const {
    std::set<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((path_ + "\\" + pattern).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
      std::string n = data.cFileName;
      if (n != "." && n != "..") found.insert(winpath::ToLowerAscii(n));
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return found;
  }

 private:
  std::string path_;
  bool ok_ = true;
};

std::set<std::string> Matched(const std::string& pattern) {
  std::set<std::string> found;
  for (const char* n : kNames) {
    if (winpath::MatchWildcard(pattern, n)) found.insert(n);
  }
  return found;
}

std::string Show(const std::set<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += n + " ";
  return out;
}

TEST(WildcardWin32, PatternsFindWhatTheSystemFinds) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const char* const kPatterns[] = {
      "*", "*.*", "*.txt", "*.TXT", "abc.*", "abc*", "a*", "*c", "*.t*", "*t",
      "a?c", "?", "test?.doc", "a*.b", "*b*", "abc.txt", "ABC.TXT", "*.dat",
      "dat.*", "x.*", "*x", "*.tx", "*.txt*", "abc.", "ab?.txt",
  };
  for (const char* pattern : kPatterns) {
    EXPECT_EQ(Show(Matched(pattern)), Show(folder.Find(pattern))) << "pattern " << pattern;
  }
  // Wine's search lets '?' match any one character, a dot included, and
  // never nothing (a file system with 8.3 names behaves the same in both). Windows rewrites every '?' of a search pattern into the
  // DOS form that matches no dot and matches nothing at a dot or at the end
  // of the name (so "???" finds names of up to three characters without an
  // extension). These rows give the Windows answer and what wine finds.
  struct Deviation {
    const char* pattern;
    const char* windows;
    const char* wine;
  };
  const Deviation kDeviations[] = {
      {"???", "a ab abc ", "a.b abc x.c "},
      {"?.?", "a a.b x.c ", "a.b x.c "},
      {"test??.doc", "test1.doc test12.doc ", "test12.doc "},
      {"*.?", "a a.b ab abc abc.t readme x.c ", "a.b abc.t x.c "},
      {"*.tx?", "abc.txt abcd.txt abcdefgh.txt q.tx ", "abc.txt abcd.txt abcdefgh.txt "},
      {"a?", "a ab ", "ab "},
      // A trailing dot matches the end of a name without an extension on
      // Windows ("*." lists such names); wine drops the dot and lists all.
      {"*.", "a ab abc readme ",
       "a a.b ab abc abc.t abc.txt abcd.txt abcdefgh.txt dat.dat q.tx readme test1.doc "
       "test12.doc x.c "},
  };
  for (const Deviation& d : kDeviations) {
    EXPECT_EQ(Show(Matched(d.pattern)), d.windows) << "pattern " << d.pattern;
    EXPECT_EQ(Show(folder.Find(d.pattern)), d.wine)
        << "pattern " << d.pattern << ": wine's search changed, recheck this row";
  }
}

}  // namespace
}  // namespace crx
