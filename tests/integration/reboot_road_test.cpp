// Work that waits for the next start, end to end with the real programs:
// Kestrova schedules it on an emulated machine, `crxmachine reboot`
// carries it out, and nothing the installation meant to happen is missing
// afterwards (and nothing it meant to remove is left).
//  - restart: a silent installation suspends itself at `restart step2`;
//    the reboot's Startup batch starts the interpreter again, which skips
//    to that line, restores the variables and aliases and finishes; the
//    batch deletes itself;
//  - a file in use replaced where the system has no boot-time moves: the
//    initialisation file gets 8.3 names, the rename batch gives the long
//    name back;
//  - a tree removal that left files in use behind, with and without
//    boot-time moves.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "platform/posix/host_paths.h"
#include "support/file_helpers.h"
#include "support/host_files.h"
#include "support/program_fixture.h"

namespace crx {
namespace {

constexpr const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct ToolResult {
  int code = -1;
  std::string out;
};

class RebootRoadTest : public test::ProgramFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    // The interpreter's log and TEMP in one folder of the test's own; the
    // programs started here, and by the reboot, inherit it.
    UseTempFolder(true);
    if (HasFatalFailure()) return;
    p().environment.Unset("CRX_ANSWERS");
    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_KESTROVA_PROGRAM),
                                   At("product\\Kestrova.exe"), false));
    ScopedRegKey key(p().registry);
    ASSERT_EQ(kErrorSuccess,
              p().registry.OpenKey(kHKeyCurrentUser, kShellFolders, RegAccess::kRead, key.Out()));
    ASSERT_EQ(kErrorSuccess, p().registry.GetString(key.Get(), "Startup", &startup_));
  }

  std::string Log() { return Read(At("temp\\Kestrova.log")); }
  // Runs the installation script in the product folder silently.
  int Install(const std::string& script) {
    EXPECT_TRUE(test::WriteWholeFile(p().files, At("product\\install.txt"), script));
    StartOptions options;
    options.folder = At("product");
    return test::RunAndWait(p().processes, "\"" + At("product\\Kestrova.exe") + "\" /sms:silent",
                            options, 120000);
  }

  // The machine tool, on this test's machine, with standard error joined
  // to standard output.
  ToolResult Tool(const std::string& args) {
    ToolResult r;
    const std::string command = std::string(CRX_MACHINE_TOOL) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    int status = ::pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  // The names in a folder (long names), or none.
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (p().files.ListFolder(folder + "\\*.*", &entries)) {
      for (const FolderEntry& e : entries) names.push_back(e.name);
    }
    return names;
  }
  // The batch files waiting in the Startup folder.
  std::vector<std::string> StartupBatches() {
    std::vector<std::string> batches;
    for (const std::string& n : Names(startup_)) {
      if (winpath::EqualsNoCase(winpath::Extension(n), ".bat")) batches.push_back(startup_ + "\\" + n);
    }
    return batches;
  }

  // The three hives a removal must leave as they were, as REGEDIT4 text
  // (CR LF lines) cut into one block per key.
  std::map<std::string, std::string> RegistryKeys() {
    std::map<std::string, std::string> keys;
    for (const char* hive : {"HKLM", "HKCU", "HKCR"}) {
      ToolResult r = Tool(std::string("reg export ") + hive);
      EXPECT_EQ(0, r.code) << r.out;
      std::string current;
      size_t at = 0;
      while (at < r.out.size()) {
        size_t end = r.out.find('\n', at);
        if (end == std::string::npos) end = r.out.size();
        std::string line = r.out.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
          current = line;
          keys[current];
        } else if (!current.empty() && !line.empty()) {
          keys[current] += line + "\n";
        }
      }
    }
    return keys;
  }

  void SuspendedThenResumed(const std::string& folder);

  std::string startup_;
};

// The restart script: state before the restart line (a variable, an alias,
// a flag the if block reads), one value written before it and the rest
// after it, inside and after the if block.
constexpr const char kRestartKey[] = "SOFTWARE\\Velmora\\Restart Demo";
constexpr const char kRestartScript[] =
    "set APP \"Restart Demo\"\n"
    "set NO_UNINSTALL TRUE\n"
    "set MINE \"kept across the restart\"\n"
    "set FLAG yes\n"
    "_alias WHERE \"SOFTWARE\\Velmora\\Restart Demo\"\n"
    "setreg -lm WHERE Before once\n"
    "if $FLAG == yes\n"
    "  restart step2\n"
    "  setreg -lm WHERE InBlock $RESTARTED\n"
    "endif\n"
    "setreg -lm WHERE Mine $MINE\n"
    "setreg -lm WHERE Restarted $RESTARTED\n";

