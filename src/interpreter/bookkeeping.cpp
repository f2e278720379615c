// Finishing an installation (the uninstall folder, its script and the
// system's uninstall registration), removing folder trees and files, and
// the clean-up after a failed command.
//
// Tree removal is guarded: it never removes a drive root, the Windows or
// system folder, the Program Files folders, a profile folder or the folder
// of all profiles, nor any folder that holds one of them. A folder directly
// below a drive root is only removed when this run made it or when it holds
// an uninstall script of this system (an installation being removed). On a
// drive that maps the host computer's root folder (the emulated machine's
// and wine's Z:), only folders this run made are removed.

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A variable's readable value with surrounding blanks removed: a value that
// holds only blanks counts as not set (an empty value is stored as one
// protected blank and reads as " ").
std::string SetValueOf(ScriptInterpreter& k, const char* name) {
  return Trimmed(k.VariableText(name));
}

// ---- paths compared as Windows compares them --------------------------------

// A full path for comparisons: absolute, back-slashes, "." and ".."
// resolved, trailing dots and blanks of each element dropped (Windows
// ignores them: "C:\\WINDOWS.\\" is the Windows folder), no trailing
// separator.
std::string PathKey(FileSystem& files, const std::string& path) {
  if (Trimmed(path).empty()) return std::string();
  std::string full = winpath::Normalize(winpath::ToBackslashes(files.FullPath(path)));
  std::string root = winpath::Root(full);
  std::string out = root;
  for (std::string element : winpath::Elements(full)) {
    while (!element.empty() && (element.back() == '.' || element.back() == ' ')) element.pop_back();
    if (element.empty()) continue;
    if (!out.empty() && out.back() != '\\') out += '\\';
    out += element;
  }
  return winpath::StripTrailingSeparator(out);
}

// True when inner lies strictly below outer (both PathKey forms).
bool IsBelow(const std::string& inner, const std::string& outer) {
  if (outer.empty() || inner.size() <= outer.size()) return false;
  if (!winpath::EqualsNoCase(inner.substr(0, outer.size()), outer)) return false;
  return outer.back() == '\\' || inner[outer.size()] == '\\';
}

bool SamePath(const std::string& a, const std::string& b) {
  return !a.empty() && winpath::EqualsNoCase(a, b);
}

bool CreatedThisRun(ScriptInterpreter& k, const std::string& key) {
  for (const std::string& made : k.created_folders) {
    if (SamePath(PathKey(k.platform.files, made), key)) return true;
  }
  return false;
}

struct ProtectedFolder {
  std::string path;  // PathKey form
  std::string what;  // "the Windows folder"
};

std::vector<ProtectedFolder> ProtectedFolders(ScriptInterpreter& k) {
  FileSystem& files = k.platform.files;
  Environment& env = k.platform.environment;
  std::vector<ProtectedFolder> out;
  auto add = [&](const std::string& path, const char* what) {
    std::string key = PathKey(files, path);
    if (!key.empty() && winpath::IsAbsolute(key)) out.push_back({key, what});
  };
  auto add_env = [&](const char* name, const char* what) {
    std::string value;
    if (env.Get(name, &value)) add(value, what);
  };
  add(env.WindowsFolder(), "the Windows folder");
  add(env.SystemFolder(), "the system folder");
  RegistryKey version(k.platform.registry, kHKeyLocalMachine);
  if (version.Open("SOFTWARE\\Microsoft\\Windows\\CurrentVersion")) {
    static const std::pair<const char*, const char*> kValues[] = {
        {"ProgramFilesDir", "the Program Files folder"},
        {"ProgramFilesDir (x86)", "the Program Files (x86) folder"},
        {"ProgramW6432Dir", "the Program Files folder"},
        {"CommonFilesDir", "the Common Files folder"},
        {"CommonFilesDir (x86)", "the Common Files (x86) folder"},
    };
    for (const auto& [name, what] : kValues) {
      std::string value;
      if (version.GetValue(name, &value)) add(value, what);
    }
  }
  add_env("ProgramFiles", "the Program Files folder");
  add_env("ProgramFiles(x86)", "the Program Files (x86) folder");
  add_env("ProgramW6432", "the Program Files folder");
  add_env("CommonProgramFiles", "the Common Files folder");
  add_env("CommonProgramFiles(x86)", "the Common Files (x86) folder");
  std::string profile;
  if (env.Get("USERPROFILE", &profile)) {
    add(profile, "the user's profile folder");
    std::string full = PathKey(files, profile);
    if (!winpath::Elements(full).empty())
      add(winpath::Parent(full), "the folder of the users' profiles");
  }
  add_env("ALLUSERSPROFILE", "the profile folder of all users");
  add_env("PUBLIC", "the public profile folder");
  std::string drive, home_path;
  if (env.Get("HOMEDRIVE", &drive) && env.Get("HOMEPATH", &home_path)) {
    add(drive + home_path, "the user's home folder");
  }
  add(env.TempPath(), "the temporary folder");
  // The shell's own folders (Desktop, Start Menu, Programs, My Documents, of
  // the user and of all users).
  for (RegKey hive : {kHKeyCurrentUser, kHKeyLocalMachine}) {
    RegistryKey shell(k.platform.registry, hive);
    if (!shell.Open("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"))
      continue;
    std::string name, value;
    while (shell.NextValue(&name, &value)) {
      if (!name.empty()) add(value, Format("the %s folder", name.c_str()).c_str());
    }
  }
  return out;
}

