// The shortcut commands, called directly with K().cmd set as the command
// table would hand them over. The shell folders are pointed at folders of
// the test's own (and put back afterwards), so the same tests run on the
// emulated machine and under wine. On Linux every link made is read back
// with lnkinfo, a reader of the link format that nobody here wrote.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"
#include "support/removal_run.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace crx::test {
namespace {

constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// Windows' shell rewrites the Shell Folders values from these when it
// loads (wine does so when the first link is saved), so a test points
// both at its folders.
constexpr const char* kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The machine's environment, reporting another platform identifier.
class PlatformIdEnvironment : public Environment {
 public:
  PlatformIdEnvironment(Environment& inner, uint32_t platform_id)
      : inner_(inner), platform_id_(platform_id) {}
  bool Get(const std::string& name, std::string* value) override { return inner_.Get(name, value); }
  bool Set(const std::string& name, const std::string& value) override {
    return inner_.Set(name, value);
  }
  bool Unset(const std::string& name) override { return inner_.Unset(name); }
  std::string UserName() override { return inner_.UserName(); }
  std::string ComputerName() override { return inner_.ComputerName(); }
  std::string WindowsFolder() override { return inner_.WindowsFolder(); }
  std::string SystemFolder() override { return inner_.SystemFolder(); }
  std::string TempPath() override { return inner_.TempPath(); }
  OsVersion Version() override {
    OsVersion v = inner_.Version();
    v.platform_id = platform_id_;
    return v;
  }
  bool IsAdministrator() override { return inner_.IsAdministrator(); }

