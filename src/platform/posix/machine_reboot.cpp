// The simulated restart of the emulated machine (machine_reboot.h). All of
// it goes through the machine's platform, so names are resolved as the
// machine's programs see them (8.3 aliases included), share modes hold and
// programs started by a batch run on the machine.
#include "platform/posix/machine_reboot.h"

#include <cctype>
#include <map>
#include <memory>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"

namespace crx {

namespace {

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";
const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string ErrorText() {
  uint32_t code = LastError();
  return Format("error %d[0x%x]", static_cast<int>(code), code);
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e + 1 - b);
}

bool ReadWhole(FileSystem& files, const std::string& path, std::string* text) {
  std::unique_ptr<File> f =
      files.Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
  if (!f) return false;
  text->clear();
  char buffer[8192];
  for (;;) {
    size_t got = 0;
    if (!f->Read(buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
    text->append(buffer, got);
  }
}

bool WriteWhole(FileSystem& files, const std::string& path, const std::string& text) {
  std::unique_ptr<File> f = files.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  return f && f->Write(text.data(), text.size()) && f->Flush();
}

// "C:\..." (a drive letter, a colon and a separator).
bool IsDrivePath(const std::string& path) {
  return path.size() >= 3 && winpath::HasDriveLetter(path) && winpath::IsSeparator(path[2]);
}

// Removes a file or an empty folder, as a boot-time deletion does. A path
// that is not there counts as done.
bool BootDelete(FileSystem& files, const std::string& tag, const std::string& path,
                const RebootOutput& print) {
  uint32_t attributes = files.GetAttributes(path);
  if (attributes == kInvalidAttributes) {
    print(Format("%s: nothing to delete: %s is not there", tag.c_str(), path.c_str()));
    return true;
  }
  if (attributes & kAttrDirectory) {
    if (!files.RemoveFolder(path)) {
      print(Format("%s: cannot remove the folder %s (%s)", tag.c_str(), path.c_str(),
                   ErrorText().c_str()));
      return false;
    }
    print(Format("%s: removed the folder %s", tag.c_str(), path.c_str()));
    return true;
  }
  // The system removes what it was told to remove, read-only or not.
  if (attributes & kAttrReadOnly) files.SetAttributes(path, attributes & ~kAttrReadOnly);
  if (!files.DeleteFile(path)) {
    print(Format("%s: cannot delete %s (%s)", tag.c_str(), path.c_str(), ErrorText().c_str()));
    return false;
  }
  print(Format("%s: deleted %s", tag.c_str(), path.c_str()));
  return true;
}

// Moves `from` to `to`. An existing target is deleted first when `replace`
// allows it and makes the move fail otherwise. A missing source is skipped.
bool BootMove(FileSystem& files, const std::string& tag, const std::string& from,
              const std::string& to, bool replace, const RebootOutput& print) {
  if (!files.Exists(from)) {
    print(Format("%s: skipped the move of %s to %s: %s is not there", tag.c_str(), from.c_str(),
                 to.c_str(), from.c_str()));
    return false;
  }
  uint32_t target = files.GetAttributes(to);
  if (target != kInvalidAttributes) {
    if (!replace || (target & kAttrDirectory)) {
      print(Format("%s: cannot move %s to %s: the target exists", tag.c_str(), from.c_str(),
                   to.c_str()));
      return false;
    }
    if (target & kAttrReadOnly) files.SetAttributes(to, target & ~kAttrReadOnly);
    if (!files.DeleteFile(to)) {
      print(Format("%s: cannot move %s to %s: the target cannot be deleted (%s)", tag.c_str(),
                   from.c_str(), to.c_str(), ErrorText().c_str()));
      return false;
    }
  }
  if (!files.MoveFile(from, to)) {
    print(Format("%s: cannot move %s to %s (%s)", tag.c_str(), from.c_str(), to.c_str(),
                 ErrorText().c_str()));
    return false;
  }
  print(Format("%s: moved %s to %s", tag.c_str(), from.c_str(), to.c_str()));
  return true;
}

std::string WithoutNtPrefix(const std::string& path) {
  return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

// The batch runner's state: the current drive and each drive's current
// folder, as the command interpreter keeps them.
class BatchRunner {
 public:
  BatchRunner(Platform& platform, const std::string& batch, const RebootOutput& print)
      : platform_(platform), batch_(batch), print_(print) {
    const std::string folder = winpath::Parent(batch);
    drive_ = Letter(folder);
    folders_[drive_] = folder;
  }

  bool Run(const std::string& text) {
    bool ok = true;
    size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string raw = text.substr(pos, end - pos);
      pos = end + 1;
      ++number;
      const std::string line = Trim(raw);
      if (line.empty()) continue;
      Outcome outcome = Line(line);
      if (outcome == Outcome::kRefused) {
        print_(Format("logon: refused line %d of %s, not a line this batch runner knows: %s",
                      number, batch_.c_str(), line.c_str()));
        print_(Format("logon: %s stopped", batch_.c_str()));
        return false;
      }
      if (outcome == Outcome::kFailed) ok = false;
    }
    return ok;
  }

 private:
  enum class Outcome { kDone, kFailed, kRefused };

  static char Letter(const std::string& path) {
    return winpath::HasDriveLetter(path)
               ? static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))
               : 'C';
  }

  std::string Current() {
    auto it = folders_.find(drive_);
    return it != folders_.end() ? it->second : std::string(1, drive_) + ":\\";
  }

  // A path of a batch line made absolute against the batch's current
  // folders.
  std::string Full(const std::string& path) {
    std::string p = winpath::ToBackslashes(path);
    if (IsDrivePath(p) || winpath::IsUnc(p)) return winpath::Normalize(p);
    if (winpath::HasDriveLetter(p)) {
      char letter = Letter(p);
      auto it = folders_.find(letter);
      std::string base = it != folders_.end() ? it->second : std::string(1, letter) + ":\\";
      return winpath::Normalize(winpath::Join(base, p.substr(2)));
    }
    if (!p.empty() && p[0] == '\\') return winpath::Normalize(winpath::Root(Current()) + p.substr(1));
    return winpath::Normalize(winpath::Join(Current(), p));
  }

  // Splits arguments: blank-separated words, double quotes group. False for
  // an unmatched quote.
  static bool Words(const std::string& text, std::vector<std::string>* words) {
    words->clear();
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] == ' ' || text[i] == '\t') {
        ++i;
        continue;
      }
      std::string word;
      while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
        if (text[i] == '"') {
          size_t close = text.find('"', i + 1);
          if (close == std::string::npos) return false;
          word += text.substr(i + 1, close - i - 1);
          i = close + 1;
        } else {
          word += text[i++];
        }
      }
      words->push_back(word);
    }
    return true;
  }

  static bool Is(const std::string& word, const char* keyword) {
    return winpath::EqualsNoCase(word, keyword);
  }

  Outcome Line(const std::string& line) {
    // The command word ends at a blank or, for echo, at a dot.
    size_t word_end = line.find_first_of(" \t.");
    std::string command = line.substr(0, word_end);
    if (Is(command, "echo")) return Echo(word_end == std::string::npos ? "" : line.substr(word_end));
    if (line[0] == '"') return StartProgram(line);
    if (line.size() == 2 && line[1] == ':' && std::isalpha(static_cast<unsigned char>(line[0]))) {
      return SwitchDrive(Letter(line));
    }
    if (word_end != std::string::npos && line[word_end] == '.') return Outcome::kRefused;
    std::vector<std::string> words;
    if (!Words(line, &words) || words.empty()) return Outcome::kRefused;
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (Is(command, "pause") && args.empty()) {
      print_("Press any key to continue . . .");
      return Outcome::kDone;
    }
    if (Is(command, "cd") && args.size() == 1) return ChangeFolder(args[0]);
    if (Is(command, "rmdir") && args.size() == 1) return RemoveFolder(args[0]);
    if (Is(command, "del") && args.size() == 1) return Delete(args[0], true);
    if (Is(command, "if") && args.size() >= 3 && Is(args[0], "exist")) {
      const std::string condition = args[1];
      std::vector<std::string> then(args.begin() + 2, args.end());
      bool rename = Is(then[0], "rename") && then.size() == 3;
      bool del = Is(then[0], "del") && then.size() == 2;
      if (!rename && !del) return Outcome::kRefused;
      if (!platform_.files.Exists(Full(condition))) {
        print_(Format("logon: %s is not there; nothing to do", Full(condition).c_str()));
        return Outcome::kDone;
      }
      return rename ? Rename(then[1], then[2]) : Delete(then[1], false);
    }
    return Outcome::kRefused;
  }

  Outcome Echo(const std::string& rest) {
    // "echo.TEXT" and "echo TEXT" print TEXT; "echo off" and "echo on"
    // switch the echo of commands, which this runner does not show.
    if (rest.empty()) {
      print_("ECHO is off.");
      return Outcome::kDone;
    }
    const std::string text = rest.substr(1);
    if (rest[0] != '.' && (Is(Trim(text), "off") || Is(Trim(text), "on"))) return Outcome::kDone;
    print_(text);
    return Outcome::kDone;
  }

  Outcome SwitchDrive(char letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (platform_.files.GetDriveType(root) == DriveType::kNoRootDir) {
      print_(Format("logon: there is no drive %c:", letter));
      return Outcome::kFailed;
    }
    drive_ = letter;
    print_(Format("logon: drive %c:, folder %s", letter, Current().c_str()));
    return Outcome::kDone;
  }

  Outcome ChangeFolder(const std::string& arg) {
    const std::string folder = winpath::StripTrailingSeparator(Full(arg));
    if (!platform_.files.IsFolder(folder)) {
      print_(Format("logon: cd: there is no folder %s", folder.c_str()));
      return Outcome::kFailed;
    }
    // As in the command interpreter, cd changes the folder of the path's
    // drive without switching drives.
    folders_[Letter(folder)] = folder;
    print_(Format("logon: cd %s", folder.c_str()));
    return Outcome::kDone;
  }

  Outcome RemoveFolder(const std::string& arg) {
    const std::string folder = Full(arg);
    if (!platform_.files.RemoveFolder(folder)) {
      print_(Format("logon: cannot remove the folder %s (%s)", folder.c_str(), ErrorText().c_str()));
      return Outcome::kFailed;
    }
    print_(Format("logon: removed the folder %s", folder.c_str()));
    return Outcome::kDone;
  }

  Outcome Delete(const std::string& arg, bool missing_fails) {
    const std::string path = Full(arg);
    if (!platform_.files.IsFile(path)) {
      print_(Format("logon: could not find %s", path.c_str()));
      return missing_fails ? Outcome::kFailed : Outcome::kDone;
    }
    if (!platform_.files.DeleteFile(path)) {
      print_(Format("logon: cannot delete %s (%s)", path.c_str(), ErrorText().c_str()));
      return Outcome::kFailed;
    }
    print_(Format("logon: deleted %s", path.c_str()));
    return Outcome::kDone;
  }

  Outcome Rename(const std::string& arg, const std::string& name) {
    // The new name is a name in the file's own folder, never a path.
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
      print_(Format("logon: cannot rename to %s: the new name must not name a folder or drive",
                    name.c_str()));
      return Outcome::kFailed;
    }
    const std::string from = Full(arg);
    const std::string to = winpath::Join(winpath::Parent(from), name);
    if (!platform_.files.MoveFile(from, to)) {
      print_(Format("logon: cannot rename %s to %s (%s)", from.c_str(), name.c_str(),
                    ErrorText().c_str()));
      return Outcome::kFailed;
    }
    print_(Format("logon: renamed %s to %s", from.c_str(), name.c_str()));
    return Outcome::kDone;
  }

  Outcome StartProgram(const std::string& line) {
    if (line.find('"', 1) == std::string::npos) return Outcome::kRefused;
    StartOptions options;
    options.folder = Current();
    print_(Format("logon: start %s (in %s)", line.c_str(), options.folder.c_str()));
    std::unique_ptr<Process> process = platform_.processes.Start(line, options);
    if (!process) {
      print_(Format("logon: cannot start %s (%s)", line.c_str(), ErrorText().c_str()));
      return Outcome::kFailed;
    }
    uint32_t code = 0;
    if (process->Wait(kInfinite) != WaitResult::kDone || !process->ExitCode(&code)) {
      print_(Format("logon: lost track of %s", line.c_str()));
      return Outcome::kFailed;
    }
    print_(Format("logon: the program ended with exit code %u", code));
    return code == 0 ? Outcome::kDone : Outcome::kFailed;
  }

  Platform& platform_;
  const std::string batch_;
  const RebootOutput& print_;
  char drive_ = 'C';
  std::map<char, std::string> folders_;
};

}  // namespace

