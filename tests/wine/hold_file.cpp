// hold_file: a tiny Windows console program for the wine tests. It opens a
// file and shares nothing (no reading, writing or deleting by others), as
// a program that has a library in use, says "holding" on its standard
// output, and keeps the file open until a release file exists or a number
// of seconds has passed.
//
//   hold_file FILE RELEASE [SECONDS]      (120 seconds when not given)
//
// Exit status 0 after holding the file, 1 when it cannot be opened, 2 for
// a usage error. Only the C run-time and Win32 are used.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fputs("usage: hold_file FILE RELEASE [SECONDS]\n", stderr);
    return 2;
  }
  long seconds = 120;
  if (argc == 4) {
    char* end = nullptr;
    seconds = std::strtol(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0' || seconds < 0 || seconds > 86400) {
      std::fprintf(stderr, "hold_file: '%s' is not a number of seconds\n", argv[3]);
      return 2;
    }
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  std::puts("holding");
  std::fflush(stdout);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES &&
         GetTickCount64() < deadline) {
    Sleep(100);
  }
  CloseHandle(file);
  return 0;
}
