// The guards of installations and removals: oktoinstall and oktoinstallex
// (is this version, or another one, installed already?), uninstalling,
// oktouninstall and oktouninstallex (the confirmation an uninstall script
// asks first), and remove (an installed file, honouring the shared-file
// reference counts).

#include <string>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"
#include "ui/remove_file_dialog.h"

namespace crx::interp {

namespace {

// A response-file answer that says "go on".
bool IsYesAnswer(const std::string& upper) { return upper == "TRUE" || upper == "1"; }

// True when the key exists below HKEY_LOCAL_MACHINE; opened for reading
// only, never created.
bool LocalMachineKeyExists(Registry& registry, const std::string& path) {
  ScopedRegKey key(registry);
  return registry.OpenKey(kHKeyLocalMachine, path, RegAccess::kRead, key.Out()) == kErrorSuccess;
}

// The names of the sub-keys of an HKEY_LOCAL_MACHINE key, in enumeration
// order, separated by single blanks; false when the key does not exist.
bool SubkeyNames(Registry& registry, const std::string& path, std::string* names, int* count) {
  ScopedRegKey key(registry);
  names->clear();
  *count = 0;
  if (registry.OpenKey(kHKeyLocalMachine, path, RegAccess::kRead, key.Out()) != kErrorSuccess) {
    return false;
  }
  std::string name;
  for (uint32_t i = 0; registry.EnumKey(key.Get(), i, &name) == kErrorSuccess; ++i) {
    if (*count > 0) *names += ' ';
    *names += name;
    ++*count;
  }
  return true;
}

// Yes/No asked through the message service; anything but Yes sets the
// cancelled flag.
void AskOrCancel(ScriptInterpreter& k, const std::string& text, uint32_t flags) {
  if (k.Message(text, kMbYesNo | flags) != kIdYes) k.cancelled = true;
}

// oktoinstall and oktoinstallex after their row checks.
bool OkToInstall(ScriptInterpreter& k) {
  if (k.ReportMissingConvention(false)) return false;
  const bool advise = k.cmd.option == "-advise";
  const std::string vendor = k.VariableText("VENDOR");
  const std::string app = k.VariableText("APP");
  const std::string ver = k.VariableText("VER");
  Registry& registry = k.platform.registry;
  const bool installed = LocalMachineKeyExists(
      registry, Format("SOFTWARE\\%s\\%s\\%s", vendor.c_str(), app.c_str(), ver.c_str()));
  const std::string about =
      Format("'%s' version %s, from '%s'\n\nDo you want to continue", app.c_str(), ver.c_str(),
             vendor.c_str());

  if (k.update_mode) {
    k.Log("PROCESSING SOFTWARE UPDATE\n");
    if (installed) {
      AskOrCancel(k, "About to update the following software...\n" + about, kMbIconQuestion);
    } else {
      k.Message(
          "UPDATE ERROR...\n\nThe software you are about to update is not installed!\nThe "
          "software must be installed before it can be updated",
          kMbIconHand);
      k.Log("ERROR: update mode - software not already installed\n");
      k.cancelled = true;
    }
    return true;
  }

  if (installed) {
    if (!advise) {
      k.Message(
          "VERSION CONFLICT...\n\nThe version you are about to install is already "
          "installed!\nYOU MUST UNINSTALL PREVIOUS VERSIONS BEFORE CONTINUING",
          kMbIconHand);
      k.cancelled = true;
      return true;
    }
    if (k.silent_mode.silent()) {
      k.Log("SMSMODE: processing 'oktoinstall -advise'...\n");
      std::string answer;
      if (k.GetResponse("ReinstallIfPresent", &answer) &&
          IsYesAnswer(winpath::ToUpperAscii(answer))) {
        k.Log("SMSMODE: 'oktoinstall -advise' ReinstallIfPresent=TRUE\n");
        return true;
      }
      k.Log("SMSMODE: 'oktoinstall -advise' no response file entry, default used\n");
    }
    AskOrCancel(k,
                "WARNING...\n\nThe version you are about to install is already installed!\nYou "
                "are recomended to uninstall previous versions before\ncontinuing.\n\nDO YOU "
                "WANT TO CONTINUE WITH THE INSTALLATION",
                0);
    return true;
  }

  // Other versions of the application.
  std::string names;
  int count = 0;
  if (SubkeyNames(registry, Format("SOFTWARE\\%s\\%s", vendor.c_str(), app.c_str()), &names,
                  &count) &&
      count > 0) {
    const char* word = count == 1 ? "version has" : "versions have";
    if (!advise) {
      k.Message(Format("VERSION CONFLICT...\n\nThe following %s been found on your "
                       "system\n\n'%s'\n\nYOU MUST UNINSTALL PREVIOUS VERSIONS BEFORE CONTINUING.",
                       word, names.c_str()),
                kMbIconHand);
      k.cancelled = true;
    } else {
      AskOrCancel(k,
                  Format("WARNING...\n\nThe following %s been found on your\nsystem\n\n'%s'\n\nYou "
                         "are recomended to uninstall all previous\nversions before "
                         "continuing\n\nDO YOU WANT TO CONTINUE TO INSTALL",
                         word, names.c_str()),
                  0);
    }
  }
  // Asked also after a conflict: a cancelled flag set above stays set
  // whatever the answer.
  AskOrCancel(k, "About to install the following software...\n" + about, 0);
  return true;
}

// A library in the Windows or system folder is shared even when no count
// says so.
bool IsSharedLibrary(ScriptInterpreter& k, const std::string& path) {
  const std::string upper = winpath::ToUpperAscii(path);
  const size_t dot = upper.rfind('.');
  const size_t slash = upper.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  const std::string extension = upper.substr(dot + 1);
  if (extension != "DLL" && extension != "OCX") return false;
  // An unset folder variable matches nothing (an empty text would be found
  // in every path).
  for (const char* name : {"WINDIR", "SYSDIR"}) {
    const std::string folder = winpath::ToUpperAscii(Trimmed(k.VariableText(name)));
    if (!folder.empty() && upper.find(folder) != std::string::npos) return true;
  }
  return false;
}

// Once an unused file is gone, its count names nothing: the value goes
// too, so that an installation and its removal leave the registry as it
// was.
void ForgetRefCount(ScriptInterpreter& k, const std::string& path) {
  Registry& registry = k.platform.registry;
  ScopedRegKey key(registry);
  if (registry.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
                       RegAccess::kAll, key.Out()) != kErrorSuccess) {
    return;
  }
  const long rc = registry.DeleteValue(key.Get(), path);
  k.LogF("# DELETE DLL REF COUNT <%s> (%ld)\n", path.c_str(), rc);
}

}  // namespace

