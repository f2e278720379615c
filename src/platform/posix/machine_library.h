// The machine library: the emulated machine's code as a shared library that
// the self-extractor stubs load from the machine they run on.
//
// A stub travels inside every archive, so it may carry no run path and
// needs nothing from the tree it was built in. The machine's code is too
// large to link into a stub of its fixed size; instead every program of
// the tools that opens a machine keeps a private copy of the library of its
// build in the machine folder (lib/ below it, a folder only its owner may
// change), and a stub loads that copy, after checking that only the user
// could have put it there. The library exports one C entry point returning
// the table below; a stub refuses a library of another interface version.
#ifndef CRX_PLATFORM_POSIX_MACHINE_LIBRARY_H
#define CRX_PLATFORM_POSIX_MACHINE_LIBRARY_H

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace crx {

// The library's file name, in the folder kMachineLibraryFolder of the machine.
inline constexpr char kMachineLibraryFile[] = "libcrx_stub_machine.so";
inline constexpr char kMachineLibraryFolder[] = "lib";
// The name of the C entry point.
inline constexpr char kMachineEntryName[] = "crx_machine_entry";

// What the library offers a stub. `interface` comes first and keeps its
// place: it names the version of everything after it (and of platform.h),
// and a stub compares it before touching anything else.
struct MachineEntry {
  const char* interface;
  std::unique_ptr<HostPlatform> (*open_host_platform)(std::string* error);
  std::string (*host_to_windows_path)(const std::string& host_path);
  std::string (*windows_to_host_path)(const std::string& windows_path);
  uint32_t (*last_error)();
  void (*set_last_error)(uint32_t code);
};

// Puts a copy of the library file `source` into the machine folder's
// lib/ (created with mode 0700) unless an identical copy is there. The copy
// keeps the source's modification time, and one with the source's size and
// time counts as identical unread. The copy is written under a temporary
// name and renamed into place, so a stub never loads a half-written file.
// False with *error when it cannot.
bool InstallMachineLibrary(const std::string& machine_folder, const std::string& source,
                           std::string* error);

// Checks that machine_folder, its lib/ and the library in it belong to the
// user and that neither group nor others may change them, then loads the
// library from the descriptor that was checked and returns its entry
// table. nullptr with *error (naming the path and what is wrong) when the
// library is missing, unsafe, unloadable or of another interface version.
const MachineEntry* LoadMachineLibrary(const std::string& machine_folder,
                                       const std::string& interface, std::string* error);

}  // namespace crx

extern "C" __attribute__((visibility("default"))) const crx::MachineEntry* crx_machine_entry();

#endif  // CRX_PLATFORM_POSIX_MACHINE_LIBRARY_H
