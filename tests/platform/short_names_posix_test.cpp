// 8.3 names on the emulated machine: the aliases Windows would give, found
// again when a path names them, and made anew when a file is renamed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/format.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

std::string Short(FileSystem& fs, const std::string& path) {
  std::string s;
  return fs.ShortPath(path, &s) ? s : "<none>";
}

TEST(ShortNamesTest, AliasesFollowTheWindowsPattern) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  EXPECT_EQ("C:\\PROGRA~1", Short(fs, "C:\\Program Files"));
  EXPECT_EQ("C:\\PROGRA~1\\COMMON~1", Short(fs, "C:\\Program Files\\Common Files"));
  EXPECT_EQ("C:\\WINDOWS\\system32", Short(fs, "C:\\WINDOWS\\system32"));

  const std::string d = tp.Scratch();
  const std::string prefix = Short(fs, d);
  struct Case {
    const char* name;
    const char* alias;
  } cases[] = {
      {"readme.txt", "readme.txt"},          // already 8.3: kept as it is
      {"Program Data", "PROGRA~1"},          // blanks dropped, upper case
      {"Programmer Notes", "PROGRA~2"},      // collision: the next number
      {"a+b=c.text", "A_B_C~1.TEX"},         // characters 8.3 refuses, extension cut
      {".profile", "PROFIL~1"},              // nothing before the dot
      {"archive.tar.gz", "ARCHIV~1.GZ"},     // the last dot starts the extension
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteWholeFile(fs, d + "\\" + c.name, c.name)) << c.name;
    EXPECT_EQ(prefix + "\\" + c.alias, Short(fs, d + "\\" + c.name)) << c.name;
  }
  // From the tenth collision on, the base gives up one more character.
  for (int i = 1; i <= 10; ++i) {
    ASSERT_TRUE(WriteWholeFile(fs, d + Format("\\Long Report %02d.text", i), "r"));
  }
  EXPECT_EQ(prefix + "\\LONGRE~9.TEX", Short(fs, d + "\\Long Report 09.text"));
  EXPECT_EQ(prefix + "\\LONGR~10.TEX", Short(fs, d + "\\Long Report 10.text"));
}

TEST(ShortNamesTest, AliasesNameTheirFilesAndFollowRenames) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  FileSystem& fs = tp.Get().files;
  const std::string folder = tp.Scratch() + "\\My Application";
  ASSERT_TRUE(fs.CreateFolder(folder));
  const std::string file = folder + "\\Long Library.dll";
  ASSERT_TRUE(WriteWholeFile(fs, file, "library"));
  const std::string short_file = Short(fs, file);
  ASSERT_EQ(Short(fs, tp.Scratch()) + "\\MYAPPL~1\\LONGLI~1.DLL", short_file);

  // Every call takes the short form as well as the long one.
  EXPECT_EQ("library", ReadWholeFile(fs, short_file));
  EXPECT_TRUE(fs.IsFolder(Short(fs, folder)));
  EXPECT_EQ(short_file, Short(fs, short_file));
  EXPECT_EQ(short_file, Short(fs, Short(fs, folder) + "\\Long Library.dll"));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs.ListFolder(Short(fs, folder) + "\\*.DLL", &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("Long Library.dll", entries[0].name);
  EXPECT_EQ("LONGLI~1.DLL", entries[0].short_name);
  ASSERT_TRUE(fs.ListFolder(Short(fs, folder) + "\\LONGLI~1.*", &entries));
  EXPECT_EQ(1u, entries.size());

  // A file renamed gets the alias of its new name, not the one it had.
  ASSERT_TRUE(WriteWholeFile(fs, folder + "\\Long Library.dll.7f.tmp", "copy"));
  EXPECT_EQ(Short(fs, folder) + "\\LONGLI~1.TMP", Short(fs, folder + "\\Long Library.dll.7f.tmp"));
  ASSERT_TRUE(fs.DeleteFile(file));
  ASSERT_TRUE(fs.MoveFile(folder + "\\Long Library.dll.7f.tmp", file));
  EXPECT_EQ(short_file, Short(fs, file));
  EXPECT_EQ("copy", ReadWholeFile(fs, short_file));
  // Creating a file by an alias's spelling opens the file it names, as on
  // Windows.
  ASSERT_TRUE(WriteWholeFile(fs, folder + "\\longli~1.dll", "through the alias"));
  EXPECT_EQ("through the alias", ReadWholeFile(fs, file));
  ASSERT_TRUE(fs.ListFolder(folder + "\\*.*", &entries));
  EXPECT_EQ(1u, entries.size());
}

}  // namespace
}  // namespace crx
