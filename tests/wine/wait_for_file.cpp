// wait_for_file: a tiny Windows console program for the wine tests. It
// waits until a file exists, or until a number of seconds has passed, and
// then ends with exit status 0 either way; a test runs it from a builder
// script's "!!" line to hold the builder at that line (its feedback window
// open) until the test has looked at it and creates the file.
//
//   wait_for_file FILE [SECONDS]      (60 seconds when not given)
//
// Exit status 2 for a usage error. Only the C run-time and Win32 are used.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: wait_for_file FILE [SECONDS]\n", stderr);
    return 2;
  }
  long seconds = 60;
  if (argc == 3) {
    char* end = nullptr;
    seconds = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || seconds < 0 || seconds > 86400) {
      std::fprintf(stderr, "wait_for_file: '%s' is not a number of seconds\n", argv[2]);
      return 2;
    }
  }
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (!Exists(argv[1])) {
    if (GetTickCount64() >= deadline) {
      std::fprintf(stderr, "wait_for_file: %s did not appear within %ld seconds\n", argv[1],
                   seconds);
      return 0;
    }
    Sleep(100);
  }
  return 0;
}
