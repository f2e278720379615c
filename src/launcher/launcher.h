// The setup launcher: the program a setup archive names as its setup
// program. The self-extractor starts it in the folder it extracted the
// archive into; the launcher starts the interpreter from that folder with
// its own arguments ("/sms:..." in silent runs), waits until the
// interpreter has ended and ends itself.
#ifndef CRX_LAUNCHER_LAUNCHER_H
#define CRX_LAUNCHER_LAUNCHER_H

#include <string>

namespace crx {
struct Platform;
class UserInterface;
}  // namespace crx

namespace crx::launcher {

inline constexpr const char* kInterpreterProgram = "Kestrova.exe";

// Exit status when the interpreter is missing or cannot be started.
inline constexpr int kLauncherFailed = 1;

// "Kestrova.exe", a blank and the arguments as they are (a single blank
// after the name when there are none).
std::string InterpreterCommandLine(const std::string& arguments);

// Runs the launcher with the text after its program name. Shows "Setup
// Error..." when the interpreter is not in the current folder and "CAN'T
// START INSTALL SCRIPT..." when it cannot be started (both also in silent
// runs); otherwise waits for the interpreter without a time limit, then
// one second more. Returns the interpreter's exit code, or kLauncherFailed.
int RunSetupLauncher(Platform& platform, UserInterface& ui, const std::string& arguments);

}  // namespace crx::launcher

#endif  // CRX_LAUNCHER_LAUNCHER_H
