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

// An element that names no folder of its own once Windows has dropped its
// trailing dots and blanks: "", ".", "..", "...", ". ." and the like.
bool OnlyDotsAndBlanks(const std::string& element) {
  for (char c : element) {
    if (c != '.' && c != ' ') return false;
  }
  return true;
}

// The stored name made relative for contained extraction: its drive letter
// ("C:", "C:\\"), its root ("\\", "/") or a network path's server and
// share ("\\\\server\\share") are dropped, and so is every element that is
// empty, "." or ".." (or reads as one of them). The rest is joined with
// back-slashes; "" when nothing is left.
std::string ContainedName(const std::string& name) {
  size_t start = 0;
  const size_t n = name.size();
  if (n >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) {
    // Skip the server and the share.
    start = 2;
    for (int part = 0; part < 2; ++part) {
      while (start < n && !IsSeparator(name[start])) ++start;
      if (start < n) ++start;
    }
  } else if (n >= 2 && IsLetter(name[0]) && name[1] == ':') {
    start = 2;
  }
  std::string rest;
  size_t element = start;
  for (size_t i = start; i <= n; ++i) {
    if (i < n && !IsSeparator(name[i])) continue;
    const std::string part = name.substr(element, i - element);
    if (!OnlyDotsAndBlanks(part)) {
      if (!rest.empty()) rest += '\\';
      rest += part;
    }
    element = i + 1;
  }
  return rest;
}

}  // namespace

bool NameLeavesFolder(const std::string& name) {
  const size_t n = name.size();
  if ((n >= 2 && IsLetter(name[0]) && name[1] == ':') || (n >= 1 && IsSeparator(name[0]))) {
    return true;
  }
  size_t element = 0;
  for (size_t i = 0; i <= n; ++i) {
    if (i < n && !IsSeparator(name[i])) continue;
    if (ClimbsUp(name.substr(element, i - element))) return true;
    element = i + 1;
  }
  return false;
}

namespace {

// The length of the longest run of whole elements that paths a and b
// start with alike (either separator matching either), or 0.
size_t SharedFolderLength(const std::string& a, const std::string& b) {
  size_t shared = 0;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i <= n; ++i) {
    const bool end_a = i == a.size() || IsSeparator(a[i]);
    const bool end_b = i == b.size() || IsSeparator(b[i]);
    if (end_a && end_b) {
      shared = i;
      continue;
    }
    if (i == n || end_a || end_b || a[i] != b[i]) break;
  }
  return shared;
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

void ExtractPolicy::RefuseName(const char* what, const std::string& name,
                               const std::string& detail) {
  Report(Format("ERROR\nFile name on archive %s...\n'%s'\n%sThis file cannot be extracted", what,
                name.c_str(), detail.c_str()));
}

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
    RefuseName("points outside the output folder", name, std::string());
  }
  return inside;
}

