#include "stub/small_crc32.h"

namespace crx::stub {

namespace {

// The table lives in zero-initialised data, which takes no room in the
// program file. Only the stub's main thread computes checksums.
uint32_t table[256];
bool table_ready = false;

void MakeTable() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  table_ready = true;
}

}  // namespace

uint32_t SmallCrc32(uint32_t crc, const uint8_t* data, size_t size) {
  if (data == nullptr) return 0;
  if (!table_ready) MakeTable();
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

}  // namespace crx::stub
