// Where the emulated machine lives. A file of its own: the self-extractor
// stubs find the machine (and the machine library inside it) with it
// before any of the machine's code is loaded.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/machine.h"

namespace crx {

std::string Machine::DefaultFolder() {
  const char* named = std::getenv("CRX_MACHINE");
  if (named && *named) return named;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) return std::string(data) + "/cratex/machine";
  const char* home = std::getenv("HOME");
  std::string base = home && *home ? home : "";
  if (base.empty()) {
    struct passwd* pw = ::getpwuid(::getuid());
    if (pw && pw->pw_dir) base = pw->pw_dir;
  }
  return base + "/.local/share/cratex/machine";
}

}  // namespace crx
