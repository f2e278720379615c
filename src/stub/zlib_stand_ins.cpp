// Small stand-ins for three zlib functions in the Windows stub programs
// (src/programs/stubs.cmake), which link zlib statically. The 64-bit
// Windows linker cannot drop unused zlib code by itself: it keeps every
// function that carries unwind data, and zlib's do.
//
// compress: a stub only reads archives, so deflate (about 35 KB) has no
// use in it; should a stub ever be asked to write an archive, the stand-in
// reports that the buffer cannot be compressed, which the engine reports
// like any other compression error.
//
// crc32: the same checksum from a table made at run time (about 12 KB less
// than zlib's precomputed tables).
//
// adler32: the checksum inflate keeps of what it decoded, as a plain loop
// (zlib's unrolled one takes about 2 KB). It reduces the sums once every
// 5552 bytes, the most that cannot overflow 32 bits, as zlib does.
#include <zlib.h>

#include "stub/small_crc32.h"

extern "C" int ZEXPORT compress(Bytef*, uLongf*, const Bytef*, uLong) { return Z_MEM_ERROR; }

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
  return crx::stub::SmallCrc32(static_cast<uint32_t>(crc), buf, len);
}

extern "C" uLong ZEXPORT adler32(uLong adler, const Bytef* buf, uInt len) {
  if (buf == Z_NULL) return 1;
  constexpr uint32_t kBase = 65521;  // the largest prime below 65536
  constexpr uInt kBlock = 5552;
  uint32_t a = static_cast<uint32_t>(adler & 0xFFFF);
  uint32_t b = static_cast<uint32_t>((adler >> 16) & 0xFFFF);
  while (len > 0) {
    const uInt n = len < kBlock ? len : kBlock;
    len -= n;
    for (uInt i = 0; i < n; ++i) {
      a += *buf++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  return (static_cast<uLong>(b) << 16) | a;
}