 private:
  Environment& inner_;
  uint32_t platform_id_;
};

// lnkinfo's host path, found on the host's PATH (the emulated machine
// gives its programs its own PATH and keeps the host's in CRX_HOST_PATH);
// empty when it is not installed.
std::string LnkinfoProgram() {
#ifdef _WIN32
  return "";
#else
  const char* host_path = std::getenv("CRX_HOST_PATH");
  if (!host_path) host_path = std::getenv("PATH");
  std::string dirs = host_path ? host_path : "";
  dirs += ":/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/lnkinfo";
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
#endif
}

bool HaveLnkinfo() { return !LnkinfoProgram().empty(); }

// The fields lnkinfo prints for a link file's bytes ("Local path",
// "Working directory", "Description", ...); empty when it cannot read them.
std::map<std::string, std::string> LnkinfoFields(const std::string& bytes) {
  std::map<std::string, std::string> fields;
#ifndef _WIN32
  const char* base = std::getenv("TMPDIR");
  std::string name = std::string(base && *base ? base : "/tmp") + "/crxlnk.XXXXXX";
  std::vector<char> path(name.begin(), name.end());
  path.push_back('\0');
  int fd = ::mkstemp(path.data());
  if (fd < 0) return fields;
  bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (written) {
    std::string command = LnkinfoProgram() + " '" + path.data() + "' 2>&1";
    if (FILE* out = ::popen(command.c_str(), "r")) {
      char line[1024];
      while (std::fgets(line, sizeof line, out)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        size_t colon = text.find(": ");
        if (colon == std::string::npos) continue;
        size_t begin = text.find_first_not_of('\t');
        size_t end = text.find_last_not_of("\t ", colon - 1);
        if (begin == std::string::npos || end == std::string::npos || end < begin) continue;
        fields[text.substr(begin, end + 1 - begin)] = text.substr(colon + 2);
      }
      ::pclose(out);
    }
  }
  ::unlink(path.data());
#else
  (void)bytes;
#endif
  return fields;
}

class ShortcutTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    saved_folder_ = P().files.CurrentFolder();
    user_programs_ = At("user\\Start Menu\\Programs");
    user_desktop_ = At("user\\Desktop");
    all_programs_ = At("all\\Start Menu\\Common Programs");
    all_desktop_ = At("all\\Desktop");
    app_ = At("pkg");
    for (const std::string& f : {user_programs_, user_desktop_, all_programs_, all_desktop_, app_}) {
      ASSERT_TRUE(K().CreateFolders(f)) << f;
    }
    K().created_folders.clear();
    PointShellFolder(kHKeyCurrentUser, "Programs", user_programs_);
    PointShellFolder(kHKeyCurrentUser, "Desktop", user_desktop_);
    PointShellFolder(kHKeyLocalMachine, "Common Programs", all_programs_);
    PointShellFolder(kHKeyLocalMachine, "Common Desktop", all_desktop_);
    ASSERT_TRUE(WriteWholeFile(P().files, app_ + "\\app.exe", "program"));
    ASSERT_TRUE(P().files.SetCurrentFolder(app_));
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
  }

  void TearDown() override {
    P().files.SetCurrentFolder(saved_folder_);
    for (auto it = saved_values_.rbegin(); it != saved_values_.rend(); ++it) {
      ScopedRegKey key(P().registry);
      if (P().registry.OpenKey(it->hive, it->key, RegAccess::kAll, key.Out()) != 0) continue;
      if (it->existed) {
        P().registry.SetValue(key.Get(), it->name, it->type, it->data.data(), it->data.size());
      } else {
        P().registry.DeleteValue(key.Get(), it->name);
      }
    }
  }

  std::string At(const std::string& name) { return platform_.Scratch() + "\\" + name; }

  // Sets a shell folder's values, keeping what was there (type and bytes)
  // for TearDown.
  void PointShellFolder(RegKey hive, const std::string& name, const std::string& folder) {
    for (const char* path : {kShellFolders, kUserShellFolders}) {
      ScopedRegKey key(P().registry);
      ASSERT_EQ(P().registry.CreateKey(hive, path, RegAccess::kAll, key.Out(), nullptr), 0);
      SavedValue saved{hive, path, name, 0, "", false};
      saved.existed = P().registry.QueryValue(key.Get(), name, &saved.type, &saved.data) == 0;
      saved_values_.push_back(saved);
      ASSERT_EQ(P().registry.SetString(key.Get(), name, folder), 0);
    }
  }

  void RemoveShellFolder(RegKey hive, const std::string& name) {
    for (const char* path : {kShellFolders, kUserShellFolders}) {
      ScopedRegKey key(P().registry);
      ASSERT_EQ(P().registry.OpenKey(hive, path, RegAccess::kAll, key.Out()), 0);
      P().registry.DeleteValue(key.Get(), name);
    }
  }

  // Sets the current command, which must fit its row of the table.
  void Command(const std::string& keyword, const std::string& option,
               const std::vector<std::string>& args) {
    InterpreterTest::Command(keyword, option, args);
    ASSERT_TRUE(K().CheckCommandRow()) << keyword << " does not fit its row";
  }


  // Reads a link back with lnkinfo and checks what it points at.
  void ExpectLink(const std::string& link, const std::string& target,
                  const std::string& working_folder, const std::string& description) {
    SCOPED_TRACE(link);
    std::string bytes = ReadWholeFile(P().files, link, "");
    ASSERT_FALSE(bytes.empty()) << "no link file";
    if (!HaveLnkinfo()) return;
    std::map<std::string, std::string> fields = LnkinfoFields(bytes);
    EXPECT_EQ(fields["Local path"], target);
    EXPECT_EQ(fields["Working directory"], working_folder);
    EXPECT_EQ(fields["Description"], description);
  }

  struct SavedValue {
    RegKey hive;
    const char* key;
    std::string name;
    uint32_t type;
    std::string data;
    bool existed;
  };
  std::vector<SavedValue> saved_values_;
  std::string saved_folder_;
  std::string user_programs_, user_desktop_, all_programs_, all_desktop_, app_;
};

