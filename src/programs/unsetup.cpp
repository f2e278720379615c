// unsetup: the uninstall starter an installation registers as the command
// that removes it. Given the quoted uninstall folder (after an optional
// "/sms:" form), it starts Kestrova.exe there on uninstall.txt, waits for
// it and ends with its exit status (1 when it cannot be found or started).
#include <cstdio>
#include <memory>
#include <string>

#include "engine/user_interface.h"
#include "launcher/launcher.h"
#include "launcher/uninstall_starter.h"
#include "platform/platform.h"
#include "ui/service.h"

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#endif

namespace crx {
namespace {

int Main() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    std::fprintf(stderr, "unsetup: %s\n", error.c_str());
    return launcher::kLauncherFailed;
  }
  Platform& platform = host->Get();
  std::unique_ptr<ui::UserInterfaceService> service =
      ui::StartUserInterface(platform, ui::UserInterfaceOptions{}, &error);
  if (!service) {
    std::fprintf(stderr, "unsetup: %s\n", error.c_str());
    return launcher::kLauncherFailed;
  }
#ifdef _WIN32
  UserInterface& ui = *service;
#else
  // On Linux the starter's messages are lines on the error stream.
  ui::TerminalNotices notices(platform.terminal, *service, "unsetup");
  UserInterface& ui = notices;
#endif
  return launcher::RunUninstallStarter(platform, ui, platform.processes.CommandLineTail());
}

}  // namespace
}  // namespace crx

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return crx::Main(); }
#else
int main() { return crx::Main(); }
#endif
