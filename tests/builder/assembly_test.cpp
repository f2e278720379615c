// The builder's stub lookup and the offset diagnostic on a fresh machine.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "builder/assembly.h"
#include "engine/archive_engine.h"
#include "engine/user_interface.h"
#include "support/test_platform.h"

namespace crx::builder {
namespace {

// Records message boxes and answers OK.
class RecordingUi : public UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    texts.push_back(text);
    EXPECT_EQ(caption, "Cratex");
    EXPECT_EQ(flags, kMbOk);
    return kIdOk;
  }
  std::vector<std::string> texts;
};

TEST(StubOffsetText, ShowsTheLengthInHexDecimalAndK) {
  EXPECT_EQ(StubOffsetText("../CRXdat/Release/Cratex.dat", 0x35000, false),
            "../CRXdat/Release/Cratex.dat...\nOFFSET TO FULL ARCHIVE 0x35000 217088 [212K]");
  EXPECT_EQ(StubOffsetText("m.dat", 0x2C000, true),
            "m.dat...\nOFFSET TO **MIN** ARCHIVE 0x2c000 180224 [176K]");
  // One byte more than the shipped size: the K figure is rounded down.
  EXPECT_EQ(StubOffsetText("f", 0x35001, false),
            "f...\nOFFSET TO FULL ARCHIVE 0x35001 217089 [212K]");
  EXPECT_EQ(StubOffsetText("e", 1023, true), "e...\nOFFSET TO **MIN** ARCHIVE 0x3ff 1023 [0K]");
}

class AssemblyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    where_.machine_hive = kHKeyCurrentUser;
    where_.key_path = machine_.ScratchKey() + "\\Velmora\\Cratex\\1.00";
  }
  void TearDown() override { SetDefaultArchiveOffset(FULL_STUB_SIZE); }

  Platform& platform() { return machine_.Get(); }

  void StoreStub(const char* name, const std::string& value) {
    Registry& registry = platform().registry;
    ScopedRegKey key(registry);
    ASSERT_EQ(registry.CreateKey(kHKeyCurrentUser, where_.key_path, RegAccess::kAll, key.Out(),
                                 nullptr),
              kErrorSuccess);
    ASSERT_EQ(registry.SetString(key.Get(), name, value), kErrorSuccess);
  }

  bool WriteFile(const std::string& path, size_t size) {
    std::unique_ptr<File> file = platform().files.Open(path, kAccessWrite, kShareNone,
                                                       Disposition::kCreateAlways);
    const std::string bytes(size, 'x');
    return file != nullptr && file->Write(bytes.data(), bytes.size());
  }

  test::TestPlatform machine_;
  SettingsLocation where_;
  RecordingUi ui_;
};


TEST_F(AssemblyTest, OffsetDiagnosticMeasuresTheBuildTreeStubs) {
  FileSystem& files = platform().files;
  const std::string root = machine_.Scratch();
  for (const char* folder : {"\\CRXdat", "\\CRXdat\\Release", "\\CRXdat_min", "\\work"}) {
    ASSERT_TRUE(files.CreateFolder(root + folder)) << folder;
  }
  const std::string before = files.CurrentFolder();
  ASSERT_TRUE(files.SetCurrentFolder(root + "\\work"));
  // A full stub one byte longer than the shipped size; no minimal stub.
  ASSERT_TRUE(WriteFile(root + "\\CRXdat\\Release\\Cratex.dat", 0x35001));
  const int measured = ShowStubOffsets(files, ui_);
  files.SetCurrentFolder(before);

  EXPECT_EQ(measured, 1);
  ASSERT_EQ(ui_.texts.size(), 3u);
  EXPECT_EQ(ui_.texts[0],
            "../CRXdat/Release/Cratex.dat...\nOFFSET TO FULL ARCHIVE 0x35001 217089 [212K]");
  EXPECT_EQ(ui_.texts[1], "Can't open Archive File for offset calc");
  EXPECT_EQ(ui_.texts[2], "../CRXdat_min/Release/Cratexm.dat");

  int64_t length = -1;
  EXPECT_FALSE(MeasureStub(files, root + "\\missing.dat", &length));
  ASSERT_TRUE(WriteFile(root + "\\empty.dat", 0));
  ASSERT_TRUE(MeasureStub(files, root + "\\empty.dat", &length));
  EXPECT_EQ(length, 0);
}

}  // namespace
}  // namespace crx::builder