bool ExtractPolicy::OutputPath(const std::string& name, bool viewing, std::string* path) {
  if (viewing) {
    std::string last = winpath::LastElement(name);
    if (last.empty() || ClimbsUp(last)) {
      RefuseName("points outside the output folder", name, std::string());
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
  if (contain_names_) {
    rest = ContainedName(flatten_ ? winpath::LastElement(name) : name);
    if (rest.empty()) {
      RefuseName("names no file inside the output folder", name, std::string());
      return false;
    }
  }
  std::string full = output_folder_.back() == '\\'
                         ? Format("%s%s", output_folder_.c_str(), rest.c_str())
                         : Format("%s\\%s", output_folder_.c_str(), rest.c_str());
  if (!InsideOutputFolder(name, rest, full)) return false;
  *path = full;
  return true;
}

// ---------------------------------------------------------------------------
// What is at the output path

void ExtractPolicy::BeginExtraction() {
  estimated_ = false;
  known_folder_.clear();
}


size_t ExtractPolicy::BelowOutputFolder(const std::string& path) const {
  const size_t n = output_folder_.size();
  if (n == 0 || path.size() <= n || path.compare(0, n, output_folder_) != 0) {
    return std::string::npos;
  }
  if (IsSeparator(output_folder_.back())) return n;
  return IsSeparator(path[n]) ? n + 1 : std::string::npos;
}

bool ExtractPolicy::LookUpTarget(const std::string& name, const std::string& path,
                                 OutputTarget* target) {
  FileSystem& fs = platform_.files;
  *target = OutputTarget();
  size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  // cut: where the file's own name starts; the folder is path[0, cut - 1).
  const std::string folder = cut > 0 ? path.substr(0, cut - 1) : std::string();
  const size_t below = BelowOutputFolder(path);

  const size_t known = SharedFolderLength(folder, known_folder_);
  target->existing = known;
  if (cut == 0) {
    target->folder_exists = true;  // the current folder
  } else if (below == std::string::npos || cut <= below) {
    // Stored locations, or a file straight in the output folder (which the
    // user named, link or not). A root ("\\", "C:\\") is looked at with
    // its separator.
    const bool root = folder.empty() || folder.back() == ':';
    target->folder_exists =
        (known == folder.size() && !root) || fs.IsFolder(root ? path.substr(0, cut) : folder);
  } else {
    // Every folder between the output folder and the file, shortest first,
    // as far as they exist; those on the way to the last folder found clean
    // were looked at already.
    target->folder_exists = true;
    for (size_t i = below; i < cut; ++i) {
      if (!IsSeparator(path[i]) || i <= known || IsSeparator(path[i - 1])) continue;
      const std::string prefix = path.substr(0, i);
      const uint32_t attributes = fs.GetAttributes(prefix);
      if (attributes != kInvalidAttributes && (attributes & kAttrReparsePoint) != 0) {
        RefuseName("leads through a link", name, Format("Link: <%s>\n", prefix.c_str()));
        return false;
      }
      if (attributes == kInvalidAttributes || (attributes & kAttrDirectory) == 0) {
        // Missing, or a file where a folder should be: creating the
        // folders makes them or reports why not.
        target->folder_exists = false;
        if (attributes == kInvalidAttributes) target->missing = i;
        break;
      }
      target->existing = i;
    }
  }
  if (!target->folder_exists) return true;  // nothing can be at path
  // A folder outside the output folder (a viewing copy's) was not looked
  // at for links, so it is not remembered while an output folder is set.
  if (cut > 0 && (below != std::string::npos || output_folder_.empty())) known_folder_ = folder;
  target->attributes = fs.GetAttributes(path);
  return true;
}

bool ExtractPolicy::RemoveLink(const std::string& name, const std::string& path) {
  FileSystem& fs = platform_.files;
  const uint32_t attributes = fs.GetAttributes(path);
  if (attributes == kInvalidAttributes) return true;  // gone already
  // A link removes like a file; a link to a folder (and a junction) on
  // Windows like an empty folder. Neither touches what the link points at.
  bool removed = fs.DeleteFile(path);
  if (!removed && (attributes & kAttrDirectory) != 0) removed = fs.RemoveFolder(path);
  if (removed) return true;
  const uint32_t code = LastError();
  RefuseName("is a link that cannot be replaced", name,
             Format("Link: <%s>\nError %d[0x%x]\n", path.c_str(), static_cast<int>(code), code));
  return false;
}

// ---------------------------------------------------------------------------
// Replacing existing files

bool ExtractPolicy::NotOlder(const std::string& path, FileTime member_time,
                             OutputTarget* target) {
  if (!target->time_read) {
    target->time_read = true;
    target->time_known = platform_.files.GetLastWriteTime(path, &target->last_write);
  }
  // A file whose time cannot be read is kept: nothing says it is older.
  if (!target->time_known) return false;
  return CompareFileTime(member_time, target->last_write) >= 0;
}

bool ExtractPolicy::OkToReplaceFile(const std::string& path, FileTime member_time,
                                    OutputTarget* target) {
  log_.LogLine("OkToReplaceFile MODE %d\n", static_cast<int>(replace_mode_));
  if (setup_ || replace_mode_ == kReplaceAlways) return true;
  if (!target->Exists()) return true;  // nothing there: create it
  if (replace_mode_ == kReplaceNever) return false;
  if (target->IsFolder()) {
    Report(Format("ERROR\nFilename on archive clashes with a Foldername on your system...\n'%s'\n"
                  "This file cannot be extracted",
                  path.c_str()));
    return false;
  }
  if (replace_mode_ == kReplaceIfNewer) return NotOlder(path, member_time, target);

  // Prompt (and any mode value the caller made up: asking is the safe way).
  hooks_->ProcessMessages();
  if (hooks_->UserQuit()) return false;
  hooks_->Animate(false);
  int answer = kIdReplaceYes;
  if (!log_.silent()) {
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
      return NotOlder(path, member_time, target);
    case kIdReplaceAllIfNewer:
      replace_mode_ = kReplaceIfNewer;
      return NotOlder(path, member_time, target);
    default:
      Report("ERROR\nunknown return from dialog\nwill not overwrite");
      return false;
  }
}

// ---------------------------------------------------------------------------
// Read-only files

bool ExtractPolicy::ReadOnlyAllows(const std::string& path, OutputTarget* target) {
  if (!target->Exists()) return true;
  const uint32_t attributes = target->attributes;
  log_.LogLine("file is writeable(%x) %d?...", attributes, overwrite_read_only_ ? 1 : 0);
  if ((attributes & kAttrReadOnly) == 0 || target->IsLink()) return true;
  if (!overwrite_read_only_) return false;
  log_.LogLine("change RO mode of file <%s>\n", path.c_str());
  // Keep hidden, system and archive; the folder bit is not settable.
  uint32_t kept = attributes & ~(kAttrReadOnly | kAttrDirectory);
  if (kept == 0) kept = kAttrNormal;
  // A file that stays read-only is refused like any other read-only file.
  if (!platform_.files.SetAttributes(path, kept)) return false;
  target->attributes = kept;
  return true;
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

SpaceAnswer ExtractPolicy::AnswerForSpace(uint32_t size, const std::string& path) {
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

SpaceAnswer ExtractPolicy::CheckSpaceFor(const std::string& path, uint32_t size) {
  const uint64_t needed = static_cast<uint64_t>(size) + 1024;
  // The root as text first, so the drive is looked up once.
  std::string text;
  if (!path.empty() && IsSeparator(path[0])) {
    text = "\\";
  } else if (path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    text = winpath::ToUpperAscii(path.substr(0, 1)) + ":\\";
  }
  if (!estimated_ || text != estimate_text_) {
    estimated_ = false;
    estimate_text_ = text;
    estimate_root_ = RootDirectoryFromPath(path);
  } else if (estimate_ >= needed) {
    free_space_ = estimate_;
    AnswerForSpace(size, path);  // logs the figures; enough
    estimate_ -= needed;
    return SpaceAnswer::kEnough;
  }
  // Nothing to go by when the measurement fails: the next member measures
  // (and reports) again.
  estimated_ = MeasureFreeSpace(estimate_root_);
  const SpaceAnswer answer = AnswerForSpace(size, path);
  estimate_ = free_space_;
  if (answer == SpaceAnswer::kEnough) estimate_ -= needed;
  return answer;
}

// ---------------------------------------------------------------------------
// Folders

bool ExtractPolicy::PrepareFolders(std::string* path, const OutputTarget& target) {
  if (target.folder_exists) {
    *path = winpath::ToBackslashes(*path);
    return true;
  }
  if (!MakeFolders(path, target.existing, target.missing)) return false;
  // The folders just made are no links.
  const std::string folder = winpath::Parent(*path);
  const bool below = BelowOutputFolder(*path) != std::string::npos;
  if (!folder.empty() && (output_folder_.empty() || below)) known_folder_ = folder;
  return true;
}

bool ExtractPolicy::MakeFolders(std::string* path, size_t existing, size_t missing) {
  FileSystem& fs = platform_.files;
  std::string& p = *path;

  // A stored drive the machine lacks: the first drive it has, from C: on.
  // (A folder known to exist on the path shows that its drive is there.)
  if (p.size() >= 2 && p[1] == ':' && existing <= 3 &&
      !fs.IsFolder(std::string(1, p[0]) + ":\\")) {
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
  // network path, the leading separator) are not folders to create. Once
  // one folder had to be made, the deeper ones cannot exist yet.
  const size_t root_length = winpath::Root(p).size();
  bool creating = false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (!IsSeparator(p[i]) || i < root_length || i <= existing) continue;
    if (i > 0 && IsSeparator(p[i - 1])) continue;  // doubled separator
    std::string prefix = winpath::ToBackslashes(p.substr(0, i));
    if (i == missing) creating = true;  // just found missing
    if (!creating && fs.IsFolder(prefix)) continue;
    if (!fs.CreateFolder(prefix)) {
      uint32_t code = LastError();
      // A "." element names the folder just made.
      if (code == kErrorAlreadyExists && fs.IsFolder(prefix)) continue;
      std::string element = winpath::LastElement(prefix);
      Report(Format("Can't create directory...\n<%s>\nError: 0x%x[%d]\n"
                    "(trying to create path element <%s>)\n",
                    prefix.c_str(), code, static_cast<int>(code), element.c_str()));
      return false;
    }
    creating = true;
  }
  p = winpath::ToBackslashes(p);
  return true;
}

}  // namespace crx