TEST_F(ShortcutTest, LinksCanBeReadBackByAnIndependentReader) {
#ifdef _WIN32
  GTEST_SKIP() << "lnkinfo runs on the Linux side: the wine script reads the links made there";
#else
  if (!HaveLnkinfo()) GTEST_SKIP() << "lnkinfo (Debian package liblnk-utils) is not installed";
  Command("progmenu", "", {"app.exe", "Acme\\App"});
  ASSERT_TRUE(K().CmdProgmenu());
  std::map<std::string, std::string> fields =
      LnkinfoFields(ReadWholeFile(P().files, user_programs_ + "\\Acme\\App.LNK", ""));
  EXPECT_EQ(fields["Local path"], app_ + "\\app.exe");
  EXPECT_EQ(fields["Working directory"], app_);
  EXPECT_EQ(fields["Description"], "Shortcut to app");
  EXPECT_EQ(fields["Drive type"], "Fixed (3)");
  EXPECT_EQ(fields["File size"], "7 bytes");
#endif
}

TEST_F(ShortcutTest, ProgmenuMakesTheGroupAndLinksToTheTarget) {
  // A relative target is the current folder's; the first level of a
  // two-level menu path becomes a folder under the program folder.
  Command("progmenu", "", {"app.exe", "Acme Tools\\App"});
  ASSERT_TRUE(K().CmdProgmenu());
  EXPECT_TRUE(P().files.IsFolder(user_programs_ + "\\Acme Tools"));
  ExpectLink(user_programs_ + "\\Acme Tools\\App.LNK", app_ + "\\app.exe", app_, "Shortcut to app");
  EXPECT_NE(LogText().find("# create progmenu link <" + app_ + "\\app.exe> --> <" + user_programs_ +
                           "\\Acme Tools\\App.LNK>\n"),
            std::string::npos);

  // The description is the name up to its first dot; -s is the all-users
  // folder; a menu path that begins with a back-slash gets no second one.
  ASSERT_TRUE(WriteWholeFile(P().files, At("pkg\\setup.new.exe"), "x"));
  Command("progmenu", "-s", {At("pkg\\setup.new.exe"), "\\Acme Tools\\Setup"});
  ASSERT_TRUE(K().CmdProgmenu());
  ExpectLink(all_programs_ + "\\Acme Tools\\Setup.LNK", At("pkg\\setup.new.exe"), app_,
             "Shortcut to setup");

  // A target that does not exist still gets its link without -f; with -f it
  // is skipped and not recorded.
  Command("progmenu", "-f", {"missing.exe", "Acme Tools\\Missing"});
  EXPECT_TRUE(K().CmdProgmenu());
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Acme Tools\\Missing.LNK"));
  EXPECT_NE(LogText().find("# progmenu target does not exist - not an error with -f\n"),
            std::string::npos);

  // Without a menu path there is nothing to name the link by.
  Command("progmenu", "", {"app.exe"});
  EXPECT_FALSE(K().CmdProgmenu());
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\.LNK"));

  ASSERT_EQ(K().menu_shortcuts.size(), 2u);
  EXPECT_EQ(K().menu_shortcuts[0].path, "Acme Tools\\App");
  EXPECT_FALSE(K().menu_shortcuts[0].shared);
  EXPECT_EQ(K().menu_shortcuts[1].path, "\\Acme Tools\\Setup");
  EXPECT_TRUE(K().menu_shortcuts[1].shared);
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(ShortcutTest, DesktopAsksNamesAndSkips) {
  // -f with a missing target: success, no link, no record.
  Command("desktop", "-f", {"nothing.exe"});
  EXPECT_TRUE(K().CmdDesktop());
  EXPECT_TRUE(K().desktop_shortcuts.empty());
  EXPECT_NE(LogText().find("# desktop target does not exist - not an error with -f\n"),
            std::string::npos);

  // A target whose name begins with a dot gives the link no name.
  ASSERT_TRUE(WriteWholeFile(P().files, app_ + "\\.hidden", "x"));
  Command("desktop", "", {".hidden"});
  EXPECT_FALSE(K().CmdDesktop());
  EXPECT_FALSE(P().files.Exists(user_desktop_ + "\\.LNK"));
  EXPECT_TRUE(K().desktop_shortcuts.empty());

  // -p answered No: success without a link or a record.
  front_end_.answers.push_back(kIdNo);
  Command("desktop", "-p", {"app.exe"});
  EXPECT_TRUE(K().CmdDesktop());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "Do you want to add 'app' to your desktop?");
  EXPECT_EQ(front_end_.shown[0].flags, kMbYesNo | kMbIconQuestion);
  EXPECT_FALSE(P().files.Exists(user_desktop_ + "\\app.LNK"));
  EXPECT_TRUE(K().desktop_shortcuts.empty());

  // Silently the question is answered Yes; the description argument is
  // used as given.
  K().silent_mode.set_silent(true);
  Command("desktop", "-ps", {"app.exe", "The App"});
  EXPECT_TRUE(K().CmdDesktop());
  K().silent_mode.set_silent(false);
  EXPECT_EQ(front_end_.shown.size(), 1u);
  ExpectLink(all_desktop_ + "\\app.LNK", app_ + "\\app.exe", app_, "The App");
  ASSERT_EQ(K().desktop_shortcuts.size(), 1u);
  EXPECT_EQ(K().desktop_shortcuts[0].path, "app");
  EXPECT_TRUE(K().desktop_shortcuts[0].shared);
  EXPECT_NE(LogText().find("# create desktop link <" + app_ + "\\app.exe> --> <" + all_desktop_ +
                           "\\app.LNK>\n"),
            std::string::npos);
}