// Checks a run of kRestartScript suspended in `folder` (the script's
// folder, where Kestrova.exe is), reboots the machine and checks that the
// run went on where it stopped.
void RebootRoadTest::SuspendedThenResumed(const std::string& folder) {
  const std::string key = kRestartKey;
  // Suspended: the lines after restart did not run; the state is saved
  // beside the script and the Startup batch will start the run again.
  std::string log = Log();
  EXPECT_EQ("once", RegString(key, "Before"));
  EXPECT_EQ("<missing>", RegString(key, "Mine"));
  EXPECT_NE(std::string::npos, log.find("SCHED RESTART \"step2\"")) << log;
  EXPECT_NE(std::string::npos, log.find("The installation procedure has been suspended.")) << log;
  const std::string environment = Read(folder + "\\__restart_env__.tmp");
  EXPECT_NE(std::string::npos, environment.find("set \"MINE\" \"kept across the restart\"\n"))
      << environment;
  EXPECT_NE(std::string::npos, environment.find("set \"RESTARTED\" \"step2\"\n")) << environment;
  EXPECT_NE(std::string::npos,
            environment.find("_alias \"WHERE\" \"SOFTWARE\\Velmora\\Restart Demo\"\n"))
      << environment;
  std::vector<std::string> batches = StartupBatches();
  ASSERT_EQ(1u, batches.size());
  const std::string batch = batches[0];
  const std::string text = Read(batch);
  EXPECT_EQ(0u, text.find("echo off\necho.Complete Installation Of Restart Demo...\n")) << text;
  EXPECT_NE(std::string::npos,
            text.find("C:\ncd \"" + folder + "\"\necho.restarting Kestrova...\n\"" + folder +
                      "\\Kestrova.exe\" -rstep2$/sms:silent$install.txt\n"
                      "echo.Kestrova completed after restart\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("del \"" + batch + "\"\n")) << text;

  // Lines before the restart line must not run again: what the first one
  // wrote is taken away, and stays away.
  {
    ScopedRegKey k(p().registry);
    ASSERT_EQ(kErrorSuccess, p().registry.OpenKey(kHKeyLocalMachine, key, RegAccess::kAll, k.Out()));
    ASSERT_EQ(kErrorSuccess, p().registry.DeleteValue(k.Get(), "Before"));
  }
  ToolResult r = Tool("reboot");
  EXPECT_EQ(0, r.code) << r.out << Log();
  EXPECT_NE(std::string::npos, r.out.find("logon: run " + batch)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\nrestarting Kestrova...\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("logon: the program ended with exit code 0")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\nKestrova completed after restart\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("logon: deleted " + batch)) << r.out;

  EXPECT_EQ("<missing>", RegString(key, "Before"));
  EXPECT_EQ("step2", RegString(key, "InBlock"));
  EXPECT_EQ("kept across the restart", RegString(key, "Mine"));
  EXPECT_EQ("step2", RegString(key, "Restarted"));
  EXPECT_FALSE(p().files.Exists(folder + "\\__restart_env__.tmp"));
  EXPECT_TRUE(StartupBatches().empty());
  log = Log();
  EXPECT_NE(std::string::npos, log.find("INITIATING RESTART")) << log;

  // Nothing waits any more.
  r = Tool("reboot");
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("logon: no batch files")) << r.out;
}

TEST_F(RebootRoadTest, RestartSuspendsAndTheRebootResumesAtItsLine) {
  ASSERT_EQ(0, Install(kRestartScript)) << Log();
  SuspendedThenResumed(At("product"));
}

