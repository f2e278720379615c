// The copy command: disk-space accounting and check, file groups, the
// replace rules, reference counts, copies that fail part-way, and files in
// use handed to the boot-time replacement.
#include <cstdlib>
#include <memory>
#include <string>

#include "common/filetime.h"
#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/copy_fixture.h"

namespace crx::test {
namespace {

constexpr FileTime kOlder = 132000000000000000ULL;      // late 2019
constexpr FileTime kNewer = kOlder + 864000000000ULL;   // a day later

using CopyTest = CopyFixture;

TEST_F(CopyTest, PreScanCountsSizePlusRemainderPerGroup) {
  Write(At("a.bin"), std::string(3000, 'a'));
  Write(At("b.bin"), std::string(4096, 'b'));
  Command("", At("a.bin"), "C:\\App\\a.bin", "G12");
  K().CountCopySpace();
  EXPECT_EQ(3952u, K().needed_total);
  Command("-s", At("b.bin"), "C:\\App\\b.bin", "G2");
  K().CountCopySpace();
  EXPECT_EQ(3952u + 4096u, K().needed_total);
  // A source that is not there (a path from a variable the script sets
  // later) counts nothing.
  Command("", At("missing.bin"), "C:\\App\\m.bin", "G1");
  K().CountCopySpace();
  EXPECT_EQ(8048u, K().needed_total);

  EXPECT_EQ(3952, K().groups[1].bytes);
  EXPECT_EQ(1, K().groups[1].files);
  EXPECT_EQ(8048, K().groups[2].bytes);
  EXPECT_EQ(2, K().groups[2].files);
  EXPECT_EQ(0, K().groups[0].files);
  ASSERT_FALSE(host_.statuses.empty());
  EXPECT_EQ("calculate disk space: C:\\App\\a.bin...", host_.statuses[0]);
}

// The pre-scan needs only sizes: on the emulated machine a file that
// another handle holds without sharing still counts (its copy may find it
// free; Windows' pre-scan opens the file and counts it only when it can),
// and a folder never counts.
TEST_F(CopyTest, PreScanCountsLockedFilesButNoFolders) {
  Write(At("held.bin"), std::string(5000, 'h'));
  std::unique_ptr<File> holder = P().files.Open(At("held.bin"), kAccessRead | kAccessWrite,
                                                kShareNone, Disposition::kOpenExisting);
  ASSERT_TRUE(holder);
  Command("", At("held.bin"), "C:\\App\\held.bin", "G3");
  K().CountCopySpace();
#ifdef _WIN32
  holder.reset();
  K().CountCopySpace();
#endif
  EXPECT_EQ(5000u + 5000u % 2048u, K().needed_total);
  EXPECT_EQ(1, K().groups[3].files);
  ASSERT_TRUE(P().files.CreateFolder(At("folder.bin")));
  Command("", At("folder.bin"), "C:\\App\\folder.bin", "G3");
  K().CountCopySpace();
  EXPECT_EQ(5000u + 5000u % 2048u, K().needed_total);
  EXPECT_EQ(1, K().groups[3].files);
}

TEST_F(CopyTest, SpaceIsCheckedOncePerHome) {
  Write(At("src.txt"), "new");
  Command("", At("src.txt"), At("out\\dst.txt"));
  // Before HOME: a script error.
  EXPECT_FALSE(K().CmdCopy());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_NE(std::string::npos, front_end_.shown[0].text.find("before\nsetting $HOME"));

  files_.free_space = 5000;
  K().UpdateFreeSpace("C:\\Program Files\\App");
  ASSERT_FALSE(files_.free_space_roots.empty());
  EXPECT_EQ("C:\\", files_.free_space_roots.back());
  // Exactly as much as is free is enough.
  K().needed_total = 5000;
  EXPECT_TRUE(K().CmdCopy());
  EXPECT_EQ("new", Read(At("out\\dst.txt")));
  EXPECT_FALSE(K().cancelled);
  EXPECT_TRUE(K().space_checked);

  // Setting HOME again checks again, against the new drive.
  K().UpdateFreeSpace("D:/Apps");
  EXPECT_EQ("D:/", files_.free_space_roots.back());
  EXPECT_FALSE(K().space_checked);
  K().needed_total = 5001;
  Write(At("src.txt"), "newer", kNewer);
  front_end_.shown.clear();
  EXPECT_TRUE(K().CmdCopy());  // the run is cancelled, not failed
  EXPECT_TRUE(K().cancelled);
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("There is not enough free space on the chosen installation drive",
            front_end_.shown[0].text);
  EXPECT_EQ("new", Read(At("out\\dst.txt")));
  EXPECT_NE(std::string::npos,
            LogText().find("copy: There is not enough free space on the chosen installation drive\n"));

  // A drive that cannot be asked has no room.
  files_.free_space_fails = true;
  K().UpdateFreeSpace("Q:\\x");
  EXPECT_EQ(0u, K().free_space);
}

TEST_F(CopyTest, OptionsAndGroups) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  Write(At("src.txt"), "data");
  // An option without s fails quietly.
  Command("-q", At("src.txt"), At("q.txt"));
  EXPECT_FALSE(K().CmdCopy());
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_EQ("(missing)", Read(At("q.txt")));

