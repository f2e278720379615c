// copy: installing one file, with the disk-space accounting of the pre-scan,
// the file groups, the replace rules for older and newer files, the
// shared-file reference counts and the hand-over of a file in use to the
// boot-time replacement.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/filetime.h"
#include "common/format.h"
#include "common/winpath.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

const char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// Bytes a file takes on the installation drive in the needed total: its size
// plus the size's remainder by 2048 (the allowance for its last cluster).
int64_t CountedSize(int64_t size) { return size + size % 2048; }

std::string Decimal(uint64_t value) {
  return Format("%llu", static_cast<unsigned long long>(value));
}

// The groups (0 to 7) whose digit occurs in a groups argument after its G.
std::vector<int> GroupsOf(const std::string& argument) {
  std::vector<int> found;
  if (argument.empty() || argument[0] != 'G') return found;
  for (int g = 0; g < kFileGroups; ++g) {
    if (argument.find(static_cast<char>('0' + g), 1) != std::string::npos) found.push_back(g);
  }
  return found;
}

// The local calendar time of a file time, as FileTimeToLocalFileTime gives
// it: shifted by the current distance between local time and UTC.
SystemTime LocalCalendar(Platform& platform, FileTime time) {
  FileTime local_now = 0;
  FileTime utc_now = 0;
  int64_t bias = 0;
  if (SystemTimeToFileTime(platform.clock.LocalNow(), &local_now) &&
      SystemTimeToFileTime(platform.clock.UtcNow(), &utc_now)) {
    // The two readings lie microseconds apart; zones differ by whole minutes.
    const int64_t minute = 600000000;
    int64_t difference = static_cast<int64_t>(local_now) - static_cast<int64_t>(utc_now);
    bias = (difference >= 0 ? difference + minute / 2 : difference - minute / 2) / minute * minute;
  }
  SystemTime out;
  FileTimeToSystemTime(static_cast<FileTime>(static_cast<int64_t>(time) + bias), &out);
  return out;
}

// An existing file's attributes without read-only (kAttrNormal when nothing
// is left), for SetAttributes.
uint32_t WithoutReadOnly(uint32_t attributes) {
  uint32_t rest = attributes & ~(kAttrReadOnly | kAttrDirectory | kAttrNormal);
  return rest == 0 ? uint32_t{kAttrNormal} : rest;
}

// Deletes a temporary file this copy made (it may carry read-only from its
// source by then).
void RemoveTemporary(FileSystem& files, const std::string& path) {
  uint32_t error = LastError();
  files.SetAttributes(path, kAttrNormal);
  files.DeleteFile(path);
  SetLastError(error);
}

// Whether another handle holds the file so that it cannot be written: an
// open for writing that shares nothing fails with a sharing violation then.
// Returns 0 when the file can be written, else the error.
uint32_t ProbeForWriting(FileSystem& files, const std::string& path) {
  std::unique_ptr<File> probe =
      files.Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting);
  return probe ? 0 : LastError();
}

