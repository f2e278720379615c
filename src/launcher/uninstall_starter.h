// The uninstall starter, unsetup.exe. An installation copies it into the
// folder "uninstall" of the installed application, beside a copy of the
// interpreter and the uninstall script, and registers it as the command
// that removes the application:
//
//   "<HOME>\uninstall\unsetup.exe" "<HOME>\uninstall"
//   unsetup.exe [/sms:silent | /sms:RESPONSEFILE] ["FOLDER"]
//
// It makes that folder the current one, starts the interpreter there on
// "uninstall.txt" (with the "/sms:" form in front when it was given, so an
// uninstallation can run unattended), waits for it and ends with its exit
// status. The starting and waiting are the setup launcher's.
#ifndef CRX_LAUNCHER_UNINSTALL_STARTER_H
#define CRX_LAUNCHER_UNINSTALL_STARTER_H

#include <string>

namespace crx {
struct Platform;
class UserInterface;
}  // namespace crx

namespace crx::launcher {

inline constexpr const char* kUninstallScript = "uninstall.txt";

struct UninstallArguments {
  std::string silent_option;  // "/sms:..." as given, or empty
  std::string folder;         // one pair of surrounding quotes removed
};

// Splits the starter's arguments: an optional leading "/sms:" word (up to
// the first blank, as the interpreter reads it), then the folder: the rest
// without the blanks around it and without one pair of double quotes.
UninstallArguments ParseUninstallArguments(const std::string& arguments);

// The interpreter's arguments: the "/sms:" form (when any) and the script.
std::string UninstallInterpreterArguments(const std::string& silent_option);

// Runs the starter with the text after its program name. Without a folder
// it uses the folder it was started from (its own folder). A response file
// named by a relative path is made absolute against the folder the starter
// was started in, so the interpreter still finds it from the uninstall
// folder. Shows "Uninstall Error..." when the folder cannot be entered or
// holds no interpreter; otherwise returns the interpreter's exit status
// (kLauncherFailed when it could not be started, as the launcher says).
int RunUninstallStarter(Platform& platform, UserInterface& ui, const std::string& arguments);

}  // namespace crx::launcher

#endif  // CRX_LAUNCHER_UNINSTALL_STARTER_H
