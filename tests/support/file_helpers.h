// Small helpers the tests share: a whole file written or read through a
// platform's FileSystem, and a program run to its end through Processes.
// They report failure by their result and never assert, so each test keeps
// its own assertions and messages.
#ifndef CRX_TESTS_SUPPORT_FILE_HELPERS_H
#define CRX_TESTS_SUPPORT_FILE_HELPERS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace crx::test {

// Creates path (or empties it) and writes data as its whole content. False
// when the file cannot be opened or written.
inline bool WriteWholeFile(FileSystem& files, const std::string& path, const std::string& data) {
  std::unique_ptr<File> f =
      files.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  return f != nullptr && f->Write(data.data(), data.size());
}

// The whole content of path, or missing when it cannot be opened. share is
// what other handles may do meanwhile: a file another handle has open for
// writing cannot be read with kShareRead alone.
inline std::string ReadWholeFile(FileSystem& files, const std::string& path,
                                 const std::string& missing = "<missing>",
                                 uint32_t share = kShareRead | kShareWrite) {
  std::unique_ptr<File> f = files.Open(path, kAccessRead, share, Disposition::kOpenExisting);
  if (!f) return missing;
  std::string data;
  char buffer[8192];
  size_t got = 0;
  while (f->Read(buffer, sizeof buffer, &got) && got > 0) data.append(buffer, got);
  return data;
}

// Starts command_line and waits up to timeout_ms for it to end; its exit
// code, or -1 when it did not start, did not end in time (it is then ended
// with exit code 1) or its exit code could not be read.
inline int RunAndWait(Processes& processes, const std::string& command_line,
                      const StartOptions& options, uint32_t timeout_ms) {
  std::unique_ptr<Process> process = processes.Start(command_line, options);
  if (!process) {
    // Says why, for a start that fails only now and then.
    std::fprintf(stderr, "could not start %s: error %u\n", command_line.c_str(),
                 static_cast<unsigned>(LastError()));
    return -1;
  }
  if (process->Wait(timeout_ms) != WaitResult::kDone) {
    process->Terminate(1);
    return -1;
  }
  uint32_t code = 0;
  return process->ExitCode(&code) ? static_cast<int>(code) : -1;
}

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_FILE_HELPERS_H