bool ScriptInterpreter::ReportMissingConvention(bool need_home) {
  struct Row {
    const char* name;
    const char* text;
  };
  static const Row kRows[] = {
      {"HOME",
       "ERROR IN SCRIPT CONVETION\nThe variable HOME has not been set.\nNo UNINSTALL-SCRIPT can be "
       "generated without this variable.\nThis variable must name the installation folder.\n"},
      {"VENDOR",
       "ERROR IN SCRIPT CONVETION\nThe variable VENDOR has not been set\nNo UNINSTALL-SCRIPT "
       "can be generated without this variable.\nThis variable must name the application "
       "vendow.\n"},
      {"APP",
       "ERROR IN SCRIPT CONVETION\nThe variable APP has not been set\nNo UNINSTALL-SCRIPT can be "
       "generated without this variable.\nThis variable must name the application.\n"},
      {"VER",
       "ERROR IN SCRIPT CONVETION\nThe variable VER has not been set\nNo UNINSTALL-SCRIPT can be "
       "generated without this variable.\nThis variable must name the application version.\n"},
  };
  for (const Row& row : kRows) {
    if (!need_home && std::string(row.name) == "HOME") continue;
    // A value of blanks only (an empty value is stored as one blank) is
    // not set.
    if (Trimmed(VariableText(row.name)).empty()) {
      Message(row.text, kMbIconHand);
      return true;
    }
  }
  return false;
}

bool ScriptInterpreter::CmdOktoinstall() { return OkToInstall(*this); }

// The extended-confirmation mark is set by the row's first hook, before
// the branch test.
bool ScriptInterpreter::CmdOktoinstallex() { return OkToInstall(*this); }

bool ScriptInterpreter::CmdUninstalling() {
  uninstalling = true;
  return true;
}

bool ScriptInterpreter::CmdOktouninstall() {
  uninstalling = true;
  if (silent_mode.silent()) {
    std::string answer;
    if (GetResponse("oktouninstall", &answer)) {
      answer = winpath::ToUpperAscii(answer);
      LogF("SMSMODE; response to 'oktouninstall' = '%s'\n", answer.c_str());
      if (!IsYesAnswer(answer)) cancelled = true;
    }
    return true;
  }
  if (Message(Format("About to uninstall \"%s\"\n\nDO YOU WANT TO CONTINUE?", cmd.args[0].c_str()),
              kMbYesNo | kMbIconQuestion) == kIdYes) {
    Log("# is ok to uninstall...");
  } else {
    Log("# not ok to uninstall...");
    cancelled = true;
  }
  return true;
}

bool ScriptInterpreter::CmdOktouninstallex() {
  if (silent_mode.silent()) {
    std::string answer;
    if (GetResponse("oktouninstallex", &answer)) {
      answer = winpath::ToUpperAscii(answer);
      LogF("SMSMODE; response to 'oktouninstall' = '%s'\n", answer.c_str());
      if (!IsYesAnswer(answer)) {
        cancelled = true;
        return true;
      }
    }
  }
  return CmdOktouninstall();
}

bool ScriptInterpreter::CmdRemove() {
  // Counts are named by full paths; the file is shown and removed under
  // the same name.
  const std::string path = platform.files.FullPath(cmd.args[0]);
  const int count = SharedRefCount(path);
  if (count >= 2) {
    SetSharedRefCount(path, count - 1);
    return true;
  }
  if (count == 1) {
    SetSharedRefCount(path, 0);
  } else if (count < 0) {
    if (!IsSharedLibrary(*this, path)) return RemoveFile(path);
    LogF("# <%s> is a shared DLL\n", path.c_str());
  }

  // No program uses the file, says the count: remove it, asking first.
  if (remove_answer == kIdNo) return true;
  if (remove_answer != kIdYes) {
    if (silent_mode.silent()) {
      Log("SMSMODE: default response to RemoveFile Dialog = YES-TO-ALL\n");
      remove_answer = kIdYes;
    } else {
      switch (ui::RunRemoveUnusedFileDialog(front_end, path)) {
        case ui::kIdRemoveYes:
          break;
        case ui::kIdRemoveYesToAll:
          remove_answer = kIdYes;
          break;
        case ui::kIdRemoveNoToAll:
          remove_answer = kIdNo;
          return true;
        default:  // No, or nobody could be asked: the file stays
          return true;
      }
    }
  }
  if (!RemoveFile(path)) return false;
  if (count >= 0) ForgetRefCount(*this, path);
  return true;
}

}  // namespace crx::interp
