// Replacing and deleting files at the next start of the system, for files
// that are in use now: through the platform's boot-time move where the
// system offers it, otherwise through entries in the system's boot-time
// initialisation file (wininit.ini, [Rename] section, short names only) and
// a batch file in the user's Startup folder that gives replaced files their
// long names back at the next logon.
#include <memory>
#include <string>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr const char* kRenameSection = "[Rename]\r\n";

// Begins with a drive letter, a colon and a separator, or with a separator.
bool IsFullPath(const std::string& path) {
  if (!path.empty() && winpath::IsSeparator(path[0])) return true;
  return path.size() >= 3 && winpath::HasDriveLetter(path) && winpath::IsSeparator(path[2]);
}

// Reads a whole file; false when it cannot be opened or read.
bool ReadWhole(FileSystem& files, const std::string& path, std::string* text) {
  std::unique_ptr<File> file =
      files.Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
  if (!file) return false;
  text->clear();
  char buffer[8192];
  size_t got = 0;
  for (;;) {
    if (!file->Read(buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
    text->append(buffer, got);
  }
}

// Inserts the entry as the first of the [Rename] section, or appends the
// section with the entry. The new content goes to a file beside the old
// one, which then replaces it: a failure on the way leaves the old file as
// it was.
bool AddInitFileEntry(ScriptInterpreter& k, const std::string& path, const std::string& entry) {
  FileSystem& files = k.platform.files;
  std::string text;
  if (files.Exists(path) && !ReadWhole(files, path, &text)) return false;
  const size_t section = text.find(kRenameSection);
  if (section != std::string::npos) {
    text.insert(section + std::string(kRenameSection).size(), entry);
  } else {
    // A last line without its line end must not run into the section name.
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += kRenameSection;
    text += entry;
  }
  const std::string temporary =
      Format("%s.%x.tmp", path.c_str(), k.platform.processes.CurrentProcessId());
  {
    std::unique_ptr<File> file =
        files.Open(temporary, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    if (!file) return false;
    if (!file->Write(text.data(), text.size()) || !file->Flush()) {
      file.reset();
      files.DeleteFile(temporary);
      return false;
    }
  }
  if (!files.ReplaceFile(temporary, path)) {
    const uint32_t error = LastError();
    files.DeleteFile(temporary);
    SetLastError(error);
    return false;
  }
  return true;
}

// The boot-time move is not available: the initialisation file and the
// rename batch do the work. With copy_made the source is the temporary
// copy of a replacement; it gets its own deletion entry first, so that it
// ends up below the move's entry and is carried out after it.
bool ScheduleInInitFile(ScriptInterpreter& k, const std::string& source,
                        const std::string* destination, bool copy_made) {
  FileSystem& files = k.platform.files;
  std::string short_source;
  std::string short_destination;
  // The system's boot-time processing knows short names only; a path
  // without one (it does not exist) cannot be scheduled. Known before any
  // entry is made, so a failure leaves none behind.
  const bool have_names = files.ShortPath(source, &short_source) &&
                          (!destination || files.ShortPath(*destination, &short_destination));
  if (copy_made && have_names) {
    k.Log("# ... delete temp file used for copy\n");
    if (!k.DeleteOnBoot(source)) return false;
  }
  k.Log("# ...use 8.3 short names\n");
  if (!have_names) {
    k.LogF("# ... no short name for <%s>\n",
           destination && files.Exists(source) ? destination->c_str() : source.c_str());
    return false;
  }
  const std::string entry = Format("%s=%s\r\n", destination ? short_destination.c_str() : "NUL",
                                   short_source.c_str());
  const std::string init_file =
      winpath::StripTrailingSeparator(k.platform.environment.WindowsFolder()) + "\\wininit.ini";
  if (!AddInitFileEntry(k, init_file, entry)) {
    const uint32_t error = LastError();
    k.LogF("# ... can't update wininit file <%s> %d[0x%x]\n", init_file.c_str(),
           static_cast<int>(error), error);
    return false;
  }
  k.MarkRebootNeeded();
  k.Log("# ... native MoveFileEx() function not supported in this OS environment...\n");
  k.LogF("# ... update wininit file <%s> manually\n", init_file.c_str());

  if (destination) {
    // The system's boot-time processing knows short names only: the file
    // arrives under its short name and the batch renames it at logon.
    const std::string long_name = winpath::LastElement(*destination);
    const std::string short_name = winpath::LastElement(short_destination);
    if (winpath::ToUpperAscii(long_name) != winpath::ToUpperAscii(short_name)) {
      const std::string renamed = Format("%s\\%s", winpath::Parent(*destination).c_str(),
                                         short_name.c_str());
      if (k.OpenRenameBatch() &&
          k.WriteRenameBatch(Format("if exist \"%s\" rename \"%s\" \"%s\"\n", renamed.c_str(),
                                    renamed.c_str(), long_name.c_str()))) {
        ++k.rename_lines;
        k.LogF("SCHED RENAME \"%s\" --> \"%s\"\n", renamed.c_str(), long_name.c_str());
      }
    }
  }
  return true;
}

// The Startup folder of the current user, from the shell's folder list.
bool StartupFolder(ScriptInterpreter& k, std::string* folder) {
  RegistryKey key(k.platform.registry, kHKeyCurrentUser);
  if (!key.Open("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")) {
    k.Log("can't access Startup Menu registry key\n");
    return false;
  }
  if (!key.GetValue("Startup", folder) || folder->empty()) {
    k.Log("can't access Startup registry value\n");
    return false;
  }
  *folder = winpath::StripTrailingSeparator(*folder);
  return true;
}

}  // namespace

// Creates a batch file "<Startup>\<prefix>_<seconds in hex>.bat" for
// writing. A name already taken (a batch of the same second) is never
// overwritten: the number is counted up instead.
std::unique_ptr<File> ScriptInterpreter::CreateStartupBatch(const char* prefix,
                                                         std::string* path) {
  ScriptInterpreter& k = *this;
  if (Trimmed(k.VariableText("APP")).empty()) {
    k.Message(
        "ERROR IN SCRIPT CONVETION\nThe variable APP has not been set\nNo RENAME BATCH JOB can "
        "be generated without this variable.\nThis variable must name the application.\n",
        kMbOk | kMbIconHand);
    return nullptr;
  }
  std::string folder;
  if (!StartupFolder(k, &folder)) return nullptr;
  FileTime now = 0;
  SystemTimeToFileTime(k.platform.clock.UtcNow(), &now);
  uint32_t seconds = static_cast<uint32_t>(FileTimeToUnixSeconds(now));
  std::unique_ptr<File> file;
  for (int attempt = 0; attempt < 64 && !file; ++attempt, ++seconds) {
    *path = Format("%s\\%s_%x.bat", folder.c_str(), prefix, seconds);
    if (attempt == 0) k.LogF("...<%s>\n", path->c_str());
    file = k.platform.files.Open(*path, kAccessWrite, kShareRead, Disposition::kCreateNew);
    if (!file && LastError() != kErrorFileExists && LastError() != kErrorAlreadyExists) break;
  }
  if (!file) {
    k.Message("faield to create Startup batch file", kMbOk);
    k.Log("faield to create Startup batch file\n");
    return nullptr;
  }
  k.LogF("create Startup batch file <%s>\n", path->c_str());
  return file;
}

void ScriptInterpreter::MarkRebootNeeded() {
  reboot_needed = true;
  // NEEDS_RE_BOOT is read-only for scripts; the interpreter keeps it itself.
  for (Pair& pair : variables) {
    if (pair.name == "NEEDS_RE_BOOT") {
      pair.value = "TRUE";
      return;
    }
  }
  variables.push_back({"NEEDS_RE_BOOT", "TRUE"});
}

bool ScriptInterpreter::OpenRenameBatch() {
  if (rename_batch) return true;
  Log("Open Rename Bat File...\n");
  std::string path;
  std::unique_ptr<File> file = CreateStartupBatch("ks_rename", &path);
  if (!file) return false;
  rename_batch = std::move(file);
  rename_batch_path = path;
  rename_lines = 0;
  if (!WriteRenameBatch(Format("echo off\necho.Complete Installation Of %s...\n",
                               VariableText("APP").c_str()))) {
    return false;
  }
  return true;
}

bool ScriptInterpreter::WriteRenameBatch(const std::string& text) {
  if (!rename_batch) return false;
  if (rename_batch->Write(text.data(), text.size())) return true;
  const uint32_t error = LastError();
  LogF("# can't write rename batch <%s> %d[0x%x]\n", rename_batch_path.c_str(),
       static_cast<int>(error), error);
  return false;
}

void ScriptInterpreter::CloseRenameBatch() {
  if (!rename_batch) return;
  std::string text = "echo.\n";
  const std::string app = VariableText("APP");
  if (!Trimmed(app).empty()) AppendFormat(&text, "echo.Installation Of %s Is Complete\n", app.c_str());
  if (rename_lines > 0) text += "echo.A REBOOT IS REQUIRED FOR THE CHANGES TO TAKE EFFECT\n";
  text += "pause\necho.task completed successfully\necho.subsequent error messages can be ignored...\n";
  AppendFormat(&text, "del \"%s\"\n", rename_batch_path.c_str());
  WriteRenameBatch(text);
  rename_batch->Flush();
  rename_batch.reset();
}

void ScriptInterpreter::DeleteRenameBatch() {
  if (!rename_batch) return;
  rename_batch.reset();
  // Let the system let go of the file before it is deleted.
  platform.clock.Sleep(1000);
  if (platform.files.DeleteFile(rename_batch_path)) {
    LogF("# rename batch deleted <%s>\n", rename_batch_path.c_str());
  }
  rename_batch_path.clear();
  rename_lines = 0;
}

bool ScriptInterpreter::BootMoveSupported() {
  if (boot_moves >= 0) return boot_moves == 1;
  std::string temp = VariableText("TEMP");
  if (temp.empty()) temp = winpath::StripTrailingSeparator(platform.environment.TempPath());
  const std::string path = Format("%s\\_ks_test.tmp", temp.c_str());
  {
    // TEMP is shared with other users: never write through a planted link.
    std::unique_ptr<File> file = platform.files.Open(
        path, kAccessWrite, kShareNone, Disposition::kCreateAlways, kOpenNoFollow);
    if (file) {
      static const char kText[] = "Kestrova temp test file\n";
      file->Write(kText, sizeof kText - 1);
    }
  }
  // The test file stays until the next start when the request is taken.
  if (platform.shell.MoveAtBoot(path, std::string())) {
    boot_moves = 1;
  } else {
    platform.files.DeleteFile(path);
    boot_moves = 0;
  }
  return boot_moves == 1;
}

bool ScriptInterpreter::MoveOnBoot(const std::string& source_in, const std::string* destination_in) {
  if (destination_in) {
    LogF("# move on boot: '%s' --> '%s'\n", source_in.c_str(), destination_in->c_str());
  } else {
    LogF("# delete on boot: '%s'\n", source_in.c_str());
  }
  std::string source = source_in;
  std::string destination;
  bool copy_made = false;

  if (destination_in) {
    destination = *destination_in;
    if (!IsFullPath(destination)) {
      destination = Format("%s\\%s", platform.files.CurrentFolder().c_str(), destination.c_str());
      Log("# add full destination path...\n");
      LogF("# ... <%s>\n", destination.c_str());
    }
    // The source may be gone (or replaced) by the next start: a private copy
    // beside the destination is what moves.
    const std::string copy = Format("%s.%x.tmp", destination.c_str(),
                                    platform.processes.CurrentProcessId());
    if (!platform.files.CopyFile(source, copy, false)) {
      Log("# ... copy to temp file failed\n");
      return false;
    }
    Log("# copy source file to temp location...\n");
    LogF("# ... <%s>\n", copy.c_str());
    source = copy;
    copy_made = true;

    if (platform.shell.MoveAtBoot(destination, std::string())) {
      boot_moves = 1;
      // The destination goes at the next start from here on.
      MarkRebootNeeded();
      if (!platform.shell.MoveAtBoot(copy, destination)) {
        uint32_t error = LastError();
        LogF("# OS MoveFileEx <%s> --> <%s> FAILED %d[0x%x]\n", copy.c_str(), destination.c_str(),
             static_cast<int>(error), error);
        return false;
      }
      LogF("# OS MoveFileEx <%s> --> <%s> OK\n", copy.c_str(), destination.c_str());
      Log("# ... delete temp file used for copy\n");
      // Carried out after the move, so it finds nothing left in the usual case.
      platform.shell.MoveAtBoot(copy, std::string());
      return true;
    }
  } else {
    if (!IsFullPath(source)) {
      source = Format("%s\\%s", platform.files.CurrentFolder().c_str(), source.c_str());
      Log("# add full source path for removal...\n");
      LogF("# ... <%s>\n", source.c_str());
    }
    if (platform.shell.MoveAtBoot(source, std::string())) {
      boot_moves = 1;
      MarkRebootNeeded();
      LogF("# OS MoveFileEx <%s> --> <NULL> OK\n", source.c_str());
      return true;
    }
  }

  const uint32_t error = LastError();
  boot_moves = 0;
  LogF("# ... boot-time move refused by the system, error %d[0x%x]\n", static_cast<int>(error),
       error);
  if (!ScheduleInInitFile(*this, source, destination_in ? &destination : nullptr, copy_made)) {
    if (copy_made) {
      // Nothing will move the copy: it must not stay behind. (Its own
      // deletion entry, if one was made, then finds nothing.)
      platform.files.SetAttributes(source, kAttrNormal);
      platform.files.DeleteFile(source);
    }
    return false;
  }
  return true;
}

bool ScriptInterpreter::DeleteOnBoot(const std::string& path) { return MoveOnBoot(path, nullptr); }

}  // namespace crx::interp
