#include "common/filetime.h"

namespace crx {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicksPerMillisecond = 10000ULL;
constexpr uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
// The largest value FileTimeToSystemTime accepts (30828-09-14 02:48:05.477).
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochSeconds = 11644473600LL;

bool IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Days from 1601-01-01 to the given date of the proleptic Gregorian
// calendar. 1601 starts a 400-year cycle, which keeps the arithmetic in
// unsigned numbers.
uint64_t DaysSince1601(uint32_t year, uint32_t month, uint32_t day) {
  // Count March as the first month so that the leap day ends the year.
  uint64_t y = year - 1601;
  uint32_t m = month;
  if (m <= 2) {
    // January and February belong to the previous March-based year; for
    // 1601 that is the year 1600, one before our origin, handled by the
    // offset below.
    m += 12;
  } else {
    y += 1;
  }
  // y is now the March-based year counted from 1600.
  uint64_t days_before_year = 365 * y + y / 4 - y / 100 + y / 400;
  uint64_t days_before_month = (153 * (m - 3) + 2) / 5;
  // Days from 1600-03-01 to 1601-01-01: 306.
  return days_before_year + days_before_month + (day - 1) - 306;
}

}  // namespace

bool FileTimeToSystemTime(FileTime time, SystemTime* out) {
  if (time > kMaxFileTime) return false;
  uint64_t days = time / kTicksPerDay;
  uint64_t rest = time % kTicksPerDay;

  // 1601-01-01 was a Monday.
  uint16_t day_of_week = static_cast<uint16_t>((days + 1) % 7);

  // Shift to a March-based calendar starting 1600-03-01, then split into
  // 400-year cycles, centuries, 4-year cycles and years.
  uint64_t d = days + 306;
  uint64_t cycles = d / 146097;
  d %= 146097;
  uint64_t centuries = d / 36524;
  if (centuries == 4) centuries = 3;  // the leap day that ends a cycle
  d -= centuries * 36524;
  uint64_t quads = d / 1461;
  d %= 1461;
  uint64_t years = d / 365;
  if (years == 4) years = 3;  // the leap day that ends a 4-year cycle
  d -= years * 365;
  uint64_t year = 1600 + cycles * 400 + centuries * 100 + quads * 4 + years;
  uint64_t m = (5 * d + 2) / 153;  // 0 = March
  uint64_t day = d - (153 * m + 2) / 5 + 1;
  uint64_t month = m < 10 ? m + 3 : m - 9;
  if (month <= 2) ++year;

  out->year = static_cast<uint16_t>(year);
  out->month = static_cast<uint16_t>(month);
  out->day_of_week = day_of_week;
  out->day = static_cast<uint16_t>(day);
  out->hour = static_cast<uint16_t>(rest / (3600 * kTicksPerSecond));
  rest %= 3600 * kTicksPerSecond;
  out->minute = static_cast<uint16_t>(rest / (60 * kTicksPerSecond));
  rest %= 60 * kTicksPerSecond;
  out->second = static_cast<uint16_t>(rest / kTicksPerSecond);
  rest %= kTicksPerSecond;
  out->milliseconds = static_cast<uint16_t>(rest / kTicksPerMillisecond);
  return true;
}

bool SystemTimeToFileTime(const SystemTime& time, FileTime* out) {
  if (time.year < 1601 || time.month < 1 || time.month > 12 || time.day < 1 ||
      time.day > DaysInMonth(time.year, time.month) || time.hour > 23 ||
      time.minute > 59 || time.second > 59 || time.milliseconds > 999) {
    return false;
  }
  uint64_t days = DaysSince1601(time.year, time.month, time.day);
  uint64_t seconds = days * 86400 + time.hour * 3600ULL + time.minute * 60ULL + time.second;
  // Checked before the multiplication, which would wrap for the last
  // years a uint16_t can name.
  if (seconds > kMaxFileTime / kTicksPerSecond) return false;
  uint64_t result = seconds * kTicksPerSecond + time.milliseconds * kTicksPerMillisecond;
  if (result > kMaxFileTime) return false;
  *out = result;
  return true;
}

FileTime UnixToFileTime(int64_t seconds, uint32_t nanoseconds) {
  seconds += nanoseconds / 1000000000U;
  nanoseconds %= 1000000000U;
  // Clamp to the range a FileTime can hold before multiplying.
  constexpr int64_t kMinSeconds = -kUnixEpochSeconds;
  constexpr int64_t kMaxSeconds =
      static_cast<int64_t>(kMaxFileTime / kTicksPerSecond) - kUnixEpochSeconds;
  if (seconds < kMinSeconds) return 0;
  if (seconds > kMaxSeconds) return kMaxFileTime;
  uint64_t ticks = static_cast<uint64_t>(seconds + kUnixEpochSeconds) * kTicksPerSecond +
                   nanoseconds / 100;
  return ticks > kMaxFileTime ? kMaxFileTime : ticks;
}

int64_t FileTimeToUnixSeconds(FileTime time) {
  return static_cast<int64_t>(time / kTicksPerSecond) - kUnixEpochSeconds;
}

uint32_t FileTimeSubsecondNanos(FileTime time) {
  return static_cast<uint32_t>(time % kTicksPerSecond) * 100;
}

}  // namespace crx
