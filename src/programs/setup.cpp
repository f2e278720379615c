// setup: the setup launcher. Starts the interpreter Kestrova.exe from the
// current folder with this program's own arguments, waits for it and ends
// with its exit status (1 when it cannot be found or started).
#include "launcher/launcher.h"
#include "programs/launcher_main.h"

int main() { return crx::LauncherMain("setup", crx::launcher::RunSetupLauncher); }