// The same from a setup archive: the stub keeps its folder for the
// restarted run, which starts from there.
TEST_F(RebootRoadTest, PackagedInstallationResumesInTheStubsFolder) {
  {
    ScopedRegKey key(p().registry);
    ASSERT_EQ(kErrorSuccess, p().registry.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Velmora\\Cratex\\1.00",
                                                    RegAccess::kAll, key.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, p().registry.SetString(key.Get(), "datafile",
                                                    HostToWindowsPath(CRX_FULL_STUB_FILE)));
  }
  ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_LAUNCHER_PROGRAM), At("product\\setup.exe"),
                                 false));
  Write(At("product\\install.txt"), kRestartScript);
  Write(At("demo.crs"), "+ZS\n:Velmora\n:Restart Demo\n:A restart\n:setup.exe\n:setup.exe\n>" +
                            At("demo-setup.exe") + "\n@" + At("product") +
                            "\nsetup.exe\nKestrova.exe\ninstall.txt\n");
  StartOptions options;
  options.folder = tp_.Scratch();
  ASSERT_EQ(0, test::RunAndWait(p().processes,
                                "\"" + HostToWindowsPath(CRX_BUILDER_PROGRAM) + "\" " + At("demo.crs"),
                                options, 120000));
  ASSERT_EQ(0, test::RunAndWait(p().processes, "\"" + At("demo-setup.exe") + "\" /sms:silent",
                                options, 120000))
      << Log();
  const std::string folder = At("temp\\__CRX_tmp_0__");
  ASSERT_TRUE(p().files.IsFile(folder + "\\Kestrova.exe")) << Log();
  SuspendedThenResumed(folder);
  // Nobody else is left to remove the folder the stub kept: the resumed
  // run took it away (what was in use went at the next start).
  EXPECT_FALSE(p().files.Exists(folder)) << Log();
  EXPECT_NE(std::string::npos,
            Log().find("# remove the setup's folder kept for the restart <" + folder + ">"))
      << Log();
}