// Copies source (open for reading, at its start) to destination, keeping
// the source's last-write time and its read-only, hidden and system
// attributes, as CopyFile does. A destination that does not exist is
// written in place (a failed attempt deletes what it wrote). One that
// exists is either its old self or the complete new file, never a part: the
// data goes to a new file beside it, which then replaces it. `made`, when
// given, is the destination just made by the caller. Returns 0, or the Win32
// error that stopped it; nothing of the attempt is left behind.
uint32_t CopyOver(FileSystem& files, Processes& processes, File& source,
                  uint32_t source_attributes, const FileTime* source_time,
                  const std::string& destination, bool existed,
                  std::unique_ptr<File> made) {
  // A destination that another program holds open (a library in use) is
  // refused here already, before anything is written.
  if (existed) {
    uint32_t error = ProbeForWriting(files, destination);
    if (error != 0) return error;
  }

  std::string target;  // the file being written
  std::unique_ptr<File> out = std::move(made);
  if (out) {
    target = destination;
  } else if (!existed) {
    out = files.Open(destination, kAccessWrite, kShareNone, Disposition::kCreateNew);
    if (out) {
      target = destination;
    } else if (LastError() == kErrorFileExists || LastError() == kErrorAlreadyExists) {
      existed = true;  // made by someone else meanwhile: replace it safely
    } else {
      return LastError();
    }
  }
  const uint32_t process_id = out ? 0 : processes.CurrentProcessId();
  for (unsigned n = 0; n < 100 && !out; ++n) {
    target = Format("%s.%x-%u.new", destination.c_str(), process_id, n);
    out = files.Open(target, kAccessWrite, kShareNone, Disposition::kCreateNew);
    if (!out && LastError() != kErrorFileExists && LastError() != kErrorAlreadyExists) {
      return LastError();
    }
  }
  if (!out) return LastError();

  auto fail = [&](uint32_t error) {
    out.reset();
    RemoveTemporary(files, target);
    return error;
  };
  if (!CopyFileData(source, *out)) return fail(LastError());
  // No flush to the disk: like the system's own file copy, the data is
  // handed to the system's cache, and a write the system refuses has failed
  // above. Waiting for the disk costs more than the copy of a small file.
  if (source_time && !out->SetLastWriteTime(*source_time)) return fail(LastError());
  out.reset();

  uint32_t kept = source_attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem);
  if (kept != 0 && !files.SetAttributes(target, kept | kAttrArchive)) {
    return fail(LastError());
  }
  if (target == destination) return 0;
  if (!files.ReplaceFile(target, destination)) {
    uint32_t error = LastError();
    // Windows refuses to rename over a file held open with "access denied";
    // the probe tells whether that is what happened in between.
    if (error == kErrorAccessDenied &&
        ProbeForWriting(files, destination) == kErrorSharingViolation) {
      error = kErrorSharingViolation;
    }
    return fail(error);
  }
  return 0;
}

}  // namespace

void ScriptInterpreter::CountCopySpace() {
  const std::string& source = cmd.args[0];
  SetStatusF("calculate disk space: %s...", cmd.args[1].c_str());
  // Only the size counts: one look at the file where the system has it,
  // else an open. A file that exists counts even while another program
  // holds it locked (the copy may find it free, and counting it keeps the
  // space check on the safe side); a folder counts nothing.
  int64_t size = 0;
  FolderEntry info;
  if (platform.files.GetFileSizeInfo(source, &info)) {
    if ((info.attributes & kAttrDirectory) != 0 || info.size > uint64_t{INT64_MAX}) return;
    size = static_cast<int64_t>(info.size);
  } else {
    if (LastError() != kErrorNotSupported) return;
    std::unique_ptr<File> file = platform.files.Open(source, kAccessRead,
                                                     kShareRead | kShareWrite,
                                                     Disposition::kOpenExisting);
    if (!file || !file->Size(&size) || size < 0) return;
  }
  const int64_t counted = CountedSize(size);
  needed_total += static_cast<uint64_t>(counted);
  LogF("# diskspace needed by <%s> = %lld bytes (total = %s)\n", source.c_str(),
       static_cast<long long>(counted), Decimal(needed_total).c_str());
  for (int g : GroupsOf(cmd.args[2])) {
    groups[g].bytes += counted;
    ++groups[g].files;
  }
}

void ScriptInterpreter::UpdateFreeSpace(const std::string& home) {
  size_t separator = home.find_first_of("\\/");
  std::string root = separator == std::string::npos ? home : home.substr(0, separator + 1);
  FreeSpace space;
  free_space = platform.files.GetFreeSpace(root, &space) ? space.free_to_caller : 0;
  space_checked = false;
}

