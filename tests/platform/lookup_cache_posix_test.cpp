// The emulated machine's lookup cache as the extractor uses it (look at a
// name, create a temporary file beside it, rename that over it), names
// that differ only in case, 8.3 aliases after the cache is current, and
// share modes across every pair of accesses and sharings, and copies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/format.h"
#include "support/machine_folder_fixture.h"

namespace crx {
namespace {

class LookupCacheTest : public test::MachineFolderTest {
 protected:
  // The host name a Windows path resolves to ("" when it names nothing).
  std::string Found(const std::string& path) {
    ResolvedPath p;
    uint32_t error = 0;
    if (!machine_->Resolve(path, &p, &error) || !p.exists) return "";
    return p.leaf;
  }
};

TEST_F(LookupCacheTest, ExtractingIntoAFolderReadsItsNamesOnce) {
  const size_t before = machine_->FolderReads();
  for (int i = 0; i < 50; ++i) {
    const std::string target = Format("C:\\Dir\\File%d.txt", i);
    const std::string temporary = Format("C:\\Dir\\~crx1234%04x.tmp", i);
    EXPECT_EQ(kInvalidAttributes, files_->GetAttributes(target));
    ASSERT_TRUE(WriteNew(temporary, Format("member %d", i)));
    ASSERT_TRUE(files_->ReplaceFile(temporary, target)) << LastError();
    if (i % 10 == 9) {
      ASSERT_TRUE(files_->MoveFile(target, Format("C:\\Dir\\Moved%d.txt", i)));
      ASSERT_TRUE(files_->DeleteFile(Format("C:\\Dir\\File%d.txt", i - 1)));
    }
  }
  EXPECT_LE(machine_->FolderReads() - before, 1u);
  // What the cache holds is what the folder holds.
  EXPECT_EQ("File7.txt", Found("C:\\DIR\\FILE7.TXT"));
  EXPECT_EQ("Moved19.txt", Found("c:\\dir\\moved19.TXT"));
  EXPECT_EQ("", Found("C:\\Dir\\FILE19.TXT"));
  EXPECT_EQ("", Found("C:\\Dir\\file18.txt"));
  EXPECT_EQ("", Found("C:\\Dir\\~CRX12340003.TMP"));
  // Another process's change is seen all the same.
  std::ofstream(Host("Beside.txt")) << "x";
  EXPECT_EQ("Beside.txt", Found("C:\\Dir\\BESIDE.TXT"));
}

TEST_F(LookupCacheTest, NamesThatDifferOnlyInCaseStayFound) {
  std::ofstream(Host("twin.txt")) << "lower";
  std::ofstream(Host("TWIN.txt")) << "upper";
  EXPECT_NE("", Found("C:\\Dir\\Twin.TXT"));
  // Deleting one spelling leaves the other to be found in any case.
  ASSERT_TRUE(files_->DeleteFile("C:\\Dir\\twin.txt"));
  EXPECT_EQ("TWIN.txt", Found("C:\\Dir\\tWin.Txt"));
  // A change of case only renames the file to the spelling given.
  ASSERT_TRUE(files_->MoveFile("C:\\Dir\\TWIN.txt", "C:\\Dir\\Twin.txt"));
  EXPECT_EQ("Twin.txt", Found("C:\\Dir\\TWIN.TXT"));
  EXPECT_EQ("", Found("C:\\Dir\\Other.txt"));
  ASSERT_TRUE(files_->MoveFile("C:\\Dir\\twin.TXT", "C:\\Dir\\Other.txt"));
  EXPECT_EQ("", Found("C:\\Dir\\TWIN.txt"));
  EXPECT_EQ("Other.txt", Found("C:\\Dir\\OTHER.TXT"));
  EXPECT_EQ(0, ::access(Host("Other.txt").c_str(), F_OK));
}

// A new file is made exclusively: any spelling of a name this process
// knows, and a name another program made since, is refused.
TEST_F(LookupCacheTest, MakingANewFileRefusesEveryExistingName) {
  ASSERT_TRUE(WriteNew("C:\\Dir\\Made.txt", "first"));
  EXPECT_FALSE(files_->Open("C:\\Dir\\MADE.TXT", kAccessWrite, kShareNone,
                            Disposition::kCreateNew));
  EXPECT_EQ(kErrorFileExists, LastError());
  std::ofstream(Host("Other.txt")) << "theirs";
  EXPECT_FALSE(files_->Open("C:\\Dir\\Other.txt", kAccessWrite, kShareNone,
                            Disposition::kCreateNew));
  EXPECT_EQ(kErrorFileExists, LastError());
  std::ifstream in(Host("Other.txt"));
  std::string kept;
  in >> kept;
  EXPECT_EQ("theirs", kept);
}

// Files opened for reading are opened by the path as given; when that
// finds nothing, the path is looked up, so other spellings of the folders
// and the file are found and the error names what is missing.
TEST_F(LookupCacheTest, ReadingOpensFindEverySpellingAndSayWhatIsMissing) {
  ASSERT_TRUE(files_->CreateFolder("C:\\Dir\\Sub"));
  ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\Read.txt", "data"));
  for (const char* path : {"C:\\Dir\\Sub\\Read.txt", "c:\\DIR\\sub\\READ.TXT"}) {
    std::unique_ptr<File> f =
        files_->Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(f) << path << " error " << LastError();
    char buf[8];
    size_t got = 0;
    ASSERT_TRUE(f->Read(buf, sizeof buf, &got));
    EXPECT_EQ("data", std::string(buf, got));
  }
  const struct {
    const char* path;
    uint32_t error;
  } refused[] = {{"C:\\Dir\\Sub\\None.txt", kErrorFileNotFound},
                 {"C:\\Dir\\None\\Read.txt", kErrorPathNotFound},
                 {"C:\\Dir\\Sub\\Read.txt\\x", kErrorPathNotFound},
                 {"C:\\Dir\\SUB", kErrorAccessDenied},
                 // A trailing separator names a folder, never the file.
                 {"C:\\Dir\\Sub\\Read.txt\\", kErrorInvalidName},
                 {"C:\\Dir\\Sub\\Read.txt/", kErrorInvalidName}};
  for (const auto& r : refused) {
    EXPECT_FALSE(files_->Open(r.path, kAccessRead, kShareRead, Disposition::kOpenExisting))
        << r.path;
    EXPECT_EQ(r.error, LastError()) << r.path;
  }
  EXPECT_FALSE(files_->Open("C:\\Dir\\Sub\\New.txt\\", kAccessWrite, kShareNone,
                            Disposition::kCreateNew));
  EXPECT_EQ(kErrorInvalidName, LastError());
  EXPECT_NE(0, ::access(Host("Sub/New.txt").c_str(), F_OK));
}

TEST_F(LookupCacheTest, ShortAliasesAreFoundWhileTheCacheIsCurrent) {
  ASSERT_TRUE(WriteNew("C:\\Dir\\A long file name.text", "long"));
  EXPECT_EQ("", Found("C:\\Dir\\missing"));  // the folder's names are read now
  std::string alias;
  for (const auto& [name, short_name] : Machine::ShortNames(Host(""))) {
    if (name == "A long file name.text") alias = short_name;
  }
  ASSERT_FALSE(alias.empty());
  EXPECT_EQ("A long file name.text", Found("C:\\Dir\\" + alias));
}

TEST_F(LookupCacheTest, EveryPairOfAccessesAndSharingsFollowsTheRule) {
  const std::string path = "C:\\Dir\\shared.bin";
  ASSERT_TRUE(WriteNew(path, "x"));
  const uint32_t accesses[] = {kAccessRead, kAccessWrite, kAccessRead | kAccessWrite};
  const uint32_t shares[] = {kShareNone,
                             kShareRead,
                             kShareWrite,
                             kShareDelete,
                             kShareRead | kShareWrite,
                             kShareRead | kShareDelete,
                             kShareWrite | kShareDelete,
                             kShareRead | kShareWrite | kShareDelete};
  auto allows = [](uint32_t access, uint32_t share) {
    return (!(access & kAccessRead) || (share & kShareRead)) &&
           (!(access & kAccessWrite) || (share & kShareWrite));
  };
  for (uint32_t a1 : accesses) {
    for (uint32_t s1 : shares) {
      std::unique_ptr<File> first = files_->Open(path, a1, s1, Disposition::kOpenExisting, 0);
      ASSERT_TRUE(first);
      for (uint32_t a2 : accesses) {
        for (uint32_t s2 : shares) {
          const bool expected = allows(a2, s1) && allows(a1, s2);
          std::unique_ptr<File> second =
              files_->Open(path, a2, s2, Disposition::kOpenExisting, 0);
          EXPECT_EQ(expected, second != nullptr)
              << "open " << a1 << "/" << s1 << ", then " << a2 << "/" << s2;
          if (!second) {
            EXPECT_EQ(kErrorSharingViolation, LastError());
          }
        }
      }
      const bool deletable = (s1 & kShareDelete) != 0;
      EXPECT_EQ(deletable, files_->MoveFile(path, "C:\\Dir\\renamed.bin"));
      if (deletable) {
        ASSERT_TRUE(files_->MoveFile("C:\\Dir\\renamed.bin", path));
      }
    }
  }
}

TEST_F(LookupCacheTest, CopiesKeepDataTimeAndAttributes) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537},
                      size_t{200000}}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + i % 23);
    const std::string from = Format("C:\\Dir\\src%zu", size);
    const std::string to = Format("C:\\Dir\\copy%zu", size);
    ASSERT_TRUE(WriteNew(from, data));
    ASSERT_TRUE(files_->SetLastWriteTime(from, UnixToFileTime(1500000000, 100)));
    ASSERT_TRUE(files_->CopyFile(from, to, true)) << size;
    std::ifstream in(Host(Format("copy%zu", size)), std::ios::binary);
    const std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(copied == data) << size;
    FileTime time = 0;
    ASSERT_TRUE(files_->GetLastWriteTime(to, &time));
    EXPECT_EQ(UnixToFileTime(1500000000, 100), time);
    EXPECT_EQ(kAttrArchive, files_->GetAttributes(to)) << size;
  }
  // Hidden and system go with the copy, over an existing file too.
  ASSERT_TRUE(files_->SetAttributes("C:\\Dir\\src1", kAttrHidden | kAttrSystem));
  ASSERT_TRUE(files_->CopyFile("C:\\Dir\\src1", "C:\\Dir\\copy1", false));
  EXPECT_EQ(kAttrHidden | kAttrSystem | kAttrArchive, files_->GetAttributes("C:\\Dir\\copy1"));
  // A umask that takes the write bits leaves the copy writable all the same.
  const mode_t old_mask = ::umask(0222);
  const bool copied = files_->CopyFile("C:\\Dir\\src0", "C:\\Dir\\masked", true);
  ::umask(old_mask);
  ASSERT_TRUE(copied);
  EXPECT_EQ(kAttrArchive, files_->GetAttributes("C:\\Dir\\masked"));
}

