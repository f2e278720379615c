// Batches of file calls on the emulated machine (folders looked at once per
// batch) and the one-look file information.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "support/machine_folder_fixture.h"

namespace crx {
namespace {

class FileBatchTest : public test::MachineFolderTest {
 protected:
  void SetUp() override {
    MachineFolderTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(files_->CreateFolder("C:\\Dir\\Sub"));
    ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\a.txt", "first"));
  }
};

// Inside a batch a folder is trusted after one look, but never past this
// process's own rename or removal of a folder, and never past the batch.
TEST_F(FileBatchTest, TrustEndsWithOwnFolderChangesAndWithTheBatch) {
  {
    FileBatch batch(*files_);
    ASSERT_NE(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\a.txt"));
    // Renamed away and made again by this process: new files go to the
    // new folder, the old name's file is gone from the path.
    ASSERT_TRUE(files_->MoveFile("C:\\Dir\\Sub", "C:\\Dir\\Old"));
    ASSERT_TRUE(files_->CreateFolder("C:\\Dir\\Sub"));
    EXPECT_EQ(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\a.txt"));
    ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\b.txt", "second"));
    EXPECT_EQ("second", ReadHost(Host("Sub/b.txt")));
    EXPECT_FALSE(HostExists(Host("Old/b.txt")));

    // Removed and made again, in a nested batch.
    FileBatch inner(*files_);
    ASSERT_NE(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Old\\a.txt"));
    ASSERT_TRUE(files_->DeleteFile("C:\\Dir\\Old\\a.txt"));
    ASSERT_TRUE(files_->RemoveFolder("C:\\Dir\\Old"));
    ASSERT_TRUE(files_->CreateFolder("C:\\Dir\\Old"));
    ASSERT_TRUE(WriteNew("C:\\Dir\\Old\\c.txt", "third")) << LastError();
    EXPECT_EQ("third", ReadHost(Host("Old/c.txt")));
  }
  // After the batches another program's change of the path is seen at once.
  ASSERT_NE(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\b.txt"));
  {
    FileBatch batch(*files_);
    ASSERT_NE(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\b.txt"));
  }
  ASSERT_EQ(0, ::rename(Host("Sub").c_str(), Host("Elsewhere").c_str()));
  ASSERT_EQ(0, ::mkdir(Host("Sub").c_str(), 0755));
  EXPECT_EQ(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\b.txt"));
  ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\d.txt", "fourth"));
  EXPECT_EQ("fourth", ReadHost(Host("Sub/d.txt")));
  EXPECT_FALSE(HostExists(Host("Elsewhere/d.txt")));
}

// Names this process adds to and removes from a trusted folder are found
// as they are: the folder's cached names follow, with no stale answers.
TEST_F(FileBatchTest, OwnChangesInATrustedFolderAreSeen) {
  FileBatch batch(*files_);
  for (int i = 0; i < 20; ++i) {
    const std::string name = "C:\\Dir\\Sub\\f" + std::to_string(i) + ".bin";
    ASSERT_EQ(kInvalidAttributes, files_->GetAttributes(name));
    ASSERT_TRUE(WriteNew(name, "data"));
    EXPECT_NE(kInvalidAttributes, files_->GetAttributes("c:\\dir\\sub\\F" + std::to_string(i) +
                                                        ".BIN"));
  }
  ASSERT_TRUE(files_->DeleteFile("C:\\Dir\\Sub\\f3.bin"));
  EXPECT_EQ(kInvalidAttributes, files_->GetAttributes("C:\\DIR\\SUB\\F3.BIN"));
  EXPECT_EQ(kErrorFileNotFound, LastError());
}

// A trusted folder answers for a name it lacks without asking the system
// only while its kept names are the ones of the batch's own look: a name
// another program added before the batch is found in it, whatever the
// batch looked at first.
TEST_F(FileBatchTest, NamesAddedByOthersBeforeTheBatchAreFound) {
  // The folder's names are read and kept by a miss.
  EXPECT_EQ(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\missing.txt"));
  // Another program adds a file (later than the folder's last change by at
  // least one tick of the file system's clock, so that the folder's times
  // tell).
  ::usleep(20000);
  WriteHost(Host("Sub/other.txt"), "theirs");
  {
    FileBatch batch(*files_);
    // The batch's first look is an exact hit that needs no kept names.
    ASSERT_NE(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\a.txt"));
    EXPECT_NE(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\other.txt"));
    EXPECT_NE(kInvalidAttributes, files_->GetAttributes("C:\\DIR\\SUB\\OTHER.TXT"));
    std::unique_ptr<File> f = files_->Open("C:\\Dir\\Sub\\other.txt", kAccessWrite,
                                           kShareNone, Disposition::kOpenExisting);
    EXPECT_TRUE(f) << LastError();
    f.reset();
    // A new file made in the batch is there for the batch's next calls,
    // and a second create of it is refused.
    EXPECT_EQ(kInvalidAttributes, files_->GetAttributes("C:\\Dir\\Sub\\new.txt"));
    ASSERT_TRUE(WriteNew("C:\\Dir\\Sub\\new.txt", "ours"));
    EXPECT_FALSE(files_->Open("C:\\Dir\\Sub\\NEW.TXT", kAccessWrite, kShareNone,
                              Disposition::kCreateNew));
    EXPECT_EQ(kErrorFileExists, LastError());
  }
  EXPECT_EQ("ours", ReadHost(Host("Sub/new.txt")));
  EXPECT_EQ("theirs", ReadHost(Host("Sub/other.txt")));
}

TEST_F(FileBatchTest, FileInfoDescribesFilesFoldersAndMissingPaths) {
  std::unique_ptr<File> f = files_->Open("C:\\Dir\\Sub\\h.bin", kAccessWrite, kShareNone,
                                         Disposition::kCreateNew, kAttrHidden);
  ASSERT_TRUE(f);
  ASSERT_TRUE(f->Write(std::string(5000, 'h').data(), 5000));
  const FileTime when = 132000000000000000ULL;
  ASSERT_TRUE(f->SetLastWriteTime(when));
  f.reset();
  ASSERT_TRUE(files_->SetAttributes("C:\\Dir\\Sub\\h.bin", kAttrHidden | kAttrReadOnly));

  FolderEntry info;
  info.name = "left over";
  ASSERT_TRUE(files_->GetFileInfo("c:\\dir\\SUB\\H.BIN", &info));
  EXPECT_EQ(5000u, info.size);
  EXPECT_EQ(when, info.last_write);
  EXPECT_EQ(files_->GetAttributes("C:\\Dir\\Sub\\h.bin"), info.attributes);
  EXPECT_EQ(kAttrHidden | kAttrReadOnly, info.attributes & (kAttrHidden | kAttrReadOnly));
  EXPECT_TRUE(info.name.empty());

  ASSERT_TRUE(files_->GetFileInfo("C:\\Dir\\Sub", &info));
  EXPECT_NE(0u, info.attributes & kAttrDirectory);
  EXPECT_EQ(0u, info.size);

  EXPECT_FALSE(files_->GetFileInfo("C:\\Dir\\Sub\\none.bin", &info));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_FALSE(files_->GetFileInfo("C:\\Dir\\None\\none.bin", &info));
  EXPECT_EQ(kErrorPathNotFound, LastError());

  // The size-only look: the same size and time, the folder flag and
  // nothing else of the attributes, the same errors.
  ASSERT_TRUE(files_->GetFileSizeInfo("c:\\dir\\SUB\\H.BIN", &info));
  EXPECT_EQ(5000u, info.size);
  EXPECT_EQ(when, info.last_write);
  EXPECT_EQ(uint32_t{kAttrNormal}, info.attributes);
  ASSERT_TRUE(files_->GetFileSizeInfo("C:\\Dir\\Sub", &info));
  EXPECT_EQ(uint32_t{kAttrDirectory}, info.attributes);
  EXPECT_FALSE(files_->GetFileSizeInfo("C:\\Dir\\Sub\\none.bin", &info));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_FALSE(files_->GetFileSizeInfo("C:\\Dir\\None\\none.bin", &info));
  EXPECT_EQ(kErrorPathNotFound, LastError());

  // An open file tells its own attributes, as its path does: before and
  // after its time was read, and for a file made outside the machine.
  std::unique_ptr<File> open =
      files_->Open("C:\\Dir\\Sub\\h.bin", kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_TRUE(open);
  uint32_t attributes = 0;
  ASSERT_TRUE(open->GetAttributes(&attributes));
  EXPECT_EQ(files_->GetAttributes("C:\\Dir\\Sub\\h.bin"), attributes);
  FileTime time = 0;
  ASSERT_TRUE(open->GetLastWriteTime(&time));
  ASSERT_TRUE(open->GetAttributes(&attributes));
  EXPECT_EQ(kAttrHidden | kAttrReadOnly, attributes & (kAttrHidden | kAttrReadOnly));
  WriteHost(Host("Sub/plain.txt"), "made outside");
  open = files_->Open("C:\\Dir\\Sub\\plain.txt", kAccessRead, kShareRead,
                      Disposition::kOpenExisting);
  ASSERT_TRUE(open);
  ASSERT_TRUE(open->GetAttributes(&attributes));
  EXPECT_EQ(uint32_t{kAttrArchive}, attributes);
}

}  // namespace
}  // namespace crx
