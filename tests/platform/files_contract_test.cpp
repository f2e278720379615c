// What files, folders and drives do on Windows, for both implementations.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/winpath.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"
#if !defined(_WIN32)
#include "platform/posix/host_paths.h"
#endif

namespace crx {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tp_.ok()) << tp_.Error(); }

  FileSystem& fs() { return tp_.Get().files; }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }

  void WriteFile(const std::string& path, const std::string& data) {
    std::unique_ptr<File> f = fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f) << path << " error " << LastError();
    ASSERT_TRUE(f->Write(data.data(), data.size()));
  }

  std::string ReadFile(const std::string& path) {
    std::unique_ptr<File> f = fs().Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
    if (!f) return "<cannot open>";
    std::string out(4096, '\0');
    size_t got = 0;
    if (!f->Read(out.data(), out.size(), &got)) return "<cannot read>";
    out.resize(got);
    return out;
  }

  test::TestPlatform tp_;
};

TEST_F(FilesTest, DispositionsAndTheirErrors) {
  const std::string path = At("a.txt");
  SetLastError(12345);
  std::unique_ptr<File> f = fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateNew);
  ASSERT_TRUE(f) << LastError();
  ASSERT_TRUE(f->Write("hello", 5));
  f.reset();

  EXPECT_FALSE(fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateNew));
  EXPECT_EQ(kErrorFileExists, LastError());
  EXPECT_FALSE(fs().Open(At("missing.txt"), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_FALSE(fs().Open(At("nofolder\\x.txt"), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_EQ(kErrorPathNotFound, LastError());
  EXPECT_FALSE(fs().Open(At("nofolder\\x.txt"), kAccessWrite, kShareNone, Disposition::kCreateAlways));
  EXPECT_EQ(kErrorPathNotFound, LastError());
  EXPECT_FALSE(fs().Open(At("missing.txt"), kAccessWrite, kShareNone, Disposition::kTruncateExisting));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  // A folder is not a file.
  EXPECT_FALSE(fs().Open(tp_.Scratch(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  // Another spelling opens the same file; a handle for reading tells the
  // file's time as the path does.
  {
    std::unique_ptr<File> other =
        fs().Open(At("A.TXT"), kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(other) << LastError();
    EXPECT_EQ("hello", ReadFile(At("a.TXT")));
    FileTime by_handle = 0, by_path = 0;
    ASSERT_TRUE(other->GetLastWriteTime(&by_handle));
    ASSERT_TRUE(fs().GetLastWriteTime(path, &by_path));
    EXPECT_EQ(by_path, by_handle);
  }

  // OPEN_ALWAYS keeps the data and says the file was there.
  f = fs().Open(path, kAccessRead, kShareRead, Disposition::kOpenAlways);
  ASSERT_TRUE(f);
  EXPECT_EQ(kErrorAlreadyExists, LastError());
  int64_t size = -1;
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(5, size);
  f.reset();
  // TRUNCATE_EXISTING and CREATE_ALWAYS empty it.
  f = fs().Open(path, kAccessWrite, kShareNone, Disposition::kTruncateExisting);
  ASSERT_TRUE(f);
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(0, size);
  ASSERT_TRUE(f->Write("abc", 3));
  f.reset();
  f = fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  ASSERT_TRUE(f);
  EXPECT_EQ(kErrorAlreadyExists, LastError());
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(0, size);
  f.reset();
  // A new file through OPEN_ALWAYS.
  f = fs().Open(At("new.txt"), kAccessWrite, kShareNone, Disposition::kOpenAlways);
  ASSERT_TRUE(f);
  EXPECT_EQ(kErrorSuccess, LastError());
}

// CopyFileData copies from the source's position to its end, after what
// the destination holds, whatever the size; a file system that claims to
// have nothing to copy (generated files) is read after all.
TEST_F(FilesTest, CopyFileDataCopiesTheRestOfTheSource) {
  std::string data;
  for (int i = 0; data.size() < 700 * 1024; ++i) data += "line " + std::to_string(i) + "\n";
  WriteFile(At("source.bin"), data);
  WriteFile(At("empty.bin"), "");
  // Some handles were asked for their time (and so their size) first, and
  // some read a little before they were sought to where the copy starts.
  struct {
    const char* name;
    int64_t from;
    bool time_first;
    size_t read_first;
  } cases[] = {{"source.bin", 0, false, 0},   {"source.bin", 1000, false, 0},
               {"empty.bin", 0, false, 0},    {"source.bin", 0, true, 0},
               {"source.bin", 0, true, 4096}, {"source.bin", 1000, true, 0},
               {"source.bin", 5, true, 4096}, {"empty.bin", 0, true, 0}};
  for (const auto& c : cases) {
    std::unique_ptr<File> in =
        fs().Open(At(c.name), kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(in);
    FileTime time = 0;
    if (c.time_first) {
      ASSERT_TRUE(in->GetLastWriteTime(&time));
    }
    std::string first(c.read_first, '\0');
    size_t got = 0;
    if (c.read_first > 0) {
      ASSERT_TRUE(in->Read(first.data(), first.size(), &got));
    }
    ASSERT_TRUE(in->Seek(c.from, SeekFrom::kBegin, nullptr));
    {
      std::unique_ptr<File> out =
          fs().Open(At("copy.bin"), kAccessWrite, kShareNone, Disposition::kCreateAlways);
      ASSERT_TRUE(out);
      ASSERT_TRUE(out->Write("head", 4));
      ASSERT_TRUE(CopyFileData(*in, *out)) << LastError();
    }
    const std::string expected =
        "head" + (std::string(c.name) == "empty.bin" ? std::string() : data.substr(c.from));
    EXPECT_TRUE(test::ReadWholeFile(fs(), At("copy.bin")) == expected)
        << c.name << " " << c.from << " " << c.time_first << " " << c.read_first;
  }
#if !defined(_WIN32)
  std::string version;
  {
    FILE* f = std::fopen("/proc/version", "r");
    ASSERT_NE(f, nullptr);
    char buffer[4096];
    version.resize(std::fread(buffer, 1, sizeof buffer, f));
    version.assign(buffer, version.size());
    std::fclose(f);
  }
  ASSERT_FALSE(version.empty());
  std::unique_ptr<File> in = fs().Open(HostToWindowsPath("/proc/version"), kAccessRead,
                                       kShareRead | kShareWrite, Disposition::kOpenExisting);
  ASSERT_TRUE(in) << LastError();
  {
    std::unique_ptr<File> out =
        fs().Open(At("proc.txt"), kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(out);
    ASSERT_TRUE(CopyFileData(*in, *out)) << LastError();
  }
  EXPECT_EQ(test::ReadWholeFile(fs(), At("proc.txt")), version);
#endif
}

TEST_F(FilesTest, ReadWriteSeekAndSetEnd) {
  std::unique_ptr<File> f =
      fs().Open(At("data.bin"), kAccessRead | kAccessWrite, kShareNone, Disposition::kCreateNew);
  ASSERT_TRUE(f);
  ASSERT_TRUE(f->Write("0123456789", 10));
  int64_t pos = -1;
  ASSERT_TRUE(f->Seek(-4, SeekFrom::kEnd, &pos));
  EXPECT_EQ(6, pos);
  char buf[16] = {0};
  size_t got = 0;
  ASSERT_TRUE(f->Read(buf, sizeof buf, &got));
  EXPECT_EQ(4u, got);
  EXPECT_EQ("6789", std::string(buf, got));
  ASSERT_TRUE(f->Read(buf, sizeof buf, &got));
  EXPECT_EQ(0u, got);  // end of file is not an error
  ASSERT_TRUE(f->Seek(3, SeekFrom::kBegin, &pos));
  ASSERT_TRUE(f->Seek(2, SeekFrom::kCurrent, &pos));
  EXPECT_EQ(5, pos);
  ASSERT_TRUE(f->SetEnd());
  int64_t size = 0;
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(5, size);
  // Setting the end past the data extends the file.
  ASSERT_TRUE(f->Seek(8, SeekFrom::kBegin, &pos));
  ASSERT_TRUE(f->SetEnd());
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(8, size);
  EXPECT_FALSE(f->Seek(-1, SeekFrom::kBegin, &pos));
  ASSERT_TRUE(f->Flush());
  f.reset();
  EXPECT_EQ(std::string("01234\0\0\0", 8), ReadFile(At("data.bin")));

  // A handle opened for reading cannot write, and the other way round.
  f = fs().Open(At("data.bin"), kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_TRUE(f);
  EXPECT_FALSE(f->Write("x", 1));
  f.reset();
  f = fs().Open(At("data.bin"), kAccessWrite, kShareNone, Disposition::kOpenExisting);
  ASSERT_TRUE(f);
  EXPECT_FALSE(f->Read(buf, 1, &got));
}

TEST_F(FilesTest, ShareModesWithinOneProcess) {
  const std::string path = At("shared.txt");
  WriteFile(path, "x");
  {
    std::unique_ptr<File> reader = fs().Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(reader);
    // Another reader that shares reading is fine; a writer is not.
    EXPECT_TRUE(fs().Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting));
    EXPECT_FALSE(fs().Open(path, kAccessWrite, kShareRead, Disposition::kOpenExisting));
    EXPECT_EQ(kErrorSharingViolation, LastError());
    // A reader that will not share reading conflicts with the open reader.
    EXPECT_FALSE(fs().Open(path, kAccessRead, kShareNone, Disposition::kOpenExisting));
    EXPECT_EQ(kErrorSharingViolation, LastError());
    // Deleting needs delete sharing.
    EXPECT_FALSE(fs().DeleteFile(path));
    EXPECT_EQ(kErrorSharingViolation, LastError());
    EXPECT_FALSE(fs().MoveFile(path, At("moved.txt")));
    EXPECT_EQ(kErrorSharingViolation, LastError());
  }
  {
    std::unique_ptr<File> writer =
        fs().Open(path, kAccessWrite, kShareRead | kShareWrite, Disposition::kOpenExisting);
    ASSERT_TRUE(writer);
    EXPECT_TRUE(fs().Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting));
    // This one would deny writing, which the open writer has.
    EXPECT_FALSE(fs().Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting));
    EXPECT_EQ(kErrorSharingViolation, LastError());
  }
  {
    std::unique_ptr<File> exclusive = fs().Open(path, kAccessRead, kShareNone, Disposition::kOpenExisting);
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(fs().Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting));
    EXPECT_EQ(kErrorSharingViolation, LastError());
    // Truncation is refused without touching the data.
    EXPECT_FALSE(fs().Open(path, kAccessWrite, kShareRead | kShareWrite, Disposition::kCreateAlways));
    EXPECT_EQ(kErrorSharingViolation, LastError());
  }
  EXPECT_EQ("x", ReadFile(path));
  // Every handle is closed: all is allowed again.
  EXPECT_TRUE(fs().Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting));
  EXPECT_TRUE(fs().DeleteFile(path));
}

TEST_F(FilesTest, Attributes) {
  // Wine reports the archive bit on every file, lets CREATE_ALWAYS replace a
  // hidden file, and keeps read-only as Unix permissions, which a root user
  // (as in CI) ignores. Windows does none of these; the emulated machine
  // follows Windows.
  const bool wine = tp_.UnderWine();
  const uint32_t wine_archive = wine ? uint32_t{kAttrArchive} : 0u;
  const std::string path = At("attr.txt");
  WriteFile(path, "data");
  // A new file carries the archive bit.
  uint32_t a = fs().GetAttributes(path);
  EXPECT_EQ(kAttrArchive, a & (kAttrArchive | kAttrDirectory | kAttrReadOnly));
  EXPECT_EQ(kAttrDirectory, fs().GetAttributes(tp_.Scratch()) & kAttrDirectory);
  EXPECT_EQ(kInvalidAttributes, fs().GetAttributes(At("none.txt")));
  EXPECT_EQ(kErrorFileNotFound, LastError());

  ASSERT_TRUE(fs().SetAttributes(path, kAttrHidden | kAttrSystem));
  EXPECT_EQ(kAttrHidden | kAttrSystem | wine_archive, fs().GetAttributes(path));
  if (!wine) {
    // CREATE_ALWAYS will not replace a hidden file unless asked to keep it
    // hidden.
    EXPECT_FALSE(fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways,
                           kAttrNormal));
    EXPECT_EQ(kErrorAccessDenied, LastError());
  }
  ASSERT_TRUE(fs().SetAttributes(path, kAttrNormal));
  EXPECT_EQ(wine ? uint32_t{kAttrArchive} : uint32_t{kAttrNormal}, fs().GetAttributes(path));

  // Read-only: no writing, no deleting, but reading and renaming work.
  ASSERT_TRUE(fs().SetAttributes(path, kAttrReadOnly));
  EXPECT_EQ(kAttrReadOnly | wine_archive, fs().GetAttributes(path));
  if (!wine) {
    EXPECT_FALSE(fs().Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting));
    EXPECT_EQ(kErrorAccessDenied, LastError());
    EXPECT_FALSE(fs().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways));
    EXPECT_EQ(kErrorAccessDenied, LastError());
  }
  EXPECT_FALSE(fs().DeleteFile(path));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  EXPECT_EQ("data", ReadFile(path));
  ASSERT_TRUE(fs().MoveFile(path, At("ro.txt")));
  EXPECT_EQ(kAttrReadOnly, fs().GetAttributes(At("ro.txt")) & kAttrReadOnly);
  ASSERT_TRUE(fs().SetAttributes(At("ro.txt"), kAttrArchive));
  EXPECT_EQ(kAttrArchive, fs().GetAttributes(At("ro.txt")));
  EXPECT_TRUE(fs().DeleteFile(At("ro.txt")));
}

TEST_F(FilesTest, LastWriteTimesKeepHundredNanoseconds) {
  const std::string path = At("time.txt");
  WriteFile(path, "t");
  const FileTime t1 = 132000000001234567ULL;  // a moment in 2019, odd 100 ns digits
  ASSERT_TRUE(fs().SetLastWriteTime(path, t1));
  FileTime got = 0;
  ASSERT_TRUE(fs().GetLastWriteTime(path, &got));
  EXPECT_EQ(t1, got);
  {
    std::unique_ptr<File> f = fs().Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting);
    ASSERT_TRUE(f);
    const FileTime t2 = 125000000000000001ULL;
    ASSERT_TRUE(f->SetLastWriteTime(t2));
    ASSERT_TRUE(f->GetLastWriteTime(&got));
    EXPECT_EQ(t2, got);
  }
  ASSERT_TRUE(fs().SetLastWriteTime(path, t1));
  EXPECT_FALSE(fs().GetLastWriteTime(At("none"), &got));
  EXPECT_EQ(kErrorFileNotFound, LastError());

  // CopyFile keeps the data, the time and read-only.
  ASSERT_TRUE(fs().SetAttributes(path, kAttrReadOnly));
  ASSERT_TRUE(fs().CopyFile(path, At("copy.txt"), true));
  EXPECT_EQ("t", ReadFile(At("copy.txt")));
  ASSERT_TRUE(fs().GetLastWriteTime(At("copy.txt"), &got));
  EXPECT_EQ(t1, got);
  EXPECT_EQ(kAttrReadOnly, fs().GetAttributes(At("copy.txt")) & kAttrReadOnly);
  EXPECT_FALSE(fs().CopyFile(path, At("copy.txt"), true));
  EXPECT_EQ(kErrorFileExists, LastError());
  // Over a read-only file even without fail_if_exists: refused (wine run
  // by root writes it, as root ignores the permission bits wine keeps).
  if (!tp_.UnderWine()) {
    EXPECT_FALSE(fs().CopyFile(path, At("copy.txt"), false));
    EXPECT_EQ(kErrorAccessDenied, LastError());
  }
  EXPECT_FALSE(fs().CopyFile(At("none"), At("copy2.txt"), false));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_FALSE(fs().Exists(At("copy2.txt")));
  ASSERT_TRUE(fs().SetAttributes(path, kAttrNormal));
  ASSERT_TRUE(fs().SetAttributes(At("copy.txt"), kAttrNormal));
  WriteFile(At("other.txt"), "other");
  ASSERT_TRUE(fs().CopyFile(At("other.txt"), At("copy.txt"), false));
  EXPECT_EQ("other", ReadFile(At("copy.txt")));
}

TEST_F(FilesTest, MoveReplaceAndFolders) {
  WriteFile(At("one.txt"), "1");
  WriteFile(At("two.txt"), "2");
  EXPECT_FALSE(fs().MoveFile(At("one.txt"), At("two.txt")));
  EXPECT_EQ(kErrorAlreadyExists, LastError());
  EXPECT_FALSE(fs().MoveFile(At("none.txt"), At("x.txt")));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  ASSERT_TRUE(fs().ReplaceFile(At("one.txt"), At("two.txt")));
  EXPECT_FALSE(fs().Exists(At("one.txt")));
  EXPECT_EQ("1", ReadFile(At("two.txt")));
  // A change of case only (wine treats it as a rename to itself and keeps
  // the old spelling).
  ASSERT_TRUE(fs().MoveFile(At("two.txt"), At("TWO.txt")));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs().ListFolder(At("two.txt"), &entries));
  ASSERT_EQ(1u, entries.size());
  if (!tp_.UnderWine()) {
    EXPECT_EQ("TWO.txt", entries[0].name);
  }

  ASSERT_TRUE(fs().CreateFolder(At("dir")));
  EXPECT_FALSE(fs().CreateFolder(At("dir")));
  EXPECT_EQ(kErrorAlreadyExists, LastError());
  EXPECT_FALSE(fs().CreateFolder(At("no\\dir")));
  EXPECT_EQ(kErrorPathNotFound, LastError());
  WriteFile(At("dir\\inside.txt"), "in");
  EXPECT_FALSE(fs().RemoveFolder(At("dir")));
  EXPECT_EQ(kErrorDirNotEmpty, LastError());
  EXPECT_FALSE(fs().DeleteFile(At("dir")));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  ASSERT_TRUE(fs().MoveFile(At("dir"), At("renamed")));
  EXPECT_EQ("in", ReadFile(At("renamed\\inside.txt")));
  ASSERT_TRUE(fs().DeleteFile(At("renamed\\inside.txt")));
  EXPECT_TRUE(fs().RemoveFolder(At("renamed")));
  EXPECT_FALSE(fs().RemoveFolder(At("renamed")));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_FALSE(fs().DeleteFile(At("renamed")));
  EXPECT_EQ(kErrorFileNotFound, LastError());
}

