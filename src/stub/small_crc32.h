// CRC-32 (the polynomial and conventions of zlib's crc32) from a 1 KB table
// made on first use. The Windows stubs use it in place of zlib's own, whose
// precomputed tables would take about 12 KB of every stub.
#ifndef CRX_STUB_SMALL_CRC32_H
#define CRX_STUB_SMALL_CRC32_H

#include <cstddef>
#include <cstdint>

namespace crx::stub {

// The same value as zlib's crc32(crc, data, size); crc32(x, null, 0) is 0.
uint32_t SmallCrc32(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace crx::stub

#endif  // CRX_STUB_SMALL_CRC32_H
