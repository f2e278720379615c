// Archives that span several volumes, read by the real programs on the
// emulated machine: a volume set copied into one folder of a fixed disk is
// read by crx without a question (a missing volume is a clear failure);
// both self-extractors run from a removable drive ask for each disk in
// turn, answered by an answers file that changes the disks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "support/crx_tool_fixture.h"
#include "support/recording_ui.h"
#include "support/volume_set.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"

namespace crx {
namespace {

using test::SourceFile;

class VolumesRoadTest : public test::CrxToolFixture {
 protected:
  void SetUp() override {
    // Any question would end crx with an error: a fixed disk asks none.
    SetUpTool(CRX_TOOL, std::string(static_cast<size_t>(FULL_STUB_SIZE), '\0'));
    if (HasFatalFailure()) return;

    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 90000; ++i) {
      x = x * 1103515245u + 12345u;
      noise += static_cast<char>(x >> 24);
    }
    files_ = {{"readme.txt", "Read me first.\r\n", 132000000001234567ULL},
              {"noise.bin", noise, 130000000000000009ULL},
              {"empty.txt", "", 131000000000000001ULL},
              {"text\\long.txt", std::string(40000, 't') + "end", 133000000000000003ULL},
              {"text\\more.bin", noise.substr(100, 30000), 129000000000000077ULL}};
    WriteProduct({"text"});
  }

