// The road of a setup archive on the emulated machine, every step a real
// program: the builder (Cratex) makes the archive from a script, with the
// padded stubs of this build named by the machine's settings; the archive
// runs silently, extracts itself into a __CRX_tmp_ folder under TEMP and
// runs its setup program there; the setup program (a shell script that
// writes down its command line and folder, or the real launcher starting
// such a script as the interpreter) ends, and the stub cleans up.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/format.h"
#include "platform/posix/host_paths.h"
#include "support/program_fixture.h"

namespace crx {
namespace {

// Appends "cmd=<its command line>" and "cwd=<its host folder>" to the file
// CRX_RUN_RECORD names; with CRX_RUN_RESTART set it leaves the restart
// marker in its folder, as an installation that goes on after a restart.
constexpr const char kRecorder[] =
    "#!/bin/sh\n"
    "[ -n \"$CRX_RUN_RESTART\" ] && : > __restart_env__.tmp\n"
    "printf 'cmd=%s\\ncwd=%s\\n' \"$CRX_COMMAND_LINE\" \"$(pwd)\" >> \"$CRX_RUN_RECORD\"\n";

class SetupRoadTest : public test::ProgramFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    NameStubs(HostToWindowsPath(CRX_FULL_STUB_FILE), HostToWindowsPath(CRX_MIN_STUB_FILE));
    if (HasFatalFailure()) return;

    // The builder, the stub and the setup program inherit these.
    UseTempFolder(false);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(p().environment.Set("CRX_RUN_RECORD", WindowsToHostPath(At("record.txt"))));
    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    ASSERT_TRUE(p().files.CreateFolder(At("product\\docs")));
    Write(At("product\\install.txt"), "copy *.* $HOME$\n");
    Write(At("product\\docs\\readme.txt"), std::string(5000, 'r') + "\r\nend\r\n");
  }

  void TearDown() override {
    p().environment.Unset("CRX_RUN_RECORD");
    p().environment.Unset("CRX_RUN_RESTART");
  }

  // Makes the archive At(name) with the builder from a script: setup
  // archive (plus the extra option letters), the setup information, then
  // the members, named from inside the product folder.
  void Build(const std::string& name, const std::string& options,
             const std::string& setup_program, const std::vector<std::string>& members) {
    std::string script = "# made by the test\n+ZS" + options + "\n:Velmora\n:Widget\n";
    script += ":The widget tools\n:" + setup_program + "\n:" + setup_program + "\n";
    script += ">" + At(name) + "\n@" + At("product") + "\n";
    for (const std::string& member : members) script += member + "\n";
    Write(At(name + ".crs"), script);
    const std::string builder = HostToWindowsPath(CRX_BUILDER_PROGRAM);
    ASSERT_EQ(0, Run("\"" + builder + "\" " + At(name + ".crs"), tp_.Scratch()))
        << Read(Temp("Cratex.log"));
    ASSERT_TRUE(p().files.IsFile(At(name)));
    // The builder's activity log is where the stub's goes.
    p().files.DeleteFile(Temp("Cratex.log"));
  }

  // One "cmd=" and "cwd=" pair as the recorder writes it.
  std::string Ran(const std::string& command_line, const std::string& folder) {
    return "cmd=" + command_line + "\ncwd=" + WindowsToHostPath(folder) + "\n";
  }

  std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
  }
};

