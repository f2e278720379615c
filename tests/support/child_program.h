// Test programs that start themselves as their child programs: started
// with kChildFlag as its first argument, such a program does one small job
// and exits before any test runs.
#ifndef CRX_TESTS_SUPPORT_CHILD_PROGRAM_H
#define CRX_TESTS_SUPPORT_CHILD_PROGRAM_H

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
// The platform's interface first: <windows.h> defines macros (GetFreeSpace)
// that would rename its members.
#include "platform/platform.h"

#include <windows.h>

#include "common/cmdline.h"
#else
#include <cstdio>
#endif

namespace crx::test {

inline constexpr char kChildFlag[] = "--crx-child";

// True when this program was started with kChildFlag as its first
// argument.
inline bool StartedAsChild() {
#ifdef _WIN32
  std::vector<std::string> args = cmdline::Split(GetCommandLineA());
  return args.size() > 1 && args[1] == kChildFlag;
#else
  FILE* f = std::fopen("/proc/self/cmdline", "rb");
  if (!f) return false;
  char buf[256] = {0};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  size_t first = std::strlen(buf) + 1;
  return first < n && std::strcmp(buf + first, kChildFlag) == 0;
#endif
}

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_CHILD_PROGRAM_H
