// Putting the machine library into a machine folder: a copy made from the
// same file is left alone without being read, any other copy is made right.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/posix/machine_library.h"
#include "support/machine_folder_fixture.h"

namespace crx {
namespace {

class MachineLibraryTest : public test::MachineFolderTest {
 protected:
  std::string Source() const { return folder_ + "/libsource.so"; }
  std::string Copy() const {
    return folder_ + "/machine/" + kMachineLibraryFolder + "/" + kMachineLibraryFile;
  }
  bool Install() {
    std::string error;
    const bool ok = InstallMachineLibrary(folder_ + "/machine", Source(), &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }
  static struct timespec Mtime(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
    return st.st_mtim;
  }
  static void SetMtime(const std::string& path, time_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
  }
};

TEST_F(MachineLibraryTest, CopiesFollowTheSourceAndSameTimedCopiesAreLeftAlone) {
  WriteHost(Source(), std::string(300000, 'a') + "version one");
  SetMtime(Source(), 1700000000);
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadHost(Source()), ReadHost(Copy()));
  EXPECT_EQ(1700000000, Mtime(Copy()).tv_sec);

  // A copy of the same size whose bytes differ and whose time is not the
  // source's is written again.
  WriteHost(Copy(), std::string(300000, 'b') + "version one");
  ASSERT_EQ(0, ::chmod(Copy().c_str(), 0700));
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadHost(Source()), ReadHost(Copy()));
  EXPECT_EQ(1700000000, Mtime(Copy()).tv_sec);

  // An identical copy with another time keeps its bytes and takes the
  // source's time.
  SetMtime(Copy(), 1600000000);
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadHost(Source()), ReadHost(Copy()));
  EXPECT_EQ(1700000000, Mtime(Copy()).tv_sec);

  // A rebuilt source (new bytes, new time) replaces the copy, also when
  // its size is the same.
  WriteHost(Source(), std::string(300000, 'a') + "version two");
  SetMtime(Source(), 1800000000);
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadHost(Source()), ReadHost(Copy()));
  EXPECT_EQ(1800000000, Mtime(Copy()).tv_sec);

  // A copy others may change is never taken as the library's, whatever
  // its time says.
  ASSERT_EQ(0, ::chmod(Copy().c_str(), 0777));
  ASSERT_TRUE(Install());
  struct stat st = {};
  ASSERT_EQ(0, ::stat(Copy().c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & (S_IWGRP | S_IWOTH));
  EXPECT_EQ(ReadHost(Source()), ReadHost(Copy()));
}

}  // namespace
}  // namespace crx
