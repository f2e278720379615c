// The emulated machine's registry database on its own: persistence,
// several programs of one machine at once, and files that are not usable.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/platform.h"
#include "platform/posix/sqlite_registry.h"

namespace crx {
namespace {

namespace fs = std::filesystem;

class RegistryDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "crxreg.XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    ASSERT_NE(nullptr, mkdtemp(buf.data()));
    folder_ = buf.data();
    path_ = folder_ + "/registry.db";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  std::unique_ptr<Registry> Open() {
    std::string error;
    std::unique_ptr<Registry> registry = OpenSqliteRegistry(path_, &error);
    EXPECT_NE(nullptr, registry) << error;
    return registry;
  }

  static std::string ReadFile(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    fclose(f);
    return bytes;
  }

  std::string folder_;
  std::string path_;
};

TEST_F(RegistryDatabaseTest, KeepsEverythingAcrossReopening) {
  // Names with quotes, percent signs (no format string may see them) and
  // bytes of the ANSI code page above 127.
  const std::string key_name = "Odd \"key\" 100%s%n \xe9t\xe9";
  const std::string value_name = "it's \"quoted\" %d%%\xff";
  {
    std::unique_ptr<Registry> reg = Open();
    ASSERT_NE(nullptr, reg);
    ScopedRegKey key(*reg);
    ASSERT_EQ(kErrorSuccess, reg->CreateKey(kHKeyLocalMachine, "SOFTWARE\\" + key_name,
                                            RegAccess::kAll, key.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, reg->SetString(key.Get(), value_name, "\x80\x81%s"));
    ASSERT_EQ(kErrorSuccess, reg->SetDword(key.Get(), "n", 42));
    ASSERT_EQ(kErrorSuccess, reg->SetString(key.Get(), "", "default"));
    ASSERT_EQ(kErrorSuccess, reg->SetString(kHKeyClassesRoot, "class", "x"));
  }
  std::unique_ptr<Registry> reg = Open();
  ASSERT_NE(nullptr, reg);
  ScopedRegKey key(*reg);
  // Only ASCII letters fold: "\xc9" (upper-case e acute in the ANSI code
  // page) is another name than "\xe9".
  ASSERT_EQ(kErrorSuccess, reg->OpenKey(kHKeyLocalMachine,
                                        "software\\ODD \"KEY\" 100%S%N \xe9T\xe9",
                                        RegAccess::kRead, key.Out()));
  ScopedRegKey other(*reg);
  EXPECT_EQ(kErrorFileNotFound, reg->OpenKey(kHKeyLocalMachine,
                                             "SOFTWARE\\Odd \"key\" 100%s%n \xc9t\xe9",
                                             RegAccess::kRead, other.Out()));
  std::string text;
  EXPECT_EQ(kErrorSuccess, reg->GetString(key.Get(), value_name, &text));
  EXPECT_EQ("\x80\x81%s", text);
  uint32_t n = 0;
  EXPECT_EQ(kErrorSuccess, reg->GetDword(key.Get(), "N", &n));
  EXPECT_EQ(42u, n);
  std::string name;
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kErrorSuccess, reg->EnumValue(key.Get(), 0, &name, &type, &data));
  EXPECT_EQ(value_name, name);
  EXPECT_EQ(kErrorSuccess, reg->GetString(key.Get(), "", &text));
  EXPECT_EQ("default", text);
  ScopedRegKey classes(*reg);
  ASSERT_EQ(kErrorSuccess, reg->OpenKey(kHKeyLocalMachine, "Software\\Classes", RegAccess::kRead,
                                        classes.Out()));
  EXPECT_EQ(kErrorSuccess, reg->GetString(classes.Get(), "class", &text));

  // Stored spelling of the key, not the one it was opened with.
  ScopedRegKey software(*reg);
  ASSERT_EQ(kErrorSuccess,
            reg->OpenKey(kHKeyLocalMachine, "SOFTWARE", RegAccess::kRead, software.Out()));
  bool found = false;
  for (uint32_t i = 0; reg->EnumKey(software.Get(), i, &name) == kErrorSuccess; ++i) {
    if (name == key_name) found = true;
  }
  EXPECT_TRUE(found);
}

TEST_F(RegistryDatabaseTest, LimitsAndHives) {
  std::unique_ptr<Registry> reg = Open();
  ASSERT_NE(nullptr, reg);
  ScopedRegKey key(*reg);
  EXPECT_EQ(kErrorSuccess, reg->CreateKey(kHKeyCurrentUser, std::string(255, 'k'),
                                          RegAccess::kAll, key.Out(), nullptr));
  EXPECT_EQ(kErrorInvalidParameter, reg->CreateKey(kHKeyCurrentUser, std::string(256, 'k'),
                                                   RegAccess::kAll, key.Out(), nullptr));
  // The keys behind the hives cannot be deleted, so the hives never vanish.
  EXPECT_EQ(kErrorAccessDenied, reg->DeleteKey(kHKeyLocalMachine, "SOFTWARE\\Classes"));
  EXPECT_EQ(kErrorAccessDenied, reg->DeleteKey(kHKeyClassesRoot, ""));
  EXPECT_EQ(kErrorAccessDenied, reg->DeleteKey(kHKeyCurrentConfig, ""));
  EXPECT_NE(kErrorSuccess, reg->DeleteTree(kHKeyLocalMachine, "SYSTEM"));
  EXPECT_EQ(kErrorSuccess, reg->OpenKey(kHKeyLocalMachine,
                                        "System\\CurrentControlSet\\Hardware Profiles\\Current",
                                        RegAccess::kRead, key.Out()));
  EXPECT_EQ(kErrorInvalidHandle, reg->OpenKey(0x12345, "", RegAccess::kRead, key.Out()));
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kErrorInvalidHandle, reg->QueryValue(0, "x", &type, &data));
}