// The letter of a drive whose root is the host computer's root folder, or
// 0. The emulated machine names its host folder in CRX_MACHINE_SESSION and
// wine its prefix in WINEPREFIX; a drive on which that host path exists as
// a folder is the host's root.
char HostRootDrive(ScriptInterpreter& k) {
  for (const char* name : {"CRX_MACHINE_SESSION", "WINEPREFIX"}) {
    std::string host;
    if (!k.platform.environment.Get(name, &host) || host.size() < 2 || host[0] != '/') continue;
    std::string below = winpath::StripTrailingSeparator(winpath::ToBackslashes(host.substr(1)));
    uint32_t drives = k.platform.files.LogicalDrives();
    for (int i = 0; i < 26; ++i) {
      if (!(drives & (1u << i))) continue;
      std::string candidate = Format("%c:\\%s", 'A' + i, below.c_str());
      if (k.platform.files.IsFolder(candidate)) return static_cast<char>('A' + i);
    }
  }
  return 0;
}

// Why a folder must not be removed as a tree; empty when it may be.
std::string RemovalRefusal(ScriptInterpreter& k, const std::string& folder) {
  FileSystem& files = k.platform.files;
  std::string key = PathKey(files, folder);
  if (key.empty()) return "it names no folder";
  std::vector<std::string> elements = winpath::Elements(key);
  if (elements.empty()) return "it is the root of a drive";
  // Short (8.3) names reach the same folders under other spellings.
  std::string short_key;
  if (files.ShortPath(key, &short_key)) short_key = PathKey(files, short_key);
  std::vector<ProtectedFolder> protected_folders = ProtectedFolders(k);
  std::vector<std::string> short_forms;
  for (const ProtectedFolder& p : protected_folders) {
    std::string short_p;
    if (files.ShortPath(p.path, &short_p)) short_p = PathKey(files, short_p);
    short_forms.push_back(short_p);
  }
  // Being one of them is the better reason than holding another.
  for (size_t i = 0; i < protected_folders.size(); ++i) {
    if (SamePath(key, protected_folders[i].path) ||
        (!short_key.empty() && SamePath(short_key, short_forms[i]))) {
      return "it is " + protected_folders[i].what;
    }
  }
  for (size_t i = 0; i < protected_folders.size(); ++i) {
    if (IsBelow(protected_folders[i].path, key) ||
        (!short_key.empty() && IsBelow(short_forms[i], short_key))) {
      return "it holds " + protected_folders[i].what;
    }
  }
  bool created = CreatedThisRun(k, key);
  char host_root = HostRootDrive(k);
  if (host_root != 0 && winpath::HasDriveLetter(key) &&
      winpath::ToUpperAscii(key.substr(0, 1))[0] == host_root && !created) {
    return Format(
        "drive %c: is the host computer's root folder and this installation did not "
        "make the folder",
        host_root);
  }
  if (elements.size() < 2 && !created &&
      !files.IsFile(winpath::Join(key, "uninstall\\uninstall.txt"))) {
    return "it lies directly below the root of a drive and this installation did not make it";
  }
  return std::string();
}

