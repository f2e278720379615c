// unsetup: the uninstall starter an installation registers as the command
// that removes it. Given the quoted uninstall folder (after an optional
// "/sms:" form), it starts Kestrova.exe there on uninstall.txt, waits for
// it and ends with its exit status (1 when it cannot be found or started).
#include "launcher/uninstall_starter.h"
#include "programs/launcher_main.h"

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#endif

namespace crx {
namespace {

int Main() { return LauncherMain("unsetup", launcher::RunUninstallStarter); }

}  // namespace
}  // namespace crx

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return crx::Main(); }
#else
int main() { return crx::Main(); }
#endif
