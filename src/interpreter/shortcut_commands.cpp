// Shortcut commands: progmenu and desktop create shell links in the Start
// menu's program folder and on the desktop, for the current user or (option
// s) for all users; rmprogmenu and rmdesktop remove them again. Each link
// made (or attempted) is recorded so the uninstall script removes it.
// Argument counts and options are checked by the command table.
#include <string>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// Shell folder values are read into a buffer of this many bytes.
constexpr size_t kShellFolderLimit = 260;

enum class ShellFolder { kPrograms, kDesktop };

enum class FolderRead { kOk, kKeyFailed, kValueFailed };

// Option s asks for the all-users folder, which the Windows 95 family does
// not have: there the current user's folder serves. The record keeps the
// letter as given either way.
bool UseAllUsers(ScriptInterpreter& k) {
  return k.cmd.HasOption('s') && k.platform.environment.Version().platform_id != 1;
}

// Reads the location of a shell folder; *rc receives the registry result of
// the step that failed.
FolderRead ReadShellFolder(ScriptInterpreter& k, ShellFolder which, bool all_users,
                           std::string* folder, long* rc) {
  ScopedRegKey key(k.platform.registry);
  *rc = k.platform.registry.OpenKey(all_users ? kHKeyLocalMachine : kHKeyCurrentUser,
                                    kShellFoldersKey, RegAccess::kRead, key.Out());
  if (*rc != kErrorSuccess) return FolderRead::kKeyFailed;
  const char* name = which == ShellFolder::kPrograms ? (all_users ? "Common Programs" : "Programs")
                                                      : (all_users ? "Common Desktop" : "Desktop");
  *rc = k.platform.registry.GetString(key.Get(), name, folder);
  // A value that does not fit the buffer cannot be read, as on Windows.
  if (*rc == kErrorSuccess && folder->size() >= kShellFolderLimit) *rc = kErrorMoreData;
  return *rc == kErrorSuccess ? FolderRead::kOk : FolderRead::kValueFailed;
}

// The key failure message of the creating commands.
void ReportShellFoldersKey(ScriptInterpreter& k, long rc) {
  k.Message(Format("Can't  open Reg Key 0x%x[%d]...\n<%s> ", static_cast<unsigned>(rc),
                   static_cast<int>(rc), kShellFoldersKey),
            kMbIconHand);
}

// The target made absolute against the current folder unless it begins
// with a back-slash or a drive. False when -f lets a missing target pass.
bool ResolveTarget(ScriptInterpreter& k, const char* keyword, std::string* target) {
  *target = k.cmd.args[0];
  const bool absolute = (!target->empty() && (*target)[0] == '\\') ||
                        (target->size() > 1 && (*target)[1] == ':');
  if (!absolute) *target = winpath::Join(k.platform.files.CurrentFolder(), *target);
  if (k.cmd.HasOption('f') && !k.platform.files.Exists(*target)) {
    k.LogF("# %s target does not exist - not an error with -f\n", keyword);
    return false;
  }
  return true;
}

// The target's file name up to its first dot: the desktop link's name and
// the word after "Shortcut to ".
std::string ShortcutName(const std::string& target) {
  std::string name = winpath::LastElement(target);
  return name.substr(0, name.find('.'));
}

// The program-menu link file of a menu path.
std::string MenuLinkFile(const std::string& folder, const std::string& menu_path) {
  std::string link = folder;
  if (menu_path.empty() || menu_path[0] != '\\') link += '\\';
  return link + menu_path + ".LNK";
}

// Creates the link with the target's folder as its working folder and
// tells the user which of the link's settings the shell refused.
long MakeLink(ScriptInterpreter& k, const std::string& target, const std::string& link,
              const std::string& description) {
  uint32_t failed = 0;
  long result = k.platform.shell.CreateShellLink(target, link, description,
                                                 winpath::Parent(target), &failed);
  if ((failed & kLinkPathFailed) != 0) k.Message("SetPath failed!", kMbIconHand);
  if ((failed & kLinkDescriptionFailed) != 0) k.Message("SetDescription failed!", kMbIconHand);
  if ((failed & kLinkWorkingFolderFailed) != 0) {
    k.Message("SetWorkingDirectory failed!", kMbIconHand);
  }
  return result;
}