// Removes the contents of folder and then folder itself; what cannot be
// removed now goes to the pending lists. False when the folder cannot be
// listed (error in *error); the folder is then left alone.
bool RemoveFolderTree(ScriptInterpreter& k, const std::string& folder, uint32_t* error) {
  FileSystem& files = k.platform.files;
  std::vector<FolderEntry> entries;
  if (!files.ListFolder(winpath::Join(folder, "*.*"), &entries)) {
    uint32_t code = LastError();
    // Nothing matching in a folder that exists: it is empty.
    if (code != kErrorFileNotFound || !files.IsFolder(folder)) {
      *error = code;
      return false;
    }
    entries.clear();
  }
  for (const FolderEntry& e : entries) {
    std::string path = winpath::Join(folder, e.name);
    if (e.attributes & kAttrReparsePoint) {
      // A link or junction goes itself; what it points at is not part of
      // the tree.
      if (!files.DeleteFile(path) && !files.RemoveFolder(path)) {
        (e.attributes & kAttrDirectory ? k.pending_folders : k.pending_files).push_back(path);
      }
    } else if (e.attributes & kAttrDirectory) {
      uint32_t ignored = 0;
      RemoveFolderTree(k, path, &ignored);
    } else {
      // Installed files are often read-only (copied from a CD); the
      // attribute must not keep them.
      if (e.attributes & kAttrReadOnly) files.SetAttributes(path, e.attributes & ~kAttrReadOnly);
      if (!files.DeleteFile(path)) k.pending_files.push_back(path);
    }
  }
  k.LogF("# RMDIR <%s>\n", folder.c_str());
  if (!files.RemoveFolder(folder)) k.pending_folders.push_back(folder);
  return true;
}

}  // namespace

