// The platform entry points of a self-extractor stub on Linux. The stub
// links the portable helpers only; the emulated machine's code comes from
// the machine library of the machine it runs on (machine_library.h), loaded
// when the platform is opened. Compiled into the stubs only.
#include <string>

#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine_library.h"

namespace crx {

namespace {

const MachineEntry* g_machine = nullptr;
// The last error before the library is loaded.
thread_local uint32_t t_early_error = 0;

}  // namespace

std::unique_ptr<HostPlatform> OpenHostPlatform(std::string* error) {
  if (!g_machine) {
    std::string message;
    g_machine = LoadMachineLibrary(Machine::DefaultFolder(), CRX_MACHINE_INTERFACE, &message);
    if (!g_machine) {
      *error = "cannot open the emulated machine: " + message;
      return nullptr;
    }
  }
  return g_machine->open_host_platform(error);
}

uint32_t LastError() { return g_machine ? g_machine->last_error() : t_early_error; }

void SetLastError(uint32_t code) {
  if (g_machine)
    g_machine->set_last_error(code);
  else
    t_early_error = code;
}

std::string HostToWindowsPath(const std::string& host_path) {
  return g_machine ? g_machine->host_to_windows_path(host_path) : std::string();
}

std::string WindowsToHostPath(const std::string& windows_path) {
  return g_machine ? g_machine->windows_to_host_path(windows_path) : std::string();
}

}  // namespace crx