TEST_F(FilesTest, NamesCompareWithoutCase) {
  WriteFile(At("MixedCase.Txt"), "mixed");
  EXPECT_EQ("mixed", ReadFile(At("mixedcase.TXT")));
  ASSERT_TRUE(fs().CreateFolder(At("SubDir")));
  WriteFile(At("SUBDIR\\file.txt"), "deep");
  EXPECT_EQ("deep", ReadFile(At("subdir\\FILE.TXT")));
  EXPECT_FALSE(fs().CreateFolder(At("subdir")));
  EXPECT_EQ(kErrorAlreadyExists, LastError());
}

TEST_F(FilesTest, ListFolderWithWildcards) {
  WriteFile(At("a.txt"), "aa");
  WriteFile(At("b.TXT"), "b");
  WriteFile(At("c.dat"), "c");
  WriteFile(At("noext"), "");
  ASSERT_TRUE(fs().CreateFolder(At("sub")));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs().ListFolder(At("*"), &entries));
  EXPECT_EQ(5u, entries.size());
  ASSERT_TRUE(fs().ListFolder(At("*.*"), &entries));
  EXPECT_EQ(5u, entries.size());  // "*.*" matches names without a dot too
  ASSERT_TRUE(fs().ListFolder(At("*.txt"), &entries));
  ASSERT_EQ(2u, entries.size());
  for (const FolderEntry& e : entries) {
    if (e.name == "a.txt") {
      EXPECT_EQ(2u, e.size);
      EXPECT_EQ(0u, e.attributes & kAttrDirectory);
    } else {
      EXPECT_EQ("b.TXT", e.name);
    }
  }
  ASSERT_TRUE(fs().ListFolder(At("?.dat"), &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("c.dat", entries[0].name);
  ASSERT_TRUE(fs().ListFolder(At("s*"), &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(kAttrDirectory, entries[0].attributes & kAttrDirectory);
  entries.push_back(FolderEntry());
  EXPECT_FALSE(fs().ListFolder(At("*.xyz"), &entries));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(fs().ListFolder(At("missing\\*"), &entries));
  EXPECT_EQ(kErrorPathNotFound, LastError());

  // Long names get an 8.3 alias that opens the same file.
  WriteFile(At("A Long File Name.text"), "long");
  ASSERT_TRUE(fs().ListFolder(At("A Long File Name.text"), &entries));
  ASSERT_EQ(1u, entries.size());
  std::string short_path;
  ASSERT_TRUE(fs().ShortPath(At("a long file name.text"), &short_path));
  EXPECT_TRUE(winpath::IsShortName(winpath::LastElement(short_path)) ||
              winpath::LastElement(short_path) == "a long file name.text")
      << short_path;
  EXPECT_EQ("long", ReadFile(short_path));
  EXPECT_FALSE(fs().ShortPath(At("none.txt"), &short_path));
  EXPECT_EQ(kErrorFileNotFound, LastError());
}

TEST_F(FilesTest, FullPathAndCurrentFolder) {
  const std::string s = tp_.Scratch();
  EXPECT_EQ(s + "\\b\\c", fs().FullPath(s + "\\a\\..\\b\\.\\c"));
  EXPECT_EQ(s + "\\b\\c", fs().FullPath(s + "/b/c"));
  EXPECT_EQ(s + "\\name", fs().FullPath(s + "\\name. ."));
  EXPECT_EQ(s + "\\dir\\", fs().FullPath(s + "\\dir\\"));
  EXPECT_EQ("C:\\", fs().FullPath("C:\\..\\.."));
  // Paths that are nearly full already.
  EXPECT_EQ(s + "\\a\\b", fs().FullPath(s + "\\a\\\\b"));
  EXPECT_EQ(s + "\\a", fs().FullPath(s + "\\a\\."));
  EXPECT_EQ(s + "\\a", fs().FullPath(s + "\\a\\b\\.."));
  EXPECT_EQ(s + "\\a", fs().FullPath(s + "\\a."));
  EXPECT_EQ(s + "\\a\\.b\\c", fs().FullPath(s + "\\a\\.b\\c"));

  std::string before = fs().CurrentFolder();
  ASSERT_TRUE(fs().CreateFolder(At("cwd")));
  ASSERT_TRUE(fs().SetCurrentFolder(At("cwd")));
  EXPECT_TRUE(winpath::EqualsNoCase(At("cwd"), fs().CurrentFolder())) << fs().CurrentFolder();
  EXPECT_EQ(At("cwd\\rel.txt"), fs().FullPath("rel.txt"));
  EXPECT_EQ(At("sibling"), fs().FullPath("..\\sibling"));
  EXPECT_EQ(s.substr(0, 3) + "top", fs().FullPath("\\top"));
  WriteFile("rel.txt", "relative");
  EXPECT_EQ("relative", ReadFile(At("cwd\\rel.txt")));
  EXPECT_FALSE(fs().SetCurrentFolder(At("cwd\\rel.txt")));
  EXPECT_EQ(kErrorDirectory, LastError());
  EXPECT_FALSE(fs().SetCurrentFolder(At("nothere")));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  ASSERT_TRUE(fs().SetCurrentFolder(before));
}

TEST_F(FilesTest, Drives) {
  EXPECT_EQ(DriveType::kFixed, fs().GetDriveType("C:\\"));
  EXPECT_NE(0u, fs().LogicalDrives() & (1u << 2));
  FreeSpace space;
  ASSERT_TRUE(fs().GetFreeSpace(tp_.Scratch().substr(0, 3), &space));
  EXPECT_GT(space.total, 0u);
  EXPECT_GT(space.free_to_caller, 0u);
  EXPECT_LE(space.total_free, space.total);
  std::string label;
  uint32_t serial = 0;
  EXPECT_TRUE(fs().GetVolumeInfo("C:\\", &label, &serial));
}

}  // namespace
}  // namespace crx