  Command("", At("src.txt"), At("bad.txt"), "X1");
  EXPECT_FALSE(K().CmdCopy());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("incorrect Group specified in copy command", front_end_.shown[0].text);
  front_end_.shown.clear();

  // G12 belongs to groups 1 and 2: copied while either is selected.
  K().groups[1].description = "one";
  K().groups[2].description = "two";
  K().groups[1].deselected = true;
  K().groups[2].deselected = false;
  Command("", At("src.txt"), At("g12.txt"), "G12");
  EXPECT_TRUE(K().CmdCopy());
  EXPECT_EQ("data", Read(At("g12.txt")));
  K().groups[2].deselected = true;
  Command("", At("src.txt"), At("g12b.txt"), "G12");
  EXPECT_TRUE(K().CmdCopy());
  EXPECT_EQ("(missing)", Read(At("g12b.txt")));
  EXPECT_NE(std::string::npos, LogText().find("# file <G12> is not in an enabled group\n"));
  EXPECT_TRUE(front_end_.shown.empty());

  // A group no filegroup defined: a warning, and the copy goes on.
  Command("", At("src.txt"), At("g5.txt"), "G5");
  EXPECT_TRUE(K().CmdCopy());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("WARNING: File Group  G5  is present in a copy command\nbut has not been defined by a "
            "'filegroup' command\n\ncopy " + At("src.txt") + " " + At("g5.txt") + " G5",
            front_end_.shown[0].text);
  EXPECT_EQ("data", Read(At("g5.txt")));
  EXPECT_EQ(At("g5.txt"), K().VariableText("COPY_TARGET"));
}

TEST_F(CopyTest, CopyMakesFoldersKeepsTimeAndReplacesReadOnly) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  Write(At("lib.dll"), "version 2", kNewer);
  const std::string destination = At("app\\bin\\lib.dll");
  Command("", At("lib.dll"), destination);
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("version 2", Read(destination));
  EXPECT_EQ(kNewer, TimeOf(destination));
  ASSERT_EQ(2u, K().created_folders.size());
  EXPECT_EQ(At("app"), K().created_folders[0]);
  EXPECT_EQ(At("app\\bin"), K().created_folders[1]);
  ASSERT_EQ(1u, K().copied_files.size());
  EXPECT_EQ(destination, K().copied_files[0]);
  // Not shared and no count yet: none is made.
  EXPECT_EQ(-1, Count(destination));

  // An older read-only file is replaced; a shared file gets its first count.
  Write(destination, "version 1", kOlder);
  ASSERT_TRUE(P().files.SetAttributes(destination, kAttrReadOnly));
  Write(At("lib.dll"), "version 3", kNewer);
  Command("-s", At("lib.dll"), destination);
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("version 3", Read(destination));
  EXPECT_EQ(1, Count(destination));
  EXPECT_EQ(2u, K().created_folders.size());
  // Nothing but the file is left in its folder.
  EXPECT_EQ(std::vector<std::string>{"lib.dll"}, Names(At("app\\bin")));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("# ...copy '" + At("lib.dll") + "' --> '" + destination + "'...\n"));
  EXPECT_NE(std::string::npos, log.find("# SET DLL REF COUNT <" + destination + ">=1 (0)\n"));

  // A folder that cannot be made: reported, then the copy fails.
  Write(At("blocker"), "a file where a folder should be");
  front_end_.shown.clear();
  Command("", At("lib.dll"), At("blocker\\sub\\x.dll"));
  EXPECT_FALSE(K().CmdCopy());
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ(0u, front_end_.shown[0].text.find("Can't create directory...\n<" + At("blocker\\sub") +
                                              ">\nError: 0x"));
  EXPECT_EQ(0u, front_end_.shown[1].text.find("FILE COPY ERROR 0x"));

  // "?:" stands for the drive of the Windows folder.
  const std::string windows = K().VariableText("WINDIR");
  ASSERT_EQ(winpath::ToUpperAscii(windows.substr(0, 1)),
            winpath::ToUpperAscii(Scratch().substr(0, 1)));
  Command("", At("lib.dll"), "?:" + Scratch().substr(2) + "\\anydrive.dll");
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("version 3", Read(At("anydrive.dll")));

  // A source that cannot be opened.
  front_end_.shown.clear();
  Command("", At("none.dll"), At("y.dll"));
  EXPECT_FALSE(K().CmdCopy());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("ERROR: can't copy file 2[0x2]\nCan't open source file\n\"" + At("none.dll") + "\"",
            front_end_.shown[0].text);
}

