// Replacing and deleting files at the next start of the system, for files
// that are in use now: through the platform's boot-time move.
#include <memory>
#include <string>

#include "common/format.h"
#include "common/winpath.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

// NEEDS_RE_BOOT is read-only for scripts; the interpreter keeps it itself.
void SetNeedsReboot(ScriptInterpreter& k) {
  k.reboot_needed = true;
  for (ScriptInterpreter::Pair& pair : k.variables) {
    if (pair.name == "NEEDS_RE_BOOT") {
      pair.value = "TRUE";
      return;
    }
  }
  k.variables.push_back({"NEEDS_RE_BOOT", "TRUE"});
}

// Begins with a drive letter, a colon and a separator, or with a separator.
bool IsFullPath(const std::string& path) {
  if (!path.empty() && winpath::IsSeparator(path[0])) return true;
  return path.size() >= 3 && winpath::HasDriveLetter(path) && winpath::IsSeparator(path[2]);
}

void LogRefused(ScriptInterpreter& k, uint32_t error) {
  k.LogF("# ... boot-time move refused by the system, error %d[0x%x]; scheduling through the "
         "initialisation file is not available\n",
         static_cast<int>(error), error);
}

}  // namespace

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

  if (destination_in) {
    std::string destination = *destination_in;
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

    if (!platform.shell.MoveAtBoot(destination, std::string())) {
      uint32_t error = LastError();
      boot_moves = 0;
      Log("# ... delete temp file used for copy\n");
      platform.files.SetAttributes(copy, kAttrNormal);
      platform.files.DeleteFile(copy);
      LogRefused(*this, error);
      return false;
    }
    boot_moves = 1;
    // The destination goes at the next start from here on.
    SetNeedsReboot(*this);
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

  if (!IsFullPath(source)) {
    source = Format("%s\\%s", platform.files.CurrentFolder().c_str(), source.c_str());
    Log("# add full source path for removal...\n");
    LogF("# ... <%s>\n", source.c_str());
  }
  if (!platform.shell.MoveAtBoot(source, std::string())) {
    uint32_t error = LastError();
    boot_moves = 0;
    LogRefused(*this, error);
    return false;
  }
  boot_moves = 1;
  SetNeedsReboot(*this);
  LogF("# OS MoveFileEx <%s> --> <NULL> OK\n", source.c_str());
  return true;
}

bool ScriptInterpreter::DeleteOnBoot(const std::string& path) { return MoveOnBoot(path, nullptr); }

}  // namespace crx::interp