TEST_F(RebootRoadTest, FileInUseIsReplacedThroughWininitAndGetsItsLongNameBack) {
  ToolResult r = Tool("set BootMoves 0");
  ASSERT_EQ(0, r.code) << r.out;
  const std::string folder = "C:\\Program Files\\Velmora Demo";
  const std::string library = folder + "\\Long Library.dll";
  ASSERT_TRUE(p().files.CreateFolder(folder));
  Write(library, "old library");
  // An older file than the one the installation brings (early 2000).
  ASSERT_TRUE(p().files.SetLastWriteTime(library, 125900000000000000ull));
  Write(At("product\\Long Library.dll"), "new library");
  {
    // Another program has the library open: it cannot be written now.
    std::unique_ptr<File> in_use =
        p().files.Open(library, kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(in_use);
    ASSERT_EQ(0, Install("set APP \"Velmora Demo\"\n"
                         "set HOME \"" + folder + "\"\n"
                         "set NO_UNINSTALL TRUE\n"
                         "copy \"Long Library.dll\" \"" + library + "\"\n"
                         "setreg -lm \"SOFTWARE\\Velmora\\Demo\" Reboot $NEEDS_RE_BOOT\n"))
        << Log();
  }
  EXPECT_EQ("TRUE", RegString("SOFTWARE\\Velmora\\Demo", "Reboot")) << Log();
  EXPECT_EQ("old library", Read(library));
  // The copy waits beside the library; the initialisation file names both
  // by their 8.3 names, the move on top and the copy's deletion after it.
  std::string copy;
  for (const std::string& n : Names(folder)) {
    if (winpath::EqualsNoCase(winpath::Extension(n), ".tmp")) copy = folder + "\\" + n;
  }
  ASSERT_FALSE(copy.empty());
  std::string short_library, short_copy;
  ASSERT_TRUE(p().files.ShortPath(library, &short_library));
  ASSERT_TRUE(p().files.ShortPath(copy, &short_copy));
  EXPECT_EQ("C:\\PROGRA~1\\VELMOR~1\\LONGLI~1.DLL", short_library);
  const std::string wininit = Read("C:\\WINDOWS\\wininit.ini");
  EXPECT_EQ("[Rename]\r\n" + short_library + "=" + short_copy + "\r\nNUL=" + short_copy + "\r\n",
            wininit);
  std::vector<std::string> batches = StartupBatches();
  ASSERT_EQ(1u, batches.size());
  const std::string text = Read(batches[0]);
  EXPECT_NE(std::string::npos,
            text.find("if exist \"" + folder + "\\LONGLI~1.DLL\" rename \"" + folder +
                      "\\LONGLI~1.DLL\" \"Long Library.dll\"\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("echo.A REBOOT IS REQUIRED FOR THE CHANGES TO TAKE EFFECT\n"))
      << text;

  r = Tool("reboot");
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_EQ("new library", Read(library));
  EXPECT_EQ(std::vector<std::string>{"Long Library.dll"}, Names(folder));
  EXPECT_FALSE(p().files.Exists("C:\\WINDOWS\\wininit.ini"));
  EXPECT_TRUE(StartupBatches().empty());
  // The short name was the file's name between the two steps.
  size_t moved = r.out.find("wininit: moved " + short_copy + " to " + short_library);
  size_t renamed = r.out.find("logon: renamed " + folder + "\\LONGLI~1.DLL to Long Library.dll");
  EXPECT_TRUE(moved != std::string::npos && renamed != std::string::npos && moved < renamed)
      << r.out;
}

// An installation with a shared file, shortcuts and an association,
// removed by its registered uninstall command: the interpreter's copy and
// the starter run from the uninstall folder, so they and their folders wait
// for the next start; after it nothing is left, and the registry is as it
// was before the installation.
TEST_F(RebootRoadTest, UninstallLeavesItsRunningProgramsToTheReboot) {
  const std::string home = "C:\\Program Files\\Velmora\\Round Trip";
  ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_UNSETUP_PROGRAM), At("product\\unsetup.exe"),
                                 false));
  ASSERT_TRUE(p().files.CopyFile(HostToWindowsPath(CRX_TEST_SERVER), At("product\\server.dll"),
                                 false));
  Write(At("product\\readme.txt"), "read me");
  // A user data source through the host's ODBC installer, whose files are
  // pointed at a host folder of this test (the user's own are not touched).
  std::string odbc_lines;
  const std::string odbc_folder = Format("/tmp/crx_round_trip_odbc_%d", static_cast<int>(::getpid()));
#ifdef CRX_TEST_ODBC_SETUP
  ASSERT_EQ(0, ::mkdir(odbc_folder.c_str(), 0700)) << odbc_folder;
  ASSERT_TRUE(environment_->Set("ODBCINI", odbc_folder + "/user_odbc.ini"));
  ASSERT_TRUE(environment_->Set("ODBCSYSINI", odbc_folder));
  ASSERT_TRUE(test::WriteSqliteOdbcFiles(odbc_folder, CRX_TEST_ODBC_SETUP)) << odbc_folder;
  odbc_lines = "odbc add SQLite3 \"DSN=CrxRoundTrip;Database=" + odbc_folder + "/rt.db;\"\n";
#endif
  const std::map<std::string, std::string> before = RegistryKeys();
  ASSERT_EQ(0, Install("set VENDOR Velmora\n"
                       "set APP \"Round Trip\"\n"
                       "set VER 1.0\n"
                       "set HOME \"" + home + "\"\n"
                       "copy readme.txt \"$HOME\\readme.txt\"\n"
                       "copy -s readme.txt \"$WINDIR\\rtshared.txt\"\n"
                       "onuninstall 'remove \"$WINDIR\\rtshared.txt\"'\n"
                       "setreg -lm \"SOFTWARE\\Velmora\\Round Trip\\1.0\" Home $HOME\n"
                       "progmenu \"$HOME\\readme.txt\" \"Velmora\\Read Me\"\n"
                       "desktop \"$HOME\\readme.txt\"\n"
                       "associate rtx \"$HOME\\readme.txt\" Velmora.RoundTrip \"Round trip\"\n"
                       "copy server.dll \"$HOME\\bin\\server.dll\"\n"
                       "regdll \"$HOME\\bin\\server.dll\"\n" +
                       odbc_lines))
      << Log();
  // The server ran its registration in its own folder.
  EXPECT_EQ("register\n", Read(home + "\\bin\\server_trace.txt")) << Log();
  if (!odbc_lines.empty()) {
    EXPECT_NE(std::string::npos,
              test::HostReadFile(odbc_folder + "/user_odbc.ini").find("[CrxRoundTrip]"))
        << Log();
  }
  const std::string command = RegString(
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Round Trip", "UninstallString");
  ASSERT_EQ("\"" + home + "\\uninstall\\unsetup.exe\" \"" + home + "\\uninstall\"", command);
  // The generated script runs whole, window lines included, from the
  // uninstall folder as registered.
  const std::string script = Read(home + "\\uninstall\\uninstall.txt");
  ASSERT_EQ(0u, script.find("background ")) << script;
  Write(At("answers.ini"), "[Kestrova]\r\noktouninstall=1\r\n");
  const std::string starter = command.substr(0, command.find("\" \"") + 1);
  const std::string folder = command.substr(command.find("\" \"") + 2);
  StartOptions options;
  options.folder = tp_.Scratch();
  ASSERT_EQ(0, test::RunAndWait(p().processes, starter + " /sms:" + At("answers.ini") + " " + folder,
                                options, 120000))
      << Log();
  EXPECT_EQ("<missing>", RegString("SOFTWARE\\Velmora\\Round Trip\\1.0", "Home"));
  EXPECT_FALSE(p().files.Exists(home + "\\readme.txt"));
  if (!odbc_lines.empty()) {
    EXPECT_EQ(std::string::npos,
              test::HostReadFile(odbc_folder + "/user_odbc.ini").find("CrxRoundTrip"))
        << Log();
    for (const char* name : {"odbcinst.ini", "odbc.ini", "user_odbc.ini", "rt.db"}) {
      ::unlink((odbc_folder + "/" + name).c_str());
    }
    ::rmdir(odbc_folder.c_str());
  }
  EXPECT_TRUE(p().files.Exists(home + "\\uninstall\\Kestrova.exe")) << Log();

  ToolResult r = Tool("reboot");
  EXPECT_EQ(0, r.code) << r.out;
  EXPECT_FALSE(p().files.Exists(home)) << r.out;
  EXPECT_TRUE(StartupBatches().empty()) << r.out;
  EXPECT_FALSE(p().files.Exists(p().environment.WindowsFolder() + "\\rtshared.txt"));

  // The registry is as it was, but for what the removal leaves on purpose:
  // the shared-file key the first shared file made, now empty. (The
  // vendor's key stays too; the machine has it already for the
  // interpreter's own settings.)
  std::map<std::string, std::string> after = RegistryKeys();
  const std::string shared =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]";
  if (before.count(shared) == 0 && after.count(shared) != 0) {
    EXPECT_EQ("", after[shared]);
    after.erase(shared);
  }
  for (const auto& [key, values] : after) {
    auto was = before.find(key);
    EXPECT_TRUE(was != before.end() && was->second == values) << "changed: " << key << "\n"
        << values << "was:\n" << (was != before.end() ? was->second : std::string("(none)"));
  }
  for (const auto& [key, values] : before) {
    EXPECT_TRUE(after.count(key) != 0) << "removed: " << key;
  }
}

