// Paths given on a command-line tool's command line. On Windows they are
// the machine's own paths; on Linux, where the programs run on the
// emulated machine, a host path ("/home/me/x", "build/a.exe") is turned
// into the emulated machine's path for it, and a Windows path ("C:\x",
// "\x", anything with a back-slash) is taken as it is.
#ifndef CRX_PROGRAMS_MACHINE_PATH_H
#define CRX_PROGRAMS_MACHINE_PATH_H

#include <string>

#ifndef _WIN32
#include "platform/posix/host_paths.h"
#endif

namespace crx {

inline std::string MachinePath(const std::string& arg) {
#ifdef _WIN32
  return arg;
#else
  bool windows = arg.find('\\') != std::string::npos || (arg.size() >= 2 && arg[1] == ':');
  if (windows) return arg;
  std::string translated = HostToWindowsPath(arg);
  return translated.empty() ? arg : translated;
#endif
}

}  // namespace crx

#endif  // CRX_PROGRAMS_MACHINE_PATH_H