bool ScriptInterpreter::CreateFolders(const std::string& folder) {
  std::string path = winpath::StripTrailingSeparator(folder);
  if (path.empty() || platform.files.IsFolder(path)) return true;
  // The missing folders, innermost first, up to the first that exists.
  std::vector<std::string> missing;
  for (std::string at = path; !at.empty(); at = winpath::Parent(at)) {
    if (platform.files.Exists(at)) break;
    missing.push_back(at);
    std::string parent = winpath::Parent(at);
    if (parent == at) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    // A root ("C:\\") or a drive that is missing cannot be made.
    if (winpath::WithoutRoot(*it).empty() && !winpath::Root(*it).empty()) continue;
    if (platform.files.CreateFolder(*it)) {
      created_folders.push_back(*it);
      continue;
    }
    uint32_t error = LastError();
    if (error == kErrorAlreadyExists && platform.files.IsFolder(*it)) continue;
    std::string text = Format("Can't create directory...\n<%s>\nError: 0x%x[%d]", it->c_str(),
                              error, static_cast<int>(error));
    LogF("%s\n", text.c_str());
    // The error report of the engine programs: a topmost box, or the daily
    // error log when nobody is there to read it.
    if (silent_mode.silent()) {
      AppendErrorLog(platform, text);
    } else {
      Message(text, kMbOk | kMbTopmost);
    }
    SetLastError(error);
    return false;
  }
  return true;
}

int ScriptInterpreter::SharedRefCount(const std::string& path) {
  ScopedRegKey key(platform.registry);
  uint32_t type = 0;
  std::string data;
  if (platform.registry.OpenKey(kHKeyLocalMachine, kSharedDllsKey, RegAccess::kRead, key.Out()) ==
          kErrorSuccess &&
      platform.registry.QueryValue(key.Get(), path, &type, &data) == kErrorSuccess &&
      type == kRegDword && data.size() == 4) {
    uint32_t value = static_cast<uint8_t>(data[0]) | static_cast<uint8_t>(data[1]) << 8 |
                     static_cast<uint8_t>(data[2]) << 16 |
                     static_cast<uint32_t>(static_cast<uint8_t>(data[3])) << 24;
    int count = static_cast<int>(value);
    LogF("# <%s> REF COUNT = %d\n", path.c_str(), count);
    return count;
  }
  LogF("# <%s> REF COUNT CANNOT BE DETERMINED\n", path.c_str());
  return -1;
}

long ScriptInterpreter::SetSharedRefCount(const std::string& path, int count) {
  ScopedRegKey key(platform.registry);
  long rc = platform.registry.CreateKey(kHKeyLocalMachine, kSharedDllsKey, RegAccess::kAll,
                                        key.Out(), nullptr);
  if (rc != kErrorSuccess) {
    LogF("# can't set DLL REF COUNT <%s> %d regpath<%s> err=%ld\n", path.c_str(), count,
         kSharedDllsKey, rc);
    return rc;
  }
  rc = platform.registry.SetDword(key.Get(), path, static_cast<uint32_t>(count));
  LogF("# SET DLL REF COUNT <%s>=%d (%ld)\n", path.c_str(), count, rc);
  return rc;
}

