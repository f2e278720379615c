// Runs the crxmachine tool on a fresh machine folder and checks what it
// prints, what it changes and its exit codes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
  int code = -1;
  std::string out;
};

class CrxMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/crxmachine.XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    root_ = pattern;
    machine_ = root_ + "/machine";
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

  // Runs the tool with the arguments (already quoted for the shell),
  // standard error joined to standard output.
  Result Run(const std::string& args) {
    std::string command = "env -u CRX_MACHINE_SESSION CRX_MACHINE='" + machine_ + "' " +
                          CRX_MACHINE_TOOL + " " + args + " 2>&1";
    Result r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    int status = ::pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  std::string root_;
  std::string machine_;
};

TEST_F(CrxMachineTest, CreateShowAndPaths) {
  Result r = Run("create");
  ASSERT_EQ(0, r.code) << r.out;
  struct stat st;
  EXPECT_EQ(0, ::stat((machine_ + "/drive_c/WINDOWS/system32").c_str(), &st));
  std::ifstream settings(machine_ + "/machine.ini");
  std::stringstream text;
  text << settings.rdbuf();
  EXPECT_NE(std::string::npos, text.str().find("[Drive C]"));
  // A second create keeps what is there.
  ASSERT_EQ(0, Run("reg add 'HKCU\\Software\\Mine' /v Kept /d yes").code);
  ASSERT_EQ(0, Run("create").code);
  r = Run("reg query 'HKCU\\Software\\Mine' Kept");
  EXPECT_EQ(0, r.code);
  EXPECT_NE(std::string::npos, r.out.find("Kept    REG_SZ    yes")) << r.out;

  r = Run("show");
  ASSERT_EQ(0, r.code) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("C: fixed, host folder " + machine_ + "/drive_c")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Boot-time moves: supported")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("TEMP=C:\\WINDOWS\\TEMP")) << r.out;

  r = Run("path 'c:\\windows\\system32\\new.txt'");
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(machine_ + "/drive_c/WINDOWS/system32/new.txt\n", r.out);
  r = Run("winpath '" + machine_ + "/drive_c/Program Files'");
  EXPECT_EQ("C:\\Program Files\n", r.out);
  r = Run("winpath /usr/bin");
  EXPECT_EQ("Z:\\usr\\bin\n", r.out);
  r = Run("path 'Q:\\x'");
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.out.find("names nothing")) << r.out;
}

TEST_F(CrxMachineTest, RegistryCommands) {
  ASSERT_EQ(0, Run("reg add 'HKLM\\SOFTWARE\\Test' /v Count /t REG_DWORD /d 0x2a").code);
  ASSERT_EQ(0, Run("reg add 'HKLM\\SOFTWARE\\Test' /ve /d 'default text'").code);
  ASSERT_EQ(0, Run("reg add 'HKLM\\SOFTWARE\\Test\\Sub'").code);
  Result r = Run("reg query 'HKEY_LOCAL_MACHINE\\software\\test'");
  ASSERT_EQ(0, r.code) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Count    REG_DWORD    0x2a")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("(Default)    REG_SZ    default text")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("HKEY_LOCAL_MACHINE\\software\\test\\Sub")) << r.out;

  r = Run("reg export 'HKLM\\SOFTWARE\\Test' '" + root_ + "/out.reg'");
  ASSERT_EQ(0, r.code) << r.out;
  std::ifstream exported(root_ + "/out.reg");
  std::stringstream text;
  text << exported.rdbuf();
  EXPECT_EQ(0u, text.str().find("REGEDIT4")) << text.str();
  EXPECT_NE(std::string::npos, text.str().find("\"Count\"=dword:0000002a")) << text.str();

  ASSERT_EQ(0, Run("reg delete 'HKLM\\SOFTWARE\\Test' /v Count").code);
  EXPECT_EQ(1, Run("reg query 'HKLM\\SOFTWARE\\Test' Count").code);
  ASSERT_EQ(0, Run("reg delete 'HKLM\\SOFTWARE\\Test'").code);
  r = Run("reg query 'HKLM\\SOFTWARE\\Test'");
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.out.find("cannot open")) << r.out;
  // Importing the export brings it all back.
  ASSERT_EQ(0, Run("reg import '" + root_ + "/out.reg'").code);
  r = Run("reg query 'HKLM\\SOFTWARE\\Test' Count");
  EXPECT_EQ(0, r.code);
  EXPECT_NE(std::string::npos, r.out.find("0x2a"));

  // Machine values a Windows installation has.
  r = Run("reg query 'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion' CurrentVersion");
  EXPECT_EQ(0, r.code);
  EXPECT_NE(std::string::npos, r.out.find("5.1")) << r.out;
}