TEST_F(SetupRoadTest, FullStubRunsTheSetupProgramHandsOffAndRemovesEverything) {
  Write(At("product\\SETUP.EXE"), kRecorder);
  Write(At("product\\crxfinalize.exe"), "the author's finishing program");
  Build("widget-setup.exe", "", "SETUP.EXE", {"SETUP.EXE", "install.txt", "crxfinalize.exe"});
  // The builder wrote the full stub in front of the archive.
  int64_t size = 0;
  {
    std::unique_ptr<File> f = p().files.Open(At("widget-setup.exe"), kAccessRead, kShareRead,
                                             Disposition::kOpenExisting);
    ASSERT_TRUE(f && f->Size(&size));
  }
  ASSERT_GT(size, FULL_STUB_SIZE);

  ASSERT_EQ(0, Run("\"" + At("widget-setup.exe") + "\" /sms:silent"));
  const std::string folder = Temp("__CRX_tmp_0__");
  EXPECT_EQ(Ran(".\\SETUP.EXE /sms:silent", folder), Read(At("record.txt")));
  // The hand-off: the archive's own path, and a copy of its finishing
  // program.
  EXPECT_EQ(Lower(At("widget-setup.exe")) + "\n", Lower(Read(Temp("crxfin.dat"))));
  EXPECT_EQ("the author's finishing program", Read(Temp("crxfinalize.exe")));
  // Every extracted file and the folder are gone.
  EXPECT_FALSE(p().files.Exists(folder));
  const std::string log = Read(Temp("Cratex.log"));
  EXPECT_NE(std::string::npos,
            log.find("SETUP PHASE: RUN PROGRAM <SETUP.EXE> (.\\SETUP.EXE /sms:silent)\n"
                     "(waiting for program to compltete)\n(program is compltete)\n"
                     "FINAL SETUP PHASE...\nCLEANUP PHASE\n(0) remove file 'SETUP.EXE'\n"
                     "(1) remove file 'install.txt'\n(2) remove file 'crxfinalize.exe'\n"))
      << log;
  EXPECT_NE(std::string::npos, log.find("remove directory '" + folder + "'\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("error")) << log;
  EXPECT_NE(std::string::npos, log.find("Cratex COMPLETE\n")) << log;
}

TEST_F(SetupRoadTest, RestartMarkerKeepsTheFolderAndSubFoldersGo) {
  Write(At("product\\SETUP.EXE"), kRecorder);
  Build("widget-min.exe", "M", "SETUP.EXE", {"SETUP.EXE", "install.txt", "docs"});

  // The installation goes on after a restart: nothing is deleted.
  ASSERT_TRUE(p().environment.Set("CRX_RUN_RESTART", "1"));
  ASSERT_EQ(0, Run("\"" + At("widget-min.exe") + "\" /sms:silent"));
  const std::string kept = Temp("__CRX_tmp_0__");
  EXPECT_EQ(Ran(".\\SETUP.EXE /sms:silent", kept), Read(At("record.txt")));
  EXPECT_EQ(kRecorder, Read(kept + "\\SETUP.EXE"));
  EXPECT_EQ("copy *.* $HOME$\n", Read(kept + "\\install.txt"));
  EXPECT_EQ(std::string(5000, 'r') + "\r\nend\r\n", Read(kept + "\\docs\\readme.txt"));
  EXPECT_TRUE(p().files.IsFile(kept + "\\__restart_env__.tmp"));
  std::string log = Read(Temp("Cratex.log"));
  // The minimal stub's own spelling of the line.
  EXPECT_NE(std::string::npos,
            log.find("setup phase: run program <SETUP.EXE> (.\\SETUP.EXE /sms:silent)\n"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("CLEANUP PHASE")) << log;
  // No finishing program in this archive: none handed off.
  EXPECT_FALSE(p().files.Exists(Temp("crxfinalize.exe")));

  // Without the marker the files go, and with them the sub-folder they lay
  // in and the temporary folder.
  ASSERT_TRUE(p().environment.Unset("CRX_RUN_RESTART"));
  ASSERT_TRUE(p().files.DeleteFile(At("record.txt")));
  ASSERT_EQ(0, Run("\"" + At("widget-min.exe") + "\" /sms:silent"));
  const std::string folder = Temp("__CRX_tmp_1__");
  EXPECT_EQ(Ran(".\\SETUP.EXE /sms:silent", folder), Read(At("record.txt")));
  EXPECT_FALSE(p().files.Exists(folder));
  log = Read(Temp("Cratex.log"));
  EXPECT_NE(std::string::npos, log.find("(2) remove file 'docs\\readme.txt'\n")) << log;
  EXPECT_NE(std::string::npos, log.find("remove directory '" + folder + "'\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("error")) << log;
  // The first run's folder is untouched.
  EXPECT_TRUE(p().files.IsFile(kept + "\\install.txt"));
}

TEST_F(SetupRoadTest, LauncherPassesSilentModeOnToTheInterpreter) {
  ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_LAUNCHER_PROGRAM), At("product\\setup.exe"),
                                 false));
  Write(At("product\\Kestrova.exe"), kRecorder);
  Build("widget-setup.exe", "", "setup.exe", {"setup.exe", "Kestrova.exe", "install.txt"});

  // stub -> setup -> Kestrova, each started in the temporary folder.
  ASSERT_EQ(0, Run("\"" + At("widget-setup.exe") + "\" /sms:silent"));
  EXPECT_EQ(Ran("Kestrova.exe /sms:silent", Temp("__CRX_tmp_0__")), Read(At("record.txt")));
  EXPECT_FALSE(p().files.Exists(Temp("__CRX_tmp_0__")));
  std::string log = Read(Temp("Cratex.log"));
  EXPECT_NE(std::string::npos,
            log.find("SETUP PHASE: RUN PROGRAM <setup.exe> (.\\setup.exe /sms:silent)\n"))
      << log;
  EXPECT_NE(std::string::npos, log.find("(2) remove file 'install.txt'\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("error")) << log;

  // A response file: its path goes through both programs as it was given.
  ASSERT_TRUE(p().files.DeleteFile(At("record.txt")));
  Write(At("answers.ini"), "[Kestrova]\r\nHOME=C:\\Widget\r\n");
  ASSERT_EQ(0, Run("\"" + At("widget-setup.exe") + "\" /sms:" + At("answers.ini")));
  EXPECT_EQ(Ran("Kestrova.exe /sms:" + At("answers.ini"), Temp("__CRX_tmp_0__")),
            Read(At("record.txt")));
  EXPECT_FALSE(p().files.Exists(Temp("__CRX_tmp_0__")));
}

}  // namespace
}  // namespace crx
