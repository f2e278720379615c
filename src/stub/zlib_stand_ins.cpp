// Small stand-ins for two zlib functions in the Windows stub programs
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
#include <zlib.h>

#include "stub/small_crc32.h"

extern "C" int ZEXPORT compress(Bytef*, uLongf*, const Bytef*, uLong) { return Z_MEM_ERROR; }

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
  return crx::stub::SmallCrc32(static_cast<uint32_t>(crc), buf, len);
}
