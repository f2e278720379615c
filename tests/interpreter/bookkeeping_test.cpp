// Finishing an installation, tree and file removal with its guard, and the
// clean-up after a failed command.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"

namespace crx::test {
namespace {

using interp::RegistryKey;

// Lets removals through only below the folders a test allows, and records
// the others instead of doing them: a guard that failed must not cost a
// real system folder.
class GuardedFiles : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::vector<std::string> allowed;
  std::vector<std::string> blocked;

  bool DeleteFile(const std::string& p) override { return Allowed(p) && real().DeleteFile(p); }
  bool RemoveFolder(const std::string& p) override { return Allowed(p) && real().RemoveFolder(p); }
  bool SetAttributes(const std::string& p, uint32_t a) override {
    return Allowed(p) && real().SetAttributes(p, a);
  }

 private:
  bool Allowed(const std::string& p) {
    std::string full = real().FullPath(p);
    for (const std::string& a : allowed) {
      if (full.size() >= a.size() && winpath::EqualsNoCase(full.substr(0, a.size()), a))
        return true;
    }
    blocked.push_back(full);
    SetLastError(kErrorAccessDenied);
    return false;
  }
};

class BookkeepingTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    guarded_.allowed.push_back(platform_.Scratch() + "\\");
    app_ = "CratexTest " + winpath::LastElement(platform_.ScratchKey());
  }
  void TearDown() override {
    P().registry.DeleteTree(kHKeyLocalMachine, uninstall_key());
    P().registry.DeleteTree(kHKeyLocalMachine, "SOFTWARE\\CratexTestVendor");
    P().registry.DeleteTree(kHKeyLocalMachine, "SOFTWARE\\CratexTestNew");
    P().registry.DeleteTree(kHKeyLocalMachine, "SOFTWARE\\CratexTestShared");
    for (const std::string& f : top_folders_) {
      P().files.DeleteFile(f + "\\uninstall\\uninstall.txt");
      P().files.RemoveFolder(f + "\\uninstall");
      P().files.RemoveFolder(f);
    }
  }

  std::string At(const std::string& name) { return platform_.Scratch() + "\\" + name; }
  void StartLog(interp::ScriptInterpreter& k) {
    ASSERT_TRUE(k.OpenLog());
    k.logging = true;
  }
  std::string LogText(interp::ScriptInterpreter& k) {
    k.FlushLog();
    return ReadWholeFile(P().files, P().environment.TempPath() + "Kestrova.log");
  }
  std::string uninstall_key() {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app_;
  }
  void Write(const std::string& path, const std::string& data = "x") {
    ASSERT_TRUE(WriteWholeFile(P().files, path, data)) << path;
  }
  void Folder(const std::string& path) { ASSERT_TRUE(P().files.CreateFolder(path)) << path; }

  // An interpreter whose removals go through the guarded file system.
  interp::ScriptInterpreter& Guarded() {
    if (!guarded_k_) {
      Platform& p = P();
      guarded_platform_ = std::make_unique<Platform>(
          Platform{guarded_, p.registry, p.processes, p.environment, p.clock, p.terminal, p.shell});
      guarded_k_ =
          std::make_unique<interp::ScriptInterpreter>(*guarded_platform_, front_end_, host_);
    }
    return *guarded_k_;
  }

  std::string Uninstall(const std::string& name) {
    ScopedRegKey key(P().registry);
    std::string value;
    if (P().registry.OpenKey(kHKeyLocalMachine, uninstall_key(), RegAccess::kRead, key.Out()) ||
        P().registry.GetString(key.Get(), name, &value)) {
      return "<missing>";
    }
    return value;
  }

  // Sets the naming convention and a package folder with the interpreter.
  void Convention(const std::string& home) {
    K().SetVariable("VENDOR", "CratexTestVendor");
    K().SetVariable("APP", app_);
    K().SetVariable("VER", "2.0");
    K().SetVariable("HOME", home);
    Folder(At("pkg"));
    Write(At("pkg\\Kestrova.exe"), "interpreter");
    Write(At("pkg\\unsetup.exe"), "starter");
    K().SetVariable("PWD", At("pkg"));
    ASSERT_TRUE(P().files.SetCurrentFolder(At("pkg")));
  }

  GuardedFiles guarded_{platform_.Get().files};
  std::unique_ptr<Platform> guarded_platform_;
  std::unique_ptr<interp::ScriptInterpreter> guarded_k_;
  std::string app_;
  std::vector<std::string> top_folders_;
};