bool CarryOutPendingRenames(Platform& platform, const RebootOutput& print) {
  Registry& registry = platform.registry;
  ScopedRegKey key(registry);
  uint32_t type = 0;
  std::string data;
  if (registry.OpenKey(kHKeyLocalMachine, kSessionManagerKey, RegAccess::kAll, key.Out()) !=
          kErrorSuccess ||
      registry.QueryValue(key.Get(), kPendingValue, &type, &data) != kErrorSuccess) {
    print("boot: no pending file rename operations");
    return true;
  }
  if (type != kRegMultiSz) {
    print(Format("boot: %s is not a list of names (type %u); left as it is", kPendingValue, type));
    return false;
  }
  std::vector<std::string> names;
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    names.push_back(data.substr(pos, end - pos));
    pos = end + 1;
  }
  bool ok = true;
  // Pairs of source and target, up to an empty source (the list's end).
  for (size_t i = 0; i < names.size() && !names[i].empty(); i += 2) {
    const std::string source = WithoutNtPrefix(names[i]);
    std::string target = i + 1 < names.size() ? names[i + 1] : std::string();
    // "!" in front of the target: the move may replace an existing file.
    const bool replace = !target.empty() && target[0] == '!';
    if (replace) target.erase(0, 1);
    target = WithoutNtPrefix(target);
    if (target.empty()) {
      ok = BootDelete(platform.files, "boot", source, print) && ok;
    } else {
      ok = BootMove(platform.files, "boot", source, target, replace, print) && ok;
    }
  }
  long rc = registry.DeleteValue(key.Get(), kPendingValue);
  if (rc != kErrorSuccess) {
    print(Format("boot: cannot remove %s (error %ld)", kPendingValue, rc));
    return false;
  }
  print(Format("boot: removed %s", kPendingValue));
  return ok;
}