namespace {

// After a copy and after a refused replacement: a shared file (option s),
// or one that already has a count, gets one more user.
void MaintainRefCount(ScriptInterpreter& k, const std::string& destination) {
  int count = k.SharedRefCount(destination);
  if (!k.cmd.HasOption('s') && count < 0) return;
  k.SetSharedRefCount(destination, count < 1 ? 1 : count + 1);
}

// The full path under which the file of destination is already registered
// as a shared file; "" when none is, or more than one is.
std::string SharedNameOf(ScriptInterpreter& k, const std::string& destination) {
  Registry& registry = k.platform.registry;
  const std::string file_name = winpath::ToUpperAscii(winpath::LastElement(destination));
  ScopedRegKey key(registry);
  std::string first;
  int matches = 0;
  if (registry.OpenKey(kHKeyLocalMachine, kSharedDllsKey, RegAccess::kRead, key.Out()) ==
      kErrorSuccess) {
    std::string name;
    std::string data;
    uint32_t type = 0;
    for (uint32_t i = 0; registry.EnumValue(key.Get(), i, &name, &type, &data) == kErrorSuccess;
         ++i) {
      if (winpath::ToUpperAscii(winpath::LastElement(name)) != file_name) continue;
      if (matches++ == 0) first = name;
    }
  }
  if (matches == 1) {
    k.LogF("# found shared name %s\n", first.c_str());
    return first;
  }
  if (matches > 1) {
    k.LogF("# rejected shared name %s, filename apperas too much\n", first.c_str());
  } else {
    k.LogF("# can't find name %s\n", winpath::LastElement(destination).c_str());
  }
  return std::string();
}

// The interactive answer to replacing a newer file with an older one.
bool ReplaceNewerDecision(ScriptInterpreter& k, const std::string& policy,
                          const std::string& question, const std::string& destination) {
  if (policy == "NEVER") return false;
  if (policy == "ALWAYS") return true;
  int answer = k.Message(question, kMbYesNo | kMbIconQuestion | kMbDefButton2 | kMbTopmost);
  if (answer != kIdYes) return false;
  if (policy != "DOUBLE_CHECK") return true;
  answer = k.Message(Format("You have chosen to replace a file with an older version.\nPlease "
                            "confirm the replacement of...\n'%s'\n",
                            destination.c_str()),
                     kMbYesNo | kMbIconQuestion | kMbTopmost);
  return answer == kIdYes;
}

bool Contains(const std::string& upper_text, const std::string& value) {
  return !value.empty() &&
         upper_text.find(winpath::ToUpperAscii(value)) != std::string::npos;
}

}  // namespace