TEST_F(BookkeepingTest, WritesTheUninstallScriptAndRegistersIt) {
  const std::string home = At("My App");
  Convention(home);
  K().on_uninstall = {"run -w cleanup.exe"};
  K().data_sources = {"-s remove \"Driver\" \"DSN=x\""};
  K().associations = {"\".abc\" \"App.Abc\""};
  K().servers = {home + "\\srv.dll"};
  K().menu_shortcuts = {{"Acme\\Tool.lnk", true}, {"Tool2.lnk", false}};
  K().desktop_shortcuts = {{"Tool.lnk", false}};

  ASSERT_TRUE(K().FinalizeInstallation());
  const std::string expected =
      "background 255:65:20\n"
      "banner -c \"Uninstall " +
      app_ +
      "\" \"Arial\"  240   255:255:255\n"
      "title \"UNINSTALL " +
      app_ +
      "\"\n"
      "\nuninstalling\n\n"
      "set VENDOR \"CratexTestVendor\"\n"
      "set APP \"" +
      app_ +
      "\"\n"
      "set VER \"2.0\"\n\n"
      "set HOME \"" +
      home +
      "\"\n\n"
      "\noktouninstall \"" +
      app_ +
      "\"\n\n"
      "run -w cleanup.exe\n"
      "odbc -s remove \"Driver\" \"DSN=x\"\n"
      "associate -u \".abc\" \"App.Abc\"\n"
      "unregdll \"" +
      home +
      "\\srv.dll\"\n"
      "rmprogmenu -s \"Acme\\Tool.lnk\"\n"
      "rmprogmenu \"Tool2.lnk\"\n"
      "rmdesktop \"Tool.lnk\"\n"
      "\nrmkey -lmS \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
      app_ +
      "\"\n"
      "rmregtree -lm \"SOFTWARE\\CratexTestVendor\\" +
      app_ +
      "\"\n"
      "\nrmtree \"" +
      home +
      "\"\n\n"
      "banner -c \"... completed\" \"Arial\"  240   255:255:255\n";
  EXPECT_EQ(expected, ReadWholeFile(P().files, home + "\\uninstall\\uninstall.txt"));
  EXPECT_EQ("interpreter", ReadWholeFile(P().files, home + "\\uninstall\\Kestrova.exe"));
  EXPECT_EQ("starter", ReadWholeFile(P().files, home + "\\uninstall\\unsetup.exe"));
  // A blank in the home folder quotes the starter; the folder is always quoted.
  EXPECT_EQ("\"" + home + "\\uninstall\\unsetup.exe\" \"" + home + "\\uninstall\"",
            Uninstall("UninstallString"));
  EXPECT_EQ(app_, Uninstall("DisplayName"));
  EXPECT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));

  // Aliases get a blank line after them; oktouninstallex asks its own way;
  // a home folder without blanks leaves the starter unquoted.
  const std::string plain = At("plain");
  K().SetVariable("HOME", plain);
  K().AddAlias("SRC", "C:\\a b");
  K().extended_confirmation = true;
  K().on_uninstall.clear();
  K().data_sources.clear();
  K().associations.clear();
  K().servers.clear();
  K().menu_shortcuts.clear();
  K().desktop_shortcuts.clear();
  ASSERT_TRUE(K().FinalizeInstallation());
  std::string script = ReadWholeFile(P().files, plain + "\\uninstall\\uninstall.txt");
  EXPECT_NE(std::string::npos, script.find("\n\noktouninstallex \"" + app_ +
                                           "\"\n\n_alias \"SRC\" \"C:\\a b\"\n\n"
                                           "\nrmkey -lmS "))
      << script;
  EXPECT_EQ(plain + "\\uninstall\\unsetup.exe \"" + plain + "\\uninstall\"",
            Uninstall("UninstallString"));
}

