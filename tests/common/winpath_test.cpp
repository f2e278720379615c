#include "common/winpath.h"

#include <gtest/gtest.h>

namespace crx {
namespace {

using namespace winpath;

TEST(WinPath, RootsAndKinds) {
  struct Case {
    const char* path;
    const char* root;
    const char* without_root;
    bool absolute;
    bool unc;
  };
  const Case kCases[] = {
      {"C:\\a\\b", "C:\\", "a\\b", true, false},
      {"c:/a/b", "c:\\", "a/b", true, false},
      {"C:a\\b", "C:", "a\\b", false, false},
      {"C:", "C:", "", false, false},
      {"\\a\\b", "\\", "a\\b", false, false},
      {"/a", "\\", "a", false, false},
      {"a\\b", "", "a\\b", false, false},
      {"", "", "", false, false},
      {"\\\\server\\share\\dir\\f", "\\\\server\\share\\", "dir\\f", true, true},
      {"//server/share/dir", "\\\\server\\share\\", "dir", true, true},
      {"\\\\server\\share", "\\\\server\\share", "", true, true},
      {"\\\\server", "\\\\server", "", true, true},
      {"\\\\", "\\", "\\", false, false},
      {"1:\\x", "", "1:\\x", false, false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Root(c.path), c.root) << c.path;
    EXPECT_EQ(WithoutRoot(c.path), c.without_root) << c.path;
    EXPECT_EQ(IsAbsolute(c.path), c.absolute) << c.path;
    EXPECT_EQ(IsUnc(c.path), c.unc) << c.path;
  }
  EXPECT_TRUE(HasDriveLetter("z:"));
  EXPECT_FALSE(HasDriveLetter("\\C:"));
}

TEST(WinPath, ElementsParentsAndExtensions) {
  struct Case {
    const char* path;
    const char* last;
    const char* parent;
    const char* extension;
  };
  const Case kCases[] = {
      {"C:\\a\\b.txt", "b.txt", "C:\\a", ".txt"},
      {"C:\\b.txt", "b.txt", "C:\\", ".txt"},
      {"C:/a/b", "b", "C:\\a", ""},
      {"C:\\a\\", "", "C:\\a", ""},
      {"C:\\a\\\\b", "b", "C:\\a", ""},
      {"C:\\", "", "C:\\", ""},
      {"C:a", "a", "C:", ""},
      {"b.txt", "b.txt", "", ".txt"},
      {"dir\\x.tar.gz", "x.tar.gz", "dir", ".gz"},
      {"dir.d\\noext", "noext", "dir.d", ""},
      {"\\\\srv\\share\\f.ini", "f.ini", "\\\\srv\\share\\", ".ini"},
      {"\\\\srv\\share", "", "\\\\srv\\share", ""},
      {"\\x", "x", "\\", ""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(LastElement(c.path), c.last) << c.path;
    EXPECT_EQ(Parent(c.path), c.parent) << c.path;
    EXPECT_EQ(Extension(c.path), c.extension) << c.path;
  }
  EXPECT_EQ(Elements("C:\\a\\\\b/c\\"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Elements("\\\\srv\\share\\x"), (std::vector<std::string>{"x"}));
  EXPECT_TRUE(Elements("C:\\").empty());
  // Views into the path, into a vector used before: longer elements, then fewer.
  std::vector<std::string_view> views;
  const std::string first = "C:\\a long first element\\b/c\\d";
  ElementViews(first, &views);
  EXPECT_EQ(views, (std::vector<std::string_view>{"a long first element", "b", "c", "d"}));
  EXPECT_EQ(views[1].data(), first.data() + 24);
  const std::string second = "D:/x\\yy\\";
  ElementViews(second, &views);
  EXPECT_EQ(views, (std::vector<std::string_view>{"x", "yy"}));
  ElementViews("C:\\", &views);
  EXPECT_TRUE(views.empty());
}

TEST(WinPath, JoinStripAndNormalize) {
  EXPECT_EQ(Join("C:\\a", "b"), "C:\\a\\b");
  EXPECT_EQ(Join("C:\\a\\", "b"), "C:\\a\\b");
  EXPECT_EQ(Join("C:\\a/", "\\b"), "C:\\a\\b");
  EXPECT_EQ(Join("C:\\", "b"), "C:\\b");
  EXPECT_EQ(Join("", "b/c"), "b/c");
  EXPECT_EQ(Join("C:/a/", ""), "C:/a/");

  EXPECT_EQ(StripTrailingSeparator("C:\\a\\\\"), "C:\\a");
  EXPECT_EQ(StripTrailingSeparator("C:\\\\"), "C:\\");
  EXPECT_EQ(StripTrailingSeparator("C:\\"), "C:\\");
  EXPECT_EQ(StripTrailingSeparator("\\"), "\\");
  EXPECT_EQ(StripTrailingSeparator("\\\\srv\\share\\"), "\\\\srv\\share\\");
  EXPECT_EQ(StripTrailingSeparator("a/"), "a");
  EXPECT_EQ(ToBackslashes("a/b\\c/"), "a\\b\\c\\");

  struct Case {
    const char* path;
    const char* normal;
  };
  const Case kCases[] = {
      {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"},
      {"C:/a/b/../../..", "C:\\"},
      {"C:\\..\\x", "C:\\x"},
      {"C:\\a\\", "C:\\a"},
      {"C:\\", "C:\\"},
      {"C:a\\..\\b", "C:b"},
      {"\\\\srv\\share\\..\\x\\.", "\\\\srv\\share\\x"},
      {"\\a\\..\\..\\b", "\\b"},
      {"a\\..\\..\\b", "..\\b"},
      {"..\\..\\a", "..\\..\\a"},
      {"a\\...\\b", "a\\...\\b"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Normalize(c.path), c.normal) << c.path;
}

TEST(WinPath, CaseInsensitiveComparison) {
  EXPECT_TRUE(EqualsNoCase("C:\\Program Files", "c:\\PROGRAM FILES"));
  EXPECT_FALSE(EqualsNoCase("abc", "abd"));
  EXPECT_FALSE(EqualsNoCase("abc", "ab"));
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("b", "A"), 0);
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  EXPECT_EQ(CompareNoCase("", ""), 0);
  // Only ASCII letters fold; other bytes compare as unsigned values.
  EXPECT_FALSE(EqualsNoCase("\xe9", "\xc9"));
  EXPECT_GT(CompareNoCase("\xe9", "z"), 0);
  EXPECT_EQ(ToUpperAscii("a-z_\xe9"), "A-Z_\xe9");
  EXPECT_EQ(ToLowerAscii("A-Z@["), "a-z@[");
}

TEST(WinPath, WildcardsFollowTheDirectorySearch) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case kCases[] = {
      {"*", "anything.at.all", true},
      {"*.*", "noext", true},
      {"*.*", "a.b", true},
      {"*.txt", "readme.TXT", true},
      {"*.txt", "a.b.txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "txt", false},
      {"*.", "noext", true},
      {"*.", "a.b", false},
      {"abc.*", "abc", true},
      {"abc.*", "abc.d.e", true},
      {"abc.", "abc", true},
      {"a?c", "abc", true},
      {"a?c", "a.c", false},   // '?' never matches a dot
      {"a?", "a", true},       // nor needs a character at the end
      {"???", "ab", true},
      {"???", "abcd", false},
      {"???", "a.b", false},
      {"test??.doc", "test1.doc", true},  // at a dot either
      {"test?.doc", "test12.doc", false},
      {"?.?", "a", true},
      {"*.?", "abc", true},
      {"*.?", "a.bc", false},
      {"a*b", "a.x.b", true},
      {"a*b*c", "aXbYbZc", true},
      {"*a", "baba", true},
      {"*a", "bac", false},
      {"", "", true},
      {"", "a", false},
      {"ABC", "abc", true},
      {"ab", "abc", false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
  }
}

TEST(WinPath, ShortNames) {
  for (const char* name : {"A", "README", "ABCDEFGH.TXT", "x.c", "12345678.123", "A_B-C.$$$",
                           "SETUP~1.EXE"}) {
    EXPECT_TRUE(IsShortName(name)) << name;
  }
  for (const char* name : {"", ".", "..", "ABCDEFGHI", "A.TEXT", "A B.TXT", "A.B.C", ".ini",
                           "NAME.", "A+B", "A,B", "A;B", "A=B", "A[1]", "A\"B", "A*", "A?",
                           "A\\B", "A/B", "A:B", "A|B", "A<B", "tab\tx"}) {
    EXPECT_FALSE(IsShortName(name)) << name;
  }
}

}  // namespace
}  // namespace crx
