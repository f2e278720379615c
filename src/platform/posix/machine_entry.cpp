// The machine library's entry point (machine_library.h). Compiled into the
// shared machine library only.
#include "platform/posix/host_paths.h"
#include "platform/posix/machine_library.h"

extern "C" const crx::MachineEntry* crx_machine_entry() {
  static const crx::MachineEntry entry{CRX_MACHINE_INTERFACE, &crx::OpenHostPlatform,
                                       &crx::HostToWindowsPath, &crx::WindowsToHostPath,
                                       &crx::LastError, &crx::SetLastError};
  return &entry;
}