// Replaces every @NAME@ of a text written by hand with its value.
std::string Fill(std::string text, const std::string& app, const std::string& home) {
  for (const auto& [marker, value] : {std::pair<std::string, std::string>{"@APP@", app},
                                      std::pair<std::string, std::string>{"@HOME@", home}}) {
    for (size_t at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + value.size())) {
      text.replace(at, marker.size(), value);
    }
  }
  return text;
}

// Installations made by script lines; the record lists of commands that
// come with other families are filled in directly.
TEST_F(BookkeepingTest, UninstallScriptsOfRepresentativeInstallations) {
  auto line = [this](const std::string& text) {
    K().SplitLine(K().ExpandLine(text));
    return K().Dispatch();
  };

  // A home folder without blanks, no aliases, the plain confirmation: no
  // blank line between the confirmation and the first record line.
  const std::string tools = At("Tools");
  Convention(tools);
  front_end_.answers = {kIdYes};
  ASSERT_TRUE(line("oktoinstall"));
  ASSERT_TRUE(line("onuninstall \"run -w cleanup.exe\""));
  K().desktop_shortcuts = {{"Tools.lnk", true}};
  ASSERT_TRUE(K().FinalizeInstallation());
  EXPECT_EQ(Fill(R"(background 255:65:20
banner -c "Uninstall @APP@" "Arial"  240   255:255:255
title "UNINSTALL @APP@"

uninstalling

set VENDOR "CratexTestVendor"
set APP "@APP@"
set VER "2.0"

set HOME "@HOME@"


oktouninstall "@APP@"

run -w cleanup.exe
rmdesktop -s "Tools.lnk"

rmkey -lmS "Software\Microsoft\Windows\CurrentVersion\Uninstall\@APP@"
rmregtree -lm "SOFTWARE\CratexTestVendor\@APP@"

rmtree "@HOME@"

banner -c "... completed" "Arial"  240   255:255:255
)",
                 app_, tools),
            ReadWholeFile(P().files, tools + "\\uninstall\\uninstall.txt"));
  EXPECT_EQ(tools + "\\uninstall\\unsetup.exe \"" + tools + "\\uninstall\"",
            Uninstall("UninstallString"));

  // A home folder with blanks, aliases, the extended confirmation and every
  // record list, in recording order.
  const std::string suite = At("Tool Suite 2");
  K().SetVariable("HOME", suite);
  K().on_uninstall.clear();
  K().desktop_shortcuts.clear();
  front_end_.answers = {kIdYes};
  ASSERT_TRUE(line("oktoinstallex -advise"));
  ASSERT_TRUE(line("_alias SRC \"C:\\Source Files\""));
  ASSERT_TRUE(line("_alias DST $HOME"));
  ASSERT_TRUE(line("onuninstall \"rm -f $HOME\\stop.log\""));
  ASSERT_TRUE(line("onuninstall \"message bye\""));
  K().data_sources = {"-s remove \"SQLite3 ODBC Driver\" \"DSN=Tools\""};
  K().associations = {"\".tls\" \"Tools.Document\""};
  K().servers = {suite + "\\srv.dll", suite + "\\view.ocx"};
  K().menu_shortcuts = {{"Tool Suite\\Tools.lnk", false}, {"Tool Suite\\Help.lnk", true}};
  K().desktop_shortcuts = {{"Tools.lnk", true}, {"Help.lnk", false}};
  ASSERT_TRUE(K().FinalizeInstallation());
  EXPECT_EQ(Fill(R"(background 255:65:20
banner -c "Uninstall @APP@" "Arial"  240   255:255:255
title "UNINSTALL @APP@"

uninstalling

set VENDOR "CratexTestVendor"
set APP "@APP@"
set VER "2.0"

set HOME "@HOME@"


oktouninstallex "@APP@"

_alias "SRC" "C:\Source Files"
_alias "DST" "@HOME@"

rm -f @HOME@\stop.log
message bye
odbc -s remove "SQLite3 ODBC Driver" "DSN=Tools"
associate -u ".tls" "Tools.Document"
unregdll "@HOME@\srv.dll"
unregdll "@HOME@\view.ocx"
rmprogmenu "Tool Suite\Tools.lnk"
rmprogmenu -s "Tool Suite\Help.lnk"
rmdesktop -s "Tools.lnk"
rmdesktop "Help.lnk"

rmkey -lmS "Software\Microsoft\Windows\CurrentVersion\Uninstall\@APP@"
rmregtree -lm "SOFTWARE\CratexTestVendor\@APP@"

rmtree "@HOME@"

banner -c "... completed" "Arial"  240   255:255:255
)",
                 app_, suite),
            ReadWholeFile(P().files, suite + "\\uninstall\\uninstall.txt"));
  EXPECT_EQ("\"" + suite + "\\uninstall\\unsetup.exe\" \"" + suite + "\\uninstall\"",
            Uninstall("UninstallString"));
  EXPECT_EQ(app_, Uninstall("DisplayName"));
  EXPECT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
}

