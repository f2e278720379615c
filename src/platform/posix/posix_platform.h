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

// Marks an open file description as one that does not share delete
// access (see posix_files.cpp): deleting or renaming the file fails with a
// sharing violation while the description stays open.
bool HoldDeniesDelete(int fd);

// A running program's file cannot be deleted, as on Windows: Processes
// hands each program it starts an open description of the program's file
// that denies delete (its number in CRX_IMAGE_LOCK_FD), and every program
// keeps it, or opens its own, from the moment its platform opens until it
// ends. Called by OpenHostPlatform; does its work once per process.
void LockOwnImage();

// Sets the last error and returns false, the failure path of most calls.
inline bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_POSIX_PLATFORM_H
