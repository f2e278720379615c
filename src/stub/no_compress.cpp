// A stub only reads archives, but the archive engine it links also holds
// the writing half, whose compression would pull zlib's whole deflate side
// (about 35 KB) into every stub. The 64-bit Windows linker cannot drop it
// by itself: it keeps every function that carries unwind data, and zlib's
// do. This stand-in takes the place of zlib's compress in the Windows stub
// programs (src/programs/stubs.cmake) and reports that the buffer cannot be
// compressed, so a stub that were ever asked to write an archive would
// report the failure like any other compression error.
#include <zlib.h>

extern "C" int ZEXPORT compress(Bytef*, uLongf*, const Bytef*, uLong) { return Z_MEM_ERROR; }
