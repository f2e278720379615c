// An archive built by a builder script onto the emulated machine's 1.44 MB
// removable drive: it goes on to further disks, each within the disk's
// capacity; crx verifies and extracts it from the drive with an answers
// file that changes the disks, giving back the same files and times; and a
// listing asks for the first disk back at its end.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/posix/host_paths.h"
#include "support/file_helpers.h"
#include "support/scoped_settings.h"
#include "support/test_platform.h"

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";
constexpr uint64_t kFloppy = 1474560;

std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

class VolumesBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    Platform& p = tp_.Get();
    ScopedRegKey key(p.registry);
    ASSERT_EQ(kErrorSuccess, p.registry.CreateKey(kHKeyLocalMachine, kSettingsKey,
                                                  RegAccess::kAll, key.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, p.registry.SetString(key.Get(), "datafile",
                                                  HostToWindowsPath(CRX_FULL_STUB_FILE)));
    // A: with four disks, disk 1 in the drive; the programs started below
    // open the machine afresh and find it.
    std::string section = Format("\n[Drive A]\nType=removable\nCapacity=%llu\n",
                                 static_cast<unsigned long long>(kFloppy));
    for (int i = 1; i <= 4; ++i) {
      const std::string folder = Disk(i);
      ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0) << folder;
      section += Format("Media%d=%s\n", i, folder.c_str());
    }
    section += "CurrentMedia=1\n";
    FILE* f = std::fopen((tp_.MachineFolder() + "/machine.ini").c_str(), "a");
    ASSERT_TRUE(f != nullptr);
    std::fputs(section.c_str(), f);
    std::fclose(f);
    environment_ = std::make_unique<test::ScopedEnvironment>(p.environment);
  }

  std::string Disk(int n) { return Format("%s/disk%d", tp_.MachineFolder().c_str(), n); }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  void Write(const std::string& path, const std::string& data, FileTime time) {
    ASSERT_TRUE(test::WriteWholeFile(tp_.Get().files, path, data)) << path;
    ASSERT_TRUE(tp_.Get().files.SetLastWriteTime(path, time)) << path;
  }
  // Runs a program with the answers given; its exit code. The program's
  // output goes to run.txt in the scratch folder.
  int Run(const std::string& command_line, const std::string& answers) {
    Write(At("answers.txt"), answers, 0x01D0000000000000ull);
    environment_->Set("CRX_ANSWERS", At("answers.txt"));
    StartOptions options;
    options.folder = tp_.Scratch();
    return test::RunAndWait(tp_.Get().processes, command_line, options, 300000);
  }
  // Puts disk n into A: (as crxmachine drive insert does).
  void Insert(int n) {
    std::string error;
    std::unique_ptr<HostPlatform> machine = OpenHostPlatform(&error);
    ASSERT_TRUE(machine && machine->Get().disks) << error;
    ASSERT_TRUE(machine->Get().disks->InsertDisk('A', n));
  }
  uint64_t HostSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }

  test::TestPlatform tp_;
  std::unique_ptr<test::ScopedEnvironment> environment_;
};

TEST_F(VolumesBuildTest, ScriptBuildsAcrossDisksAndCrxReadsThemBack) {
  FileSystem& files = tp_.Get().files;
  ASSERT_TRUE(files.CreateFolder(At("product")));
  ASSERT_TRUE(files.CreateFolder(At("product\\docs")));
  // About 4 MB of mixed files: some that do not compress, some text.
  struct Source {
    std::string name;
    std::string data;
  };
  std::vector<Source> sources = {
      {"product\\a.bin", Noise(1000000, 1)},
      {"product\\b.bin", Noise(900000, 2)},
      {"product\\docs\\c.bin", Noise(800000, 3)},
      {"product\\docs\\manual.txt", std::string()},
      {"product\\readme.txt", "read me\r\n"},
      {"product\\empty.txt", std::string()},
  };
  for (int i = 0; i < 40000; ++i) sources[3].data += Format("line %d of the manual\r\n", i);
  FileTime time = 0x01DB000000000000ull;
  for (const Source& s : sources) {
    Write(At(s.name), s.data, time);
    time += 36000000000ull;
  }
  // Compressed: about 2.7 MB on three disks (the stub takes 217,088 bytes
  // of the first).
  Write(At("build.crs"), "+Z\n>A:\\set.exe\n" + At("product") + "\n", time);
  const std::string builder = "\"" + HostToWindowsPath(CRX_BUILDER_PROGRAM) + "\"";
  const std::string crx = "\"" + HostToWindowsPath(CRX_TOOL_PROGRAM) + "\"";
  const std::string reading = "Disk OK Insert=2\nDisk OK Insert=3\n";
  ASSERT_EQ(0, Run(builder + " " + At("build.crs"),
                   "Disk OK Insert=2\nDisk OK Insert=3\n"
                   "MessageBox OK Insert=1\n" + reading));

  ASSERT_GT(HostSize(Disk(1) + "/set.exe"), 0u);
  ASSERT_GT(HostSize(Disk(2) + "/set.exe-1"), 0u);
  ASSERT_GT(HostSize(Disk(3) + "/set.exe-2"), 0u);
  EXPECT_EQ(HostSize(Disk(4) + "/set.exe-3"), 0u);
  for (const std::string& volume : {Disk(1) + "/set.exe", Disk(2) + "/set.exe-1",
                                    Disk(3) + "/set.exe-2"}) {
    EXPECT_LE(HostSize(volume), kFloppy - 512) << volume;
  }

  Insert(1);
  EXPECT_EQ(0, Run(crx + " verify A:\\set.exe", reading));
  Insert(1);
  // Extraction asks first whether to go on with an archive that may span
  // disks, walks them for the member list, asks for the first one back and
  // reads them all again.
  EXPECT_EQ(0, Run(crx + " extract A:\\set.exe -o " + At("out"),
                   "MessageBox Yes\n" + reading + "MessageBox OK Insert=1\n" + reading));
  for (const Source& s : sources) {
    SCOPED_TRACE(s.name);
    // Without the stored root the members land below the output folder
    // under their stored paths.
    const std::string stored = At(s.name).substr(3);
    const std::string out = At("out\\" + stored);
    const std::string got = test::ReadWholeFile(files, out);
    EXPECT_TRUE(got == s.data) << out << ": " << got.size() << " bytes, wanted " << s.data.size();
    FileTime a = 0;
    FileTime b = 1;
    EXPECT_TRUE(files.GetLastWriteTime(At(s.name), &a));
    EXPECT_TRUE(files.GetLastWriteTime(out, &b));
    EXPECT_EQ(a, b);
  }

  // A listing walks every disk and then asks for the first one back.
  Insert(1);
  EXPECT_EQ(0, Run(crx + " list A:\\set.exe", "MessageBox Yes\n" + reading +
                                                  "MessageBox OK Insert=1\n"))
      << "the last answer puts the first disk back";
}

}  // namespace
}  // namespace crx
