// record_run: a tiny Windows program for the stub tests, standing in for an
// archive's setup program (or for the interpreter behind the launcher). It
// appends what it was started with to the file named by CRX_RUN_RECORD:
//
//   cmd=<the command line exactly as GetCommandLineA gives it>
//   cwd=<the current folder>
//
// With CRX_RUN_RESTART set (to anything), it also leaves the restart marker
// "__restart_env__.tmp" in the current folder, as an installation that goes
// on after a restart does. Exit status 0, or 1 when the record cannot be
// written (CRX_RUN_RECORD unset counts as that). Only the C run-time and
// Win32 are used. It is a window program without a window, like the
// programs a setup archive runs: a console program started by a window
// program gets a console host process of its own, which under wine keeps
// the folder busy for a moment after the program has ended.
#include <windows.h>

#include <cstdio>

namespace {

bool Variable(const char* name, char* value, DWORD size) {
  const DWORD got = GetEnvironmentVariableA(name, value, size);
  return got > 0 && got < size;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char record[MAX_PATH * 2];
  char folder[MAX_PATH * 2];
  if (!Variable("CRX_RUN_RECORD", record, sizeof record)) return 1;
  const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) folder[0] = '\0';

  char restart[16];
  if (Variable("CRX_RUN_RESTART", restart, sizeof restart)) {
    HANDLE marker = CreateFileA("__restart_env__.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }

  std::FILE* out = std::fopen(record, "ab");
  if (out == nullptr) return 1;
  std::fprintf(out, "cmd=%s\ncwd=%s\n", GetCommandLineA(), folder);
  return std::fclose(out) == 0 ? 0 : 1;
}
