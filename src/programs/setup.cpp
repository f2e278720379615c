// setup: the setup launcher. Starts the interpreter Kestrova.exe from the
// current folder with this program's own arguments, waits for it and ends
// with its exit status (1 when it cannot be found or started).
#include <cstdio>
#include <memory>
#include <string>

#include "engine/user_interface.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "ui/service.h"

namespace crx {
namespace {

int Main() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    std::fprintf(stderr, "setup: %s\n", error.c_str());
    return launcher::kLauncherFailed;
  }
  Platform& platform = host->Get();
  std::unique_ptr<ui::UserInterfaceService> service =
      ui::StartUserInterface(platform, ui::UserInterfaceOptions{}, &error);
  if (!service) {
    std::fprintf(stderr, "setup: %s\n", error.c_str());
    return launcher::kLauncherFailed;
  }
#ifdef _WIN32
  UserInterface& ui = *service;
#else
  // On Linux the launcher's two messages are lines on the error stream.
  ui::TerminalNotices notices(platform.terminal, *service, "setup");
  UserInterface& ui = notices;
#endif
  return launcher::RunSetupLauncher(platform, ui, platform.processes.CommandLineTail());
}

}  // namespace
}  // namespace crx

int main() { return crx::Main(); }