bool ScriptInterpreter::FinalizeInstallation() {
  if (uninstalling) return true;
  // The progress display of this step (interactive runs only); every exit
  // closes it.
  struct ProgressCloser {
    ScriptInterpreter& k;
    ~ProgressCloser() { k.CloseProgress(0); }
  } progress_closer{*this};
  if (OpenProgress("finalizing installation", 4)) {
    ProgressStep("processing...");
    host.Pause(platform.clock, 1000);
  }
  Log("# create uninstall script...\n");
  SetStatus("create uninstall script...");
  if (VariableText("NO_UNINSTALL") == "TRUE" || update_mode) return true;
  if (ReportMissingConvention(true)) return false;
  FileSystem& files = platform.files;
  const std::string home = VariableText("HOME");
  const std::string vendor = VariableText("VENDOR");
  const std::string app = VariableText("APP");
  const std::string ver = VariableText("VER");
  const std::string uninstall_folder = Format("%s\\uninstall", home.c_str());
  ProgressStep("processing...");

  // The uninstall script's lines are expanded when it runs, and a '$'
  // cannot be written so that it stays one: C:\Apps\My$Tools would
  // become C:\Apps\My, and its rmtree and rmregtree lines would remove
  // another folder or another product's keys. No script is better than
  // that one.
  for (const char* name : {"HOME", "VENDOR", "APP"}) {
    const std::string value = VariableText(name);
    if (value.find('$') == std::string::npos) continue;
    LogF("# %s <%s> holds a '$': no uninstall script\n", name, value.c_str());
    Message(Format("ERROR\nThe variable %s holds a '$'\n<%s>\nAn UNINSTALL-SCRIPT would name "
                   "something else when it runs.\nNo UNINSTALL-SCRIPT has been generated.",
                   name, value.c_str()),
            kMbIconHand);
    return false;
  }

  // The uninstall starter, by the copy command, which logs its command
  // record as in a script, so its trace lines in the log belong to a
  // command; its result is not checked (the starter may be missing from a
  // package).
  ParsedCommand saved = cmd;
  cmd.Clear();
  cmd.command = "copy";
  cmd.args[0] = "unsetup.exe";
  cmd.args[1] = Format("%s\\uninstall\\unsetup.exe", home.c_str());
  LogCommandRecord();
  CmdCopy();
  cmd = saved;

  if (!files.IsFolder(uninstall_folder)) {
    // Make the folder and any missing one on its way, remembering each.
    std::vector<std::string> missing;
    for (std::string f = uninstall_folder; !f.empty() && !files.Exists(f); f = winpath::Parent(f)) {
      if (!winpath::Elements(f).size()) break;
      missing.push_back(f);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (files.CreateFolder(*it)) created_folders.push_back(*it);
    }
    if (!files.IsFolder(uninstall_folder)) {
      Message("ERROR\nFailed to create UNISTALL directory...\n$HOME is probably set incorrectly.",
              kMbIconHand);
      return false;
    }
  }

  const std::string pwd = VariableText("PWD");
  if (Trimmed(pwd).empty() || !files.SetCurrentFolder(pwd)) {
    Message("ERROR\nFailed to cd to original directory...\n", kMbIconHand);
    return false;
  }

  const std::string interpreter_copy = Format("%s\\uninstall\\Kestrova.exe", home.c_str());
  if (!files.CopyFile("Kestrova.exe", interpreter_copy, false)) {
    uint32_t error = LastError();
    Message(Format("ERROR\nFailed to copy UNISTALL exe...\n$HOME may be set incorrectly.\n$HOME = "
                   "<%s>\nDESTINATION <%s>\n(last error = %d)",
                   home.c_str(), interpreter_copy.c_str(), static_cast<int>(error)),
            kMbIconHand);
    return false;
  }
  copied_files.push_back(interpreter_copy);

  ProgressStep("processing...");
  const std::string script_path = Format("%s\\uninstall\\uninstall.txt", home.c_str());
  std::unique_ptr<File> script =
      files.Open(script_path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  if (!script) {
    Message("ERROR\nFailed to create UNISTALL script...\n$HOME is probably set incorrectly.",
            kMbIconHand);
    return false;
  }
  copied_files.push_back(script_path);
  LogF("# write uninstall script \"%s\"\n", script_path.c_str());

  // Confirmation first, then what undoes registrations while their files
  // still exist, shortcuts, the registry entries, and the folder last.
  std::string text = "background 255:65:20\n";
  AppendFormat(&text, "banner -c \"Uninstall %s\" \"Arial\"  240   255:255:255\n", app.c_str());
  AppendFormat(&text, "title \"UNINSTALL %s\"\n", app.c_str());
  text += "\nuninstalling\n\n";
  AppendFormat(&text, "set VENDOR \"%s\"\n", vendor.c_str());
  AppendFormat(&text, "set APP \"%s\"\n", app.c_str());
  AppendFormat(&text, "set VER \"%s\"\n\n", ver.c_str());
  AppendFormat(&text, "set HOME \"%s\"\n\n", home.c_str());
  AppendFormat(
      &text, extended_confirmation ? "\noktouninstallex \"%s\"\n\n" : "\noktouninstall \"%s\"\n\n",
      app.c_str());
  for (const Pair& alias : aliases) {
    AppendFormat(&text, "_alias \"%s\" \"%s\"\n", alias.name.c_str(), alias.value.c_str());
  }
  if (!aliases.empty()) text += "\n";
  for (const std::string& line : on_uninstall) AppendFormat(&text, "%s\n", line.c_str());
  for (const std::string& entry : data_sources) AppendFormat(&text, "odbc %s\n", entry.c_str());
  for (const std::string& entry : associations)
    AppendFormat(&text, "associate -u %s\n", entry.c_str());
  for (const std::string& server : servers)
    AppendFormat(&text, "unregdll \"%s\"\n", server.c_str());
  for (const ShortcutRecord& s : menu_shortcuts) {
    AppendFormat(&text, s.shared ? "rmprogmenu -s \"%s\"\n" : "rmprogmenu \"%s\"\n",
                 s.path.c_str());
  }
  ProgressStep("processing...");
  for (const ShortcutRecord& s : desktop_shortcuts) {
    AppendFormat(&text, s.shared ? "rmdesktop -s \"%s\"\n" : "rmdesktop \"%s\"\n", s.path.c_str());
  }
  AppendFormat(&text, "\nrmkey -lmS \"%s\\%s\"\n", kUninstallKey, app.c_str());
  AppendFormat(&text, "rmregtree -lm \"SOFTWARE\\%s\\%s\"\n", vendor.c_str(), app.c_str());
  AppendFormat(&text, "\nrmtree \"%s\"\n\n", home.c_str());
  text += "banner -c \"... completed\" \"Arial\"  240   255:255:255\n";
  bool written = script->Write(text.data(), text.size());
  script.reset();
  if (!written) {
    // A full disk leaves a cut script that would undo only part of the
    // installation: say so instead of registering it.
    Message("ERROR\nFailed to create UNISTALL script...\n$HOME is probably set incorrectly.",
            kMbIconHand);
    return false;
  }

  CloseProgress(0);
  bool ok = RegisterUninstall();
  Log("# uninstall script generated\n");
  FlushLog();
  return ok;
}

bool ScriptInterpreter::RegisterUninstall() {
  const std::string app = VariableText("APP");
  if (Trimmed(app).empty()) return false;
  const std::string key_path = Format("%s\\%s", kUninstallKey, app.c_str());
  RegistryKey key(platform.registry, kHKeyLocalMachine, true);
  if (!key.Open(key_path)) {
    long rc = key.LastResult();
    Message(Format("FAILED TO OPEN/CREATE REGISTRY PATH 0x%lx[%ld]\n%s",
                   static_cast<unsigned long>(rc), rc, key_path.c_str()),
            kMbOk);
    return false;
  }
  const std::string home = VariableText("HOME");
  if (Trimmed(home).empty()) return false;
  // The starter's path is quoted only when it needs to be; the folder it is
  // given always is.
  bool blank = home.find_first_of(" \t") != std::string::npos;
  std::string command =
      Format(blank ? "\"%s\\uninstall\\unsetup.exe\"" : "%s\\uninstall\\unsetup.exe", home.c_str());
  AppendFormat(&command, " \"%s\\uninstall\"", home.c_str());
  LogF("# set uninstall cmd <%s>\n", command.c_str());
  LogF("# ... uninstal reg key <%s>\n", "UninstallString");
  if (!key.SetText("UninstallString", command)) {
    long rc = key.LastResult();
    Message(Format("ERROR %ld[0x%lx]\nFailed to set UNINSTALL command in registry", rc,
                   static_cast<unsigned long>(rc)),
            kMbOk);
    return false;
  }
  if (!key.SetText("DisplayName", app)) {
    long rc = key.LastResult();
    Message(Format("ERROR %ld[0x%lx]\nFailed to set UNINSTALL display name in registry", rc,
                   static_cast<unsigned long>(rc)),
            kMbOk);
    return false;
  }
  return true;
}

bool ScriptInterpreter::RemoveTree(const std::string& folder) {
  std::string why = RemovalRefusal(*this, folder);
  if (!why.empty()) {
    LogF("# RMTREE refused <%s>: %s\n", folder.c_str(), why.c_str());
    Message(
        Format("ERROR\ncan't remove directory tree\n\n\"%s\"\n\nThe folder is never removed: %s.",
               folder.c_str(), why.c_str()),
        kMbIconHand);
    return false;
  }
  uint32_t error = 0;
  if (!RemoveFolderTree(*this, folder, &error)) {
    Message(
        Format("ERROR\ncan't remove directory tree %u[0x%x]\n\n\"%s\"\n\nThe application you are "
               "trying to remove may be in use.\nClose all running programs and try again.",
               error, error, folder.c_str()),
        kMbIconHand);
    return false;
  }
  return true;
}

bool ScriptInterpreter::RemoveFile(const std::string& path) {
  FileSystem& files = platform.files;
  uint32_t attributes = files.GetAttributes(path);
  if (attributes != kInvalidAttributes && (attributes & kAttrReadOnly)) {
    files.SetAttributes(path, attributes & ~kAttrReadOnly);
  }
  LogF("# RMFILE <%s>\n", path.c_str());
  if (files.DeleteFile(path)) return true;
  uint32_t error = LastError();
  if (error == kErrorSharingViolation || error == kErrorAccessDenied || files.Exists(path)) {
    return DeleteOnBoot(path);
  }
  LogF("ERROR FROM RMFILE 0x%x(%d)\n", static_cast<unsigned>(-1), -1);
  return false;
}

void ScriptInterpreter::CleanUpAfterFailure() {
  struct Flag {
    bool& flag;
    explicit Flag(bool& f) : flag(f) { flag = true; }
    ~Flag() { flag = false; }
  } running(cleaning_up);
  FileSystem& files = platform.files;

  // Links and associations the run made would point at what goes next.
  RemoveShortcutsOfThisRun();
  RemoveAssociationsOfThisRun();

  const std::string home = SetValueOf(*this, "HOME");
  if (!home.empty() && files.Exists(home)) {
    const std::string home_key = PathKey(files, home);
    if (CreatedThisRun(*this, home_key)) {
      Message(Format("REMOVE DIRECTORY TREE...\n'%s'...", home.c_str()), kMbOk);
      LogF("TidyOnError: RemoveTree<%s>\n", home.c_str());
      RemoveTree(home);
    } else {
      // The folder was there before: it may hold anything of the user's.
      // Only what this run put there goes.
      Message(Format("REMOVE INSTALLED FILES...\n'%s'...\n\nThe folder was there before the "
                     "installation: only the files it copied are removed.",
                     home.c_str()),
              kMbOk);
      LogF("TidyOnError: <%s> existed before this run: removing only what this run made\n",
           home.c_str());
      for (auto it = copied_files.rbegin(); it != copied_files.rend(); ++it) {
        if (!IsBelow(PathKey(files, *it), home_key) || !files.IsFile(*it)) continue;
        LogF("TidyOnError: RemoveFile<%s>\n", it->c_str());
        RemoveFile(*it);
      }
      // Folders this run made inside it, deepest first; one that still
      // holds something (not this run's) stays.
      std::vector<std::string> made;
      for (const std::string& f : created_folders) {
        if (IsBelow(PathKey(files, f), home_key)) made.push_back(PathKey(files, f));
      }
      std::stable_sort(made.begin(), made.end(), [](const std::string& a, const std::string& b) {
        return winpath::Elements(a).size() > winpath::Elements(b).size();
      });
      for (const std::string& f : made) {
        LogF("TidyOnError: RemoveFolder<%s>\n", f.c_str());
        files.RemoveFolder(f);
      }
      LogF("TidyOnError: kept everything else in <%s>\n", home.c_str());
    }
  }
  // Folders this run made on the way to HOME (its parents) are removed
  // when nothing else is in them, newest first.
  if (!home.empty()) {
    const std::string home_key = PathKey(files, home);
    for (auto it = created_folders.rbegin(); it != created_folders.rend(); ++it) {
      const std::string key = PathKey(files, *it);
      if (!IsBelow(home_key, key) || key == home_key || !files.IsFolder(*it)) continue;
      if (files.RemoveFolder(*it)) LogF("TidyOnError: RemoveFolder<%s>\n", it->c_str());
    }
  }

  const std::string vendor = SetValueOf(*this, "VENDOR");
  const std::string app = SetValueOf(*this, "APP");
  const std::string ver = SetValueOf(*this, "VER");
  if (!vendor.empty() && !app.empty() && !ver.empty()) {
    // The raw values name the key, as the installation wrote it.
    const std::string key = Format("SOFTWARE\\%s\\%s\\%s", VariableText("VENDOR").c_str(),
                                   VariableText("APP").c_str(), VariableText("VER").c_str());
    Message(Format("REMOVE REGISTRY TREE...\n'HKEY_LOCAL_MACHINE\\%s'", key.c_str()), kMbOk);
    LogF("TidyOnError: rmregtree<%s>\n", key.c_str());
    RemoveRegistryTree(kHKeyLocalMachine, key);
  }
  // Keys this run created elsewhere (the vendor's and application's keys
  // above the version key, keys of other paths) go too, newest first, as
  // long as nothing else was put below them.
  for (size_t i = created_keys.size(); i-- > 0;) {
    const CreatedKey& made = created_keys[i];
    RegistryKey probe(platform.registry, made.hive);
    if (!probe.Open(made.path)) continue;
    std::string sub;
    const bool has_subkeys = probe.NextSubkey(&sub);
    probe.Close();
    if (has_subkeys) continue;
    const size_t cut = made.path.rfind('\\');
    RegistryKey parent(platform.registry, made.hive);
    if (!parent.Open(cut == std::string::npos ? std::string() : made.path.substr(0, cut))) continue;
    if (parent.DeleteSubkey(cut == std::string::npos ? made.path : made.path.substr(cut + 1))) {
      LogF("TidyOnError: rmkey<%s>\n", made.path.c_str());
    }
  }
  created_keys.clear();
  reboot_needed = false;
}

}  // namespace crx::interp