TEST_F(BookkeepingTest, WhenNoUninstallScriptIsMade) {
  Convention(At("home"));
  K().SetVariable("NO_UNINSTALL", "TRUE");
  EXPECT_TRUE(K().FinalizeInstallation());
  EXPECT_FALSE(P().files.Exists(At("home")));
  K().SetVariable("NO_UNINSTALL", "true");  // only the exact word counts
  K().uninstalling = true;
  EXPECT_TRUE(K().FinalizeInstallation());
  EXPECT_FALSE(P().files.Exists(At("home")));
  K().uninstalling = false;
  EXPECT_TRUE(K().FinalizeInstallation());
  EXPECT_TRUE(P().files.IsFile(At("home\\uninstall\\uninstall.txt")));

  K().SetVariable("VER", " ");
  EXPECT_FALSE(K().FinalizeInstallation());
  ASSERT_FALSE(front_end_.shown.empty());
  EXPECT_EQ(
      0u, front_end_.shown.back().text.find("ERROR IN SCRIPT CONVETION\nThe variable VER has not"));
  EXPECT_EQ(static_cast<uint32_t>(kMbIconHand), front_end_.shown.back().flags);
}

// A '$' does not survive the expansion of the uninstall script's lines:
// its rmtree would name the folder in front of it. Such a script is not
// written, and nothing is registered.
TEST_F(BookkeepingTest, ADollarInTheNamesWritesNoScript) {
  const std::string home = At("My$Tools");
  Convention(home);
  EXPECT_FALSE(K().FinalizeInstallation());
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ("ERROR\nThe variable HOME holds a '$'\n<" + home +
                ">\nAn UNINSTALL-SCRIPT would name something else when it runs.\nNo "
                "UNINSTALL-SCRIPT has been generated.",
            front_end_.shown[0].text);
  EXPECT_FALSE(P().files.Exists(home));
  EXPECT_EQ("<missing>", Uninstall("UninstallString"));

  K().SetVariable("HOME", At("Tools"));
  K().SetVariable("VENDOR", "Cratex$Test");
  EXPECT_FALSE(K().FinalizeInstallation());
  EXPECT_FALSE(P().files.Exists(At("Tools")));
  K().SetVariable("VENDOR", "CratexTestVendor");
  EXPECT_TRUE(K().FinalizeInstallation());
  EXPECT_TRUE(P().files.IsFile(At("Tools\\uninstall\\uninstall.txt")));
}

