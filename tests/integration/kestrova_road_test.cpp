// The installation road on the emulated machine, every step a real
// program: the builder (Cratex) packs a small product with its
// installation script, the interpreter (Kestrova), the setup launcher and
// the uninstall starter into a setup archive; the archive runs silently:
// the stub extracts it, starts setup.exe, which starts Kestrova.exe on
// install.txt; the files, registry values, shared-file count, uninstall
// folder and registration must be there afterwards, and the stub's folder
// gone. Then the registered uninstall command: unsetup.exe must start the
// interpreter's copy in the uninstall folder on uninstall.txt and hand its
// exit status back. Last, the sample of examples/ the way the main job
// builds and installs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/winpath.h"
#include "platform/posix/host_paths.h"
#include "support/program_fixture.h"

namespace crx {
namespace {

constexpr const char kHome[] = "C:\\Program Files\\Velmora\\Widget Tools";
constexpr const char kProductKey[] = "SOFTWARE\\Velmora\\Widget Tools\\2.5";
constexpr const char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Widget Tools";
constexpr const char kSharedKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// The product's installation script: the naming convention, three file
// groups of which one is switched off, files with every byte value, a
// shared file, registry values (one read back), a question and a message
// that silent mode answers.
constexpr const char kInstallScript[] =
    "# the test's installation script\n"
    "set VENDOR Velmora\n"
    "set APP \"Widget Tools\"\n"
    "set VER 2.5\n"
    "set HOME \"C:\\Program Files\\Velmora\\Widget Tools\"\n"
    "filegroup -m G0 \"Program files\"\n"
    "filegroup G1 Documents\n"
    "filegroup G2 Samples\n"
    "filegroup -d G2\n"
    "copy widget.ini    $HOME\\widget.ini        G0\n"
    "copy data.bin      $HOME\\bin\\data.bin     G0\n"
    "copy manual.txt    $HOME\\docs\\manual.txt  G12\n"
    "copy sample.txt    $HOME\\samples\\sample.txt G2\n"
    "copy -s common.dll $SYSDIR\\vlcommon.dll\n"
    "setreg -lm \"SOFTWARE\\$VENDOR\\$APP\\$VER\" Home $HOME\n"
    "setreg -lmi \"SOFTWARE\\$VENDOR\\$APP\\$VER\" Build 1234\n"
    "getreg -lm \"SOFTWARE\\$VENDOR\\$APP\\$VER\" Home BACK\n"
    "setreg -lm \"SOFTWARE\\$VENDOR\\$APP\\$VER\" Echo $BACK\n"
    "query -y ANSWER \"Install the widget tools?\"\n"
    "if $ANSWER == YES\n"
    "  setreg -lm \"SOFTWARE\\$VENDOR\\$APP\\$VER\" Answer \\\n"
    "    yes\n"
    "endif\n"
    "message \"The widget tools are installed.\"\n";

class KestrovaRoadTest : public test::ProgramFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    NameStubs(HostToWindowsPath(CRX_FULL_STUB_FILE));
    if (HasFatalFailure()) return;

