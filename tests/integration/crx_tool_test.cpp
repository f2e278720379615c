// The crx tool run as a real program on archives the engine writes: every
// member comes back with identical bytes and times, protected archives need
// their password, and damage is refused with a failing exit status. Runs
// on the emulated machine and, in the win64 build, under wine64.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

#ifndef _WIN32
#include "platform/posix/host_paths.h"
#endif

namespace crx {
namespace {

class RecordingUi : public UserInterface {
 public:
  std::vector<std::string> texts;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    texts.push_back(text);
    return kIdOk;
  }
};

struct SourceFile {
  std::string relative;  // below the product folder
  std::string data;
  FileTime time;
};

class CrxToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    ResetLogState();
    std::string tool = CRX_TOOL;
#ifdef _WIN32
    // The build tree is a host folder; wine shows the host's root as Z:.
    for (char& c : tool) {
      if (c == '/') c = '\\';
    }
    tool_ = "Z:" + tool;
#else
    tool_ = HostToWindowsPath(tool);
#endif
    ASSERT_FALSE(tool_.empty());
    // A stub of exactly the full stub's size, named by the registry as the
    // builder's settings would.
    std::string stub(static_cast<size_t>(FULL_STUB_SIZE), '\0');
    for (size_t i = 0; i < stub.size(); i += 97) stub[i] = static_cast<char>(i);
    WriteFile(At("stub.dat"), stub);
    ScopedRegKey key(fs_registry());
    ASSERT_EQ(kErrorSuccess, fs_registry().CreateKey(kHKeyLocalMachine,
                                                     "SOFTWARE\\Velmora\\Cratex\\1.00",
                                                     RegAccess::kAll, key.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, fs_registry().SetString(key.Get(), "datafile", At("stub.dat")));
    // An empty answers file: any question the tool would ask ends it with
    // an error instead of waiting for an answer.
    WriteFile(At("answers.txt"), "");
    ASSERT_TRUE(p().environment.Set("CRX_ANSWERS", At("answers.txt")));

    std::string big;
    for (int i = 0; i < 150000; ++i) big += static_cast<char>((i * 7919) >> 3);
    files_ = {
        {"readme.txt", "Read me first.\r\nThen read me again.\r\n", 132000000001234567ULL},
        {"empty.txt", "", 131000000000000001ULL},
        {"bin\\data.bin", big, 130000000000000009ULL},
        {"bin\\deep\\notes.txt", std::string(5000, 'n') + "end", 133000000000000003ULL},
    };
    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    ASSERT_TRUE(p().files.CreateFolder(At("product\\bin")));
    ASSERT_TRUE(p().files.CreateFolder(At("product\\bin\\deep")));
    for (const SourceFile& f : files_) {
      WriteFile(Product(f.relative), f.data);
      ASSERT_TRUE(p().files.SetLastWriteTime(Product(f.relative), f.time));
    }
  }

  void TearDown() override {
    p().environment.Unset("CRX_ANSWERS");
    ScopedRegKey key(fs_registry());
    if (fs_registry().OpenKey(kHKeyLocalMachine, "SOFTWARE\\Velmora\\Cratex\\1.00",
                              RegAccess::kAll, key.Out()) == kErrorSuccess) {
      fs_registry().DeleteValue(key.Get(), "datafile");
    }
  }

  Platform& p() { return tp_.Get(); }
  Registry& fs_registry() { return tp_.Get().registry; }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  std::string Product(const std::string& relative) { return At("product\\" + relative); }

  void WriteFile(const std::string& path, const std::string& data) {
    ASSERT_TRUE(test::WriteWholeFile(p().files, path, data)) << path;
  }
  std::string ReadFile(const std::string& path) {
    return test::ReadWholeFile(p().files, path, "<missing>", kShareRead);
  }

  // Writes an archive of the product's files with the engine.
  void Build(const std::string& archive, const std::string& options,
             const std::string& password) {
    RecordingUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions(options);
    if (!password.empty()) engine.set_password_digest(DigestFromPaddedPassword(password));
    ASSERT_TRUE(engine.CreateArchive(archive));
    for (const SourceFile& f : files_) ASSERT_TRUE(engine.AddFile(Product(f.relative)));
    ASSERT_TRUE(engine.CloseArchive());
    EXPECT_TRUE(ui.texts.empty()) << ui.texts[0];
  }

  // Runs crx with the arguments; returns its exit code (-1 when it did not
  // start or end).
  int Crx(const std::string& arguments) {
    return test::RunAndWait(p().processes, "\"" + tool_ + "\" " + arguments, StartOptions(),
                            120000);
  }

  // Every product file below output, as the extraction stores it: the
  // stored name (its full source path) without its root.
  void ExpectExtracted(const std::string& output) {
    for (const SourceFile& f : files_) {
      std::string path = output + "\\" + winpath::WithoutRoot(Product(f.relative));
      EXPECT_EQ(f.data, ReadFile(path)) << path;
      FileTime time = 0;
      EXPECT_TRUE(p().files.GetLastWriteTime(path, &time)) << path;
      EXPECT_EQ(f.time, time) << path;
    }
  }

