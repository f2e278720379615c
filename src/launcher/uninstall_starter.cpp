#include "launcher/uninstall_starter.h"

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "launcher/launcher.h"
#include "platform/platform.h"

namespace crx::launcher {

namespace {

constexpr const char* kCaption = "Uninstall";
constexpr const char* kSilentPrefix = "/sms:";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

UninstallArguments ParseUninstallArguments(const std::string& arguments) {
  UninstallArguments parsed;
  std::string rest = TrimBlanks(arguments);
  if (rest.compare(0, 5, kSilentPrefix) == 0) {
    size_t end = 0;
    while (end < rest.size() && rest[end] != ' ') ++end;
    parsed.silent_option = rest.substr(0, end);
    rest = TrimBlanks(rest.substr(end));
  }
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
    rest = rest.substr(1, rest.size() - 2);
  }
  parsed.folder = rest;
  return parsed;
}

std::string UninstallInterpreterArguments(const std::string& silent_option) {
  if (silent_option.empty()) return kUninstallScript;
  return silent_option + " " + kUninstallScript;
}

int RunUninstallStarter(Platform& platform, UserInterface& ui, const std::string& arguments) {
  UninstallArguments parsed = ParseUninstallArguments(arguments);
  std::string folder = parsed.folder;
  if (folder.empty()) folder = winpath::Parent(platform.processes.ProgramPath());

  // "/sms:silent" stays as it is; a response file is the word after the
  // prefix, and the interpreter looks a relative one up from its own
  // current folder, which is about to change.
  std::string silent_option = parsed.silent_option;
  const std::string response = silent_option.size() > 5 ? silent_option.substr(5) : "";
  if (!response.empty() && response != "silent" && winpath::Root(response).empty()) {
    silent_option = kSilentPrefix + platform.files.FullPath(response);
  }

  if (!platform.files.SetCurrentFolder(folder)) {
    const uint32_t error = LastError();
    ui.MessageBox(Format("Uninstall Error...\n\nCan't change to the uninstall folder\n<%s>\n"
                         "error %d [0x%x]\n\nTHE APPLICATION MAY ALREADY HAVE BEEN REMOVED",
                         folder.c_str(), static_cast<int>(error), error),
                  kCaption, kMbOk);
    return kLauncherFailed;
  }
  if (!platform.files.IsFile(kInterpreterProgram)) {
    ui.MessageBox(Format("Uninstall Error...\n\nCan't find program <%s>\n(uninstall folder: <%s>)"
                         "\n\nTHE UNINSTALL FOLDER DOES NOT CONTAIN\nALL THE REQUIRED FILES",
                         kInterpreterProgram, platform.files.CurrentFolder().c_str()),
                  kCaption, kMbOk);
    return kLauncherFailed;
  }
  return RunSetupLauncher(platform, ui, UninstallInterpreterArguments(silent_option));
}

}  // namespace crx::launcher
