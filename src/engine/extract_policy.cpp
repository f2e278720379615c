#include "engine/extract_policy.h"

#include "common/format.h"
#include "common/winpath.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx {

namespace {

// The hooks used when the engine has no progress window.
PolicyHooks& NoHooks() {
  static PolicyHooks hooks;
  return hooks;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The stored name without its root: "\\\\server\\share\\a.txt" loses the
// two leading separators, "C:\\src\\a.txt" its drive and separator, "C:a"
// its drive, "\\a" its separator.
std::string RemoveNameRoot(const std::string& name) {
  const size_t n = name.size();
  if (n >= 2 && ((name[0] == '\\' && name[1] == '\\') || (name[0] == '/' && name[1] == '/'))) {
    return name.substr(2);
  }
  if (n >= 3 && IsLetter(name[0]) && name[1] == ':' && IsSeparator(name[2])) {
    return name.substr(3);
  }
  if (n >= 2 && IsLetter(name[0]) && name[1] == ':') return name.substr(2);
  if (n >= 1 && IsSeparator(name[0])) return name.substr(1);
  return name;
}

// An element that names a parent folder: "..", and the forms Windows reads
// the same way once it drops trailing dots and blanks ("...", ".. ").
// Names such as "a..b.txt" or "..x" are ordinary names.
bool ClimbsUp(const std::string& element) {
  int dots = 0;
  for (char c : element) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool AnyElementClimbsUp(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (ClimbsUp(path.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace

ExtractPolicy::ExtractPolicy(Platform& platform, EngineLog& log, UserInterface& ui)
    : platform_(platform), log_(log), ui_(ui), hooks_(&NoHooks()) {}

void ExtractPolicy::set_hooks(PolicyHooks* hooks) { hooks_ = hooks ? hooks : &NoHooks(); }

void ExtractPolicy::Report(const std::string& message) {
  log_.ReportError(message);
  log_.LogLine("%s\n", message.c_str());
}

// ---------------------------------------------------------------------------
// Output path

bool ExtractPolicy::InsideOutputFolder(const std::string& name, const std::string& rest,
                                       const std::string& full) {
  FileSystem& fs = platform_.files;
  bool inside = !AnyElementClimbsUp(rest);
  if (inside) {
    // Compare the paths as the system resolves them, so that whatever the
    // system makes of the name, the file stays below the folder.
    std::string folder =
        winpath::StripTrailingSeparator(winpath::ToBackslashes(fs.FullPath(output_folder_)));
    std::string target =
        winpath::StripTrailingSeparator(winpath::ToBackslashes(fs.FullPath(full)));
    inside = !folder.empty() && target.size() > folder.size() &&
             winpath::EqualsNoCase(target.substr(0, folder.size()), folder) &&
             (folder.back() == '\\' || target[folder.size()] == '\\');
  }
  if (!inside) {
    Report(Format("ERROR\nFile name on archive points outside the output folder...\n'%s'\n"
                  "This file cannot be extracted",
                  name.c_str()));
  }
  return inside;
}

bool ExtractPolicy::OutputPath(const std::string& name, bool viewing, std::string* path) {
  if (viewing) {
    std::string last = winpath::LastElement(name);
    if (last.empty() || ClimbsUp(last)) {
      Report(Format("ERROR\nFile name on archive points outside the output folder...\n'%s'\n"
                    "This file cannot be extracted",
                    name.c_str()));
      return false;
    }
    *path = TempMemberPath(platform_, last);
    return true;
  }
  if (output_folder_.empty()) {
    // An absolute stored name goes back where it came from; a relative one
    // lands below the current folder.
    *path = name;
    return true;
  }
  std::string rest = flatten_ ? winpath::LastElement(name) : RemoveNameRoot(name);
  std::string full = output_folder_.back() == '\\'
                         ? Format("%s%s", output_folder_.c_str(), rest.c_str())
                         : Format("%s\\%s", output_folder_.c_str(), rest.c_str());
  if (!InsideOutputFolder(name, rest, full)) return false;
  *path = full;
  return true;
}

// ---------------------------------------------------------------------------
// Replacing existing files

bool ExtractPolicy::NotOlder(const std::string& path, FileTime member_time) {
  FileTime existing = 0;
  // A file whose time cannot be read is kept: nothing says it is older.
  if (!platform_.files.GetLastWriteTime(path, &existing)) return false;
  return CompareFileTime(member_time, existing) >= 0;
}

bool ExtractPolicy::OkToReplaceFile(const std::string& path, FileTime member_time) {
  FileSystem& fs = platform_.files;
  log_.LogLine("OkToReplaceFile MODE %d\n", static_cast<int>(replace_mode_));
  if (setup_ || replace_mode_ == kReplaceAlways) return true;
  uint32_t attributes = fs.GetAttributes(path);
  if (attributes == kInvalidAttributes) return true;  // nothing there: create it
  if (replace_mode_ == kReplaceNever) return false;
  if ((attributes & kAttrDirectory) != 0) {
    Report(Format("ERROR\nFilename on archive clashes with a Foldername on your system...\n'%s'\n"
                  "This file cannot be extracted",
                  path.c_str()));
    return false;
  }
  if (replace_mode_ == kReplaceIfNewer) return NotOlder(path, member_time);

  // Prompt (and any mode value the caller made up: asking is the safe way).
  hooks_->ProcessMessages();
  if (hooks_->UserQuit()) return false;
  hooks_->Animate(false);
  int answer = kIdReplaceYes;
  if (!SilentMode()) {
    // Give the feedback window time to settle before the dialog covers it.
    platform_.clock.Sleep(200);
    answer = ui_.ReplaceExistingFile(path);
    if (answer == kDialogUnavailable) {
      int box = ui_.MessageBox(Format("DO YOU WANT TO EXTRAXCT THE FILE\n%s?", path.c_str()),
                               caption_, kMbYesNo | kMbTopmost);
      answer = box == kIdYes ? kIdReplaceYes : box == kIdNo ? kIdReplaceNo : box;
    }
  }
  hooks_->Animate(true);
  log_.LogLine("result of file replace dlg = %d\n", answer);

  switch (answer) {
    case kIdReplaceYes:
      return true;
    case kIdReplaceNo:
      return false;
    case kIdReplaceNoToAll:
      replace_mode_ = kReplaceNever;
      return false;
    case kIdReplaceYesToAll:
      replace_mode_ = kReplaceAlways;
      return true;
    case kIdReplaceIfNewer:
      return NotOlder(path, member_time);
    case kIdReplaceAllIfNewer:
      replace_mode_ = kReplaceIfNewer;
      return NotOlder(path, member_time);
    default:
      Report("ERROR\nunknown return from dialog\nwill not overwrite");
      return false;
  }
}

// ---------------------------------------------------------------------------
// Read-only files

bool ExtractPolicy::ReadOnlyAllows(const std::string& path) {
  FileSystem& fs = platform_.files;
  uint32_t attributes = fs.GetAttributes(path);
  if (attributes == kInvalidAttributes) return true;
  log_.LogLine("file is writeable(%x) %d?...", attributes, overwrite_read_only_ ? 1 : 0);
  if ((attributes & kAttrReadOnly) == 0) return true;
  if (!overwrite_read_only_) return false;
  log_.LogLine("change RO mode of file <%s>\n", path.c_str());
  // Keep hidden, system and archive; the folder bit is not settable.
  uint32_t kept = attributes & ~(kAttrReadOnly | kAttrDirectory);
  // A file that stays read-only is refused like any other read-only file.
  return fs.SetAttributes(path, kept != 0 ? kept : kAttrNormal);
}

// ---------------------------------------------------------------------------
// Free space

std::string ExtractPolicy::RootDirectoryFromPath(const std::string& path) {
  FileSystem& fs = platform_.files;
  if (path.empty()) {
    log_.LogText("RootDirectoryFromPath - null pointer\n");
    return std::string();
  }
  size_t length = 0;
  if (IsSeparator(path[0])) {
    length = 1;
  } else if (path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    length = 3;
  }
  if (length == 0) return fs.CurrentFolder();
  std::string root = path.substr(0, length);
  if (!fs.IsFolder(root)) return fs.CurrentFolder();
  return root;
}

bool ExtractPolicy::MeasureFreeSpace(const std::string& path) {
  std::string root = RootDirectoryFromPath(path);
  FreeSpace space;
  if (!platform_.files.GetFreeSpace(root, &space)) {
    uint32_t code = LastError();
    Report(Format("ERROR: can't determin free disk space on your system %d[0x%x]\n"
                  "dir = <%s>\nroot = <%s>",
                  static_cast<int>(code), code, root.c_str(), path.c_str()));
    free_space_ = 0;
    return false;
  }
  free_space_ = space.free_to_caller;
  media_size_ = space.total;
  return true;
}

SpaceAnswer ExtractPolicy::CheckFreeSpace(const std::string& root, uint32_t size,
                                          const std::string& path) {
  MeasureFreeSpace(root);  // a failure was reported and leaves 0 bytes free
  // Even an empty file needs room for its folder entry.
  const uint64_t needed = static_cast<uint64_t>(size) + 1024;
  // Member sizes are 32-bit numbers and the texts print them as such.
  const int needed_text = static_cast<int>(needed);
  const std::string free_text =
      Format("%llu", static_cast<unsigned long long>(free_space_));
  log_.LogLine("(disk space needed by file: %d, available: %s)\n", needed_text,
               free_text.c_str());
  if (free_space_ >= needed) return SpaceAnswer::kEnough;

  log_.LogLine("(Not Enough Space, got %s[%x,%x] needed %d)\n", free_text.c_str(),
               static_cast<uint32_t>(free_space_), static_cast<uint32_t>(free_space_ >> 32),
               needed_text);
  int answer = ui_.MessageBox(
      Format("WARNING: You do not have enough free disk space to extract the current file.\n\n"
             "%s\n\nYou have %s bytes free on your system, but the space required is %d bytes.\n"
             "You may continue and try and extract subsequent files, or you can abort...\n\n"
             "DO YOU WANT TO CONTINUE?",
             path.c_str(), free_text.c_str(), needed_text),
      caption_, kMbYesNo | kMbTopmost);
  if (answer == kIdYes) return SpaceAnswer::kSkip;
  log_.LogText("(abort)\n");
  return SpaceAnswer::kAbort;
}

// ---------------------------------------------------------------------------
// Folders

bool ExtractPolicy::CreateFolders(std::string* path) {
  FileSystem& fs = platform_.files;
  std::string& p = *path;
  if (p.empty() || fs.IsFolder(p)) {
    p = winpath::ToBackslashes(p);
    return true;
  }

  // A stored drive the machine lacks: the first drive it has, from C: on.
  if (p.size() >= 2 && p[1] == ':' && !fs.IsFolder(std::string(1, p[0]) + ":\\")) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      if (fs.IsFolder(std::string(1, letter) + ":\\")) {
        p[0] = letter;
        log_.LogLine("(substituting drive %c for one on archive)\n", letter);
        break;
      }
    }
  }

  // Every prefix ending before a separator names a folder, shortest first.
  // Prefixes inside the root (a drive "C:", the server and share of a
  // network path, the leading separator) are not folders to create.
  const size_t root_length = winpath::Root(p).size();
  for (size_t i = 0; i < p.size(); ++i) {
    if (!IsSeparator(p[i]) || i < root_length) continue;
    if (i > 0 && IsSeparator(p[i - 1])) continue;  // doubled separator
    std::string prefix = winpath::ToBackslashes(p.substr(0, i));
    if (fs.IsFolder(prefix)) continue;
    if (!fs.CreateFolder(prefix)) {
      uint32_t code = LastError();
      std::string element = winpath::LastElement(prefix);
      Report(Format("Can't create directory...\n<%s>\nError: 0x%x[%d]\n"
                    "(trying to create path element <%s>)\n",
                    prefix.c_str(), code, static_cast<int>(code), element.c_str()));
      return false;
    }
  }
  p = winpath::ToBackslashes(p);
  return true;
}

}  // namespace crx