TEST_F(ShortcutTest, Windows95FamilyUsesThePerUserFoldersButKeepsTheLetter) {
  PlatformIdEnvironment family95(P().environment, 1);
  Platform p95{P().files, P().registry, P().processes, family95, P().clock, P().terminal,
               P().shell};
  interp::ScriptInterpreter k95(p95, front_end_, host_);
  auto command = [&k95](const std::string& keyword, const std::string& option,
                        std::vector<std::string> args) {
    k95.cmd.Clear();
    k95.cmd.command = keyword;
    k95.cmd.option = option;
    for (size_t i = 0; i < args.size(); ++i) k95.cmd.args[i] = args[i];
  };
  command("progmenu", "-s", {"app.exe", "Acme\\App"});
  ASSERT_TRUE(k95.CmdProgmenu());
  EXPECT_TRUE(P().files.Exists(user_programs_ + "\\Acme\\App.LNK"));
  EXPECT_FALSE(P().files.Exists(all_programs_ + "\\Acme"));
  ASSERT_EQ(k95.menu_shortcuts.size(), 1u);
  EXPECT_TRUE(k95.menu_shortcuts[0].shared);

  command("desktop", "-s", {"app.exe"});
  ASSERT_TRUE(k95.CmdDesktop());
  EXPECT_TRUE(P().files.Exists(user_desktop_ + "\\app.LNK"));
  ASSERT_EQ(k95.desktop_shortcuts.size(), 1u);
  EXPECT_TRUE(k95.desktop_shortcuts[0].shared);

  // The uninstall script's -s lines find them in the same place.
  command("rmprogmenu", "-s", {"Acme\\App"});
  EXPECT_TRUE(k95.CmdRmprogmenu());
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Acme"));
  command("rmdesktop", "-s", {"app"});
  EXPECT_TRUE(k95.CmdRmdesktop());
  EXPECT_FALSE(P().files.Exists(user_desktop_ + "\\app.LNK"));
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(ShortcutTest, RmprogmenuRemovesTheEmptiedGroupOnly) {
  Command("progmenu", "", {"app.exe", "Acme\\One"});
  ASSERT_TRUE(K().CmdProgmenu());
  Command("progmenu", "", {"app.exe", "Acme\\Two"});
  ASSERT_TRUE(K().CmdProgmenu());
  Command("progmenu", "", {"app.exe", "Top"});
  ASSERT_TRUE(K().CmdProgmenu());

  // The group stays while it holds another link.
  Command("rmprogmenu", "", {"Acme\\One"});
  EXPECT_TRUE(K().CmdRmprogmenu());
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Acme\\One.LNK"));
  EXPECT_TRUE(P().files.IsFolder(user_programs_ + "\\Acme"));
  Command("rmprogmenu", "", {"Acme\\Two"});
  EXPECT_TRUE(K().CmdRmprogmenu());
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Acme"));
  EXPECT_NE(LogText().find("# RMPROGMENU ELEMENT <" + user_programs_ + "\\Acme>\n"),
            std::string::npos);

  // A link right in the program folder leaves the folder, now empty.
  Command("rmprogmenu", "", {"Top"});
  EXPECT_TRUE(K().CmdRmprogmenu());
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Top.LNK"));
  EXPECT_TRUE(P().files.IsFolder(user_programs_));

  // Also when the program folder has another name: it is the user's
  // Start menu, never a group of ours.
  const std::string menu = At("user\\Start Menu\\Menu");
  ASSERT_TRUE(K().CreateFolders(menu));
  PointShellFolder(kHKeyCurrentUser, "Programs", menu);
  Command("progmenu", "", {"app.exe", "Top"});
  ASSERT_TRUE(K().CmdProgmenu());
  Command("rmprogmenu", "", {"Top"});
  EXPECT_TRUE(K().CmdRmprogmenu());
  EXPECT_TRUE(P().files.IsFolder(menu));
  EXPECT_TRUE(front_end_.shown.empty());

  // A link that is gone already: a non-fatal message, and success.
  Command("rmprogmenu", "", {"Acme\\One"});
  EXPECT_TRUE(K().CmdRmprogmenu());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text.find("NON-FATAL ERROR...\nCan't remove menu item...\n"
                                          "\"Acme\\One\" error="),
            0u);
}