TEST_F(BookkeepingTest, RemoveTreeLeavesFilesInUseToBoot) {
  const std::string tree = At("tree");
  Folder(tree);
  Folder(tree + "\\sub");
  Folder(tree + "\\sub\\empty");
  Write(tree + "\\a.txt");
  Write(tree + "\\sub\\held.dll");
  Write(tree + "\\sub\\ro.txt");
  ASSERT_TRUE(P().files.SetAttributes(tree + "\\sub\\ro.txt", kAttrReadOnly));
  {
    // Share modes apply within one process: a handle that does not share
    // deletion keeps the file, as another program using it would.
    std::unique_ptr<File> held = P().files.Open(tree + "\\sub\\held.dll", kAccessRead, kShareRead,
                                                Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    EXPECT_TRUE(K().RemoveTree(tree));
  }
  EXPECT_EQ(std::vector<std::string>{tree + "\\sub\\held.dll"}, K().pending_files);
  EXPECT_EQ((std::vector<std::string>{tree + "\\sub", tree}), K().pending_folders);
  EXPECT_FALSE(P().files.Exists(tree + "\\a.txt"));
  EXPECT_FALSE(P().files.Exists(tree + "\\sub\\ro.txt"));
  EXPECT_FALSE(P().files.Exists(tree + "\\sub\\empty"));
  EXPECT_TRUE(front_end_.shown.empty());

  // Once the file is free, the second pass takes the rest.
  K().pending_files.clear();
  K().pending_folders.clear();
  EXPECT_TRUE(K().RemoveTree(tree));
  EXPECT_FALSE(P().files.Exists(tree));
  EXPECT_TRUE(K().pending_files.empty());

  // A folder that is not there cannot be listed.
  EXPECT_FALSE(K().RemoveTree(tree));
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_EQ(0u, front_end_.shown[0].text.find("ERROR\ncan't remove directory tree 3[0x3]\n\n\"" +
                                              tree + "\"\n\nThe application you are trying"));
}

#ifndef _WIN32
// Links inside a tree go themselves; the files they point at stay. (Made on
// the host: the platform has no call that makes links.)
TEST_F(BookkeepingTest, RemoveTreeTakesLinksNotWhatTheyPointAt) {
  const std::string tree = At("tree");
  Folder(tree);
  Folder(At("outside"));
  Write(At("outside\\keep.txt"));
  std::string host = platform_.MachineFolder() + "/drive_c/WINDOWS/TEMP/" +
                     winpath::LastElement(platform_.Scratch());
  ASSERT_EQ(0, ::symlink((host + "/outside").c_str(), (host + "/tree/dirlink").c_str()));
  ASSERT_EQ(0, ::symlink((host + "/outside/keep.txt").c_str(), (host + "/tree/filelink").c_str()));
  ASSERT_TRUE(P().files.Exists(tree + "\\dirlink\\keep.txt"));
  EXPECT_TRUE(K().RemoveTree(tree));
  EXPECT_FALSE(P().files.Exists(tree));
  EXPECT_TRUE(P().files.IsFile(At("outside\\keep.txt")));
  EXPECT_TRUE(K().pending_files.empty());
}
#endif

TEST_F(BookkeepingTest, RemoveFileClearsReadOnlyAndReportsMissingFiles) {
  const std::string file = At("ro.dll");
  Write(file);
  ASSERT_TRUE(P().files.SetAttributes(file, kAttrReadOnly));
  EXPECT_TRUE(K().RemoveFile(file));
  EXPECT_FALSE(P().files.Exists(file));
  EXPECT_FALSE(K().RemoveFile(file));
  EXPECT_FALSE(K().reboot_needed);

  // A file in use is deleted at the next start instead.
  const std::string busy = At("busy.dll");
  Write(busy);
  std::unique_ptr<File> held =
      P().files.Open(busy, kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_TRUE(held);
  EXPECT_TRUE(K().RemoveFile(busy));
  EXPECT_TRUE(K().reboot_needed);
  EXPECT_TRUE(P().files.IsFile(busy));
}

TEST_F(BookkeepingTest, RemoveTreeRefusesSystemFoldersAndDriveRoots) {
  interp::ScriptInterpreter& k = Guarded();
  StartLog(k);
  Environment& env = P().environment;
  std::string program_files, profile;
  {
    RegistryKey version(P().registry, kHKeyLocalMachine);
    ASSERT_TRUE(version.Open("SOFTWARE\\Microsoft\\Windows\\CurrentVersion"));
    ASSERT_TRUE(version.GetValue("ProgramFilesDir", &program_files));
  }
  ASSERT_TRUE(env.Get("USERPROFILE", &profile));
  const std::string windows = env.WindowsFolder();
  struct Case {
    std::string folder;
    std::string reason;
  };
  std::vector<Case> cases = {
      {"C:\\", "it is the root of a drive"},
      {"c:\\.\\", "it is the root of a drive"},
      {windows, "it is the Windows folder"},
      {winpath::ToLowerAscii(windows) + ".\\", "it is the Windows folder"},
      {windows + "\\system32\\..\\.", "it is the Windows folder"},
      {env.SystemFolder(), "it is the system folder"},
      {program_files, "it is the Program Files folder"},
      {program_files + "\\", "it is the Program Files folder"},
      {profile, "it is the user's profile folder"},
      {winpath::Parent(profile), "it is the folder of the users' profiles"},
      {"Z:\\", "it is the root of a drive"},
  };
  {
    RegistryKey shell(P().registry, kHKeyCurrentUser);
    std::string desktop;
    if (shell.Open("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders") &&
        shell.GetValue("Desktop", &desktop)) {
      cases.push_back({desktop, "it is the Desktop folder"});
    }
  }
  std::string short_program_files;
  if (P().files.ShortPath(program_files, &short_program_files) &&
      short_program_files != program_files) {
    cases.push_back({short_program_files, "it is the Program Files folder"});
  }
  // A folder that holds the emulated machine (or wine's prefix), reached
  // through the drive that maps the host's root.
  std::string host;
  if (env.Get("CRX_MACHINE_SESSION", &host) || env.Get("WINEPREFIX", &host)) {
    std::string above = "Z:" + winpath::ToBackslashes(host.substr(0, host.rfind('/')));
    if (P().files.IsFolder(above)) {
      cases.push_back({above,
                       "drive Z: is the host computer's root folder and this installation "
                       "did not make the folder"});
    }
  }
  for (const Case& c : cases) {
    front_end_.shown.clear();
    EXPECT_FALSE(k.RemoveTree(c.folder)) << c.folder;
    ASSERT_EQ(1u, front_end_.shown.size()) << c.folder;
    EXPECT_EQ("ERROR\ncan't remove directory tree\n\n\"" + c.folder +
                  "\"\n\nThe folder is never removed: " + c.reason + ".",
              front_end_.shown[0].text);
  }
  EXPECT_TRUE(guarded_.blocked.empty()) << guarded_.blocked[0];
  EXPECT_TRUE(k.pending_files.empty());
  EXPECT_NE(std::string::npos,
            LogText(k).find("# RMTREE refused <" + windows + ">: it is the Windows folder\n"));
}

TEST_F(BookkeepingTest, TopLevelFoldersNeedToBeOurs) {
  interp::ScriptInterpreter& k = Guarded();
  std::string drive = winpath::Root(platform_.Scratch());
  const std::string top = drive + "CrxTop" + winpath::LastElement(platform_.Scratch());
  top_folders_.push_back(top);
  Folder(top);
  guarded_.allowed.push_back(top);
  EXPECT_FALSE(k.RemoveTree(top));
  EXPECT_TRUE(P().files.IsFolder(top));
  ASSERT_EQ(1u, front_end_.shown.size());
  EXPECT_NE(std::string::npos,
            front_end_.shown[0].text.find("it lies directly below the root of a drive and this "
                                          "installation did not make it"));
  // An installation of this system being removed holds its uninstall script.
  Folder(top + "\\uninstall");
  Write(top + "\\uninstall\\uninstall.txt");
  EXPECT_TRUE(k.RemoveTree(top));
  EXPECT_FALSE(P().files.Exists(top));
  // One that this run made goes too.
  Folder(top);
  k.created_folders.push_back(top);
  EXPECT_TRUE(k.RemoveTree(top + "\\"));
  EXPECT_FALSE(P().files.Exists(top));
  EXPECT_TRUE(guarded_.blocked.empty());
}

TEST_F(BookkeepingTest, CleanUpKeepsWhatItDidNotMake) {
  // HOME was there before the run and holds the user's own things.
  const std::string home = At("home");
  Folder(home);
  Folder(home + "\\mine");
  Write(home + "\\keep.txt");
  Write(home + "\\mine\\notes.txt");
  // What this run made inside it.
  Folder(home + "\\bin");
  Folder(home + "\\bin\\deep");
  Folder(home + "\\shared");
  Write(home + "\\app.exe");
  Write(home + "\\bin\\deep\\lib.dll");
  Write(home + "\\shared\\theirs.txt");  // put there by someone else
  K().created_folders = {home + "\\bin", home + "\\bin\\deep", home + "\\shared"};
  K().copied_files = {home + "\\app.exe", home + "\\bin\\deep\\lib.dll", At("elsewhere.dll")};
  Write(At("elsewhere.dll"));
  K().SetVariable("HOME", home);
  K().SetVariable("VENDOR", "CratexTestVendor");
  K().SetVariable("APP", "App");
  K().SetVariable("VER", "1.0");
  RegistryKey key(P().registry, kHKeyLocalMachine, true);
  ASSERT_TRUE(key.Open("SOFTWARE\\CratexTestVendor\\App\\1.0\\Settings"));
  key.Close();
  K().reboot_needed = true;
  StartLog(K());

  K().CleanUpAfterFailure();
  EXPECT_FALSE(P().files.Exists(home + "\\app.exe"));
  EXPECT_FALSE(P().files.Exists(home + "\\bin"));
  EXPECT_TRUE(P().files.IsFile(home + "\\keep.txt"));
  EXPECT_TRUE(P().files.IsFile(home + "\\mine\\notes.txt"));
  EXPECT_TRUE(P().files.IsFile(home + "\\shared\\theirs.txt"));
  EXPECT_TRUE(P().files.IsFile(At("elsewhere.dll")));
  EXPECT_FALSE(
      RegistryKey(P().registry, kHKeyLocalMachine).Open("SOFTWARE\\CratexTestVendor\\App\\1.0"));
  EXPECT_TRUE(RegistryKey(P().registry, kHKeyLocalMachine).Open("SOFTWARE\\CratexTestVendor\\App"));
  EXPECT_FALSE(K().reboot_needed);
  EXPECT_FALSE(K().cleaning_up);
  ASSERT_EQ(2u, front_end_.shown.size());
  EXPECT_EQ(0u, front_end_.shown[0].text.find("REMOVE INSTALLED FILES...\n'" + home + "'..."));
  EXPECT_EQ("REMOVE REGISTRY TREE...\n'HKEY_LOCAL_MACHINE\\SOFTWARE\\CratexTestVendor\\App\\1.0'",
            front_end_.shown[1].text);
  std::string log = LogText(K());
  EXPECT_NE(std::string::npos, log.find("TidyOnError: kept everything else in <" + home + ">\n"));
  EXPECT_NE(std::string::npos,
            log.find("TidyOnError: rmregtree<SOFTWARE\\CratexTestVendor\\App\\1.0>\n"));

  // A HOME this run made goes as a whole.
  K().created_folders.push_back(home);
  K().CleanUpAfterFailure();
  EXPECT_FALSE(P().files.Exists(home));
  ASSERT_EQ(4u, front_end_.shown.size());
  EXPECT_EQ("REMOVE DIRECTORY TREE...\n'" + home + "'...", front_end_.shown[2].text);
  EXPECT_NE(std::string::npos, LogText(K()).find("TidyOnError: RemoveTree<" + home + ">\n"));
}

// Keys that setreg created on the way to the version key go with it, but
// a key that was there before the run, and anything below it, stays.
TEST_F(BookkeepingTest, CleanUpRemovesTheKeysSetregCreated) {
  RegistryKey before(P().registry, kHKeyLocalMachine, true);
  ASSERT_TRUE(before.Open("SOFTWARE\\CratexTestShared\\Other"));
  before.Close();
  K().SetVariable("VENDOR", "CratexTestNew");
  K().SetVariable("APP", "App");
  K().SetVariable("VER", "1.0");
  StartLog(K());
  for (const char* key : {"SOFTWARE\\CratexTestNew\\App\\1.0", "SOFTWARE\\CratexTestShared\\App\\Cfg"}) {
    K().cmd.Clear();
    K().cmd.command = "setreg";
    K().cmd.option = "-lm";
    K().cmd.args[0] = key;
    K().cmd.args[1] = "Path";
    K().cmd.args[2] = "x";
    ASSERT_TRUE(K().CmdSetreg()) << key;
  }
  K().CleanUpAfterFailure();
  RegistryKey probe(P().registry, kHKeyLocalMachine);
  EXPECT_FALSE(probe.Open("SOFTWARE\\CratexTestNew"));
  EXPECT_FALSE(probe.Open("SOFTWARE\\CratexTestShared\\App"));
  EXPECT_TRUE(probe.Open("SOFTWARE\\CratexTestShared\\Other"));
  EXPECT_TRUE(probe.Open("SOFTWARE"));
  EXPECT_NE(std::string::npos, LogText(K()).find("TidyOnError: rmkey<SOFTWARE\\CratexTestNew>\n"));
}

// The clean-up undoes what the copy command itself recorded.
TEST_F(BookkeepingTest, CleanUpUndoesTheCopyCommand) {
  Write(At("src.txt"), "new");
  auto copy = [&](const std::string& to) {
    K().cmd.Clear();
    K().cmd.command = "copy";
    K().cmd.args[0] = At("src.txt");
    K().cmd.args[1] = to;
    return K().CmdCopy();
  };
  const std::string home = At("existing");
  Folder(home);
  Write(home + "\\keep.txt", "mine");
  K().SetVariable("HOME", home);
  ASSERT_TRUE(copy(home + "\\bin\\x\\a.txt"));
  ASSERT_TRUE(copy(home + "\\b.txt"));
  K().CleanUpAfterFailure();
  EXPECT_FALSE(P().files.Exists(home + "\\bin"));
  EXPECT_FALSE(P().files.Exists(home + "\\b.txt"));
  EXPECT_EQ("mine", ReadWholeFile(P().files, home + "\\keep.txt"));

  // A HOME the copy made goes as a whole, and so does the empty folder the
  // copy made on the way to it; the folder above those stays.
  const std::string fresh = At("fresh\\app");
  K().SetVariable("HOME", fresh);
  ASSERT_TRUE(copy(fresh + "\\a.txt"));
  K().CleanUpAfterFailure();
  EXPECT_FALSE(P().files.Exists(fresh));
  EXPECT_FALSE(P().files.Exists(At("fresh")));
  EXPECT_TRUE(P().files.IsFolder(platform_.Scratch()));
}

}  // namespace
}  // namespace crx::test