TEST_F(CrxMachineTest, HostWritesAreOffUntilSwitchedOn) {
  Result r = Run("show");
  EXPECT_NE(std::string::npos, r.out.find("Host writes: only below folders the user names")) << r.out;
  EXPECT_EQ(2, Run("set HostWrites yes").code);
  ASSERT_EQ(0, Run("set hostwrites 1").code);
  r = Run("show");
  EXPECT_NE(std::string::npos, r.out.find("Host writes: allowed everywhere")) << r.out;
  std::ifstream settings(machine_ + "/machine.ini");
  std::stringstream text;
  text << settings.rdbuf();
  EXPECT_NE(std::string::npos, text.str().find("HostWrites=1")) << text.str();
  ASSERT_EQ(0, Run("set HostWrites 0").code);
  EXPECT_NE(std::string::npos, Run("show").out.find("only below folders"));
}

TEST_F(CrxMachineTest, SettingsAndDrives) {
  ASSERT_EQ(0, Run("set BootMoves 0").code);
  ASSERT_EQ(0, Run("set Version 4.0.950").code);
  ASSERT_EQ(0, ::mkdir((root_ + "/d1").c_str(), 0777));
  ASSERT_EQ(0, ::mkdir((root_ + "/d2").c_str(), 0777));
  Result r = Run("drive add A --removable 1457664 --media '" + root_ + "/d1' --media '" + root_ + "/d2'");
  ASSERT_EQ(0, r.code) << r.out;
  ASSERT_EQ(0, Run("drive insert A 2").code);
  r = Run("show");
  EXPECT_NE(std::string::npos, r.out.find("Boot-time moves: not supported")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Version: 4.0.950")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("A: removable, capacity 1457664 bytes, disk 2 of 2")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("1457664 of 1457664 bytes free")) << r.out;
  r = Run("path 'A:\\x.txt'");
  EXPECT_EQ(root_ + "/d2/x.txt\n", r.out);
  ASSERT_EQ(0, Run("drive insert A 0").code);
  EXPECT_EQ(1, Run("path 'A:\\x.txt'").code);
  EXPECT_EQ(1, Run("drive add A '" + root_ + "'").code);  // exists already
  ASSERT_EQ(0, Run("drive remove A").code);
  EXPECT_EQ(1, Run("drive remove C").code);
}

TEST_F(CrxMachineTest, TheBuilderFindsItsStubs) {
  // A new machine has the stubs of the build the tool belongs to.
  Result r = Run("reg query 'HKLM\\SOFTWARE\\Velmora\\Cratex\\1.00' datafile");
  ASSERT_EQ(0, r.code) << r.out;
  std::string expected = CRX_STUB_FOLDER;
  for (char& c : expected) c = c == '/' ? '\\' : c;
  EXPECT_NE(std::string::npos, r.out.find("Z:" + expected + "\\Cratex.dat")) << r.out;
  // Another build's stubs, for archives made for Windows.
  ASSERT_EQ(0, ::mkdir((root_ + "/win64").c_str(), 0755));
  std::ofstream(root_ + "/win64/Cratex.dat") << "full";
  EXPECT_EQ(1, Run("stubs '" + root_ + "/win64'").code);  // no minimal stub there
  std::ofstream(root_ + "/win64/Cratexm.dat") << "minimal";
  ASSERT_EQ(0, Run("stubs '" + root_ + "/win64'").code);
  r = Run("reg query 'HKLM\\SOFTWARE\\Velmora\\Cratex\\1.00' mdatafile");
  std::string folder = root_;
  for (char& c : folder) c = c == '/' ? '\\' : c;
  EXPECT_NE(std::string::npos, r.out.find("Z:" + folder + "\\win64\\Cratexm.dat")) << r.out;
}

TEST_F(CrxMachineTest, RunStartsAProgramOfTheMachine) {
  ASSERT_EQ(0, Run("create").code);
  // A program written without execute permission (as the machine's own
  // programs write them) still runs; its exit status comes back.
  const std::string prog = machine_ + "/drive_c/prog.exe";
  std::ofstream(prog) << "#!/bin/sh\necho \"ran with $1\"\nexit 3\n";
  ASSERT_EQ(0, ::chmod(prog.c_str(), 0644));
  Result r = Run("run 'C:\\prog.exe first'");
  EXPECT_EQ(3, r.code);
  EXPECT_NE(std::string::npos, r.out.find("ran with first")) << r.out;
  r = Run("run 'C:\\missing.exe'");
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.out.find("cannot start C:\\missing.exe (error 2)")) << r.out;
}