bool CarryOutWininit(Platform& platform, const RebootOutput& print) {
  FileSystem& files = platform.files;
  const std::string path = winpath::Join(platform.environment.WindowsFolder(), "wininit.ini");
  if (!files.IsFile(path)) {
    print(Format("wininit: there is no %s", path.c_str()));
    return true;
  }
  std::string text;
  if (!ReadWhole(files, path, &text)) {
    print(Format("wininit: cannot read %s (%s)", path.c_str(), ErrorText().c_str()));
    return false;
  }
  bool ok = true;
  bool found = false;
  bool in_rename = false;
  std::string kept;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string raw = text.substr(pos, end - pos);
    pos = end;
    const std::string line = Trim(raw);
    if (!line.empty() && line[0] == '[') {
      in_rename = winpath::EqualsNoCase(line, "[Rename]");
      found = found || in_rename;
    } else if (in_rename && !line.empty() && line[0] != ';') {
      // "target=source", from the top down.
      size_t eq = line.find('=');
      std::string target = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
      std::string source = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
      const bool del = winpath::EqualsNoCase(target, "NUL");
      if (!IsDrivePath(source) || (!del && !IsDrivePath(target))) {
        print(Format("wininit: passed over an entry that does not name full paths: %s",
                     line.c_str()));
        ok = false;
      } else if (del) {
        ok = BootDelete(files, "wininit", source, print) && ok;
      } else {
        ok = BootMove(files, "wininit", source, target, true, print) && ok;
      }
    }
    if (!in_rename) kept += raw;
  }
  if (!found) {
    print(Format("wininit: %s has no [Rename] section", path.c_str()));
    return ok;
  }
  if (Trim(kept).empty()) {
    if (!files.DeleteFile(path)) {
      print(Format("wininit: cannot delete %s (%s)", path.c_str(), ErrorText().c_str()));
      return false;
    }
    print(Format("wininit: deleted %s, which held only the [Rename] section", path.c_str()));
    return ok;
  }
  if (!WriteWhole(files, path, kept)) {
    print(Format("wininit: cannot rewrite %s (%s)", path.c_str(), ErrorText().c_str()));
    return false;
  }
  print(Format("wininit: removed the [Rename] section of %s", path.c_str()));
  return ok;
}