  // Writes the product as one archive and cuts it into three volume files
  // beside each other, as a writer that ran out of disk twice leaves them:
  // once inside the noise member's data, once before the record of the
  // fourth member (which did not fit, so the volume ends with the
  // continuation marker). The counts stay 0, as after a switch.
  // With folders given, volume N goes into folders[N - 1] instead (the
  // disks of a removable drive), named after first's last element.
  void WriteVolumeSet(const std::string& first, bool minimal = false,
                      const std::vector<std::string>& folders = {}) {
    test::RecordingUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions("+Z");
    engine.SetOptions(minimal ? "+M" : "-M");
    const int32_t offset = minimal ? MIN_STUB_SIZE : FULL_STUB_SIZE;
    const std::string whole = At("whole.exe");
    ASSERT_TRUE(engine.CreateArchive(whole));
    for (const SourceFile& f : files_) ASSERT_TRUE(engine.AddFile(Product(f.relative)));
    ASSERT_TRUE(engine.CloseArchive());
    const std::string bytes = ReadFile(whole);
    const std::vector<test::MemberSpan> spans = test::MemberSpans(bytes, offset);
    ASSERT_EQ(spans.size(), files_.size());
    ASSERT_GT(spans[1].end - spans[1].data, 1000u);
    const std::vector<std::string> volumes = test::CutIntoVolumes(bytes, offset, 1, 3);
    ASSERT_EQ(volumes.size(), 3u);
    for (size_t i = 0; i < volumes.size(); ++i) {
      std::string path = i == 0 ? first : Format("%s-%d", first.c_str(), static_cast<int>(i));
      if (!folders.empty()) path = folders[i] + "\\" + winpath::LastElement(path);
      WriteFile(path, volumes[i]);
    }
  }
};

TEST_F(VolumesRoadTest, VolumeSetOnAFixedDiskReadsWithoutQuestions) {
  ASSERT_TRUE(p().files.CreateFolder(At("disks")));
  const std::string first = At("disks\\setup.exe");
  WriteVolumeSet(first);
  EXPECT_EQ(0, Crx("list \"" + first + "\""));
  EXPECT_EQ(0, Crx("verify \"" + first + "\""));
  EXPECT_EQ(0, Crx("extract \"" + first + "\" -o \"" + At("out") + "\""));
  ExpectExtracted(At("out"));

  // Without its last volume the set cannot be read to the end.
  ASSERT_TRUE(p().files.DeleteFile(first + "-2"));
  EXPECT_EQ(1, Crx("verify \"" + first + "\""));
  EXPECT_EQ(1, Crx("extract \"" + first + "\" -o \"" + At("again") + "\""));
}

// Both self-extractors, run from the first disk of a removable drive: the
// browser lists the archive (going on to list it, each disk, the first one
// back) and extracts everything, asking for each disk again. The stubs
// have no disk dialog of their own: they ask with a message box of its
// text, which an answers line with Insert=N answers after changing disks.
// The minimal one is given the wrong disk once while it extracts: it asks
// for the right one and goes on.
TEST_F(VolumesRoadTest, StubsExtractFromTheRemovableDriveAskingForEachDisk) {
  std::vector<std::string> disks, host_disks;
  for (int i = 1; i <= 3; ++i) {
    disks.push_back(At(Format("disk%d", i)));
    ASSERT_TRUE(p().files.CreateFolder(disks.back()));
    host_disks.push_back(WindowsToHostPath(disks.back()));
  }
  {
    std::string error;
    std::unique_ptr<Machine> machine = Machine::Open(tp_.MachineFolder(), &error);
    ASSERT_TRUE(machine) << error;
    MachineDrive a;
    a.letter = 'A';
    a.type = DriveType::kRemovable;
    a.capacity = 1474560;
    a.media = host_disks;
    a.current_media = 1;
    machine->MutableSettings().drives.push_back(a);
    ASSERT_TRUE(machine->SaveSettings(&error)) << error;
  }
  // A platform that knows the new drive, to run programs from it.
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  Platform& machine = host->Get();
  ASSERT_NE(machine.disks, nullptr);

  ScopedRegKey key(p().registry);
  ASSERT_EQ(kErrorSuccess, p().registry.OpenKey(kHKeyLocalMachine,
                                                "SOFTWARE\\Velmora\\Cratex\\1.00",
                                                RegAccess::kAll, key.Out()));
  ASSERT_EQ(kErrorSuccess,
            p().registry.SetString(key.Get(), "datafile", HostToWindowsPath(CRX_FULL_STUB_FILE)));
  ASSERT_EQ(kErrorSuccess,
            p().registry.SetString(key.Get(), "mdatafile", HostToWindowsPath(CRX_MIN_STUB_FILE)));

  for (bool minimal : {false, true}) {
    SCOPED_TRACE(minimal ? "minimal stub" : "full stub");
    WriteVolumeSet(At("whole-setup.exe"), minimal, disks);
    ASSERT_TRUE(machine.disks->InsertDisk('A', 1));
    const std::string out = At(minimal ? "outm" : "out");
    WriteFile(At("answers.txt"),
              "# go on listing the removable media archive\n"
              "MessageBox Yes\n"
              "# the disks the listing needs, then the first one back\n"
              "MessageBox OK Insert=2\n"
              "MessageBox OK Insert=3\n"
              "MessageBox OK Insert=1\n"
              "Browse GetAll ToLocations=0 \"OutputFolder=" + out + "\"\n" +
              (minimal ? "# the third disk first, then the right one\n"
                         "MessageBox OK Insert=3\n"
                         "MessageBox OK Insert=2\n"
                       : "MessageBox OK Insert=2\n") +
              "MessageBox OK Insert=3\n"
              "Browse Close\n");
    WriteFile(At("record.txt"), "");
    ASSERT_TRUE(p().environment.Set("CRX_RECORD", At("record.txt")));
    StartOptions options;
    const int code = test::RunAndWait(machine.processes, "\"A:\\whole-setup.exe\"", options,
                                      120000);
    p().environment.Unset("CRX_RECORD");
    const std::string record = ReadFile(At("record.txt"));
    EXPECT_EQ(0, code) << record;
    ExpectExtracted(out);
    // Four disk changes, each asked for as the end of a disk.
    int asked = 0;
    for (size_t at = record.find("# Cratex - End Of Disk"); at != std::string::npos;
         at = record.find("# Cratex - End Of Disk", at + 1)) {
      ++asked;
    }
    EXPECT_EQ(asked, 4) << record;
    EXPECT_NE(record.find("List operation completed."), std::string::npos) << record;
    EXPECT_EQ(record.find("Incorrect Volume in drive") != std::string::npos, minimal) << record;
  }
}

}  // namespace
}  // namespace crx