TEST_F(RegistryDatabaseTest, AKeyDeletedByAnotherProgramIsDeletedForAll) {
  std::unique_ptr<Registry> first = Open();
  std::unique_ptr<Registry> second = Open();
  ASSERT_TRUE(first && second);
  RegKey key = 0;
  ASSERT_EQ(kErrorSuccess,
            first->CreateKey(kHKeyCurrentUser, "shared", RegAccess::kAll, &key, nullptr));
  ASSERT_EQ(kErrorSuccess, second->DeleteKey(kHKeyCurrentUser, "shared"));
  EXPECT_EQ(kErrorKeyDeleted, first->SetString(key, "x", "y"));
  ASSERT_EQ(kErrorSuccess, second->CreateKey(kHKeyCurrentUser, "shared", RegAccess::kAll,
                                             ScopedRegKey(*second).Out(), nullptr));
  EXPECT_EQ(kErrorKeyDeleted, first->SetString(key, "x", "y"));
  EXPECT_EQ(kErrorSuccess, first->CloseKey(key));
}

// A program that opened a key path before finds what another program made
// of it since: the key gone, the key made anew (with another id), a key
// deeper down, and the case of the names ignored throughout.
TEST_F(RegistryDatabaseTest, KeyPathsFollowOtherProgramsChanges) {
  std::unique_ptr<Registry> first = Open();
  std::unique_ptr<Registry> second = Open();
  ASSERT_TRUE(first && second);
  auto opens = [&](const std::string& path) {
    return first->OpenKey(kHKeyLocalMachine, path, RegAccess::kRead,
                          ScopedRegKey(*first).Out());
  };
  ASSERT_EQ(kErrorSuccess, second->CreateKey(kHKeyLocalMachine, "A\\B\\C", RegAccess::kAll,
                                             ScopedRegKey(*second).Out(), nullptr));
  EXPECT_EQ(kErrorSuccess, opens("A\\B\\C"));
  EXPECT_EQ(kErrorSuccess, opens("a\\b\\c"));
  EXPECT_EQ(kErrorFileNotFound, opens("A\\B\\C\\D"));

  ASSERT_EQ(kErrorSuccess, second->DeleteKey(kHKeyLocalMachine, "A\\B\\C"));
  EXPECT_EQ(kErrorFileNotFound, opens("A\\B\\C"));
  EXPECT_EQ(kErrorSuccess, opens("A\\B"));

  {
    ScopedRegKey again(*second);
    ASSERT_EQ(kErrorSuccess, second->CreateKey(kHKeyLocalMachine, "A\\B\\C\\D",
                                               RegAccess::kAll, again.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, second->SetString(again.Get(), "v", "new"));
  }
  ScopedRegKey found(*first);
  ASSERT_EQ(kErrorSuccess,
            first->OpenKey(kHKeyLocalMachine, "A\\b\\C\\d", RegAccess::kRead, found.Out()));
  std::string value;
  EXPECT_EQ(kErrorSuccess, first->GetString(found.Get(), "v", &value));
  EXPECT_EQ("new", value);
}

// A program keeps in mind what it read while no program of the machine
// changes the registry (each read below is asked twice, the second time
// answered from memory). Every change by another program is seen at the
// next read: a key made where there was none, a value set, changed and
// deleted, a key with more values than are kept at once, and a change by a
// program that died before it could say it had made one.
TEST_F(RegistryDatabaseTest, ReadsKeptInMindSeeEveryChange) {
  std::unique_ptr<Registry> first = Open();
  std::unique_ptr<Registry> second = Open();
  ASSERT_TRUE(first && second);
  const std::string path = "SOFTWARE\\Shared";
  auto value_of = [&](const std::string& name) {
    ScopedRegKey key(*first);
    long rc = first->OpenKey(kHKeyLocalMachine, path, RegAccess::kRead, key.Out());
    if (rc != kErrorSuccess) return Format("open: %ld", rc);
    std::string text;
    rc = first->GetString(key.Get(), name, &text);
    return rc == kErrorSuccess ? text : Format("get: %ld", rc);
  };
  auto expect = [&](const std::string& name, const std::string& want) {
    EXPECT_EQ(want, value_of(name)) << name;
    EXPECT_EQ(want, value_of(name)) << name << ", asked again";
  };
  const std::string kMissing = Format("get: %ld", long{kErrorFileNotFound});

  expect("v", Format("open: %ld", long{kErrorFileNotFound}));
  ScopedRegKey key(*second);
  ASSERT_EQ(kErrorSuccess,
            second->CreateKey(kHKeyLocalMachine, path, RegAccess::kAll, key.Out(), nullptr));
  expect("v", kMissing);
  ASSERT_EQ(kErrorSuccess, second->SetString(key.Get(), "v", "one"));
  expect("V", "one");
  ASSERT_EQ(kErrorSuccess, second->SetString(key.Get(), "v", "two"));
  expect("v", "two");
  ASSERT_EQ(kErrorSuccess, second->DeleteValue(key.Get(), "v"));
  expect("v", kMissing);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(kErrorSuccess, second->SetString(key.Get(), Format("n%d", i), Format("%d", i)));
  }
  expect("n0", "0");
  expect("N299", "299");
  expect("n300", kMissing);
  ASSERT_EQ(kErrorSuccess, second->DeleteTree(kHKeyLocalMachine, path));
  expect("v", Format("open: %ld", long{kErrorFileNotFound}));
  ASSERT_EQ(kErrorSuccess,
            second->CreateKey(kHKeyLocalMachine, path, RegAccess::kAll, key.Out(), nullptr));
  ASSERT_EQ(kErrorSuccess, second->SetString(key.Get(), "v", "one"));
  ASSERT_EQ(kErrorSuccess, second->SetString(key.Get(), "other", "died"));

  // A program takes the registry's mutex as a writer does (making the
  // count beside it odd), lets the first read meanwhile, changes the value
  // and dies before it can end its change.
  struct Mapped {
    uint64_t magic;
    pthread_mutex_t mutex;
    uint64_t count;
  };
  int to_child[2];
  int to_parent[2];
  ASSERT_EQ(0, ::pipe(to_child));
  ASSERT_EQ(0, ::pipe(to_parent));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fd = ::open((path_ + ".lock").c_str(), O_RDWR);
    void* map = fd < 0 ? MAP_FAILED
                       : ::mmap(nullptr, sizeof(Mapped), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) ::_exit(2);
    Mapped* shared = static_cast<Mapped*>(map);
    if (::pthread_mutex_lock(&shared->mutex) != 0) ::_exit(3);
    shared->count += 1;
    char c = 0;
    if (::write(to_parent[1], &c, 1) != 1 || ::read(to_child[0], &c, 1) != 1) ::_exit(4);
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db,
                     "UPDATE vals SET data = (SELECT data FROM vals WHERE fold = "
                     "CAST('OTHER' AS BLOB)) WHERE fold = CAST('V' AS BLOB)",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      ::_exit(5);
    }
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, ::read(to_parent[0], &c, 1));
  expect("v", "one");
  ASSERT_EQ(1, ::write(to_child[1], &c, 1));
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(0, WEXITSTATUS(status));
  for (int fd : {to_child[0], to_child[1], to_parent[0], to_parent[1]}) ::close(fd);
  expect("v", "died");
  // The next writer takes the mutex over (an alarm ends the test should it
  // wait for the dead program instead).
  ::alarm(20);
  ASSERT_EQ(kErrorSuccess, second->SetString(key.Get(), "v", "after"));
  ::alarm(0);
  expect("v", "after");
  // The program's own change, and the key deleted by the other.
  {
    ScopedRegKey own(*first);
    ASSERT_EQ(kErrorSuccess,
              first->CreateKey(kHKeyLocalMachine, path, RegAccess::kAll, own.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, first->SetString(own.Get(), "v", "mine"));
  }
  expect("v", "mine");
}