TEST_F(CopyTest, OlderSourceFollowsThePolicy) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  Write(At("old.dll"), "old", kOlder);
  const std::string destination = At("lib.dll");
  Write(destination, "new", kNewer);

  // The test folder lies in the Windows folder on the emulated machine.
  Set("WINDIR", "C:\\Elsewhere");
  Set("SYSDIR", "C:\\Elsewhere\\system32");
  // NEVER: no question, no copy, but an existing count still grows.
  SetCount(destination, 3);
  Set("REPLACE_NEWER", "NEVER");
  Command("", At("old.dll"), destination);
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_EQ("new", Read(destination));
  EXPECT_EQ(4, Count(destination));
  EXPECT_NE(std::string::npos, LogText().find("# ...replace newer with older? no...\n"));

  // Inside the Windows folder the system policy rules instead.
  Set("WINDIR", Scratch());
  Set("REPLACE_SYS_NEWER", "DOUBLE_CHECK");
  front_end_.answers = {kIdYes, kIdNo};
  ASSERT_TRUE(K().CmdCopy());
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ(0u, front_end_.shown[0].text.find("REPLACE FILE WITH OLDER VERSION?\n\n\"" +
                                              destination + "\"\n\nreplace the version"));
  EXPECT_EQ(kMbYesNo | kMbIconQuestion | kMbDefButton2 | kMbTopmost, front_end_.shown[0].flags);
  EXPECT_EQ("You have chosen to replace a file with an older version.\nPlease confirm the "
            "replacement of...\n'" + destination + "'\n",
            front_end_.shown[1].text);
  EXPECT_EQ("new", Read(destination));
  front_end_.shown.clear();
  front_end_.answers = {kIdYes, kIdYes};
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("old", Read(destination));
  EXPECT_EQ(kOlder, TimeOf(destination));

  // The same age: left alone, the count untouched.
  const int before = Count(destination);
  front_end_.shown.clear();
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_EQ(before, Count(destination));
  EXPECT_NE(std::string::npos,
            LogText().find("# ...don't copy this file - it exists and is the same age!\n"));
}