TEST_F(ShortcutTest, MissingShellFoldersAndFailedLinks) {
  // Removing: a missing link is no failure; rmdesktop fails only when the
  // desktop's location cannot be read, rmprogmenu never.
  Command("rmdesktop", "", {"gone"});
  EXPECT_TRUE(K().CmdRmdesktop());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text.find("NON-FATAL ERROR "), 0u);
  EXPECT_NE(front_end_.shown[0].text.find("Can't remove desktop item...\n\"" + user_desktop_ +
                                          "\\gone.LNK\"\n(maybe it has been removed manually)"),
            std::string::npos);
  RemoveShellFolder(kHKeyCurrentUser, "Desktop");
  RemoveShellFolder(kHKeyLocalMachine, "Common Programs");
  Command("rmdesktop", "", {"gone"});
  EXPECT_FALSE(K().CmdRmdesktop());
  Command("rmprogmenu", "-s", {"Acme\\App"});
  EXPECT_TRUE(K().CmdRmprogmenu());
  std::string log = LogText();
  EXPECT_NE(log.find("can't access HKCU Common registry value\n"), std::string::npos);
  EXPECT_NE(log.find("can't access HKLM Common Programs registry value\n"), std::string::npos);
  EXPECT_EQ(front_end_.shown.size(), 1u);

  // Creating: the location messages, and no record.
  Command("desktop", "", {"app.exe"});
  EXPECT_FALSE(K().CmdDesktop());
  EXPECT_EQ(front_end_.shown.back().text, "Can't Query HKCU Desktop Reg Key for shell location");
  EXPECT_EQ(front_end_.shown.back().flags, kMbIconHand);
  Command("progmenu", "-s", {"app.exe", "Acme\\App"});
  EXPECT_FALSE(K().CmdProgmenu());
  EXPECT_EQ(front_end_.shown.back().text,
            "Can't Query HMLM Reg Key for Common Programs shell location");
  EXPECT_TRUE(K().menu_shortcuts.empty());
  EXPECT_TRUE(K().desktop_shortcuts.empty());

  // A link that cannot be made (its group would sit below a file) fails
  // the command but is recorded for the uninstall script all the same.
  ASSERT_TRUE(WriteWholeFile(P().files, user_programs_ + "\\Blocked", "a file"));
  front_end_.shown.clear();
  Command("progmenu", "", {"app.exe", "Blocked\\App"});
  EXPECT_FALSE(K().CmdProgmenu());
  ASSERT_FALSE(front_end_.shown.empty());
  const std::string& error = front_end_.shown.back().text;
  EXPECT_EQ(error.find("ERROR CREATING MENU LINK: 0x8"), 0u) << error;
  EXPECT_NE(error.find("\n<" + app_ + "\\app.exe> <" + user_programs_ +
                       "\\Blocked\\App.LNK> <Shortcut to app>"),
            std::string::npos);
  EXPECT_NE(LogText().find("ERROR CREATING MENU LINK: 0x"), std::string::npos);
  ASSERT_EQ(K().menu_shortcuts.size(), 1u);
  EXPECT_EQ(K().menu_shortcuts[0].path, "Blocked\\App");
}