TEST_F(CrxMachineTest, RebootCarriesOutWhatWaitsForTheNextStart) {
  ASSERT_EQ(0, Run("create").code);
  EXPECT_EQ(2, Run("reboot now").code);
  const std::string c = machine_ + "/drive_c";
  std::ofstream(c + "/a.txt") << "moved";
  ASSERT_EQ(0, Run("reg add 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager' "
                   "/v PendingFileRenameOperations /t REG_MULTI_SZ /d '\\??\\C:\\a.txt\\0\\??\\C:\\b.txt'")
                .code);
  // A batch in the user's Startup folder starts a program of the machine;
  // its output comes between the runner's lines, and the batch deletes
  // itself.
  std::ofstream(c + "/prog.exe") << "#!/bin/sh\necho \"program says $1\"\n";
  std::string batch_host;
  Result found = Run("reg query 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders' Startup");
  ASSERT_EQ(0, found.code) << found.out;
  const std::string folder = found.out.substr(found.out.find("REG_SZ    ") + 10);
  Result host = Run("path '" + folder.substr(0, folder.find('\n')) + "\\job.bat'");
  ASSERT_EQ(0, host.code) << host.out;
  batch_host = host.out.substr(0, host.out.find('\n'));
  std::ofstream(batch_host) << "echo off\necho.logging on\n\"C:\\prog.exe\" hello\ndel \""
                            << folder.substr(0, folder.find('\n')) << "\\job.bat\"\n";
  Result r = Run("reboot");
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_TRUE(std::ifstream(c + "/b.txt").good());
  EXPECT_FALSE(std::ifstream(batch_host).good());
  size_t moved = r.out.find("boot: moved C:\\a.txt to C:\\b.txt");
  size_t echoed = r.out.find("\nlogging on\n");
  size_t started = r.out.find("logon: start \"C:\\prog.exe\" hello");
  size_t said = r.out.find("\nprogram says hello\n");
  size_t ended = r.out.find("logon: the program ended with exit code 0");
  EXPECT_TRUE(moved < echoed && echoed < started && started < said && said < ended) << r.out;

  // A line the runner does not know fails the restart.
  std::ofstream(batch_host) << "format C:\n";
  r = Run("reboot");
  EXPECT_EQ(1, r.code) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("not a line this batch runner knows: format C:")) << r.out;
}

TEST_F(CrxMachineTest, UsageAndFailures) {
  Result r = Run("");
  EXPECT_EQ(2, r.code);
  EXPECT_NE(std::string::npos, r.out.find("usage: crxmachine")) << r.out;
  EXPECT_EQ(2, Run("frobnicate").code);
  EXPECT_EQ(2, Run("path").code);
  EXPECT_EQ(2, Run("reg add 'HKCU\\X' /v N /t REG_DWORD /d notanumber").code);
  EXPECT_EQ(2, Run("set Administrator maybe").code);
  EXPECT_EQ(0, Run("--help").code);
  EXPECT_EQ(1, Run("reg query 'NOHIVE\\X'").code);
  // A machine folder that cannot be made.
  std::ofstream(root_ + "/file") << "x";
  r = Run("--machine '" + root_ + "/file/machine' show");
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.out.find("cannot create the machine folder")) << r.out;
  // --machine names the machine to use.
  r = Run("--machine '" + root_ + "/other' create");
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(root_ + "/other\n", r.out);
}

}  // namespace