// Writes count values "<prefix><i>" one by one, each call its own
// transaction, creating a key per ten values on the way; reads every
// value back. Returns the number of failures.
int WriteMany(Registry& reg, const std::string& prefix, int count) {
  int failures = 0;
  ScopedRegKey base(reg);
  if (reg.CreateKey(kHKeyCurrentUser, "race", RegAccess::kAll, base.Out(), nullptr) != 0) {
    return count;
  }
  for (int i = 0; i < count; ++i) {
    std::string name = Format("%s%d", prefix.c_str(), i);
    if (reg.SetDword(base.Get(), name, static_cast<uint32_t>(i)) != kErrorSuccess) ++failures;
    if (i % 10 == 0) {
      // Both programs create the same keys: each must find or create them.
      if (reg.CreateKey(base.Get(), Format("k%d\\%s", i, prefix.c_str()), RegAccess::kAll,
                        ScopedRegKey(reg).Out(), nullptr) != kErrorSuccess) {
        ++failures;
      }
    }
    uint32_t back = 0;
    if (reg.GetDword(base.Get(), name, &back) != kErrorSuccess || back != static_cast<uint32_t>(i)) {
      ++failures;
    }
  }
  return failures;
}

TEST_F(RegistryDatabaseTest, TwoProgramsOfOneMachineLoseNothing) {
  // The database exists before the child starts, as it does on a machine.
  ASSERT_NE(nullptr, Open());
  constexpr int kCount = 400;
  pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    std::string error;
    std::unique_ptr<Registry> reg = OpenSqliteRegistry(path_, &error);
    int failures = reg ? WriteMany(*reg, "child", kCount) : kCount;
    _exit(failures > 100 ? 100 : failures);
  }
  std::unique_ptr<Registry> reg = Open();
  ASSERT_NE(nullptr, reg);
  EXPECT_EQ(0, WriteMany(*reg, "parent", kCount));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "failed calls in the child";

  ScopedRegKey base(*reg);
  ASSERT_EQ(kErrorSuccess, reg->OpenKey(kHKeyCurrentUser, "race", RegAccess::kRead, base.Out()));
  for (int i = 0; i < kCount; ++i) {
    uint32_t v = 0;
    EXPECT_EQ(kErrorSuccess, reg->GetDword(base.Get(), Format("child%d", i), &v));
    EXPECT_EQ(static_cast<uint32_t>(i), v);
    EXPECT_EQ(kErrorSuccess, reg->GetDword(base.Get(), Format("parent%d", i), &v));
    EXPECT_EQ(static_cast<uint32_t>(i), v);
  }
  uint32_t values = 0;
  std::string name, data;
  uint32_t type = 0;
  while (reg->EnumValue(base.Get(), values, &name, &type, &data) == kErrorSuccess) ++values;
  EXPECT_EQ(2u * kCount, values);
  ScopedRegKey k0(*reg);
  ASSERT_EQ(kErrorSuccess, reg->OpenKey(base.Get(), "k0", RegAccess::kRead, k0.Out()));
  EXPECT_EQ(kErrorSuccess, reg->EnumKey(k0.Get(), 1, &name));
  EXPECT_EQ(kErrorNoMoreItems, reg->EnumKey(k0.Get(), 2, &name));
}