bool ScriptInterpreter::CmdCopy() {
  // Space check, once per installation drive.
  if (!space_checked) {
    if (free_space == UINT64_MAX) {
      Message("Script Convention Error.\nYou have used the 'copy' command before\nsetting $HOME. "
              "Kestrova doesn't know how\nmuch disk space is available on the target drive.",
              kMbIconHand);
      return false;
    }
    if (needed_total > free_space) {
      Message("There is not enough free space on the chosen installation drive", kMbIconHand);
      Log("copy: There is not enough free space on the chosen installation drive\n");
      cancelled = true;
      return true;
    }
    LogF("# copy: checked diskspace needed:  %s bytes (total on home = %s)\n",
         Decimal(needed_total).c_str(), Decimal(free_space).c_str());
    space_checked = true;
  }

  // An option must make the file a shared one; q, r and a only add to it.
  if (!cmd.option.empty() && !cmd.HasOption('s')) return false;
  const std::string& group_argument = cmd.args[2];
  if (!group_argument.empty() && group_argument[0] != 'G') {
    Message("incorrect Group specified in copy command", kMbIconHand | kMbTopmost);
    return false;
  }

  // File groups: the file is copied when one of its groups is selected.
  if (!group_argument.empty()) {
    bool selected = false;
    for (int g : GroupsOf(group_argument)) {
      if (groups[g].description.empty()) {
        std::string text = Format(
            "WARNING: File Group  G%d  is present in a copy command\nbut has not been defined by "
            "a 'filegroup' command\n\n%s %s %s %s",
            g, cmd.command.c_str(), cmd.args[0].c_str(), cmd.args[1].c_str(),
            cmd.args[2].c_str());
        LogF("%s\n", text.c_str());
        Message(text, kMbIconHand | kMbTopmost);
      }
      if (!groups[g].deselected) selected = true;
    }
    if (!selected) {
      LogF("# file <%s> is not in an enabled group\n", group_argument.c_str());
      return true;
    }
  }

  const std::string source = cmd.args[0];
  std::string destination = cmd.args[1];
  SetVariable("COPY_TARGET", destination);

  // The command's file calls look at the two folders once (see BeginBatch);
  // a question to the person ends the batch, since an answer may take long.
  std::optional<FileBatch> batch(std::in_place, platform.files);

  if (cmd.HasOption('r')) {
    std::string shared = SharedNameOf(*this, destination);
    if (!shared.empty() && shared != destination) {
      Log("# copy: target name replaced by current shared name...\n");
      LogF("#     : <%s> -->  <%s>\n", destination.c_str(), shared.c_str());
      SetVariable("COPY_TARGET", shared);
      if (cmd.HasOption('a')) AddAlias(cmd.args[1], shared);
      destination = shared;
    }
  }
  ProgressStep(destination);

  std::unique_ptr<File> in =
      platform.files.Open(source, kAccessRead, kShareRead, Disposition::kOpenExisting);
  if (!in) {
    uint32_t error = LastError();
    std::string text = Format("ERROR: can't copy file %d[0x%x]\nCan't open source file\n\"%s\"",
                              static_cast<int>(error), error, source.c_str());
    Message(text, kMbIconHand | kMbTopmost);
    LogF("%s\n", text.c_str());
    return false;
  }

  const std::string upper_destination = winpath::ToUpperAscii(destination);
  const std::string policy = VariableText(
      Contains(upper_destination, VariableText("WINDIR")) ||
              Contains(upper_destination, VariableText("SYSDIR"))
          ? "REPLACE_SYS_NEWER"
          : "REPLACE_NEWER");

  // Silently the older-file answer comes from the policy or the response file.
  bool silent_replace_older = false;
  if (silent_mode.silent()) {
    if (policy == "NEVER") {
      silent_replace_older = false;
    } else if (policy == "ALWAYS") {
      silent_replace_older = true;
    } else {
      std::string value;
      if (GetResponse("ReplaceNewerWithOlder", &value)) {
        std::string upper = winpath::ToUpperAscii(value);
        silent_replace_older = upper == "TRUE" || upper == "1";
        LogF("SMSMODE: (rspfile) ReplaceNewerWithOlder = %d\n", silent_replace_older ? 1 : 0);
      } else {
        LogF("SMSMODE: (default) ReplaceNewerWithOlder = %d\n", 0);
      }
    }
  }

  FileTime source_time = 0;
  const bool source_time_known = in->GetLastWriteTime(&source_time);
  if (destination.size() >= 2 && destination[0] == '?' && destination[1] == ':' &&
      !platform.files.IsFolder(destination.substr(0, 2) + "\\")) {
    std::string windows = VariableText("WINDIR");
    if (windows.empty()) windows = platform.environment.WindowsFolder();
    if (winpath::HasDriveLetter(windows)) destination[0] = windows[0];
  }
  // Most destinations are new: making the file at once is the cheapest
  // way to learn that it was not there. Else one look at the destination
  // serves the age comparison, the read-only step and the copy.
  std::unique_ptr<File> made =
      platform.files.Open(destination, kAccessWrite, kShareNone, Disposition::kCreateNew);
  uint32_t destination_attributes = kInvalidAttributes;
  FileTime destination_time = 0;
  bool destination_time_known = false;
  FolderEntry destination_info;
  if (made) {
    // nothing to compare with
  } else if (platform.files.GetFileInfo(destination, &destination_info)) {
    destination_attributes = destination_info.attributes;
    destination_time = destination_info.last_write;
    destination_time_known = true;
  } else if (LastError() == kErrorNotSupported) {
    destination_attributes = platform.files.GetAttributes(destination);
    destination_time_known =
        destination_attributes != kInvalidAttributes &&
        (destination_attributes & kAttrDirectory) == 0 &&
        platform.files.GetLastWriteTime(destination, &destination_time);
  }
  const bool destination_exists = destination_attributes != kInvalidAttributes &&
                                  (destination_attributes & kAttrDirectory) == 0;
  destination_time_known = destination_time_known && destination_exists;

  if (source_time_known && destination_time_known) {
    const SystemTime d = LocalCalendar(platform, destination_time);
    const SystemTime s = LocalCalendar(platform, source_time);
    const int order = CompareFileTime(source_time, destination_time);
    if (order < 0) {
      std::string question = Format(
          "REPLACE FILE WITH OLDER VERSION?\n\n\"%s\"\n\nreplace the version last modified "
          "on\n%02d/%02d/%04d %02d:%02d\n\nwith one last modified on\n%02d/%02d/%04d %02d:%02d\n",
          destination.c_str(), d.day, d.month, d.year, d.hour, d.minute, s.day, s.month, s.year,
          s.hour, s.minute);
      if (!silent_mode.silent()) batch.reset();
      bool replace = silent_mode.silent() ? silent_replace_older
                            : ReplaceNewerDecision(*this, policy, question, destination);
      if (!replace) {
        Log(silent_mode.silent() ? "# ...(SMSMODE) replace newer with older? no...\n"
                   : "# ...replace newer with older? no...\n");
        MaintainRefCount(*this, destination);
        return true;
      }
      Log("# ...replace newer with older? yes\n");
    } else if (order == 0) {
      Log("# ...don't copy this file - it exists and is the same age!\n");
      return true;
    } else if (cmd.HasOption('q')) {
      std::string question = Format(
          "REPLACE EXISTING FILE WITH NEWER VERSION?\n\n%s\n\nreplace the version last modified "
          "on...\n    %02d/%02d/%4d %02d:%02d\nwith one last modified on...\n    %2d/%2d/%4d "
          "%02d:%02d\n",
          destination.c_str(), d.day, d.month, d.year, d.hour, d.minute, s.day, s.month, s.year,
          s.hour, s.minute);
      batch.reset();
      if (Message(question, kMbYesNo | kMbIconQuestion | kMbTopmost) != kIdYes) {
        Log("# ...replace existing? no...\n");
        MaintainRefCount(*this, destination);
        return true;
      }
      Log("# ...replace existing? yes...\n");
    }
  }

  // The copy.
  if (!batch) batch.emplace(platform.files);
  if (destination_exists && (destination_attributes & kAttrReadOnly)) {
    platform.files.SetAttributes(destination, WithoutReadOnly(destination_attributes));
  }
  // A folder that cannot be made is reported there; the copy then fails.
  // Installations copy many files into one folder: the folder the last copy
  // went to is not looked at again (should it have gone since, the copy
  // finds its folder missing and makes it then).
  const std::string folder = winpath::Parent(destination);
  const bool folder_known = winpath::EqualsNoCase(folder, copy_folder);
  if (!folder_known) copy_folder = CreateFolders(folder) ? folder : std::string();
  LogF("# ...copy '%s' --> '%s'...\n", source.c_str(), destination.c_str());
  uint32_t source_attributes = 0;
  if (!in->GetAttributes(&source_attributes)) {
    source_attributes = platform.files.GetAttributes(source);
    if (source_attributes == kInvalidAttributes) source_attributes = 0;
  }
  auto copy = [&]() {
    return CopyOver(platform.files, platform.processes, *in, source_attributes,
                    source_time_known ? &source_time : nullptr, destination, destination_exists,
                    std::move(made));
  };
  uint32_t error = copy();
  if (error == kErrorPathNotFound && folder_known) {
    copy_folder = CreateFolders(folder) ? folder : std::string();
    error = in->Seek(0, SeekFrom::kBegin, nullptr) ? copy() : LastError();
  }
  in.reset();
  batch.reset();
  if (error == 0) {
    copied_files.push_back(destination);
    MaintainRefCount(*this, destination);
    return true;
  }
  if (error == kErrorSharingViolation) {
    // In use: the new file takes its place at the next start.
    MaintainRefCount(*this, destination);
    return MoveOnBoot(source, &destination);
  }
  std::string text = Format("FILE COPY ERROR 0x%x[%d]\n%s --> %s", error, static_cast<int>(error),
                            source.c_str(), destination.c_str());
  Message(text, kMbIconHand | kMbTopmost);
  LogF("%s\n", text.c_str());
  return false;
}

std::string ScriptInterpreter::SharedName(const std::string& file) {
  return SharedNameOf(*this, file);
}

}  // namespace crx::interp