    // The builder, the stub, the launcher and the interpreter inherit these.
    // The stub's hand-off folder is TEMP, the interpreter's log folder the
    // system's temporary path (TMP first): one folder for both, as on a
    // Windows machine.
    UseTempFolder(true);
    if (HasFatalFailure()) return;
    p().environment.Unset("CRX_ANSWERS");

    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_LAUNCHER_PROGRAM),
                                   At("product\\setup.exe"), false));
    ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_KESTROVA_PROGRAM),
                                   At("product\\Kestrova.exe"), false));
    ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_UNSETUP_PROGRAM),
                                   At("product\\unsetup.exe"), false));
    Write(At("product\\install.txt"), kInstallScript);
    for (int i = 0; i < 256 * 40; ++i) data_.push_back(static_cast<char>((i * 7 + i / 256) & 0xff));
    Write(At("product\\data.bin"), data_);
    Write(At("product\\widget.ini"), "[Widget]\r\nReminders=on\r\n");
    Write(At("product\\manual.txt"), std::string(70000, 'm') + "\r\nend of the manual\r\n");
    Write(At("product\\sample.txt"), "a sample nobody asked for\r\n");
    Write(At("product\\common.dll"), "the vendor's shared library");
  }

  void TearDown() override {
    p().environment.Unset("CRX_ANSWERS");
  }

  std::string Home(const std::string& name) { return std::string(kHome) + "\\" + name; }

  // Whether two files hold the same bytes; names both and their sizes when
  // not (programs are too long to print).
  ::testing::AssertionResult SameBytes(const std::string& a, const std::string& b) {
    const std::string x = Read(a);
    const std::string y = Read(b);
    if (x == y) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " (" << x.size() << " bytes) differs from " << b
                                         << " (" << y.size() << " bytes)";
  }

  // A 32-bit value of HKLM, or -1.
  int64_t RegDword(const std::string& key_path, const std::string& name) {
    ScopedRegKey key(p().registry);
    if (p().registry.OpenKey(kHKeyLocalMachine, key_path, RegAccess::kRead, key.Out()) !=
        kErrorSuccess) {
      return -1;
    }
    uint32_t value = 0;
    if (p().registry.GetDword(key.Get(), name, &value) != kErrorSuccess) return -1;
    return value;
  }

  // Packs the product folder into a setup archive that runs setup.exe.
  void Build(const std::string& name) {
    std::string script = "+ZS\n:Velmora\n:Widget Tools\n:The widget tools\n:setup.exe\n:setup.exe\n";
    script += ">" + At(name) + "\n@" + At("product") + "\n";
    for (const char* member : {"setup.exe", "Kestrova.exe", "unsetup.exe", "install.txt",
                               "data.bin", "widget.ini", "manual.txt", "sample.txt",
                               "common.dll"}) {
      script += std::string(member) + "\n";
    }
    Write(At(name + ".crs"), script);
    const std::string builder = HostToWindowsPath(CRX_BUILDER_PROGRAM);
    ASSERT_EQ(0, Run("\"" + builder + "\" " + At(name + ".crs"), tp_.Scratch()))
        << Read(Temp("Cratex.log"));
    ASSERT_TRUE(p().files.IsFile(At(name)));
    p().files.DeleteFile(Temp("Cratex.log"));
  }

  std::string data_;
};