bool RunStartupBatch(Platform& platform, const std::string& batch_path, const RebootOutput& print) {
  print(Format("logon: run %s", batch_path.c_str()));
  std::string text;
  if (!ReadWhole(platform.files, batch_path, &text)) {
    print(Format("logon: cannot read %s (%s)", batch_path.c_str(), ErrorText().c_str()));
    return false;
  }
  BatchRunner runner(platform, batch_path, print);
  return runner.Run(text);
}

bool RunStartupBatches(Platform& platform, const RebootOutput& print) {
  Registry& registry = platform.registry;
  ScopedRegKey key(registry);
  std::string startup;
  if (registry.OpenKey(kHKeyCurrentUser, kShellFoldersKey, RegAccess::kRead, key.Out()) !=
          kErrorSuccess ||
      registry.GetString(key.Get(), "Startup", &startup) != kErrorSuccess || startup.empty()) {
    print("logon: the user has no Startup folder (Shell Folders value Startup)");
    return false;
  }
  // Only what is there when the logon begins runs now; batch files that
  // programs started from these write run at the next logon.
  std::vector<FolderEntry> entries;
  std::vector<std::string> batches;
  if (platform.files.ListFolder(winpath::Join(startup, "*.*"), &entries)) {
    for (const FolderEntry& e : entries) {
      const std::string ext = winpath::Extension(e.name);
      if ((e.attributes & kAttrDirectory) == 0 &&
          (winpath::EqualsNoCase(ext, ".bat") || winpath::EqualsNoCase(ext, ".cmd"))) {
        batches.push_back(winpath::Join(startup, e.name));
      }
    }
  }
  if (batches.empty()) {
    print(Format("logon: no batch files in %s", startup.c_str()));
    return true;
  }
  bool ok = true;
  for (const std::string& batch : batches) ok = RunStartupBatch(platform, batch, print) && ok;
  return ok;
}

bool RebootMachine(Platform& platform, const RebootOutput& print) {
  bool ok = CarryOutPendingRenames(platform, print);
  ok = CarryOutWininit(platform, print) && ok;
  ok = RunStartupBatches(platform, print) && ok;
  return ok;
}

}  // namespace crx