// The group folder of a removed menu link goes when that was its last
// link. Only that one level is tried, and never the program folder
// itself, whatever its name (a menu path without a group has its link
// right there).
void RemoveEmptiedGroup(ScriptInterpreter& k, const std::string& folder, const std::string& link) {
  const std::string group = winpath::Parent(link);
  const std::string group_name = winpath::LastElement(group);
  const bool program_folder =
      winpath::EqualsNoCase(winpath::Normalize(group), winpath::Normalize(folder)) ||
      winpath::EqualsNoCase(group_name, "Programs") ||
      winpath::EqualsNoCase(group_name, "Common Programs");
  if (!program_folder && k.platform.files.RemoveFolder(group)) {
    k.LogF("# RMPROGMENU ELEMENT <%s>\n", group.c_str());
  }
}

}  // namespace

bool ScriptInterpreter::CmdProgmenu() {
  // Without a menu path the link would be a file named only ".LNK" in the
  // program folder: refused like a missing argument.
  if (cmd.args[1].empty()) return false;
  std::string target;
  if (!ResolveTarget(*this, "progmenu", &target)) return true;
  const bool all_users = UseAllUsers(*this);
  std::string folder;
  long rc = 0;
  switch (ReadShellFolder(*this, ShellFolder::kPrograms, all_users, &folder, &rc)) {
    case FolderRead::kOk:
      break;
    case FolderRead::kKeyFailed:
      ReportShellFoldersKey(*this, rc);
      return false;
    case FolderRead::kValueFailed:
      Message(all_users ? "Can't Query HMLM Reg Key for Common Programs shell location"
                        : "Can't Query HKCU Reg Key for shell location",
              kMbIconHand);
      return false;
  }
  const std::string& menu_path = cmd.args[1];
  const std::string link = MenuLinkFile(folder, menu_path);
  const std::string description = "Shortcut to " + ShortcutName(target);
  CreateFolders(winpath::Parent(link));
  LogF("# create progmenu link <%s> --> <%s>\n", target.c_str(), link.c_str());
  long result = MakeLink(*this, target, link, description);
  if (result != 0) {
    ShowAndLog(Format("ERROR CREATING MENU LINK: 0x%x\n<%s> <%s> <%s>",
                      static_cast<unsigned>(result), target.c_str(), link.c_str(),
                      description.c_str()),
               kMbIconHand);
  }
  // Recorded even when the link could not be made: the uninstall script
  // then tries to remove whatever is there.
  menu_shortcuts.push_back(ShortcutRecord{menu_path, cmd.HasOption('s')});
  return result == 0;
}

bool ScriptInterpreter::CmdDesktop() {
  std::string target;
  if (!ResolveTarget(*this, "desktop", &target)) return true;
  const std::string name = ShortcutName(target);
  // A file name that begins with a dot leaves no name for the link (it
  // would be a file named only ".LNK" that no rmdesktop line can name):
  // refused like a missing argument.
  if (name.empty()) return false;
  if (cmd.HasOption('p') &&
      Message(Format("Do you want to add '%s' to your desktop?", name.c_str()),
              kMbYesNo | kMbIconQuestion) != kIdYes) {
    return true;
  }
  const bool all_users = UseAllUsers(*this);
  std::string folder;
  long rc = 0;
  switch (ReadShellFolder(*this, ShellFolder::kDesktop, all_users, &folder, &rc)) {
    case FolderRead::kOk:
      break;
    case FolderRead::kKeyFailed:
      ReportShellFoldersKey(*this, rc);
      return false;
    case FolderRead::kValueFailed:
      Message(all_users ? "Can't Query HKLM Common Desktop Reg Key for shell location"
                        : "Can't Query HKCU Desktop Reg Key for shell location",
              kMbIconHand);
      return false;
  }
  const std::string description = cmd.ArgCount() >= 2 ? cmd.args[1] : "Shortcut to " + name;
  const std::string link = folder + "\\" + name + ".LNK";
  LogF("# create desktop link <%s> --> <%s>\n", target.c_str(), link.c_str());
  long result = MakeLink(*this, target, link, description);
  if (result != 0) {
    ShowAndLog(Format("ERROR CREATING DESKTOP LINK: 0x%x\n<%s> <%s> <%s>",
                      static_cast<unsigned>(result), target.c_str(), link.c_str(),
                      description.c_str()),
               kMbIconHand);
  }
  desktop_shortcuts.push_back(ShortcutRecord{name, cmd.HasOption('s')});
  return result == 0;
}

