#include <vector>

#include "platform/platform.h"

namespace crx {

bool CopyFileDataByReading(File& source, File& destination) {
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    size_t got = 0;
    if (!source.Read(buffer.data(), buffer.size(), &got)) return false;
    if (got == 0) return true;
    if (!destination.Write(buffer.data(), got)) return false;
  }
}

}  // namespace crx
