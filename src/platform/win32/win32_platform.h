// Internals of the Win32 platform: <windows.h> made safe to include next to
// platform.h, and the constructors of the interface implementations that
// host.cpp bundles into the host platform.
//
// <windows.h> defines macros that collide with the interface's method names
// (CopyFile -> CopyFileA, LoadLibrary -> LoadLibraryA, and GetFreeSpace as a
// function-like macro). Including this header instead of <windows.h>
// removes them, so code that uses both the Win32 API and the interfaces
// compiles; such code calls the "A" functions by their full names.
#ifndef CRX_PLATFORM_WIN32_WIN32_PLATFORM_H
#define CRX_PLATFORM_WIN32_WIN32_PLATFORM_H

#include <windows.h>

#undef CopyFile
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef GetDriveType
#undef GetFreeSpace
#undef LoadLibrary
#undef CreateFile
#undef GetCurrentDirectory
#undef SetCurrentDirectory

#include <memory>
#include <string>

#include "platform/platform.h"

namespace crx {
namespace win32 {

std::unique_ptr<FileSystem> NewFileSystem();
std::unique_ptr<Registry> NewRegistry();
std::unique_ptr<Processes> NewProcesses();
std::unique_ptr<Environment> NewEnvironment();
std::unique_ptr<Clock> NewClock();
std::unique_ptr<Terminal> NewTerminal();
std::unique_ptr<Shell> NewShell();

// FILETIME <-> FileTime.
inline FileTime FromFiletime(const FILETIME& ft) {
  return MakeFileTime(ft.dwLowDateTime, ft.dwHighDateTime);
}
inline FILETIME ToFiletime(FileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = FileTimeLow(t);
  ft.dwHighDateTime = FileTimeHigh(t);
  return ft;
}

// Calls a Win32 "fill this buffer" function that returns the length it
// wrote (without the terminating zero) or, when the buffer is too small,
// the size it needs (with the zero); 0 means failure. Grows the buffer
// until the text fits. False (LastError set by the call) on failure.
template <typename Fill>
bool FillString(std::string* out, Fill fill) {
  std::string buffer(MAX_PATH + 1, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD capacity = static_cast<DWORD>(buffer.size());
    DWORD n = fill(&buffer[0], capacity);
    if (n == 0) return false;
    if (n < capacity) {
      buffer.resize(n);
      *out = buffer;
      return true;
    }
    // The text grew between the calls or the function reports only the
    // truncated length: try again with more room.
    buffer.resize(n > capacity ? n + 1 : capacity * 2);
  }
  ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return false;
}

}  // namespace win32
}  // namespace crx

#endif  // CRX_PLATFORM_WIN32_WIN32_PLATFORM_H