// A failed installation's clean-up takes away the links and associations
// the run made (they would point into the folder it removes), quietly, and
// nothing another product made.
TEST_F(ShortcutTest, TheCleanUpAfterAFailureRemovesTheRunsLinksAndAssociations) {
  const std::string suffix = winpath::LastElement(platform_.ScratchKey());
  const std::string ext = ".crxtidy" + suffix;
  const std::string taken = ".crxtaken" + suffix;
  const std::string type = "CratexTidy" + suffix + ".Type";
  ASSERT_TRUE(K().CreateFolders(user_programs_ + "\\Shared Group"));
  ASSERT_TRUE(WriteWholeFile(P().files, user_programs_ + "\\Shared Group\\Other.LNK", "other's"));
  Command("progmenu", "", {"app.exe", "Shared Group\\App"});
  ASSERT_TRUE(K().CmdProgmenu());
  Command("progmenu", "", {"app.exe", "Own Group\\App"});
  ASSERT_TRUE(K().CmdProgmenu());
  Command("progmenu", "-s", {"app.exe", "Own Group\\App"});
  ASSERT_TRUE(K().CmdProgmenu());
  Command("desktop", "", {"app.exe", "The App"});
  ASSERT_TRUE(K().CmdDesktop());
  ASSERT_TRUE(WriteWholeFile(P().files, app_ + "\\gone.exe", "x"));
  Command("desktop", "", {"gone.exe"});
  ASSERT_TRUE(K().CmdDesktop());
  ASSERT_TRUE(P().files.DeleteFile(user_desktop_ + "\\gone.LNK"));  // removed by hand since
  Command("associate", "", {ext, app_ + "\\app.exe", type, "Tidy type"});
  ASSERT_TRUE(K().CmdAssociate());
  Command("associate", "", {taken, app_ + "\\app.exe", type, "Tidy type"});
  ASSERT_TRUE(K().CmdAssociate());
  {
    // Another product has taken the second extension over since.
    ScopedRegKey key(P().registry);
    ASSERT_EQ(P().registry.OpenKey(kHKeyClassesRoot, taken, RegAccess::kAll, key.Out()), 0);
    ASSERT_EQ(P().registry.SetString(key.Get(), "", "Other.Type"), 0);
  }
  auto key_exists = [&](const std::string& path) {
    ScopedRegKey key(P().registry);
    return P().registry.OpenKey(kHKeyClassesRoot, path, RegAccess::kRead, key.Out()) == 0;
  };
  ASSERT_TRUE(key_exists(type + "\\shell\\open\\command"));

  K().CleanUpAfterFailure();
  const bool taken_left = key_exists(taken);
  P().registry.DeleteTree(kHKeyClassesRoot, taken);
  P().registry.DeleteTree(kHKeyClassesRoot, ext);
  P().registry.DeleteTree(kHKeyClassesRoot, type);

  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Shared Group\\App.LNK"));
  EXPECT_TRUE(P().files.IsFile(user_programs_ + "\\Shared Group\\Other.LNK"));
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Own Group"));
  EXPECT_FALSE(P().files.Exists(all_programs_ + "\\Own Group"));
  EXPECT_TRUE(P().files.IsFolder(user_programs_));
  EXPECT_FALSE(P().files.Exists(user_desktop_ + "\\app.LNK"));
  EXPECT_FALSE(key_exists(ext));
  EXPECT_FALSE(key_exists(type));
  EXPECT_TRUE(taken_left) << "an extension another type owns now stays";
  EXPECT_TRUE(K().menu_shortcuts.empty());
  EXPECT_TRUE(K().desktop_shortcuts.empty());
  EXPECT_TRUE(K().associations.empty());
  EXPECT_TRUE(front_end_.shown.empty()) << front_end_.shown[0].text;
  const std::string log = LogText();
  EXPECT_NE(log.find("TidyOnError: rmprogmenu<" + all_programs_ + "\\Own Group\\App.LNK>\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("TidyOnError: rmdesktop<" + user_desktop_ + "\\app.LNK>\n"),
            std::string::npos);
  EXPECT_EQ(log.find("TidyOnError: rmdesktop<" + user_desktop_ + "\\gone.LNK>"),
            std::string::npos);
  EXPECT_NE(log.find("TidyOnError: associate -u \"" + ext + "\" \"" + type + "\"\n"),
            std::string::npos);
}

TEST_F(ShortcutTest, AnInstallationsLinksGoWithItsRemoval) {
  const std::string app = "CratexLinkTest " + winpath::LastElement(platform_.ScratchKey());
  const std::string home = At("Link Home");
  const std::string uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app;
  ASSERT_TRUE(WriteWholeFile(P().files, app_ + "\\Kestrova.exe", "interpreter"));
  ASSERT_TRUE(WriteWholeFile(P().files, app_ + "\\unsetup.exe", "starter"));
  ASSERT_TRUE(WriteWholeFile(P().files, app_ + "\\install.txt",
                             "set VENDOR CratexLinkVendor\nset APP \"" + app +
                                 "\"\nset VER 1.0\nset HOME \"" + home +
                                 "\"\ncopy app.exe \"$HOME\\app.exe\"\n"
                                 "progmenu \"$HOME\\app.exe\" \"Link Tools\\App\"\n"
                                 "desktop -s \"$HOME\\app.exe\" \"The App\"\n"));
  K().logging = false;
  EXPECT_EQ(K().Run("/sms:silent install.txt").exit_code, 0);
  ExpectLink(user_programs_ + "\\Link Tools\\App.LNK", home + "\\app.exe", home, "Shortcut to app");
  ExpectLink(all_desktop_ + "\\app.LNK", home + "\\app.exe", home, "The App");
  const std::string script = ReadWholeFile(P().files, home + "\\uninstall\\uninstall.txt");
  EXPECT_NE(script.find("rmprogmenu \"Link Tools\\App\"\n"), std::string::npos) << script;
  EXPECT_NE(script.find("rmdesktop -s \"app\"\n"), std::string::npos) << script;

  // The removal runs the script from `uninstalling` on, from outside the
  // installation folder, with a log of its own.
  const RemovalRun removal =
      RunRemoval(P(), front_end_, host_, script, At("removal"), "/sms:silent");
  ASSERT_TRUE(removal.started) << script;
  const int exit_code = removal.exit_code;
  const std::string& log = removal.log;
  P().registry.DeleteTree(kHKeyLocalMachine, uninstall_key);
  P().registry.DeleteTree(kHKeyLocalMachine, "SOFTWARE\\CratexLinkVendor");
  EXPECT_EQ(exit_code, 0) << log;
  EXPECT_FALSE(P().files.Exists(user_programs_ + "\\Link Tools")) << log;
  EXPECT_TRUE(P().files.IsFolder(user_programs_));
  EXPECT_FALSE(P().files.Exists(all_desktop_ + "\\app.LNK")) << log;
  EXPECT_TRUE(front_end_.shown.empty());
}

}  // namespace
}  // namespace crx::test
