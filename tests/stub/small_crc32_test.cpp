// The stubs' own CRC-32 must give zlib's values exactly: archives carry
// zlib's checksums.
#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "stub/small_crc32.h"

namespace crx {
namespace {

TEST(SmallCrc32, AgreesWithZlib) {
  std::vector<uint8_t> data(3000);
  uint32_t x = 12345;
  for (uint8_t& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  for (size_t size : {size_t{0}, size_t{1}, size_t{7}, size_t{255}, size_t{256}, size_t{3000}}) {
    for (uLong start : {0ul, 1ul, 0xFFFFFFFFul, 0x12345678ul}) {
      EXPECT_EQ(crc32(start, data.data(), static_cast<uInt>(size)),
                stub::SmallCrc32(static_cast<uint32_t>(start), data.data(), size))
          << size << " " << start;
    }
  }
  EXPECT_EQ(0u, stub::SmallCrc32(7, nullptr, 0));
  EXPECT_EQ(0x414FA339u, stub::SmallCrc32(0, reinterpret_cast<const uint8_t*>(
                                                 "The quick brown fox jumps over the lazy dog"),
                                             43));
}

}  // namespace
}  // namespace crx