// A tree with a file that another program holds open (delete not shared):
// rmtree removes what it can and leaves the rest for the next start.
class RebootRoadTreeTest : public RebootRoadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RebootRoadTreeTest, TreeRemovalFinishesAtTheReboot) {
  const bool boot_moves = GetParam();
  ToolResult r = Tool(boot_moves ? "set BootMoves 1" : "set BootMoves 0");
  ASSERT_EQ(0, r.code) << r.out;
  const std::string tree = "C:\\Program Files\\Velmora Trash";
  ASSERT_TRUE(p().files.CreateFolder(tree));
  ASSERT_TRUE(p().files.CreateFolder(tree + "\\Sub Folder"));
  Write(tree + "\\readme.txt", "r");
  Write(tree + "\\Sub Folder\\data file.dat", "d");
  Write(tree + "\\Sub Folder\\held library.dll", "h");
  {
    std::unique_ptr<File> held = p().files.Open(tree + "\\Sub Folder\\held library.dll", kAccessRead,
                                                kShareRead | kShareWrite, Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    ASSERT_EQ(0, Install("set APP Trash\n"
                         "set NO_UNINSTALL TRUE\n"
                         "rmtree -! \"" + tree + "\"\n"))
        << Log();
  }
  // What was free is gone; the held file and its folders wait.
  EXPECT_FALSE(p().files.Exists(tree + "\\readme.txt"));
  EXPECT_TRUE(p().files.Exists(tree + "\\Sub Folder\\held library.dll"));
  if (boot_moves) {
    EXPECT_TRUE(StartupBatches().empty());
  } else {
    ASSERT_EQ(1u, StartupBatches().size());
    EXPECT_NE(std::string::npos, Read(StartupBatches()[0]).find("rmdir \"" + tree + "\"\n"));
  }

  r = Tool("reboot");
  EXPECT_EQ(0, r.code) << r.out << Log();
  EXPECT_FALSE(p().files.Exists(tree)) << r.out;
  EXPECT_TRUE(StartupBatches().empty()) << r.out;
  EXPECT_FALSE(p().files.Exists("C:\\WINDOWS\\wininit.ini")) << r.out;
}

INSTANTIATE_TEST_SUITE_P(BootMoves, RebootRoadTreeTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? std::string("Supported") : std::string("NotSupported");
                         });

}  // namespace
}  // namespace crx
