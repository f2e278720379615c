#include <vector>

#include "platform/platform.h"

namespace crx {

bool File::CopyFrom(File& source) {
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    size_t got = 0;
    if (!source.Read(buffer.data(), buffer.size(), &got)) return false;
    if (got == 0) return true;
    if (!Write(buffer.data(), got)) return false;
  }
}

}  // namespace crx
