// The entry point the setup launcher and the uninstall starter share: open
// the platform and the user interface, run the program's part, end with its
// status. On Linux their messages are lines on the error stream.
#ifndef CRX_PROGRAMS_LAUNCHER_MAIN_H
#define CRX_PROGRAMS_LAUNCHER_MAIN_H

#include <cstdio>
#include <memory>
#include <string>

#include "engine/user_interface.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "ui/service.h"

namespace crx {

using LauncherPart = int (*)(Platform& platform, UserInterface& ui, const std::string& arguments);

inline int LauncherMain(const char* name, LauncherPart run) {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    return launcher::kLauncherFailed;
  }
  Platform& platform = host->Get();
  std::unique_ptr<ui::UserInterfaceService> service =
      ui::StartUserInterface(platform, ui::UserInterfaceOptions{}, &error);
  if (!service) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    return launcher::kLauncherFailed;
  }
#ifdef _WIN32
  UserInterface& ui = *service;
#else
  ui::TerminalNotices notices(platform.terminal, *service, name);
  UserInterface& ui = notices;
#endif
  return run(platform, ui, platform.processes.CommandLineTail());
}

}  // namespace crx

#endif  // CRX_PROGRAMS_LAUNCHER_MAIN_H