TEST_F(CopyTest, QuestionsShowLocalTimes) {
#ifndef _WIN32
  // Three hours east of UTC, so local and UTC times differ.
  const char* old_tz = std::getenv("TZ");
  std::string saved = old_tz ? old_tz : "";
  ::setenv("TZ", "XYZ-3", 1);
  ::tzset();
#endif
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  FileTime local = 0, utc = 0;
  ASSERT_TRUE(SystemTimeToFileTime(P().clock.LocalNow(), &local));
  ASSERT_TRUE(SystemTimeToFileTime(P().clock.UtcNow(), &utc));
  const int64_t minute = 600000000;
  const int64_t bias = (static_cast<int64_t>(local - utc) + minute / 2) / minute * minute;
#ifndef _WIN32
  EXPECT_EQ(3 * 60 * minute, bias);
#endif
  // 2019-06-05 22:07 and 2019-06-07 08:09 UTC.
  SystemTime a{2019, 6, 0, 5, 22, 7, 30, 0};
  SystemTime b{2019, 6, 0, 7, 8, 9, 0, 0};
  FileTime ta = 0, tb = 0;
  ASSERT_TRUE(SystemTimeToFileTime(a, &ta));
  ASSERT_TRUE(SystemTimeToFileTime(b, &tb));
  SystemTime la, lb;
  ASSERT_TRUE(FileTimeToSystemTime(ta + bias, &la));
  ASSERT_TRUE(FileTimeToSystemTime(tb + bias, &lb));

  Write(At("src.dll"), "src", tb);
  Write(At("dst.dll"), "dst", ta);
  // q asks before putting the newer file over the older one.
  Command("-sq", At("src.dll"), At("dst.dll"));
  front_end_.answers = {kIdNo};
  ASSERT_TRUE(K().CmdCopy());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ(Format("REPLACE EXISTING FILE WITH NEWER VERSION?\n\n%s\n\nreplace the version last "
                   "modified on...\n    %02d/%02d/%4d %02d:%02d\nwith one last modified on...\n"
                   "    %2d/%2d/%4d %02d:%02d\n",
                   At("dst.dll").c_str(), la.day, la.month, la.year, la.hour, la.minute, lb.day,
                   lb.month, lb.year, lb.hour, lb.minute),
            front_end_.shown[0].text);
  EXPECT_EQ(kMbYesNo | kMbIconQuestion | kMbTopmost, front_end_.shown[0].flags);
  EXPECT_EQ("dst", Read(At("dst.dll")));
  EXPECT_EQ(1, Count(At("dst.dll")));  // the refusal still counts a shared file

  // The other way round: the older-file question.
  front_end_.shown.clear();
  Command("", At("dst.dll"), At("src.dll"));
  ASSERT_TRUE(K().CmdCopy());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ(Format("REPLACE FILE WITH OLDER VERSION?\n\n\"%s\"\n\nreplace the version last "
                   "modified on\n%02d/%02d/%04d %02d:%02d\n\nwith one last modified on\n"
                   "%02d/%02d/%04d %02d:%02d\n",
                   At("src.dll").c_str(), lb.day, lb.month, lb.year, lb.hour, lb.minute, la.day,
                   la.month, la.year, la.hour, la.minute),
            front_end_.shown[0].text);
  EXPECT_EQ("src", Read(At("src.dll")));  // refused by default (No)

  // Silently the newer-file question is answered Yes; an older file is not
  // put over a newer one without a response file saying so.
  K().silent_mode.set_silent(true);
  front_end_.shown.clear();
  Command("-sq", At("src.dll"), At("dst.dll"));
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_EQ("src", Read(At("dst.dll")));
  Write(At("dst.dll"), "dst", ta);
  Command("", At("dst.dll"), At("src.dll"));
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("src", Read(At("src.dll")));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("SMSMODE: (default) ReplaceNewerWithOlder = 0\n"));
  EXPECT_NE(std::string::npos, log.find("# ...(SMSMODE) replace newer with older? no...\n"));
#ifndef _WIN32
  if (old_tz) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
#endif
}

TEST_F(CopyTest, SharedNameReplacesTheDestination) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  Write(At("src.ocx"), "control", kNewer);
  const std::string registered = At("common\\Grid.OCX");
  SetCount(registered, 2);
  ASSERT_TRUE(P().files.CreateFolder(At("common")));
  Command("-sra", At("src.ocx"), At("app\\grid.ocx"));
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("control", Read(registered));
  EXPECT_EQ("(missing)", Read(At("app\\grid.ocx")));
  EXPECT_EQ(registered, K().VariableText("COPY_TARGET"));
  EXPECT_EQ(3, Count(registered));
  ASSERT_EQ(1u, K().aliases.size());
  EXPECT_EQ(At("app\\grid.ocx"), K().aliases[0].name);
  EXPECT_EQ(registered, K().aliases[0].value);

  // A name registered twice is no shared name.
  SetCount(At("other\\grid.ocx"), 1);
  Command("-sr", At("src.ocx"), At("app\\grid.ocx"));
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("control", Read(At("app\\grid.ocx")));
  EXPECT_NE(std::string::npos, LogText().find("filename apperas too much\n"));
}

TEST_F(CopyTest, DestinationInUseIsReplacedAtBoot) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  Write(At("new.dll"), "new code", kNewer);
  const std::string destination = At("inuse.dll");
  Write(destination, "old code", kOlder);
  {
    // Another program has the library open and shares nothing.
    std::unique_ptr<File> held = P().files.Open(destination, kAccessRead, kShareNone,
                                                Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    Command("-s", At("new.dll"), destination);
    ASSERT_TRUE(K().CmdCopy());
  }
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_EQ("old code", Read(destination));
  EXPECT_EQ("TRUE", K().VariableText("NEEDS_RE_BOOT"));
  EXPECT_TRUE(K().reboot_needed);
  EXPECT_EQ(1, Count(destination));
  const std::string copy =
      Format("%s.%x.tmp", destination.c_str(), P().processes.CurrentProcessId());
  EXPECT_EQ("new code", Read(copy));
  ASSERT_EQ(3u, shell_.requests.size());
  EXPECT_EQ(destination, shell_.requests[0].from);
  EXPECT_EQ("", shell_.requests[0].to);
  EXPECT_EQ(copy, shell_.requests[1].from);
  EXPECT_EQ(destination, shell_.requests[1].to);
  EXPECT_EQ(copy, shell_.requests[2].from);
  EXPECT_EQ("", shell_.requests[2].to);
  EXPECT_TRUE(K().copied_files.empty());
}