bool ScriptInterpreter::CmdRmprogmenu() {
  const bool all_users = UseAllUsers(*this);
  std::string folder;
  long rc = 0;
  if (ReadShellFolder(*this, ShellFolder::kPrograms, all_users, &folder, &rc) != FolderRead::kOk) {
    Log(all_users ? "can't access HKLM Common Programs registry value\n"
                  : "can't access HKCU Programs registry value\n");
    return true;
  }
  const std::string& menu_path = cmd.args[0];
  const std::string link = MenuLinkFile(folder, menu_path);
  LogF("# RMPROGMENU LINK <%s>\n", link.c_str());
  if (!platform.files.DeleteFile(link)) {
    uint32_t error = LastError();
    LogF("# Can't delete file <%s> error=%d\n", link.c_str(), static_cast<int>(error));
    Message(Format("NON-FATAL ERROR...\nCan't remove menu item...\n\"%s\" error=%d(0x%x)\n"
                   "(maybe it has been removed manually)",
                   menu_path.c_str(), static_cast<int>(error), error),
            kMbIconHand);
  }
  RemoveEmptiedGroup(*this, folder, link);
  return true;
}

bool ScriptInterpreter::CmdRmdesktop() {
  const bool all_users = UseAllUsers(*this);
  std::string folder;
  long rc = 0;
  if (ReadShellFolder(*this, ShellFolder::kDesktop, all_users, &folder, &rc) != FolderRead::kOk) {
    Log(all_users ? "can't access HKLM Common Desktop registry value\n"
                  : "can't access HKCU Common registry value\n");
    return false;
  }
  const std::string link = folder + "\\" + cmd.args[0] + ".LNK";
  LogF("# RMDESKTOP <%s>\n", link.c_str());
  if (!platform.files.DeleteFile(link)) {
    uint32_t error = LastError();
    ShowAndLog(Format("NON-FATAL ERROR %d[0x%x]\nCan't remove desktop item...\n\"%s\"\n"
                      "(maybe it has been removed manually)",
                      static_cast<int>(error), error, link.c_str()),
               kMbIconHand);
  }
  return true;
}

// The links this run recorded, newest first: those that are there go, with
// the groups they leave empty. A link that could not be made, or was
// removed since, is no error here: the clean-up asks nothing and reports
// nothing but its log lines.
void ScriptInterpreter::RemoveShortcutsOfThisRun() {
  // The Windows 95 family has no all-users folders: its links were made in
  // the current user's.
  const bool has_all_users = platform.environment.Version().platform_id != 1;
  for (auto it = menu_shortcuts.rbegin(); it != menu_shortcuts.rend(); ++it) {
    std::string folder;
    long rc = 0;
    if (ReadShellFolder(*this, ShellFolder::kPrograms, it->shared && has_all_users, &folder, &rc) !=
        FolderRead::kOk) {
      continue;
    }
    const std::string link = MenuLinkFile(folder, it->path);
    if (!platform.files.IsFile(link)) continue;
    LogF("TidyOnError: rmprogmenu<%s>\n", link.c_str());
    if (platform.files.DeleteFile(link)) RemoveEmptiedGroup(*this, folder, link);
  }
  for (auto it = desktop_shortcuts.rbegin(); it != desktop_shortcuts.rend(); ++it) {
    std::string folder;
    long rc = 0;
    if (ReadShellFolder(*this, ShellFolder::kDesktop, it->shared && has_all_users, &folder, &rc) !=
        FolderRead::kOk) {
      continue;
    }
    const std::string link = folder + "\\" + it->path + ".LNK";
    if (!platform.files.IsFile(link)) continue;
    LogF("TidyOnError: rmdesktop<%s>\n", link.c_str());
    platform.files.DeleteFile(link);
  }
  menu_shortcuts.clear();
  desktop_shortcuts.clear();
}

}  // namespace crx::interp
