// The parts of the emulated machine's platform, built by OpenHostPlatform.
#ifndef CRX_PLATFORM_POSIX_POSIX_PLATFORM_H
#define CRX_PLATFORM_POSIX_POSIX_PLATFORM_H

#include <memory>

#include "platform/platform.h"
#include "platform/posix/machine.h"

namespace crx {

std::unique_ptr<FileSystem> NewPosixFileSystem(Machine& machine);
std::unique_ptr<Environment> NewPosixEnvironment(Machine& machine);
std::unique_ptr<Processes> NewPosixProcesses(Machine& machine, FileSystem& files,
                                             Environment& environment);
std::unique_ptr<Clock> NewPosixClock();
std::unique_ptr<Terminal> NewPosixTerminal();
std::unique_ptr<Shell> NewPosixShell(Machine& machine, Registry& registry, FileSystem& files,
                                     Environment& environment);

// Sets the last error and returns false, the failure path of most calls.
inline bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_POSIX_PLATFORM_H
