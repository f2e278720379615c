// The bytes of a shell shortcut (.LNK) in the documented shell link binary
// format, for the emulated machine, which has no shell to write them. The
// writer does no I/O: the caller gathers what it knows about the target and
// writes the result where the link goes.
//
// What is written: the 76-byte header (the shell link class identifier, the
// target's attributes, times and size, show-normal), a LinkInfo that names
// the target by its volume and local base path (or, for a "\\\\server\\share"
// path, by its network share and the path below it), then the description
// and the working folder as ANSI strings, and the terminal block. No item
// identifier list: readers find the target through the LinkInfo.
#ifndef CRX_PLATFORM_POSIX_SHELL_LINK_H
#define CRX_PLATFORM_POSIX_SHELL_LINK_H

#include <cstdint>
#include <string>

#include "common/filetime.h"

namespace crx {

struct ShellLinkData {
  std::string target;          // full Windows path of the target
  std::string description;     // empty: no description string
  std::string working_folder;  // empty: no working folder string
  // What the target's volume and file look like (zero when unknown).
  uint32_t drive_type = 0;     // DRIVE_* (3 fixed)
  uint32_t drive_serial = 0;
  std::string volume_label;
  uint32_t attributes = 0;     // FILE_ATTRIBUTE_*
  FileTime write_time = 0;
  uint64_t size = 0;
};

// The link file's bytes. False when a text is too long for the format's
// 16-bit character counts.
bool BuildShellLink(const ShellLinkData& data, std::string* bytes);

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_SHELL_LINK_H