  test::TestPlatform tp_;
  std::string tool_;
  std::vector<SourceFile> files_;
};

TEST_F(CrxToolTest, ExtractsIdenticalBytesAndTimes) {
  const std::string archive = At("plain.exe");
  Build(archive, "+Z", "");
  EXPECT_EQ(0, Crx("info \"" + archive + "\""));
  EXPECT_EQ(0, Crx("list \"" + archive + "\""));
  EXPECT_EQ(0, Crx("verify \"" + archive + "\""));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\""));
  ExpectExtracted(At("out"));

  // Stored members, flattened into one folder.
  const std::string stored = At("stored.exe");
  Build(stored, "-Z", "");
  EXPECT_EQ(0, Crx("extract \"" + stored + "\" -o \"" + At("flat") + "\" --flatten"));
  for (const SourceFile& f : files_) {
    EXPECT_EQ(f.data, ReadFile(At("flat\\" + winpath::LastElement(f.relative)))) << f.relative;
  }
}

TEST_F(CrxToolTest, BrowseExtractsWhatTheAnswersChoose) {
  const std::string archive = At("plain.exe");
  Build(archive, "+Z", "");
  // Rows are listed in archive order: 3 is bin\data.bin.
  WriteFile(At("answers.txt"), "Browse GetSelected Selection=3 ToLocations=0 OutputFolder=" +
                                   At("picked") + "\nBrowse Close\n");
  EXPECT_EQ(0, Crx("browse \"" + archive + "\""));
  const std::string data = At("picked\\" + winpath::WithoutRoot(Product("bin\\data.bin")));
  EXPECT_EQ(files_[2].data, ReadFile(data));
  EXPECT_EQ("<missing>",
            ReadFile(At("picked\\" + winpath::WithoutRoot(Product("readme.txt")))));
  // The answers run out before the browser is closed: the run fails.
  WriteFile(At("answers.txt"), "Browse GetAll ToLocations=0 OutputFolder=" + At("all") + "\n");
  EXPECT_NE(0, Crx("browse \"" + archive + "\""));
  ExpectExtracted(At("all"));
}

TEST_F(CrxToolTest, ExistingFilesFollowTheReplaceMode) {
  const std::string archive = At("plain.exe");
  Build(archive, "+Z", "");
  ASSERT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\""));
  const std::string readme = At("out\\" + winpath::WithoutRoot(Product("readme.txt")));
  WriteFile(readme, "changed");
  ASSERT_TRUE(p().files.SetLastWriteTime(readme, 140000000000000000ULL));  // newer

  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --replace never"));
  EXPECT_EQ("changed", ReadFile(readme));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --replace newer"));
  EXPECT_EQ("changed", ReadFile(readme));
  // Prompting with nobody to answer (an empty answers file) ends with an
  // error and keeps the file.
  EXPECT_NE(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\""));
  EXPECT_EQ("changed", ReadFile(readme));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --replace always"));
  ExpectExtracted(At("out"));
}

TEST_F(CrxToolTest, ProtectedArchivesNeedTheirPassword) {
  const std::string archive = At("locked.exe");
  Build(archive, "+ZE", "secret");
  // Verification needs no password; listing and extraction do.
  EXPECT_EQ(0, Crx("verify \"" + archive + "\""));
  EXPECT_NE(0, Crx("list \"" + archive + "\""));
  EXPECT_NE(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --password wrong"));
  EXPECT_FALSE(p().files.Exists(At("out")));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --password secret"));
  ExpectExtracted(At("out"));
}

TEST_F(CrxToolTest, DamageAndMisuseFail) {
  const std::string archive = At("stored.exe");
  Build(archive, "-Z", "");
  // Change one byte of the last member's data (just before the end marker).
  std::string bytes = ReadFile(archive);
  ASSERT_GT(bytes.size(), 10u);
  bytes[bytes.size() - 5] ^= 0x55;
  WriteFile(At("damaged.exe"), bytes);
  EXPECT_EQ(1, Crx("verify \"" + At("damaged.exe") + "\""));
  EXPECT_EQ(1, Crx("extract \"" + At("damaged.exe") + "\" -o \"" + At("out") + "\""));

  WriteFile(At("not_an_archive.exe"), std::string(1000, 'x'));
  EXPECT_EQ(1, Crx("info \"" + At("not_an_archive.exe") + "\""));
  EXPECT_EQ(1, Crx("list \"" + At("missing.exe") + "\""));
  EXPECT_EQ(2, Crx("unpack \"" + archive + "\""));
  EXPECT_EQ(2, Crx("list"));
  EXPECT_EQ(2, Crx("list \"" + archive + "\" --flatten"));
}

}  // namespace
}  // namespace crx
