// The removal an installation's uninstall script makes, run as another run
// of the interpreter would: the script from its `uninstalling` line on (the
// window lines in front of it only set the window's look) is written as
// removal.txt into the current folder and run there by a new interpreter,
// whose log goes to a temporary folder of its own (the installation's run
// may keep its log open). TMP and TEMP are put back afterwards.
#ifndef CRX_TESTS_SUPPORT_REMOVAL_RUN_H
#define CRX_TESTS_SUPPORT_REMOVAL_RUN_H

#include <string>

#include "interpreter/script_interpreter.h"
#include "support/file_helpers.h"
#include "support/scoped_settings.h"

namespace crx::test {

struct RemovalRun {
  bool started = false;  // false: the script has no `uninstalling` line or a file failed
  int exit_code = -1;
  bool uninstalling = false;  // the run marked itself as an uninstallation
  bool reboot_needed = false;  // it left work to the next start
  std::string log;
};

// mode is the run's silent-mode word ("/sms:silent" or "/sms:<answers>");
// log_folder must not exist yet.
inline RemovalRun RunRemoval(Platform& platform, ui::FrontEnd& front_end,
                             interp::InterpreterHost& host, const std::string& uninstall_script,
                             const std::string& log_folder, const std::string& mode) {
  RemovalRun run;
  const size_t from = uninstall_script.find("\nuninstalling\n");
  if (from == std::string::npos) return run;
  const std::string removal = platform.files.CurrentFolder() + "\\removal.txt";
  if (!WriteWholeFile(platform.files, removal, uninstall_script.substr(from))) return run;
  if (!platform.files.CreateFolder(log_folder)) return run;
  ScopedEnvironment environment(platform.environment);
  if (!environment.Set("TMP", log_folder) || !environment.Set("TEMP", log_folder)) return run;
  run.started = true;
  interp::ScriptInterpreter uninstaller(platform, front_end, host);
  run.exit_code = uninstaller.Run(mode + " removal.txt").exit_code;
  uninstaller.FlushLog();
  run.uninstalling = uninstaller.uninstalling;
  run.reboot_needed = uninstaller.reboot_needed;
  run.log = ReadWholeFile(platform.files, log_folder + "\\Kestrova.log");
  return run;
}

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_REMOVAL_RUN_H
