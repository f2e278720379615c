// FILETIME and SYSTEMTIME values and their conversions. A FileTime is the
// Windows count of 100-nanosecond intervals since 1 January 1601 (UTC),
// kept as one 64-bit number; SystemTime has the fields of SYSTEMTIME.
#ifndef CRX_COMMON_FILETIME_H
#define CRX_COMMON_FILETIME_H

#include <cstdint>

namespace crx {

using FileTime = uint64_t;

struct SystemTime {
  uint16_t year = 1601;
  uint16_t month = 1;         // 1-12
  uint16_t day_of_week = 1;   // 0 = Sunday
  uint16_t day = 1;           // 1-31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// Intervals between 1601-01-01 and 1970-01-01.
inline constexpr FileTime kUnixEpochAsFileTime = 116444736000000000ULL;

// FileTimeToSystemTime; fails for values past year 30827 (high bit set).
bool FileTimeToSystemTime(FileTime time, SystemTime* out);
// SystemTimeToFileTime; ignores day_of_week and fails on invalid fields
// (month 13, 30 February, hour 24, ...).
bool SystemTimeToFileTime(const SystemTime& time, FileTime* out);

// Unix seconds and nanoseconds to FileTime and back (rounding down to whole
// 100 ns). Times before 1601 cannot be represented and clamp to 0.
FileTime UnixToFileTime(int64_t seconds, uint32_t nanoseconds = 0);
int64_t FileTimeToUnixSeconds(FileTime time);
uint32_t FileTimeSubsecondNanos(FileTime time);

// The two 32-bit halves, as FILETIME's dwLowDateTime/dwHighDateTime.
inline uint32_t FileTimeLow(FileTime t) { return static_cast<uint32_t>(t); }
inline uint32_t FileTimeHigh(FileTime t) { return static_cast<uint32_t>(t >> 32); }
inline FileTime MakeFileTime(uint32_t low, uint32_t high) {
  return (static_cast<FileTime>(high) << 32) | low;
}

// CompareFileTime: -1, 0 or 1.
inline int CompareFileTime(FileTime a, FileTime b) { return a < b ? -1 : a > b ? 1 : 0; }

}  // namespace crx

#endif  // CRX_COMMON_FILETIME_H