// The folders lookups keep open follow what other processes do to the
// paths: a folder renamed away, one above it renamed, one deleted, each
// with another folder of the same name put in its place.
TEST_F(LookupCacheTest, KeptFoldersFollowChangesMadeByOthers) {
  auto read_host = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string dir = folder_ + "/machine/drive_c/Dir";
  ASSERT_TRUE(files_->CreateFolder("C:\\Dir\\Sub"));
  ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\a.txt", "old"));
  ASSERT_EQ("a.txt", Found("C:\\Dir\\Sub\\a.txt"));

  // The folder itself renamed by someone else, a new one made there.
  ASSERT_EQ(0, ::rename((dir + "/Sub").c_str(), (dir + "/Away").c_str()));
  ASSERT_EQ(0, ::mkdir((dir + "/Sub").c_str(), 0755));
  std::ofstream(dir + "/Sub/b.txt") << "new";
  EXPECT_EQ("", Found("C:\\Dir\\Sub\\a.txt"));
  EXPECT_EQ("b.txt", Found("C:\\Dir\\Sub\\B.TXT"));
  ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\c.txt", "third"));
  EXPECT_EQ("third", read_host(dir + "/Sub/c.txt"));
  EXPECT_NE(0, ::access((dir + "/Away/c.txt").c_str(), F_OK));

  // A folder above it renamed: the old path leads to the new folders.
  ASSERT_EQ(0, ::rename(dir.c_str(), (dir + "2").c_str()));
  ASSERT_EQ(0, ::mkdir(dir.c_str(), 0755));
  ASSERT_EQ(0, ::mkdir((dir + "/Sub").c_str(), 0755));
  EXPECT_EQ("", Found("C:\\Dir\\Sub\\b.txt"));
  ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\b.txt", "fourth"));
  EXPECT_EQ("fourth", read_host(dir + "/Sub/b.txt"));
  EXPECT_EQ("new", read_host(dir + "2/Sub/b.txt"));

  // Deleted: nothing can be made in it, and the error says the path is gone.
  ASSERT_EQ(0, ::unlink((dir + "/Sub/b.txt").c_str()));
  ASSERT_EQ(0, ::rmdir((dir + "/Sub").c_str()));
  EXPECT_FALSE(WriteNew("C:\\Dir\\Sub\\d.txt", "lost"));
  EXPECT_EQ(kErrorPathNotFound, LastError());
  EXPECT_EQ(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\b.txt"));
}

}  // namespace
}  // namespace crx
