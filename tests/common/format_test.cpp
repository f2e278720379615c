#include "common/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>

namespace crx {
namespace {

// Format writes what snprintf writes, for the conversions it does itself
// and for those it leaves to the C library, at the limits of every size.
#define EXPECT_AS_PRINTF(...)                               \
  do {                                                      \
    char expected[512];                                     \
    std::snprintf(expected, sizeof expected, __VA_ARGS__);  \
    EXPECT_EQ(std::string(expected), Format(__VA_ARGS__));  \
  } while (0)

TEST(Format, WritesWhatPrintfWrites) {
  EXPECT_AS_PRINTF("plain text, no conversion");
  EXPECT_AS_PRINTF("%s|%s|%c%c|100%%", "a", "", 'x', '\'');
  EXPECT_AS_PRINTF("%d %d %d %i", 0, -1, INT_MIN, INT_MAX);
  EXPECT_AS_PRINTF("%u %u", 0u, UINT_MAX);
  EXPECT_AS_PRINTF("%ld %ld %lu", LONG_MIN, LONG_MAX, ULONG_MAX);
  EXPECT_AS_PRINTF("%lld %lld %llu", LLONG_MIN, LLONG_MAX, ULLONG_MAX);
#if !defined(_WIN32)  // the Windows C library's format checks know no %zu
  EXPECT_AS_PRINTF("%zu <%s>", static_cast<size_t>(SIZE_MAX), "end");
#endif
  EXPECT_AS_PRINTF("# <%s> REF COUNT = %d\n", "C:\\Program Files\\x.dll", 7);
  // Widths, precision, flags and other conversions go to the C library.
  EXPECT_AS_PRINTF("%5d|%-4s|%.2s|%08x|%X|%02u", 42, "ab", "abcdef", 0xbeefu, 255u, 7u);
  EXPECT_AS_PRINTF("%p %% %s", static_cast<void*>(nullptr), "after");
  // ... also after plain conversions, which are then written once only.
  EXPECT_AS_PRINTF("%s then %d then %5.1f", "text", -3, 2.5);
  // A long result, and appending to what is there.
  std::string long_text(1000, 'q');
  EXPECT_EQ(long_text + "=5", Format("%s=%d", long_text.c_str(), 5));
  std::string out = "head ";
  AppendFormat(&out, "%s %lu", "tail", 3ul);
  EXPECT_EQ("head tail 3", out);
}

}  // namespace
}  // namespace crx
