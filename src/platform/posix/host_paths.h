// Translation between host paths and the emulated machine's Windows paths,
// for entry points that take host paths on a Linux command line. Both work
// on the machine of the platform that is open (OpenHostPlatform); with no
// platform open they return "".
#ifndef CRX_PLATFORM_POSIX_HOST_PATHS_H
#define CRX_PLATFORM_POSIX_HOST_PATHS_H

#include <string>

namespace crx {

// "/home/me/x" -> "Z:\\home\\me\\x"; a path inside a drive's host folder
// goes through the drive with the longest matching folder ("C:\\..." for
// files under the machine's drive_c). A relative path is taken against
// the host's current folder.
std::string HostToWindowsPath(const std::string& host_path);

// "C:\\WINDOWS\\system32" -> the host path, existing elements found
// case-insensitively. "" when the path names nothing on the machine (no
// such drive, no disk in the drive).
std::string WindowsToHostPath(const std::string& windows_path);

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_HOST_PATHS_H
