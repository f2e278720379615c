// The emulated machine's restart: boot-time moves from the registry, the
// [Rename] section of wininit.ini with 8.3 names, and the Startup batch
// runner, alone and in the order a restart takes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/host_paths.h"
#include "platform/posix/machine_reboot.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Collects what a restart prints.
struct Lines {
  std::vector<std::string> lines;
  RebootOutput Sink() {
    return [this](const std::string& line) { lines.push_back(line); };
  }
  std::string All() const {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
  }
  // The index of the first line containing text, or -1.
  int Find(const std::string& text) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  }
};

std::string StartupFolder(Platform& p) {
  RegKey k = 0;
  std::string folder;
  if (p.registry.OpenKey(kHKeyCurrentUser,
                         "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                         RegAccess::kRead, &k) == kErrorSuccess) {
    p.registry.GetString(k, "Startup", &folder);
    p.registry.CloseKey(k);
  }
  return folder;
}

bool PendingValueExists(Platform& p) {
  RegKey k = 0;
  if (p.registry.OpenKey(kHKeyLocalMachine, kSessionManager, RegAccess::kRead, &k) != kErrorSuccess) {
    return false;
  }
  uint32_t type = 0;
  std::string data;
  bool exists = p.registry.QueryValue(k, "PendingFileRenameOperations", &type, &data) == kErrorSuccess;
  p.registry.CloseKey(k);
  return exists;
}

TEST(MachineRebootTest, PendingMovesRunInOrderAndTheValueGoes) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string app = tp.Scratch() + "\\App";
  ASSERT_TRUE(p.files.CreateFolder(app));
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\lib.dll", "old"));
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\lib.dll.1c.tmp", "new"));
  ASSERT_TRUE(p.files.SetAttributes(app + "\\lib.dll", kAttrReadOnly));
  ASSERT_TRUE(p.files.CreateFolder(app + "\\Gone"));
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\Gone\\a.txt", "a"));
  // A replacement as the interpreter asks for it (delete the target, move
  // the copy onto it, delete the copy), then a folder after its content.
  ASSERT_TRUE(p.shell.MoveAtBoot(app + "\\lib.dll", ""));
  ASSERT_TRUE(p.shell.MoveAtBoot(app + "\\lib.dll.1c.tmp", app + "\\lib.dll"));
  ASSERT_TRUE(p.shell.MoveAtBoot(app + "\\lib.dll.1c.tmp", ""));
  ASSERT_TRUE(p.shell.MoveAtBoot(app + "\\Gone\\a.txt", ""));
  ASSERT_TRUE(p.shell.MoveAtBoot(app + "\\Gone", ""));

  Lines out;
  EXPECT_TRUE(CarryOutPendingRenames(p, out.Sink())) << out.All();
  EXPECT_EQ("new", ReadWholeFile(p.files, app + "\\lib.dll"));
  EXPECT_FALSE(p.files.Exists(app + "\\lib.dll.1c.tmp"));
  EXPECT_FALSE(p.files.Exists(app + "\\Gone"));
  EXPECT_FALSE(PendingValueExists(p));
  ASSERT_EQ(6u, out.lines.size()) << out.All();
  EXPECT_EQ("boot: deleted " + app + "\\lib.dll", out.lines[0]);
  EXPECT_EQ("boot: moved " + app + "\\lib.dll.1c.tmp to " + app + "\\lib.dll", out.lines[1]);
  // The copy's own deletion finds nothing left: reported, not a failure.
  EXPECT_EQ("boot: nothing to delete: " + app + "\\lib.dll.1c.tmp is not there", out.lines[2]);
  EXPECT_EQ("boot: removed the folder " + app + "\\Gone", out.lines[4]);
  EXPECT_EQ("boot: removed PendingFileRenameOperations", out.lines[5]);

  // Nothing left to do the second time.
  out.lines.clear();
  EXPECT_TRUE(CarryOutPendingRenames(p, out.Sink()));
  EXPECT_EQ("boot: no pending file rename operations", out.All().substr(0, out.All().size() - 1));

  // A move whose source is gone is skipped; a move onto an existing file
  // fails unless the target carries "!" (replace); later entries still run.
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\a.txt", "A"));
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\b.txt", "B"));
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\c.txt", "C"));
  std::string data = "\\??\\" + app + "\\missing.txt";
  data += '\0';
  data += "\\??\\" + app + "\\x.txt";
  data += '\0';
  data += "\\??\\" + app + "\\a.txt";
  data += '\0';
  data += "\\??\\" + app + "\\b.txt";
  data += '\0';
  data += "\\??\\" + app + "\\c.txt";
  data += '\0';
  data += "!\\??\\" + app + "\\b.txt";
  data += std::string(2, '\0');
  RegKey k = 0;
  ASSERT_EQ(kErrorSuccess, p.registry.CreateKey(kHKeyLocalMachine, kSessionManager, RegAccess::kAll, &k, nullptr));
  ASSERT_EQ(kErrorSuccess, p.registry.SetValue(k, "PendingFileRenameOperations", kRegMultiSz, data.data(), data.size()));
  p.registry.CloseKey(k);
  out.lines.clear();
  EXPECT_FALSE(CarryOutPendingRenames(p, out.Sink()));
  EXPECT_NE(-1, out.Find("skipped the move of " + app + "\\missing.txt")) << out.All();
  EXPECT_NE(-1, out.Find("cannot move " + app + "\\a.txt to " + app + "\\b.txt: the target exists")) << out.All();
  EXPECT_EQ("A", ReadWholeFile(p.files, app + "\\a.txt"));
  EXPECT_EQ("C", ReadWholeFile(p.files, app + "\\b.txt"));
  EXPECT_FALSE(p.files.Exists(app + "\\c.txt"));
  EXPECT_FALSE(PendingValueExists(p));
}