TEST_F(RegistryDatabaseTest, UnusableFilesGiveAClearError) {
  std::string error;
  // A file that is not a database is reported and left as it was.
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7 + 3);
  FILE* f = fopen(path_.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(garbage.size(), fwrite(garbage.data(), 1, garbage.size(), f));
  fclose(f);
  EXPECT_EQ(nullptr, OpenSqliteRegistry(path_, &error));
  EXPECT_NE(std::string::npos, error.find(path_)) << error;
  EXPECT_EQ(garbage, ReadFile(path_));

  // A database of something else is not taken over.
  std::string other = folder_ + "/other.db";
  {
    std::unique_ptr<Registry> reg = OpenSqliteRegistry(other, &error);
    ASSERT_NE(nullptr, reg) << error;
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(other.c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA user_version=7", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  error.clear();
  EXPECT_EQ(nullptr, OpenSqliteRegistry(other, &error));
  EXPECT_NE(std::string::npos, error.find("not a registry database")) << error;

  // A folder in the file's place, and a folder that does not exist.
  std::string folder = folder_ + "/a_folder";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  error.clear();
  EXPECT_EQ(nullptr, OpenSqliteRegistry(folder, &error));
  EXPECT_NE(std::string::npos, error.find(folder)) << error;
  error.clear();
  EXPECT_EQ(nullptr, OpenSqliteRegistry(folder_ + "/missing/registry.db", &error));
  EXPECT_FALSE(error.empty());
  // A path through a file.
  error.clear();
  EXPECT_EQ(nullptr, OpenSqliteRegistry(path_ + "/registry.db", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace crx