TEST_F(KestrovaRoadTest, SilentSetupInstallsRegistersAndCleansUp) {
  Build("tools-setup.exe");
  ASSERT_EQ(0, Run("\"" + At("tools-setup.exe") + "\" /sms:silent"));
  const std::string log = Read(Temp("Kestrova.log"));

  // The interpreter ran silently to the end of the script and reported
  // success; nothing failed on the way.
  EXPECT_NE(log.find("\nSMS SETUP MODE\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\nInstallation Completed\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("SCRIPT ERROR"), std::string::npos) << log;
  EXPECT_EQ(log.find("Fatal errors"), std::string::npos) << log;
  // The silent answers: the question got Yes, the message OK.
  EXPECT_NE(log.find("Install the widget tools?\nMESSAGE response: YES\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("The widget tools are installed.\nMESSAGE response: OK\n"),
            std::string::npos)
      << log;

  // The files of the selected groups, byte for byte; the deselected group's
  // file is not there.
  EXPECT_EQ(Read(Home("widget.ini")), "[Widget]\r\nReminders=on\r\n");
  EXPECT_TRUE(SameBytes(Home("bin\\data.bin"), At("product\\data.bin")));
  EXPECT_TRUE(SameBytes(Home("docs\\manual.txt"), At("product\\manual.txt")));
  EXPECT_FALSE(p().files.Exists(Home("samples\\sample.txt")));
  EXPECT_FALSE(p().files.Exists(Home("samples")));
  // The shared file, and its count.
  const std::string shared = winpath::Join(p().environment.SystemFolder(), "vlcommon.dll");
  EXPECT_EQ(Read(shared), "the vendor's shared library");
  EXPECT_EQ(RegDword(kSharedKey, shared), 1);

  // The registry values, the one read back, the one behind the question.
  EXPECT_EQ(RegString(kProductKey, "Home"), kHome);
  EXPECT_EQ(RegDword(kProductKey, "Build"), 1234);
  EXPECT_EQ(RegString(kProductKey, "Echo"), kHome);
  EXPECT_EQ(RegString(kProductKey, "Answer"), "yes");

  // The uninstall folder: the interpreter's and the starter's copies and
  // the script that removes everything again.
  EXPECT_TRUE(SameBytes(Home("uninstall\\Kestrova.exe"), At("product\\Kestrova.exe")));
  EXPECT_TRUE(SameBytes(Home("uninstall\\unsetup.exe"), At("product\\unsetup.exe")));
  const std::string uninstall = Read(Home("uninstall\\uninstall.txt"));
  EXPECT_NE(uninstall.find("\nuninstalling\n"), std::string::npos) << uninstall;
  EXPECT_NE(uninstall.find("\noktouninstall \"Widget Tools\"\n"), std::string::npos)
      << uninstall;
  EXPECT_NE(uninstall.find("rmregtree -lm \"SOFTWARE\\Velmora\\Widget Tools\"\n"),
            std::string::npos)
      << uninstall;
  EXPECT_NE(uninstall.find("rmtree \"" + std::string(kHome) + "\"\n"), std::string::npos)
      << uninstall;
  // The registration: the starter in quotes (the folder has a blank), then
  // the uninstall folder in quotes.
  EXPECT_EQ(RegString(kUninstallKey, "UninstallString"),
            "\"" + Home("uninstall\\unsetup.exe") + "\" \"" + Home("uninstall") + "\"");
  EXPECT_EQ(RegString(kUninstallKey, "DisplayName"), "Widget Tools");

  // The stub removed what it extracted and its folder; without finalize the
  // interpreter removed the hand-off file.
  EXPECT_FALSE(p().files.Exists(Temp("__CRX_tmp_0__")));
  EXPECT_FALSE(p().files.Exists(Temp("crxfin.dat")));
  const std::string stub_log = Read(Temp("Cratex.log"));
  EXPECT_NE(stub_log.find("SETUP PHASE: RUN PROGRAM <setup.exe> (.\\setup.exe /sms:silent)\n"),
            std::string::npos)
      << stub_log;
  EXPECT_NE(stub_log.find("CLEANUP PHASE\n"), std::string::npos) << stub_log;
  EXPECT_EQ(stub_log.find("error"), std::string::npos) << stub_log;
}

TEST_F(KestrovaRoadTest, RegisteredUninstallCommandRunsTheCopyInItsFolder) {
  Build("tools-setup.exe");
  ASSERT_EQ(0, Run("\"" + At("tools-setup.exe") + "\" /sms:silent"));
  const std::string command = RegString(kUninstallKey, "UninstallString");
  ASSERT_EQ(command, "\"" + Home("uninstall\\unsetup.exe") + "\" \"" + Home("uninstall") + "\"");
  // Removing the installation needs commands that come later (uninstalling,
  // oktouninstall, rmtree ...); a script of our own shows where and on what
  // the starter runs the interpreter. NO_UNINSTALL keeps it from writing an
  // uninstall folder of its own at its end.
  const std::string starter = "\"" + Home("uninstall\\unsetup.exe") + "\"";
  const std::string folder = "\"" + Home("uninstall") + "\"";
  Write(Home("uninstall\\uninstall.txt"),
        "set NO_UNINSTALL TRUE\n"
        "setreg -lm \"SOFTWARE\\Velmora\\Check\" Folder $PWD\n"
        "message \"removing the widget tools\"\n");

  // Silently, from another folder.
  ASSERT_EQ(0, Run(starter + " /sms:silent " + folder, tp_.Scratch())) << Read(Temp("Kestrova.log"));
  EXPECT_EQ(RegString("SOFTWARE\\Velmora\\Check", "Folder"), Home("uninstall"));
  const std::string log = Read(Temp("Kestrova.log"));
  EXPECT_NE(log.find("# OPEN <uninstall.txt>\n"), std::string::npos) << log;
  EXPECT_NE(log.find("removing the widget tools\nMESSAGE response: OK\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("\nInstallation Completed\n"), std::string::npos) << log;

  // The registered command exactly as the system runs it (not silent):
  // its questions come from an answers file, the last the report.
  Write(At("answers.txt"), "MessageBox OK\nMessageBox OK\n");
  ASSERT_TRUE(p().environment.Set("CRX_ANSWERS", At("answers.txt")));
  ASSERT_TRUE(p().files.DeleteFile(Temp("Kestrova.log")));
  EXPECT_EQ(0, Run(command, tp_.Scratch()));
  const std::string interactive = Read(Temp("Kestrova.log"));
  EXPECT_EQ(interactive.find("SMS SETUP MODE"), std::string::npos) << interactive;
  EXPECT_NE(interactive.find("# OPEN <uninstall.txt>\n"), std::string::npos) << interactive;
  ASSERT_TRUE(p().environment.Unset("CRX_ANSWERS"));

  // The interpreter's exit status comes back through the starter: a
  // command that fails ends a silent run with 1.
  Write(Home("uninstall\\uninstall.txt"), "nosuchcommand at all\n");
  EXPECT_EQ(1, Run(starter + " /sms:silent " + folder, tp_.Scratch()));
  EXPECT_NE(Read(Temp("Kestrova.log")).find("SCRIPT ERROR: can't process command"),
            std::string::npos);

  // A folder without the interpreter: the starter says so and fails.
  ASSERT_TRUE(p().files.DeleteFile(Home("uninstall\\Kestrova.exe")));
  EXPECT_EQ(1, Run(starter + " /sms:silent " + folder, tp_.Scratch()));
}

// Started by hand on Linux, Kestrova takes host paths for its script and
// its response file; bare names stay names in the current folder.
TEST_F(KestrovaRoadTest, HostPathsOnTheCommandLineAreTheMachinesPaths) {
  ASSERT_TRUE(p().files.CreateFolder(At("scripts")));
  Write(At("scripts\\show.txt"),
        "set NO_UNINSTALL TRUE\nsetreg -lm \"SOFTWARE\\Velmora\\Check\" Script $PWD\n");
  Write(At("scripts\\answers.ini"), "[Kestrova]\r\n");
  const std::string kestrova = "\"" + HostToWindowsPath(CRX_KESTROVA_PROGRAM) + "\"";
  const std::string script = WindowsToHostPath(At("scripts\\show.txt"));
  const std::string response = WindowsToHostPath(At("scripts\\answers.ini"));
  ASSERT_EQ(script.find('\\'), std::string::npos) << script;
  // A response file that is not found ends the run with 1 before the
  // script: 0 says both paths were found.
  ASSERT_EQ(0, Run(kestrova + " /sms:" + response + " \"" + script + "\"", tp_.Scratch()))
      << Read(Temp("Kestrova.log"));
  const std::string log = Read(Temp("Kestrova.log"));
  EXPECT_NE(log.find("\nSMS SETUP MODE\n"), std::string::npos) << log;
  EXPECT_TRUE(winpath::EqualsNoCase(RegString("SOFTWARE\\Velmora\\Check", "Script"), tp_.Scratch()));

  // A bare name is the script in the current folder.
  Write(At("scripts\\install.txt"),
        "set NO_UNINSTALL TRUE\nsetreg -lm \"SOFTWARE\\Velmora\\Check\" Default $PWD\n");
  ASSERT_EQ(0, Run(kestrova + " /sms:silent install.txt", At("scripts")));
  EXPECT_TRUE(winpath::EqualsNoCase(RegString("SOFTWARE\\Velmora\\Check", "Default"),
                                    At("scripts")));
}

// The sample product with its builder script and installation script,
// built and installed as the main job does it: the builder's folder holds
// the launcher, the interpreter and the starter the script packs.
TEST_F(KestrovaRoadTest, SampleProductInstallsAsTheMainJobShowsIt) {
  const std::string tools = "C:\\Program Files\\Cratex";
  ASSERT_TRUE(p().files.CreateFolder(tools));
  ASSERT_TRUE(p().files.CopyFile(At("product\\setup.exe"), tools + "\\setup.exe", false));
  ASSERT_TRUE(p().files.CopyFile(At("product\\Kestrova.exe"), tools + "\\Kestrova.exe", false));
  ASSERT_TRUE(p().files.CopyFile(At("product\\unsetup.exe"), tools + "\\unsetup.exe", false));
  const std::string examples = At("examples");
  ASSERT_EQ(0, std::system(("/bin/cp -r '" CRX_EXAMPLES_DIR "' '" + WindowsToHostPath(examples) +
                            "'")
                               .c_str()));
  p().files.DeleteFile(examples + "\\widget-setup.exe");
  const std::string builder = HostToWindowsPath(CRX_BUILDER_PROGRAM);
  ASSERT_EQ(0, Run("\"" + builder + "\" widget.crs", examples)) << Read(Temp("Cratex.log"));
  ASSERT_EQ(0, Run("\"" + examples + "\\widget-setup.exe\" /sms:silent", examples));

  const std::string log = Read(Temp("Kestrova.log"));
  EXPECT_NE(log.find("\nInstallation Completed\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("SCRIPT ERROR"), std::string::npos) << log;
  EXPECT_EQ(log.find("Uninitialized variable"), std::string::npos) << log;
  EXPECT_EQ(log.find("WARNING"), std::string::npos) << log;
  const std::string home = "C:\\Program Files\\Hollyfield\\Widget";
  const struct {
    const char* installed;
    const char* source;
  } files[] = {{"README.txt", "widget\\README.txt"},
               {"widget.ini", "widget\\widget.ini"},
               {"LICENCE.TXT", "legal\\widget-licence.txt"},
               {"docs\\manual.txt", "widget\\docs\\manual.txt"},
               {"docs\\changes.txt", "widget\\docs\\changes.txt"}};
  for (const auto& file : files) {
    EXPECT_TRUE(SameBytes(home + "\\" + file.installed, examples + "\\" + file.source));
  }
  const std::string windows = p().environment.WindowsFolder();
  EXPECT_TRUE(SameBytes(windows + "\\HOLLYFLD.INI", examples + "\\shared\\hollyfld.ini"));
  EXPECT_EQ(RegDword(kSharedKey, windows + "\\HOLLYFLD.INI"), 1);
  const std::string key = "SOFTWARE\\Hollyfield\\Widget\\1.2";
  EXPECT_EQ(RegString(key, "Home"), home);
  EXPECT_EQ(RegString(key, "Settings"), home + "\\widget.ini");
  EXPECT_EQ(RegDword(key, "ReminderMinutes"), 15);
  // Silently without a response file, select takes its default choice.
  EXPECT_EQ(RegString(key, "Reminders"), "Every hour");
  EXPECT_EQ(RegString(key, "Manual"), "YES");
  const std::string registration =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Widget";
  EXPECT_EQ(RegString(registration, "UninstallString"),
            "\"" + home + "\\uninstall\\unsetup.exe\" \"" + home + "\\uninstall\"");
  EXPECT_EQ(RegString(registration, "DisplayName"), "Widget");
  EXPECT_TRUE(p().files.IsFile(home + "\\uninstall\\uninstall.txt"));
  // Everything the archive unpacked is gone, sub-folders included.
  EXPECT_FALSE(p().files.Exists(Temp("__CRX_tmp_0__")));
}

}  // namespace
}  // namespace crx