TEST_F(CopyTest, CopyFailingPartWayKeepsTheOldFile) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  // Several pieces long, so the failure comes after some were written.
  std::string data(700 * 1024, 'n');
  for (size_t i = 0; i < data.size(); i += 4093) data[i] = static_cast<char>('a' + i % 26);
  Write(At("big.bin"), data, kNewer);
  ASSERT_TRUE(P().files.CreateFolder(At("app")));
  const std::string destination = At("app\\big.bin");
  const std::string old(5000, 'o');
  Write(destination, old, kOlder);

  for (int budget = 0; budget < 3; ++budget) {
    files_.write_budget = budget;
    front_end_.shown.clear();
    Command("", At("big.bin"), destination);
    EXPECT_FALSE(K().CmdCopy()) << budget;
    ASSERT_EQ(1u, front_end_.shown.size());
    EXPECT_EQ(Format("FILE COPY ERROR 0x70[112]\n%s --> %s", At("big.bin").c_str(),
                     destination.c_str()),
              front_end_.shown[0].text);
    EXPECT_EQ(old, Read(destination));
    EXPECT_EQ(kOlder, TimeOf(destination));
    EXPECT_EQ(std::vector<std::string>{"big.bin"}, Names(At("app"))) << budget;
  }
  EXPECT_TRUE(K().copied_files.empty());
  files_.write_budget = -1;
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ(data, Read(destination));
}

TEST_F(CopyTest, PreScanCountsOnlyWhatItCanExpand) {
  Write(At("a.bin"), std::string(3000, 'a'));
  Write(At("b.bin"), std::string(4096, 'b'));
  const std::string here = "$TEMP\\" + winpath::LastElement(Scratch());
  // SRC is set by the script, so the pre-scan (which runs no set) cannot
  // find the first file; TEMP is built in.
  Write(At("install.txt"), "set NO_UNINSTALL TRUE\n"
                           "set SRC " + here + "\\a.bin\n"
                           "set HOME " + here + "\\home\n"
                           "copy $SRC $HOME\\a.bin\n"
                           "copy " + here + "\\b.bin $HOME\\b.bin\n");
  interp::RunResult result = K().Run("/sms:silent " + At("install.txt"));
  EXPECT_EQ(0, result.exit_code);
  EXPECT_EQ(4096u, K().needed_total);
  EXPECT_EQ(std::string(3000, 'a'), Read(At("home\\a.bin")));
  EXPECT_EQ(std::string(4096, 'b'), Read(At("home\\b.bin")));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("# copy: checked diskspace needed:  4096 bytes (total on home = "));
  // The pre-scan runs with the log off.
  EXPECT_EQ(std::string::npos, log.find("# diskspace needed by"));
}

TEST_F(CopyTest, ResponseFileLetsAnOlderFileReplaceANewerOne) {
  files_.free_space = 1 << 30;
  K().UpdateFreeSpace("C:\\");
  Set("WINDIR", "C:\\Elsewhere");
  Set("SYSDIR", "C:\\Elsewhere\\system32");
  Write(At("old.dll"), "old", kOlder);
  Write(At("lib.dll"), "new", kNewer);
  Write(At("answers.ini"), "[Kestrova]\r\nReplaceNewerWithOlder=true\r\n");
  K().silent_mode.set_silent(true);
  K().silent_mode.set_response_file(At("answers.ini"));
  // The policy comes first.
  Set("REPLACE_NEWER", "NEVER");
  Command("", At("old.dll"), At("lib.dll"));
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("new", Read(At("lib.dll")));
  Set("REPLACE_NEWER", "DOUBLE_CHECK");
  ASSERT_TRUE(K().CmdCopy());
  EXPECT_EQ("old", Read(At("lib.dll")));
  EXPECT_TRUE(front_end_.shown.empty());
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("SMSMODE: (rspfile) ReplaceNewerWithOlder = 1\n"));
  EXPECT_NE(std::string::npos, log.find("# ...replace newer with older? yes\n"));
}

}  // namespace
}  // namespace crx::test