TEST(MachineRebootTest, WininitRenamesUseShortNamesAndLeaveTheRestOfTheFile) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string app = tp.Scratch() + "\\My Application";
  ASSERT_TRUE(p.files.CreateFolder(app));
  const std::string dll = app + "\\Long Library.dll";
  const std::string copy = dll + ".1c.tmp";
  ASSERT_TRUE(WriteWholeFile(p.files, dll, "old"));
  ASSERT_TRUE(WriteWholeFile(p.files, copy, "new"));
  ASSERT_TRUE(WriteWholeFile(p.files, app + "\\stale.txt", "x"));
  std::string short_dll, short_copy, short_folder;
  ASSERT_TRUE(p.files.ShortPath(dll, &short_dll));
  ASSERT_TRUE(p.files.ShortPath(copy, &short_copy));
  ASSERT_TRUE(p.files.ShortPath(app, &short_folder));
  EXPECT_EQ(short_folder + "\\LONGLI~1.DLL", short_dll);
  EXPECT_EQ(short_folder + "\\LONGLI~1.TMP", short_copy);

  // Entries as the interpreter writes them: the newest on top.
  const std::string ini = "C:\\WINDOWS\\wininit.ini";
  const std::string before = "[Settings]\r\nKeep=1\r\n";
  const std::string after = "[Other]\r\nAlso=kept\r\n";
  ASSERT_TRUE(WriteWholeFile(p.files, ini,
                             before + "[Rename]\r\n" + short_dll + "=" + short_copy + "\r\nNUL=" +
                                 short_copy + "\r\nnul=" + short_folder + "\\STALE.TXT\r\n" + after));
  Lines out;
  EXPECT_TRUE(CarryOutWininit(p, out.Sink())) << out.All();
  // Moved before long names exist: the file now has its short name; the
  // long one is gone until the rename batch gives it back.
  EXPECT_FALSE(p.files.Exists(dll));
  EXPECT_FALSE(p.files.Exists(copy));
  EXPECT_FALSE(p.files.Exists(app + "\\stale.txt"));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(p.files.ListFolder(app + "\\*.*", &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("LONGLI~1.DLL", entries[0].name);
  EXPECT_EQ("new", ReadWholeFile(p.files, app + "\\LONGLI~1.DLL"));
  EXPECT_EQ(before + after, ReadWholeFile(p.files, ini));
  EXPECT_NE(-1, out.Find("nothing to delete: " + short_copy)) << out.All();
  EXPECT_NE(-1, out.Find("wininit: removed the [Rename] section of " + ini)) << out.All();

  // The batch line that restores the long name.
  const std::string batch = tp.Scratch() + "\\restore.bat";
  ASSERT_TRUE(WriteWholeFile(p.files, batch,
                             "if exist \"" + short_folder + "\\LONGLI~1.DLL\" rename \"" +
                                 short_folder + "\\LONGLI~1.DLL\" \"Long Library.dll\"\n"));
  EXPECT_TRUE(RunStartupBatch(p, batch, out.Sink())) << out.All();
  EXPECT_EQ("new", ReadWholeFile(p.files, dll));
  ASSERT_TRUE(p.files.ListFolder(app + "\\*.*", &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("Long Library.dll", entries[0].name);
  // The restored file gets an alias of its own name again.
  ASSERT_TRUE(p.files.ShortPath(dll, &short_dll));
  EXPECT_EQ(short_folder + "\\LONGLI~1.DLL", short_dll);

  // A section that is the whole file takes the file with it; a rename whose
  // source is missing is skipped and reported.
  ASSERT_TRUE(WriteWholeFile(p.files, ini, "[Rename]\r\n" + app + "\\x.dll=" + app + "\\none.tmp\r\n"));
  out.lines.clear();
  EXPECT_FALSE(CarryOutWininit(p, out.Sink()));
  EXPECT_NE(-1, out.Find("skipped the move of " + app + "\\none.tmp")) << out.All();
  EXPECT_FALSE(p.files.Exists(ini));
  EXPECT_FALSE(p.files.Exists(app + "\\x.dll"));
  // An entry without full paths is passed over.
  ASSERT_TRUE(WriteWholeFile(p.files, ini, "[rename]\r\nNUL=relative.txt\r\n"));
  out.lines.clear();
  EXPECT_FALSE(CarryOutWininit(p, out.Sink()));
  EXPECT_NE(-1, out.Find("passed over an entry")) << out.All();
}

TEST(MachineRebootTest, BatchRunnerCarriesOutTheLinesItKnows) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string work = tp.Scratch() + "\\Work Dir";
  ASSERT_TRUE(p.files.CreateFolder(work));
  ASSERT_TRUE(p.files.CreateFolder(work + "\\Empty"));
  ASSERT_TRUE(WriteWholeFile(p.files, work + "\\a.txt", "a"));
  ASSERT_TRUE(WriteWholeFile(p.files, work + "\\gone.txt", "g"));
  // A program of the machine: it notes its folder and arguments.
  ASSERT_TRUE(WriteWholeFile(p.files, tp.Scratch() + "\\probe.exe",
                             "#!/bin/sh\npwd > probe.out\nprintf '%s|' \"$@\" >> probe.out\n"
                             "exit 0\n"));
  const std::string batch = tp.Scratch() + "\\job.bat";
  ASSERT_TRUE(WriteWholeFile(
      p.files, batch,
      "echo off\r\necho.Complete Installation Of Demo...\r\n\r\nC:\r\ncd \"" + work +
          "\"\r\n"
          "if exist \"" + work + "\\a.txt\" rename \"" + work + "\\a.txt\" \"b.txt\"\r\n"
          "if exist \"" + work + "\\none.txt\" del \"" + work + "\\none.txt\"\r\n"
          "if exist \"gone.txt\" del \"gone.txt\"\r\n"
          "rmdir \"" + work + "\\Empty\"\r\n"
          "\"" + tp.Scratch() + "\\probe.exe\" -rstep2$/sms:silent$install.txt \"two words\"\r\n"
          "echo.\r\n"
          "pause\r\n"
          "echo plain text\r\n"
          "del \"" + batch + "\"\r\n"));
  Lines out;
  EXPECT_TRUE(RunStartupBatch(p, batch, out.Sink())) << out.All();
  EXPECT_FALSE(p.files.Exists(batch));
  EXPECT_EQ("a", ReadWholeFile(p.files, work + "\\b.txt"));
  EXPECT_FALSE(p.files.Exists(work + "\\a.txt"));
  EXPECT_FALSE(p.files.Exists(work + "\\gone.txt"));
  EXPECT_FALSE(p.files.Exists(work + "\\Empty"));
  // The program ran in the folder of the last cd, with its arguments.
  EXPECT_EQ(WindowsToHostPath(work) + "\n-rstep2$/sms:silent$install.txt|two words|",
            ReadWholeFile(p.files, work + "\\probe.out"));
  const std::vector<std::string> expected_start = {
      "logon: run " + batch,
      "Complete Installation Of Demo...",
      "logon: drive C:, folder " + tp.Scratch(),
      "logon: cd " + work,
      "logon: renamed " + work + "\\a.txt to b.txt",
      "logon: " + work + "\\none.txt is not there; nothing to do",
      "logon: deleted " + work + "\\gone.txt",
      "logon: removed the folder " + work + "\\Empty",
  };
  ASSERT_GE(out.lines.size(), expected_start.size() + 6) << out.All();
  for (size_t i = 0; i < expected_start.size(); ++i) EXPECT_EQ(expected_start[i], out.lines[i]);
  size_t n = expected_start.size();
  EXPECT_EQ(0u, out.lines[n].find("logon: start \"")) << out.lines[n];
  EXPECT_EQ("logon: the program ended with exit code 0", out.lines[n + 1]);
  EXPECT_EQ("", out.lines[n + 2]);
  EXPECT_EQ("Press any key to continue . . .", out.lines[n + 3]);
  EXPECT_EQ("plain text", out.lines[n + 4]);
  EXPECT_EQ("logon: deleted " + batch, out.lines[n + 5]);
}

TEST(MachineRebootTest, BatchRunnerRefusesOtherLinesAndReportsFailures) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string dir = tp.Scratch();
  ASSERT_TRUE(WriteWholeFile(p.files, dir + "\\keep.txt", "k"));
  const std::string batch = dir + "\\bad.bat";
  // Each refused line stops its batch; what came before it has run.
  for (const std::string& bad :
       {std::string("format C:"), std::string("@echo off"), std::string("del *.txt /q"),
        std::string("if exist \"" + dir + "\\keep.txt\" copy \"a\" \"b\""),
        std::string("rename \"" + dir + "\\keep.txt\" \"k.txt\""), std::string("cd.."),
        std::string("\"unterminated program")}) {
    ASSERT_TRUE(WriteWholeFile(p.files, batch,
                               "echo.before\n" + bad + "\ndel \"" + dir + "\\keep.txt\"\n"));
    Lines out;
    EXPECT_FALSE(RunStartupBatch(p, batch, out.Sink())) << bad;
    EXPECT_EQ("before", out.lines.at(1));
    EXPECT_EQ("logon: refused line 2 of " + batch + ", not a line this batch runner knows: " + bad,
              out.lines.at(2));
    EXPECT_EQ(4u, out.lines.size()) << out.All();
    EXPECT_TRUE(p.files.Exists(dir + "\\keep.txt")) << bad;
    EXPECT_TRUE(p.files.Exists(batch));
  }

  // Failures are reported and the batch goes on: a rename into another
  // folder, a missing file, a folder that is not empty, a failing program.
  ASSERT_TRUE(p.files.CreateFolder(dir + "\\Full"));
  ASSERT_TRUE(WriteWholeFile(p.files, dir + "\\Full\\x", "x"));
  ASSERT_TRUE(WriteWholeFile(p.files, dir + "\\fail.exe", "#!/bin/sh\nexit 3\n"));
  ASSERT_TRUE(WriteWholeFile(
      p.files, batch,
      "if exist \"" + dir + "\\keep.txt\" rename \"" + dir + "\\keep.txt\" \"..\\k.txt\"\n"
      "del \"" + dir + "\\missing.txt\"\n"
      "rmdir \"" + dir + "\\Full\"\n"
      "cd \"" + dir + "\\Nowhere\"\n"
      "\"" + dir + "\\fail.exe\"\n"
      "\"" + dir + "\\absent.exe\" x\n"
      "echo.after\n"));
  Lines out;
  EXPECT_FALSE(RunStartupBatch(p, batch, out.Sink()));
  EXPECT_NE(-1, out.Find("cannot rename to ..\\k.txt")) << out.All();
  EXPECT_NE(-1, out.Find("could not find " + dir + "\\missing.txt")) << out.All();
  EXPECT_NE(-1, out.Find("cannot remove the folder " + dir + "\\Full (error 145[0x91])")) << out.All();
  EXPECT_NE(-1, out.Find("cd: there is no folder " + dir + "\\Nowhere")) << out.All();
  EXPECT_NE(-1, out.Find("the program ended with exit code 3")) << out.All();
  EXPECT_NE(-1, out.Find("cannot start \"" + dir + "\\absent.exe\" x")) << out.All();
  EXPECT_EQ("after", out.lines.back());
  EXPECT_TRUE(p.files.Exists(dir + "\\keep.txt"));
}

TEST(MachineRebootTest, RestartRunsBootMovesThenWininitThenStartupBatches) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string dir = tp.Scratch();
  const std::string startup = StartupFolder(p);
  ASSERT_TRUE(p.files.IsFolder(startup)) << startup;
  // One file passes through all three: the registry moves it to b, the
  // initialisation file moves b to c, the batch renames c to d. Any other
  // order leaves it elsewhere.
  ASSERT_TRUE(WriteWholeFile(p.files, dir + "\\a.txt", "payload"));
  ASSERT_TRUE(p.shell.MoveAtBoot(dir + "\\a.txt", dir + "\\b.txt"));
  ASSERT_TRUE(WriteWholeFile(p.files, "C:\\WINDOWS\\wininit.ini",
                             "[Rename]\r\n" + dir + "\\c.txt=" + dir + "\\b.txt\r\n"));
  const std::string batch1 = startup + "\\ks_rename_1.bat";
  const std::string batch2 = startup + "\\ks_rename_2.BAT";
  ASSERT_TRUE(WriteWholeFile(p.files, batch1,
                             "if exist \"" + dir + "\\c.txt\" rename \"" + dir + "\\c.txt\" \"d.txt\"\n"
                             "del \"" + batch1 + "\"\n"));
  // The second batch names a line it cannot run; it stops and stays.
  ASSERT_TRUE(WriteWholeFile(p.files, batch2, "echo.second\nshutdown -r\n"));
  // Not a batch file: left alone.
  ASSERT_TRUE(WriteWholeFile(p.files, startup + "\\notes.txt", "del everything\n"));

  Lines out;
  EXPECT_FALSE(RebootMachine(p, out.Sink())) << out.All();
  EXPECT_EQ("payload", ReadWholeFile(p.files, dir + "\\d.txt"));
  EXPECT_FALSE(p.files.Exists(batch1));
  EXPECT_TRUE(p.files.Exists(batch2));
  EXPECT_TRUE(p.files.Exists(startup + "\\notes.txt"));
  int boot = out.Find("boot: moved");
  int wininit = out.Find("wininit: moved");
  int logon1 = out.Find("logon: run " + batch1);
  int logon2 = out.Find("logon: run " + batch2);
  EXPECT_TRUE(boot >= 0 && boot < wininit && wininit < logon1 && logon1 < logon2) << out.All();
  EXPECT_NE(-1, out.Find("refused line 2 of " + batch2)) << out.All();

  // Once the stopped batch is gone, a restart has nothing left to do and
  // succeeds.
  ASSERT_TRUE(p.files.DeleteFile(batch2));
  out.lines.clear();
  EXPECT_TRUE(RebootMachine(p, out.Sink())) << out.All();
  EXPECT_EQ(3u, out.lines.size()) << out.All();
  EXPECT_NE(-1, out.Find("logon: no batch files in " + startup)) << out.All();
}

}  // namespace
}  // namespace crx
